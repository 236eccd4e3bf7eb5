#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

#include <functional>

namespace kalder
{

/**
    The min/max outline of an audio file, one range per bucket of equal length, over
    all channels: what an overview strip draws.

    Threading: compute() reads the file and may take a while; call it off the message
    thread. The result is a plain value that may be handed to any thread.
*/
class WaveformSummary
{
public:
    /** Reads file (any format of JUCE's basic set) and splits it into numBuckets
        buckets. shouldStop is polled between buckets; when it returns true, or when the
        file cannot be read, the result is empty. */
    static WaveformSummary compute (const juce::File& file, int numBuckets, const std::function<bool()>& shouldStop = {});

    bool isEmpty() const noexcept { return buckets.isEmpty(); }
    int getNumBuckets() const noexcept { return buckets.size(); }

    /** The lowest and highest sample of bucket i over every channel. */
    juce::Range<float> getBucket (int i) const noexcept { return buckets[i]; }

    /** The samples of the file. */
    juce::int64 getNumSamples() const noexcept { return numSamples; }

private:
    juce::Array<juce::Range<float>> buckets;
    juce::int64 numSamples = 0;
};

} // namespace kalder
