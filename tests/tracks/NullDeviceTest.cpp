#include "support/AudioTestFiles.h"
#include "support/TestSignals.h"
#include "support/TestTracks.h"
#include "tracks/NullAudioIODevice.h"
#include "tracks/ResamplingSpecTransportSource.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace kalder;

namespace
{
/** Plays a track to the end through the null device at deviceRate and returns what the
    device recorded, from the first sound on. */
juce::AudioBuffer<float> playThroughNullDevice (const juce::AudioBuffer<float>& audio, int fileRate, double deviceRate,
                                                int blockSize)
{
    test::TemporaryDirectory dir;
    const auto capture = dir.get().getChildFile ("capture.wav");
    ::setenv ("KALDER_AUDIO_DEVICE", "null", 1);
    ::setenv ("KALDER_AUDIO_CAPTURE", capture.getFullPathName().toRawUTF8(), 1);

    auto track = test::makeTrack (dir.get().getChildFile ("t"), "t", audio, fileRate);
    Mixer mixer;
    mixer.setMasterTrack (track);
    SpecTransportSource transport (mixer);
    ResamplingSpecTransportSource resampled (transport, 2);
    juce::AudioSourcePlayer player;
    player.setSource (&resampled);

    {
        juce::AudioDeviceManager devices;
        EXPECT_EQ (AudioOutputSetup::openOutput (devices), NullAudioIODevice::typeName);
        auto setup = devices.getAudioDeviceSetup();
        setup.sampleRate = deviceRate;
        setup.bufferSize = blockSize;
        EXPECT_TRUE (devices.setAudioDeviceSetup (setup, true).isEmpty());

        mixer.waitForRing (0, 10000);
        transport.start();
        devices.addAudioCallback (&player);

        const auto deadline = juce::Time::getMillisecondCounter() + 20000;
        while (transport.isPlaying() && juce::Time::getMillisecondCounter() < deadline)
            juce::Thread::sleep (20);
        EXPECT_FALSE (transport.isPlaying());
        EXPECT_EQ (transport.getUnderrunSamples(), 0);

        devices.removeAudioCallback (&player);
        devices.closeAudioDevice(); // finishes the capture file
    }
    player.setSource (nullptr);

    auto recorded = test::readAudioFile (capture);
    int first = 0;
    while (first < recorded.getNumSamples() && recorded.getSample (0, first) == 0.0f)
        ++first;
    juce::AudioBuffer<float> fromSound (recorded.getNumChannels(), juce::jmax (0, recorded.getNumSamples() - first));
    for (int c = 0; c < recorded.getNumChannels(); ++c)
        fromSound.copyFrom (c, 0, recorded, c, first, fromSound.getNumSamples());
    return fromSound;
}
} // namespace

TEST (NullAudioDevice, RecordsExactlyWhatThePlayerHears)
{
    const int rate = 44100;
    const auto audio = test::makeNoise (2, rate, 9); // one second
    const auto recorded = playThroughNullDevice (audio, rate, rate, 441);

    ASSERT_GE (recorded.getNumSamples(), audio.getNumSamples());
    ASSERT_EQ (recorded.getNumChannels(), 2);
    for (int c = 0; c < 2; ++c)
        EXPECT_GE (test::signalToErrorDb (audio.getReadPointer (c), recorded.getReadPointer (c), audio.getNumSamples()), 110.0)
            << c;
}

TEST (NullAudioDevice, AnotherDeviceRateKeepsPitchAndLevel)
{
    const int rate = 44100;
    const auto recorded = playThroughNullDevice (test::makeSine (1, rate, rate, 1000.0, 0.5f), rate, 48000.0, 480);

    // A mono track plays on both sides; its pitch and level survive the rate change.
    ASSERT_GT (recorded.getNumSamples(), 40000);
    const int start = 2000, length = 40000;
    int crossings = 0;
    for (int i = start + 1; i < start + length; ++i)
        crossings += (recorded.getSample (1, i - 1) < 0.0f && recorded.getSample (1, i) >= 0.0f) ? 1 : 0;
    EXPECT_NEAR (crossings * 48000.0 / length, 1000.0, 3.0);
    const auto level = juce::Decibels::gainToDecibels ((double) recorded.getRMSLevel (0, start, length));
    EXPECT_NEAR (level, juce::Decibels::gainToDecibels (0.5 / std::sqrt (2.0)), 0.1);
}
