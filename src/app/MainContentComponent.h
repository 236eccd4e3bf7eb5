#pragma once

#include "ExportCommands.h"
#include "FileRequest.h"
#include "MelodyGuideImporter.h"
#include "OpenAudioFileThread.h"
#include "ProjectSaver.h"
#include "ProjectSession.h"
#include "appcore/AlertManager.h"
#include "appcore/SettingsManager.h"

#include "tracks/Loop.h"
#include "tracks/Mixer.h"
#include "tracks/Playhead.h"
#include "tracks/ResamplingSpecTransportSource.h"
#include "ui/CommonEditorParamsMenu.h"
#include "ui/EditHistoryComponent.h"
#include "ui/EditorToolsComponent.h"
#include "ui/PitchEditorComponent.h"
#include "ui/QuickHelpComponent.h"
#include "ui/ScrollableEditorComponent.h"
#include "ui/SpectrogramComponent.h"
#include "ui/TrackListComponent.h"
#include "ui/TransportComponent.h"
#include "ui/WaveformOverviewComponent.h"

#include <juce_audio_devices/juce_audio_devices.h>
#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

/**
    The main window's content: the transport bar, the waveform overview (the editor
    area) and the track list; and behind them the audio output and playback.

    It owns the audio device connection (the system's device, or the null device when
    none opens), the playback transport and its resampler, the Playhead and the Loop.
    Opening a file runs in an OpenAudioFileThread; when it succeeds the track becomes
    the mixer's master, the transport is set up for it, the loop covers the whole
    length and the playhead goes to the start. A file that cannot be opened leaves the
    current project as it was and shows an alert.

    Playback mode (the "playbackMode" setting): with "Auto Return", playback that stops
    (paused by the user, or at the end of the song) puts the playhead back where
    playback started, or where the user last moved it while playing; with
    "Persistent" the playhead stays where playback stopped. "Stop" always returns to
    the start. The "autoScroll" setting is handed to the Playhead, which scrolls the
    view that follows it.

    One instance at a time (getInstance()), owned by the main window.

    Threading: message thread only, except getNextAudioBlock() of the transport, which
    the device's thread calls through the AudioSourcePlayer. The transport's source is
    detached from the player while the master track changes, so the audio thread never
    sees a transport being set up.
*/
class MainContentComponent :
    public juce::Component,
    public juce::FileDragAndDropTarget,
    private juce::Timer,
    private Loop::Listener,
    private SettingsManager::Listener
{
public:
    MainContentComponent (Mixer& mixer, AlertManager& alerts, juce::ApplicationCommandManager& commands);
    ~MainContentComponent() override;

    /** The live instance, or nullptr. */
    static MainContentComponent* getInstance() noexcept;

    //==============================================================================
    /** Opens an audio file as the new master track, off the message thread. Returns
        false (after an alert) when the file is refused at once: missing, a folder, or
        another file still opening. An ".mp3" file, while the "lowQualityWarning"
        setting is on, is opened only after the user has answered the question titled
        lowQualityTitle. */
    bool loadAudioFile (const juce::File& file);

    static constexpr const char* lowQualityTitle = "Low Quality Audio";
    static constexpr const char* dontShowAgainText = "Don't show again";

    /** Asks for a file with a file chooser, then opens it. */
    void openFileChooser();

    /** Asks the user for a file or folder: with a file chooser, or through the handler
        installed with setFileRequestHandler(). */
    void askForFile (const FileRequest& request, FileRequest::Answer answer);

    /** Answers file requests in the user's place (tests); an empty handler brings the
        file choosers back. */
    void setFileRequestHandler (FileRequest::Handler handler) { fileRequestHandler = std::move (handler); }

    /** Bouncing and exporting ("Bounce Mixer Output", "Export Current Track", "Export
        All Tracks"). */
    ExportCommands& getExports() noexcept { return exports; }

    /** The open project: "Save", "Save As...", "Open project". */
    ProjectSession& getProjects() noexcept { return projects; }

    /** Puts an opened project's tracks in the window in place of the open ones. */
    void installProject (const LoadedProject& project);

    /** Merges the tracks into the first of them on the mixer's job pool (the merge rules,
        then the sample rates and whether a track is busy, may refuse it with an alert);
        the merged track takes the first one's place and becomes the active track. */
    void mergeTracks (juce::ReferenceCountedArray<AudioTrack> tracks);

    /** "Merge Selected Tracks": the tracks chosen in the layers panel. */
    void mergeSelectedTracks() { mergeTracks (trackList.getSelectedTracks()); }

    /** The quick help: the start-up tutorial (with its "Show at start-up" choice, kept
        in "tutorialSkip"), "Toggle Help" (the tutorial's pages, or away) and "Show
        Spectrogram Help". */
    void showTutorial();
    void toggleHelp();
    void showSpectrogramHelp();
    QuickHelpComponent& getQuickHelp() noexcept { return quickHelp; }

    /** The melody commands (editors, guides, reset). */
    MelodyGuideImporter& getMelodyCommands() noexcept { return melodyCommands; }

    /** True while a file is being opened. */
    bool isOpeningFile() const noexcept { return opening != nullptr; }

    //==============================================================================
    // Transport operations, as the commands and the buttons run them.
    void playButtonClicked();
    void stopButtonClicked();
    void playFromStart();
    /** Moves the playhead to a time in seconds (clamped to the project). */
    void movePlayheadAbsolute (double seconds);
    void movePlayheadRelative (double seconds);
    void toggleLoop();

    bool hasMasterTrack() const;
    /** The master track's name, empty without one. */
    juce::String getMasterTrackName() const;
    bool isPlaying() const noexcept { return transport.isPlaying(); }
    double getPositionSeconds() const;
    double getLengthSeconds() const;

    //==============================================================================
    // What the panels show, for tests and the window.
    SpecTransportSource& getTransport() noexcept { return transport; }
    TransportComponent& getTransportBar() noexcept { return transportBar; }
    TrackListComponent& getTrackList() noexcept { return trackList; }
    SpectrogramComponent& getSpectrogramView() noexcept { return spectrogramView; }
    const OpenGLWarmUp& getOpenGLWarmUp() const noexcept { return openGLWarmUp; }
    PitchEditorComponent& getPitchEditor() noexcept { return pitchEditor; }
    EditHistoryComponent& getEditHistory() noexcept { return editHistory; }
    ScrollableEditorComponent& getEditorArea() noexcept { return editorArea; }
    EditorToolsComponent& getToolPanel() noexcept { return toolPanel; }
    CommonEditorParamsMenu& getParamsBar() noexcept { return paramsBar; }
    FocusArea& getFocusArea() noexcept { return *focusArea; }

    /** The editor tool commands: the n-th tool (0 = first) and the next alternate. False
        when there is no such tool (yet) or no spectral editor is shown. */
    bool selectEditorTool (int position);
    bool switchToNextAlternate();
    WaveformOverviewComponent& getOverview() noexcept { return overview; }
    Playhead& getPlayhead() noexcept { return playhead; }
    Loop& getLoop() noexcept { return loop; }
    juce::AudioDeviceManager& getDeviceManager() noexcept { return deviceManager; }

    /** Called after the master track changed (the window shows the file's name). */
    std::function<void()> onMasterTrackChanged;

    //==============================================================================
    /** Installs project persistence (not owned; nullptr for none). */
    void setProjectSaver (ProjectSaver* saver) noexcept { projectSaver = saver; }

    /** True when the open project has changes that a save would keep. Without project
        persistence nothing could be kept, so this is false. */
    bool hasUnsavedChanges() const;

    /** Saves the open project; fails, saying why, when it cannot be saved. */
    juce::Result saveCurrentProject();

    /** When the environment variable KALDER_FIRST_PAINT_FILE names a file, the first
        paint of this component creates it (the start-up benchmark waits for it). */
    static constexpr const char* firstPaintFileVariable = "KALDER_FIRST_PAINT_FILE";

    //==============================================================================
    bool isInterestedInFileDrag (const juce::StringArray& files) override;
    void fileDragEnter (const juce::StringArray& files, int x, int y) override;
    void fileDragExit (const juce::StringArray& files) override;
    void filesDropped (const juce::StringArray& files, int x, int y) override;

    void resized() override;
    void paint (juce::Graphics&) override;

private:
    void timerCallback() override;
    void loopHasChanged (Loop*) override;
    void settingChanged (const juce::Identifier& group, const juce::Identifier& key) override;
    void playbackStopped();
    void reportFirstPaint();
    void askLowQualityQuestion (const juce::File& file);
    void startOpening (const juce::File& file);
    void openingFinished (OpenAudioFileThread& job);
    void setMasterTrack (AudioTrack::Ptr track);
    void updateTransportCommands();
    void steerCache();
    /** Shows the active track (or the master) in the spectral editor when that is its view. */
    void followEditorTrack();
    void releaseRetiredTracks();
    void waitForFileRemover();

    Mixer& mixer;
    AlertManager& alerts;
    bool masterWasReady = false; // as the commands were last enabled
    juce::ApplicationCommandManager& commands;

    juce::AudioDeviceManager deviceManager;
    SpecTransportSource transport;
    ResamplingSpecTransportSource resampled;
    juce::AudioSourcePlayer player;

    Playhead playhead;
    Loop loop;

    TransportComponent transportBar;
    WaveformOverviewComponent overview;
    FocusArea::Ptr focusArea { new FocusArea() }; // what the editors show of the image
    SpectrogramComponent spectrogramView;
    OpenGLWarmUp openGLWarmUp;
    ScrollableEditorComponent editorArea { spectrogramView };
    PitchEditorComponent pitchEditor;
    const AudioTrack* lastShownTrack = nullptr; // compared only, never followed
    Editor::Type lastShownEditor = Editor::Type::none;
    EditorToolsComponent toolPanel;
    CommonEditorParamsMenu paramsBar;
    EditHistoryComponent editHistory;
    TrackListComponent trackList;
    QuickHelpComponent quickHelp;

    // Where playback last started (or was moved to while playing), in blocks: where
    // "Auto Return" puts the playhead back. wasPlaying tells the timer that playback
    // stopped on its own.
    int returnPosition = 0;
    bool wasPlaying = false;

    ProjectSaver* projectSaver = nullptr;
    bool firstPaintReported = false;

    // Shows the tooltips of the buttons and of names too long for their row.
    juce::TooltipWindow tooltips { this };

    std::unique_ptr<OpenAudioFileThread> opening;
    std::unique_ptr<juce::FileChooser> chooser;
    FileRequest::Handler fileRequestHandler;
    ExportCommands exports;
    MelodyGuideImporter melodyCommands;
    ProjectSession projects;

    // Tracks replaced as master: their files are deleted once nothing else holds them.
    juce::ReferenceCountedArray<AudioTrack> retiredTracks;
    juce::ThreadPool fileRemover { 1 }; // deletes retired tracks' files off the message thread

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainContentComponent)
};

} // namespace kalder
