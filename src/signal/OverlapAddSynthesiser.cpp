#include "OverlapAddSynthesiser.h"
#include "AsigUtilities.h"

namespace kalder
{

OverlapAddSynthesiser::OverlapAddSynthesiser (int nfft)
    : geometry { nfft },
      fft (nfft),
      synthesisWindow (AsigUtilities::getSynthesisWindow (nfft)),
      ccs ((size_t) nfft + 2),
      time ((size_t) nfft),
      accumulator ((size_t) nfft, 0.0f)
{
    // The inverse FFT is unscaled; fold its 1 / N into the synthesis window.
    juce::FloatVectorOperations::multiply (synthesisWindow.data(), 1.0f / (float) nfft, nfft);
}

void OverlapAddSynthesiser::reset() noexcept
{
    std::fill (accumulator.begin(), accumulator.end(), 0.0f);
}

void OverlapAddSynthesiser::pushFrame (const std::complex<float>* frame, float* block) noexcept
{
    const auto nfft = geometry.nfft;
    std::memcpy (ccs.data(), frame, sizeof (float) * (size_t) (2 * geometry.getNumFreqs()));
    fft.inverse (ccs.data(), time.data());
    juce::FloatVectorOperations::multiply (time.data(), synthesisWindow.data(), nfft);
    juce::FloatVectorOperations::add (accumulator.data(), time.data(), nfft);
    emitBlock (block);
}

void OverlapAddSynthesiser::pushSilence (float* block) noexcept
{
    emitBlock (block);
}

void OverlapAddSynthesiser::emitBlock (float* block) noexcept
{
    const auto nfft = geometry.nfft;
    const auto hop = geometry.getHop();
    std::memcpy (block, accumulator.data(), sizeof (float) * (size_t) hop);
    std::memmove (accumulator.data(), accumulator.data() + hop, sizeof (float) * (size_t) (nfft - hop));
    std::fill (accumulator.begin() + (nfft - hop), accumulator.end(), 0.0f);
}

} // namespace kalder
