#include "ResamplingSpecTransportSource.h"

namespace kalder
{

ResamplingSpecTransportSource::ResamplingSpecTransportSource (SpecTransportSource& source, int numDeviceChannels)
    : transport (source), resampler (&source, false, juce::jmax (1, numDeviceChannels))
{}

void ResamplingSpecTransportSource::prepareToPlay (int samplesPerBlockExpected, double deviceSampleRate)
{
    const auto projectRate = transport.getSampleRate();
    resampler.setResamplingRatio (projectRate > 0 && deviceSampleRate > 0 ? projectRate / deviceSampleRate : 1.0);
    resampler.prepareToPlay (samplesPerBlockExpected, deviceSampleRate);
}

void ResamplingSpecTransportSource::releaseResources()
{
    resampler.releaseResources();
}

void ResamplingSpecTransportSource::getNextAudioBlock (const juce::AudioSourceChannelInfo& info)
{
    resampler.getNextAudioBlock (info);
}

} // namespace kalder
