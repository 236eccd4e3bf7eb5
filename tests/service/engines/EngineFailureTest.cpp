// Bad input, bad requests, cancellation, formats and the streaming itself.

#include "EngineTestHelpers.h"
#include "engines/BlockSeparator.h"
#include "engines/PanEngine.h"

#include <algorithm>
#include <cmath>

using namespace kalder;
using namespace kalder::test;
using service::Module;

namespace
{
int countFiles (const juce::File& dir)
{
    return dir.getNumberOfChildFiles (juce::File::findFiles);
}
} // namespace

TEST (EngineFailureTest, UnreadableInputFailsAndWritesNothing)
{
    TemporaryDirectory dir;
    const auto corrupt = dir.get().getChildFile ("corrupt.wav");
    juce::MemoryBlock noise;
    juce::Random random (7);
    for (int i = 0; i < 4096; ++i)
        noise.append (&i, 1);
    corrupt.replaceWithData (noise.getData(), noise.getSize());
    const auto missing = dir.get().getChildFile ("missing.wav");

    for (const auto& input : { corrupt, missing })
    {
        const auto out = dir.get().getChildFile ("out");
        const auto s = separate (input, out, Module::fourStems);
        EXPECT_TRUE (s.result.failed());
        EXPECT_TRUE (s.stems.empty());
        EXPECT_EQ (countFiles (out), 0);
    }

    // A WAV header that promises more data than the file holds reads as zeros, not a
    // crash: truncation is the reader's business, the stems keep the header's length.
    const auto song = makeSong ({ 1.0 });
    const auto whole = dir.get().getChildFile ("whole.wav");
    writeAudioFile (whole, song.mix(), song.sampleRate, 16);
    juce::MemoryBlock data;
    whole.loadFileAsData (data);
    const auto truncated = dir.get().getChildFile ("truncated.wav");
    truncated.replaceWithData (data.getData(), data.getSize() / 2);
    const auto s = separate (truncated, dir.get().getChildFile ("truncated-out"), Module::drums);
    EXPECT_TRUE (s.result.wasOk());
}

TEST (EngineFailureTest, InvalidRequestsFailBeforeAnyWork)
{
    SongFixture fixture (SongOptions { 1.0 });
    const auto expectFailure = [&] (Module module, std::map<juce::String, juce::var> parameters,
                                    const SyntheticSong* guide = nullptr) {
        const auto out = fixture.output ("out");
        const auto s = separate (fixture.input, out, module, std::move (parameters), guide);
        EXPECT_TRUE (s.result.failed());
        EXPECT_EQ (countFiles (out), 0);
    };
    expectFailure (Module::pan, { { "nSources", 8 } });
    expectFailure (Module::pan, { { "nSources", "two" } });
    expectFailure (Module::vocals, { { "reverbProcess", "Somewhere" } });
    expectFailure (Module::vocals, { { "vocalActivity", "2.0" } });
    expectFailure (Module::vocals, { { "mode", "Guided" } }); // no pitch guide
    expectFailure ((Module) 4, {});
}

TEST (EngineFailureTest, CancellationFailsAndLeavesNoStems)
{
    SongFixture fixture (SongOptions { 3.0 });
    service::SeparationSpec spec;
    spec.module = Module::fourStems;
    RecordingProgress progress;
    progress.stopAfter = 1;
    std::vector<service::StemFile> stems;
    const auto out = fixture.output ("cancelled");
    const auto result = service::runSeparation (spec, fixture.input, out, progress, stems);
    EXPECT_TRUE (result.failed());
    EXPECT_TRUE (stems.empty());
    EXPECT_EQ (countFiles (out), 0);
}

TEST (EngineFailureTest, StemsKeepTheInputFormatAndProgressAdvances)
{
    TemporaryDirectory dir;
    SongOptions options { 1.5, 48000.0 };
    const auto song = makeSong (options);
    juce::AudioBuffer<float> mono (1, song.getNumSamples());
    mono.copyFrom (0, 0, song.mix(), 0, 0, mono.getNumSamples());
    const auto input = dir.get().getChildFile ("mono.wav");
    writeAudioFile (input, mono, 48000.0, 16);

    service::SeparationSpec spec;
    spec.module = Module::fourStems;
    RecordingProgress progress;
    std::vector<service::StemFile> stems;
    ASSERT_TRUE (service::runSeparation (spec, input, dir.get().getChildFile ("out"), progress, stems).wasOk());
    ASSERT_EQ (stems.size(), 4u);
    juce::AudioBuffer<float> sum (1, mono.getNumSamples());
    sum.clear();
    for (const auto& stem : stems)
    {
        double rate = 0.0;
        int bits = 0;
        const auto audio = readAudioFile (stem.file, &rate, &bits);
        EXPECT_EQ (rate, 48000.0);
        EXPECT_EQ (bits, 16);
        ASSERT_EQ (audio.getNumChannels(), 1);
        ASSERT_EQ (audio.getNumSamples(), mono.getNumSamples());
        sum.addFrom (0, 0, audio, 0, 0, sum.getNumSamples());
    }
    // 16-bit stems add up to the 16-bit input exactly: the residual takes the rounding.
    EXPECT_GT (sdrDb (readAudioFile (input), sum), 200.0);

    ASSERT_FALSE (progress.fractions.empty());
    EXPECT_TRUE (std::is_sorted (progress.fractions.begin(), progress.fractions.end()));
    EXPECT_EQ (progress.fractions.back(), 1.0f);
    EXPECT_TRUE (progress.stages.contains ("Modelling drums, bass and repeating accompaniment (segment 1 of 1)"));
}

TEST (EngineFailureTest, SegmentBoundariesAreSeamless)
{
    // The pan engine's masks depend on each bin alone, so its result cannot depend on
    // where the input is cut into segments: any seam, gap or overlap would show.
    SongFixture fixture (SongOptions { 4.0 });
    const auto runWithCore = [&] (double seconds, const juce::String& name) {
        service::PanEngine engine (3, service::PanEngine::Spacing::analysed, service::PanEngine::Masks::sharp);
        RecordingProgress progress;
        service::BlockSeparator separator (engine, progress);
        separator.setCoreSeconds (seconds);
        std::vector<service::StemFile> stems;
        EXPECT_TRUE (separator.run (fixture.input, fixture.output (name), stems).wasOk());
        return stems;
    };
    const auto whole = runWithCore (60.0, "whole");
    const auto pieces = runWithCore (0.3, "pieces"); // 14 segments
    ASSERT_EQ (whole.size(), pieces.size());
    for (size_t i = 0; i < whole.size(); ++i)
    {
        const auto a = readAudioFile (whole[i].file), b = readAudioFile (pieces[i].file);
        ASSERT_EQ (a.getNumSamples(), fixture.mix.getNumSamples());
        EXPECT_GT (sdrDb (a, b), 100.0) << whole[i].name.toRawUTF8();
    }
}

// Hostile but valid input: every module finishes with finite stems in the input's
// format and length, the stems add up to the input, and silence gives silence.
TEST (EngineFailureTest, EveryModuleFinishesOnSilenceTonesClippingDcAndExtremeRates)
{
    struct Input
    {
        const char* name;
        double rate;
        int channels;
        double seconds;
        std::function<float (int channel, int sample, double rate)> sample;
    };
    const auto pi = juce::MathConstants<double>::twoPi;
    const std::vector<Input> inputs {
        { "silence", 44100.0, 2, 2.0, [] (int, int, double) { return 0.0f; } },
        { "single sine", 48000.0, 2, 2.0, [=] (int, int i, double r) { return (float) (0.5 * std::sin (pi * 440.0 * i / r)); } },
        { "clipping square", 44100.0, 2, 2.0,
          [=] (int c, int i, double r) { return std::sin (pi * (110.0 + c) * i / r) >= 0.0 ? 1.0f : -1.0f; } },
        { "dc", 44100.0, 2, 2.0, [] (int c, int, double) { return c == 0 ? 0.5f : -0.25f; } },
        { "mono one second", 44100.0, 1, 1.0,
          [=] (int, int i, double r) { return (float) (0.3 * std::sin (pi * 220.0 * i / r) + 0.1 * std::sin (pi * 3.1 * i)); } },
        { "8 kHz", 8000.0, 2, 2.0,
          [=] (int c, int i, double r) { return (float) (0.4 * std::sin (pi * (300.0 + 200 * c) * i / r)); } },
        { "192 kHz", 192000.0, 2, 1.5, [=] (int, int i, double r) { return (float) (0.4 * std::sin (pi * 1000.0 * i / r)); } },
    };
    const std::vector<std::pair<Module, std::map<juce::String, juce::var>>> modules {
        { Module::drums, {} },     { Module::vocals, {} }, { Module::pan, { { "nSources", 4 } } },
        { Module::other, {} },     { Module::bass, {} },   { Module::allVocals, {} },
        { Module::fourStems, {} },
    };
    for (const auto& in : inputs)
    {
        TemporaryDirectory dir;
        juce::AudioBuffer<float> audio (in.channels, (int) (in.seconds * in.rate));
        for (int c = 0; c < in.channels; ++c)
            for (int i = 0; i < audio.getNumSamples(); ++i)
                audio.setSample (c, i, in.sample (c, i, in.rate));
        const auto input = dir.get().getChildFile ("in.wav");
        ASSERT_TRUE (writeAudioFile (input, audio, in.rate, 24));
        const auto written = readAudioFile (input);
        for (const auto& [module, parameters] : modules)
        {
            SCOPED_TRACE (std::string (in.name) + ", module " + std::to_string ((int) module));
            const auto s = separate (input, dir.get().getChildFile ("out" + juce::String ((int) module)), module, parameters);
            ASSERT_TRUE (s.result.wasOk()) << s.result.getErrorMessage();
            ASSERT_FALSE (s.stems.empty());
            juce::AudioBuffer<float> sum (in.channels, audio.getNumSamples());
            sum.clear();
            for (const auto& [name, stem] : s.stems)
            {
                ASSERT_EQ (stem.getNumChannels(), in.channels) << name;
                ASSERT_EQ (stem.getNumSamples(), audio.getNumSamples()) << name;
                for (int c = 0; c < in.channels; ++c)
                {
                    const auto* x = stem.getReadPointer (c);
                    ASSERT_TRUE (std::all_of (x, x + stem.getNumSamples(), [] (float v) { return std::isfinite (v); })) << name;
                    sum.addFrom (c, 0, stem, c, 0, sum.getNumSamples());
                }
                if (std::string (in.name) == "silence")
                    EXPECT_EQ (stem.getMagnitude (0, stem.getNumSamples()), 0.0f) << name;
            }
            double error = 0.0;
            for (int c = 0; c < in.channels; ++c)
                for (int i = 0; i < sum.getNumSamples(); ++i)
                    error = std::max (error, (double) std::abs (sum.getSample (c, i) - written.getSample (c, i)));
            // A full-scale square's stems overshoot full scale (a mask rings) and clip at
            // the input's integer depth, so only there the sum is not exact.
            if (std::string (in.name) != "clipping square")
                EXPECT_LT (error, 1.0e-5) << "the stems do not add up to the input";
        }
    }
}
