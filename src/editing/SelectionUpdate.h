#pragma once

#include "signal/SpectralMatrices.h"

#include <juce_core/juce_core.h>

#include <cstdint>

namespace kalder
{

/** How a new selection combines with the current one. The numbers are stored and passed
    around as they are: 0 replaces, 1 and 2 add, 3 subtracts. */
enum class SelectionMode : std::int32_t
{
    replace = 0,
    /** Shift with the harmonic wand (and the other point tools). */
    addPoint = 1,
    /** Shift with the threshold tools (and the other area tools). */
    addArea = 2,
    /** Shift + Alt with every selection tool; also removing percussive or harmonic parts. */
    subtract = 3
};

/**
    One change of a track's selection: a block of new values and how they combine with
    the selection already there.

    The block covers frames [x1, x2] and bins [y1, y2] (image coordinates: x is the store
    frame, y the bin, both ends inclusive); values has one row per bin and one column per
    frame of that block, each in 0..1.

    How the values combine (the flags, set by SelectionHelper::setSelectionMode()):
    - replace: the block becomes the whole selection (everything outside it is cleared);
    - add: each bin keeps the larger of its old and new value;
    - subtract: each bin becomes max (0, old - new).

    An update with no rows or no columns is empty: there was nothing to select, and
    callers skip it (no store write, no undo step).
*/
struct SelectionUpdate
{
    int x1 = 0, y1 = 0, x2 = -1, y2 = -1;
    MaskMatrix values;
    bool replace = true, add = false, subtract = false;

    bool isEmpty() const noexcept { return values.rows() == 0 || values.cols() == 0; }

    juce::Range<int> getFrames() const noexcept { return { x1, x1 + (int) values.cols() }; }
    juce::Range<int> getBins() const noexcept { return { y1, y1 + (int) values.rows() }; }
};

} // namespace kalder
