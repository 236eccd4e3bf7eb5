// The melody editor's work beside its bound, in one run:
//   PitchogramFiveMinutes     the pitchogram of a 5-minute stereo song (a sung-like tone
//                             over noise), one core
//   MaskedFramesRead          the bound: reading every masked frame of both channels,
//                             which any pitchogram of the store has to do
//   TrackTenSeconds           local melody tracking of a 10 s rectangle over the whole
//                             pitch axis, as a drag repeats it (the target is 16 ms)
#include "melody/PitchogramHelper.h"
#include "signal/Asig.h"
#include "tracks/TrackLoader.h"

#include <benchmark/benchmark.h>

#include <juce_audio_formats/juce_audio_formats.h>

using namespace kalder;

namespace
{
constexpr int rate = 44100, seconds = 300;

struct MelodySong
{
    MelodySong()
    {
        auto dir = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("kalder-bench-melody");
        dir.createDirectory();
        const auto wav = dir.getChildFile ("melody.wav");
        if (! wav.existsAsFile())
        {
            juce::AudioBuffer<float> audio (2, rate * seconds);
            juce::Random r (5);
            double phase = 0.0;
            for (int i = 0; i < audio.getNumSamples(); ++i)
            {
                const auto t = (double) i / rate;
                const auto midi = 60.0 + 7.0 * std::floor (std::fmod (t, 4.0)) / 3.0
                                  + 0.4 * std::sin (2.0 * juce::MathConstants<double>::pi * 5.5 * t);
                phase += 2.0 * juce::MathConstants<double>::pi * 440.0 * std::exp2 ((midi - 69.0) / 12.0) / rate;
                double v = 0.0;
                for (int h = 1; h <= 12; ++h)
                    v += std::sin (h * phase) / h;
                for (int c = 0; c < 2; ++c)
                    audio.setSample (c, i, (float) (0.2 * v) + 0.05f * (r.nextFloat() - 0.5f));
            }
            auto stream = std::make_unique<juce::FileOutputStream> (wav);
            juce::WavAudioFormat format;
            std::unique_ptr<juce::AudioFormatWriter> writer (format.createWriterFor (stream.get(), rate, 2, 16, {}, 0));
            stream.release();
            writer->writeFromAudioSampleBuffer (audio, 0, audio.getNumSamples());
        }
        const auto folder = dir.getChildFile ("song");
        folder.deleteRecursively();
        auto result = juce::Result::ok();
        track = TrackLoader::openTrack (wav, folder, "melody", AudioTrack::OriginId::master, nullptr, result);
    }
    AudioTrack::Ptr track;
};

MelodySong& song()
{
    static MelodySong s;
    return s;
}

void PitchogramFiveMinutes (benchmark::State& state)
{
    auto& asig = *song().track->getAsig();
    std::shared_ptr<const PitchogramView> view;
    for (auto _ : state)
        benchmark::DoNotOptimize (view = PitchogramHelper::generatePitchogramMatrix (asig, nullptr));
    state.counters["MB"] = (double) view->getMemoryBytes() / 1.0e6;
}
BENCHMARK (PitchogramFiveMinutes)->Unit (benchmark::kMillisecond)->Iterations (3);

void MaskedFramesRead (benchmark::State& state)
{
    auto& asig = *song().track->getAsig();
    for (auto _ : state)
        for (int c = 0; c < asig.getNumChannels(); ++c)
            for (int f = 0; f < asig.getNumFrames(); f += 64)
                benchmark::DoNotOptimize (asig.readFrames (c, { f, std::min (asig.getNumFrames(), f + 64) }, Asig::MaskUse::mask,
                                                           Asig::SelectionGain::none));
}
BENCHMARK (MaskedFramesRead)->Unit (benchmark::kMillisecond)->Iterations (3);

void TrackTenSeconds (benchmark::State& state)
{
    auto& asig = *song().track->getAsig();
    static const auto view = PitchogramHelper::generatePitchogramMatrix (asig, nullptr);
    const auto columns = 10 * rate / asig.getGeometry().getHop();
    int start = 1000;
    for (auto _ : state)
    {
        benchmark::DoNotOptimize (
            PitchogramHelper::trackMelody (*view, { start, start + columns }, { 0, PitchogramView::numRows }));
        start = (start + 7) % (view->getNumColumns() - columns); // a drag moves the rectangle
    }
}
BENCHMARK (TrackTenSeconds)
    ->Unit (benchmark::kMillisecond)
    ->Repetitions (5)
    ->ComputeStatistics ("max", [] (const std::vector<double>& v) { return *std::max_element (v.begin(), v.end()); });
} // namespace
