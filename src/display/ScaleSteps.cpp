#include "ScaleSteps.h"

#include <cmath>

namespace kalder::ScaleSteps
{

namespace
{
    double roundStepAtLeast (double minimum)
    {
        if (! std::isfinite (minimum) || minimum <= 0.0)
            return 1.0;
        const auto decade = std::pow (10.0, std::floor (std::log10 (minimum)));
        for (auto m : { 1.0, 2.0, 5.0, 10.0 })
            if (decade * m >= minimum * (1.0 - 1.0e-9))
                return decade * m;
        return decade * 10.0;
    }
} // namespace

double chooseTimeStep (double secondsPerPixel, double minPixels)
{
    const auto minimum = secondsPerPixel * minPixels;
    if (! std::isfinite (minimum) || minimum <= 0.0)
        return 1.0;
    if (minimum <= 10.0)
        return juce::jmax (0.001, roundStepAtLeast (minimum));
    for (auto s : { 10.0, 15.0, 30.0, 60.0, 120.0, 300.0, 600.0, 900.0, 1800.0 })
        if (s >= minimum)
            return s;
    return std::ceil (minimum / 3600.0) * 3600.0;
}

double chooseFrequencyStep (double hzPerPixel, double minPixels)
{
    return roundStepAtLeast (hzPerPixel * minPixels);
}

int decimalsForStep (double step)
{
    if (! std::isfinite (step) || step <= 0.0)
        return 0;
    int decimals = 0;
    while (decimals < 6 && std::abs (step - std::round (step)) > 1.0e-9 * juce::jmax (1.0, step))
    {
        step *= 10.0;
        ++decimals;
    }
    return decimals;
}

juce::String formatTime (double seconds, double step)
{
    if (! std::isfinite (seconds))
        return "-";
    const bool negative = seconds < 0.0;
    const auto decimals = juce::jmin (3, decimalsForStep (step));
    const auto scale = std::pow (10.0, decimals);
    auto units = (juce::int64) std::llround (std::abs (seconds) * scale);
    const auto fraction = units % (juce::int64) scale;
    auto whole = units / (juce::int64) scale;
    const auto secs = whole % 60, mins = (whole / 60) % 60, hours = whole / 3600;
    juce::String text = negative ? "-" : "";
    if (hours > 0)
        text << juce::String (hours) << ":" << juce::String (mins).paddedLeft ('0', 2);
    else
        text << juce::String (mins);
    text << ":" << juce::String (secs).paddedLeft ('0', 2);
    if (decimals > 0)
        text << "." << juce::String (fraction).paddedLeft ('0', decimals);
    return text;
}

juce::String formatFrequency (double hz, double step)
{
    if (! std::isfinite (hz))
        return "-";
    if (std::abs (hz) < 1000.0 || step < 100.0)
        return juce::String (hz, decimalsForStep (step)) + " Hz";
    return juce::String (hz / 1000.0, decimalsForStep (step / 1000.0)) + " kHz";
}

} // namespace kalder::ScaleSteps
