#include "AzimuthAnalyser.h"

#include <algorithm>
#include <cmath>

namespace kalder::service
{
namespace
{
    constexpr int histogramCells = 201; // half-percent steps of the pan range
    constexpr int kMeansIterations = 30;
} // namespace

AzimuthAnalyser::AzimuthAnalyser() : histogram ((size_t) histogramCells, 0.0) {}

MaskMatrix AzimuthAnalyser::positions (const SegmentSpectra& segment)
{
    if (segment.getNumChannels() < 2)
        return MaskMatrix::Constant (segment.getNumFreqs(), segment.getNumFrames(), 0.5f);

    const auto& left = segment.channelMagnitudes[0];
    const auto& right = segment.channelMagnitudes[1];
    MaskMatrix p (left.rows(), left.cols());
    const auto scale = (float) (2.0 / juce::MathConstants<double>::pi);
    for (Eigen::Index i = 0; i < p.size(); ++i)
        p.data()[i] = scale * std::atan2 (right.data()[i], left.data()[i]);
    return p;
}

void AzimuthAnalyser::accumulate (const SegmentSpectra& segment, const MaskMatrix& p)
{
    for (int t = segment.coreBegin; t < segment.coreEnd; ++t)
        for (int b = 0; b < p.rows(); ++b)
        {
            const auto energy = (double) segment.magnitude (b, t) * segment.magnitude (b, t);
            const auto cell = juce::jlimit (0, histogramCells - 1, (int) std::lround (p (b, t) * (histogramCells - 1)));
            histogram[(size_t) cell] += energy;
        }
}

std::vector<float> AzimuthAnalyser::equallySpaced (int n)
{
    std::vector<float> c ((size_t) n);
    for (int k = 0; k < n; ++k)
        c[(size_t) k] = n > 1 ? (float) k / (float) (n - 1) : 0.5f;
    return c;
}

std::vector<float> AzimuthAnalyser::findSources (int n) const
{
    auto centres = equallySpaced (n);
    double total = 0.0;
    for (auto h : histogram)
        total += h;
    if (total <= 0.0)
        return centres;

    // Weighted k-means in one dimension, started from equal spacing so that the
    // order (left to right) is kept and every source starts near a part of the field.
    for (int iteration = 0; iteration < kMeansIterations; ++iteration)
    {
        std::vector<double> sum ((size_t) n, 0.0), weight ((size_t) n, 0.0);
        for (int cell = 0; cell < histogramCells; ++cell)
        {
            const auto x = (float) cell / (float) (histogramCells - 1);
            int nearest = 0;
            for (int k = 1; k < n; ++k)
                if (std::abs (x - centres[(size_t) k]) < std::abs (x - centres[(size_t) nearest]))
                    nearest = k;
            sum[(size_t) nearest] += x * histogram[(size_t) cell];
            weight[(size_t) nearest] += histogram[(size_t) cell];
        }
        for (int k = 0; k < n; ++k)
            if (weight[(size_t) k] > 0.0)
                centres[(size_t) k] = (float) (sum[(size_t) k] / weight[(size_t) k]);
    }
    std::sort (centres.begin(), centres.end());
    return centres;
}

} // namespace kalder::service
