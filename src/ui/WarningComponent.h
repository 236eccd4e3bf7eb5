#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

/**
    The content of a warning window: the title in large bold type, the message, an
    optional link the user can follow, and one button that closes the window, with our
    logo drawn faintly behind (128 pixels, a fifth of its opacity).

    Children carry component IDs ("title", "message", "link", "close") so that tests and
    screen readers find them.

    Ownership: owned by its window. Threading: message thread only.
*/
class WarningComponent : public juce::Component
{
public:
    static constexpr int logoSize = 128;
    static constexpr float logoAlpha = 0.2f;

    WarningComponent (const juce::String& title, const juce::String& message, const juce::String& link);

    /** True when the logo was drawn from the compiled-in SVG. */
    bool hasLogo() const noexcept { return logo.isValid(); }

    /** Opens a modal window holding a warning, centred on the screen of around (or the
        main screen), closed by its button, Escape or the close control. */
    static juce::DialogWindow* show (const juce::String& title, const juce::String& message, const juce::String& link,
                                     juce::Component* around);

    void resized() override;
    void paint (juce::Graphics&) override;

private:
    juce::Image logo;
    juce::Label title, message;
    std::unique_ptr<juce::HyperlinkButton> link;
    juce::TextButton close { "OK" };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (WarningComponent)
};

} // namespace kalder
