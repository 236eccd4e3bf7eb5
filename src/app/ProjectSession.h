#pragma once

#include "FileRequest.h"
#include "ProjectSaver.h"

#include "appcore/AlertManager.h"
#include "project/ProjectWriter.h"
#include "tracks/Mixer.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>
#include <map>

namespace kalder
{

/**
    The open project as the commands see it: "Save", "Save As..." and "Open project".

    Saving writes the mixer's tracks and settings through ProjectWriter (the old project
    stays whole until the new one is), remembers under which names each track's files
    went, so that the next save of unchanged tracks writes only the project file, and
    makes the file the current project file. Opening reads a project on a thread of its
    own behind the "Opening saved project" window, then replaces the tracks of the
    window with the project's (the window keeps working meanwhile). A project that
    cannot be read is reported, and the open project stays as it was.

    Saving runs on a thread of its own behind the "Saving project" window (modal, so
    that no edit lands in the middle; it can be cancelled, which keeps the old project).

    Autosave: while there are unsaved changes the project is written to
    DirectoryManager::getAutosaveFile() on a thread of its own (the message thread only
    takes the list of tracks and their settings), by the same writer as a save:
    settleAfterEditMs after the last edit (a step of a track's history, a pitch line, a
    track added or removed), and at least every autosaveIntervalMs for other changes
    (mixer settings). A failed autosave (a track edited while copied, a full disk) keeps
    the one before and is tried again after the interval. A normal quit removes it (discardAutosave()), so finding it at start-up means
    the last run did not end normally. A project opened from the autosave has no
    project file: saving it asks where, and never writes over the autosave.

    hasUnsavedChanges() compares what the tracks and the mixer hold now (their sound,
    settings, melody, the track list) with what they held at the last save or open.

    Ownership: owned by the main component. Threading: message thread.
*/
class ProjectSession : public ProjectSaver, private juce::Timer
{
public:
    static constexpr const char* openingTitle = "Opening saved project";
    static constexpr const char* savingTitle = "Saving project";
    static constexpr const char* saveAsTitle = "Save project as...";
    static constexpr const char* openTitle = "Open project...";
    static constexpr const char* patterns = "*.orv";

    /** install: puts an opened project's tracks in the window (the master first). */
    ProjectSession (Mixer& mixer, AlertManager& alerts, FileRequest::Handler askForFile,
                    std::function<void (const LoadedProject&)> install);
    ~ProjectSession() override;

    bool hasUnsavedChanges() const override;
    juce::Result saveCurrentProject() override;

    /** Saves to file and makes it the current project file; a failure is also shown. */
    juce::Result saveTo (const juce::File& file);
    void saveAs();
    /** Asks for a project and opens it, after "Save changes?" when there are unsaved
        changes (as openRecent()). */
    void openChooser();
    /** Opens a project of the recent list. */
    void openRecent (const juce::File& file);
    /** Runs then at once, or, when there are unsaved changes, after asking "Save
        changes?": after the save (not when it failed) or a "no"; never when the
        question is closed. For whatever replaces the open project. */
    void keepWorkThen (std::function<void()> then);
    /** Opens a project in the background; onOpened is told the outcome (tests). A
        recovered autosave opens as a project without a file. */
    void open (const juce::File& file, bool isRecoveredAutosave = false);

    static constexpr int autosaveIntervalMs = 30000, settleAfterEditMs = 2000, pollIntervalMs = 500;
    /** Writes the autosave now if there is something to keep; onAutosaved is told the
        outcome once it is written (on the message thread). */
    void autosaveNow();
    std::function<void (const juce::Result&)> onAutosaved;
    bool isAutosaving() const noexcept { return autosaving.load(); }
    /** Writes the autosave at once, on this thread, if there is something to keep (a
        quit that cannot ask: a signal). */
    juce::Result autosaveAndWait();
    /** Waits for a running autosave and removes the autosave project (a normal quit). */
    void discardAutosave();
    std::function<void (const juce::Result&)> onOpened;

    juce::File getProjectFile() const { return projectFile; }

    /** A new project from an audio file: no project file yet, and nothing to save until
        something changes (the audio is on disk already). */
    void startNewProject();
    bool isOpening() const noexcept { return loading != nullptr; }

private:
    class JobWindow;
    /** A project being opened: the file, the load's working folder and what it read. */
    struct Opening
    {
        juce::File file, workFolder;
        LoadedProject project;
    };
    enum class Scope
    {
        everything, // all a save keeps
        edits       // the tracks, their histories and melodies only
    };
    void timerCallback() override;
    void chooseAndOpen();
    juce::uint64 fingerprint (Scope scope = Scope::everything) const;
    /** The mixer's project, with the names its tracks have in the autosave's folder. */
    ProjectWriter::Content autosaveContent() const;
    void loaded (JobWindow& window);

    Mixer& mixer;
    AlertManager& alerts;
    FileRequest::Handler askForFile;
    std::function<void (const LoadedProject&)> install;
    juce::File projectFile;
    std::map<const AudioTrack*, juce::String> storedNames; // where each track's files are in "trackdata"
    juce::uint64 savedFingerprint = 0;
    std::unique_ptr<JobWindow> loading;
    std::shared_ptr<Opening> opening;
    bool openingAutosave = false, saving = false;

    juce::ThreadPool autosaver { 1 };
    std::atomic<bool> autosaving { false };
    std::vector<std::pair<const AudioTrack*, juce::String>> autosaveNames; // message thread
    juce::uint64 autosavedFingerprint = 0, lastEdits = 0;
    juce::uint32 lastEditMs = 0, lastAutosaveMs = 0;
    bool editPending = false;

    JUCE_DECLARE_WEAK_REFERENCEABLE (ProjectSession)
    JUCE_DECLARE_NON_COPYABLE (ProjectSession)
};

} // namespace kalder
