// The engine's hot paths beside their bounds, in one run:
//   BounceEightTracks        MixerBounce of 8 edited stereo tracks (items = audio seconds)
//   IstftEightTracksBound    the same count of inverse FFTs and overlap-adds from memory
//   AudioCallback            the transport's callback with 8 edited tracks while both
//                            cores are busy: p99.9 of its time over the block's period
//   OpenWav / OpenMp3        TrackLoader::openTrack of a 5-minute stereo file
//   FfmpegDecodeWav / Mp3    the ffmpeg tool decoding the same file to nothing (a peer)
#include "signal/OverlapAddSynthesiser.h"
#include "tracks/MixerBounce.h"
#include "tracks/ResamplingSpecTransportSource.h"
#include "tracks/TrackLoader.h"

#include <benchmark/benchmark.h>

#include <juce_audio_formats/juce_audio_formats.h>

#include <thread>

using namespace kalder;

namespace
{
constexpr int rate = 44100;
constexpr int trackSeconds = 30;
constexpr int numTracks = 8;

juce::File benchFolder()
{
    auto dir = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("kalder-bench-engine");
    dir.createDirectory();
    return dir;
}

juce::AudioBuffer<float> noise (int channels, int samples, int seed)
{
    juce::AudioBuffer<float> b (channels, samples);
    juce::Random random (seed);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < samples; ++i)
            b.setSample (c, i, random.nextFloat() - 0.5f);
    return b;
}

bool writeFile (const juce::File& file, const juce::AudioBuffer<float>& audio, int bits)
{
    file.deleteFile();
    auto stream = std::make_unique<juce::FileOutputStream> (file);
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer (
        wav.createWriterFor (stream.get(), rate, (unsigned int) audio.getNumChannels(), bits, {}, 0));
    if (writer == nullptr)
        return false;
    stream.release();
    return writer->writeFromAudioSampleBuffer (audio, 0, audio.getNumSamples());
}

/** Eight analysed stereo tracks with edited masks in one mixer. */
struct EightTracks
{
    EightTracks()
    {
        for (int i = 0; i < numTracks; ++i)
        {
            const auto folder = benchFolder().getChildFile ("track" + juce::String (i));
            folder.deleteRecursively();
            const auto audio = noise (2, rate * trackSeconds, i + 1);
            const auto file = benchFolder().getChildFile ("source" + juce::String (i) + ".wav");
            writeFile (file, audio, 24);
            auto result = juce::Result::ok();
            auto track = TrackLoader::openTrack (file, folder, "t", AudioTrack::OriginId::separation, nullptr, result);
            auto* asig = track->getAsig();
            const auto frames = asig->getNumFrames();
            for (int c = 0; c < 2; ++c)
                asig->setMask (c, { 40, 900 }, { 0, frames }, MaskMatrix::Constant (860, frames, 0.5f));
            if (i == 0)
                mixer.setMasterTrack (track);
            else
                mixer.addTrack (track);
            tracks.push_back (track);
        }
        mixer.setActiveTrack (tracks[1]);
    }

    Mixer mixer;
    std::vector<AudioTrack::Ptr> tracks;
};

EightTracks& eightTracks()
{
    static EightTracks t;
    return t;
}

void BounceEightTracks (benchmark::State& state)
{
    auto& project = eightTracks();
    const auto out = benchFolder().getChildFile ("bounce.wav");
    for (auto _ : state)
        if (MixerBounce::bounceMix (project.mixer, out).failed())
            state.SkipWithError ("bounce failed");
    state.SetItemsProcessed (state.iterations() * trackSeconds);
    state.counters["realtime_x"] = benchmark::Counter ((double) trackSeconds * (double) state.iterations(),
                                                       benchmark::Counter::kIsRate);
}

void IstftEightTracksBound (benchmark::State& state)
{
    const int nfft = 4096;
    const FrameGeometry g { nfft };
    const auto frames = g.getNumFramesForSamples ((juce::int64) rate * trackSeconds);
    CspecMatrix spectrum = CspecMatrix::Random (g.getNumFreqs(), 64); // recycled columns: the bound reads from cache
    std::vector<float> block ((size_t) g.getHop());
    std::vector<std::unique_ptr<OverlapAddSynthesiser>> synths;
    for (int i = 0; i < numTracks * 2; ++i)
        synths.push_back (std::make_unique<OverlapAddSynthesiser> (nfft));

    for (auto _ : state)
        for (int f = 0; f < frames; ++f)
            for (auto& s : synths)
            {
                s->pushFrame (spectrum.col (f % 64).data(), block.data());
                benchmark::DoNotOptimize (block.data());
            }
    state.SetItemsProcessed (state.iterations() * trackSeconds);
    state.counters["realtime_x"] = benchmark::Counter ((double) trackSeconds * (double) state.iterations(),
                                                       benchmark::Counter::kIsRate);
}

void AudioCallback (benchmark::State& state)
{
    auto& project = eightTracks();
    const int blockSize = 512;
    SpecTransportSource transport (project.mixer);
    ResamplingSpecTransportSource resampled (transport, 2);
    transport.prepareToPlay (blockSize, rate);
    resampled.prepareToPlay (blockSize, rate);
    transport.setLoop ({ 0, project.mixer.getNumFrames() }, true);
    project.mixer.waitForRing (0, 10000);
    transport.start();

    // Both cores busy with other work, as on a loaded machine.
    std::atomic<bool> stopLoad { false };
    std::vector<std::thread> load;
    for (int i = 0; i < 2; ++i)
        load.emplace_back ([&] {
            volatile double x = 0.0;
            while (! stopLoad)
                x = x + 1.0;
        });

    juce::AudioBuffer<float> device (2, blockSize);
    const juce::AudioSourceChannelInfo info (&device, 0, blockSize);
    const auto period = (double) blockSize / rate;
    std::vector<double> times;
    for (auto _ : state)
    {
        // Paced like a device: a block every period.
        const auto start = juce::Time::getMillisecondCounterHiRes();
        resampled.getNextAudioBlock (info);
        const auto took = (juce::Time::getMillisecondCounterHiRes() - start) / 1000.0;
        times.push_back (took);
        const auto rest = period - took;
        if (rest > 0)
            std::this_thread::sleep_for (std::chrono::duration<double> (rest));
    }
    stopLoad = true;
    for (auto& t : load)
        t.join();

    std::sort (times.begin(), times.end());
    const auto p999 = times[(size_t) ((double) (times.size() - 1) * 0.999)];
    state.counters["p999_over_period"] = p999 / period;
    state.counters["max_over_period"] = times.back() / period;
    state.counters["underrun_samples"] = (double) transport.getUnderrunSamples();
}

juce::File fiveMinuteFile (const juce::String& extension)
{
    const auto wav = benchFolder().getChildFile ("five-minutes.wav");
    if (! wav.existsAsFile())
        writeFile (wav, noise (2, rate * 300, 5), 16);
    if (extension == ".wav")
        return wav;
    const auto mp3 = benchFolder().getChildFile ("five-minutes.mp3");
    if (! mp3.existsAsFile())
    {
        juce::ChildProcess p;
        p.start (juce::StringArray { "ffmpeg", "-loglevel", "error", "-y", "-i", wav.getFullPathName(), "-b:a", "192k",
                                     mp3.getFullPathName() });
        p.waitForProcessToFinish (600000);
    }
    return mp3;
}

void openFile (benchmark::State& state, const juce::String& extension)
{
    const auto file = fiveMinuteFile (extension);
    const auto folder = benchFolder().getChildFile ("open");
    for (auto _ : state)
    {
        auto result = juce::Result::ok();
        auto track = TrackLoader::openTrack (file, folder, "open", AudioTrack::OriginId::master, nullptr, result);
        if (track == nullptr)
            state.SkipWithError (result.getErrorMessage().toRawUTF8());
        state.PauseTiming();
        track = nullptr;
        folder.deleteRecursively();
        state.ResumeTiming();
    }
}

void ffmpegDecode (benchmark::State& state, const juce::String& extension)
{
    const auto file = fiveMinuteFile (extension);
    for (auto _ : state)
    {
        juce::ChildProcess p;
        p.start (
            juce::StringArray { "ffmpeg", "-loglevel", "error", "-i", file.getFullPathName(), "-f", "f32le", "-y", "/dev/null" });
        p.waitForProcessToFinish (600000);
    }
}

void OpenWav (benchmark::State& state)
{
    openFile (state, ".wav");
}
void OpenMp3 (benchmark::State& state)
{
    openFile (state, ".mp3");
}
void FfmpegDecodeWav (benchmark::State& state)
{
    ffmpegDecode (state, ".wav");
}
void FfmpegDecodeMp3 (benchmark::State& state)
{
    ffmpegDecode (state, ".mp3");
}
} // namespace

BENCHMARK (BounceEightTracks)->Unit (benchmark::kMillisecond)->Iterations (2)->UseRealTime();
BENCHMARK (IstftEightTracksBound)->Unit (benchmark::kMillisecond)->Iterations (2)->UseRealTime();
BENCHMARK (AudioCallback)->Iterations (3000)->UseRealTime();
BENCHMARK (OpenWav)->Unit (benchmark::kMillisecond)->Iterations (2)->UseRealTime();
BENCHMARK (FfmpegDecodeWav)->Unit (benchmark::kMillisecond)->Iterations (2)->UseRealTime();
BENCHMARK (OpenMp3)->Unit (benchmark::kMillisecond)->Iterations (2)->UseRealTime();
BENCHMARK (FfmpegDecodeMp3)->Unit (benchmark::kMillisecond)->Iterations (2)->UseRealTime();
