#include "support/TestSignals.h"
#include "support/TestTracks.h"
#include "tracks/ResamplingSpecTransportSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace kalder;

namespace
{
/** Pulls device blocks of the given sizes (cycling) until the transport stops or limit
    samples were pulled, waiting for the mixer before each block as a real device's
    buffering would. */
juce::AudioBuffer<float> pull (Mixer& mixer, SpecTransportSource& transport, std::vector<int> sizes, int limit,
                               int deviceChannels = 2)
{
    juce::AudioBuffer<float> captured (deviceChannels, limit);
    captured.clear();
    juce::AudioBuffer<float> device (deviceChannels, *std::max_element (sizes.begin(), sizes.end()));
    int done = 0;
    for (size_t i = 0; transport.isPlaying() && done < limit; ++i)
    {
        const auto n = juce::jmin (sizes[i % sizes.size()], limit - done);
        mixer.waitForRing (transport.getPosition(), 10000);
        transport.getNextAudioBlock (juce::AudioSourceChannelInfo (&device, 0, n));
        for (int c = 0; c < deviceChannels; ++c)
            captured.copyFrom (c, done, device, c, 0, n);
        done += n;
    }
    captured.setSize (deviceChannels, done, true);
    return captured;
}
} // namespace

TEST (SpecTransportSource, DeviceBlocksOfAnySizeGetEverySampleOnce)
{
    test::TemporaryDirectory dir;
    const int rate = 22050;
    const auto audio = test::makeNoise (2, rate + 500, 12);
    auto track = test::makeTrack (dir.get(), "t", audio, rate);
    Mixer mixer;
    mixer.setMasterTrack (track);
    SpecTransportSource transport (mixer);
    transport.prepareToPlay (441, rate);

    // Device blocks that are not multiples of the hop (512 here), of changing sizes.
    transport.start();
    const auto played = pull (mixer, transport, { 441, 1000, 17, 512, 2049 }, 10 * rate);

    EXPECT_FALSE (transport.isPlaying());   // stopped at the end
    EXPECT_EQ (transport.getPosition(), 0); // and went back to the start
    EXPECT_EQ (transport.getUnderrunSamples(), 0);
    ASSERT_GE (played.getNumSamples(), audio.getNumSamples());
    for (int c = 0; c < 2; ++c)
        EXPECT_GE (test::signalToErrorDb (audio.getReadPointer (c), played.getReadPointer (c), audio.getNumSamples()), 110.0)
            << c;
}

TEST (SpecTransportSource, MonoPlaysOnBothSidesAndLoopsRepeatTheirRange)
{
    test::TemporaryDirectory dir;
    const int rate = 8000;
    const auto audio = test::makeNoise (1, rate, 2);
    auto track = test::makeTrack (dir.get(), "t", audio, rate);
    Mixer mixer;
    mixer.setMasterTrack (track);
    SpecTransportSource transport (mixer);
    transport.prepareToPlay (300, rate);

    const auto hop = mixer.getFrameLength();
    transport.setLoop ({ 4, 7 }, true);
    transport.setPosition (4);
    transport.start();
    const auto played = pull (mixer, transport, { 300 }, hop * 9);
    transport.stop();

    // Three passes over blocks 4 .. 6, on both device channels.
    for (int pass = 0; pass < 3; ++pass)
        for (int c = 0; c < 2; ++c)
            EXPECT_GE (
                test::signalToErrorDb (audio.getReadPointer (0, 4 * hop), played.getReadPointer (c, pass * 3 * hop), 3 * hop),
                110.0)
                << "pass " << pass << " channel " << c;

    // Stopped: silence.
    juce::AudioBuffer<float> device (2, 128);
    transport.getNextAudioBlock (juce::AudioSourceChannelInfo (&device, 0, 128));
    EXPECT_EQ (device.getMagnitude (0, 128), 0.0f);
}

TEST (SpecTransportSource, JumpsAreHeardAtOnceAndNeverLostToAPlayingAudioThread)
{
    test::TemporaryDirectory dir;
    const int rate = 8000;
    const auto audio = test::makeNoise (2, rate * 30, 5);
    auto track = test::makeTrack (dir.get(), "t", audio, rate);
    Mixer mixer;
    mixer.setMasterTrack (track);
    SpecTransportSource transport (mixer);
    transport.prepareToPlay (256, rate);
    const auto hop = mixer.getFrameLength(), total = mixer.getNumFrames();

    // Play and a jump while playing: the first device block is the audio at once, with
    // no silence before it (nothing here waits for the mixer).
    juce::AudioBuffer<float> device (2, hop);
    for (const auto frame : { 40, total / 2 })
    {
        transport.setPosition (frame);
        if (! transport.isPlaying())
            transport.start();
        transport.getNextAudioBlock (juce::AudioSourceChannelInfo (&device, 0, hop));
        for (int c = 0; c < 2; ++c)
            EXPECT_GE (test::signalToErrorDb (audio.getReadPointer (c, frame * hop), device.getReadPointer (c), hop), 110.0)
                << "frame " << frame;
    }
    EXPECT_EQ (transport.getUnderrunSamples(), 0);

    // A real audio thread plays on while thousands of jumps alternate between two far
    // places; each one must be where playback goes on from.
    std::atomic<bool> done { false };
    std::atomic<int> callbacks { 0 };
    std::thread audioThread ([&] {
        juce::AudioBuffer<float> buffer (2, 256);
        while (! done)
        {
            transport.getNextAudioBlock (juce::AudioSourceChannelInfo (&buffer, 0, 256));
            ++callbacks;
        }
    });
    int lost = 0;
    constexpr int jumps = 2000;
    for (int i = 0; i < jumps; ++i)
    {
        // Each callback plays one block at most (256 samples, a hop of 256 or more): since
        // the jump, playback can have moved on by no more blocks than callbacks came.
        const auto target = (i % 2 == 0 ? 10 : total / 2) + i % 7;
        const auto before = callbacks.load();
        transport.setPosition (target);
        const auto seen = callbacks.load();
        while (callbacks.load() < seen + 3)
            std::this_thread::yield();
        const auto at = transport.getPosition();
        const auto after = callbacks.load();
        if (! transport.isPlaying())
        {
            // This thread was held up long enough for playback to reach the end.
            EXPECT_GT (after - before, total - target);
            transport.start();
            continue;
        }
        if (at < target || at > target + (after - before) + 1) // one callback may be under way
        {
            ++lost;
            ADD_FAILURE() << "jump " << i << " to " << target << " found playback at " << at << " after " << (after - before)
                          << " callbacks";
        }
    }
    done = true;
    audioThread.join();
    EXPECT_EQ (lost, 0) << "of " << jumps << " jumps";
}

TEST (ResamplingSpecTransportSource, ASineKeepsItsPitchAndLevelAtAnotherDeviceRate)
{
    test::TemporaryDirectory dir;
    const int rate = 44100, deviceRate = 48000;
    const double frequency = 1000.0;
    auto track = test::makeTrack (dir.get(), "t", test::makeSine (2, rate * 2, rate, frequency, 0.5f), rate);
    Mixer mixer;
    mixer.setMasterTrack (track);
    SpecTransportSource transport (mixer);
    ResamplingSpecTransportSource resampled (transport, 2);
    const int blockSize = 480;
    transport.prepareToPlay (blockSize, deviceRate);
    resampled.prepareToPlay (blockSize, deviceRate);
    EXPECT_NEAR (resampled.getResamplingRatio(), 44100.0 / 48000.0, 1e-12);

    transport.start();
    const int total = deviceRate; // one second at the device's rate
    juce::AudioBuffer<float> captured (2, total), device (2, blockSize);
    for (int done = 0; done < total; done += blockSize)
    {
        mixer.waitForRing (transport.getPosition(), 10000);
        resampled.getNextAudioBlock (juce::AudioSourceChannelInfo (&device, 0, blockSize));
        captured.copyFrom (0, done, device, 0, 0, blockSize);
    }
    EXPECT_EQ (transport.getUnderrunSamples(), 0);

    // Past the filter's settling: count rising zero crossings and measure the RMS level.
    const int start = 4800, length = total - start;
    const auto* x = captured.getReadPointer (0, start);
    int crossings = 0;
    for (int i = 1; i < length; ++i)
        crossings += (x[i - 1] < 0.0f && x[i] >= 0.0f) ? 1 : 0;
    const auto seconds = (double) length / deviceRate;
    EXPECT_NEAR (crossings / seconds, frequency, 3.0);

    const auto rmsDb = juce::Decibels::gainToDecibels ((double) captured.getRMSLevel (0, start, length));
    const auto expectedDb = juce::Decibels::gainToDecibels (0.5 / std::sqrt (2.0));
    EXPECT_NEAR (rmsDb, expectedDb, 0.1);
}
