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

    Position and size: the window comes back where the user left it (the "windowState"
    setting, written when the window is deleted). A stored state that no longer fits
    (a smaller or missing monitor, a larger scale factor) is moved and shrunk onto the
    screen; a first window, or one whose state cannot be read, is centred at a size
    that fits the screen.

    The settings and about windows are opened from here, each at most once; both are
    modal, so quitting closes them first.

    Ownership: owned by the application object; owns its MainContentComponent.

    Threading: message thread only.
*/
class MainWindow : public juce::DocumentWindow, public juce::MenuBarModel
{
public:
    /** Window titles. */
    static constexpr const char* settingsWindowTitle = "Settings";
    static constexpr const char* aboutWindowTitlePrefix = "About ";
    static constexpr const char* mixerWindowTitle = "Mixer";

    MainWindow (const juce::String& name, Mixer& mixer, AlertManager& alerts, juce::ApplicationCommandManager& commands);

    /** Stores the window state in the "windowState" setting. */
    ~MainWindow() override;

    MainContentComponent& getContent() noexcept { return *content; }

    /** Shows the product name, followed by the open file's name when there is one. */
    void updateWindowName();

    /** Opens the settings window, or brings it to the front when it is open. */
    void showSettingsWindow();

    /** Opens the about window, or brings it to the front when it is open. */
    void showAboutWindow (const juce::String& version);

    /** Opens the mixer window (not modal), or brings it to the front when it is open.
        Closing it hides it; it keeps its place while the application runs. */
    void showMixerWindow();

    /** The mixer window, or nullptr before it was first opened. */
    juce::DocumentWindow* getMixerWindow() const noexcept { return mixerWindow.get(); }

    /** Moves and shrinks the window so that it lies on the screen that holds most of it. */
    void fitOnScreen();

    void closeButtonPressed() override;

    juce::StringArray getMenuBarNames() override;
    juce::PopupMenu getMenuForIndex (int menuIndex, const juce::String& menuName) override;
    /** Opens a project of the recent list (the only items not run as commands). */
    void menuItemSelected (int itemId, int topLevelMenuIndex) override;
    static constexpr int firstRecentProjectItem = 0x70000; // above every command id

private:
    void restoreWindowState();

    const juce::String productName;
    juce::ApplicationCommandManager& commands;
    MainContentComponent* content; // owned as the window's content
    juce::Component::SafePointer<juce::DialogWindow> settingsWindow, aboutWindow;
    Mixer& mixer;
    std::unique_ptr<juce::DocumentWindow> mixerWindow;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
};

} // namespace kalder
