#include "FFTHelper.h"

namespace kalder
{

int FFTHelper::getNfftForSampleRate (int sampleRate) noexcept
{
    if (sampleRate <= 0)
        return 4096;
    if (sampleRate < 16000)
        return 1024;
    if (sampleRate < 32000)
        return 2048;
    if (sampleRate < 64000)
        return 4096;
    if (sampleRate < 128000)
        return 8192;
    return 16384;
}

ComplexVector FFTHelper::CCSformatToVecXcf (const float* ccs, int count)
{
    if (count <= 0 || ccs == nullptr)
        return {};

    ComplexVector v (count);
    std::memcpy (static_cast<void*> (v.data()), ccs, sizeof (float) * 2 * (size_t) count);
    return v;
}

MaskMatrix FFTHelper::applyInverseFFT (const CspecMatrix& frames, int nfft, const RealFFT& fft)
{
    if (frames.rows() == 0 || frames.cols() == 0 || nfft <= 0)
        return {};

    const auto nFreqs = nfft / 2 + 1;
    if (frames.rows() != nFreqs || fft.getSize() != nfft)
    {
        jassertfalse;
        return {};
    }

    MaskMatrix out (nfft, frames.cols());
    RealFFT::Buffer ccs ((size_t) nfft + 2);
    RealFFT::Buffer time ((size_t) nfft);
    const auto scale = 1.0f / (float) nfft;

    for (Eigen::Index c = 0; c < frames.cols(); ++c)
    {
        std::memcpy (ccs.data(), frames.col (c).data(), sizeof (float) * (size_t) (2 * nFreqs));
        fft.inverse (ccs.data(), time.data());
        juce::FloatVectorOperations::multiply (out.col (c).data(), time.data(), scale, nfft);
    }

    return out;
}

} // namespace kalder
