#include "WienerRefiner.h"
#include "MaskOperations.h"

#include <cmath>

namespace kalder::service
{
namespace
{
    using Complex = std::complex<float>;
    constexpr float spatialFloor = 0.02f;  // added to R_j's diagonal (trace 2) so no filter is singular
    constexpr float powerFloor = 1.0e-10f; // relative to the frame's power, regularises Sigma_x

    /** One Wiener pass over columns [first, first + n) given the sources' estimates
        over all columns (for the PSDs and spatial covariances). */
    void stereoPass (const SegmentSpectra& segment, const std::vector<std::array<CspecMatrix, 2>>& estimates, int first, int n,
                     std::vector<std::array<CspecMatrix, 2>>& out)
    {
        const auto numSources = (int) estimates.size();
        const auto rows = segment.getNumFreqs();

        std::vector<MaskMatrix> psd ((size_t) numSources);
        // Spatial covariance per source and bin: r00, r11 (real) and r01 (complex).
        std::vector<Eigen::VectorXf> r00 ((size_t) numSources), r11 ((size_t) numSources);
        std::vector<Eigen::VectorXcf> r01 ((size_t) numSources);
        for (int j = 0; j < numSources; ++j)
        {
            const auto& s0 = estimates[(size_t) j][0];
            const auto& s1 = estimates[(size_t) j][1];
            psd[(size_t) j] = 0.5f * (s0.cwiseAbs2() + s1.cwiseAbs2());
            const Eigen::VectorXf total = psd[(size_t) j].rowwise().sum().array() + 1.0e-20f;
            r00[(size_t) j] = (s0.cwiseAbs2().rowwise().sum().array() / total.array()).matrix();
            r11[(size_t) j] = (s1.cwiseAbs2().rowwise().sum().array() / total.array()).matrix();
            r01[(size_t) j] = (s0.cwiseProduct (s1.conjugate()).rowwise().sum().array() / total.cast<Complex>().array()).matrix();
            r00[(size_t) j].array() += spatialFloor;
            r11[(size_t) j].array() += spatialFloor;
        }

        for (auto& o : out)
            for (auto& m : o)
                m.resize (rows, n);

        const auto& x0 = segment.channels[0];
        const auto& x1 = segment.channels[1];
        for (int t = 0; t < n; ++t)
        {
            const auto col = first + t;
            jassert (col < segment.getNumFrames());
            const auto framePower = (float) (x0.col (col).squaredNorm() + x1.col (col).squaredNorm()) / (float) rows;
            const auto floor = powerFloor * framePower + 1.0e-20f;
            for (int b = 0; b < rows; ++b)
            {
                float a = floor, d = floor;
                Complex c (0.0f, 0.0f);
                for (int j = 0; j < numSources; ++j)
                {
                    const auto v = psd[(size_t) j](b, col);
                    a += v * r00[(size_t) j](b);
                    d += v * r11[(size_t) j](b);
                    c += v * r01[(size_t) j](b);
                }
                const auto det = a * d - std::norm (c);
                const auto invDet = det > 0.0f ? 1.0f / det : 0.0f;
                // Sigma^-1 x, with Sigma = [a c; conj(c) d].
                const auto xa = x0 (b, col), xb = x1 (b, col);
                const auto y0 = (d * xa - c * xb) * invDet;
                const auto y1 = (-std::conj (c) * xa + a * xb) * invDet;
                for (int j = 0; j < numSources; ++j)
                {
                    const auto v = psd[(size_t) j](b, col);
                    const auto rc = r01[(size_t) j](b);
                    out[(size_t) j][0](b, t) = v * (r00[(size_t) j](b) * y0 + rc * y1);
                    out[(size_t) j][1](b, t) = v * (std::conj (rc) * y0 + r11[(size_t) j](b) * y1);
                }
            }
        }
    }
} // namespace

void WienerRefiner::refine (const SegmentSpectra& segment, const std::vector<MaskMatrix>& masks, int iterations,
                            StemSpectra& stems)
{
    const auto numSources = (int) masks.size();
    const auto numChannels = segment.getNumChannels();
    stems.assign ((size_t) numSources, std::vector<CspecMatrix> ((size_t) numChannels));

    if (numChannels != 2)
    {
        // Scalar Wiener gains per channel from the masked PSDs.
        for (int c = 0; c < numChannels; ++c)
        {
            const auto& x = segment.channels[(size_t) c];
            const auto& mag2 = segment.channelMagnitudes[(size_t) c].array().square();
            std::vector<MaskMatrix> gains ((size_t) numSources);
            MaskMatrix total = MaskMatrix::Constant (x.rows(), x.cols(), 1.0e-20f);
            for (int j = 0; j < numSources; ++j)
            {
                gains[(size_t) j] = (masks[(size_t) j].array().square() * mag2).matrix();
                total += gains[(size_t) j];
            }
            for (int j = 0; j < numSources; ++j)
            {
                const MaskMatrix g = gains[(size_t) j].cwiseQuotient (total);
                stems[(size_t) j][(size_t) c] = x.middleCols (segment.coreBegin, segment.getNumCoreFrames())
                                                    .cwiseProduct (g.middleCols (segment.coreBegin, segment.getNumCoreFrames())
                                                                       .cast<Complex>());
            }
        }
        return;
    }

    std::vector<std::array<CspecMatrix, 2>> estimates ((size_t) numSources);
    for (int j = 0; j < numSources; ++j)
        for (int c = 0; c < 2; ++c)
            estimates[(size_t) j][(size_t) c] = segment.channels[(size_t) c].cwiseProduct (masks[(size_t) j].cast<Complex>());

    // Earlier iterations refine the estimates over the whole segment; the last one
    // filters the core frames only.
    for (int i = 1; i < iterations; ++i)
    {
        std::vector<std::array<CspecMatrix, 2>> next ((size_t) numSources);
        stereoPass (segment, estimates, 0, segment.getNumFrames(), next);
        estimates = std::move (next);
    }
    std::vector<std::array<CspecMatrix, 2>> result ((size_t) numSources);
    stereoPass (segment, estimates, segment.coreBegin, segment.getNumCoreFrames(), result);
    for (int j = 0; j < numSources; ++j)
        for (int c = 0; c < 2; ++c)
            stems[(size_t) j][(size_t) c] = std::move (result[(size_t) j][(size_t) c]);
}

} // namespace kalder::service
