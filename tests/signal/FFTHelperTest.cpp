#include "signal/FFTHelper.h"
#include "signal/AsigUtilities.h"
#include "signal/FrameGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

using namespace kalder;

namespace
{
constexpr double twoPi = 2.0 * juce::MathConstants<double>::pi;

/** The textbook DFT of a real signal, in double precision: the reference. */
std::vector<std::complex<double>> directForward (const std::vector<float>& x)
{
    const auto n = (int) x.size();
    std::vector<std::complex<double>> X ((size_t) (n / 2 + 1));
    for (int k = 0; k <= n / 2; ++k)
        for (int i = 0; i < n; ++i)
            X[(size_t) k] += (double) x[(size_t) i] * std::polar (1.0, -twoPi * k * i / n);
    return X;
}

/** The inverse DFT of a Hermitian spectrum given by its first n/2 + 1 bins, scaled by 1/n. */
std::vector<double> directInverse (const std::vector<std::complex<double>>& X, int n)
{
    std::vector<double> x ((size_t) n);
    for (int i = 0; i < n; ++i)
    {
        std::complex<double> sum = X[0] + X[(size_t) (n / 2)] * std::polar (1.0, twoPi * (n / 2) * i / n);
        for (int k = 1; k < n / 2; ++k)
            sum += 2.0 * X[(size_t) k] * std::polar (1.0, twoPi * k * i / n);
        x[(size_t) i] = sum.real() / n;
    }
    return x;
}
} // namespace

TEST (FFTHelper, FftLengthIsAStablePowerOfTwoThatGrowsWithTheRate)
{
    EXPECT_EQ (FFTHelper::getNfftForSampleRate (44100), 4096);
    EXPECT_EQ (FFTHelper::getNfftForSampleRate (48000), 4096);
    EXPECT_EQ (FFTHelper::getNfftForSampleRate (22050), 2048);
    EXPECT_EQ (FFTHelper::getNfftForSampleRate (96000), 8192);
    EXPECT_EQ (FFTHelper::getNfftForSampleRate (192000), 16384);
    EXPECT_EQ (FFTHelper::getNfftForSampleRate (8000), 1024);

    int previous = 0;
    for (int rate = 8000; rate <= 200000; rate += 250)
    {
        const auto n = FFTHelper::getNfftForSampleRate (rate);
        EXPECT_TRUE (juce::isPowerOfTwo (n));
        EXPECT_EQ (n % 4, 0);
        EXPECT_GE (n, previous);
        // Frames always last between 20 and 130 ms.
        EXPECT_GT ((double) n / rate, 0.02) << rate;
        EXPECT_LT ((double) n / rate, 0.13) << rate;
        previous = n;
    }
}

TEST (FFTHelper, ForwardTransformMatchesDirectDftInCcsPacking)
{
    for (int n : { 16, 64, 1024 })
    {
        RealFFT fft (n);
        RealFFT::Buffer time ((size_t) n), ccs ((size_t) n + 2);
        juce::Random random (n);
        std::vector<float> x ((size_t) n);
        for (int i = 0; i < n; ++i)
            time.data()[i] = x[(size_t) i] = random.nextFloat() * 2.0f - 1.0f;

        fft.forward (time.data(), ccs.data());
        const auto reference = directForward (x);

        const auto bins = FFTHelper::CCSformatToVecXcf (ccs.data(), n / 2 + 1);
        ASSERT_EQ (bins.size(), n / 2 + 1);
        for (int k = 0; k <= n / 2; ++k)
        {
            EXPECT_NEAR (bins[k].real(), reference[(size_t) k].real(), 1e-4 * std::sqrt (n)) << "n " << n << " bin " << k;
            EXPECT_NEAR (bins[k].imag(), reference[(size_t) k].imag(), 1e-4 * std::sqrt (n)) << "n " << n << " bin " << k;
        }
        EXPECT_EQ (ccs.data()[1], 0.0f);
        EXPECT_EQ (ccs.data()[n + 1], 0.0f);
    }
}

TEST (FFTHelper, InverseTransformMatchesDirectInverseDft)
{
    const int n = 256;
    RealFFT fft (n);
    juce::Random random (7);
    std::vector<std::complex<double>> spectrum ((size_t) (n / 2 + 1));
    CspecMatrix frames (n / 2 + 1, 3);
    for (int c = 0; c < 3; ++c)
    {
        for (int k = 0; k <= n / 2; ++k)
        {
            // Bins 0 and n/2 of a real signal's spectrum are real.
            const auto im = (k == 0 || k == n / 2) ? 0.0f : random.nextFloat() - 0.5f;
            frames (k, c) = { random.nextFloat() - 0.5f, im };
        }
    }

    const auto out = FFTHelper::applyInverseFFT (frames, n, fft);
    ASSERT_EQ (out.rows(), n);
    ASSERT_EQ (out.cols(), 3);

    for (int c = 0; c < 3; ++c)
    {
        for (int k = 0; k <= n / 2; ++k)
            spectrum[(size_t) k] = { frames (k, c).real(), frames (k, c).imag() };
        const auto reference = directInverse (spectrum, n);
        for (int i = 0; i < n; ++i)
            EXPECT_NEAR (out (i, c), reference[(size_t) i], 1e-6) << "column " << c << " sample " << i;
    }
}

TEST (FFTHelper, DegenerateInputs)
{
    RealFFT fft (64);
    EXPECT_EQ (FFTHelper::applyInverseFFT (CspecMatrix (0, 5), 64, fft).size(), 0);
    EXPECT_EQ (FFTHelper::applyInverseFFT (CspecMatrix (33, 0), 64, fft).size(), 0);

    const auto zeros = FFTHelper::applyInverseFFT (CspecMatrix::Zero (33, 2), 64, fft);
    ASSERT_EQ (zeros.rows(), 64);
    EXPECT_EQ (zeros.cwiseAbs().maxCoeff(), 0.0f);

    const float ccs[] = { 3.0f, 0.0f, 5.0f, -1.0f };
    const auto dcOnly = FFTHelper::CCSformatToVecXcf (ccs, 1);
    ASSERT_EQ (dcOnly.size(), 1);
    EXPECT_EQ (dcOnly[0], std::complex<float> (3.0f, 0.0f));
    EXPECT_EQ (FFTHelper::CCSformatToVecXcf (ccs, 0).size(), 0);
    EXPECT_EQ (FFTHelper::CCSformatToVecXcf (ccs, -2).size(), 0);
}

TEST (AsigUtilities, WindowsAndTheirOverlap)
{
    float data[] = { 1.0f, 2.0f, 3.0f };
    const float window[] = { 0.0f, 0.0f, 0.0f };
    AsigUtilities::applywindow (data, window, 0);
    AsigUtilities::applywindow (data, window, -4);
    EXPECT_EQ (data[0], 1.0f);
    EXPECT_EQ (data[2], 3.0f);

    const int n = 4096;
    const auto hann = AsigUtilities::getHanningWindow (n);
    ASSERT_EQ ((int) hann.size(), n);
    EXPECT_EQ (hann[0], 0.0f); // periodic: zero at the start only
    EXPECT_NEAR (hann[n / 2], 1.0f, 1e-7);
    EXPECT_NEAR (hann[n / 4], 0.5f, 1e-6);
    EXPECT_NEAR (hann[1], hann[n - 1], 1e-7);

    // Analysis times synthesis window, overlapped at a hop of n / 4, is one everywhere.
    const auto synthesis = AsigUtilities::getSynthesisWindow (n);
    const auto hop = n / FrameGeometry::overlap;
    for (int i = 0; i < hop; ++i)
    {
        double sum = 0.0;
        for (int k = 0; k < FrameGeometry::overlap; ++k)
            sum += (double) hann[(size_t) (i + k * hop)] * synthesis[(size_t) (i + k * hop)];
        EXPECT_NEAR (sum, 1.0, 1e-6) << i;
    }
    EXPECT_TRUE (AsigUtilities::getHanningWindow (0).empty());
}

TEST (FrameGeometry, FramesCoverEverySampleFourTimes)
{
    const FrameGeometry g { 4096 };
    EXPECT_EQ (g.getHop(), 1024);
    EXPECT_EQ (g.getNumFreqs(), 2049);
    EXPECT_EQ (g.getNumFramesForSamples (0), 0);
    EXPECT_EQ (g.getNumFramesForSamples (1), 4);
    EXPECT_EQ (g.getNumFramesForSamples (1024), 4);
    EXPECT_EQ (g.getNumFramesForSamples (1025), 5);
    EXPECT_EQ (g.getFirstSampleOfFrame (0), -3072);
    EXPECT_EQ (g.getFirstSampleOfFrame (3), 0);

    // The last sample lies in the last frame; the first sample in frame 0.
    const juce::int64 samples = 10000;
    const auto last = g.getNumFramesForSamples (samples) - 1;
    EXPECT_LE (g.getFirstSampleOfFrame (last), samples - 1);
    EXPECT_GT (g.getFirstSampleOfFrame (last) + g.nfft, samples - 1);
    EXPECT_GT (g.getFirstSampleOfFrame (0) + g.nfft, 0);
}
