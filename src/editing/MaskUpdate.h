#pragma once

#include "signal/SpectralMatrices.h"

#include <juce_core/juce_core.h>

namespace kalder
{

/** One change of one channel's mask: the new gains of a block (one row per bin of bins,
    one column per store frame of frames). An update with no values is empty. */
struct MaskUpdate
{
    int channel = 0;
    juce::Range<int> bins, frames;
    MaskMatrix values;

    bool isEmpty() const noexcept { return values.rows() == 0 || values.cols() == 0; }
};

} // namespace kalder
