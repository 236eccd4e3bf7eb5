#pragma once

#include <juce_core/juce_core.h>

#include <cmath>

namespace kalder
{

/**
    Where the frames of a track lie in time.

    Frames are N samples long and a hop (N / 4) apart. Frame f analyses the samples
    [(f - 3) * hop, (f + 1) * hop) of the track, with zeros before the first sample and
    after the last, so that every sample of the track is covered by four frames of
    non-negative index. Output block b, the samples [b * hop, (b + 1) * hop), is the
    overlap-add of frames b, b + 1, b + 2 and b + 3.

    A track of numSamples samples therefore has ceil(numSamples / hop) + 3 frames:
    the last block's four frames included. Frames outside [0, numFrames) are silent.
*/
struct FrameGeometry
{
    int nfft = 0;

    /** Frames that overlap one output sample. */
    static constexpr int overlap = 4;

    int getHop() const noexcept { return nfft / overlap; }
    int getNumFreqs() const noexcept { return nfft > 0 ? nfft / 2 + 1 : 0; }
    bool isValid() const noexcept { return nfft >= overlap && juce::isPowerOfTwo (nfft); }

    /** The first sample (possibly negative) that frame f analyses. */
    juce::int64 getFirstSampleOfFrame (juce::int64 frame) const noexcept { return (frame - (overlap - 1)) * getHop(); }

    /** The sample at the centre of frame f's window: (f - 1) hops. Displays put frame f
        (an image column) at this time; playback's block b starts at b hops, so column f
        is heard in block f - 1. Every view and tool converts through these two. */
    juce::int64 getCentreSampleOfFrame (juce::int64 frame) const noexcept { return (frame - (overlap / 2 - 1)) * getHop(); }

    /** The frame whose window is centred nearest to sample s. */
    juce::int64 getFrameCentredAt (double sample) const noexcept
    {
        const auto hop = (double) getHop();
        return hop > 0.0 ? (juce::int64) std::llround (sample / hop) + (overlap / 2 - 1) : 0;
    }

    /** The number of frames that covers numSamples samples. */
    int getNumFramesForSamples (juce::int64 numSamples) const noexcept
    {
        if (! isValid() || numSamples <= 0)
            return 0;
        const auto hop = (juce::int64) getHop();
        return (int) ((numSamples + hop - 1) / hop) + overlap - 1;
    }

    /** The number of output blocks (hops) that covers numSamples samples. */
    int getNumBlocksForSamples (juce::int64 numSamples) const noexcept
    {
        if (! isValid() || numSamples <= 0)
            return 0;
        const auto hop = (juce::int64) getHop();
        return (int) ((numSamples + hop - 1) / hop);
    }
};

} // namespace kalder
