#include "tracks/MixerBounce.h"
#include "support/TestSignals.h"
#include "support/TestTracks.h"

#include <gtest/gtest.h>

#include <tuple>
#include <unistd.h>

using namespace kalder;

namespace
{
struct ReadBack
{
    juce::AudioBuffer<float> audio;
    double sampleRate = 0;
    int bits = 0;
    juce::String format;
};

ReadBack readBack (const juce::File& file)
{
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (file));
    ReadBack r;
    if (reader == nullptr)
        return r;
    r.audio.setSize ((int) reader->numChannels, (int) reader->lengthInSamples);
    reader->read (&r.audio, 0, (int) reader->lengthInSamples, 0, true, true);
    r.sampleRate = reader->sampleRate;
    r.bits = (int) reader->bitsPerSample;
    r.format = reader->getFormatName();
    return r;
}

struct BounceProject
{
    BounceProject (int channels, int samples, int rate = 22050)
        : audio (test::makeNoise (channels, samples, 17)),
          master (test::makeTrack (dir.get().getChildFile ("m"), "m", audio, rate))
    {
        mixer.setMasterTrack (master);
    }

    test::TemporaryDirectory dir;
    juce::AudioBuffer<float> audio;
    AudioTrack::Ptr master;
    Mixer mixer;
};
} // namespace

TEST (MixerBounce, AnUneditedBounceIsTheInputExactlyInLengthAndFormat)
{
    BounceProject p (2, 22050 + 333);                         // not a multiple of the hop: a partial last block
    const auto target = p.dir.get().getChildFile ("out/mix"); // no extension, missing folder
    ASSERT_TRUE (MixerBounce::bounceMix (p.mixer, target).wasOk());

    const auto file = p.dir.get().getChildFile ("out/mix.wav");
    ASSERT_TRUE (file.existsAsFile());
    const auto back = readBack (file);
    EXPECT_EQ (back.format, "WAV file");
    EXPECT_EQ (back.sampleRate, 22050.0);
    EXPECT_EQ (back.bits, 32);
    ASSERT_EQ (back.audio.getNumChannels(), 2);
    ASSERT_EQ (back.audio.getNumSamples(), p.audio.getNumSamples());
    for (int c = 0; c < 2; ++c)
        EXPECT_GE (test::signalToErrorDb (p.audio.getReadPointer (c), back.audio.getReadPointer (c), p.audio.getNumSamples()),
                   110.0);

    // AIFF by extension, mono stays mono.
    BounceProject mono (1, 10000);
    ASSERT_TRUE (MixerBounce::bounceMix (mono.mixer, mono.dir.get().getChildFile ("m.aiff")).wasOk());
    const auto aiff = readBack (mono.dir.get().getChildFile ("m.aiff"));
    EXPECT_EQ (aiff.format, "AIFF file");
    EXPECT_EQ (aiff.audio.getNumChannels(), 1);
    EXPECT_EQ (aiff.audio.getNumSamples(), 10000);
}

TEST (MixerBounce, AllMutedGivesSilenceOfTheFullLength)
{
    BounceProject p (2, 9000);
    auto child = test::makeTrack (p.dir.get().getChildFile ("c"), "c", test::makeNoise (2, 9000, 3), 22050);
    p.mixer.addTrack (child);
    p.mixer.setActiveTrack (child);
    p.master->setMute (true);
    child->setMute (true);

    ASSERT_TRUE (MixerBounce::bounceMix (p.mixer, p.dir.get().getChildFile ("silent.wav")).wasOk());
    const auto back = readBack (p.dir.get().getChildFile ("silent.wav"));
    EXPECT_EQ (back.audio.getNumSamples(), 9000);
    EXPECT_EQ (back.audio.getMagnitude (0, back.audio.getNumSamples()), 0.0f);
}

TEST (MixerBounce, CancellingHalfwayLeavesTheTargetAsItWasAndNoPartialFile)
{
    BounceProject p (2, 22050 * 2);
    struct CancelAtHalf : Progress::Listener
    {
        void progressChanged (float v, Progress::Ptr source) override
        {
            if (v >= 0.5f)
                source->cancel();
        }
    } canceller;

    const auto folder = p.dir.get().getChildFile ("out");
    ASSERT_TRUE (folder.createDirectory());
    const auto kept = folder.getChildFile ("kept.wav");
    ASSERT_TRUE (kept.replaceWithText ("previous content"));
    for (const auto& target : { folder.getChildFile ("half.wav"), kept })
    {
        Progress::Ptr progress = new Progress();
        progress->addListener (&canceller);
        const auto result = MixerBounce::bounceMix (p.mixer, target, progress);
        EXPECT_TRUE (result.failed());
        EXPECT_EQ (result.getErrorMessage(), "Cancelled");
        EXPECT_GE (progress->getProgress(), 0.5f); // it did run until then
    }
    EXPECT_EQ (kept.loadFileAsString(), "previous content");
    EXPECT_EQ (folder.getNumberOfChildFiles (juce::File::findFiles), 1) << "a temporary or partial file was left";
}

TEST (MixerBounce, FailuresLeaveTheTargetAsItWas)
{
    BounceProject p (1, 5000);
    const auto existing = p.dir.get().getChildFile ("keep.wav");
    ASSERT_TRUE (existing.replaceWithText ("previous content"));

    EXPECT_TRUE (MixerBounce::bounceMix (p.mixer, p.dir.get().getChildFile ("x.mp4")).failed());
    EXPECT_FALSE (p.dir.get().getChildFile ("x.mp4").exists());

    // An unwritable folder.
    const auto locked = p.dir.get().getChildFile ("locked");
    ASSERT_TRUE (locked.createDirectory());
    ASSERT_TRUE (locked.setReadOnly (true));
    if (::geteuid() != 0) // root writes anywhere
        EXPECT_TRUE (MixerBounce::bounceMix (p.mixer, locked.getChildFile ("a.wav")).failed());
    locked.setReadOnly (false);

    // A track that lost its audio file is not bounced; the old target stays.
    p.master->getAudioFile().deleteFile();
    EXPECT_TRUE (MixerBounce::bounceMix (p.mixer, existing).failed());
    EXPECT_EQ (existing.loadFileAsString(), "previous content");

    Mixer empty;
    EXPECT_TRUE (MixerBounce::bounceMix (empty, existing).failed());
}

TEST (MixerBounce, TrackExportWritesTheMaskedTrackAndReplacesOnlyWhenComplete)
{
    BounceProject p (2, 22050);
    auto* asig = p.master->getAsig();
    ASSERT_TRUE (asig->setMask (1, { 0, asig->getNumFreqs() }, { 0, asig->getNumFrames() },
                                MaskMatrix::Zero (asig->getNumFreqs(), asig->getNumFrames())));
    p.master->setVolume (0.1f); // export ignores volume and pan

    // The format follows the extension; none gives WAV.
    for (const auto& [name, written, format] :
         { std::tuple ("track", "track.wav", "WAV file"), std::tuple ("track.aiff", "track.aiff", "AIFF file") })
    {
        ASSERT_TRUE (
            MixerBounce::exportTrack (p.master, p.dir.get().getChildFile (name), { 0, p.master->getNumBlocks() }, 24).wasOk());
        const auto back = readBack (p.dir.get().getChildFile (written));
        EXPECT_EQ (back.format, format);
        EXPECT_EQ (back.bits, 24);
        ASSERT_EQ (back.audio.getNumSamples(), 22050);
        EXPECT_GE (test::signalToErrorDb (p.audio.getReadPointer (0), back.audio.getReadPointer (0), 22050), 80.0); // 24-bit
        EXPECT_LT (back.audio.getMagnitude (1, 0, 22050), 1e-5f);
    }

    const auto file = p.dir.get().getChildFile ("track.wav");
    Progress::Ptr cancelled = new Progress();
    cancelled->cancel();
    ASSERT_TRUE (file.replaceWithText ("old"));
    EXPECT_TRUE (MixerBounce::exportTrack (p.master, file, { 0, p.master->getNumBlocks() }, 24, cancelled).failed());
    EXPECT_EQ (file.loadFileAsString(), "old");
}

TEST (MixerBounce, ExportAllTracksWritesEveryTrackUneditedInItsOwnFormatAndReplacesNothing)
{
    BounceProject p (2, 9000);
    // A second track named like the first, declared 16-bit, and edited: masked to silence
    // with a selection on top. The export ignores both.
    const auto twinAudio = test::makeNoise (1, 7000, 8);
    const auto twinFolder = p.dir.get().getChildFile ("twin");
    ASSERT_TRUE (twinFolder.createDirectory());
    const auto twinFile = twinFolder.getChildFile (juce::String ("m") + AudioTrack::renderedFileSuffix);
    ASSERT_TRUE (test::writeAudioFile (twinFile, twinAudio, 22050));
    AudioTrack::Ptr twin = new AudioTrack ("m", AudioTrack::OriginId::separation);
    ASSERT_TRUE (twin->setAudio (std::make_unique<ParsedAudioBuffer> (twinAudio, 22050), twinFolder, "m", 16, twinFile).wasOk());
    ASSERT_TRUE (twin->generateAsig().wasOk());
    auto* asig = twin->getAsig();
    ASSERT_TRUE (asig->setMask (0, { 0, asig->getNumFreqs() }, { 0, asig->getNumFrames() },
                                MaskMatrix::Zero (asig->getNumFreqs(), asig->getNumFrames())));
    ASSERT_TRUE (asig->setSelection ({ 0, 100 }, { 0, 10 }, MaskMatrix::Ones (100, 10), true));
    p.mixer.addTrack (twin);
    p.mixer.setActiveTrack (twin);

    // A file of an earlier export is kept: the new ones are numbered past it.
    const auto folder = p.dir.get().getChildFile ("stems");
    ASSERT_TRUE (folder.createDirectory());
    ASSERT_TRUE (folder.getChildFile ("m.wav").replaceWithText ("earlier export"));
    const auto files = MixerBounce::getExportFiles (p.mixer.getAllTracks(), folder);
    ASSERT_EQ (files.size(), 2);
    EXPECT_EQ (files[0].getFileName(), "m 2.wav");
    EXPECT_EQ (files[1].getFileName(), "m 3.wav");

    ASSERT_TRUE (MixerBounce::exportAllTracks (p.mixer, folder).wasOk());
    EXPECT_EQ (folder.getChildFile ("m.wav").loadFileAsString(), "earlier export");
    const auto first = readBack (files[0]);
    const auto second = readBack (files[1]);
    EXPECT_EQ (first.bits, 32);
    EXPECT_EQ (second.bits, 16);
    EXPECT_EQ (second.sampleRate, 22050.0);
    ASSERT_EQ (first.audio.getNumChannels(), 2);
    ASSERT_EQ (first.audio.getNumSamples(), 9000);
    ASSERT_EQ (second.audio.getNumChannels(), 1);
    ASSERT_EQ (second.audio.getNumSamples(), 7000);
    // Sample for sample: the master exactly, the twin on the 16-bit grid.
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 9000; ++i)
            ASSERT_EQ (first.audio.getSample (c, i), p.audio.getSample (c, i)) << c << " " << i;
    for (int i = 0; i < 7000; ++i)
        ASSERT_NEAR (second.audio.getSample (0, i), twinAudio.getSample (0, i), 0.5f / 32768.0f) << i;

    // Cancelled once the first track is written: its file goes too.
    struct CancelLate : Progress::Listener
    {
        void progressChanged (float v, Progress::Ptr source) override
        {
            if (v >= 0.5f)
                source->cancel();
        }
    } canceller;
    Progress::Ptr progress = new Progress();
    progress->addListener (&canceller);
    EXPECT_TRUE (MixerBounce::exportAllTracks (p.mixer, folder, progress).failed());
    EXPECT_EQ (folder.getNumberOfChildFiles (juce::File::findFiles), 3);

    Mixer empty;
    EXPECT_TRUE (MixerBounce::exportAllTracks (empty, folder).failed());
}
