#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

/**
    The about window's content: the logo, the product name and version, what the
    program does, and the libraries it is built on.

    The texts are labels with component IDs ("name", "version", "description",
    "credits") so that tests and screen readers find them.

    Ownership: owned by the about window.

    Threading: message thread only.
*/
class AboutComponent : public juce::Component
{
public:
    AboutComponent (const juce::String& productName, const juce::String& version);

    /** True when the logo was drawn from the compiled-in SVG. */
    bool hasLogo() const noexcept { return logo != nullptr; }

    void resized() override;
    void paint (juce::Graphics&) override;

private:
    std::unique_ptr<juce::Drawable> logo;
    juce::Label name, version, description, credits;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AboutComponent)
};

} // namespace kalder
