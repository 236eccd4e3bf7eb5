#pragma once

#include "FrameGeometry.h"
#include "RealFFT.h"
#include "SpectralMatrices.h"

#include <vector>

namespace kalder
{

/**
    Turns a stream of complex frames back into audio by inverse FFT and weighted
    overlap-add (Hann synthesis window, see AsigUtilities).

    Frames are pushed in order. Pushing frame f completes output block f - 3, the
    samples [(f - 3) * hop, (f - 2) * hop) (see FrameGeometry); so to start output at
    block b, push frames b, b + 1 and b + 2 first (their outputs are discarded) and
    then frame b + 3 gives block b. Frames outside the track are pushed as silence.

    Owned by one reader (a playback source, a bounce, a test); not thread-safe.
    Everything is allocated in the constructor: pushFrame() and pushSilence() are
    real-time safe.
*/
class OverlapAddSynthesiser
{
public:
    explicit OverlapAddSynthesiser (int nfft);

    const FrameGeometry& getGeometry() const noexcept { return geometry; }

    /** Clears the overlap state (as after pushing four silent frames). */
    void reset() noexcept;

    /** Adds one frame (nFreqs complex values, bin 0 first) and writes the completed
        block of hop samples to block. */
    void pushFrame (const std::complex<float>* frame, float* block) noexcept;

    /** Adds a silent frame and writes the completed block of hop samples to block. */
    void pushSilence (float* block) noexcept;

private:
    void emitBlock (float* block) noexcept;

    FrameGeometry geometry;
    RealFFT fft;
    std::vector<float> synthesisWindow;
    RealFFT::Buffer ccs, time;
    std::vector<float> accumulator;
};

} // namespace kalder
