#include "HarmonicCombMask.h"

#include <algorithm>
#include <cmath>

namespace kalder::service
{

MaskMatrix HarmonicCombMask::build (const std::vector<float>& f0, const SegmentSpectra& segment, double maxHz, double widthCents,
                                    double minBins)
{
    const auto rows = segment.getNumFreqs();
    const auto cols = (int) f0.size();
    MaskMatrix comb = MaskMatrix::Zero (rows, cols);
    const auto widthRatio = std::pow (2.0, widthCents / 1200.0) - 1.0;
    const auto lastBin = std::min ((double) rows - 1, segment.getBinForFrequency (maxHz));

    for (int t = 0; t < cols; ++t)
    {
        auto* column = comb.col (t).data();
        for (int j = std::max (0, t - 1); j <= std::min (cols - 1, t + 1); ++j)
        {
            const auto pitch = (double) f0[(size_t) j];
            if (pitch <= 0.0)
                continue;
            for (int h = 1;; ++h)
            {
                const auto centre = segment.getBinForFrequency (h * pitch);
                if (centre > lastBin)
                    break;
                const auto flat = std::max (minBins, centre * widthRatio);
                const auto a = std::max (0, (int) std::ceil (centre - 2.0 * flat));
                const auto b = std::min (rows - 1, (int) std::floor (centre + 2.0 * flat));
                for (int k = a; k <= b; ++k)
                {
                    const auto d = std::abs (k - centre);
                    const auto v = d <= flat ? 1.0 : 0.5 + 0.5 * std::cos (juce::MathConstants<double>::pi * (d - flat) / flat);
                    column[k] = std::max (column[k], (float) v);
                }
            }
        }
    }
    return comb;
}

} // namespace kalder::service
