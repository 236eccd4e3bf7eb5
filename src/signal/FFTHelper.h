#pragma once

#include "RealFFT.h"
#include "SpectralMatrices.h"

namespace kalder
{

/**
    The FFT length of a track, and conversions between the transform's CCS packing
    and the frame matrices.

    Threading: all functions are pure and may be called from any thread.
*/
struct FFTHelper
{
    /** The FFT length N for a sample rate. Stored projects are reread with it, so the
        table never changes:

        | sample rate (Hz)   | N     |
        |--------------------|-------|
        | below 16 000       | 1024  |
        | 16 000 to 31 999   | 2048  |
        | 32 000 to 63 999   | 4096  |  (44.1 and 48 kHz)
        | 64 000 to 127 999  | 8192  |
        | 128 000 and above  | 16384 |

        so that a frame always spans between 32 and 64 ms. Rates of 0 or below give 4096. */
    static int getNfftForSampleRate (int sampleRate) noexcept;

    /** count complex values from a CCS buffer: value k = (ccs[2k], ccs[2k + 1]).
        count <= 0 gives an empty vector. */
    static ComplexVector CCSformatToVecXcf (const float* ccs, int count);

    /** Inverse transforms every column of frames (nfft / 2 + 1 rows) and returns an
        nfft x frames.cols() matrix of time-domain frames scaled by 1 / nfft, so that
        the inverse of a forward transform returns the windowed frame. A matrix with no
        rows or no columns, or one whose row count does not fit nfft, gives an empty
        result. */
    static MaskMatrix applyInverseFFT (const CspecMatrix& frames, int nfft, const RealFFT& fft);
};

} // namespace kalder
