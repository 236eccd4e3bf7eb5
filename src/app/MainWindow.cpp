#include "MainWindow.h"
#include "CommandIDs.h"
#include "MenuModel.h"

namespace kalder
{

namespace
{
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
                    menu.addSubMenu (item.label, sub);
                    break;
                }
                case MenuItem::Kind::quit:
                    menu.addCommandItem (&commands, juce::StandardApplicationCommandIDs::quit);
                    break;
            }
        }
    }
} // namespace

MainWindow::MainWindow (const juce::String& name, Mixer& mixer, AlertManager& alerts,
                        juce::ApplicationCommandManager& commandManager)
    : juce::DocumentWindow (
        name, juce::Desktop::getInstance().getDefaultLookAndFeel().findColour (juce::ResizableWindow::backgroundColourId),
        juce::DocumentWindow::allButtons),
      productName (name),
      commands (commandManager),
      content (new MainContentComponent (mixer, alerts, commandManager))
{
    setUsingNativeTitleBar (true);
    setMenuBar (this);
    setContentOwned (content, true);
    setResizable (true, false);
    constexpr int minWidth = 640, minHeight = 400; // pixels: room for the transport bar and a track row
    constexpr int maxSize = 10000;                 // pixels: no limit any screen reaches
    setResizeLimits (minWidth, minHeight, maxSize, maxSize);
    centreWithSize (getWidth(), getHeight());

    addKeyListener (commands.getKeyMappings());
    content->onMasterTrackChanged = [this] { updateWindowName(); };
    updateWindowName();
}

MainWindow::~MainWindow()
{
    removeKeyListener (commands.getKeyMappings());
    setMenuBar (nullptr);
    clearContentComponent();
}

void MainWindow::updateWindowName()
{
    auto title = productName;
    if (const auto name = content->getMasterTrackName(); name.isNotEmpty())
        title << " - " << name;
    setName (title);
}

void MainWindow::closeButtonPressed()
{
    juce::JUCEApplication::getInstance()->systemRequestedQuit();
}

juce::StringArray MainWindow::getMenuBarNames()
{
    return MenuModel::getMenuBarNames();
}

juce::PopupMenu MainWindow::getMenuForIndex (int menuIndex, const juce::String&)
{
    MenuModel::State state;
    state.productName = productName;
    juce::PopupMenu menu;
    addItems (menu, MenuModel::getMenuItems (menuIndex, state), commands);
    return menu;
}

} // namespace kalder
