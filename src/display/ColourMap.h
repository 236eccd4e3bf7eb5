#pragma once

#include "SpectrogramSettings.h"

#include <cstdint>

namespace kalder
{

/** One pixel of a spectrogram image: red, green, blue; no alpha. */
struct Pixel
{
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator== (const Pixel& o) const noexcept { return r == o.r && g == o.g && b == o.b; }
    bool operator!= (const Pixel& o) const noexcept { return ! operator== (o); }
};

/**
    The rule that turns a level (dB) into a colour, as one editor holds it: the levels
    of the quietest and the loudest colour, the two hues, and the value ramp.

    For a level L: r = (clamp (L, min, max) - min) / (max - min), 0 quietest .. 1
    loudest; hue = start + (end - start) r, plus whole turns while below 0; value =
    offset + slope r, clamped to [0, 1]; the colour is HSV (1 - hue, 1, value), the hue
    taken modulo one turn. Warm colours are loud, cold colours quiet.

    Brightness and contrast become the value ramp as offset = brightness - contrast and
    slope = 2 contrast: the middle of the range sits at the brightness, the contrast
    spreads the ramp around it, and the defaults give a dark quiet end and a full loud
    one. With max <= min (a silent track) every level is the quietest colour.
*/
struct ColourMapping
{
    float minLevel = -90.0f, maxLevel = 0.0f;
    float startHue = (float) SpectrogramSettings::defaultStartHue, endHue = (float) SpectrogramSettings::defaultEndHue;
    float valueOffset = 0.0f, valueSlope = 1.0f;

    /** The mapping of settings for levels up to maxLevel (dynamicRange below it). */
    static ColourMapping fromSettings (const SpectrogramSettings& settings, float maxLevel);

    /** 0 .. 1: where a level sits between the quietest and the loudest colour. */
    float position (float levelDb) const noexcept;

    Pixel colourOf (float levelDb) const noexcept;

    /** The colour the threshold tools show for a threshold in dB below the loudest level. */
    Pixel thresholdColour (float thresholdDb) const noexcept { return colourOf (maxLevel + thresholdDb); }

    /** HSV (hue in turns, wrapped; saturation and value 0..1) to RGB. */
    static Pixel fromHSV (float hue, float saturation, float value) noexcept;
};

} // namespace kalder
