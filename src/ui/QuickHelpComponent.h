#pragma once

#include "appcore/HelpPages.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

/**
    The quick help: a card over the corner of the window with one page of help, and
    buttons to page through a set of pages ("helpBack", "helpNext") and to close it
    ("helpClose"). Shown with the tutorial, it also has "Show at start-up"
    ("showAtStartup"), whose change is reported (the owner keeps it in the
    "tutorialSkip" setting). It never takes the keyboard from the window's commands
    unless the user tabs into it, and it leaves every other click to the window.

    Threading: message thread only.
*/
class QuickHelpComponent : public juce::Component
{
public:
    QuickHelpComponent();

    /** Shows pages from the one at index; withStartupChoice adds "Show at start-up",
        ticked as showAtStartup says. */
    void showPages (std::vector<HelpPage> pages, int index, bool withStartupChoice, bool showAtStartup);

    /** The page shown (empty title while hidden). */
    juce::String getShownTitle() const { return isVisible() ? title.getText() : juce::String(); }

    /** Where the page's picture is drawn (empty for a page without one, or while hidden). */
    juce::Rectangle<int> getPictureArea() const
    {
        return isVisible() && picture.isValid() ? pictureArea : juce::Rectangle<int>();
    }

    /** Called when the user ticks or unticks "Show at start-up". */
    std::function<void (bool showAtStartup)> onStartupChoice;

    /** The size the card asks for. */
    static constexpr int preferredWidth = 400, preferredHeight = 370;

    void resized() override;
    void paint (juce::Graphics&) override;

private:
    void showPage (int index);

    std::vector<HelpPage> pages;
    int current = 0;
    juce::Label title, body;
    juce::TextButton back { "Back" }, next { "Next" }, close { "Close" };
    juce::ToggleButton showAtStartup { "Show at start-up" };
    juce::Image picture;
    juce::Rectangle<int> pictureArea;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuickHelpComponent)
};

} // namespace kalder
