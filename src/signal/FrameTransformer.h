#pragma once

#include "FrameGeometry.h"
#include "ParsedAudio.h"
#include "RealFFT.h"
#include "SpectralMatrices.h"

#include <juce_core/juce_core.h>

#include <vector>

namespace kalder
{

/**
    The analysis transform: windows frames of one channel of audio (Hann) and transforms
    them, frame f from the samples [(f - 3) * hop, (f + 1) * hop) (zeros outside the
    audio), with buffers kept from one call to the next.

    Threading: one thread at a time; the RealFFT may be shared (its transforms are
    thread-safe).
*/
class FrameTransformer
{
public:
    FrameTransformer (const FrameGeometry& geometry, const RealFFT& fft);

    /** block becomes nFreqs x frames.getLength(): the spectra of those frames. */
    void transform (const ParsedAudio& audio, int channel, juce::Range<int> frames, CspecMatrix& block);

private:
    const FrameGeometry geometry;
    const RealFFT& fft;
    const std::vector<float> window;
    RealFFT::Buffer time, ccs;
    std::vector<float> samples;
};

} // namespace kalder
