#pragma once

#include "AudioTrack.h"

#include "signal/RealFFT.h"

namespace kalder
{

/**
    Renders a track's sound block by block for one consumer (the playback pre-renderer,
    a bounce, an export), with the track's mask, flip, selection volume, volume and pan.

    Block b (the samples [b * hop, (b + 1) * hop)) is the weighted overlap-add of the
    inverse transforms of frames b .. b + 3. The renderer keeps the windowed inverse
    frames it computed, so rendering consecutive blocks costs one inverse transform per
    block and channel, in whatever order blocks are asked for; it forgets them when the
    track's render generation changes. A track whose store is not analysed yet plays its
    decoded audio directly: both paths give the same sound for an unedited track.

    Each consumer owns its renderers, so no two threads ever share one: rendering needs
    no lock, and playback and a bounce never keep each other from a track.

    Threading: one thread at a time per renderer. Not real-time safe (it reads the
    frame store); the mixer's pre-render thread calls it, never the audio callback.
*/
class TrackRenderer
{
public:
    /** numOutputChannels: 1 for a mono mix (no pan), 2 or more for a panned mix. */
    TrackRenderer (AudioTrack::Ptr track, int numOutputChannels);

    AudioTrack& getTrack() noexcept { return *track; }

    /** Whether renderBlock() feeds the track's meters (the default). Playback turns it
        off: it renders ahead of the sound and feeds the meters when a block is heard. */
    void setFeedsMeters (bool shouldFeed) noexcept { feedsMeters = shouldFeed; }

    /** Writes block b of the track, gain and pan applied, into dest's first hop samples of
        each output channel (dest must hold numOutputChannels x hop). Blocks outside the
        track are silent. */
    void renderBlock (int block, juce::AudioBuffer<float>& dest);

    /** The factor by which input channel of track reaches output of a mix of numOutputs
        channels: volume and pan law in one number (0 where the channel does not reach
        that output). */
    static float getOutputGain (const AudioTrack& track, int numOutputs, int output, int channel) noexcept;

    /** The track's block before volume and pan, one channel per track channel (for
        exports). */
    void renderRawBlock (int block, juce::AudioBuffer<float>& dest);

private:
    /** Frames read from the store at once when a frame is missing. */
    static constexpr int readAhead = 32;
    /** Inverse frames remembered per channel: read-ahead plus the overlap. */
    static constexpr int cacheSize = 40;

    struct CachedFrame
    {
        int frame = std::numeric_limits<int>::min();
        std::vector<float> samples;
    };

    const float* getInverseFrame (int channel, int frame);
    void fillCache (int channel, int firstFrame);
    void renderChannels (int block, juce::AudioBuffer<float>& raw);

    AudioTrack::Ptr track;
    AudioTrack::Content::Ptr content;
    bool feedsMeters = true;
    const int numOutputs;
    const FrameGeometry geometry;
    RealFFT fft;
    std::vector<float> synthesisWindow;
    RealFFT::Buffer ccs, time;
    std::vector<float> comb;                     // the melody preview's bin weights
    std::vector<std::vector<CachedFrame>> cache; // [channel][frame % cacheSize]
    juce::uint64 cachedGeneration = 0;
    bool cachedFromStore = false;
    juce::AudioBuffer<float> raw;
};

} // namespace kalder
