// Separation figures on generated songs (see docs/PERFORMANCE.md, "Separation"):
//
//   kalder_separation_bench quality [seconds]   SDR per module and stem: the estimate,
//                                               the mixture as estimate (floor) and the
//                                               oracle ratio mask (limit); stem sums
//   kalder_separation_bench speed [seconds]     real-time factor per module, one thread
//   kalder_separation_bench memory [minutes] [module]  peak resident memory for a long input
//   kalder_separation_bench pitch               raw pitch accuracy of the melody tracker
//   kalder_separation_bench timeline [label]    vocal energy over time (leaks, dropouts)
//   kalder_separation_bench separate MODULE IN OUTDIR [NAME=VALUE...] [--guide FILE]
//                                               one separation of a file, as the service runs
//                                               it (the evaluation kit in eval/ drives this);
//                                               the guide file holds the step in samples, then
//                                               one MIDI pitch per step (-1: no voice)
//
// KALDER_BENCH_ONLY=<label prefix> limits quality and speed to some modules. Everything runs on
// the calling thread, so the figures are single-core figures.

#include "SyntheticSong.h"
#include "engines/BlockSeparator.h"
#include "engines/PitchTracker.h"
#include "engines/RepetitionModel.h"
#include "engines/SeparationEngine.h"
#include "signal/AsigUtilities.h"
#include "signal/FFTHelper.h"
#include "signal/OverlapAddSynthesiser.h"

#include <juce_events/juce_events.h>
#include <sys/resource.h>

#include <cstdio>
#include <map>

using namespace kalder;
using namespace kalder::service;

namespace
{
/** A folder of its own for one benchmark's files, removed with everything in it. */
struct ScratchFolder
{
    ScratchFolder() { dir.createDirectory(); }
    ~ScratchFolder() { dir.deleteRecursively(); }
    const juce::File dir { juce::File::createTempFile ("kalder-separation-bench") };
};

/** A mix written as a WAV file in a scratch folder: the separations' input. */
struct MixInput : ScratchFolder
{
    MixInput (const juce::AudioBuffer<float>& mix, double sampleRate, int bits)
    {
        test::writeAudioFile (input, mix, sampleRate, bits);
    }
    const juce::File input { dir.getChildFile ("mix.wav") };
};

struct QuietProgress : EngineProgress
{
    void report (float, const juce::String&) override {}
    bool shouldStop() const override { return false; }
};

struct Case
{
    const char* label;
    Module module;
    std::map<juce::String, juce::var> parameters;
    bool guided = false;
};

std::vector<Case> allCases()
{
    return {
        { "drums", Module::drums, {} },
        { "vocals (automatic)", Module::vocals, { { "mode", "Automatic" }, { "reverbProcess", "WithTrack" } } },
        { "vocals (guided)", Module::vocals, { { "mode", "Guided" }, { "reverbProcess", "WithTrack" } }, true },
        { "vocals (defaults)", Module::vocals, {} }, // reverb "WithVocal": the dry test voice gains accompaniment
        { "pan (3 sources)", Module::pan, { { "nSources", 3 } } },
        { "bass", Module::bass, {} },
        { "all vocals", Module::allVocals, {} },
        { "all vocals no gate", Module::allVocals, { { "gate", "false" } } },
        { "four stems", Module::fourStems, {} },
        { "other", Module::other, {} },
    };
}

SeparationSpec makeSpec (const Case& c, const test::SyntheticSong& song)
{
    SeparationSpec spec;
    spec.module = c.module;
    for (const auto& [name, value] : c.parameters)
        spec.parameters.set (juce::Identifier (name), value);
    if (c.guided)
    {
        spec.pitchGuide = song.vocalMidi;
        spec.guideStepSamples = song.guideStepSamples;
    }
    return spec;
}

/** The magnitude-ratio oracle on the engines' STFT: |S_target| / sum_k |S_k| per bin
    and channel, applied to the mixture and resynthesised. */
juce::AudioBuffer<float> oracle (const std::vector<const juce::AudioBuffer<float>*>& sources, int target, double sampleRate)
{
    const FrameGeometry g { FFTHelper::getNfftForSampleRate ((int) sampleRate) };
    const auto nfft = g.nfft, hop = g.getHop(), bins = g.getNumFreqs();
    const auto n = sources[0]->getNumSamples();
    const auto frames = g.getNumFramesForSamples (n);
    RealFFT fft (nfft);
    const auto window = AsigUtilities::getHanningWindow (nfft);
    RealFFT::Buffer time ((size_t) nfft), ccs ((size_t) nfft + 2);
    juce::AudioBuffer<float> out (2, n);
    out.clear();
    std::vector<std::complex<float>> mixFrame ((size_t) bins);
    std::vector<float> block ((size_t) hop);
    for (int c = 0; c < 2; ++c)
    {
        OverlapAddSynthesiser synth (nfft);
        for (int f = 0; f < frames; ++f)
        {
            std::vector<float> targetMag ((size_t) bins), totalMag ((size_t) bins, 1.0e-20f);
            std::fill (mixFrame.begin(), mixFrame.end(), std::complex<float>());
            for (size_t s = 0; s < sources.size(); ++s)
            {
                for (int i = 0; i < nfft; ++i)
                {
                    const auto at = (juce::int64) g.getFirstSampleOfFrame (f) + i;
                    time.data()[i] = (at >= 0 && at < n) ? sources[s]->getSample (c, (int) at) * window[(size_t) i] : 0.0f;
                }
                fft.forward (time.data(), ccs.data());
                for (int b = 0; b < bins; ++b)
                {
                    const std::complex<float> v (ccs.data()[2 * b], ccs.data()[2 * b + 1]);
                    mixFrame[(size_t) b] += v;
                    totalMag[(size_t) b] += std::abs (v);
                    if ((int) s == target)
                        targetMag[(size_t) b] = std::abs (v);
                }
            }
            for (int b = 0; b < bins; ++b)
                mixFrame[(size_t) b] *= targetMag[(size_t) b] / totalMag[(size_t) b];
            synth.pushFrame (mixFrame.data(), block.data());
            const auto start = (juce::int64) (f - 3) * hop;
            for (int i = 0; i < hop; ++i)
                if (start + i >= 0 && start + i < n)
                    out.setSample (c, (int) (start + i), block[(size_t) i]);
        }
    }
    return out;
}

double peakMemoryMb()
{
    rusage usage {};
    getrusage (RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0; // kilobytes on Linux
}

int runQuality (double seconds)
{
    test::SongOptions options;
    options.seconds = seconds;
    const auto song = test::makeSong (options);
    const auto mix = song.mix();
    const auto other = song.other();
    const MixInput mixInput (mix, song.sampleRate, 24);
    const auto& dir = mixInput.dir;
    const auto& input = mixInput.input;

    // Ground truth per stem name and module; the oracle splits into the module's stems.
    std::printf ("%-20s %-10s %9s %9s %9s %9s\n", "module", "stem", "estimate", "floor", "oracle", "gain");
    const auto only = juce::SystemStats::getEnvironmentVariable ("KALDER_BENCH_ONLY", {});
    for (const auto& c : allCases())
    {
        if (only.isNotEmpty() && ! juce::String (c.label).startsWith (only))
            continue;
        std::map<juce::String, juce::AudioBuffer<float>> truth;
        const auto rest = [&] (std::initializer_list<const juce::AudioBuffer<float>*> minus) {
            auto r = mix;
            for (const auto* b : minus)
                for (int ch = 0; ch < 2; ++ch)
                    r.addFrom (ch, 0, *b, ch, 0, r.getNumSamples(), -1.0f);
            return r;
        };
        switch (c.module)
        {
            case Module::drums:
                truth = { { "drums", song.drums }, { "remainder", rest ({ &song.drums }) } };
                break;
            case Module::vocals:
            case Module::allVocals:
                truth = { { "vocals", song.vocals }, { "remainder", rest ({ &song.vocals }) } };
                break;
            case Module::bass:
                truth = { { "bass", song.bass }, { "remainder", rest ({ &song.bass }) } };
                break;
            case Module::other:
                truth = { { "other", other }, { "remainder", rest ({ &other }) } };
                break;
            case Module::fourStems:
                truth = { { "vocals", song.vocals }, { "bass", song.bass }, { "drums", song.drums }, { "other", other } };
                break;
            case Module::pan:
                truth = { { "source-1", song.leftChords },
                          { "source-2", rest ({ &song.leftChords, &song.rightChords }) },
                          { "source-3", song.rightChords } };
                break;
        }
        std::vector<juce::String> names;
        std::vector<const juce::AudioBuffer<float>*> refs;
        for (const auto& [name, buffer] : truth)
        {
            names.push_back (name);
            refs.push_back (&buffer);
        }

        QuietProgress progress;
        std::vector<StemFile> stems;
        const auto out = dir.getChildFile (juce::String (c.label).retainCharacters ("abcdefghijklmnopqrstuvwxyz"));
        const auto result = runSeparation (makeSpec (c, song), input, out, progress, stems);
        if (result.failed())
        {
            std::printf ("%-20s failed: %s\n", c.label, result.getErrorMessage().toRawUTF8());
            return 1;
        }
        juce::AudioBuffer<float> sum (2, mix.getNumSamples());
        sum.clear();
        for (const auto& stem : stems)
        {
            const auto estimate = test::readAudioFile (stem.file);
            for (int ch = 0; ch < 2; ++ch)
                sum.addFrom (ch, 0, estimate, ch, 0, sum.getNumSamples());
            const auto it = std::find (names.begin(), names.end(), stem.name);
            if (it == names.end())
                continue;
            const auto index = (int) (it - names.begin());
            const auto& reference = *refs[(size_t) index];
            const auto sdr = test::sdrDb (reference, estimate);
            const auto floor = test::sdrDb (reference, mix);
            const auto limit = test::sdrDb (reference, oracle (refs, index, song.sampleRate));
            std::printf ("%-20s %-10s %9.2f %9.2f %9.2f %9.2f\n", c.label, stem.name.toRawUTF8(), sdr, floor, limit, sdr - floor);
            if (juce::SystemStats::getEnvironmentVariable ("KALDER_BENCH_LEAKS", {}).isNotEmpty())
            {
                // What the estimate holds of each source, in dB of the stem's true energy.
                const auto project = [&] (const juce::AudioBuffer<float>& source) {
                    double dot = 0.0, norm = 0.0;
                    for (int ch = 0; ch < 2; ++ch)
                        for (int i = 0; i < source.getNumSamples(); ++i)
                        {
                            dot += (double) estimate.getSample (ch, i) * source.getSample (ch, i);
                            norm += (double) source.getSample (ch, i) * source.getSample (ch, i);
                        }
                    return 10.0
                           * std::log10 (dot * dot / norm / (test::energy (reference, 0, reference.getNumSamples()) + 1.0e-30)
                                         + 1.0e-12);
                };
                std::printf ("    holds: vocals %.1f, bass %.1f, drums %.1f, left chords %.1f, right chords %.1f dB\n",
                             project (song.vocals), project (song.bass), project (song.drums), project (song.leftChords),
                             project (song.rightChords));
            }
        }
        std::printf ("%-20s %-10s error of the stems' sum: %.1f dB below the input\n", c.label, "(sum)",
                     test::sdrDb (test::readAudioFile (input), sum));
        std::fflush (stdout);
    }
    return 0;
}

/** Energy over time of the song's voice, of a module's vocal stem and of its error, in
    quarter seconds: where a vocal chain leaks or drops out. */
int runTimeline (const juce::String& label)
{
    test::SongOptions options;
    options.seconds = 8.0;
    options.vocalRestFrom = 2.0;
    options.vocalRestTo = 3.6;
    const auto song = test::makeSong (options);
    const MixInput mixInput (song.mix(), song.sampleRate, 24);
    const auto& dir = mixInput.dir;
    const auto& input = mixInput.input;
    for (const auto& c : allCases())
    {
        if (! juce::String (c.label).startsWith (label))
            continue;
        QuietProgress progress;
        std::vector<StemFile> stems;
        if (runSeparation (makeSpec (c, song), input, dir.getChildFile ("out"), progress, stems).failed())
            return 1;
        for (const auto& stem : stems)
        {
            if (stem.name != "vocals")
                continue;
            const auto estimate = test::readAudioFile (stem.file);
            const auto quarter = (int) (song.sampleRate / 4);
            std::printf ("%s: time, voice, estimate, error (dB)\n", c.label);
            for (int start = 0; start + quarter <= estimate.getNumSamples(); start += quarter)
            {
                juce::AudioBuffer<float> error (2, quarter);
                for (int ch = 0; ch < 2; ++ch)
                    for (int i = 0; i < quarter; ++i)
                        error.setSample (ch, i, estimate.getSample (ch, start + i) - song.vocals.getSample (ch, start + i));
                const auto db = [] (double e) { return 10.0 * std::log10 (e + 1.0e-12); };
                std::printf ("%5.2f %7.1f %7.1f %7.1f\n", start / song.sampleRate,
                             db (test::energy (song.vocals, start, quarter)), db (test::energy (estimate, start, quarter)),
                             db (test::energy (error, 0, quarter)));
            }
        }
    }
    return 0;
}

/** Runs the melody tracker inside the block separator and records its pitch per frame. */
struct MelodyProbe : StemEngine
{
    juce::StringArray getStemNames() const override { return { "probe" }; }
    int getResidualStem() const override { return 0; }
    int getContextFrames (const FrameGeometry& g, double sr) const override
    {
        return RepetitionModel::getContextFrames (sr / g.getHop());
    }
    juce::String getStageName() const override { return "probe"; }
    void separate (const SegmentSpectra& segment, StemSpectra& stems) override
    {
        // The automatic lead-vocal chain's tracker, on the same foreground.
        const MaskMatrix fg = RepetitionModel().estimateForeground (segment.magnitude, segment, 1.0f);
        const auto track = PitchTracker (80.0, 1000.0, 10, 5000.0).track (segment.magnitude.cwiseProduct (fg), segment);
        for (int t = segment.coreBegin; t < segment.coreEnd; ++t)
            f0.push_back (track.f0[(size_t) t]);
        stems.assign (1, std::vector<CspecMatrix> ((size_t) segment.getNumChannels()));
    }
    std::vector<float> f0;
};

/** Raw pitch accuracy of the melody tracker: frames within half a semitone of the
    sung pitch, among the frames where the voice sings. */
int runPitch()
{
    test::SongOptions options;
    options.seconds = 12.0;
    const auto song = test::makeSong (options);
    const MixInput mixInput (song.mix(), song.sampleRate, 24);
    const auto& dir = mixInput.dir;
    const auto& input = mixInput.input;
    MelodyProbe probe;
    QuietProgress progress;
    BlockSeparator separator (probe, progress);
    std::vector<StemFile> stems;
    separator.run (input, dir.getChildFile ("out"), stems);
    int voiced = 0, right = 0, octave = 0, above = 0;
    const auto hop = FFTHelper::getNfftForSampleRate ((int) song.sampleRate) / 4;
    for (size_t f = 0; f < probe.f0.size(); ++f)
    {
        const auto centre = ((juce::int64) f - 1) * hop;
        const auto step = centre / song.guideStepSamples;
        if (centre < 0 || step >= (juce::int64) song.vocalMidi.size() || song.vocalMidi[(size_t) step] < 0.0f
            || probe.f0[f] <= 0.0f)
            continue;
        ++voiced;
        const auto midi = 69.0 + 12.0 * std::log2 (probe.f0[f] / 440.0);
        const auto signedError = midi - song.vocalMidi[(size_t) step];
        const auto error = std::abs (signedError);
        above += std::abs (signedError - 12.0) < 0.5 ? 1 : 0;
        right += error < 0.5 ? 1 : 0;
        octave += std::abs (error - 12.0) < 0.5 ? 1 : 0;
    }
    std::printf ("raw pitch accuracy %.1f %% (%d of %d voiced frames), octave errors %.1f %% (%.1f %% an octave above)\n",
                 100.0 * right / std::max (1, voiced), right, voiced, 100.0 * octave / std::max (1, voiced),
                 100.0 * above / std::max (1, voiced));
    return 0;
}

int runSpeed (double seconds)
{
    test::SongOptions options;
    options.seconds = seconds;
    const auto song = test::makeSong (options);
    const MixInput mixInput (song.mix(), song.sampleRate, 16);
    const auto& dir = mixInput.dir;
    const auto& input = mixInput.input;
    std::printf ("%-20s %10s %10s\n", "module", "seconds", "x realtime");
    const auto only = juce::SystemStats::getEnvironmentVariable ("KALDER_BENCH_ONLY", {});
    for (const auto& c : allCases())
    {
        if (only.isNotEmpty() && ! juce::String (c.label).startsWith (only))
            continue;
        QuietProgress progress;
        std::vector<StemFile> stems;
        const auto start = juce::Time::getMillisecondCounterHiRes();
        const auto result = runSeparation (makeSpec (c, song), input, dir.getChildFile ("out"), progress, stems);
        const auto elapsed = (juce::Time::getMillisecondCounterHiRes() - start) / 1000.0;
        std::printf ("%-20s %10.2f %10.1f%s\n", c.label, elapsed, seconds / elapsed, result.wasOk() ? "" : " (failed)");
        std::fflush (stdout);
    }
    return 0;
}

int runMemory (double minutes, int moduleNumber)
{
    // A long input written block by block: a 20-second song repeated.
    test::SongOptions options;
    options.seconds = 20.0;
    const ScratchFolder scratch;
    const auto& dir = scratch.dir;
    const auto input = dir.getChildFile ("long.wav");
    juce::int64 written = 0;
    const auto total = (juce::int64) (minutes * 60.0 * options.sampleRate);
    {
        const auto song = test::makeSong (options);
        const auto mix = song.mix();
        auto stream = std::make_unique<juce::FileOutputStream> (input);
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatWriter> writer (
            wav.createWriterFor (stream.release(), options.sampleRate, 2, 16, {}, 0));
        while (written < total)
        {
            const auto n = (int) std::min ((juce::int64) mix.getNumSamples(), total - written);
            writer->writeFromAudioSampleBuffer (mix, 0, n);
            written += n;
        }
    }
    const auto before = peakMemoryMb();
    SeparationSpec spec;
    spec.module = (Module) moduleNumber;
    QuietProgress progress;
    std::vector<StemFile> stems;
    const auto start = juce::Time::getMillisecondCounterHiRes();
    const auto result = runSeparation (spec, input, dir.getChildFile ("out"), progress, stems);
    const auto elapsed = (juce::Time::getMillisecondCounterHiRes() - start) / 1000.0;
    juce::int64 stemSamples = 0;
    if (! stems.empty())
    {
        juce::AudioFormatManager formats;
        formats.registerBasicFormats();
        std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (stems[0].file));
        stemSamples = reader != nullptr ? reader->lengthInSamples : 0;
    }
    std::printf (
        "module %d, %.0f min stereo 44.1 kHz input: %s, %.1f s, peak resident memory %.0f MB (%.0f MB before separating), "
        "stem length %lld of %lld samples\n",
        moduleNumber, minutes, result.wasOk() ? "ok" : result.getErrorMessage().toRawUTF8(), elapsed, peakMemoryMb(), before,
        (long long) stemSamples, (long long) total);
    return result.wasOk() && stemSamples == total ? 0 : 1;
}
} // namespace

int runSeparate (int argc, char** argv)
{
    if (argc < 5)
    {
        std::fprintf (stderr, "usage: separate MODULE IN OUTDIR [NAME=VALUE...] [--guide FILE]\n");
        return 2;
    }
    const std::map<juce::String, Module> modules {
        { "drums", Module::drums },         { "vocals", Module::vocals }, { "pan", Module::pan },
        { "other", Module::other },         { "bass", Module::bass },     { "all-vocals", Module::allVocals },
        { "four-stems", Module::fourStems }
    };
    const auto found = modules.find (argv[2]);
    if (found == modules.end())
    {
        std::fprintf (stderr, "unknown module %s\n", argv[2]);
        return 2;
    }
    SeparationSpec spec;
    spec.module = found->second;
    for (int i = 5; i < argc; ++i)
    {
        const juce::String arg (argv[i]);
        if (arg == "--guide" && i + 1 < argc)
        {
            juce::StringArray lines;
            juce::File::getCurrentWorkingDirectory().getChildFile (argv[++i]).readLines (lines);
            lines.removeEmptyStrings();
            if (lines.isEmpty())
            {
                std::fprintf (stderr, "empty guide file\n");
                return 2;
            }
            spec.guideStepSamples = lines[0].getIntValue();
            for (int k = 1; k < lines.size(); ++k)
                spec.pitchGuide.push_back (lines[k].getFloatValue());
        }
        else if (arg.contains ("="))
        {
            const auto value = arg.fromFirstOccurrenceOf ("=", false, false);
            const auto name = juce::Identifier (arg.upToFirstOccurrenceOf ("=", false, false));
            if (value.containsOnly ("0123456789") && value.isNotEmpty())
                spec.parameters.set (name, value.getIntValue());
            else
                spec.parameters.set (name, value);
        }
    }
    const auto cwd = juce::File::getCurrentWorkingDirectory();
    const auto outDir = cwd.getChildFile (argv[4]);
    outDir.createDirectory();
    QuietProgress progress;
    std::vector<StemFile> stems;
    const auto result = runSeparation (spec, cwd.getChildFile (argv[3]), outDir, progress, stems);
    if (result.failed())
    {
        std::fprintf (stderr, "%s\n", result.getErrorMessage().toRawUTF8());
        return 1;
    }
    for (const auto& stem : stems)
        std::printf ("%s\n", stem.file.getFullPathName().toRawUTF8());
    return 0;
}

int main (int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI juce;
    const juce::String mode = argc > 1 ? argv[1] : "quality";
    if (mode == "speed")
        return runSpeed (argc > 2 ? juce::String (argv[2]).getDoubleValue() : 300.0);
    if (mode == "pitch")
        return runPitch();
    if (mode == "separate")
        return runSeparate (argc, argv);
    if (mode == "timeline")
        return runTimeline (argc > 2 ? argv[2] : "all vocals");
    if (mode == "memory")
        return runMemory (argc > 2 ? juce::String (argv[2]).getDoubleValue() : 60.0,
                          argc > 3 ? juce::String (argv[3]).getIntValue() : 7);
    return runQuality (argc > 2 ? juce::String (argv[2]).getDoubleValue() : 20.0);
}
