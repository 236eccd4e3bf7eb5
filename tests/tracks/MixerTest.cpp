#include "tracks/Mixer.h"
#include "appcore/ApplicationTree.h"
#include "appcore/CommandIDs.h"
#include "editing/ManualEditManager.h"
#include "support/TestSignals.h"
#include "support/TestTracks.h"
#include "tracks/UndoManagerAccessor.h"

#include <gtest/gtest.h>

using namespace kalder;

namespace
{
constexpr int rate = 8000;

/** A master and three children, each a sine of its own frequency and level. */
struct Project
{
    Project()
    {
        master = make ("master", 200.0, 0.1f);
        a = make ("a", 300.0, 0.2f);
        b = make ("b", 450.0, 0.3f);
        c = make ("c", 700.0, 0.4f);
        mixer.setMasterTrack (master);
        for (auto& t : { a, b, c })
            mixer.addTrack (t);
        mixer.setActiveTrack (a);
    }

    AudioTrack::Ptr make (const juce::String& name, double frequency, float level)
    {
        auto t = test::makeTrack (dir.get().getChildFile (name), name, test::makeSine (2, rate, rate, frequency, level), rate);
        EXPECT_NE (t, nullptr);
        return t;
    }

    /** Block 10 of the mix, left channel. */
    juce::AudioBuffer<float> block()
    {
        Mixer::RenderSession session (mixer);
        juce::AudioBuffer<float> out (mixer.getNumOutputChannels(), mixer.getFrameLength());
        session.renderFrame (10, out);
        return out;
    }

    /** Block 10 of a track alone. */
    juce::AudioBuffer<float> alone (AudioTrack::Ptr t)
    {
        TrackRenderer r (t, 2);
        juce::AudioBuffer<float> out (2, t->getBufferSize());
        r.renderBlock (10, out);
        return out;
    }

    static bool sameAs (const juce::AudioBuffer<float>& mix, std::initializer_list<juce::AudioBuffer<float>> parts)
    {
        juce::AudioBuffer<float> sum (mix.getNumChannels(), mix.getNumSamples());
        sum.clear();
        for (const auto& p : parts)
            for (int ch = 0; ch < mix.getNumChannels(); ++ch)
                sum.addFrom (ch, 0, p, ch, 0, mix.getNumSamples());
        for (int ch = 0; ch < mix.getNumChannels(); ++ch)
            if (test::signalToErrorDb (sum.getReadPointer (ch), mix.getReadPointer (ch), mix.getNumSamples()) < 120.0)
                return false;
        return true;
    }

    test::TemporaryDirectory dir;
    Mixer mixer;
    AudioTrack::Ptr master, a, b, c;
};
} // namespace

TEST (Mixer, SoloAndMuteRules)
{
    Project p;
    EXPECT_TRUE (Project::sameAs (p.block(), { p.alone (p.master), p.alone (p.a), p.alone (p.b), p.alone (p.c) }));

    p.b->setMute (true);
    EXPECT_TRUE (Project::sameAs (p.block(), { p.alone (p.master), p.alone (p.a), p.alone (p.c) }));

    // One soloed and one muted-and-soloed track: both play, nothing else.
    p.a->setSolo (true);
    p.b->setSolo (true);
    EXPECT_TRUE (Project::sameAs (p.block(), { p.alone (p.a), p.alone (p.b) }));

    p.mixer.unsoloAllTracks();
    EXPECT_TRUE (Project::sameAs (p.block(), { p.alone (p.master), p.alone (p.a), p.alone (p.c) }));

    // A track whose rendered audio file vanished is silent.
    p.c->getAudioFile().deleteFile();
    EXPECT_TRUE (Project::sameAs (p.block(), { p.alone (p.master), p.alone (p.a) }));
}

TEST (Mixer, TheActiveMasterPlaysAloneAndMasterGainScales)
{
    Project p;
    p.mixer.setActiveTrack (p.master);
    EXPECT_TRUE (Project::sameAs (p.block(), { p.alone (p.master) }));

    p.mixer.setActiveTrack (p.a);
    const auto unity = p.block();
    p.mixer.setMasterGain (1.0f);
    EXPECT_TRUE (Project::sameAs (p.block(), { unity }));

    p.mixer.setMasterGain (0.0f);
    EXPECT_EQ (p.block().getMagnitude (0, p.mixer.getFrameLength()), 0.0f);

    p.mixer.setMasterGain (0.5f);
    auto half = unity;
    half.applyGain (0.5f);
    EXPECT_TRUE (Project::sameAs (p.block(), { half }));
}

TEST (Mixer, AMonoProjectPlaysInStereoWithItsPanAndBouncesInMonoOnlyWhenCentred)
{
    test::TemporaryDirectory dir;
    juce::AudioBuffer<float> mono = test::makeNoise (1, rate, 3);
    auto master = test::makeTrack (dir.get(), "m", mono, rate);
    ASSERT_NE (master, nullptr);
    Mixer mixer;
    mixer.setMasterTrack (master);
    EXPECT_EQ (mixer.getNumOutputChannels(), 2);
    const auto hop = mixer.getFrameLength();
    const auto* x = mono.getReadPointer (0, 5 * hop);

    // pan, expected gain on the left and on the right, channels a bounce writes
    const struct
    {
        float pan, left, right;
        int bounceChannels;
    } cases[] = { { 0.5f, 1.0f, 1.0f, 1 }, { 0.0f, 1.0f, 0.0f, 2 }, { 1.0f, 0.0f, 1.0f, 2 } };
    for (const auto& k : cases)
    {
        SCOPED_TRACE (k.pan);
        master->setPan (0, k.pan);
        EXPECT_EQ (mixer.getNumBounceChannels(), k.bounceChannels);
        Mixer::RenderSession session (mixer);
        juce::AudioBuffer<float> out (2, hop);
        session.renderFrame (5, out);
        for (int c = 0; c < 2; ++c)
        {
            const auto gain = c == 0 ? k.left : k.right;
            if (gain == 0.0f)
                EXPECT_EQ (out.getMagnitude (c, 0, hop), 0.0f);
            else
                EXPECT_GE (test::signalToErrorDb (x, out.getReadPointer (c), hop), 110.0) << c;
        }
    }
}

TEST (Mixer, TrackOrderAndLookup)
{
    Project p;
    auto names = [&] {
        juce::StringArray n;
        for (auto* t : p.mixer.getAllTracks())
            n.add (t->getName());
        return n.joinIntoString (",");
    };
    EXPECT_EQ (names(), "master,a,b,c");
    p.mixer.setTrackPosition (p.a, 99);
    EXPECT_EQ (names(), "master,b,c,a");
    p.mixer.setTrackPosition (p.c, -4);
    EXPECT_EQ (names(), "c,master,b,a");
    EXPECT_EQ (p.mixer.getTrack ("b"), p.b);
    EXPECT_EQ (p.mixer.getTrack ("nope"), nullptr);

    struct Counter : Mixer::Listener
    {
        void trackListChanged() override { ++count; }
        int count = 0;
    } counter;
    p.mixer.addListener (&counter);
    p.mixer.removeTrack (p.a);
    EXPECT_EQ (counter.count, 1);
    EXPECT_EQ (p.mixer.getActiveTrack(), p.master); // the active track left
    p.mixer.removeTrack (p.a);                      // not in the list: no change
    EXPECT_EQ (counter.count, 1);
    p.mixer.removeListener (&counter);
}

TEST (Mixer, ChildrenOfARemovedOrReplacedTrackMoveToTheNearestTrackLeft)
{
    // master <- a <- b <- c: no track may keep a parent the list no longer holds.
    Project p;
    p.a->setParentTrack (p.master.get());
    p.b->setParentTrack (p.a.get());
    p.c->setParentTrack (p.b.get());
    auto treeNames = [&] {
        juce::StringArray n;
        for (auto* t : Mixer::inTreeOrder (p.mixer.getAllTracks()))
            n.add (t->getName());
        return n.joinIntoString (",");
    };
    p.mixer.setTrackPosition (p.c, 0); // children follow their parents wherever the list has them
    EXPECT_EQ (treeNames(), "master,a,b,c");
    p.a->setParentTrack (p.c.get()); // a loop of parents: every track still shows once
    EXPECT_EQ (treeNames(), "master,c,a,b");
    p.a->setParentTrack (p.master.get());

    p.mixer.removeTrack (p.b);
    EXPECT_EQ (p.c->getParentTrack(), p.a.get());

    auto only = [] (AudioTrack::Ptr t) {
        juce::ReferenceCountedArray<AudioTrack> list;
        list.add (t);
        return list;
    };
    auto merged = p.make ("merged", 500.0, 0.1f);
    merged->setParentTrack (p.master.get());
    p.mixer.replaceTracks (only (p.a), merged);
    EXPECT_EQ (p.c->getParentTrack(), merged.get());
    EXPECT_TRUE (p.c->isDescendantOf (p.master.get()));

    p.mixer.replaceTracks (only (merged), nullptr);
    EXPECT_EQ (p.c->getParentTrack(), p.master.get());
}

TEST (Mixer, PeaksRiseAtOnceAndFallByHalves)
{
    test::TemporaryDirectory dir;
    juce::AudioBuffer<float> audio (1, rate);
    audio.clear();
    for (int i = 0; i < rate / 2; ++i)
        audio.setSample (0, i, 0.8f * std::sin (0.05f * (float) i));
    auto master = test::makeTrack (dir.get(), "m", audio, rate, false);
    Mixer mixer;
    mixer.setMasterTrack (master);
    Mixer::RenderSession session (mixer);
    juce::AudioBuffer<float> out (1, mixer.getFrameLength());

    session.renderFrame (3, out);
    const auto loud = mixer.getLastPeak()[0];
    EXPECT_NEAR (loud, out.getMagnitude (0, 0, out.getNumSamples()), 1e-6f);
    session.renderFrame (30, out); // silence
    EXPECT_NEAR (mixer.getLastPeak()[0], loud / 2.0f, 1e-6f);
    session.renderFrame (30, out);
    EXPECT_NEAR (mixer.getLastPeak()[0], loud / 4.0f, 1e-6f);
    session.renderFrame (3, out);
    EXPECT_NEAR (mixer.getLastPeak()[0], loud, 1e-6f);

    // Once no block comes, the meter falls on its own (the mixer's timer), after a hold.
    const auto held = juce::Time::getMillisecondCounterHiRes();
    EXPECT_TRUE (test::pumpMessagesUntil ([&] { return mixer.getLastPeak()[0] < loud * 1.0e-3f; }, 5000));
    EXPECT_GT (juce::Time::getMillisecondCounterHiRes() - held, 100.0); // ms: four ticks of 33 ms held it
}

TEST (Mixer, TheRingFollowsEveryEdit)
{
    Project p;
    ASSERT_TRUE (p.mixer.waitForRing (10, 10000));
    juce::AudioBuffer<float> fromRing (2, p.mixer.getFrameLength());
    ASSERT_TRUE (p.mixer.readPlaybackBlock (10, fromRing));
    EXPECT_TRUE (Project::sameAs (fromRing, { p.block() }));
    const auto beforeEdits = fromRing;

    // A mask edit, a volume change and a mute each give a new mix in the ring.
    auto* asig = p.b->getAsig();
    ASSERT_TRUE (asig->setMask (0, { 0, asig->getNumFreqs() }, { 0, 30 }, MaskMatrix::Zero (asig->getNumFreqs(), 30)));
    p.c->setVolume (0.25f);
    ASSERT_TRUE (p.mixer.waitForRing (10, 10000));
    ASSERT_TRUE (p.mixer.readPlaybackBlock (10, fromRing));
    const auto expected = p.block();
    EXPECT_TRUE (Project::sameAs (fromRing, { expected }));
    EXPECT_FALSE (Project::sameAs (fromRing, { beforeEdits }));

    p.a->setMute (true);
    ASSERT_TRUE (p.mixer.waitForRing (10, 10000));
    ASSERT_TRUE (p.mixer.readPlaybackBlock (10, fromRing));
    EXPECT_TRUE (Project::sameAs (fromRing, { p.block() }));
    EXPECT_FALSE (Project::sameAs (fromRing, { expected }));

    // An edit of frames no block of the ring is made of leaves the ring current; one
    // inside it mixes again only the blocks made of the edited frames.
    const auto bins = asig->getNumFreqs(), frames = asig->getNumFrames();
    ASSERT_GT (frames - FrameGeometry::overlap, 10 + Mixer::ringSize);
    ASSERT_TRUE (p.mixer.waitForRing (10, 10000));
    const auto mixed = p.mixer.getNumBlocksMixedAhead();
    ASSERT_TRUE (asig->setMask (0, { 0, bins }, { frames - 2, frames }, MaskMatrix::Constant (bins, 2, 0.5f)));
    ASSERT_TRUE (p.mixer.waitForRing (10, 10000));
    EXPECT_EQ (p.mixer.getNumBlocksMixedAhead(), mixed);
    ASSERT_TRUE (asig->setMask (0, { 0, bins }, { 14, 16 }, MaskMatrix::Constant (bins, 2, 0.5f)));
    ASSERT_TRUE (p.mixer.waitForRing (10, 10000));
    EXPECT_EQ (p.mixer.getNumBlocksMixedAhead() - mixed, 5); // blocks 11 to 15 hold frame 14 or 15
    for (const auto b : { 10, 13, 20 })
    {
        Mixer::RenderSession session (p.mixer);
        juce::AudioBuffer<float> fresh (2, p.mixer.getFrameLength());
        session.renderFrame (b, fresh);
        ASSERT_TRUE (p.mixer.readPlaybackBlock (b, fromRing));
        EXPECT_TRUE (Project::sameAs (fromRing, { fresh })) << b;
    }
    p.c->setVolume (0.5f); // anything else mixes the whole ring again
    ASSERT_TRUE (p.mixer.waitForRing (10, 10000));
    EXPECT_GE (p.mixer.getNumBlocksMixedAhead() - mixed, 5 + Mixer::ringSize);

    // A block that is not mixed yet is silence, never stale audio of another block.
    EXPECT_FALSE (p.mixer.readPlaybackBlock (10 + Mixer::ringSize + 3, fromRing));
    EXPECT_EQ (fromRing.getMagnitude (0, fromRing.getNumSamples()), 0.0f);
}

namespace
{
/** Blocks of a mix rendered in the given order, concatenated by block number. */
juce::AudioBuffer<float> renderBlocks (Mixer& mixer, Mixer::RenderSession::Synthesis how, const std::vector<int>& order)
{
    Mixer::RenderSession session (mixer, how);
    const auto hop = mixer.getFrameLength();
    juce::AudioBuffer<float> all (mixer.getNumOutputChannels(), mixer.getNumFrames() * hop), block (all.getNumChannels(), hop);
    all.clear();
    for (auto b : order)
    {
        session.renderFrame (b, block);
        for (int ch = 0; ch < all.getNumChannels(); ++ch)
            all.copyFrom (ch, b * hop, block, ch, 0, hop);
    }
    return all;
}

std::vector<int> inOrder (int from, int to)
{
    std::vector<int> v;
    for (int b = from; b < to; ++b)
        v.push_back (b);
    return v;
}

double worstChannelDb (const juce::AudioBuffer<float>& expected, const juce::AudioBuffer<float>& actual, int from, int to)
{
    auto worst = 1000.0;
    for (int ch = 0; ch < expected.getNumChannels(); ++ch)
        worst = juce::jmin (
            worst, test::signalToErrorDb (expected.getReadPointer (ch, from), actual.getReadPointer (ch, from), to - from));
    return worst;
}
} // namespace

TEST (Mixer, SummedSpectraSoundLikeTracksSynthesisedOneByOne)
{
    Project p;
    using Synthesis = Mixer::RenderSession::Synthesis;

    // Edits of every kind the summed path must honour: masks, a flip, a selection at
    // half volume, volume and pan per channel, a mute.
    auto* asig = p.a->getAsig();
    const auto frames = asig->getNumFrames();
    asig->setMask (0, { 10, 200 }, { 5, frames - 5 }, MaskMatrix::Constant (190, frames - 10, 0.25f));
    asig->setMask (1, { 0, 60 }, { 0, frames }, MaskMatrix::Zero (60, frames));
    p.b->getAsig()->setMask (1, { 30, 90 }, { 0, 20 }, MaskMatrix::Constant (60, 20, 0.5f));
    p.b->getAsig()->setFlip (true);
    p.c->getAsig()->setSelection ({ 40, 120 }, { 3, 30 }, MaskMatrix::Ones (80, 27), true);
    p.c->getAsig()->setSelectionVolume (0.5f);
    p.a->setVolume (0.7f);
    p.a->setPan (0, -0.6f);
    p.b->setPan (1, 0.9f);
    p.master->setMute (true);

    // And a track whose store is not analysed yet, which plays its decoded audio.
    auto raw = test::makeTrack (p.dir.get().getChildFile ("raw"), "raw", test::makeNoise (2, rate, 9), rate, false);
    ASSERT_NE (raw, nullptr);
    p.mixer.addTrack (raw);

    const auto blocks = p.mixer.getNumFrames();
    const auto total = blocks * p.mixer.getFrameLength();
    const auto oneByOne = renderBlocks (p.mixer, Synthesis::perTrack, inOrder (0, blocks));
    ASSERT_GT (oneByOne.getMagnitude (0, total), 0.1f);
    EXPECT_GE (worstChannelDb (oneByOne, renderBlocks (p.mixer, Synthesis::summedSpectra, inOrder (0, blocks)), 0, total), 110.0);

    // Out of order and with jumps: each jump starts the overlap again.
    std::vector<int> jumping { 7, 3, 4, 5, 20, 0, 1, blocks - 1, 6, 2 };
    const auto summed = renderBlocks (p.mixer, Synthesis::summedSpectra, jumping);
    const auto hop = p.mixer.getFrameLength();
    for (auto b : jumping)
        EXPECT_GE (worstChannelDb (oneByOne, summed, b * hop, (b + 1) * hop), 110.0) << "block " << b;
}

TEST (Mixer, SummedSpectraFollowAChangeMidRender)
{
    Project p;
    using Synthesis = Mixer::RenderSession::Synthesis;
    const auto hop = p.mixer.getFrameLength();
    const auto blocks = p.mixer.getNumFrames();

    Mixer::RenderSession session (p.mixer, Synthesis::summedSpectra);
    juce::AudioBuffer<float> block (2, hop);
    for (int b = 0; b < 10; ++b)
        session.renderFrame (b, block);

    // A new volume and a new mask after block 9: once the overlap has passed (the
    // three frames already pushed), blocks sound as a fresh render with the change.
    p.b->setVolume (0.2f);
    p.c->getAsig()->setMask (0, { 0, 100 }, { 0, blocks + 3 }, MaskMatrix::Zero (100, blocks + 3));
    juce::AudioBuffer<float> after (2, blocks * hop);
    after.clear();
    for (int b = 10; b < blocks; ++b)
    {
        session.renderFrame (b, block);
        for (int ch = 0; ch < 2; ++ch)
            after.copyFrom (ch, b * hop, block, ch, 0, hop);
    }
    const auto expected = renderBlocks (p.mixer, Synthesis::perTrack, inOrder (0, blocks));
    EXPECT_GE (worstChannelDb (expected, after, 13 * hop, blocks * hop), 110.0);
    // Before the overlap has passed it is still partly the old sound.
    EXPECT_LT (worstChannelDb (expected, after, 10 * hop, 11 * hop), 60.0);
}

TEST (Mixer, SummedSpectraOfAMonoProject)
{
    test::TemporaryDirectory dir;
    auto master = test::makeTrack (dir.get().getChildFile ("m"), "m", test::makeNoise (1, rate, 3), rate);
    auto stereo = test::makeTrack (dir.get().getChildFile ("s"), "s", test::makeNoise (2, rate, 4), rate);
    ASSERT_NE (master, nullptr);
    ASSERT_NE (stereo, nullptr);
    Mixer mixer;
    mixer.setMasterTrack (master);
    mixer.addTrack (stereo);
    mixer.setActiveTrack (stereo);
    stereo->setVolume (0.5f);
    stereo->getAsig()->setMask (1, { 0, 300 }, { 0, 10 }, MaskMatrix::Zero (300, 10));

    using Synthesis = Mixer::RenderSession::Synthesis;
    const auto blocks = mixer.getNumFrames();
    const auto oneByOne = renderBlocks (mixer, Synthesis::perTrack, inOrder (0, blocks));
    EXPECT_EQ (oneByOne.getNumChannels(), 2); // played in stereo
    EXPECT_GE (worstChannelDb (oneByOne, renderBlocks (mixer, Synthesis::summedSpectra, inOrder (0, blocks)), 0,
                               blocks * mixer.getFrameLength()),
               110.0);
}

TEST (Mixer, TrackMetersFollowTheBlocksHeardNotTheBlocksMixedAhead)
{
    test::TemporaryDirectory dir;
    // Silent for two seconds, then loud: the ring mixes the loud part while the silent
    // part is still being heard.
    auto audio = test::makeNoise (2, 4 * rate, 11);
    for (int c = 0; c < 2; ++c)
        audio.clear (c, 0, 2 * rate);
    auto master = test::makeTrack (dir.get().getChildFile ("m"), "m", audio, rate);
    ASSERT_NE (master, nullptr);
    Mixer mixer;
    mixer.setMasterTrack (master);
    const auto hop = mixer.getFrameLength();
    const auto firstLoud = 2 * rate / hop + 1; // the first block whose frames all hear the noise

    juce::AudioBuffer<float> out (2, hop);
    auto playUpTo = [&] (int last) {
        for (int f = 0; f <= last; ++f)
        {
            ASSERT_TRUE (mixer.waitForRing (f, 10000));
            ASSERT_TRUE (mixer.readPlaybackBlock (f, out));
        }
    };

    // Heard: the last silent blocks; mixed ahead: loud ones.
    playUpTo (firstLoud - 6);
    mixer.publishTrackPeaks();
    const auto quiet = master->getLastPeak();
    ASSERT_EQ (quiet.size(), 2u);
    EXPECT_LT (quiet[0], 1.0e-3f);
    EXPECT_LT (quiet[1], 1.0e-3f);

    playUpTo (firstLoud + 2);
    mixer.publishTrackPeaks();
    const auto loud = master->getLastPeak();
    ASSERT_EQ (loud.size(), 2u);
    EXPECT_GT (loud[0], 0.2f);
    EXPECT_GT (loud[1], 0.2f);
}

TEST (Mixer, EditorFlagsFollowTheActiveTrackItsEditorAndItsStore)
{
    ApplicationTree app;
    const ApplicationTree::ScopedInstance installed (app);
    auto& commands = CommandIDs::getInstance();
    commands.addStandardCommandIDs();                     // every command disabled: the mixer must enable these two
    app.enableFlags (ApplicationTree::separationRunning); // a bit the mixer does not own

    Project p;
    EXPECT_TRUE (app.isSet (ApplicationTree::projectOpen));
    EXPECT_TRUE (p.a->isActive());
    auto* asig = p.a->getAsig();
    const auto bins = asig->getNumFreqs(), frames = asig->getNumFrames();

    using T = Editor::Type;
    constexpr int spectral = ApplicationTree::spectralEdits;
    struct Step
    {
        const char* what;
        std::function<void()> change;
        int flags; // the pitch and spectral bits afterwards
    };
    const Step steps[] = {
        { "a new project", [] {}, 0 },
        { "a selection in the spectral editor",
          [&] {
              p.a->setEditor (T::spectral);
              asig->setSelection ({ 10, 20 }, { 3, 9 }, MaskMatrix::Ones (10, 6), true);
          },
          spectral },
        { "the selection cleared",
          [&] {
              asig->setSelection ({ 10, 20 }, { 3, 9 }, MaskMatrix::Zero (10, 6), true);
          },
          0 },
        { "a mask edit",
          [&] {
              asig->setMask (1, { 0, bins }, { 0, 4 }, MaskMatrix::Constant (bins, 4, 0.5f));
          },
          spectral },
        { "the store not fully generated", [&] { p.a->getTree().setProperty (TrackIds::asigProgress, 0.5, nullptr); }, 0 },
        { "the store generated", [&] { p.a->getTree().setProperty (TrackIds::asigProgress, 1.0, nullptr); }, spectral },
        { "the melody editor, no pitch edits", [&] { p.a->setEditor (T::melody); }, 0 },
        { "back in the spectral editor", [&] { p.a->setEditor (T::spectral); }, spectral },
        { "another active track", [&] { p.mixer.setActiveTrack (p.b); }, 0 },
        { "the edited track active again", [&] { p.mixer.setActiveTrack (p.a); }, spectral },
        { "no editor", [&] { p.a->setEditor (T::none); }, 0 },
        { "the edited active track removed",
          [&] {
              p.a->setEditor (T::spectral);
              p.mixer.removeTrack (p.a);
          },
          0 },
    };
    for (const auto& step : steps)
    {
        step.change();
        const auto expected = step.flags | ApplicationTree::projectOpen | ApplicationTree::separationRunning;
        // Every change is seen without being announced: the store's by the mixer's timer.
        EXPECT_TRUE (test::pumpMessagesUntil ([&] {
            return app.getFlags() == expected && commands.isEnabled (Command::showMelodyEditor) == (step.flags == 0);
        })) << step.what
            << ": flags " << app.getFlags();
        EXPECT_TRUE (commands.isEnabled (Command::showSpectrogramEditor)) << step.what; // no pitch edits exist
        EXPECT_EQ (app.isTrackBeingEdited(), step.flags != 0) << step.what;
    }
    EXPECT_FALSE (p.a->isActive());
    EXPECT_TRUE (p.master->isActive());

    // The separations may start while a project is open and none runs, and each module
    // can be turned off alone.
    struct Query
    {
        int flags;
        bool vocal, pan, drum, bass;
    };
    for (const auto& q :
         { Query { 0, false, false, false, false }, Query { ApplicationTree::projectOpen, true, true, true, true },
           Query { ApplicationTree::projectOpen | ApplicationTree::separationRunning, false, false, false, false },
           Query { ApplicationTree::projectOpen | ApplicationTree::panSeparationUnavailable, true, false, true, true },
           Query { ApplicationTree::projectOpen | ApplicationTree::spectralEdits, true, true, true, true } })
    {
        app.updateFlags (~0, q.flags);
        EXPECT_EQ (app.isVocalSepEnabled(), q.vocal) << q.flags;
        EXPECT_EQ (app.isPanSepEnabled(), q.pan) << q.flags;
        EXPECT_EQ (app.isDrumSepEnabled(), q.drum) << q.flags;
        EXPECT_EQ (app.isBassSepEnabled(), q.bass) << q.flags;
    }

    // Closing the project clears its bit and disables both editor commands.
    p.mixer.setMasterTrack (nullptr);
    EXPECT_FALSE (app.isSet (ApplicationTree::projectOpen));
    EXPECT_TRUE (test::pumpMessagesUntil ([&] { return ! commands.isEnabled (Command::showSpectrogramEditor); }));
    EXPECT_FALSE (commands.isEnabled (Command::showMelodyEditor));
}

TEST (Mixer, TheUndoHistoryFollowsTheActiveTrackItsEditorAndItsBusyState)
{
    Project p;
    UndoManagerAccessor accessor;
    accessor.setMixer (&p.mixer);
    int changes = 0;
    struct Counter : juce::ChangeListener
    {
        explicit Counter (int& n) : count (n) {}
        void changeListenerCallback (juce::ChangeBroadcaster*) override { ++count; }
        int& count;
    } counter (changes);
    accessor.addChangeListener (&counter);

    using T = Editor::Type;
    p.a->setEditor (T::spectral);
    p.b->setEditor (T::spectral);
    ASSERT_TRUE (p.a->getManualEditManager().rectangleSelect (2, 2, 8, 8, SelectionMode::replace).wasChanged());
    auto* aHistory = &p.a->getManualEditManager().getUndoManager();
    auto* app = &accessor.getApplicationUndoManager();

    struct Step
    {
        const char* what;
        std::function<void()> change;
        CustomUndoManager* expected;
    };
    const Step steps[] = {
        { "the active track in the spectral editor", [] {}, aHistory },
        { "in the melody editor (the same history)", [&] { p.a->setEditor (T::melody); }, aHistory },
        { "in no editor", [&] { p.a->setEditor (T::none); }, app },
        { "back in the spectral editor", [&] { p.a->setEditor (T::spectral); }, aHistory },
        { "busy with a job", [&] { p.a->separationProgressed (0.4f); }, app },
        { "the job done", [&] { p.a->separationProgressed (0.0f); }, aHistory },
        { "another active track", [&] { p.mixer.setActiveTrack (p.b); }, &p.b->getManualEditManager().getUndoManager() },
        { "the first again, its history kept", [&] { p.mixer.setActiveTrack (p.a); }, aHistory },
    };
    for (const auto& step : steps)
    {
        const auto before = changes;
        step.change();
        EXPECT_TRUE (test::pumpMessagesUntil ([&] { return changes > before; })) << step.what << ": no change message";
        EXPECT_EQ (&accessor.getCurrentUndoManager(), step.expected) << step.what;
    }
    EXPECT_EQ (aHistory->getUndoDescription(), "Rectangle selection");

    // Undo goes through the track's manager; a change of the history is announced.
    const auto before = changes;
    EXPECT_TRUE (accessor.undo().wasChanged());
    EXPECT_FALSE (p.a->getAsig()->hasSelection());
    EXPECT_TRUE (test::pumpMessagesUntil ([&] { return changes > before; }));
    EXPECT_TRUE (accessor.redo().wasChanged());
    EXPECT_TRUE (p.a->getAsig()->hasSelection());

    // A busy track refuses edits as well as their undo.
    p.a->separationProgressed (0.5f);
    EXPECT_TRUE (p.a->getManualEditManager().undo().wasRefusedOrFailed());
    EXPECT_TRUE (p.a->getAsig()->hasSelection());
    p.a->separationProgressed (0.0f);
    accessor.removeChangeListener (&counter);
}
