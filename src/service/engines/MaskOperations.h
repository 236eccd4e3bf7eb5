#pragma once

#include "SegmentSpectra.h"

namespace kalder::service
{

/**
    Small operations on magnitude spectrograms and masks shared by the engines:
    median filters along time and frequency, smoothing, band weights, and applying
    masks to a segment's channels.

    Threading: pure functions, any thread.
*/
struct MaskOperations
{
    /** Median of each bin over `length` frames centred on each frame (length odd;
        the window is shortened at the edges). */
    static MaskMatrix medianAlongTime (const MaskMatrix& m, int length);

    /** Median of each frame over `length` bins centred on each bin. */
    static MaskMatrix medianAlongFrequency (const MaskMatrix& m, int length);

    /** Moving average of each bin over `length` frames centred on each frame. */
    static MaskMatrix averageAlongTime (const MaskMatrix& m, int length);

    /** The share of each bin that a moving target claims over a steady background:
        where `support` (a target's mask) is at least one half, the background is the
        median of the bin's magnitudes over +-halfLength frames where the support leaves
        it free (the plain median where it never does), and the share is
        max(0, M - background) / M. Zero where the support is below one half. A voice's
        partials move (vibrato, glides, new notes) while the chords under them hold, so
        this keeps the voice and leaves the chord tones that share its partials' bins. */
    static MaskMatrix shareAboveBackground (const MaskMatrix& magnitude, const MaskMatrix& support, int halfLength);

    /** A weight per bin: 0 below lowHz, rising over an octave to 1, 1 up to highHz,
        falling over an octave to 0 above it (raised-cosine edges). */
    static std::vector<float> bandWeights (const SegmentSpectra& segment, double lowHz, double highHz);

    /** An odd length of at least 3 for a span in seconds (frames) at frameRate. */
    static int oddLength (double span, double unitsPerSecond);

    /** stems[s][c] = mask[s] (shared by every channel) times channel c, core frames only. */
    static void applySharedMasks (const SegmentSpectra& segment, const std::vector<MaskMatrix>& masks, StemSpectra& stems);

    /** Per frame, the share of a mask's energy (mask times magnitude, squared) that is
        also foreground (times foreground), averaged over `length` frames: near one for
        a non-repeating part, near zero for a repeating one. */
    static std::vector<float> foregroundShare (const MaskMatrix& mask, const MaskMatrix& foreground, const MaskMatrix& magnitude,
                                               int length);

    /** Energy of each column, summed over channels. */
    static std::vector<double> frameEnergies (const std::vector<CspecMatrix>& channels);

    /** Per-frame gate 0..1 (attack/release smoothed) that closes where a stem's level
        (frame energies averaged over a quarter second) is more than thresholdDb below
        the mixture's, or below an absolute floor (dB of a full-scale sine in a frame
        of nfft samples). */
    static std::vector<float> gateFrames (const std::vector<double>& energies, const std::vector<double>& mixture,
                                          float thresholdDb, float floorDb, int nfft);
};

} // namespace kalder::service
