#include "ColourMap.h"

#include <juce_core/juce_core.h>

#include <cmath>

namespace kalder
{

ColourMapping ColourMapping::fromSettings (const SpectrogramSettings& s, float maxLevel)
{
    ColourMapping m;
    m.maxLevel = std::isfinite (maxLevel) ? maxLevel : 0.0f;
    m.minLevel = m.maxLevel - (float) s.dynamicRange;
    m.startHue = (float) s.startHue;
    m.endHue = (float) s.endHue;
    m.valueOffset = (float) (s.brightness - s.contrast);
    m.valueSlope = (float) (2.0 * s.contrast);
    return m;
}

float ColourMapping::position (float levelDb) const noexcept
{
    const auto span = maxLevel - minLevel;
    if (! (span > 0.0f) || std::isnan (levelDb))
        return 0.0f;
    return (juce::jlimit (minLevel, maxLevel, levelDb) - minLevel) / span;
}

Pixel ColourMapping::colourOf (float levelDb) const noexcept
{
    const auto r = position (levelDb);
    auto hue = startHue + (endHue - startHue) * r;
    if (hue < 0.0f)
        hue += std::ceil (-hue); // whole turns
    const auto value = juce::jlimit (0.0f, 1.0f, valueOffset + valueSlope * r);
    return fromHSV (1.0f - hue, 1.0f, value);
}

Pixel ColourMapping::fromHSV (float hue, float saturation, float value) noexcept
{
    auto h = hue - std::floor (hue); // [0, 1)
    if (! std::isfinite (h))
        h = 0.0f;
    const auto s = juce::jlimit (0.0f, 1.0f, saturation), v = juce::jlimit (0.0f, 1.0f, value);
    const auto sector = h * 6.0f;
    const auto i = juce::jlimit (0, 5, (int) sector);
    const auto f = sector - (float) i;
    const auto p = v * (1.0f - s), q = v * (1.0f - s * f), t = v * (1.0f - s * (1.0f - f));
    float r = v, g = t, b = p;
    switch (i)
    {
        case 0:
            r = v, g = t, b = p;
            break;
        case 1:
            r = q, g = v, b = p;
            break;
        case 2:
            r = p, g = v, b = t;
            break;
        case 3:
            r = p, g = q, b = v;
            break;
        case 4:
            r = t, g = p, b = v;
            break;
        default:
            r = v, g = p, b = q;
            break;
    }
    auto byte = [] (float x) { return (std::uint8_t) juce::jlimit (0, 255, (int) std::lround (x * 255.0f)); };
    return { byte (r), byte (g), byte (b) };
}

} // namespace kalder
