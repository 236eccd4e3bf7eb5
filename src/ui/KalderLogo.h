#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

/**
    The application's logo, drawn from our own SVG (resources/kalder-pro.svg, the same
    file the desktop entry installs as the icon), which is compiled into the program.

    Threading: message thread only (drawables and images are made for the GUI).
*/
struct KalderLogo
{
    /** The logo as a drawable, or nullptr if the compiled-in SVG could not be parsed. */
    static std::unique_ptr<juce::Drawable> createDrawable();

    /** The logo rendered into a square ARGB image of size pixels (transparent corners);
        an invalid image for a size below 1 or an unreadable SVG. */
    static juce::Image createImage (int size);
};

} // namespace kalder
