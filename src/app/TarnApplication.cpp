#include "TarnApplication.h"
#include "CrashRecoveryComponent.h"
#include "appcore/CommandIDs.h"
#include "appcore/DirectoryManager.h"

namespace kalder
{

namespace
{
    constexpr int quitRetryDelayMs = 200; // time for cancelled modal windows to close

    juce::KeyPress toKeyPress (const DefaultKey& key)
    {
        int modifiers = 0;
        if ((key.modifiers & DefaultKey::shift) != 0)
            modifiers |= juce::ModifierKeys::shiftModifier;
        if ((key.modifiers & DefaultKey::alt) != 0)
            modifiers |= juce::ModifierKeys::altModifier;
        if ((key.modifiers & DefaultKey::command) != 0)
            modifiers |= juce::ModifierKeys::commandModifier;

        int code = 0;
        switch (key.key)
        {
            case DefaultKey::Key::character:
                code = (int) key.character;
                break;
            case DefaultKey::Key::space:
                code = juce::KeyPress::spaceKey;
                break;
            case DefaultKey::Key::returnKey:
                code = juce::KeyPress::returnKey;
                break;
            case DefaultKey::Key::backspace:
                code = juce::KeyPress::backspaceKey;
                break;
            case DefaultKey::Key::deleteKey:
                code = juce::KeyPress::deleteKey;
                break;
            case DefaultKey::Key::leftArrow:
                code = juce::KeyPress::leftKey;
                break;
            case DefaultKey::Key::rightArrow:
                code = juce::KeyPress::rightKey;
                break;
            case DefaultKey::Key::home:
                code = juce::KeyPress::homeKey;
                break;
            case DefaultKey::Key::end:
                code = juce::KeyPress::endKey;
                break;
        }
        return juce::KeyPress (code, juce::ModifierKeys (modifiers), 0);
    }
} // namespace

//==============================================================================
/** Asks to quit again a moment after the open modal windows were told to close. */
class TarnApplication::AsyncQuitRetrier : private juce::Timer
{
public:
    AsyncQuitRetrier() { startTimer (quitRetryDelayMs); }

private:
    void timerCallback() override
    {
        stopTimer();
        delete this;
        if (auto* app = juce::JUCEApplication::getInstance())
            app->systemRequestedQuit();
    }
};

//==============================================================================
TarnApplication::TarnApplication() = default;
TarnApplication::~TarnApplication() = default;

TarnApplication* TarnApplication::getApp()
{
    return dynamic_cast<TarnApplication*> (juce::JUCEApplication::getInstance());
}

const juce::String TarnApplication::getApplicationVersion()
{
    return "0.1.0";
}

bool TarnApplication::moreThanOneInstanceAllowed()
{
    // An instance with a data folder of its own (KALDER_HOME: tests, portable installs)
    // shares nothing with the user's instance, so it may run beside it.
    return juce::SystemStats::getEnvironmentVariable ("KALDER_HOME", {}).isNotEmpty();
}

void TarnApplication::initialise (const juce::String& commandLine)
{
    juce::LookAndFeel::setDefaultLookAndFeel (&lookAndFeel);
    alerts.setPresenter (&presenter);

    auto defaults = SettingsManager::createDefaultSettings();
    separation::SeparationSettings::addDefaults (defaults);
    settings = std::make_unique<SettingsManager> (DirectoryManager::getSettingsFile(), defaults);
    settingsInstance = std::make_unique<SettingsManager::ScopedInstance> (*settings);
    // Values no module offers (an edited or older file) go back to their defaults.
    if (! separation::SeparationSettings::sanitise (*settings).isEmpty())
        settings->groupChanged (SettingsIds::separation);

    startCommandLine = commandLine;
    // A signal to quit (a logout, a service manager, Ctrl+C in the terminal) quits as
    // the user's quit does, without the question: nobody is there to answer it.
    quitSignals = std::make_unique<QuitSignals> ([this] (int) {
        juce::ModalComponentManager::getInstance()->cancelAllModalComponents();
        // Nobody answers "Save changes?": the work goes into the autosave, which the
        // next start offers to recover.
        if (mainWindow != nullptr && mainWindow->getContent().getProjects().hasUnsavedChanges())
            keepAutosave = mainWindow->getContent().getProjects().autosaveAndWait().wasOk();
        finishQuit();
    });
    triggerAsyncUpdate();
}

//==============================================================================
/** Puts the user's keys (the "keyMappings" setting) over the defaults at start, and
    stores every change the key-mapping editor makes. A stored mapping that cannot be
    read leaves the defaults. */
class TarnApplication::KeysKeeper : private juce::ChangeListener
{
public:
    KeysKeeper (juce::KeyPressMappingSet& k, AlertManager& a) : keys (k), alerts (a)
    {
        if (const auto xml = juce::parseXML (SettingsManager::getInstance().getKeyMappings()); xml != nullptr)
            keys.restoreFromXml (*xml);
        keys.addChangeListener (this);
    }

    ~KeysKeeper() override { keys.removeChangeListener (this); }

private:
    void changeListenerCallback (juce::ChangeBroadcaster*) override
    {
        // Only what differs from the defaults: new commands keep their own keys.
        const auto xml = keys.createXml (true);
        const auto text = xml != nullptr ? xml->toString (juce::XmlElement::TextFormat().singleLine()) : juce::String();
        if (auto r = SettingsManager::getInstance().setKeyMappings (text); r.failed())
            alerts.displayWarningPopup ("Setting not saved", r.getErrorMessage());
    }

    juce::KeyPressMappingSet& keys;
    AlertManager& alerts;
};

void TarnApplication::handleAsyncUpdate()
{
    auto& registry = CommandIDs::getInstance();
    registry.addStandardCommandIDs();
    for (auto command : { Command::openAudioFile, Command::showMainWindow, Command::showMixerWindow, Command::settings,
                          Command::about, Command::toggleAutoscroll, Command::toggleHelp, Command::showSpectrogramHelp })
        registry.enableCommand (command, true);

    mainWindow = std::make_unique<MainWindow> (getApplicationName(), mixer, alerts, commandManager);
    undoAccessor.setMixer (&mixer);
    edits = std::make_unique<EditCommands> (mixer, alerts, undoAccessor, [this] { commandManager.commandStatusChanged(); });
    network = std::make_unique<separation::NetworkManager>();
    network->setRemoteSource ([] { return separation::SeparationSettings::getRemoteService (SettingsManager::getInstance()); });
    launcher = std::make_unique<separation::SeparationLauncher> (mixer, *network);
    separations = std::make_unique<SeparationCommands> (mixer, alerts, *launcher);
    mainWindow->getContent().getTrackList().onCancelSeparation = [this] (AudioTrack::Ptr track) {
        if (network != nullptr && track != nullptr)
            network->cancel (separation::SeparationTracker::of (*track));
    };
    commandManager.registerAllCommandsForTarget (this);
    keysKeeper = std::make_unique<KeysKeeper> (*commandManager.getKeyMappings(), alerts);
    mainWindow->setVisible (true);
    mainWindow->toFront (true);
    mainWindow->getContent().grabKeyboardFocus();

    forwarder = std::make_unique<InstanceForwarder> (InstanceForwarder::getDefaultFifo(),
                                                     [] (const juce::Array<juce::File>& files) {
                                                         auto* app = getApp();
                                                         if (app == nullptr || app->mainWindow == nullptr)
                                                             return;
                                                         app->mainWindow->toFront (true);
                                                         app->openFiles (files);
                                                     });

    // The last run left its autosave: it did not quit normally.
    const auto files = getFilesFromCommandLine (startCommandLine);
    const auto autosave = DirectoryManager::getAutosaveFile();
    if (! settings->getTutorialSkip() && ! autosave.existsAsFile())
        mainWindow->getContent().showTutorial(); // the first steps, until the user asks not to see them
    if (autosave.existsAsFile())
    {
        CrashRecoveryComponent::show ([this, autosave, files] (bool recover) {
            if (mainWindow == nullptr)
                return;
            auto& projects = mainWindow->getContent().getProjects();
            if (recover)
            {
                projects.open (autosave, true);
                return;
            }
            projects.discardAutosave();
            openFiles (files);
        });
        return;
    }
    openFiles (files);
}

juce::Array<juce::File> TarnApplication::getFilesFromCommandLine (const juce::String& commandLine)
{
    juce::StringArray arguments;
    arguments.addTokens (commandLine, true);
    juce::Array<juce::File> files;
    for (auto argument : arguments)
    {
        argument = argument.unquoted();
        if (argument.isEmpty() || argument.startsWithChar ('-'))
            continue;
        files.add (juce::File::getCurrentWorkingDirectory().getChildFile (argument));
    }
    return files;
}

void TarnApplication::openFiles (const juce::Array<juce::File>& files)
{
    if (files.size() > 1)
        alerts.displayWarningPopup ("Cannot open audio file", "Kalder Pro opens one audio file at a time.");
    else if (files.size() == 1)
        mainWindow->getContent().loadAudioFile (files.getFirst());
}

void TarnApplication::shutdown()
{
    cancelPendingUpdate();
    keysKeeper.reset();
    quitSignals.reset();
    // A normal quit: the autosave is not needed (its absence tells the next start so).
    if (mainWindow != nullptr && ! keepAutosave)
        mainWindow->getContent().getProjects().discardAutosave();
    forwarder.reset();
    // Separations stop (the service is told), then the embedded service stops.
    separations.reset();
    if (network != nullptr)
        network->cancelSeparations();
    launcher.reset();
    network.reset();
    edits.reset();
    undoAccessor.setMixer (nullptr);
    mainWindow.reset();

    // Until projects are saved, the tracks' working files end with the session.
    const auto tracks = mixer.getAllTracks();
    mixer.setMasterTrack (nullptr);
    for (auto* track : tracks)
    {
        const auto folder = track->getAudioFile().getParentDirectory();
        track->deleteFiles();
        if (folder.isAChildOf (DirectoryManager::getTempDir()))
            folder.deleteRecursively();
    }

    alerts.setPresenter (nullptr);
    settingsInstance.reset();
    settings.reset();
    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
}

void TarnApplication::setQuitAction (std::function<void()> action)
{
    quitAction = std::move (action);
}

void TarnApplication::systemRequestedQuit()
{
    JUCE_ASSERT_MESSAGE_THREAD
    auto* modal = juce::ModalComponentManager::getInstance();
    if (modal->getNumModalComponents() > 0)
    {
        // The "Save changes?" question itself is among them: it is answered "dismissed"
        // and asked again by the retry.
        modal->cancelAllModalComponents();
        new AsyncQuitRetrier(); // deletes itself
        return;
    }
    if (askingToSave)
        return; // the question is on its way to the screen

    if (mainWindow != nullptr && mainWindow->getContent().hasUnsavedChanges())
    {
        askToSaveThenQuit();
        return;
    }
    finishQuit();
}

void TarnApplication::askToSaveThenQuit()
{
    askingToSave = true;
    alerts.showYesNoBox (AlertManager::YesNoBoxType::SaveChanges, [this] (AlertManager::Answer answer) {
        askingToSave = false;
        switch (answer)
        {
            case AlertManager::Answer::yes:
            {
                const auto saved = mainWindow != nullptr ? mainWindow->getContent().saveCurrentProject() : juce::Result::ok();
                if (saved.failed())
                {
                    alerts.displayWarningPopup ("Project not saved",
                                                "Kalder Pro stays open so that nothing is lost. " + saved.getErrorMessage());
                    return;
                }
                finishQuit();
                return;
            }
            case AlertManager::Answer::no:
                finishQuit();
                return;
            case AlertManager::Answer::alternative:
            case AlertManager::Answer::dismissed:
                return; // closed without an answer: stay
        }
    });
}

void TarnApplication::finishQuit()
{
    if (quitAction)
        quitAction();
    else
        quit();
}

//==============================================================================
void TarnApplication::getAllCommands (juce::Array<juce::CommandID>& commands)
{
    juce::JUCEApplication::getAllCommands (commands);
    commands.addArray (CommandIDs::getInstance().getCommandList());
}

void TarnApplication::getCommandInfo (juce::CommandID commandID, juce::ApplicationCommandInfo& result)
{
    const auto category = CommandIDs::getCategoryOfId (commandID);
    if (category < CommandTable::firstCategory || category > CommandTable::lastCategory)
    {
        juce::JUCEApplication::getCommandInfo (commandID, result);
        return;
    }

    auto& history = undoAccessor.getCurrentUndoManager();
    const auto info = CommandIDs::getInstance().getCommandInfo (commandID, { history.canUndo(), history.canRedo() });
    result.setInfo (info.shortName, info.description, info.categoryName, info.flags);
    result.setActive (! info.disabled);
    for (const auto& key : info.defaultKeys)
        result.defaultKeypresses.add (toKeyPress (key));
}

bool TarnApplication::perform (const InvocationInfo& info)
{
    const auto* entry = CommandIDs::getInstance().findById (info.commandID);
    if (entry == nullptr)
        return juce::JUCEApplication::perform (info);
    if (! entry->enabled || mainWindow == nullptr)
        return false;

    if (edits != nullptr && EditCommands::handles (entry->command))
        return edits->perform (entry->command);
    if (MelodyGuideImporter::handles (entry->command))
        return mainWindow->getContent().getMelodyCommands().perform (entry->command);
    if (separations != nullptr && SeparationCommands::handles (entry->command))
        return separations->perform (entry->command, mainWindow.get());

    auto& content = mainWindow->getContent();
    switch (entry->command)
    {
        case Command::save:
            if (content.getProjects().getProjectFile() == juce::File())
                content.getProjects().saveAs();
            else
                content.getProjects().saveCurrentProject();
            return true;
        case Command::saveAs:
            content.getProjects().saveAs();
            return true;
        case Command::openProject:
            content.getProjects().openChooser();
            return true;
        case Command::openAudioFile:
            content.openFileChooser();
            return true;
        case Command::bounceMixerOutput:
            content.getExports().bounceMixerOutput();
            return true;
        case Command::exportCurrentTrack:
            content.getExports().exportCurrentTrack();
            return true;
        case Command::exportAllTracks:
            content.getExports().exportAllTracks();
            return true;
        case Command::mergeSelectedTracks:
            content.mergeSelectedTracks();
            return true;
        case Command::showMainWindow:
            mainWindow->toFront (true);
            return true;
        case Command::showMixerWindow:
            mainWindow->showMixerWindow();
            return true;
        case Command::toggleHelp:
            content.toggleHelp();
            return true;
        case Command::showSpectrogramHelp:
            content.showSpectrogramHelp();
            return true;
        case Command::settings:
            mainWindow->showSettingsWindow();
            return true;
        case Command::about:
            mainWindow->showAboutWindow (getApplicationVersion());
            return true;
        case Command::toggleAutoscroll:
        {
            auto& settings = SettingsManager::getInstance();
            if (auto result = settings.setAutoScroll (! settings.getAutoScroll()); result.failed())
                alerts.displayWarningPopup ("Setting not saved", result.getErrorMessage());
            return true;
        }
        case Command::playPause:
            content.playButtonClicked();
            return true;
        case Command::stop:
            content.stopButtonClicked();
            return true;
        case Command::backward:
            content.movePlayheadRelative (-shortSeekSeconds);
            return true;
        case Command::fastBackward:
            content.movePlayheadRelative (-longSeekSeconds);
            return true;
        case Command::forward:
            content.movePlayheadRelative (shortSeekSeconds);
            return true;
        case Command::fastForward:
            content.movePlayheadRelative (longSeekSeconds);
            return true;
        case Command::movePlayheadToStart:
            content.movePlayheadAbsolute (0.0);
            return true;
        case Command::playFromStart:
            content.playFromStart();
            return true;
        case Command::movePlayheadToEnd:
            content.movePlayheadAbsolute (content.getLengthSeconds());
            return true;
        case Command::toggleLoop:
            content.toggleLoop();
            return true;
        case Command::nextAlternate:
            return content.switchToNextAlternate();
        default:
        {
            const auto tool = static_cast<int> (entry->command) - static_cast<int> (Command::firstEditorTool);
            if (tool >= 0 && tool < 9)
                return content.selectEditorTool (tool);
            return false;
        }
    }
}

} // namespace kalder
