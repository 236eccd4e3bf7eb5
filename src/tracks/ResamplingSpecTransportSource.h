#pragma once

#include "SpecTransportSource.h"

namespace kalder
{

/**
    Plays the transport at the device's sample rate: JUCE's resampling source (linear
    interpolation with a low-pass filter) over the SpecTransportSource, with the ratio of
    the project's rate to the device's.

    Threading: getNextAudioBlock() on the audio thread, real-time safe once prepared for
    the device's block size; prepareToPlay() allocates.
*/
class ResamplingSpecTransportSource : public juce::AudioSource
{
public:
    ResamplingSpecTransportSource (SpecTransportSource& source, int numDeviceChannels);

    void prepareToPlay (int samplesPerBlockExpected, double deviceSampleRate) override;
    void releaseResources() override;
    void getNextAudioBlock (const juce::AudioSourceChannelInfo& info) override;

    /** Project rate over device rate (1 when they match). */
    double getResamplingRatio() const noexcept { return resampler.getResamplingRatio(); }

private:
    SpecTransportSource& transport;
    juce::ResamplingAudioSource resampler;
};

} // namespace kalder
