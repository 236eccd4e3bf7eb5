#pragma once

#include <juce_core/juce_core.h>

namespace kalder
{

/**
    The spacing and labels of the rulers' marks.

    A step is the smallest "round" value whose marks lie at least minPixels apart:
    1, 2 or 5 times a power of ten for frequencies and for times below ten seconds, and
    10 s, 15 s, 30 s, 1, 2, 5, 10, 15, 30 min and whole hours above.
*/
namespace ScaleSteps
{
    /** The step in seconds for a ruler showing secondsPerPixel. */
    double chooseTimeStep (double secondsPerPixel, double minPixels);

    /** The step in Hz for a ruler showing hzPerPixel. */
    double chooseFrequencyStep (double hzPerPixel, double minPixels);

    /** "m:ss" with as many decimals of the second as the step needs ("1:05.250"); hours
        show as "h:mm:ss". */
    juce::String formatTime (double seconds, double step);

    /** "250 Hz" below 1 kHz (or for steps below 100 Hz), else "1.5 kHz". */
    juce::String formatFrequency (double hz, double step);

    /** Decimals needed to tell marks a step apart (0 for whole steps). */
    int decimalsForStep (double step);
} // namespace ScaleSteps

} // namespace kalder
