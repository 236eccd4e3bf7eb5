#include "tracks/TrackRenderer.h"
#include "support/TestSignals.h"
#include "support/TestTracks.h"

#include <gtest/gtest.h>

using namespace kalder;

namespace
{
/** Renders every block of a track's first channels, in the given order, into one buffer. */
juce::AudioBuffer<float> renderAll (TrackRenderer& renderer, int outputs, const std::vector<int>& order)
{
    auto& track = renderer.getTrack();
    const auto hop = track.getBufferSize();
    juce::AudioBuffer<float> all (outputs, track.getNumBlocks() * hop), block (outputs, hop);
    for (auto b : order)
    {
        renderer.renderBlock (b, block);
        for (int c = 0; c < outputs; ++c)
            all.copyFrom (c, b * hop, block, c, 0, hop);
    }
    all.setSize (outputs, (int) track.getNumSamples(), true);
    return all;
}

std::vector<int> inOrder (int n)
{
    std::vector<int> v ((size_t) n);
    std::iota (v.begin(), v.end(), 0);
    return v;
}

double channelSnr (const juce::AudioBuffer<float>& reference, int refChannel, const juce::AudioBuffer<float>& test,
                   int testChannel)
{
    return test::signalToErrorDb (reference.getReadPointer (refChannel), test.getReadPointer (testChannel),
                                  reference.getNumSamples());
}
} // namespace

TEST (TrackRenderer, UneditedTrackSoundsTheSameFromItsStoreAndFromItsAudio)
{
    test::TemporaryDirectory dir;
    const int rate = 44100;
    const auto audio = test::makeNoise (2, rate + 777, 4);

    auto analysed = test::makeTrack (dir.get().getChildFile ("a"), "a", audio, rate, true);
    auto plain = test::makeTrack (dir.get().getChildFile ("b"), "b", audio, rate, false);
    ASSERT_NE (analysed, nullptr);
    ASSERT_NE (plain, nullptr);
    EXPECT_TRUE (analysed->isStoreReady());
    EXPECT_FALSE (plain->isStoreReady());

    TrackRenderer fromStore (analysed, 2), fromAudio (plain, 2);
    const auto a = renderAll (fromStore, 2, inOrder (analysed->getNumBlocks()));
    const auto b = renderAll (fromAudio, 2, inOrder (plain->getNumBlocks()));

    for (int c = 0; c < 2; ++c)
    {
        EXPECT_GE (channelSnr (audio, c, a, c), 110.0) << c;
        EXPECT_GE (channelSnr (audio, c, b, c), 200.0) << c; // a copy
    }
}

TEST (TrackRenderer, BlocksComeOutTheSameInAnyOrder)
{
    test::TemporaryDirectory dir;
    const auto audio = test::makeSweep (1, 30000, 22050, 50.0, 9000.0);
    auto track = test::makeTrack (dir.get(), "t", audio, 22050);
    ASSERT_NE (track, nullptr);

    auto order = inOrder (track->getNumBlocks());
    TrackRenderer sequential (track, 1), shuffled (track, 1);
    const auto a = renderAll (sequential, 1, order);
    std::reverse (order.begin(), order.end());
    std::rotate (order.begin(), order.begin() + 5, order.end());
    const auto b = renderAll (shuffled, 1, order);
    EXPECT_GE (channelSnr (a, 0, b, 0), 200.0);
    EXPECT_GE (channelSnr (audio, 0, a, 0), 110.0);
}

TEST (TrackRenderer, EditsAreHeardAtOnce)
{
    test::TemporaryDirectory dir;
    const int rate = 8000;
    const auto audio = test::makeNoise (1, rate * 2, 8);
    auto track = test::makeTrack (dir.get(), "t", audio, rate);
    ASSERT_NE (track, nullptr);
    TrackRenderer renderer (track, 1);
    const auto hop = track->getBufferSize();
    juce::AudioBuffer<float> block (1, hop);

    renderer.renderBlock (20, block);
    EXPECT_GT (block.getMagnitude (0, 0, hop), 0.1f);

    // Silence frames 18 .. 26: block 20 lies in frames 20 .. 23.
    const auto generation = track->getRenderGeneration();
    auto* asig = track->getAsig();
    ASSERT_TRUE (asig->setMask (0, { 0, asig->getNumFreqs() }, { 18, 27 }, MaskMatrix::Zero (asig->getNumFreqs(), 9)));
    EXPECT_NE (track->getRenderGeneration(), generation);
    renderer.renderBlock (20, block);
    EXPECT_LT (block.getMagnitude (0, 0, hop), 1e-5f);

    // Flipped, the removed part is what plays.
    track->flip (true);
    renderer.renderBlock (20, block);
    EXPECT_GE (test::signalToErrorDb (audio.getReadPointer (0, 20 * hop), block.getReadPointer (0), hop), 110.0);
}

TEST (TrackRenderer, VolumeAndPanLaws)
{
    test::TemporaryDirectory dir;
    const auto audio = test::makeSine (2, 8000, 8000, 500.0);
    auto stereo = test::makeTrack (dir.get().getChildFile ("s"), "s", audio, 8000);
    ASSERT_NE (stereo, nullptr);

    auto gains = stereo->getPanGains (0);
    EXPECT_EQ (gains.left, 1.0f);
    EXPECT_EQ (gains.right, 0.0f);
    stereo->setPan (0, 0.5f);
    gains = stereo->getPanGains (0);
    EXPECT_NEAR (gains.left, 0.70710678f, 1e-6f);
    EXPECT_NEAR (gains.right, 0.70710678f, 1e-6f);

    juce::AudioBuffer<float> mono (1, 8000);
    mono.copyFrom (0, 0, audio, 0, 0, 8000);
    auto monoTrack = test::makeTrack (dir.get().getChildFile ("m"), "m", mono, 8000);
    ASSERT_NE (monoTrack, nullptr);
    const auto before = monoTrack->getPanGains (1);
    monoTrack->setPan (1, 0.0f); // a mono track has no second channel to pan
    EXPECT_EQ (monoTrack->getPanGains (1).left, before.left);
    EXPECT_EQ (monoTrack->getPanGains (1).right, before.right);

    // A mono track in a stereo mix: full level on both sides in the centre, one side at
    // either end, constant power scaled to the centre between; volume scales both.
    monoTrack->setVolume (0.5f);
    TrackRenderer renderer (monoTrack, 2);
    juce::AudioBuffer<float> block (2, monoTrack->getBufferSize());
    const auto* x = mono.getReadPointer (0, 10 * monoTrack->getBufferSize());
    const auto quarter = juce::MathConstants<float>::sqrt2 * std::sin (juce::MathConstants<float>::pi / 8.0f);
    const struct
    {
        float pan, left, right;
    } cases[] = { { 0.5f, 1.0f, 1.0f }, { 0.0f, 1.0f, 0.0f }, { 0.25f, 1.0f, quarter }, { 1.0f, 0.0f, 1.0f } };
    for (const auto& k : cases)
    {
        monoTrack->setPan (0, k.pan);
        renderer.renderBlock (10, block);
        for (int i = 0; i < block.getNumSamples(); i += 37)
        {
            EXPECT_NEAR (block.getSample (0, i), x[i] * 0.5f * k.left, 1e-5f) << k.pan;
            EXPECT_NEAR (block.getSample (1, i), x[i] * 0.5f * k.right, 1e-5f) << k.pan;
        }
    }
}

TEST (TrackRenderer, TrackMetersHoldThenFallAndStop)
{
    test::TemporaryDirectory dir;
    auto track = test::makeTrack (dir.get(), "t", test::makeSine (1, 8000, 8000, 300.0, 0.8f), 8000);
    ASSERT_NE (track, nullptr);
    EXPECT_TRUE (track->getLastPeak().empty());

    TrackRenderer renderer (track, 1);
    juce::AudioBuffer<float> block (1, track->getBufferSize());
    renderer.renderBlock (5, block);
    const auto rendered = block.getMagnitude (0, 0, block.getNumSamples());
    ASSERT_EQ (track->getLastPeak().size(), 1u);
    EXPECT_FLOAT_EQ (track->getLastPeak()[0], rendered);

    // Held for a few ticks, then down by factors of five, then gone.
    auto* mm = juce::MessageManager::getInstance();
    mm->runDispatchLoopUntil (100);
    ASSERT_EQ (track->getLastPeak().size(), 1u);
    EXPECT_FLOAT_EQ (track->getLastPeak()[0], rendered);

    const auto deadline = juce::Time::getMillisecondCounter() + 5000;
    bool fell = false;
    while (! track->getLastPeak().empty() && juce::Time::getMillisecondCounter() < deadline)
    {
        mm->runDispatchLoopUntil (20);
        const auto peak = track->getLastPeak();
        fell = fell || (! peak.empty() && peak[0] < rendered * 0.25f);
    }
    EXPECT_TRUE (fell);
    EXPECT_TRUE (track->getLastPeak().empty());
}
