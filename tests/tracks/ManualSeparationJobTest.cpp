#include "support/TestSignals.h"
#include "support/TestTracks.h"
#include "tracks/Mixer.h"
#include "tracks/WavParsedAudio.h"

#include <gtest/gtest.h>

using namespace kalder;
using Job = ManualSeparationJob;

namespace
{
constexpr int rate = 8000; // FFT length 1024, hop 256, 7.8125 Hz a bin
constexpr int length = 3 * rate;
// The 1500 Hz tone lies around bin 192; these frames of it are masked or selected.
const juce::Range<int> highToneBins { 180, 205 }, editedFrames { 20, 45 };
constexpr int hop = 256;
// Samples before the first block that hears an edited frame (frame f is heard in blocks f - 3 .. f).
constexpr int untouchedSamples = (20 - 3) * hop;

/** The track as playback hears it, without volume and pan. */
juce::AudioBuffer<float> renderTrack (AudioTrack::Ptr track)
{
    TrackRenderer renderer (track, track->getNumChannels());
    juce::AudioBuffer<float> out (track->getNumChannels(), (int) track->getNumSamples()), block (track->getNumChannels(), hop);
    for (int b = 0; b < track->getNumBlocks(); ++b)
    {
        renderer.renderRawBlock (b, block);
        for (int c = 0; c < out.getNumChannels(); ++c)
            out.copyFrom (c, b * hop, block, c, 0, juce::jmin (hop, out.getNumSamples() - b * hop));
    }
    return out;
}

/** The project's mix, as a bounce hears it. */
juce::AudioBuffer<float> renderMix (Mixer& mixer)
{
    Mixer::RenderSession session (mixer);
    juce::AudioBuffer<float> out (mixer.getNumBounceChannels(), length), block (mixer.getNumBounceChannels(), hop);
    for (int b = 0; b < mixer.getNumFrames(); ++b)
    {
        session.renderFrame (b, block);
        for (int c = 0; c < out.getNumChannels(); ++c)
            out.copyFrom (c, b * hop, block, c, 0, juce::jmin (hop, length - b * hop));
    }
    return out;
}

juce::AudioBuffer<float> decodedAudio (const AudioTrack& track)
{
    juce::AudioBuffer<float> out (track.getNumChannels(), (int) track.getNumSamples());
    for (int c = 0; c < out.getNumChannels(); ++c)
        track.getContent()->audio->readFrames (c, 0, out.getNumSamples(), out.getWritePointer (c));
    return out;
}

/** test equals reference to within 90 dB for float files; integer files may each be
    a half step off the exact value once for every rounding on the way. */
void expectSame (const juce::AudioBuffer<float>& reference, const juce::AudioBuffer<float>& test, int bits, int roundings)
{
    ASSERT_EQ (test.getNumChannels(), reference.getNumChannels());
    ASSERT_EQ (test.getNumSamples(), reference.getNumSamples());
    const auto n = reference.getNumSamples();
    for (int c = 0; c < reference.getNumChannels(); ++c)
    {
        if (bits == 32)
        {
            EXPECT_GE (test::signalToErrorDb (reference.getReadPointer (c), test.getReadPointer (c), n), 90.0);
            continue;
        }
        const auto step = 1.0f / (float) (1 << (bits - 1));
        float worst = 0.0f;
        for (int i = 0; i < n; ++i)
            worst = juce::jmax (worst, std::abs (test.getSample (c, i) - reference.getSample (c, i)));
        EXPECT_LE (worst, (float) roundings * 0.5f * step + 1.0e-6f) << "channel " << c;
    }
}

float rms (const juce::AudioBuffer<float>& audio, juce::Range<int> samples)
{
    return audio.getRMSLevel (0, samples.getStart(), samples.getLength());
}

juce::StringArray namesOf (const Mixer& mixer)
{
    juce::StringArray names;
    for (auto* t : mixer.getAllTracks())
        names.add (t->getName());
    return names;
}

/** A master track of two tones (440 Hz and 1500 Hz) in a WAV file of the given depth. */
struct Project
{
    explicit Project (int channels = 2, int bits = 32)
    {
        audio = test::makeSine (channels, length, rate, 440.0, 0.25f);
        const auto high = test::makeSine (channels, length, rate, 1500.0, 0.25f);
        for (int c = 0; c < channels; ++c)
            audio.addFrom (c, 0, high, c, 0, length);

        const auto folder = dir.get().getChildFile ("song");
        folder.createDirectory();
        const auto rendered = folder.getChildFile (juce::String ("song") + AudioTrack::renderedFileSuffix);
        juce::String error;
        if (test::writeAudioFile (rendered, audio, rate, bits))
            if (auto parsed = WavParsedAudio::open (rendered, error))
            {
                track = new AudioTrack ("song", AudioTrack::OriginId::master);
                if (track->setAudio (std::move (parsed), folder, "song", bits, rendered).failed()
                    || track->generateAsig().failed())
                    track = nullptr;
            }
        if (track != nullptr)
            mixer.setMasterTrack (track);
    }

    void maskHighTone()
    {
        for (int c = 0; c < track->getNumChannels(); ++c)
            ASSERT_TRUE (track->getAsig()->setMask (c, highToneBins, editedFrames,
                                                    MaskMatrix::Zero (highToneBins.getLength(), editedFrames.getLength())));
    }

    void selectHighTone (juce::Range<int> frames = editedFrames)
    {
        ASSERT_TRUE (track->getAsig()->setSelection (highToneBins, frames,
                                                     MaskMatrix::Ones (highToneBins.getLength(), frames.getLength()), true));
    }

    /** Pumps the message loop until done() holds; false after 20 s. */
    static bool waitUntil (const std::function<bool()>& done)
    {
        const auto deadline = juce::Time::getMillisecondCounter() + 20000;
        while (! done() && juce::Time::getMillisecondCounter() < deadline)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
        return done();
    }

    /** Freezes the track and waits for the job's report; no report when it was refused. */
    std::optional<Job::Outcome> freeze (Job::Options options = {}, const std::function<void()>& whileRunning = {})
    {
        auto outcome = std::make_shared<std::optional<Job::Outcome>>();
        options.onDone = [outcome] (const Job::Outcome& o) { *outcome = o; };
        if (mixer.freezeTrack (track, options) != Job::Refusal::none)
            return std::nullopt;
        EXPECT_TRUE (track->isBusy());
        if (whileRunning)
            whileRunning();
        EXPECT_TRUE (waitUntil ([&] { return outcome->has_value(); }));
        EXPECT_FALSE (track->isBusy());
        return *outcome;
    }

    int numFolders() const { return dir.get().getNumberOfChildFiles (juce::File::findDirectories); }

    test::TemporaryDirectory dir;
    juce::AudioBuffer<float> audio;
    Mixer mixer;
    AudioTrack::Ptr track;
};
} // namespace

TEST (ManualSeparationJob, FreezeSplitsATrackIntoWhatPlaysAndWhatTheMaskRemoved)
{
    const struct
    {
        int channels, bits;
        bool flipped;
    } cases[] = { { 2, 32, false }, { 1, 16, false }, { 2, 24, true } };

    for (const auto& k : cases)
    {
        SCOPED_TRACE (juce::String (k.channels) + " channels, " + juce::String (k.bits) + " bits"
                      + (k.flipped ? ", flipped" : ""));
        Project p (k.channels, k.bits);
        ASSERT_NE (p.track, nullptr);
        p.maskHighTone();
        p.track->flip (k.flipped);
        const auto heard = renderTrack (p.track);
        const auto original = decodedAudio (*p.track);

        const auto outcome = p.freeze();
        ASSERT_TRUE (outcome.has_value());
        ASSERT_TRUE (outcome->result.wasOk()) << outcome->result.getErrorMessage();
        ASSERT_EQ (outcome->newTracks.size(), 2);
        const auto frozen = outcome->newTracks[0], rest = outcome->newTracks[1];

        EXPECT_EQ (namesOf (p.mixer), juce::StringArray ("song", "song Frozen", "Not Separated"));
        for (auto& t : { frozen, rest })
        {
            EXPECT_EQ (t->getParentTrack(), p.track.get());
            EXPECT_EQ (t->getOrigin(), AudioTrack::OriginId::freeze);
            EXPECT_TRUE (t->isStoreReady());
            EXPECT_EQ ((double) t->getTree()[TrackIds::asigProgress], 1.0);
            EXPECT_EQ (t->getSampleRate(), rate);
            EXPECT_EQ (t->getNumChannels(), k.channels);
            EXPECT_EQ (t->getNumSamples(), (juce::int64) length);
            juce::String error;
            const auto file = WavParsedAudio::open (t->getAudioFile(), error);
            ASSERT_NE (file, nullptr) << error;
            EXPECT_EQ (file->getBitsPerSample(), k.bits);
        }

        // The frozen track is what playback heard; where nothing was edited, the track's
        // own samples, and silence in the other one.
        const auto frozenAudio = decodedAudio (*frozen), restAudio = decodedAudio (*rest);
        expectSame (heard, frozenAudio, k.bits, 1);
        const auto& unedited = k.flipped ? restAudio : frozenAudio;
        const auto& silent = k.flipped ? frozenAudio : restAudio;
        for (int c = 0; c < k.channels; ++c)
        {
            EXPECT_EQ (silent.getMagnitude (c, 0, untouchedSamples), 0.0f);
            for (int i = 0; i < untouchedSamples; ++i)
                ASSERT_EQ (unedited.getSample (c, i), original.getSample (c, i)) << i;
        }
        // The edit is committed: the track is unedited and muted, and the mix of its two
        // parts is the track as it was before any edit.
        EXPECT_FALSE (p.track->hasEdits());
        EXPECT_FALSE (p.track->getAsig()->isFlipped());
        EXPECT_TRUE (p.track->isMuted());
        EXPECT_EQ (p.mixer.getActiveTrack(), frozen);
        expectSame (original, renderMix (p.mixer), k.bits, 2);
    }
}

TEST (ManualSeparationJob, MoveToNewTrackTakesTheSelectedShareOutOfTheTrack)
{
    for (const bool maskedAndFlipped : { false, true })
    {
        SCOPED_TRACE (maskedAndFlipped ? "through a flipped mask" : "unmasked");
        Project p;
        ASSERT_NE (p.track, nullptr);
        if (maskedAndFlipped)
        {
            p.maskHighTone();
            p.track->flip (true);
        }
        const auto before = renderTrack (p.track); // without the selection's preview gain
        p.selectHighTone ({ 10, 60 });

        const auto outcome = p.freeze();
        ASSERT_TRUE (outcome.has_value());
        ASSERT_TRUE (outcome->result.wasOk()) << outcome->result.getErrorMessage();
        ASSERT_EQ (outcome->newTracks.size(), 1);
        const auto moved = outcome->newTracks[0];
        EXPECT_EQ (namesOf (p.mixer), juce::StringArray ("song", "song Selection"));
        EXPECT_EQ (moved->getOrigin(), AudioTrack::OriginId::selection);
        EXPECT_EQ (moved->getParentTrack(), p.track.get());
        EXPECT_FALSE (p.track->getAsig()->hasSelection());
        EXPECT_FALSE (p.track->isMuted());

        // The two tracks add up to what the track played.
        const auto after = renderTrack (p.track), movedAudio = decodedAudio (*moved);
        auto sum = after;
        for (int c = 0; c < sum.getNumChannels(); ++c)
            sum.addFrom (c, 0, movedAudio, c, 0, length);
        expectSame (before, sum, 32, 0);

        // The moved track holds the high tone where it was selected and heard (frames 20 to
        // 45 either way), and the track kept the low tone there, unless the flipped mask
        // played only the high tone.
        const juce::Range<int> middle (30 * hop, 40 * hop);
        const auto toneRms = 0.25f / std::sqrt (2.0f);
        EXPECT_NEAR (rms (movedAudio, middle), toneRms, toneRms * 0.1f);
        EXPECT_NEAR (rms (after, middle), maskedAndFlipped ? 0.0f : toneRms, toneRms * 0.1f);
        EXPECT_EQ (movedAudio.getMagnitude (0, 0, (10 - 3) * hop), 0.0f);
    }
}

TEST (ManualSeparationJob, RefusesBusyLockedAndUneditedTracks)
{
    const struct
    {
        const char* name;
        std::function<void (Project&)> setUp;
        Job::Refusal expected;
    } cases[] = {
        { "a separation runs",
          [] (Project& p) {
              p.maskHighTone();
              p.track->separationProgressed (0.5f);
          },
          Job::Refusal::trackLocked },
        { "a freeze runs",
          [] (Project& p) {
              p.maskHighTone();
              p.mixer.freezeTrack (p.track);
          },
          Job::Refusal::trackLocked },
        { "locked",
          [] (Project& p) {
              p.maskHighTone();
              p.track->setLocked (true);
          },
          Job::Refusal::trackLocked },
        { "no edits", [] (Project&) {}, Job::Refusal::nothingToFreeze },
        { "not in the project",
          [] (Project& p) {
              p.maskHighTone();
              p.mixer.setMasterTrack (nullptr);
          },
          Job::Refusal::nothingToFreeze },
    };

    for (const auto& k : cases)
    {
        SCOPED_TRACE (k.name);
        Project p;
        ASSERT_NE (p.track, nullptr);
        k.setUp (p);
        const auto busy = p.track->isBusy();
        const auto tracks = p.mixer.getAllTracks().size();
        EXPECT_EQ (p.mixer.freezeTrack (p.track), k.expected);
        EXPECT_EQ (p.track->isBusy(), busy);
        EXPECT_EQ (p.mixer.getAllTracks().size(), tracks);
    }
    Mixer mixer;
    EXPECT_EQ (mixer.freezeTrack (nullptr), Job::Refusal::nothingToFreeze);
}

TEST (ManualSeparationJob, AFailedOrCancelledJobChangesNothingAndFreesTheTrack)
{
    const struct
    {
        const char* name;
        std::function<void (Project&, Job::Options&)> setUp;
        std::function<void (Project&, Job::Options&)> whileRunning;
    } cases[] = {
        { "unwritable folder",
          [] (Project& p, Job::Options& o) {
              const auto file = p.dir.get().getChildFile ("a file");
              file.replaceWithText ("not a folder");
              o.dataRoot = file.getChildFile ("tracks");
          },
          {} },
        { "cancelled", [] (Project&, Job::Options& o) { o.progress = new Progress(); },
          [] (Project&, Job::Options& o) { o.progress->cancel(); } },
        { "edited meanwhile", [] (Project&, Job::Options& o) { o.progress = new Progress(); },
          [] (Project& p, Job::Options& o) {
              // Once the job has done its work, before it hands the result over.
              const auto deadline = juce::Time::getMillisecondCounter() + 20000;
              while (o.progress->getProgress() < 1.0f && juce::Time::getMillisecondCounter() < deadline)
                  juce::Thread::yield();
              p.track->getAsig()->setMask (0, { 0, 1 }, { 0, 1 }, MaskMatrix::Zero (1, 1));
          } },
    };

    for (const auto& k : cases)
    {
        SCOPED_TRACE (k.name);
        Project p;
        ASSERT_NE (p.track, nullptr);
        p.maskHighTone();
        Job::Options options;
        k.setUp (p, options);
        const auto folders = p.numFolders();

        const auto outcome = p.freeze (options, [&] {
            if (k.whileRunning)
                k.whileRunning (p, options);
        });
        ASSERT_TRUE (outcome.has_value());
        EXPECT_TRUE (outcome->result.failed());
        EXPECT_TRUE (outcome->newTracks.isEmpty());
        EXPECT_EQ (p.track->getSeparationProgress(), 0.0f);
        EXPECT_EQ (namesOf (p.mixer), juce::StringArray ("song"));
        EXPECT_TRUE (p.track->hasEdits());
        EXPECT_FALSE (p.track->isMuted());
        EXPECT_EQ (p.numFolders(), folders); // nothing left behind

        // The track is not locked: it freezes now.
        const auto again = p.freeze();
        ASSERT_TRUE (again.has_value());
        EXPECT_TRUE (again->result.wasOk()) << again->result.getErrorMessage();
    }
}
