#pragma once

#include "MaskUpdate.h"

#include "signal/Asig.h"

#include <memory>

namespace kalder
{

/**
    Computes mask changes from a track's store: erase (a constant under the selection),
    remove foreground and the eraser brush. Every operation only reads the store and
    returns a MaskUpdate of one channel's block; the edit manager records and writes it.

    Every result is combined with the block's current mask under weights (the selection,
    or the brush's footprint) by applyUpdateOnCurrentMask(), so an operation keeps the
    earlier edits of the block and a soft selection edge blends:
        new = current x (1 - w) + target x w.

    Masks are read as stored (AsigMemoryManager::getMaskFrames), never flipped.
    Coordinates are image coordinates (x = store frame, y = bin).

    Threading: any thread (it only reads); results are written on the message thread.
*/
class MaskUpdater
{
public:
    /** How selection values weigh a constant. */
    enum class SelectionWeighting
    {
        blend,      // soft values blend the constant with the current mask
        anySelected // every selected bin (value above 0) takes the constant
    };

    /** The largest box "Remove Foreground" works on: frames, and bins x frames. */
    static constexpr int spotRemoverMaxFrames = 2048;
    static constexpr int spotRemoverMaxCells = 1 << 21;

    /** Remove Foreground estimates the background from the frames around the box: at
        least this many, and as many as the box is long on each side where the track
        allows. A track with fewer frames than minimum is too short for it. */
    static constexpr int spotRemoverContextFrames = 32;
    static constexpr int spotRemoverMinimumTrackFrames = 64;

    explicit MaskUpdater (std::weak_ptr<Asig> store) : asig (std::move (store)) {}

    /** current x (1 - w) + target x w for every cell, clamped to 0..1 (NaN targets and
        weights count as 0). targets holds the operation's target gains for the block. */
    static MaskUpdate applyUpdateOnCurrentMask (const MaskUpdate& targets, const MaskMatrix& currentMask,
                                                const MaskMatrix& weights);

    /** The block bins x frames of channel with the mask set to value where selection
        (bins x frames) is set, combined with the current mask. currentMask, when given,
        is the channel's stored mask over the block. */
    MaskUpdate setConstant (int channel, float value, juce::Range<int> bins, juce::Range<int> frames, const MaskMatrix& selection,
                            SelectionWeighting weighting = SelectionWeighting::blend,
                            const MaskMatrix* currentMask = nullptr) const;

    /** Remove Foreground over the box frames [x1, x2], bins [y1, y2] (inclusive) of
        channel: the background of every bin is the median over time of the masked
        magnitude in and around the box; where a bin is louder than its background the
        target gain brings it down to it (current x min (1, background / |masked X|)),
        blended in by the selection (the box's selection values). Empty when the box
        is outside the limits above or the track is too short. */
    MaskUpdate spotRemover (int channel, int x1, int y1, int x2, int y2, const MaskMatrix& selection,
                            const MaskMatrix* currentMask = nullptr) const;

    /** The eraser brush along the segment (x1, y1) to (x2, y2), over the frames of
        `frames` that the stroke reaches: a round brush of radius cells (fully erasing
        within half the radius, fading to nothing at the radius) that multiplies the
        mask by 1 - strength x footprint; with restore it raises the mask toward 1 (kept)
        by strength x footprint instead. Empty when the stroke misses the frames. */
    MaskUpdate eraserStroke (int channel, int x1, int y1, int x2, int y2, double radius, double strength, juce::Range<int> frames,
                             const MaskMatrix* currentMask = nullptr, bool restore = false) const;

    /** The bins and frames a brush stroke reaches in the store (empty when it misses). */
    static std::pair<juce::Range<int>, juce::Range<int>> getStrokeBox (int x1, int y1, int x2, int y2, double radius,
                                                                       int numFreqs, int numFrames);

    /** The brush's footprint (0..1) over bins x frames. */
    static MaskMatrix getBrushFootprint (int x1, int y1, int x2, int y2, double radius, juce::Range<int> bins,
                                         juce::Range<int> frames);

private:
    MaskMatrix readMask (Asig& store, int channel, juce::Range<int> bins, juce::Range<int> frames, const MaskMatrix* given) const;

    std::weak_ptr<Asig> asig;
};

} // namespace kalder
