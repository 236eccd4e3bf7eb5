#include "MaskOperations.h"

#include <algorithm>
#include <cmath>

namespace kalder::service
{

namespace
{
    /** Running median of x[0, n) over a window of `length` centred on each element
        (shortened at the edges), written to out with the given stride. The window is
        kept sorted: each step removes one value and inserts one, a short memmove,
        which is several times faster than selecting each median afresh. */
    void runningMedian (const float* x, int n, int length, float* out, int outStride, std::vector<float>& window)
    {
        const auto half = length / 2;
        window.clear();
        for (int i = 0; i < std::min (n, half); ++i)
            window.insert (std::upper_bound (window.begin(), window.end(), x[i]), x[i]);
        for (int i = 0; i < n; ++i)
        {
            const auto incoming = i + half;
            if (incoming < n)
                window.insert (std::upper_bound (window.begin(), window.end(), x[incoming]), x[incoming]);
            const auto outgoing = i - half - 1;
            if (outgoing >= 0)
                window.erase (std::lower_bound (window.begin(), window.end(), x[outgoing]));
            out[(size_t) i * (size_t) outStride] = window[window.size() / 2];
        }
    }
} // namespace

MaskMatrix MaskOperations::shareAboveBackground (const MaskMatrix& magnitude, const MaskMatrix& support, int halfLength)
{
    const auto rows = (int) magnitude.rows();
    const auto cols = (int) magnitude.cols();
    MaskMatrix share = MaskMatrix::Zero (rows, cols);
    std::vector<float> free, all;
    for (int b = 0; b < rows; ++b)
        for (int t = 0; t < cols; ++t)
        {
            if (support (b, t) < 0.5f)
                continue;
            free.clear();
            all.clear();
            for (int u = std::max (0, t - halfLength); u <= std::min (cols - 1, t + halfLength); ++u)
            {
                all.push_back (magnitude (b, u));
                if (support (b, u) < 0.5f)
                    free.push_back (magnitude (b, u));
            }
            auto& values = free.empty() ? all : free;
            const auto middle = values.begin() + (std::ptrdiff_t) (values.size() / 2);
            std::nth_element (values.begin(), middle, values.end());
            const auto m = magnitude (b, t);
            share (b, t) = m > 0.0f ? std::max (0.0f, m - *middle) / m : 0.0f;
        }
    return share;
}

MaskMatrix MaskOperations::medianAlongTime (const MaskMatrix& m, int length)
{
    const auto rows = (int) m.rows();
    const auto cols = (int) m.cols();
    MaskMatrix out (rows, cols);
    std::vector<float> row ((size_t) cols), window;
    window.reserve ((size_t) length + 1);
    for (int r = 0; r < rows; ++r)
    {
        for (int t = 0; t < cols; ++t)
            row[(size_t) t] = m (r, t);
        runningMedian (row.data(), cols, length, out.data() + r, rows, window);
    }
    return out;
}

MaskMatrix MaskOperations::medianAlongFrequency (const MaskMatrix& m, int length)
{
    const auto rows = (int) m.rows();
    const auto cols = (int) m.cols();
    MaskMatrix out (rows, cols);
    std::vector<float> window;
    window.reserve ((size_t) length + 1);
    for (int t = 0; t < cols; ++t)
        runningMedian (m.col (t).data(), rows, length, out.col (t).data(), 1, window);
    return out;
}

MaskMatrix MaskOperations::averageAlongTime (const MaskMatrix& m, int length)
{
    const auto cols = (int) m.cols();
    const auto half = length / 2;
    MaskMatrix out (m.rows(), cols);
    for (int t = 0; t < cols; ++t)
    {
        const auto a = std::max (0, t - half);
        const auto b = std::min (cols, t + half + 1);
        out.col (t) = m.middleCols (a, b - a).rowwise().mean();
    }
    return out;
}

std::vector<float> MaskOperations::bandWeights (const SegmentSpectra& segment, double lowHz, double highHz)
{
    std::vector<float> w ((size_t) segment.getNumFreqs());
    for (int b = 0; b < segment.getNumFreqs(); ++b)
    {
        const auto hz = std::max (1.0, segment.getBinFrequency (b));
        double v = 1.0;
        if (hz < lowHz)
            v = hz <= lowHz * 0.5 ? 0.0 : 0.5 - 0.5 * std::cos (juce::MathConstants<double>::pi * std::log2 (hz / (lowHz * 0.5)));
        else if (hz > highHz)
            v = hz >= highHz * 2.0 ? 0.0 : 0.5 + 0.5 * std::cos (juce::MathConstants<double>::pi * std::log2 (hz / highHz));
        w[(size_t) b] = (float) v;
    }
    return w;
}

int MaskOperations::oddLength (double span, double unitsPerSecond)
{
    const auto n = std::max (3, (int) std::lround (span * unitsPerSecond));
    return n | 1;
}

void MaskOperations::applySharedMasks (const SegmentSpectra& segment, const std::vector<MaskMatrix>& masks, StemSpectra& stems)
{
    const auto begin = segment.coreBegin;
    const auto n = segment.getNumCoreFrames();
    stems.resize (masks.size());
    for (size_t s = 0; s < masks.size(); ++s)
    {
        stems[s].resize ((size_t) segment.getNumChannels());
        if (masks[s].size() == 0)
            continue; // the residual stem, computed by the separator
        for (int c = 0; c < segment.getNumChannels(); ++c)
            stems[s][(size_t) c] = segment.channels[(size_t) c].middleCols (begin, n).cwiseProduct (
                masks[s].middleCols (begin, n).cast<std::complex<float>>());
    }
}

std::vector<float> MaskOperations::foregroundShare (const MaskMatrix& mask, const MaskMatrix& foreground,
                                                    const MaskMatrix& magnitude, int length)
{
    const auto cols = (int) mask.cols();
    std::vector<double> held ((size_t) cols), all ((size_t) cols);
    for (int t = 0; t < cols; ++t)
    {
        const Eigen::VectorXf part = mask.col (t).cwiseProduct (magnitude.col (t));
        all[(size_t) t] = (double) part.squaredNorm();
        held[(size_t) t] = (double) part.cwiseProduct (foreground.col (t)).squaredNorm();
    }
    std::vector<float> share ((size_t) cols);
    for (int t = 0; t < cols; ++t)
    {
        double h = 0.0, a = 0.0;
        for (int j = std::max (0, t - length / 2); j <= std::min (cols - 1, t + length / 2); ++j)
        {
            h += held[(size_t) j];
            a += all[(size_t) j];
        }
        share[(size_t) t] = a > 0.0 ? (float) (h / a) : 0.0f;
    }
    return share;
}

std::vector<double> MaskOperations::frameEnergies (const std::vector<CspecMatrix>& channels)
{
    std::vector<double> energies;
    for (const auto& x : channels)
    {
        energies.resize ((size_t) x.cols(), 0.0);
        for (int t = 0; t < x.cols(); ++t)
            energies[(size_t) t] += (double) x.col (t).squaredNorm();
    }
    return energies;
}

std::vector<float> MaskOperations::gateFrames (const std::vector<double>& energies, const std::vector<double>& mixture,
                                               float thresholdDb, float floorDb, int nfft)
{
    const auto cols = (int) energies.size();
    jassert (mixture.size() == energies.size());
    std::vector<float> gate ((size_t) cols);
    // Full-scale sine energy in one Hann-windowed frame: (N / 4)^2 in its peak bin,
    // times about 1.5 over the main lobe; the absolute floor is relative to it.
    const auto fullScale = 1.5 * std::pow (nfft / 4.0, 2.0);
    const auto relative = std::pow (10.0, thresholdDb / 10.0);
    const auto absolute = fullScale * std::pow (10.0, floorDb / 10.0);

    // Bleed arrives in bursts (a drum hit, a pluck) a frame or two long, so the gate
    // compares levels averaged over about a quarter of a second (11 frames at
    // 44.1 kHz; the frame count is what matters, the rate only scales it).
    constexpr int levelFrames = 11;
    for (int t = 0; t < cols; ++t)
    {
        const auto a = std::max (0, t - levelFrames / 2);
        const auto b = std::min (cols, t + levelFrames / 2 + 1);
        double stem = 0.0, mix = 0.0;
        for (int j = a; j < b; ++j)
        {
            stem += energies[(size_t) j];
            mix += mixture[(size_t) j];
        }
        stem /= (double) (b - a);
        mix /= (double) (b - a);
        gate[(size_t) t] = (stem > relative * mix && stem > absolute) ? 1.0f : 0.0f;
    }

    // Open fast and close slowly: a frame stays open if any of the next two frames or
    // the previous four is open (about 50 ms of attack look-ahead and 90 ms of hold at
    // 44.1 kHz), then the edges are smoothed over three frames.
    std::vector<float> held ((size_t) cols, 0.0f);
    for (int t = 0; t < cols; ++t)
        for (int j = std::max (0, t - 4); j <= std::min (cols - 1, t + 2); ++j)
            if (gate[(size_t) j] > 0.0f)
            {
                held[(size_t) t] = 1.0f;
                break;
            }
    for (int t = 0; t < cols; ++t)
    {
        float sum = 0.0f;
        int n = 0;
        for (int j = std::max (0, t - 1); j <= std::min (cols - 1, t + 1); ++j, ++n)
            sum += held[(size_t) j];
        gate[(size_t) t] = sum / (float) n;
    }
    return gate;
}

} // namespace kalder::service
