#include "AsigUtilities.h"
#include "FrameGeometry.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <cmath>

namespace kalder
{

std::vector<float> AsigUtilities::getHanningWindow (int n)
{
    if (n <= 0)
        return {};

    std::vector<float> w ((size_t) n);
    for (int i = 0; i < n; ++i)
        w[(size_t) i] = (float) (0.5 - 0.5 * std::cos (2.0 * juce::MathConstants<double>::pi * i / n));
    return w;
}

std::vector<float> AsigUtilities::getSynthesisWindow (int n)
{
    auto w = getHanningWindow (n);
    if (n <= 0)
        return w;

    // Sum over the overlapping frames of w^2 at any sample, computed rather than
    // assumed so that it stays right if the overlap ever changes.
    const auto hop = n / FrameGeometry::overlap;
    double sum = 0.0;
    for (int k = 0; k < FrameGeometry::overlap; ++k)
    {
        const auto v = (double) w[(size_t) (k * hop + hop / 2)];
        sum += v * v;
    }

    const auto scale = (float) (1.0 / sum);
    for (auto& v : w)
        v *= scale;
    return w;
}

void AsigUtilities::applywindow (float* data, const float* window, int n) noexcept
{
    if (n <= 0 || data == nullptr || window == nullptr)
        return;
    juce::FloatVectorOperations::multiply (data, window, n);
}

} // namespace kalder
