#pragma once

#include "SegmentSpectra.h"

namespace kalder::service
{

/**
    Harmonic / percussive / residual decomposition of a magnitude spectrogram by
    median filtering (FitzGerald 2010), with the separation margin of Driedger, Mueller
    and Disch (2014): a bin is harmonic where the time-median exceeds the
    frequency-median by the margin, percussive in the opposite case, and residual
    (noise, vibrato, transitions) in between.

    The masks are soft: with H and P the two median-filtered spectrograms and beta the
    margin, harmonic = H^2 / (H^2 + (beta P)^2), percussive = P^2 / (P^2 + (beta H)^2)
    and residual = 1 - harmonic - percussive, which is never negative for beta >= 1.

    Threading: const after construction, any thread.
*/
class HarmonicPercussiveSplitter
{
public:
    struct Masks
    {
        MaskMatrix harmonic, percussive, residual;

        /** 1 - H / M, clipped: the share of each bin above its own time median. At low
            frequencies, where a kick drum is too narrow-band for the frequency median
            to see, this is the better percussive evidence. */
        MaskMatrix transient;

        /** P^2 / (P^2 + H^2): the plain soft mask of the percussive part (margin 1),
            which decides the residual's bins between the two. */
        MaskMatrix percussiveShare;
    };

    /** margin >= 1; 1 gives two masks that sum to one and an empty residual. */
    explicit HarmonicPercussiveSplitter (float margin);

    Masks split (const MaskMatrix& magnitude, const SegmentSpectra& segment) const;

    /** The drums' mask: percussive plus residualShare of the residual, and below
        kickTopHz at least the transient share (a kick drum's energy). */
    static MaskMatrix drumMask (const Masks& masks, float residualShare, const SegmentSpectra& segment);

    /** Context frames the time median needs on each side of a segment. */
    static int getContextFrames (double frameRate);

private:
    float margin;
};

} // namespace kalder::service
