#pragma once

#include "SegmentSpectra.h"

namespace kalder::service
{

/**
    Stereo position per time-frequency bin, after the azimuth discrimination of ADRess
    (Barry, Lawlor and Coyle 2004). ADRess searches, per bin, the gain g at which
    |L - g R| (or |R - g L|) nulls; for a bin dominated by one amplitude-panned source
    the null lies at the ratio of the channel gains. We take that ratio directly as the
    angle atan2(|R|, |L|), scaled to a position 0 (hard left) .. 0.5 (centre) .. 1 (hard
    right), so constant-power and linear pan laws both map monotonically.

    Also accumulates the energy-weighted histogram of positions over a whole input
    (bounded memory: a fixed number of histogram cells) and picks source positions
    from it by weighted one-dimensional k-means.

    Threading: not thread-safe (the histogram); one per job.
*/
class AzimuthAnalyser
{
public:
    AzimuthAnalyser();

    /** Position 0..1 of every bin; 0.5 everywhere for a mono segment. Uses the first two
        channels of inputs with more. */
    static MaskMatrix positions (const SegmentSpectra& segment);

    /** Adds a segment's core frames to the histogram. */
    void accumulate (const SegmentSpectra& segment, const MaskMatrix& positions);

    /** n source positions (ascending) found in the histogram; equally spaced ones when
        the histogram is empty. */
    std::vector<float> findSources (int n) const;

    /** Positions 0, 1 / (n - 1), ..., 1. */
    static std::vector<float> equallySpaced (int n);

private:
    std::vector<double> histogram;
};

} // namespace kalder::service
