// The STFT analysis and the masked read, each beside its lower bound measured in
// the same run:
//   Analysis/...            Asig::readAudio of a stereo 44.1 kHz buffer into data files
//   AnalysisInMemory/...    the same with the data files in memory (tmpfs)
//                           (user_ms: user-mode CPU time, the computing without the writes)
//   AnalysisStftStage/...   the analysis's own transform (FrameTransformer) step by step,
//                           frames kept in memory and not written: the STFT stage alone
//   FftwStftOnly/...        the same windows and FFTs with FFTW, results thrown away
//   FftwStftAndWrite/...    the same plus writing the same bytes sequentially to disk
//   MaskedRead*/...         Asig::readFrames frame by frame (mask edited, selection set)
//   MaskMultiplyOnly        the element-wise products alone, on frames already in memory
#include "signal/Asig.h"
#include "signal/AsigUtilities.h"
#include "signal/FFTHelper.h"
#include "signal/FrameTransformer.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace kalder;

namespace
{
constexpr int sampleRate = 44100;

juce::AudioBuffer<float> makeSong (int seconds)
{
    juce::AudioBuffer<float> b (2, seconds * sampleRate);
    juce::Random random (1);
    for (int c = 0; c < 2; ++c)
    {
        auto* d = b.getWritePointer (c);
        for (int i = 0; i < b.getNumSamples(); ++i)
            d[i] = random.nextFloat() - 0.5f;
    }
    return b;
}

const ParsedAudioBuffer& song (int seconds)
{
    static std::map<int, std::unique_ptr<ParsedAudioBuffer>> songs;
    auto& s = songs[seconds];
    if (s == nullptr)
        s = std::make_unique<ParsedAudioBuffer> (makeSong (seconds), sampleRate);
    return *s;
}

/** User-mode CPU time of the process: the computing without the kernel's share (the
    writes), to compare the analysis's STFT stage with FFTW's. */
double userSeconds()
{
    rusage usage {};
    getrusage (RUSAGE_SELF, &usage);
    return (double) usage.ru_utime.tv_sec + 1.0e-6 * (double) usage.ru_utime.tv_usec;
}

/** Reports the user time per iteration since start as "user_ms". */
void reportUserTime (benchmark::State& state, double start)
{
    state.counters["user_ms"] = benchmark::Counter ((userSeconds() - start) * 1000.0, benchmark::Counter::kAvgIterations);
}

juce::File benchFolder()
{
    auto dir = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("kalder-bench");
    dir.createDirectory();
    return dir;
}

void analyse (benchmark::State& state, const juce::File& dir)
{
    const auto& audio = song ((int) state.range (0));
    double user = 0.0;
    for (auto _ : state)
    {
        const auto start = userSeconds();
        Asig asig (audio, dir, "bench");
        if (asig.readAudio (audio).failed())
            state.SkipWithError ("analysis failed");
        user += userSeconds() - start;
        state.PauseTiming();
        dir.deleteRecursively();
        state.ResumeTiming();
    }
    state.counters["user_ms"] = benchmark::Counter (user * 1000.0, benchmark::Counter::kAvgIterations);
    state.SetItemsProcessed (state.iterations() * audio.getNumSamples() * audio.getNumChannels());
}

void Analysis (benchmark::State& state)
{
    analyse (state, benchFolder().getChildFile ("analysis"));
}

/** The analysis with its files in memory (tmpfs): the STFT stage with writes that cost a
    copy, to set beside FftwStftOnly. */
void AnalysisInMemory (benchmark::State& state)
{
    const juce::File shm ("/dev/shm");
    if (! shm.isDirectory())
    {
        state.SkipWithError ("no /dev/shm");
        return;
    }
    analyse (state, shm.getChildFile ("kalder-bench-analysis"));
}

void AnalysisStftStage (benchmark::State& state)
{
    const auto& audio = song ((int) state.range (0));
    const FrameGeometry g { FFTHelper::getNfftForSampleRate (audio.getSampleRate()) };
    const auto frames = g.getNumFramesForSamples (audio.getNumSamples());
    RealFFT fft (g.nfft);
    const auto start = userSeconds();
    for (auto _ : state)
    {
        FrameTransformer transformer (g, fft);
        CspecMatrix block;
        for (int first = 0; first < frames; first += Asig::framesPerAnalysisStep)
        {
            const juce::Range<int> chunk (first, juce::jmin (frames, first + Asig::framesPerAnalysisStep));
            for (int c = 0; c < audio.getNumChannels(); ++c)
            {
                transformer.transform (audio, c, chunk, block);
                benchmark::DoNotOptimize (block.data());
            }
        }
    }
    reportUserTime (state, start);
    state.SetItemsProcessed (state.iterations() * audio.getNumSamples() * audio.getNumChannels());
}

/** Window + FFT of every frame of every channel; writes the bins when fd >= 0. */
void fftwStft (const ParsedAudio& audio, int fd)
{
    const FrameGeometry g { FFTHelper::getNfftForSampleRate (audio.getSampleRate()) };
    RealFFT fft (g.nfft);
    const auto window = AsigUtilities::getHanningWindow (g.nfft);
    RealFFT::Buffer time ((size_t) g.nfft), ccs ((size_t) g.nfft + 2);
    const auto frames = g.getNumFramesForSamples (audio.getNumSamples());
    const auto& buffer = static_cast<const ParsedAudioBuffer&> (audio).getBuffer();
    std::vector<float> chunk;
    constexpr int framesPerWrite = Asig::framesPerAnalysisStep; // cache-sized, as the analysis writes
    chunk.resize ((size_t) framesPerWrite * (size_t) (2 * g.getNumFreqs()));
    off_t offset = 0;

    for (int c = 0; c < audio.getNumChannels(); ++c)
    {
        const auto* x = buffer.getReadPointer (c);
        int inChunk = 0;
        for (int f = 0; f < frames; ++f)
        {
            // The frame's samples, zero outside the audio.
            const auto first = g.getFirstSampleOfFrame (f);
            const auto from = juce::jmax ((juce::int64) 0, first);
            const auto to = juce::jmin (audio.getNumSamples(), first + g.nfft);
            if (from > first || to < first + g.nfft)
                std::fill (time.data(), time.data() + g.nfft, 0.0f);
            if (to > from)
                std::memcpy (time.data() + (from - first), x + from, sizeof (float) * (size_t) (to - from));
            juce::FloatVectorOperations::multiply (time.data(), window.data(), g.nfft);
            fft.forward (time.data(), ccs.data());
            if (fd >= 0)
            {
                std::memcpy (chunk.data() + (size_t) inChunk * (size_t) (2 * g.getNumFreqs()), ccs.data(),
                             sizeof (float) * (size_t) (2 * g.getNumFreqs()));
                if (++inChunk == framesPerWrite || f == frames - 1)
                {
                    const auto bytes = sizeof (float) * (size_t) inChunk * (size_t) (2 * g.getNumFreqs());
                    benchmark::DoNotOptimize (::pwrite (fd, chunk.data(), bytes, offset));
                    offset += (off_t) bytes;
                    inChunk = 0;
                }
            }
            benchmark::DoNotOptimize (ccs.data());
        }
    }
}

void FftwStftOnly (benchmark::State& state)
{
    const auto& audio = song ((int) state.range (0));
    const auto start = userSeconds();
    for (auto _ : state)
        fftwStft (audio, -1);
    reportUserTime (state, start);
    state.SetItemsProcessed (state.iterations() * audio.getNumSamples() * audio.getNumChannels());
}

void FftwStftAndWrite (benchmark::State& state)
{
    const auto& audio = song ((int) state.range (0));
    const auto file = benchFolder().getChildFile ("lowerbound.frames");
    for (auto _ : state)
    {
        const auto fd = ::open (file.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        fftwStft (audio, fd);
        ::close (fd);
        state.PauseTiming();
        file.deleteFile();
        state.ResumeTiming();
    }
    state.SetItemsProcessed (state.iterations() * audio.getNumSamples() * audio.getNumChannels());
}

/** A 60-second store with an edited mask and a selection, shared by the read benchmarks. */
struct ReadFixture
{
    ReadFixture() : asig (song (60), benchFolder().getChildFile ("reads"), "reads")
    {
        asig.readAudio (song (60));
        const auto bins = asig.getNumFreqs();
        const auto frames = asig.getNumFrames();
        for (int c = 0; c < 2; ++c)
            asig.setMask (c, { 0, bins }, { 0, frames }, MaskMatrix::Constant (bins, frames, 0.5f));
        asig.setSelection ({ 100, 400 }, { 100, 2000 }, MaskMatrix::Ones (300, 1900), true);
    }
    Asig asig;
};

ReadFixture& readFixture()
{
    static ReadFixture f;
    return f;
}

constexpr juce::Range<int> readRange (500, 1500);

void MaskedReadCached (benchmark::State& state)
{
    auto& asig = readFixture().asig;
    auto* manager = asig.getMemoryManager();
    manager->cache (readRange);
    manager->copyBackToFront();
    for (auto _ : state)
        for (int f = readRange.getStart(); f < readRange.getEnd(); ++f)
            benchmark::DoNotOptimize (asig.readFrames (f % 2, { f, f + 1 }));
    state.SetItemsProcessed (state.iterations() * readRange.getLength());
}

void MaskedReadFromDisk (benchmark::State& state)
{
    auto& asig = readFixture().asig;
    auto* manager = asig.getMemoryManager();
    manager->cache ({ 2200, 2300 }); // elsewhere: every read goes to the files
    manager->copyBackToFront();
    manager->cache ({ 2200, 2300 });
    for (auto _ : state)
        for (int f = readRange.getStart(); f < readRange.getEnd(); ++f)
            benchmark::DoNotOptimize (asig.readFrames (f % 2, { f, f + 1 }));
    state.SetItemsProcessed (state.iterations() * readRange.getLength());
}

void MaskMultiplyOnly (benchmark::State& state)
{
    auto& asig = readFixture().asig;
    const auto frames = asig.getMemoryManager()->readCspecFromFile (0, readRange);
    const auto mask = asig.getMemoryManager()->readMaskFromFile (0, readRange);
    const auto selection = asig.getSelection (readRange);
    for (auto _ : state)
        for (int f = 0; f < readRange.getLength(); ++f)
        {
            const MaskMatrix gain = mask.col (f).cwiseProduct ((selection.col (f).array() * 0.0f + 0.5f).matrix());
            benchmark::DoNotOptimize (CspecMatrix (frames.col (f).cwiseProduct (gain.cast<std::complex<float>>())));
        }
    state.SetItemsProcessed (state.iterations() * readRange.getLength());
}
} // namespace

BENCHMARK (Analysis)->Arg (300)->Unit (benchmark::kMillisecond)->Iterations (3)->UseRealTime();
BENCHMARK (AnalysisInMemory)->Arg (300)->Unit (benchmark::kMillisecond)->Iterations (3)->UseRealTime();
BENCHMARK (AnalysisStftStage)->Arg (300)->Unit (benchmark::kMillisecond)->Iterations (3)->UseRealTime();
BENCHMARK (FftwStftOnly)->Arg (300)->Unit (benchmark::kMillisecond)->Iterations (3)->UseRealTime();
BENCHMARK (FftwStftAndWrite)->Arg (300)->Unit (benchmark::kMillisecond)->Iterations (3)->UseRealTime();
BENCHMARK (MaskedReadCached)->Unit (benchmark::kMillisecond)->UseRealTime();
BENCHMARK (MaskedReadFromDisk)->Unit (benchmark::kMillisecond)->UseRealTime();
BENCHMARK (MaskMultiplyOnly)->Unit (benchmark::kMillisecond)->UseRealTime();
