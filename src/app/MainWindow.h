#pragma once

#include "MainContentComponent.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

/**
    The application's one top-level window: the menu bar (its menus come from
    MenuModel, its items from the command manager, so each shows its keys and whether
    it can run now), the content component, and the title, which names the open file.

    Keys reach the commands through the command manager's key mappings, registered on
    this window.

    Ownership: owned by the application object; owns its MainContentComponent.

    Threading: message thread only.
*/
class MainWindow : public juce::DocumentWindow, public juce::MenuBarModel
{
public:
    MainWindow (const juce::String& name, Mixer& mixer, AlertManager& alerts, juce::ApplicationCommandManager& commands);
    ~MainWindow() override;

    MainContentComponent& getContent() noexcept { return *content; }

    /** Shows the product name, followed by the open file's name when there is one. */
    void updateWindowName();

    void closeButtonPressed() override;

    juce::StringArray getMenuBarNames() override;
    juce::PopupMenu getMenuForIndex (int menuIndex, const juce::String& menuName) override;
    void menuItemSelected (int, int) override {}

private:
    const juce::String productName;
    juce::ApplicationCommandManager& commands;
    MainContentComponent* content; // owned as the window's content

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
};

} // namespace kalder
