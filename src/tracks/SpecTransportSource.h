#pragma once

#include "Mixer.h"
#include "PitchPreviewTone.h"

#include <juce_audio_basics/juce_audio_basics.h>

namespace kalder
{

/**
    Plays the mix: an AudioSource that pulls mixed blocks (one hop each) from the
    mixer's ring, in order, with an optional loop, at the project's sample rate.

    The position is the next block to play. Device blocks of any size are filled from
    consecutive blocks without gaps or repeats; a block that the mixer has not mixed yet
    plays as silence and is played when it arrives (an underrun delays, it never skips).
    At the end of the project playback stops and returns to the start; with the loop on,
    playback follows the mixer's loop (Mixer::getNextFrameInPlayOrder()).

    The audio thread is the only writer of the position: setPosition() leaves a request
    that the next callback applies, so a jump is never overwritten by playback moving on.
    start() and a jump while playing first have the mixer prime the blocks they will play,
    so they are heard at once.

    A mix with fewer channels than the device plays its last channel on the remaining
    device channels, so a mono project sounds on both sides.

    Threading: getNextAudioBlock() on the audio thread, real-time safe. start(), stop(),
    setPosition(), setLoop() from any one thread other than the audio thread (start()
    and setPosition() wait a moment for the mixer). setParameters() and prepareToPlay()
    allocate: call them while stopped.
*/
class SpecTransportSource : public juce::AudioSource
{
public:
    explicit SpecTransportSource (Mixer& mixer);

    /** Takes the hop and channel count from the mixer (after the master track changed). */
    void setParameters();

    void prepareToPlay (int samplesPerBlockExpected, double sampleRate) override;
    void releaseResources() override {}
    void getNextAudioBlock (const juce::AudioSourceChannelInfo& info) override;

    void start();
    void stop() noexcept;
    bool isPlaying() const noexcept { return playing.load(); }

    /** Moves playback to block frame (clamped to the project). */
    void setPosition (int frame);

    /** The next block to play (a jump not yet applied counts as done). */
    int getPosition() const noexcept;

    /** The loop, in blocks [start, end): the mixer's. */
    void setLoop (juce::Range<int> frames, bool enabled) noexcept { mixer.setLoop (frames, enabled); }
    bool isLooping() const noexcept { return mixer.isLoopEnabled(); }

    /** How long start() and a jump wait for their first blocks. */
    static constexpr int primeTimeoutMs = 250;

    /** The project's sample rate. */
    double getSampleRate() const noexcept { return (double) mixer.getSampleRate(); }

    /** The melody editor's tone, added over what plays (and over silence when stopped). */
    PitchPreviewTone& getPreviewTone() noexcept { return tone; }

    /** Counts device samples that were due while the mix was not ready. */
    juce::int64 getUnderrunSamples() const noexcept { return underrunSamples.load(); }

private:
    void readMix (const juce::AudioSourceChannelInfo& info);

    Mixer& mixer;
    PitchPreviewTone tone;
    juce::AudioBuffer<float> block;
    int blockRead = 0, blockLength = 0;
    std::atomic<int> position { 0 };
    std::atomic<int> positionRequest { -1 };
    std::atomic<bool> playing { false };
    std::atomic<juce::int64> underrunSamples { 0 };
};

} // namespace kalder
