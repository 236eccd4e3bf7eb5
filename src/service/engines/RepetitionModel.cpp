#include "RepetitionModel.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace kalder::service
{
namespace
{
    constexpr double maxFeatureHz = 11000.0; // the similarity looks at this band only
    constexpr int numBands = 96;             // pooled bands of the similarity features
    constexpr int numRepeats = 6;            // similar frames per frame (Rafii and Pardo use a handful)
    constexpr double minDistanceSeconds = 0.5;
    constexpr float minSimilarity = 0.3f; // less similar frames are no repetition
    constexpr double contextSeconds = 6.0;
} // namespace

int RepetitionModel::getContextFrames (double frameRate)
{
    return (int) std::lround (contextSeconds * frameRate);
}

MaskMatrix RepetitionModel::estimateForeground (const MaskMatrix& magnitude, const SegmentSpectra& segment, float margin) const
{
    const auto background = estimateBackground (magnitude, segment);
    return (1.0f - margin * background.array() / (magnitude.array() + 1.0e-20f)).max (0.0f).matrix();
}

MaskMatrix RepetitionModel::estimateBackground (const MaskMatrix& magnitude, const SegmentSpectra& segment) const
{
    const auto rows = (int) magnitude.rows();
    const auto cols = (int) magnitude.cols();
    if (cols < 3)
        return magnitude;

    // Features: square-root magnitudes pooled into equal-width bands, unit length.
    const auto usedBins = std::min (rows, (int) segment.getBinForFrequency (maxFeatureHz));
    const auto bandWidth = std::max (1, usedBins / numBands);
    const auto bands = std::max (1, usedBins / bandWidth);
    MaskMatrix features = MaskMatrix::Zero (bands, cols);
    for (int t = 0; t < cols; ++t)
    {
        for (int k = 0; k < bands; ++k)
            features (k, t) = magnitude.col (t).segment (k * bandWidth, bandWidth).sum();
        features.col (t) = features.col (t).cwiseSqrt();
        const auto norm = features.col (t).norm();
        if (norm > 0.0f)
            features.col (t) /= norm;
    }
    const MaskMatrix similarity = features.transpose() * features;

    const auto minDistance = std::max (1, (int) std::lround (minDistanceSeconds * segment.getFrameRate()));
    MaskMatrix background (rows, cols);
    std::vector<int> order ((size_t) cols);
    std::vector<int> chosen;
    std::vector<float> values;
    for (int t = 0; t < cols; ++t)
    {
        std::iota (order.begin(), order.end(), 0);
        const auto* sim = similarity.col (t).data();
        const auto candidates = std::min (cols, 8 * numRepeats + 2 * minDistance); // enough to find numRepeats apart
        std::partial_sort (order.begin(), order.begin() + candidates, order.end(),
                           [sim] (int a, int b) { return sim[a] > sim[b]; });

        chosen.assign (1, t);
        for (int i = 0; i < candidates && (int) chosen.size() <= numRepeats; ++i)
        {
            const auto j = order[(size_t) i];
            if (sim[j] < minSimilarity)
                break;
            const auto farEnough = std::all_of (chosen.begin(), chosen.end(),
                                                [&] (int c) { return std::abs (c - j) >= minDistance; });
            if (farEnough)
                chosen.push_back (j);
        }

        if ((int) chosen.size() < 3)
        {
            // No repetition found: fall back on a horizontal kernel (what is steady
            // over the surrounding second is background), as kernel additive
            // modelling does for sustained sources.
            chosen.assign (1, t);
            for (int k = 1; k <= 2; ++k)
                for (const auto j : { t - k * minDistance / 2, t + k * minDistance / 2 })
                    if (j >= 0 && j < cols && j != t)
                        chosen.push_back (j);
        }
        const auto n = (int) chosen.size();
        values.resize ((size_t) n);
        for (int r = 0; r < rows; ++r)
        {
            for (int i = 0; i < n; ++i)
                values[(size_t) i] = magnitude (r, chosen[(size_t) i]);
            std::nth_element (values.begin(), values.begin() + n / 2, values.end());
            background (r, t) = std::min (values[(size_t) (n / 2)], magnitude (r, t));
        }
    }
    return background;
}

} // namespace kalder::service
