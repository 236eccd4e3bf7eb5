#pragma once

#include "SegmentSpectra.h"

namespace kalder::service
{

/**
    The repeating background of a magnitude spectrogram, after REPET-SIM (Rafii and
    Pardo 2012), a case of kernel additive modelling (Liutkus et al. 2014) whose
    kernel is "the frames most similar to this one".

    Frames are compared by the cosine similarity of their spectra, pooled into bands
    below 11 kHz so that the similarity matrix of a segment stays small (a segment of
    30 s holds about 1300 frames: 1300 x 1300 floats, about 7 MB). For each frame the
    most similar frames at least half a second away are chosen; the element-wise median
    of the frame and those frames models the background, since accompaniment repeats
    and a lead voice does not. The model is clipped to the mixture.

    Threading: const, any thread.
*/
class RepetitionModel
{
public:
    /** The background magnitude, no larger than magnitude anywhere. */
    MaskMatrix estimateBackground (const MaskMatrix& magnitude, const SegmentSpectra& segment) const;

    /** The foreground's soft mask: the share of each bin's magnitude that the background
        model leaves, (M - margin W) / M, clipped to 0..1. A margin above one ignores
        the ordinary fluctuation of noisy repeating parts (drums with fresh noise per
        hit) around their model. */
    MaskMatrix estimateForeground (const MaskMatrix& magnitude, const SegmentSpectra& segment, float margin) const;

    /** Context frames wanted on each side of a segment (a few seconds of music to
        find repetitions in). */
    static int getContextFrames (double frameRate);
};

} // namespace kalder::service
