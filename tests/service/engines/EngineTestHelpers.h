#pragma once

#include "SyntheticSong.h"
#include "engines/SeparationEngine.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <map>

namespace kalder::test
{

/** Records progress reports; can ask the engine to stop after a number of reports. */
struct RecordingProgress : service::EngineProgress
{
    void report (float fraction, const juce::String& stage) override
    {
        fractions.push_back (fraction);
        stages.add (stage);
    }
    bool shouldStop() const override { return stopAfter >= 0 && (int) fractions.size() >= stopAfter; }

    std::vector<float> fractions;
    juce::StringArray stages;
    int stopAfter = -1;
};

/** Runs a module on an input file and reads its stems back by name. */
struct Separation
{
    juce::Result result = juce::Result::ok();
    std::map<juce::String, juce::AudioBuffer<float>> stems;
    juce::StringArray names;
};

inline Separation separate (const juce::File& input, const juce::File& outputDirectory, service::Module module,
                            std::map<juce::String, juce::var> parameters = {}, const SyntheticSong* guideFrom = nullptr)
{
    service::SeparationSpec spec;
    spec.module = module;
    for (const auto& [name, value] : parameters)
        spec.parameters.set (juce::Identifier (name), value);
    if (guideFrom != nullptr)
    {
        spec.pitchGuide = guideFrom->vocalMidi;
        spec.guideStepSamples = guideFrom->guideStepSamples;
    }
    RecordingProgress progress;
    std::vector<service::StemFile> files;
    Separation s;
    s.result = service::runSeparation (spec, input, outputDirectory, progress, files);
    for (const auto& f : files)
    {
        s.names.add (f.name);
        s.stems[f.name] = readAudioFile (f.file);
    }
    return s;
}

/** A song written to a temporary folder once per test suite. */
struct SongFixture
{
    explicit SongFixture (const SongOptions& options = {}, int bits = 24)
        : song (makeSong (options)), mix (song.mix()), input (dir.get().getChildFile ("mix.wav"))
    {
        writeAudioFile (input, mix, song.sampleRate, bits);
    }

    juce::File output (const juce::String& name) const { return dir.get().getChildFile (name); }

    TemporaryDirectory dir;
    SyntheticSong song;
    juce::AudioBuffer<float> mix;
    juce::File input;
};

inline juce::AudioBuffer<float> difference (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    juce::AudioBuffer<float> d (a);
    for (int c = 0; c < d.getNumChannels(); ++c)
        d.addFrom (c, 0, b, c, 0, std::min (d.getNumSamples(), b.getNumSamples()), -1.0f);
    return d;
}

} // namespace kalder::test
