#include "ParsedAudio.h"

namespace kalder
{

ParsedAudioBuffer::ParsedAudioBuffer (juce::AudioBuffer<float> samples, int sampleRate)
    : buffer (std::move (samples)), rate (sampleRate)
{}

void ParsedAudioBuffer::readFrames (int channel, juce::int64 start, int numSamples, float* dest) const
{
    if (numSamples <= 0)
        return;

    juce::FloatVectorOperations::clear (dest, numSamples);
    if (! juce::isPositiveAndBelow (channel, buffer.getNumChannels()))
        return;

    const juce::Range<juce::int64> wanted (start, start + numSamples);
    const auto available = wanted.getIntersectionWith ({ 0, (juce::int64) buffer.getNumSamples() });
    if (available.isEmpty())
        return;

    juce::FloatVectorOperations::copy (dest + (available.getStart() - start),
                                       buffer.getReadPointer (channel, (int) available.getStart()), (int) available.getLength());
}

} // namespace kalder
