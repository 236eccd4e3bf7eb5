#pragma once

#include "SelectionUpdate.h"

#include "signal/Asig.h"

namespace kalder
{

/**
    Computes selections from a track's store. Every operation only reads the store
    (magnitudes, mask, current selection) and returns a SelectionUpdate; nothing here
    writes, so previews may run on a background thread while the message thread edits
    (the store's reads are safe from any thread).

    Coordinates are image coordinates: x = store frame (0 .. nFrames - 1), y = bin
    (0 .. nFreqs - 1). Rectangles are given as (first frame, first bin, last frame, last
    bin), both ends inclusive, in any order, and are clipped to the track; a rectangle or
    point entirely outside gives the empty update. NaN or infinite parameters give the
    empty update.

    Levels are magnitudes of the masked spectrum in dB (20 log10 |X|), the scale of the
    spectrogram display.
*/
class SelectionHelper
{
public:
    /** Region-growing output: one row per bin and one column per frame of the searched
        window; 0 = not in the region, else the cell's strength in (0, 1]. */
    using Blob = MaskMatrix;

    /** Eight-neighbour offsets of region growing, in visiting order. */
    static constexpr int binOffsets[8] = { -1, 0, 1, 1, 1, 0, -1, -1 };
    static constexpr int frameOffsets[8] = { 1, 1, 1, 0, -1, -1, -1, 0 };

    /** Cells on each side of the searched window that region growing never enters. */
    static constexpr int blobMargin = 3;

    /** Half-width of the wand's searched window, in frames and in bins. */
    static constexpr int wandHalfWindow = 15;

    explicit SelectionHelper (Asig* store = nullptr) : asig (store) {}

    void setAsig (Asig* store) noexcept { asig = store; }

    /** Sets the update's replace / add / subtract flags from the mode. */
    static void setSelectionMode (SelectionMode mode, SelectionUpdate& update) noexcept;

    /** Every bin of the rectangle at 1. */
    SelectionUpdate rectangleSelect (int x1, int y1, int x2, int y2, SelectionMode mode) const;

    /** The ellipse inscribed in the rectangle at 1. */
    SelectionUpdate ellipseSelect (int x1, int y1, int x2, int y2, SelectionMode mode) const;

    /** Every bin of the rectangle whose level (dB, channel mean of the masked magnitude)
        lies above (or below) levelDb at 1, the others at 0. */
    SelectionUpdate thresholdSelect (int x1, int y1, int x2, int y2, float levelDb, bool above, SelectionMode mode) const;

    /** The magic wand: the connected region of similar loudness around (x, y). threshold
        is linear (0..1, from the tool's dB value: 10^(dB / 20), 0 at -100 dB or below);
        the lower it is, the wider the accepted band of levels. selectionSize (clamped to
        0..10) lets the soft edge reach that many cells beyond the searched region.

        harmonicMode adds the note's other harmonics: the clicked region is taken as
        harmonic number `harmonic` (1 = fundamental) of the note, and the regions at every
        other multiple of the fundamental up to highCutKHz are selected too, weighted by
        rollOff (0..1: how fast the weight falls per harmonic). strength (0..1) scales the
        values of the result. */
    SelectionUpdate wandSelect (int x, int y, float threshold, int selectionSize, bool harmonicMode, int harmonic,
                                float highCutKHz, float rollOff, float strength, SelectionMode mode) const;

    /** Grows one region into blob from (row, column) over image (same size as blob):
        the 8-connected cells whose value lies in [low, high], never entering the
        blob's margin, each at (I - 0.75 low) / (high - low) clamped to 0..1; the start
        cell at value clamped to 0..1. With high <= low only the start cell is set. */
    static void connectedBlob (Blob& blob, int row, int column, const MaskMatrix& image, float low, float high, float value);

    /** The transient (percussive onset) under the cursor, for the transient tool's hover
        display: the percussive part of the frames around x, across all bins. */
    SelectionUpdate transientDetect (int x, int y) const;

    /** The percussive (harmonic = false) or harmonic (harmonic = true) part of the
        rectangle, by median filtering the masked magnitudes along time (harmonic) and
        along frequency (percussive) with a window of 17, frames widened by 8 on each side
        for the filters. Bins below lowCutKHz are left out. applyMask reads the masked
        magnitudes (true) or the unedited ones. */
    SelectionUpdate percussiveHarmonicSelect (bool harmonic, int x1, int y1, int x2, int y2, bool applyMask, float lowCutKHz,
                                              SelectionMode mode) const;

private:
    Asig* asig = nullptr;
};

} // namespace kalder
