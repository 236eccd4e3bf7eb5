#include "PitchTracker.h"

#include <algorithm>
#include <cmath>

namespace kalder::service
{
namespace
{
    constexpr double centsPerStep = 10.0;
    constexpr float weightAlphaHz = 52.0f; // Klapuri (2006), for frames of about 93 ms
    constexpr float weightBetaHz = 320.0f;
    constexpr float jumpCostPerStep = 0.004f;   // an octave (120 steps) costs about half a frame's best salience
    constexpr float silentFrameRatio = 1.0e-4f; // frames this far below the loudest are unvoiced
    constexpr double contextSeconds = 1.0;
} // namespace

PitchTracker::PitchTracker (double lo, double hi, int harmonics, double analysisHz)
    : minHz (lo), maxHz (hi), maxAnalysisHz (analysisHz), numHarmonics (harmonics)
{}

int PitchTracker::getContextFrames (double frameRate)
{
    return (int) std::lround (contextSeconds * frameRate);
}

float PitchTracker::harmonicShare (const MaskMatrix& magnitude, int t, float f0, const SegmentSpectra& segment) const
{
    if (f0 <= 0.0f)
        return 0.0f;
    const auto lastBin = std::min ((int) magnitude.rows() - 1, (int) segment.getBinForFrequency (maxAnalysisHz));
    const auto firstBin = std::max (1, (int) segment.getBinForFrequency (minHz * 0.9));
    double total = 0.0, onHarmonics = 0.0;
    for (int b = firstBin; b <= lastBin; ++b)
        total += (double) magnitude (b, t) * magnitude (b, t);
    for (int h = 1; h <= numHarmonics; ++h)
    {
        const auto centre = segment.getBinForFrequency (h * (double) f0);
        if (centre > lastBin)
            break;
        // A Hann main lobe spans +-2 bins; a little more for pitch movement in the frame.
        const auto a = std::max (firstBin, (int) std::floor (centre - 2.0));
        const auto b = std::min (lastBin, (int) std::ceil (centre + 2.0));
        for (int k = a; k <= b; ++k)
            onHarmonics += (double) magnitude (k, t) * magnitude (k, t);
    }
    return total > 0.0 ? (float) std::min (1.0, onHarmonics / total) : 0.0f;
}

PitchTracker::Track PitchTracker::track (const MaskMatrix& magnitude, const SegmentSpectra& segment) const
{
    const auto cols = (int) magnitude.cols();
    const auto rows = (int) magnitude.rows();
    const auto numCandidates = (int) std::floor (1200.0 * std::log2 (maxHz / minHz) / centsPerStep) + 1;
    const auto lastBin = std::min (rows - 1, (int) segment.getBinForFrequency (maxAnalysisHz));

    // Harmonic positions of every candidate, in fractional bins.
    std::vector<float> candidateHz ((size_t) numCandidates);
    for (int k = 0; k < numCandidates; ++k)
        candidateHz[(size_t) k] = (float) (minHz * std::pow (2.0, k * centsPerStep / 1200.0));

    Track result;
    result.f0.assign ((size_t) cols, 0.0f);
    result.confidence.assign ((size_t) cols, 0.0f);
    if (cols == 0 || numCandidates < 2)
        return result;

    MaskMatrix salience (numCandidates, cols);
    std::vector<float> compressed ((size_t) lastBin + 2);
    std::vector<float> frameEnergy ((size_t) cols);
    for (int t = 0; t < cols; ++t)
    {
        // Only spectral peaks count (Salamon and Gomez): the skirts of loud partials and
        // noise between them would otherwise favour low candidates, whose dense
        // harmonics collect them. Square-root compression keeps weak partials in play.
        const auto* m = magnitude.col (t).data();
        for (int b = 0; b <= lastBin; ++b)
        {
            const auto isPeak = (b == 0 || m[b] >= m[b - 1]) && (b + 1 >= rows || m[b] >= m[b + 1]);
            compressed[(size_t) b] = isPeak ? std::sqrt (m[b]) : 0.0f;
        }
        compressed[(size_t) lastBin + 1] = 0.0f;
        frameEnergy[(size_t) t] = magnitude.col (t).head (lastBin + 1).squaredNorm();

        for (int k = 0; k < numCandidates; ++k)
        {
            float sum = 0.0f;
            const auto f0 = candidateHz[(size_t) k];
            for (int h = 1; h <= numHarmonics; ++h)
            {
                // Klapuri's weights (f0 + alpha) / (h f0 + beta): a low candidate's
                // dense harmonics would otherwise collect every partial of the mix.
                const auto weight = (f0 + weightAlphaHz) / ((float) h * f0 + weightBetaHz);
                const auto pos = (float) segment.getBinForFrequency (h * (double) candidateHz[(size_t) k]);
                if (pos >= (float) lastBin)
                    break;
                const auto i = (int) pos;
                sum += weight * std::max (compressed[(size_t) i], compressed[(size_t) i + 1]);
            }
            salience (k, t) = sum;
        }

        const auto peak = salience.col (t).maxCoeff();
        if (peak > 0.0f)
            salience.col (t) /= peak;
    }

    // Dynamic programming: score(t, k) = salience(t, k) + max_j (score(t-1, j) - cost |k - j|).
    std::vector<float> previous (salience.col (0).data(), salience.col (0).data() + numCandidates);
    std::vector<float> best ((size_t) numCandidates);
    std::vector<int> from ((size_t) numCandidates);
    Eigen::Matrix<int, Eigen::Dynamic, Eigen::Dynamic> backPointer (numCandidates, cols);
    for (int t = 1; t < cols; ++t)
    {
        for (int k = 0; k < numCandidates; ++k)
        {
            best[(size_t) k] = previous[(size_t) k];
            from[(size_t) k] = k;
        }
        for (int k = 1; k < numCandidates; ++k)
            if (best[(size_t) k - 1] - jumpCostPerStep > best[(size_t) k])
            {
                best[(size_t) k] = best[(size_t) k - 1] - jumpCostPerStep;
                from[(size_t) k] = from[(size_t) k - 1];
            }
        for (int k = numCandidates - 2; k >= 0; --k)
            if (best[(size_t) k + 1] - jumpCostPerStep > best[(size_t) k])
            {
                best[(size_t) k] = best[(size_t) k + 1] - jumpCostPerStep;
                from[(size_t) k] = from[(size_t) k + 1];
            }
        for (int k = 0; k < numCandidates; ++k)
        {
            previous[(size_t) k] = best[(size_t) k] + salience (k, t);
            backPointer (k, t) = from[(size_t) k];
        }
    }

    auto k = (int) (std::max_element (previous.begin(), previous.end()) - previous.begin());
    const auto loudest = *std::max_element (frameEnergy.begin(), frameEnergy.end());
    for (int t = cols - 1; t >= 0; --t)
    {
        if (frameEnergy[(size_t) t] > silentFrameRatio * loudest && loudest > 0.0f)
        {
            result.f0[(size_t) t] = candidateHz[(size_t) k];
            result.confidence[(size_t) t] = harmonicShare (magnitude, t, candidateHz[(size_t) k], segment);
        }
        if (t > 0)
            k = backPointer (k, t);
    }
    return result;
}

} // namespace kalder::service
