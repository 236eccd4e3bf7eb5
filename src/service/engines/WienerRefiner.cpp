#include "WienerRefiner.h"

#include <cmath>

namespace kalder::service
{
namespace
{
    using Complex = std::complex<float>;
    constexpr float spatialFloor = 0.02f;   // added to R_j's diagonal (trace 2) so no filter is singular
    constexpr float powerFloor = 1.0e-10f;  // relative to the frame's power, regularises Sigma_x
    constexpr float tiny = 1.0e-20f;        // keeps silent bins defined
    constexpr float silentFloor = 1.0e-15f; // Sigma_x's floor in silence: det >= 1e-30

    void refineStereo (const SegmentSpectra& segment, const std::vector<MaskMatrix>& masks, StemSpectra& stems)
    {
        const auto numSources = (int) masks.size();
        const auto rows = segment.getNumFreqs();
        const auto first = segment.coreBegin;
        const auto n = segment.getNumCoreFrames();
        const auto& x0 = segment.channels[0];
        const auto& x1 = segment.channels[1];

        // The masked mixture's statistics give each source's PSD, v_j = m_j^2 (|x0|^2 +
        // |x1|^2) / 2, and its spatial covariance R_j(f) = sum_t m_j^2 x x^H / sum_t v_j,
        // without forming the masked estimates themselves.
        const MaskMatrix p0 = x0.cwiseAbs2();
        const MaskMatrix p1 = x1.cwiseAbs2();
        const CspecMatrix cross = x0.cwiseProduct (x1.conjugate());
        const MaskMatrix meanPower = 0.5f * (p0 + p1);

        std::vector<MaskMatrix> psd ((size_t) numSources);
        std::vector<Eigen::VectorXf> r00 ((size_t) numSources), r11 ((size_t) numSources);
        std::vector<Eigen::VectorXcf> r01 ((size_t) numSources);
        for (int j = 0; j < numSources; ++j)
        {
            const MaskMatrix weight = masks[(size_t) j].cwiseAbs2();
            psd[(size_t) j] = weight.cwiseProduct (meanPower);
            const Eigen::VectorXf total = psd[(size_t) j].rowwise().sum().array() + tiny;
            r00[(size_t) j] = (weight.cwiseProduct (p0).rowwise().sum().array() / total.array()).matrix();
            r11[(size_t) j] = (weight.cwiseProduct (p1).rowwise().sum().array() / total.array()).matrix();
            r01[(size_t) j] =
                (cross.cwiseProduct (weight.cast<Complex>()).rowwise().sum().array() / total.cast<Complex>().array()).matrix();
            r00[(size_t) j].array() += spatialFloor;
            r11[(size_t) j].array() += spatialFloor;
        }

        stems.assign ((size_t) numSources, std::vector<CspecMatrix> (2, CspecMatrix (rows, n)));
        for (int t = 0; t < n; ++t)
        {
            const auto col = first + t;
            const auto framePower = (p0.col (col).sum() + p1.col (col).sum()) / (float) rows;
            // The absolute part keeps the determinant in float's normal range: a silent frame's
            // 1e-40 would invert to infinity, and infinity times its zero input is NaN.
            const auto floor = powerFloor * framePower + silentFloor;
            for (int b = 0; b < rows; ++b)
            {
                // Sigma_x = sum_j v_j R_j = [a c; conj(c) d].
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
                const auto xa = x0 (b, col), xb = x1 (b, col);
                const auto y0 = (d * xa - c * xb) * invDet; // Sigma_x^-1 x
                const auto y1 = (-std::conj (c) * xa + a * xb) * invDet;
                for (int j = 0; j < numSources; ++j)
                {
                    const auto v = psd[(size_t) j](b, col);
                    const auto rc = r01[(size_t) j](b);
                    stems[(size_t) j][0](b, t) = v * (r00[(size_t) j](b) * y0 + rc * y1);
                    stems[(size_t) j][1](b, t) = v * (std::conj (rc) * y0 + r11[(size_t) j](b) * y1);
                }
            }
        }
    }
} // namespace

void WienerRefiner::refine (const SegmentSpectra& segment, const std::vector<MaskMatrix>& masks, StemSpectra& stems)
{
    const auto numSources = (int) masks.size();
    const auto numChannels = segment.getNumChannels();
    if (numChannels == 2)
    {
        refineStereo (segment, masks, stems);
        return;
    }

    // Scalar Wiener gains per channel from the masked powers.
    stems.assign ((size_t) numSources, std::vector<CspecMatrix> ((size_t) numChannels));
    const auto first = segment.coreBegin;
    const auto n = segment.getNumCoreFrames();
    MaskMatrix total = MaskMatrix::Constant (segment.getNumFreqs(), n, tiny);
    std::vector<MaskMatrix> gains ((size_t) numSources);
    for (int j = 0; j < numSources; ++j)
    {
        gains[(size_t) j] = masks[(size_t) j].middleCols (first, n).cwiseAbs2();
        total += gains[(size_t) j];
    }
    for (int j = 0; j < numSources; ++j)
    {
        const MaskMatrix g = gains[(size_t) j].cwiseQuotient (total);
        for (int c = 0; c < numChannels; ++c)
            stems[(size_t) j][(size_t) c] = segment.channels[(size_t) c].middleCols (first, n).cwiseProduct (g.cast<Complex>());
    }
}

} // namespace kalder::service
