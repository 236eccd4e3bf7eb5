#pragma once

#include "SegmentSpectra.h"

namespace kalder::service
{

/**
    A harmonic comb over a pitch track: 1 on the partials of f0 (h * f0 for every h up
    to maxHz), fading to 0 between them. The tooth of partial h is flat over
    +-max(minBins, widthCents at h * f0) and fades out over as much again, so higher
    partials, which move further under vibrato, get wider teeth. Each frame's comb
    also covers the pitch of its neighbour frames, since a frame of 60 to 90 ms sees
    the pitch move.

    Threading: pure function, any thread.
*/
struct HarmonicCombMask
{
    static MaskMatrix build (const std::vector<float>& f0, const SegmentSpectra& segment, double maxHz, double widthCents,
                             double minBins);
};

} // namespace kalder::service
