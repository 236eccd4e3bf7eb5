// The separation client's cost beside the separation itself, through the service the
// application brings along: a plain program, since its figures are shares and peaks,
// not per-iteration timings. See docs/PERFORMANCE.md, "Separation from the application".
//
//   kalder_client_bench [MINUTES] [MODULE]    (default 5 minutes, drums)
#include "separation/NetworkManager.h"
#include "separation/SeparationLauncher.h"
#include "tracks/Mixer.h"
#include "tracks/TrackLoader.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_events/juce_events.h>

#include <atomic>
#include <iostream>
#include <thread>

using namespace kalder;
using namespace kalder::separation;

namespace
{
double nowMs()
{
    return juce::Time::getMillisecondCounterHiRes();
}

juce::int64 residentKb (const char* field)
{
    juce::StringArray lines;
    lines.addLines (juce::File ("/proc/self/status").loadFileAsString());
    for (const auto& l : lines)
        if (l.startsWith (field))
            return l.fromFirstOccurrenceOf (":", false, false).trim().getLargeIntValue();
    return 0;
}

/** A song-like stereo signal: a gliding tone, a bass line, noise bursts on the beat. */
juce::File writeSong (const juce::File& file, double minutes, int rate)
{
    const auto total = (juce::int64) (minutes * 60.0 * rate);
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (new juce::FileOutputStream (file), rate, 2, 24, {}, 0));
    juce::AudioBuffer<float> block (2, 1 << 16);
    juce::Random random (7);
    double phase = 0.0, bass = 0.0;
    for (juce::int64 start = 0; start < total; start += block.getNumSamples())
    {
        const auto n = (int) juce::jmin ((juce::int64) block.getNumSamples(), total - start);
        for (int i = 0; i < n; ++i)
        {
            const auto t = (double) (start + i) / rate;
            phase += juce::MathConstants<double>::twoPi * 330.0 * (1.0 + 0.02 * std::sin (t * 5.0)) / rate;
            bass += juce::MathConstants<double>::twoPi * (55.0 * (1 + ((int) t % 4) / 4.0)) / rate;
            const auto beat = std::fmod (t, 0.5);
            const auto hit = beat < 0.05 ? (random.nextFloat() * 2.0f - 1.0f) * (float) std::exp (-beat * 80.0) : 0.0f;
            const auto tone = 0.25f * (float) std::sin (phase), low = 0.3f * (float) std::sin (bass);
            block.setSample (0, i, tone + low + 0.4f * hit);
            block.setSample (1, i, 0.8f * tone + low + 0.3f * hit);
        }
        writer->writeFromAudioSampleBuffer (block, 0, n);
    }
    return file;
}
} // namespace

int main (int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI juce;
    const double minutes = argc > 1 ? juce::jmax (0.1, juce::String (argv[1]).getDoubleValue()) : 5.0;
    const juce::String moduleName = argc > 2 ? argv[2] : "drums";
    const auto module = moduleName == "bass"         ? Module::bass
                        : moduleName == "vocals"     ? Module::vocals
                        : moduleName == "four-stems" ? Module::fourStems
                                                     : Module::drums;

    const auto dir = juce::File::getSpecialLocation (juce::File::tempDirectory)
                         .getChildFile ("kalder-client-bench-" + juce::Uuid().toString());
    dir.createDirectory();
    const auto song = writeSong (dir.getChildFile ("song.wav"), minutes, 44100);

    auto result = juce::Result::ok();
    auto track = TrackLoader::openTrack (song, dir.getChildFile ("master"), "master", AudioTrack::OriginId::master, nullptr,
                                         result);
    if (track == nullptr)
    {
        std::cerr << result.getErrorMessage() << std::endl;
        return 1;
    }
    Mixer mixer;
    mixer.setMasterTrack (track);

    LocalSeparationService::Options local;
    local.dataFolder = dir.getChildFile ("service");
#ifdef KALDER_SERVICE_PATH
    local.executable = juce::File (KALDER_SERVICE_PATH);
#endif
    NetworkManager network (local);
    const auto serviceStart = nowMs();
    if (auto r = network.prepareService(); r.failed())
    {
        std::cerr << r.getErrorMessage() << std::endl;
        return 1;
    }
    const auto serviceStartMs = nowMs() - serviceStart;

    SeparationLauncher launcher (mixer, network);
    launcher.setWorkFolder (dir.getChildFile ("work"));
    SeparationLauncher::Request request;
    request.track = track;
    request.module = module;
    request.settings = SeparatorSettings::getDefaultFor (module);

    // The message thread's longest stall: the gap between ticks of a 10 ms timer, beyond 10 ms.
    struct StallMeter : juce::Timer
    {
        double last = nowMs(), worst = 0.0;
        void timerCallback() override
        {
            const auto now = nowMs();
            worst = juce::jmax (worst, now - last - 10.0);
            last = now;
        }
    } stalls;

    std::optional<SeparationLauncher::Outcome> outcome;
    const auto baseline = residentKb ("VmRSS");
    const auto started = nowMs();
    stalls.startTimer (10);
    if (launcher.start (request, [&outcome] (const SeparationLauncher::Outcome& o) { outcome = o; })
        != SeparationLauncher::Refusal::none)
    {
        std::cerr << "refused" << std::endl;
        return 1;
    }
    stalls.last = nowMs();
    const auto startCallMs = nowMs() - started;

    auto tracker = network.getSeparations().getFirst();
    double uploaded = 0.0, separated = 0.0, downloaded = 0.0;
    std::atomic<juce::int64> peak { 0 };
    std::atomic<bool> sampling { true };
    std::thread sampler ([&] {
        while (sampling)
        {
            peak = juce::jmax (peak.load(), residentKb ("VmRSS"));
            std::this_thread::sleep_for (std::chrono::milliseconds (20));
        }
    });
    while (! outcome.has_value())
    {
        juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
        const auto now = nowMs() - started;
        if (uploaded == 0.0 && tracker->uploadProgress.get() >= 1.0f)
            uploaded = now;
        if (separated == 0.0 && tracker->separationProgress.get() >= 1.0f)
            separated = now;
        if (downloaded == 0.0 && tracker->getStatus() == SeparationTracker::Status::finished)
            downloaded = now;
    }
    const auto total = nowMs() - started;
    sampling = false;
    sampler.join();
    stalls.stopTimer();
    if (outcome->result.failed())
    {
        std::cerr << outcome->getMessage() << std::endl;
        return 1;
    }

    const auto compute = separated - uploaded; // the service's own work, as the client sees it (polls included)
    std::cout << "song: " << minutes << " min stereo 44.1 kHz 24-bit, module " << moduleName << "\n"
              << "embedded service start:           " << juce::String (juce::roundToInt (serviceStartMs)) << " ms\n"
              << "launcher.start on message thread: " << juce::String (startCallMs, 1) << " ms\n"
              << "request written + create + upload + start: " << juce::String (juce::roundToInt (uploaded)) << " ms\n"
              << "separation (start to done):       " << juce::String (juce::roundToInt (compute)) << " ms\n"
              << "output list + downloads:          " << juce::String (juce::roundToInt (downloaded - separated)) << " ms\n"
              << "import (children written):        " << juce::String (juce::roundToInt (total - downloaded)) << " ms\n"
              << "client overhead / separation:     " << juce::String (100.0 * (total - compute) / compute, 1) << " %\n"
              << "longest message-thread stall:     " << juce::String (stalls.worst, 1) << " ms\n"
              << "resident memory: before " << baseline / 1024 << " MiB, peak " << peak.load() / 1024 << " MiB (+"
              << (peak.load() - baseline) / 1024 << " MiB); audio of the song "
              << (juce::int64) (minutes * 60 * 44100 * 2 * 4) / (1 << 20) << " MiB as floats\n";

    mixer.setMasterTrack (nullptr);
    outcome.reset();
    dir.deleteRecursively();
    return 0;
}
