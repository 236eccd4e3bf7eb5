#include "appcore/SettingsManager.h"
#include "support/TestSignals.h"
#include "support/TestTracks.h"
#include "tracks/TrackRenderer.h"

#include <gtest/gtest.h>

#include <juce_audio_formats/juce_audio_formats.h>

#include <thread>

using namespace kalder;

namespace
{
constexpr int rate = 22050;

/** Every block of a track through a renderer of its own, before volume and pan. */
juce::AudioBuffer<float> renderTrack (AudioTrack::Ptr track)
{
    TrackRenderer renderer (track, track->getNumChannels());
    const auto hop = track->getBufferSize();
    juce::AudioBuffer<float> all (track->getNumChannels(), track->getNumBlocks() * hop), block (all.getNumChannels(), hop);
    for (int b = 0; b < track->getNumBlocks(); ++b)
    {
        renderer.renderRawBlock (b, block);
        for (int c = 0; c < all.getNumChannels(); ++c)
            all.copyFrom (c, b * hop, block, c, 0, hop);
    }
    all.setSize (all.getNumChannels(), (int) track->getNumSamples(), true);
    return all;
}

double worstChannelDb (const juce::AudioBuffer<float>& expected, const juce::AudioBuffer<float>& actual)
{
    auto worst = 1000.0;
    for (int c = 0; c < expected.getNumChannels(); ++c)
        worst = juce::jmin (
            worst, test::signalToErrorDb (expected.getReadPointer (c), actual.getReadPointer (c), expected.getNumSamples()));
    return worst;
}

void halveBand (AudioTrack& track)
{
    auto* asig = track.getAsig();
    asig->setMask (0, { 50, 300 }, { 0, asig->getNumFrames() }, MaskMatrix::Constant (250, asig->getNumFrames(), 0.5f));
}
} // namespace

TEST (AudioTrack, SilenceFramesSilencesTheBlocksAndKeepsTheRestAndTheEdits)
{
    test::TemporaryDirectory dir;
    const auto audio = test::makeNoise (2, 3 * rate + 123, 5);
    auto track = test::makeTrack (dir.get().getChildFile ("t"), "t", audio, rate);
    ASSERT_NE (track, nullptr);
    halveBand (*track);
    const auto hop = track->getBufferSize();
    const auto generation = track->getRenderGeneration();

    // A renderer made before the change keeps working through it.
    TrackRenderer early (track, 2);
    juce::AudioBuffer<float> block (2, hop);
    early.renderRawBlock (12, block);

    ASSERT_TRUE (track->silenceFrames ({ 10, 20 }).wasOk());
    EXPECT_GT (track->getRenderGeneration(), generation);
    EXPECT_TRUE (track->hasEdits());

    // The rendered file: zeros over the blocks, the rest exactly as it was.
    auto expected = audio;
    for (int c = 0; c < 2; ++c)
        expected.clear (c, 10 * hop, 10 * hop);
    const auto file = test::readAudioFile (track->getAudioFile());
    ASSERT_EQ (file.getNumSamples(), audio.getNumSamples());
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < audio.getNumSamples(); ++i)
            ASSERT_EQ (file.getSample (c, i), expected.getSample (c, i)) << c << " " << i;

    // The store was analysed again under the kept mask: the track sounds like a track
    // made from the silenced audio with the same edit.
    auto reference = test::makeTrack (dir.get().getChildFile ("r"), "r", expected, rate);
    ASSERT_NE (reference, nullptr);
    halveBand (*reference);
    EXPECT_GE (worstChannelDb (renderTrack (reference), renderTrack (track)), 110.0);

    early.renderRawBlock (12, block);
    EXPECT_LT (block.getMagnitude (0, hop), 1.0e-4f); // inside the silence: only the mask's tails
}

TEST (AudioTrack, SilenceFramesClampsItsRangeAndReportsAMissingFile)
{
    test::TemporaryDirectory dir;
    const auto audio = test::makeNoise (1, rate, 6);
    auto track = test::makeTrack (dir.get().getChildFile ("t"), "t", audio, rate);
    ASSERT_NE (track, nullptr);
    const auto hop = track->getBufferSize();

    EXPECT_TRUE (track->silenceFrames ({ 1000, 2000 }).wasOk()); // past the end: nothing
    EXPECT_TRUE (track->silenceFrames ({ 3, 3 }).wasOk());
    const auto untouched = test::readAudioFile (track->getAudioFile());
    ASSERT_EQ (untouched.getNumSamples(), audio.getNumSamples());
    for (int i = 0; i < audio.getNumSamples(); ++i)
        ASSERT_EQ (untouched.getSample (0, i), audio.getSample (0, i)) << i;

    ASSERT_TRUE (track->silenceFrames ({ -4, 2 }).wasOk()); // clamped at the start
    const auto file = test::readAudioFile (track->getAudioFile());
    EXPECT_EQ (file.getMagnitude (0, 0, 2 * hop), 0.0f);
    EXPECT_EQ (file.getSample (0, 2 * hop), audio.getSample (0, 2 * hop));
    EXPECT_EQ (file.getNumSamples(), audio.getNumSamples());

    track->getAudioFile().deleteFile();
    const auto r = track->silenceFrames ({ 0, 1 });
    EXPECT_TRUE (r.failed());
    EXPECT_TRUE (r.getErrorMessage().contains ("missing"));
    EXPECT_FALSE (track->getAudioFile().existsAsFile());
}

TEST (AudioTrack, SilencingWhileAnotherThreadRendersIsSafe)
{
    test::TemporaryDirectory dir;
    const auto audio = test::makeNoise (2, 2 * rate, 7);
    auto track = test::makeTrack (dir.get().getChildFile ("t"), "t", audio, rate);
    ASSERT_NE (track, nullptr);

    std::atomic<bool> stop { false };
    std::thread renderer ([&] {
        TrackRenderer r (track, 2);
        juce::AudioBuffer<float> block (2, track->getBufferSize());
        for (int b = 0; ! stop.load(); b = (b + 7) % track->getNumBlocks())
            r.renderBlock (b, block);
    });
    for (int k = 0; k < 8; ++k)
        EXPECT_TRUE (track->silenceFrames ({ 4 * k, 4 * k + 2 }).wasOk());
    stop = true;
    renderer.join();

    auto expected = audio;
    const auto hop = track->getBufferSize();
    for (int k = 0; k < 8; ++k)
        for (int c = 0; c < 2; ++c)
            expected.clear (c, 4 * k * hop, 2 * hop);
    EXPECT_GE (worstChannelDb (expected, renderTrack (track)), 110.0);
}

TEST (AudioTrack, SetAsigTakesOnlyAStoreOfItsOwnAudio)
{
    test::TemporaryDirectory dir;
    const auto audio = test::makeNoise (2, rate, 8);
    auto track = test::makeTrack (dir.get().getChildFile ("t"), "t", audio, rate);
    ASSERT_NE (track, nullptr);
    halveBand (*track);
    const auto edited = renderTrack (track);
    track->getTree().setProperty (TrackIds::asigProgress, 0.5, nullptr);

    // A store that is not ready: the track plays its decoded audio, progress unchanged.
    auto generation = track->getRenderGeneration();
    ASSERT_TRUE (track->setAsig (std::make_unique<Asig>()).wasOk());
    EXPECT_FALSE (track->isStoreReady());
    EXPECT_GT (track->getRenderGeneration(), generation);
    EXPECT_EQ ((double) track->getTree()[TrackIds::asigProgress], 0.5);
    EXPECT_GE (worstChannelDb (audio, renderTrack (track)), 110.0);

    // The same track's store reopened from its files: edits and all, and ready.
    auto reopened = std::make_unique<Asig>();
    ASSERT_TRUE (reopened->openAsig (dir.get().getChildFile ("t"), "t").wasOk());
    generation = track->getRenderGeneration();
    ASSERT_TRUE (track->setAsig (std::move (reopened)).wasOk());
    EXPECT_TRUE (track->isStoreReady());
    EXPECT_GT (track->getRenderGeneration(), generation);
    EXPECT_EQ ((double) track->getTree()[TrackIds::asigProgress], 1.0);
    EXPECT_GE (worstChannelDb (edited, renderTrack (track)), 110.0);

    // A store of other audio is refused and the track keeps its own.
    auto other = test::makeTrack (dir.get().getChildFile ("o"), "o", test::makeNoise (2, rate / 2, 9), rate);
    ASSERT_NE (other, nullptr);
    auto foreign = std::make_unique<Asig>();
    ASSERT_TRUE (foreign->openAsig (dir.get().getChildFile ("o"), "o").wasOk());
#if ! JUCE_DEBUG
    EXPECT_TRUE (track->setAsig (std::move (foreign)).failed());
    EXPECT_GE (worstChannelDb (edited, renderTrack (track)), 110.0);
#endif
}

TEST (AudioTrack, SilencingDuringTheAnalysisEndsInTheSilencedSound)
{
    test::TemporaryDirectory dir;
    const auto audio = test::makeNoise (2, 20 * rate, 10);
    auto track = test::makeTrack (dir.get().getChildFile ("t"), "t", audio, rate, false);
    ASSERT_NE (track, nullptr);

    std::thread analysis ([&] { EXPECT_TRUE (track->generateAsig().wasOk()); });
    EXPECT_TRUE (track->silenceFrames ({ 5, 10 }).wasOk());
    analysis.join();
    ASSERT_TRUE (track->isStoreReady());

    // Whichever came first, the store holds the silenced audio.
    auto expected = audio;
    const auto hop = track->getBufferSize();
    for (int c = 0; c < 2; ++c)
        expected.clear (c, 5 * hop, 5 * hop);
    EXPECT_GE (worstChannelDb (expected, renderTrack (track)), 110.0);
}

TEST (AudioTrack, TreeDefaultsColourEditorsAndSeparationListeners)
{
    test::TemporaryDirectory dir;
    auto track = test::makeTrack (dir.get().getChildFile ("t"), "voice", test::makeNoise (2, 20 * rate, 12), rate, false);
    ASSERT_NE (track, nullptr);
    auto& tree = track->getTree();

    // Defaults: a colour of its own (the same for the same name), no editor, no preview.
    const auto colour = tree[TrackIds::colour].toString();
    EXPECT_EQ (colour.length(), 8);
    EXPECT_TRUE (colour.startsWith ("ff")) << colour;
    EXPECT_EQ (AudioTrack ("voice", AudioTrack::OriginId::separation).getTree()[TrackIds::colour].toString(), colour);
    EXPECT_EQ ((int) tree[TrackIds::editor], (int) Editor::Type::none);
    EXPECT_FALSE ((bool) tree[TrackIds::previewPitchEdits]);
    ASSERT_TRUE (tree.hasProperty (TrackIds::previewPitchEdits));

    // Names: one line, trimmed, cut at the limit; nothing left is refused.
    const juce::String longName = juce::String::repeatedString ("x", 10000);
    const struct
    {
        juce::String typed, stored; // stored empty: refused
    } names[] = { { "  Lead vocal \n", "Lead vocal" },
                  { "two\r\nlines", "two  lines" },
                  { longName, longName.substring (0, AudioTrack::maxNameLength) },
                  { "", {} },
                  { " \t\n ", {} } };
    for (const auto& n : names)
    {
        ASSERT_TRUE (track->rename ("before"));
        EXPECT_EQ (track->rename (n.typed), n.stored.isNotEmpty()) << n.typed.substring (0, 20);
        EXPECT_EQ (track->getName(), n.stored.isNotEmpty() ? n.stored : "before");
    }
    track->rename ("voice");

    track->setCustomColour (0xff102a3bu);
    EXPECT_EQ (tree[TrackIds::colour].toString(), "ff102a3b");
    EXPECT_EQ (track->getCustomColour(), 0xff102a3bu);

    // The spectral editor needs the store: it is analysed on the track's own pool.
    track->setEditor (Editor::Type::spectral);
    EXPECT_EQ (track->getEditor(), Editor::Type::spectral);
    ASSERT_TRUE (test::pumpMessagesUntil ([&] { return (double) tree[TrackIds::asigProgress] == 1.0; }));
    EXPECT_TRUE (track->isStoreReady());

    // Another store installed during an analysis: the analysis stops and does not mark
    // the new store ready.
    auto other = test::makeTrack (dir.get().getChildFile ("o"), "o", test::makeNoise (2, 20 * rate, 13), rate, false);
    ASSERT_NE (other, nullptr);
    other->setEditor (Editor::Type::spectral);
    ASSERT_TRUE (other->setAsig (std::make_unique<Asig>()).wasOk());
    EXPECT_FALSE (other->isStoreReady());
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50); // ms: its last reports arrive
    EXPECT_FALSE (other->isStoreReady());
    EXPECT_LT ((double) other->getTree()[TrackIds::asigProgress], 1.0);

    // The default view of the settings, whose choice number is the editor's.
    SettingsManager settings (dir.get().getChildFile ("settings.json"));
    const SettingsManager::ScopedInstance installed (settings);
    for (const auto& [view, type] : { std::pair (SettingsIds::melodyEditorView, Editor::Type::melody),
                                      std::pair (SettingsIds::mixerView, Editor::Type::none),
                                      std::pair (SettingsIds::spectralEditorView, Editor::Type::spectral) })
    {
        ASSERT_TRUE (settings.setDefaultEditor (view).wasOk());
        track->setEditorToDefault();
        EXPECT_EQ (track->getEditor(), type) << view;
    }

    // From another thread the change reaches the tree on the message thread.
    std::thread ([&] { track->setEditor (Editor::Type::melody); }).join();
    EXPECT_TRUE (test::pumpMessagesUntil ([&] { return track->getEditor() == Editor::Type::melody; }));

    // Separation progress reaches the listeners, the last registered first.
    struct Recorder : AudioTrack::Listener
    {
        Recorder (std::vector<juce::String>& l, juce::String n) : log (l), name (std::move (n)) {}
        void audioTrackSeparationStarted (AudioTrack::Ptr, const AudioTrack::RunningSeparation&) override
        {
            log.push_back (name + " started");
        }
        void audioTrackSeparationProgressed (float p, AudioTrack::Ptr t) override
        {
            log.push_back (name + " " + juce::String (p) + " " + t->getName());
        }
        std::vector<juce::String>& log;
        juce::String name;
    };
    std::vector<juce::String> log;
    Recorder first (log, "first"), second (log, "second");
    track->addListener (&first);
    track->addListener (&second);
    track->separationProgressed (0.25f);
    track->removeListener (&second);
    track->separationProgressed (1.0f);
    track->removeListener (&first);
    EXPECT_EQ (log, (std::vector<juce::String> { "second 0.25 voice", "first 0.25 voice", "first 1 voice" }));
}
