// The engines' building blocks against naive references.

#include "engines/HarmonicCombMask.h"
#include "engines/MaskOperations.h"
#include "engines/WienerRefiner.h"

#include <gtest/gtest.h>

#include <juce_core/juce_core.h>

#include <algorithm>

using namespace kalder;
using namespace kalder::service;

namespace
{
MaskMatrix randomMatrix (int rows, int cols, juce::int64 seed)
{
    juce::Random random (seed);
    MaskMatrix m (rows, cols);
    for (Eigen::Index i = 0; i < m.size(); ++i)
        m.data()[i] = random.nextFloat();
    return m;
}

/** Median of the window [i - length / 2, i + length / 2] clipped to [0, n), upper median
    for even counts, by sorting: the definition the running median must match. */
float naiveMedian (std::vector<float> values)
{
    std::sort (values.begin(), values.end());
    return values[values.size() / 2];
}

SegmentSpectra makeSegment (int numChannels, int cols, juce::int64 seed)
{
    SegmentSpectra s;
    s.geometry.nfft = 64;
    s.sampleRate = 8000.0;
    s.coreBegin = 2;
    s.coreEnd = cols - 2;
    juce::Random random (seed);
    s.magnitude = MaskMatrix::Zero (s.getNumFreqs(), cols);
    for (int c = 0; c < numChannels; ++c)
    {
        CspecMatrix x (s.getNumFreqs(), cols);
        for (Eigen::Index i = 0; i < x.size(); ++i)
            x.data()[i] = { random.nextFloat() - 0.5f, random.nextFloat() - 0.5f };
        s.channels.push_back (x);
        s.channelMagnitudes.push_back (x.cwiseAbs());
        s.magnitude += s.channelMagnitudes.back() / (float) numChannels;
    }
    return s;
}
} // namespace

TEST (EngineBlocksTest, RunningMediansMatchSortedWindows)
{
    const auto m = randomMatrix (37, 29, 3);
    for (const auto length : { 3, 9, 17 })
    {
        const auto alongTime = MaskOperations::medianAlongTime (m, length);
        const auto alongFrequency = MaskOperations::medianAlongFrequency (m, length);
        for (int r = 0; r < m.rows(); ++r)
            for (int t = 0; t < m.cols(); ++t)
            {
                std::vector<float> w;
                for (int j = std::max (0, t - length / 2); j <= std::min ((int) m.cols() - 1, t + length / 2); ++j)
                    w.push_back (m (r, j));
                ASSERT_EQ (alongTime (r, t), naiveMedian (w)) << r << " " << t << " " << length;
                w.clear();
                for (int j = std::max (0, r - length / 2); j <= std::min ((int) m.rows() - 1, r + length / 2); ++j)
                    w.push_back (m (j, t));
                ASSERT_EQ (alongFrequency (r, t), naiveMedian (w)) << r << " " << t << " " << length;
            }
    }
}

TEST (EngineBlocksTest, WienerEstimatesAddUpToTheMixture)
{
    for (const auto channels : { 1, 2 })
    {
        const auto segment = makeSegment (channels, 12, 5);
        // Three soft masks that sum to one.
        const auto a = randomMatrix (segment.getNumFreqs(), 12, 7), b = randomMatrix (segment.getNumFreqs(), 12, 8);
        const MaskMatrix total = a + b + MaskMatrix::Constant (a.rows(), a.cols(), 0.1f);
        const std::vector<MaskMatrix> masks { a.cwiseQuotient (total), b.cwiseQuotient (total),
                                              (0.1f * MaskMatrix::Ones (a.rows(), a.cols())).cwiseQuotient (total) };
        StemSpectra stems;
        WienerRefiner::refine (segment, masks, stems);
        ASSERT_EQ (stems.size(), 3u);
        for (int c = 0; c < channels; ++c)
        {
            const CspecMatrix sum = stems[0][(size_t) c] + stems[1][(size_t) c] + stems[2][(size_t) c];
            const CspecMatrix x = segment.channels[(size_t) c].middleCols (segment.coreBegin, segment.getNumCoreFrames());
            EXPECT_LT ((sum - x).norm(), 1.0e-4f * x.norm()) << channels;
            // The filter is not the plain mask: the source with the larger mask gets
            // relatively more (a sharper, PSD-weighted split).
            EXPECT_GT ((stems[0][(size_t) c]
                        - x.cwiseProduct (
                            masks[0].middleCols (segment.coreBegin, segment.getNumCoreFrames()).cast<std::complex<float>>()))
                           .norm(),
                       1.0e-3f * x.norm());
        }
    }
}

TEST (EngineBlocksTest, CombTeethSitOnThePartials)
{
    SegmentSpectra s;
    s.geometry.nfft = 4096;
    s.sampleRate = 44100.0;
    const std::vector<float> f0 { 0.0f, 220.0f, 220.0f, 0.0f };
    const auto comb = HarmonicCombMask::build (f0, s, 2000.0, 25.0, 1.5);
    for (int h = 1; h * 220.0 <= 2000.0; ++h)
    {
        const auto bin = (int) std::lround (s.getBinForFrequency (h * 220.0));
        EXPECT_EQ (comb (bin, 1), 1.0f) << h;
        const auto between = (int) std::lround (s.getBinForFrequency ((h + 0.5) * 220.0));
        EXPECT_EQ (comb (between, 1), 0.0f) << h; // 110 Hz from a partial: outside every tooth
    }
    EXPECT_EQ (comb.col (0).maxCoeff(), 1.0f);                       // the neighbour frame's pitch counts
    EXPECT_EQ (comb ((int) s.getBinForFrequency (2420.0), 1), 0.0f); // above the top
}
