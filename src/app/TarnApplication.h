#pragma once

#include "AlertWindowPresenter.h"
#include "EditCommands.h"
#include "InstanceForwarder.h"
#include "MainWindow.h"
#include "QuitSignals.h"
#include "SeparationCommands.h"
#include "appcore/AlertManager.h"
#include "appcore/ApplicationTree.h"
#include "appcore/SettingsManager.h"

#include "tracks/Mixer.h"
#include "tracks/UndoManagerAccessor.h"
#include "ui/KalderLookAndFeel.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

/**
    The application object: it lives for the whole run and owns the long-lived
    services (the application tree with its flags, the command manager, the alert
    manager and its window presenter, the settings, the mixer, the look-and-feel) and
    the main window.

    Start-up finishes on the message loop: the command registry is filled, the main
    window is created, every command is registered with the command manager, and a
    file named on the command line is opened. From then on, files given to a second
    start of the application (InstanceForwarder) open in this window.

    Commands: getAllCommands(), getCommandInfo() and perform() serve the command
    registry (CommandIDs) and the framework's Quit. A command whose feature has not
    been built stays disabled, shown greyed, rather than pretending to work.

    Quitting (the Quit command, the window's close button, the system): open modal
    windows (menus, dialogs, alerts) are closed first and the request is repeated a
    moment later; then, when the open project has unsaved changes, the user is asked
    "Save changes?". Saving quits once the project is saved; a save that fails says
    why and keeps the application open, so nothing is lost; "Don't Save" quits; a
    question closed without an answer keeps the application open.

    Threading: message thread only.
*/
class TarnApplication : public juce::JUCEApplication, private juce::AsyncUpdater
{
public:
    /** Seek steps of the Backward/Forward commands and their fast variants, in seconds. */
    static constexpr double shortSeekSeconds = 1.0, longSeekSeconds = 10.0;

    TarnApplication();
    ~TarnApplication() override;

    /** The running application object, or nullptr. */
    static TarnApplication* getApp();

    const juce::String getApplicationName() override { return "Kalder Pro"; }
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;
    void anotherInstanceStarted (const juce::String&) override {}

    void initialise (const juce::String& commandLine) override;
    void shutdown() override;
    void systemRequestedQuit() override;

    void getAllCommands (juce::Array<juce::CommandID>& commands) override;
    void getCommandInfo (juce::CommandID commandID, juce::ApplicationCommandInfo& result) override;
    bool perform (const InvocationInfo& info) override;

    //==============================================================================
    Mixer& getMixer() noexcept { return mixer; }
    ApplicationTree& getApplicationTree() noexcept { return applicationTree; }
    AlertManager& getAlertManager() noexcept { return alerts; }
    juce::ApplicationCommandManager& getCommandManager() noexcept { return commandManager; }
    UndoManagerAccessor& getUndoManagerAccessor() noexcept { return undoAccessor; }
    /** The spectral edit commands, once start-up has finished. */
    EditCommands* getEditCommands() const noexcept { return edits.get(); }

    /** The separation commands and the separations they start, once start-up has finished. */
    SeparationCommands* getSeparationCommands() const noexcept { return separations.get(); }
    separation::NetworkManager* getNetworkManager() const noexcept { return network.get(); }

    /** The main window, once start-up has finished. */
    MainWindow* getMainWindow() const noexcept { return mainWindow.get(); }

    /** What happens once quitting has been confirmed. By default the message loop is
        told to stop (JUCEApplication::quit()); a host that runs the application inside
        a loop of its own (tests, benchmarks) puts its own action here. */
    void setQuitAction (std::function<void()> action);

    /** The files a command line names (arguments that are not options), resolved
        against the working folder. */
    static juce::Array<juce::File> getFilesFromCommandLine (const juce::String& commandLine);

private:
    class AsyncQuitRetrier;

    void handleAsyncUpdate() override;
    void openFiles (const juce::Array<juce::File>& files);
    void askToSaveThenQuit();
    void finishQuit();

    ApplicationTree applicationTree;
    ApplicationTree::ScopedInstance applicationTreeInstance { applicationTree };
    juce::ApplicationCommandManager commandManager;
    class KeysKeeper;
    std::unique_ptr<KeysKeeper> keysKeeper;
    AlertManager alerts;
    AlertWindowPresenter presenter;
    Mixer mixer;
    UndoManagerAccessor undoAccessor;
    UndoManagerAccessor::ScopedInstance undoAccessorInstance { undoAccessor };
    std::unique_ptr<SettingsManager> settings;
    std::unique_ptr<SettingsManager::ScopedInstance> settingsInstance;
    KalderLookAndFeel lookAndFeel;
    std::unique_ptr<MainWindow> mainWindow;
    std::unique_ptr<EditCommands> edits;
    std::unique_ptr<separation::NetworkManager> network;
    std::unique_ptr<separation::SeparationLauncher> launcher;
    std::unique_ptr<SeparationCommands> separations;
    std::unique_ptr<InstanceForwarder> forwarder;
    std::unique_ptr<QuitSignals> quitSignals;
    bool keepAutosave = false; // a quit by signal keeps the work for the next start
    juce::String startCommandLine;
    std::function<void()> quitAction;
    bool askingToSave = false;

    JUCE_DECLARE_NON_COPYABLE (TarnApplication)
};

} // namespace kalder
