#pragma once

#include "AudioTrack.h"

#include "signal/OverlapAddSynthesiser.h"

namespace kalder
{

/**
    Mixes tracks before synthesis: the masked spectra of every track and channel are
    summed, weighted by volume and pan, into one spectrum per output channel, and only
    those are transformed back. Synthesis is linear, so the result is the sum of the
    tracks rendered one by one, to float precision, at the cost of one inverse transform
    per output channel instead of one per track channel.

    For renders that read the mix in order (bounces): asking for the block after the
    last one costs one frame per output channel; any other block starts the overlap
    again from three frames before it. Spectra are summed 32 frames ahead; when a track's
    render generation changes (an edit, a new volume) or the list of tracks does, the
    frames not yet synthesised are summed again, so a change mid-render is heard from
    the next frame on, cross-faded by the overlap.

    Every track must share the geometry given to the constructor and have its store
    analysed (see canSum()). Individual tracks' meters are not fed.

    Threading: one thread at a time.
*/
class SpectralMixSynthesiser
{
public:
    SpectralMixSynthesiser (const FrameGeometry& geometry, int numOutputChannels);

    /** True when the track can be mixed here (analysed store of this geometry). */
    bool canSum (const AudioTrack& track) const;

    /** Adds the mix of tracks for output block b (samples [b * hop, (b + 1) * hop)) to
        out's first hop samples of each output channel. The list of tracks should be the
        same from one block to the next; when it changes the summed frames are summed
        again. */
    void addBlock (int block, const juce::Array<AudioTrack*>& tracks, juce::AudioBuffer<float>& out);

private:
    /** Frames summed per step. */
    static constexpr int framesPerStep = 32;

    void sumFrames (int firstFrame, const juce::Array<AudioTrack*>& tracks);
    void pushFrame (int frame, const juce::Array<AudioTrack*>& tracks);

    const FrameGeometry geometry;
    const int numOutputs;
    std::vector<std::unique_ptr<OverlapAddSynthesiser>> synthesisers; // one per output channel
    std::vector<CspecMatrix> summed;                                  // [output], nFreqs x framesPerStep
    juce::Range<int> summedFrames;
    juce::Array<AudioTrack*> summedTracks;
    std::vector<juce::uint64> summedGenerations;
    int nextBlock = -1;
    juce::AudioBuffer<float> block;
};

} // namespace kalder
