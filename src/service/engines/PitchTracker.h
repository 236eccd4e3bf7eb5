#pragma once

#include "SegmentSpectra.h"

namespace kalder::service
{

/**
    Tracks the predominant fundamental frequency in a band of a magnitude spectrogram.

    Salience by harmonic summation (Klapuri 2006; Salamon and Gomez 2012): for each
    candidate f0 on a grid of 10-cent steps, the weighted sum of the compressed
    magnitudes at the spectral peaks on its first harmonics, weighted by
    (f0 + 52) / (h f0 + 320) (Klapuri's weights for frames of about 93 ms). The track is the path
    through the per-frame normalised salience that maximises the summed salience minus
    a cost proportional to the pitch jump between frames, found exactly by dynamic
    programming (with an L1 distance transform, so each frame costs O(candidates)).
    Each frame also gets a voicing confidence: the share of the band's energy that
    lies on the tracked harmonics.

    The melody of a lead voice is tracked from 80 Hz to 1 kHz; a bass line from about
    30 Hz to 300 Hz.

    Threading: const, any thread.
*/
class PitchTracker
{
public:
    PitchTracker (double minHz, double maxHz, int numHarmonics, double maxAnalysisHz);

    struct Track
    {
        std::vector<float> f0;         // Hz per column, 0 where nothing was tracked
        std::vector<float> confidence; // 0..1 per column
    };

    Track track (const MaskMatrix& magnitude, const SegmentSpectra& segment) const;

    /** The share of the band's energy on the harmonics of f0 in column t (0 for f0 = 0). */
    float harmonicShare (const MaskMatrix& magnitude, int t, float f0, const SegmentSpectra& segment) const;

    static int getContextFrames (double frameRate);

private:
    double minHz, maxHz, maxAnalysisHz;
    int numHarmonics;
};

} // namespace kalder::service
