// Wand previews on a 5-minute stereo 44.1 kHz song, each beside its lower bound measured
// in the same run. Every benchmark runs the same 4000 cursor positions and reports the
// latency of one call (p50_us, p99_us, max_us: wall time; cpu_p99_us: the calling
// thread's CPU time, which a loaded machine's preemptions do not inflate):
//   WandPreview/0             the wand (threshold -30 dB, selection size 10) over the
//                             frames the display has cached
//   WandPreview/1             the same anywhere in the song (reads from the data files)
//   HarmonicWandPreview/0,1   the harmonic wand, every harmonic up to 10 kHz, no roll-off
//   WindowRead/0,1            the bound: Asig::readFrames of the same frames, both channels
#include "editing/SelectionHelper.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>

using namespace kalder;

namespace
{
constexpr int sampleRate = 44100, songSeconds = 300;
constexpr int selectionSize = 10;
constexpr int positionsPerRun = 4000;
constexpr float thresholdDb = -30.0f, highCutKHz = 10.0f;

/** Four voices of 12-harmonic notes (two seconds each, random pitches between C2 and C6,
    random pan), a click every half second and a little noise. */
juce::AudioBuffer<float> makeSong()
{
    const int n = songSeconds * sampleRate, tableSize = 4096, noteLength = 2 * sampleRate;
    std::vector<float> cycle ((size_t) tableSize + 1);
    for (int i = 0; i <= tableSize; ++i)
        for (int k = 1; k <= 12; ++k)
            cycle[(size_t) i] += (float) (0.05 / k * std::sin (2.0 * juce::MathConstants<double>::pi * k * i / tableSize));

    juce::AudioBuffer<float> song (2, n);
    song.clear();
    juce::Random random (7);
    auto* left = song.getWritePointer (0);
    auto* right = song.getWritePointer (1);
    for (int start = 0; start < n; start += noteLength)
        for (int voice = 0; voice < 4; ++voice)
        {
            const auto frequency = 440.0 * std::pow (2.0, (36 + random.nextInt (48) - 69) / 12.0);
            const auto pan = random.nextFloat();
            const auto step = frequency / sampleRate * tableSize;
            double phase = 0.0;
            for (int i = start; i < std::min (n, start + noteLength); ++i)
            {
                const auto index = (int) phase;
                const auto fraction = (float) (phase - index);
                const auto decay = (float) std::exp (-1.5 * (i - start) / sampleRate);
                const auto v = decay * (cycle[(size_t) index] + fraction * (cycle[(size_t) index + 1] - cycle[(size_t) index]));
                left[i] += v * (1.0f - pan);
                right[i] += v * pan;
                phase += step;
                if (phase >= tableSize)
                    phase -= tableSize;
            }
        }
    for (int i = 0; i < n; ++i)
    {
        const auto click = i % (sampleRate / 2) == 0 ? 0.5f : 0.0f;
        left[i] += click + 0.001f * (random.nextFloat() - 0.5f);
        right[i] += click + 0.001f * (random.nextFloat() - 0.5f);
    }
    return song;
}

/** The analysed song, with the display's cache over [cachedFrames). */
struct SongFixture
{
    SongFixture()
        : audio (makeSong(), sampleRate),
          asig (audio, juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("kalder-bench-selection"), "song")
    {
        asig.readAudio (audio);
        cachedFrames = { asig.getNumFrames() / 2, asig.getNumFrames() / 2 + 256 };
        asig.getMemoryManager()->cache (cachedFrames);
        asig.getMemoryManager()->copyBackToFront();
    }

    ParsedAudioBuffer audio;
    Asig asig;
    SelectionHelper helper { &asig };
    juce::Range<int> cachedFrames;
};

SongFixture& fixture()
{
    static SongFixture f;
    return f;
}

struct Position
{
    int frame, bin;
};

/** Cursor positions over the cached frames (anywhere = false) or the whole song, at bins
    from 40 Hz to 4 kHz where the notes are. */
std::vector<Position> positions (bool anywhere)
{
    auto& f = fixture();
    juce::Random random (11);
    const auto frames = anywhere ? juce::Range<int> (0, f.asig.getNumFrames()) : f.cachedFrames;
    std::vector<Position> p;
    for (int i = 0; i < positionsPerRun; ++i)
        p.push_back ({ frames.getStart() + random.nextInt (frames.getLength()), 4 + random.nextInt (368) });
    return p;
}

double threadCpuMicros()
{
    timespec t {};
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
    return (double) t.tv_sec * 1.0e6 + (double) t.tv_nsec * 1.0e-3;
}

double percentile (std::vector<double>& v, double q)
{
    std::sort (v.begin(), v.end());
    return v[std::min (v.size() - 1, (size_t) (q * (double) v.size()))];
}

/** Times fn at every position and reports the percentiles of one call. */
template <typename Fn>
void timeCalls (benchmark::State& state, Fn&& fn)
{
    const auto where = positions (state.range (0) != 0);
    std::vector<double> wall, cpu;
    for (auto _ : state)
        for (const auto& p : where)
        {
            const auto cpuStart = threadCpuMicros();
            const auto start = std::chrono::steady_clock::now();
            fn (p);
            wall.push_back (std::chrono::duration<double, std::micro> (std::chrono::steady_clock::now() - start).count());
            cpu.push_back (threadCpuMicros() - cpuStart);
        }
    state.counters["p50_us"] = percentile (wall, 0.5);
    state.counters["p99_us"] = percentile (wall, 0.99);
    state.counters["max_us"] = wall.back();
    state.counters["cpu_p50_us"] = percentile (cpu, 0.5);
    state.counters["cpu_p99_us"] = percentile (cpu, 0.99);
    state.SetItemsProcessed ((juce::int64) wall.size());
}

void WandPreview (benchmark::State& state)
{
    auto& f = fixture();
    const auto t = std::pow (10.0f, thresholdDb / 20.0f);
    timeCalls (state, [&] (Position p) {
        const auto u = f.helper.wandSelect (p.frame, p.bin, t, selectionSize, false, 1, 0.0f, 0.0f, 1.0f, SelectionMode::replace);
        benchmark::DoNotOptimize (u.values.data());
    });
}

void HarmonicWandPreview (benchmark::State& state)
{
    auto& f = fixture();
    const auto t = std::pow (10.0f, thresholdDb / 20.0f);
    timeCalls (state, [&] (Position p) {
        const auto u = f.helper.wandSelect (p.frame, p.bin, t, selectionSize, true, 1, highCutKHz, 0.0f, 1.0f,
                                            SelectionMode::replace);
        benchmark::DoNotOptimize (u.values.data());
    });
}

void WindowRead (benchmark::State& state)
{
    auto& f = fixture();
    constexpr int half = SelectionHelper::wandHalfWindow + selectionSize;
    timeCalls (state, [&] (Position p) {
        for (int c = 0; c < f.asig.getNumChannels(); ++c)
            benchmark::DoNotOptimize (
                f.asig.readFrames (c, { p.frame - half, p.frame + half + 1 }, Asig::MaskUse::mask, Asig::SelectionGain::none));
    });
}
} // namespace

BENCHMARK (WandPreview)->Arg (0)->Arg (1)->Iterations (1)->Unit (benchmark::kMillisecond)->UseRealTime();
BENCHMARK (HarmonicWandPreview)->Arg (0)->Arg (1)->Iterations (1)->Unit (benchmark::kMillisecond)->UseRealTime();
BENCHMARK (WindowRead)->Arg (0)->Arg (1)->Iterations (1)->Unit (benchmark::kMillisecond)->UseRealTime();
