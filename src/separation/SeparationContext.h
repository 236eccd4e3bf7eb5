#pragma once

#include <juce_core/juce_core.h>

namespace kalder
{
class AudioTrack;
}

namespace kalder::separation
{

/**
    The part of a track a separation works on.

    The frame range is in output blocks (hops of samples, as the loop and the
    selection's time span are kept): the separated samples are those of the blocks,
    cut at the track's end. So that the separation hears what comes before and after,
    the request carries up to paddingSeconds more on each side; the origin is the
    track sample where the sent audio starts, and the sample padding is how many
    samples of it come before the range. The import places sent sample i at track
    sample origin + i and keeps only the range; outside it the children are silent.

    Locked once a separation has taken it: the range no longer changes.

    Threading: a plain value.
*/
class SeparationContext
{
public:
    static constexpr double paddingSeconds = 1.0;

    /** The whole track: no padding, origin 0. */
    static SeparationContext forWholeTrack (const AudioTrack& track);
    /** Blocks [blocks.start, blocks.end) of the track (clipped to it), padded. */
    static SeparationContext forBlocks (const AudioTrack& track, juce::Range<int> blocks);

    void setFrameRange (juce::Range<int> blocks)
    {
        if (! locked)
            frameRange = blocks;
    }
    juce::Range<int> getFrameRange() const noexcept { return frameRange; }
    void setOrigin (int firstSample)
    {
        if (! locked)
            origin = firstSample;
    }
    int getOrigin() const noexcept { return origin; }
    void setSamplePadding (int samples)
    {
        if (! locked)
            padding = samples;
    }
    int getSamplePadding() const noexcept { return padding; }
    void lock() noexcept { locked = true; }
    bool isLocked() const noexcept { return locked; }

    /** True when the range is the whole track. */
    bool isWholeTrack() const noexcept { return wholeTrack; }

    /** The samples the children keep: the range's, within the track. */
    juce::Range<juce::int64> getSampleRange() const noexcept { return samples; }
    /** The samples sent: the range with its padding. */
    juce::Range<juce::int64> getSentSampleRange() const noexcept { return sent; }

private:
    juce::Range<int> frameRange;
    int origin = 0, padding = 0;
    bool locked = false, wholeTrack = true;
    juce::Range<juce::int64> samples, sent;
};

} // namespace kalder::separation
