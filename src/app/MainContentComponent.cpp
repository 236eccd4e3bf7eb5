#include "MainContentComponent.h"

#include "appcore/CommandIDs.h"
#include "appcore/DirectoryManager.h"
#include "appcore/SettingsManager.h"
#include "tracks/TrackMerger.h"

#include "tracks/NullAudioIODevice.h"
#include "tracks/TrackMerger.h"
#include "ui/KalderLookAndFeel.h"

namespace kalder
{

namespace
{
    MainContentComponent* instance = nullptr;

    constexpr int numOutputChannels = 2;    // stereo out; a mono project plays on both sides
    constexpr int refreshIntervalMs = 33;   // about 30 updates a second for the playhead and time
    constexpr int cachedFramesAhead = 256;  // frames the store keeps in memory from the play position
    constexpr int transportBarHeight = 44;  // pixels
    constexpr int trackRowHeight = 40;      // pixels, as the track list lays its rows out
    constexpr int overviewStripHeight = 72; // the waveform above the spectral editor
    constexpr int editHistoryWidth = 180;   // the edit history beside it
    constexpr int toolPanelWidth = EditorToolsComponent::buttonSize + 8;
    constexpr int maxTrackListRows = 5; // rows shown before the overview gets all the rest

    const juce::String cannotOpenTitle { "Cannot open audio file" };

    /** The commands that need a master track. */
    const Command transportCommands[] = { Command::playPause,           Command::stop,          Command::backward,
                                          Command::fastBackward,        Command::forward,       Command::fastForward,
                                          Command::movePlayheadToStart, Command::playFromStart, Command::movePlayheadToEnd,
                                          Command::toggleLoop };

    juce::ReferenceCountedArray<AudioTrack> pair (AudioTrack::Ptr target, AudioTrack::Ptr source)
    {
        juce::ReferenceCountedArray<AudioTrack> tracks;
        tracks.add (target);
        tracks.add (source);
        return tracks;
    }

    /** The commands that write audio files. */
    const Command exportCommands[] = { Command::bounceMixerOutput, Command::exportCurrentTrack, Command::exportAllTracks };
} // namespace

MainContentComponent::MainContentComponent (Mixer& m, AlertManager& a, juce::ApplicationCommandManager& c)
    : mixer (m),
      alerts (a),
      commands (c),
      transport (mixer),
      resampled (transport, numOutputChannels),
      trackList (mixer),
      exports (
          mixer, alerts,
          [this] (const FileRequest& request, FileRequest::Answer answer) { askForFile (request, std::move (answer)); },
          [this] { return opening != nullptr; }),
      melodyCommands (
          mixer, alerts,
          [this] (const FileRequest& request, FileRequest::Answer answer) { askForFile (request, std::move (answer)); }),
      projects (
          mixer, alerts,
          [this] (const FileRequest& request, FileRequest::Answer answer) { askForFile (request, std::move (answer)); },
          [this] (const LoadedProject& project) { installProject (project); })
{
    projectSaver = &projects;
    jassert (instance == nullptr);
    instance = this;
    setComponentID ("content");

    transportBar.onPlayPause = [this] { playButtonClicked(); };
    transportBar.onStop = [this] { stopButtonClicked(); };
    transportBar.onToggleLoop = [this] { toggleLoop(); };
    overview.onSeek = [this] (double normalised) { movePlayheadAbsolute (normalised * getLengthSeconds()); };

    addAndMakeVisible (transportBar);
    addAndMakeVisible (overview);
    addChildComponent (editorArea);
    addChildComponent (openGLWarmUp);
    openGLWarmUp.setBounds (0, 0, 1, 1);
    addChildComponent (pitchEditor);
    pitchEditor.setFocusArea (focusArea);
    pitchEditor.onPreviewPitch = [this] (float midi) { transport.getPreviewTone().setPitch (midi); };
    addChildComponent (toolPanel);
    addChildComponent (paramsBar);
    toolPanel.onToolChanged = [this] (EditorTool::Type type) {
        spectrogramView.setActiveTool (type);
        paramsBar.setTool (&spectrogramView.getActiveTool());
    };
    toolPanel.selectTool (spectrogramView.getActiveTool().getType());
    paramsBar.onHeightChanged = [this] { resized(); };
    paramsBar.onFreeze = [this] { commands.invokeDirectly (static_cast<int> (Command::freezeManualEdits), true); };
    paramsBar.onReset = [this] { commands.invokeDirectly (static_cast<int> (Command::resetSpectralEdits), true); };
    spectrogramView.onResult = [this] (const EditResult& result) { result.showIn (alerts); };
    spectrogramView.onStatus = [this] (const juce::String& text) { transportBar.setStatus (text); };
    spectrogramView.setFocusArea (focusArea);
    editorArea.setFocusArea (focusArea.get());
    editorArea.addTimeScaleAsLoopUpdater (&loop);
    playhead.setScrollTarget (focusArea.get()); // auto-scroll moves the editors' view
    addChildComponent (editHistory);
    editHistory.onResult = [this] (const EditResult& result) { result.showIn (alerts); };
    addAndMakeVisible (trackList);
    addChildComponent (quickHelp);
    quickHelp.onStartupChoice = [this] (bool showAtStartup) {
        if (auto r = SettingsManager::getInstance().setTutorialSkip (! showAtStartup); r.failed())
            alerts.displayWarningPopup ("Setting not saved", r.getErrorMessage());
    };
    // A track's own menu: what the Track menu offers for it.
    trackList.onAnalysisFailed = [this] (AudioTrack::Ptr track, const juce::String& reason) {
        alerts.displayWarningPopup ("Analysis failed", "The frames of " + track->getName()
                                                           + " could not be analysed; it plays as it is, but cannot be edited. "
                                                           + reason);
    };
    trackList.onNumRowsChanged = [this] { resized(); }; // the panel's height follows its rows
    trackList.onMergeRequested = [this] (AudioTrack::Ptr target, AudioTrack::Ptr source) { mergeTracks (pair (target, source)); };
    trackList.onSelectionChanged = [this] {
        CommandIDs::getInstance().enableCommand (Command::mergeSelectedTracks, trackList.getSelectedTracks().size() >= 2);
        commands.commandStatusChanged();
    };
    trackList.onSelectionChanged();
    trackList.onContextMenu = [this] (AudioTrack::Ptr track) {
        juce::PopupMenu menu;
        menu.addItem ("Rename Track...", [this, track] { trackList.startRenaming (*track); });
        juce::PopupMenu mergeInto;
        for (auto* other : Mixer::inTreeOrder (mixer.getAllTracks()))
            if (other != track.get())
                mergeInto.addItem (other->getName(),
                                   [this, track, target = AudioTrack::Ptr (other)] { mergeTracks (pair (target, track)); });
        menu.addSubMenu ("Merge Into", mergeInto, mergeInto.containsAnyActiveItems());
        menu.addCommandItem (&commands, static_cast<juce::CommandID> (Command::mergeSelectedTracks));
        menu.addSeparator();
        menu.addSectionHeader ("Apply Separation");
        for (auto c : { Command::fourStemSeparation, Command::vocalSeparation, Command::bassSeparation, Command::drumSeparation,
                        Command::otherSeparation, Command::panSeparation })
            menu.addCommandItem (&commands, static_cast<juce::CommandID> (c));
        menu.addSeparator();
        juce::PopupMenu melody;
        for (auto c : { Command::showMelodyEditor, Command::showSpectrogramEditor, Command::importMelodyGuide,
                        Command::exportMelodyGuide, Command::resetMelodyEdits })
            melody.addCommandItem (&commands, static_cast<juce::CommandID> (c));
        menu.addSubMenu ("Melody Editor", melody);
        menu.addCommandItem (&commands, static_cast<juce::CommandID> (Command::exportCurrentTrack));
        menu.showMenuAsync (juce::PopupMenu::Options().withMousePosition());
    };

    loop.addListener (this);
    playhead.setAutoScroll (SettingsManager::getInstance().getAutoScroll());
    SettingsManager::getInstance().addListener (this);

    AudioOutputSetup::openOutput (deviceManager, numOutputChannels);
    deviceManager.addAudioCallback (&player);

    // The working folders must exist before the first file is opened into them.
    if (const auto folders = DirectoryManager::createFolders(); folders.failed())
        alerts.displayWarningPopup ("Folder not available", folders.getErrorMessage());

    setWantsKeyboardFocus (true);
    setTitle ("Song");   // the window's keys run the commands while this has the focus
    setSize (1000, 640); // pixels: the first window on a new install
    startTimer (refreshIntervalMs);
}

MainContentComponent::~MainContentComponent()
{
    stopTimer();
    openGLWarmUp.stop(); // before the spectral editor's context goes: one context at a time
    opening.reset();
    chooser.reset();
    transport.stop();
    deviceManager.removeAudioCallback (&player);
    player.setSource (nullptr);
    deviceManager.closeAudioDevice(); // finishes the null device's capture file
    loop.removeListener (this);
    playhead.setScrollTarget (nullptr);
    SettingsManager::getInstance().removeListener (this);
    releaseRetiredTracks();
    waitForFileRemover(); // no working folder is left behind
    instance = nullptr;
}

MainContentComponent* MainContentComponent::getInstance() noexcept
{
    return instance;
}

//==============================================================================
bool MainContentComponent::loadAudioFile (const juce::File& file)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (opening != nullptr || exports.isExporting())
    {
        alerts.displayWarningPopup ("Please wait",
                                    opening != nullptr ? "Another file is still being opened." : "An export is still running.");
        return false;
    }
    if (file.isDirectory())
    {
        alerts.displayWarningPopup (cannotOpenTitle, "\"" + file.getFileName() + "\" is a folder, not an audio file.");
        return false;
    }
    if (! file.existsAsFile())
    {
        alerts.showPopupErrorMessage (AlertManager::ErrorType::FileNotFound);
        return false;
    }

    // A song opens as a new project: unsaved work is saved or let go first.
    projects.keepWorkThen ([safeThis = juce::Component::SafePointer<MainContentComponent> (this), file] {
        if (safeThis == nullptr || safeThis->opening != nullptr)
            return;
        safeThis->stopButtonClicked();
        if (file.hasFileExtension (".mp3") && SettingsManager::getInstance().getLowQualityWarning())
            safeThis->askLowQualityQuestion (file);
        else
            safeThis->startOpening (file);
    });
    return true;
}

void MainContentComponent::askLowQualityQuestion (const juce::File& file)
{
    JUCE_ASSERT_MESSAGE_THREAD
    enum Answer
    {
        cancelAnswer = 0, // also what a window closed from outside gives
        openAnswer,
        openAndStopAskingAnswer
    };

    juce::ModalComponentManager::getInstance()->cancelAllModalComponents();
    auto* window = new juce::AlertWindow (lowQualityTitle, SettingsIds::lowQualityWarningText,
                                          juce::MessageBoxIconType::WarningIcon);
    window->addButton ("Open", openAnswer, juce::KeyPress (juce::KeyPress::returnKey));
    window->addButton (dontShowAgainText, openAndStopAskingAnswer);
    window->addButton ("Cancel", cancelAnswer, juce::KeyPress (juce::KeyPress::escapeKey));

    juce::Component::SafePointer<MainContentComponent> safeThis (this);
    window->enterModalState (true, juce::ModalCallbackFunction::create ([safeThis, file] (int answer) {
                                 if (answer == openAndStopAskingAnswer)
                                     SettingsManager::getInstance().setLowQualityWarning (false);
                                 if (safeThis != nullptr && answer != cancelAnswer && safeThis->opening == nullptr)
                                     safeThis->startOpening (file);
                             }),
                             true);
}

void MainContentComponent::startOpening (const juce::File& file)
{
    JUCE_ASSERT_MESSAGE_THREAD
    jassert (opening == nullptr);

    // Each file gets a folder of its own, so that the track playing now keeps its files
    // until the new one has replaced it.
    const auto name = juce::File::createLegalFileName (file.getFileNameWithoutExtension());
    const auto folder = DirectoryManager::getTempDir().getNonexistentChildFile (name.isNotEmpty() ? name : "track", {}, false);

    opening = std::make_unique<OpenAudioFileThread> (file, folder);
    opening->onFinished = [this] (OpenAudioFileThread& job) { openingFinished (job); };
    opening->launchThread();
}

void MainContentComponent::openFileChooser()
{
    JUCE_ASSERT_MESSAGE_THREAD
    // FLAC and Ogg Vorbis open as well as the rest, so the chooser offers them too.
    askForFile (
        { FileRequest::Kind::openFile, "Select a Wave file to play...", "*.wav;*.aif;*.aiff;*.flac;*.ogg;*.mp3;*.m4a", {} },
        [safeThis = juce::Component::SafePointer<MainContentComponent> (this)] (const juce::File& file) {
            if (safeThis != nullptr && file != juce::File())
                safeThis->loadAudioFile (file);
        });
}

void MainContentComponent::askForFile (const FileRequest& request, FileRequest::Answer answer)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (fileRequestHandler)
    {
        fileRequestHandler (request, std::move (answer));
        return;
    }

    using Browser = juce::FileBrowserComponent;
    int flags = 0;
    switch (request.kind)
    {
        case FileRequest::Kind::openFile:
            flags = Browser::openMode | Browser::canSelectFiles;
            break;
        case FileRequest::Kind::saveFile:
            flags = Browser::saveMode | Browser::canSelectFiles | Browser::warnAboutOverwriting;
            break;
        case FileRequest::Kind::chooseFolder:
            flags = Browser::openMode | Browser::canSelectDirectories;
            break;
    }
    chooser = std::make_unique<juce::FileChooser> (request.title, request.startingFile, request.patterns);
    chooser->launchAsync (flags, [answer = std::move (answer)] (const juce::FileChooser& fc) { answer (fc.getResult()); });
}

void MainContentComponent::openingFinished (OpenAudioFileThread& job)
{
    jassert (opening.get() == &job);
    // This runs inside the job's own callback: it is deleted once that has returned.
    auto* finished = opening.release();
    juce::MessageManager::callAsync ([finished] { delete finished; });

    if (auto track = job.getTrack(); track != nullptr)
    {
        setMasterTrack (track);
        projects.startNewProject();
        return;
    }

    job.getDataFolder().deleteRecursively();
    if (! job.wasCancelled())
        alerts.displayWarningPopup (cannotOpenTitle, "\"" + job.getSourceFile().getFileName()
                                                         + "\" could not be opened: " + job.getResult().getErrorMessage());
}

void MainContentComponent::installProject (const LoadedProject& project)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (project.tracks.isEmpty())
        return;
    // The open tracks go (their files once nothing holds them), the project's come in.
    for (auto* t : mixer.getAllTracks())
        if (t != mixer.getMasterTrack().get() && ! project.tracks.contains (t))
            retiredTracks.add (t);
    setMasterTrack (project.tracks[0]);
    ProjectLoader::addToMixer (mixer, project);
    const auto& h = project.header;
    if (const auto frames = mixer.getNumFrames(); frames > 0 && h.loopEnd > h.loopStart)
    {
        loop.setLoopArea ({ juce::jlimit (0.0f, 1.0f, (float) h.loopStart / (float) frames),
                            juce::jlimit (0.0f, 1.0f, (float) h.loopEnd / (float) frames) });
        loop.setLoopEnabled (h.loopEnabled);
        loopHasChanged (&loop);
    }
    trackList.refresh();
    resized();
}

void MainContentComponent::setMasterTrack (AudioTrack::Ptr track)
{
    JUCE_ASSERT_MESSAGE_THREAD
    transport.stop();
    wasPlaying = false;
    returnPosition = 0;
    // Detach the transport from the audio thread while it is set up again.
    player.setSource (nullptr);

    if (auto old = mixer.getMasterTrack(); old != nullptr && old != track)
        retiredTracks.add (old);

    // A newly opened track is shown in the view the "defaultEditor" setting names.
    if (track != nullptr)
    {
        // Opened playable from its audio: the analysis runs behind, shown on its row.
        track->setEditorToDefault();
        track->startStoreGeneration();
    }
    mixer.setMasterTrack (track);
    transport.setParameters();
    playhead.setTotalLength (mixer.getNumFrames());
    playhead.setPosition (0);

    loop.setLoopArea ({ 0.0f, 1.0f });
    loopHasChanged (&loop); // the same area covers a new number of frames

    player.setSource (&resampled);

    overview.setAudioFile (track != nullptr ? track->getAudioFile() : juce::File());
    trackList.refresh();
    resized(); // the track list's height follows its rows
    updateTransportCommands();
    timerCallback();

    if (onMasterTrackChanged)
        onMasterTrackChanged();
}

void MainContentComponent::updateTransportCommands()
{
    const auto enabled = hasMasterTrack();
    for (auto command : transportCommands)
        CommandIDs::getInstance().enableCommand (command, enabled);
    for (auto command : exportCommands)
        CommandIDs::getInstance().enableCommand (command, exports.canExport());
    for (auto command :
         { Command::importMelodyGuide, Command::exportMelodyGuide, Command::resetMelodyEdits, Command::save, Command::saveAs })
        CommandIDs::getInstance().enableCommand (command, enabled);
    CommandIDs::getInstance().enableCommand (Command::openProject, true);
    transportBar.setControlsEnabled (enabled);
    commands.commandStatusChanged();
}

//==============================================================================
void MainContentComponent::playButtonClicked()
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (! hasMasterTrack())
        return;
    if (transport.isPlaying())
    {
        transport.stop();
        playbackStopped();
    }
    else
    {
        returnPosition = transport.getPosition();
        transport.start();
        wasPlaying = true;
    }
    transportBar.setPlaying (transport.isPlaying());
}

void MainContentComponent::playbackStopped()
{
    JUCE_ASSERT_MESSAGE_THREAD
    wasPlaying = false;
    if (SettingsManager::getInstance().getPlaybackMode() == SettingsIds::autoReturnPlayback)
        transport.setPosition (returnPosition);
    playhead.setPosition (transport.getPosition());
    timerCallback();
}

void MainContentComponent::stopButtonClicked()
{
    JUCE_ASSERT_MESSAGE_THREAD
    transport.stop();
    wasPlaying = false;
    transport.setPosition (0);
    returnPosition = 0;
    playhead.setPosition (0);
    transportBar.setPlaying (false);
    timerCallback();
}

void MainContentComponent::playFromStart()
{
    stopButtonClicked();
    playButtonClicked();
}

void MainContentComponent::movePlayheadAbsolute (double seconds)
{
    JUCE_ASSERT_MESSAGE_THREAD
    const auto hop = mixer.getFrameLength();
    const auto rate = mixer.getSampleRate();
    if (hop <= 0 || rate <= 0)
        return;
    const auto frame = (int) std::floor (juce::jmax (0.0, seconds) * rate / hop);
    transport.setPosition (frame);
    if (transport.isPlaying())
        returnPosition = transport.getPosition(); // the user chose a new place to return to
    playhead.setPosition (transport.getPosition());
    timerCallback();
}

void MainContentComponent::movePlayheadRelative (double seconds)
{
    movePlayheadAbsolute (getPositionSeconds() + seconds);
}

void MainContentComponent::toggleLoop()
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (hasMasterTrack())
        loop.toggleLoop();
}

void MainContentComponent::loopHasChanged (Loop*)
{
    const auto frames = loop.getFrameRange (mixer.getNumFrames());
    transport.setLoop ({ (int) frames.getStart(), (int) frames.getEnd() }, loop.isLoopEnabled());
    overview.setLoop (loop.getLoopArea(), loop.isLoopEnabled());
    transportBar.setLoopEnabled (loop.isLoopEnabled());
}

bool MainContentComponent::hasMasterTrack() const
{
    return mixer.getMasterTrack() != nullptr;
}

juce::String MainContentComponent::getMasterTrackName() const
{
    const auto master = mixer.getMasterTrack();
    return master != nullptr ? master->getName() : juce::String();
}

double MainContentComponent::getPositionSeconds() const
{
    const auto rate = mixer.getSampleRate();
    return rate > 0 ? (double) transport.getPosition() * mixer.getFrameLength() / rate : 0.0;
}

double MainContentComponent::getLengthSeconds() const
{
    const auto master = mixer.getMasterTrack();
    return master != nullptr ? master->getLengthInSeconds() : 0.0;
}

//==============================================================================
void MainContentComponent::timerCallback()
{
    // Playback that ended on its own (the end of the song) stops as a pause does.
    if (wasPlaying && ! transport.isPlaying())
    {
        playbackStopped();
        return; // playbackStopped() called this again
    }

    transportBar.setPlaying (transport.isPlaying());
    playhead.setPosition (transport.getPosition());
    overview.setPlayheadPosition (hasMasterTrack() ? playhead.getNormalisedPosition() : 0.0);
    transportBar.setTimes (juce::jmin (getPositionSeconds(), getLengthSeconds()), getLengthSeconds());
    steerCache();
    followEditorTrack();
    releaseRetiredTracks();
    // Bouncing waits for the song's analysis, which runs after it opened.
    if (const auto master = mixer.getMasterTrack(); (master != nullptr && master->isStoreReady()) != masterWasReady)
    {
        masterWasReady = ! masterWasReady;
        updateTransportCommands();
    }
}

bool MainContentComponent::selectEditorTool (int position)
{
    return editorArea.isVisible() && toolPanel.setActiveTool (position);
}

bool MainContentComponent::switchToNextAlternate()
{
    return editorArea.isVisible() && toolPanel.switchActiveToolToNextAlternate();
}

void MainContentComponent::followEditorTrack()
{
    auto track = mixer.getActiveTrack();
    if (track == nullptr)
        track = mixer.getMasterTrack();
    // A track that moves to the other editor keeps what it showed: its view is saved
    // now, under the key both editors restore it from.
    const auto editor = track != nullptr ? track->getEditor() : Editor::Type::none;
    if (track != nullptr && track == lastShownTrack && editor != lastShownEditor && lastShownEditor != Editor::Type::none)
        focusArea->saveCurrentState (track->getAudioFile().getFullPathName());
    lastShownTrack = track.get();
    lastShownEditor = editor;
    // The waveform strip shows the track the editors show.
    if (const auto file = track != nullptr ? track->getAudioFile() : juce::File(); file != overview.getAudioFile())
        overview.setAudioFile (file);
    const bool showMelody = track != nullptr && track->getEditor() == Editor::Type::melody && track->isPlayable();
    pitchEditor.setTrack (showMelody ? track : nullptr);
    if (showMelody != pitchEditor.isVisible())
    {
        pitchEditor.setVisible (showMelody);
        resized();
    }
    if (showMelody && track->getnFrames() > 1)
    {
        const auto& g = track->getGeometry();
        const auto frame = g.getFrameCentredAt ((double) transport.getPosition() * g.getHop());
        pitchEditor.setPlayhead ((double) frame / (track->getnFrames() - 1));
    }
    // The editor shows a store while it is analysed (its frames fill in); its edits wait
    // for the end.
    auto* store = track != nullptr ? track->getAsig() : nullptr;
    const bool show = track != nullptr && track->getEditor() == Editor::Type::spectral && store != nullptr && store->isReady();
    const bool editable = show && track->isStoreReady();
    spectrogramView.setTrack (show ? track : nullptr);
    editHistory.setTrack (editable ? track : nullptr);
    paramsBar.setTrack (editable ? track : nullptr);
    if (show)
    {
        // The image's top row is the highest bin: nFreqs bins of rate / nfft each.
        const auto& g = track->getGeometry();
        const auto rate = (double) juce::jmax (1, track->getSampleRate());
        editorArea.setAxes ((double) track->getNumSamples() / rate, g.getNumFreqs() * rate / juce::jmax (1, g.nfft));
    }
    if (show != editorArea.isVisible())
    {
        if (show)
            openGLWarmUp.stop(); // one OpenGL context at a time
        for (juce::Component* c : std::initializer_list<juce::Component*> { &editorArea, &editHistory, &toolPanel, &paramsBar })
            c->setVisible (show);
        auto& commands = CommandIDs::getInstance();
        for (int position = 0; position < EditorToolsComponent::numPositions; ++position)
            commands.enableCommand (static_cast<Command> (static_cast<int> (Command::firstEditorTool) + position),
                                    show && ! EditorToolsComponent::getAlternates (position).empty());
        commands.enableCommand (Command::nextAlternate, show);
        resized();
    }
    overview.setFocusRange (show || showMelody ? std::optional (focusArea->getVisibleX()) : std::nullopt);
    // Block b is heard around the centre of frame b + 1: the image column there.
    if (show && spectrogramView.getSpectrogram().getImageWidth() > 0)
    {
        const auto& g = track->getGeometry();
        const auto frame = g.getFrameCentredAt ((double) transport.getPosition() * g.getHop());
        spectrogramView.setPlayhead ((double) frame / spectrogramView.getSpectrogram().getImageWidth());
    }
}

void MainContentComponent::steerCache()
{
    auto track = mixer.getActiveTrack();
    if (track == nullptr)
        track = mixer.getMasterTrack();
    if (track == nullptr || track->getAsig() == nullptr)
        return;
    const auto frame = transport.getPosition();
    track->getAsig()->setRequestedRange ({ frame, frame + cachedFramesAhead });
    // A song still being analysed is analysed from where it is played or was sought to.
    if (auto master = mixer.getMasterTrack(); master != nullptr && ! master->isStoreReady())
        master->setAnalysisFocus (frame);
}

void MainContentComponent::releaseRetiredTracks()
{
    for (int i = retiredTracks.size(); --i >= 0;)
    {
        auto track = retiredTracks.getUnchecked (i);
        if (track->getReferenceCount() > 2)
            continue; // a job or a view holds it besides this list and this loop

        // Unlinking a song's hundreds of megabytes of frames takes tens of milliseconds:
        // the names are taken here, the files go on the remover's thread.
        juce::Array<juce::File> files;
        if (auto* asig = track->getAsig())
            for (const auto& file : asig->getDataFiles())
                files.add (file);
        files.add (track->getAudioFile());
        const auto folder = track->getAudioFile().getParentDirectory();
        const auto removeFolder = folder.isAChildOf (DirectoryManager::getTempDir());
        retiredTracks.remove (i);
        fileRemover.addJob ([files, folder, removeFolder] {
            for (const auto& file : files)
                file.deleteFile();
            if (removeFolder)
                folder.deleteRecursively();
        });
    }
}

void MainContentComponent::waitForFileRemover()
{
    constexpr int pollMs = 5, timeoutMs = 10000; // a removal takes tens of milliseconds
    for (int waited = 0; fileRemover.getNumJobs() > 0 && waited < timeoutMs; waited += pollMs)
        juce::Thread::sleep (pollMs);
}

void MainContentComponent::settingChanged (const juce::Identifier& group, const juce::Identifier& key)
{
    if ((group == SettingsIds::transport && (key == SettingsIds::autoScroll || key.isNull())) || group.isNull())
        playhead.setAutoScroll (SettingsManager::getInstance().getAutoScroll());
}

//==============================================================================
bool MainContentComponent::hasUnsavedChanges() const
{
    return projectSaver != nullptr && projectSaver->hasUnsavedChanges();
}

juce::Result MainContentComponent::saveCurrentProject()
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (projectSaver == nullptr)
        return juce::Result::fail ("Projects cannot be saved in this version of Kalder Pro.");
    return projectSaver->saveCurrentProject();
}

//==============================================================================
bool MainContentComponent::isInterestedInFileDrag (const juce::StringArray&)
{
    // Every drop is answered: what cannot be opened gets an alert saying why.
    return true;
}

void MainContentComponent::fileDragEnter (const juce::StringArray&, int, int)
{
    overview.setDropHighlight (true);
}

void MainContentComponent::fileDragExit (const juce::StringArray&)
{
    overview.setDropHighlight (false);
}

void MainContentComponent::filesDropped (const juce::StringArray& files, int, int)
{
    overview.setDropHighlight (false);
    if (files.size() != 1)
    {
        alerts.displayWarningPopup (cannotOpenTitle, "Please drop one audio file at a time.");
        return;
    }
    loadAudioFile (juce::File (files[0]));
}

//==============================================================================
void MainContentComponent::showTutorial()
{
    quickHelp.showPages (HelpPages::getTutorial(), 0, true, ! SettingsManager::getInstance().getTutorialSkip());
    resized();
}

void MainContentComponent::toggleHelp()
{
    if (quickHelp.isVisible())
    {
        quickHelp.setVisible (false);
        return;
    }
    showTutorial();
}

void MainContentComponent::showSpectrogramHelp()
{
    quickHelp.showPages ({ HelpPages::getSpectrogramHelp() }, 0, false, false);
    resized();
}

//==============================================================================
void MainContentComponent::mergeTracks (juce::ReferenceCountedArray<AudioTrack> tracks)
{
    // Into the first: the others' names follow its own.
    if (tracks.size() < 2 || tracks.contains (nullptr))
        return;
    if (const auto r = TrackMerger::checkTracks (tracks); r.failed())
    {
        alerts.displayWarningPopup ("Operation not permitted", r.getErrorMessage());
        return;
    }
    juce::StringArray names;
    for (auto* t : tracks)
        names.add (t->getName());
    const auto name = AudioTrack::cleanName (names.joinIntoString (" + "));
    const auto target = tracks.getFirst();
    const auto folder = target->getAudioFile().getParentDirectory().getParentDirectory().getNonexistentChildFile ("merged", {},
                                                                                                                  false);
    TrackMerger::startMerge ( // the merge rules refuse with their own alerts
        mixer, tracks, name, folder, &alerts,
        [safe = juce::Component::SafePointer<MainContentComponent> (this), folder] (AudioTrack::Ptr merged, juce::Result result) {
            if (safe == nullptr)
                return;
            if (merged == nullptr)
            {
                folder.deleteRecursively();
                safe->alerts.displayWarningPopup ("Merge failed", result.getErrorMessage());
                return;
            }
            safe->mixer.setActiveTrack (merged);
        });
}

//==============================================================================
void MainContentComponent::resized()
{
    auto area = getLocalBounds();
    transportBar.setBounds (area.removeFromTop (transportBarHeight));
    const auto rows = juce::jlimit (1, maxTrackListRows, trackList.getNumRows());
    trackList.setBounds (area.removeFromBottom (rows * trackRowHeight));
    // The help card in the corner above the track list, over whatever is there.
    constexpr int helpMargin = 8; // pixels
    const auto helpWidth = juce::jmin (QuickHelpComponent::preferredWidth, area.getWidth() - helpMargin);
    const auto helpHeight = juce::jmin (QuickHelpComponent::preferredHeight, area.getHeight() - helpMargin);
    quickHelp.setBounds (area.getRight() - helpWidth - helpMargin, area.getBottom() - helpHeight - helpMargin, helpWidth,
                         helpHeight);
    if (editorArea.isVisible())
        overview.setBounds (area.removeFromTop (juce::jmin (overviewStripHeight, area.getHeight() / 3)));
    const auto editing = editorArea.isVisible() || pitchEditor.isVisible();
    if (pitchEditor.isVisible())
        overview.setBounds (area.removeFromTop (juce::jmin (overviewStripHeight, area.getHeight() / 3)));
    overview.setBounds (editing ? overview.getBounds() : area);
    if (pitchEditor.isVisible())
    {
        pitchEditor.setBounds (area);
        return;
    }
    if (toolPanel.isVisible())
        toolPanel.setBounds (area.removeFromLeft (toolPanelWidth));
    if (paramsBar.isVisible())
        paramsBar.setBounds (
            area.removeFromTop (juce::jmin (area.getHeight() / 3, paramsBar.getPreferredHeight (area.getWidth()))));
    if (editHistory.isVisible())
        editHistory.setBounds (area.removeFromRight (juce::jmin (editHistoryWidth, area.getWidth() / 4)));
    editorArea.setBounds (area);
}

void MainContentComponent::paint (juce::Graphics& g)
{
    g.fillAll (KalderLookAndFeel::Palette::background);
    if (! firstPaintReported)
    {
        firstPaintReported = true;
        // After this paint has reached the window: the children paint after the parent.
        juce::Component::SafePointer<MainContentComponent> safeThis (this);
        juce::MessageManager::callAsync ([safeThis] {
            if (safeThis != nullptr)
                safeThis->reportFirstPaint();
        });
    }
}

void MainContentComponent::reportFirstPaint()
{
    const auto path = juce::SystemStats::getEnvironmentVariable (firstPaintFileVariable, {});
    if (path.isNotEmpty() && juce::File::isAbsolutePath (path))
        juce::File (path).create();
}

} // namespace kalder
