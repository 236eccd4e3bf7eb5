#include "KalderLookAndFeel.h"

namespace kalder
{

KalderLookAndFeel::KalderLookAndFeel()
    : juce::LookAndFeel_V4 (juce::LookAndFeel_V4::ColourScheme (Palette::background, // window background
                                                                Palette::panel,      // widget background
                                                                Palette::panel,      // menu background
                                                                Palette::outline,    // outline
                                                                Palette::text,       // default text
                                                                Palette::panel,      // default fill
                                                                Palette::text,       // highlighted text
                                                                Palette::accent,     // highlighted fill
                                                                Palette::text))      // menu text
{
    setColour (juce::ResizableWindow::backgroundColourId, Palette::background);
    setColour (juce::DocumentWindow::textColourId, Palette::text);
    setColour (juce::TextButton::buttonColourId, Palette::panel);
    setColour (juce::TextButton::buttonOnColourId, Palette::accent);
    setColour (juce::TextButton::textColourOffId, Palette::text);
    setColour (juce::TextButton::textColourOnId, Palette::background);
    setColour (juce::Slider::thumbColourId, Palette::accent);
    setColour (juce::Slider::trackColourId, Palette::accent.withAlpha (0.6f));
    setColour (juce::Slider::backgroundColourId, Palette::outline);
    setColour (juce::Label::textColourId, Palette::text);
    setColour (juce::AlertWindow::backgroundColourId, Palette::panel);
    setColour (juce::AlertWindow::textColourId, Palette::text);
    setColour (juce::AlertWindow::outlineColourId, Palette::outline);
    setColour (juce::ProgressBar::foregroundColourId, Palette::accent);
    setColour (juce::ProgressBar::backgroundColourId, Palette::outline);
    setColour (juce::PopupMenu::highlightedBackgroundColourId, Palette::accent);
    setColour (juce::PopupMenu::highlightedTextColourId, Palette::background);
}

void KalderLookAndFeel::drawButtonBackground (juce::Graphics& g, juce::Button& button, const juce::Colour& backgroundColour,
                                              bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown)
{
    // Flat, slightly rounded buttons; hover and press lighten the fill.
    constexpr float cornerSize = 4.0f;
    constexpr float hoverBrightening = 0.08f, pressBrightening = 0.16f;

    auto bounds = button.getLocalBounds().toFloat().reduced (0.5f);
    auto fill = backgroundColour;
    if (shouldDrawButtonAsDown)
        fill = fill.brighter (pressBrightening);
    else if (shouldDrawButtonAsHighlighted)
        fill = fill.brighter (hoverBrightening);
    if (! button.isEnabled())
        fill = fill.withMultipliedAlpha (0.5f); // greyed, as a disabled command is

    g.setColour (fill);
    g.fillRoundedRectangle (bounds, cornerSize);
    g.setColour (Palette::outline);
    g.drawRoundedRectangle (bounds, cornerSize, 1.0f);
}

} // namespace kalder
