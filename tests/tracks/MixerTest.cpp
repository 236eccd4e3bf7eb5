#include "tracks/Mixer.h"
#include "support/TestSignals.h"
#include "support/TestTracks.h"

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

TEST (Mixer, MonoProjectMixesToOneChannel)
{
    test::TemporaryDirectory dir;
    juce::AudioBuffer<float> mono = test::makeNoise (1, rate, 3);
    auto master = test::makeTrack (dir.get(), "m", mono, rate);
    ASSERT_NE (master, nullptr);
    Mixer mixer;
    mixer.setMasterTrack (master);
    EXPECT_EQ (mixer.getNumOutputChannels(), 1);

    Mixer::RenderSession session (mixer);
    juce::AudioBuffer<float> out (1, mixer.getFrameLength());
    session.renderFrame (5, out);
    EXPECT_GE (
        test::signalToErrorDb (mono.getReadPointer (0, 5 * mixer.getFrameLength()), out.getReadPointer (0), out.getNumSamples()),
        110.0);
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
    p.mixer.removeListener (&counter);
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
}

TEST (Mixer, TheRingFollowsEveryEdit)
{
    Project p;
    ASSERT_TRUE (p.mixer.waitForRing (10, 10000));
    juce::AudioBuffer<float> fromRing (2, p.mixer.getFrameLength());
    ASSERT_TRUE (p.mixer.renderFrame (10, fromRing));
    EXPECT_TRUE (Project::sameAs (fromRing, { p.block() }));
    const auto beforeEdits = fromRing;

    // A mask edit, a volume change and a mute each give a new mix in the ring.
    auto* asig = p.b->getAsig();
    ASSERT_TRUE (asig->setMask (0, { 0, asig->getNumFreqs() }, { 0, 30 }, MaskMatrix::Zero (asig->getNumFreqs(), 30)));
    p.c->setVolume (0.25f);
    ASSERT_TRUE (p.mixer.waitForRing (10, 10000));
    ASSERT_TRUE (p.mixer.renderFrame (10, fromRing));
    const auto expected = p.block();
    EXPECT_TRUE (Project::sameAs (fromRing, { expected }));
    EXPECT_FALSE (Project::sameAs (fromRing, { beforeEdits }));

    p.a->setMute (true);
    ASSERT_TRUE (p.mixer.waitForRing (10, 10000));
    ASSERT_TRUE (p.mixer.renderFrame (10, fromRing));
    EXPECT_TRUE (Project::sameAs (fromRing, { p.block() }));
    EXPECT_FALSE (Project::sameAs (fromRing, { expected }));

    // A block that is not mixed yet is silence, never stale audio of another block.
    EXPECT_FALSE (p.mixer.renderFrame (10 + Mixer::ringSize + 3, fromRing));
    EXPECT_EQ (fromRing.getMagnitude (0, fromRing.getNumSamples()), 0.0f);
}
