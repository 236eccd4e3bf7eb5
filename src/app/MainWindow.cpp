#include "MainWindow.h"
#include "appcore/CommandIDs.h"
#include "appcore/MenuModel.h"
#include "appcore/SettingsManager.h"
#include "tracks/UndoManagerAccessor.h"

#include "ui/AboutComponent.h"
#include "ui/KalderLogo.h"
#include "ui/KalderLookAndFeel.h"
#include "ui/MixerComponent.h"
#include "ui/SettingsComponent.h"

namespace kalder
{

namespace
{
    constexpr int minWidth = 640, minHeight = 400; // pixels: room for the transport bar and a track row
    constexpr int maxSize = 10000;                 // pixels: no limit any screen reaches
    constexpr int iconSize = 256;                  // pixels: what window managers scale down from

    void addItems (juce::PopupMenu& menu, const std::vector<MenuItem>& items, juce::ApplicationCommandManager& commands)
    {
        for (const auto& item : items)
        {
            switch (item.kind)
            {
                case MenuItem::Kind::command:
                    if (const auto id = CommandIDs::getInstance().getId (item.command); id != 0)
                        menu.addCommandItem (&commands, id, item.label);
                    break;
                case MenuItem::Kind::separator:
                    menu.addSeparator();
                    break;
                case MenuItem::Kind::sectionHeader:
                    menu.addSectionHeader (item.label);
                    break;
                case MenuItem::Kind::subMenu:
                {
                    juce::PopupMenu sub;
                    addItems (sub, item.subItems, commands);
                    menu.addSubMenu (item.label, sub, ! item.subItems.empty());
                    break;
                }
                case MenuItem::Kind::quit:
                    menu.addCommandItem (&commands, juce::StandardApplicationCommandIDs::quit);
                    break;
                case MenuItem::Kind::recentProject:
                {
                    // the project's name, with its folder to tell equal names apart
                    const juce::File file (item.label);
                    menu.addItem (MainWindow::firstRecentProjectItem + item.recentIndex,
                                  file.getFileNameWithoutExtension() + "  (" + file.getParentDirectory().getFullPathName() + ")",
                                  file.existsAsFile());
                    break;
                }
            }
        }
    }

    /** Opens a modal dialog around the main window; the dialog deletes itself when closed. */
    juce::DialogWindow* launchDialog (const juce::String& title, std::unique_ptr<juce::Component> content,
                                      juce::Component& centreAround)
    {
        juce::DialogWindow::LaunchOptions options;
        options.dialogTitle = title;
        options.content.setOwned (content.release());
        options.componentToCentreAround = &centreAround;
        options.dialogBackgroundColour = KalderLookAndFeel::Palette::panel;
        options.escapeKeyTriggersCloseButton = true;
        options.useNativeTitleBar = true;
        options.resizable = false;
        return options.launchAsync();
    }
} // namespace

MainWindow::MainWindow (const juce::String& name, Mixer& trackMixer, AlertManager& alerts,
                        juce::ApplicationCommandManager& commandManager)
    : juce::DocumentWindow (
        name, juce::Desktop::getInstance().getDefaultLookAndFeel().findColour (juce::ResizableWindow::backgroundColourId),
        juce::DocumentWindow::allButtons),
      productName (name),
      commands (commandManager),
      content (new MainContentComponent (trackMixer, alerts, commandManager)),
      mixer (trackMixer)
{
    setUsingNativeTitleBar (true);
    setIcon (KalderLogo::createImage (iconSize));
    setMenuBar (this);
    setContentOwned (content, true);
    setResizable (true, false);
    setResizeLimits (minWidth, minHeight, maxSize, maxSize);
    restoreWindowState();

    addKeyListener (commands.getKeyMappings());
    content->onMasterTrackChanged = [this] { updateWindowName(); };
    updateWindowName();
}

MainWindow::~MainWindow()
{
    if (auto result = SettingsManager::getInstance().setWindowState (getWindowStateAsString()); result.failed())
        juce::Logger::writeToLog ("The window state was not stored: " + result.getErrorMessage());

    delete settingsWindow.getComponent();
    delete aboutWindow.getComponent();
    mixerWindow.reset();
    removeKeyListener (commands.getKeyMappings());
    setMenuBar (nullptr);
    clearContentComponent();
}

void MainWindow::restoreWindowState()
{
    const auto state = SettingsManager::getInstance().getWindowState();
    if (state.isEmpty() || ! restoreWindowStateFromString (state))
    {
        const auto* display = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay();
        const auto screen = display != nullptr ? display->userArea : getBounds();
        centreWithSize (juce::jmin (getWidth(), screen.getWidth()), juce::jmin (getHeight(), screen.getHeight()));
    }
    fitOnScreen();
}

void MainWindow::fitOnScreen()
{
    if (isFullScreen() || isMinimised())
        return;
    const auto* display = juce::Desktop::getInstance().getDisplays().getDisplayForRect (getBounds());
    if (display == nullptr)
        return;
    // constrainedWithin() shrinks what is too large and moves what sticks out; the
    // resize limits still win on a screen smaller than the smallest usable window.
    const auto fitted = getBounds().constrainedWithin (display->userArea);
    setBounds (fitted.withSize (juce::jmax (minWidth, fitted.getWidth()), juce::jmax (minHeight, fitted.getHeight())));
}

void MainWindow::updateWindowName()
{
    auto title = productName;
    if (const auto name = content->getMasterTrackName(); name.isNotEmpty())
        title << " - " << name;
    setName (title);
}

void MainWindow::showSettingsWindow()
{
    if (settingsWindow != nullptr)
    {
        settingsWindow->toFront (true);
        return;
    }
    settingsWindow = launchDialog (
        settingsWindowTitle, std::make_unique<SettingsComponent> (SettingsManager::getInstance(), commands.getKeyMappings()),
        *this);
}

void MainWindow::showAboutWindow (const juce::String& version)
{
    if (aboutWindow != nullptr)
    {
        aboutWindow->toFront (true);
        return;
    }
    aboutWindow = launchDialog (aboutWindowTitlePrefix + productName, std::make_unique<AboutComponent> (productName, version),
                                *this);
}

void MainWindow::showMixerWindow()
{
    /** A window of its own beside the main one; the window's keys run the commands. */
    struct MixerWindow : juce::DocumentWindow
    {
        MixerWindow (Mixer& m, juce::ApplicationCommandManager& c)
            : juce::DocumentWindow (mixerWindowTitle, KalderLookAndFeel::Palette::background, juce::DocumentWindow::allButtons),
              commands (c)
        {
            setUsingNativeTitleBar (true);
            setIcon (KalderLogo::createImage (iconSize));
            setContentOwned (new MixerComponent (m), true);
            setResizable (true, false);
            setResizeLimits (2 * MixerComponent::stripWidth, 300, maxSize, maxSize); // 300 pixels: a fader's room
            addKeyListener (commands.getKeyMappings());
        }
        ~MixerWindow() override { removeKeyListener (commands.getKeyMappings()); }
        void closeButtonPressed() override { setVisible (false); }
        juce::ApplicationCommandManager& commands;
    };

    if (mixerWindow == nullptr)
    {
        mixerWindow = std::make_unique<MixerWindow> (mixer, commands);
        const auto* display = juce::Desktop::getInstance().getDisplays().getDisplayForRect (getBounds());
        const auto screen = display != nullptr ? display->userArea : getBounds();
        mixerWindow->centreWithSize (juce::jmin (mixerWindow->getWidth(), screen.getWidth()),
                                     juce::jmin (mixerWindow->getHeight(), screen.getHeight()));
    }
    mixerWindow->setVisible (true);
    mixerWindow->toFront (true);
}

void MainWindow::closeButtonPressed()
{
    juce::JUCEApplication::getInstance()->systemRequestedQuit();
}

void MainWindow::menuItemSelected (int itemId, int)
{
    const auto recent = SettingsManager::getInstance().getRecentProjects();
    const auto index = itemId - firstRecentProjectItem;
    if (index >= 0 && index < recent.size())
        content->getProjects().openRecent (juce::File (recent[index]));
}

juce::StringArray MainWindow::getMenuBarNames()
{
    return MenuModel::getMenuBarNames();
}

juce::PopupMenu MainWindow::getMenuForIndex (int menuIndex, const juce::String&)
{
    MenuModel::State state;
    state.productName = productName;
    state.autoScrollOn = SettingsManager::getInstance().getAutoScroll();
    state.recentProjects = SettingsManager::getInstance().getRecentProjects();
    auto& history = UndoManagerAccessor::getInstance().getCurrentUndoManager();
    state.undoDescription = history.getUndoDescription();
    state.redoDescription = history.getRedoDescription (0);
    juce::PopupMenu menu;
    addItems (menu, MenuModel::getMenuItems (menuIndex, state), commands);
    return menu;
}

} // namespace kalder
