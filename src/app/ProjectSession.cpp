#include "ProjectSession.h"

#include "appcore/DirectoryManager.h"
#include "appcore/SettingsManager.h"
#include "editing/ManualEditManager.h"

namespace kalder
{

/** Runs a project job (a load or a save) on its own thread behind a progress window. */
class ProjectSession::JobWindow : public juce::ThreadWithProgressWindow, private Progress::Listener
{
public:
    using Job = std::function<juce::Result (Progress::Ptr)>;
    // A cancel is seen between files: a long copy finishes first (the thread is never killed).
    static constexpr int cancelTimeoutMs = 10 * 60 * 1000;
    JobWindow (const juce::String& title, Job j)
        : juce::ThreadWithProgressWindow (title, true, true, cancelTimeoutMs), job (std::move (j))
    {
        progress->addListener (this);
    }
    ~JobWindow() override { progress->removeListener (this); }

    void run() override { result = job (progress); }

    /** Runs the job behind the window (modal) until it ends, dispatching messages
        meanwhile; false when it was cancelled. Unlike runThread() this returns as soon
        as the job is done, not at the window's next 100 ms poll. */
    bool runToEnd()
    {
        launchThread();
        while (isThreadRunning() && ! completed)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
        return ! cancelled;
    }
    void threadComplete (bool userPressedCancel) override
    {
        cancelled = userPressedCancel;
        completed = true;
        if (onComplete)
            onComplete (*this);
    }

    std::function<void (JobWindow&)> onComplete;
    juce::Result result { juce::Result::ok() };
    bool cancelled = false, completed = false;

private:
    void progressChanged (float value, Progress::Ptr) override
    {
        setProgress (value);
        if (threadShouldExit())
            progress->cancel();
    }

    Job job;
    Progress::Ptr progress { new Progress() };
};

ProjectSession::ProjectSession (Mixer& m, AlertManager& a, FileRequest::Handler ask, std::function<void (const LoadedProject&)> i)
    : mixer (m), alerts (a), askForFile (std::move (ask)), install (std::move (i))
{
    savedFingerprint = fingerprint();
    lastAutosaveMs = juce::Time::getMillisecondCounter();
    startTimer (pollIntervalMs);
}

ProjectSession::~ProjectSession()
{
    stopTimer();
    autosaver.removeAllJobs (false, 60000);
    if (loading != nullptr)
        loading->stopThread (JobWindow::cancelTimeoutMs);
}

void ProjectSession::timerCallback()
{
    // An edit (a step of a track's history, a pitch line, a track added or removed) is
    // kept soon after the user pauses; any other change within the interval.
    const auto now = juce::Time::getMillisecondCounter();
    if (const auto edits = fingerprint (Scope::edits); edits != lastEdits)
    {
        lastEdits = edits;
        lastEditMs = now;
        editPending = true;
    }
    const auto settled = editPending && now - lastEditMs >= (juce::uint32) settleAfterEditMs;
    if (settled || now - lastAutosaveMs >= (juce::uint32) autosaveIntervalMs)
        autosaveNow();
}

ProjectWriter::Content ProjectSession::autosaveContent() const
{
    auto content = ProjectWriter::fromMixer (mixer);
    for (auto* t : content.tracks)
    {
        juce::String name;
        for (const auto& [track, stored] : autosaveNames)
            if (track == t)
                name = stored;
        content.storedNames.push_back (name);
    }
    return content;
}

void ProjectSession::autosaveNow()
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (autosaving.load() || loading != nullptr || saving)
        return; // tried again at the next poll
    editPending = false;
    lastAutosaveMs = juce::Time::getMillisecondCounter();
    if (! hasUnsavedChanges() || fingerprint() == autosavedFingerprint)
        return;
    auto content = autosaveContent();
    const auto taken = fingerprint();
    autosaving = true;
    juce::WeakReference<ProjectSession> self (this);
    autosaver.addJob ([self, content]() mutable {
        const auto file = DirectoryManager::getAutosaveFile();
        auto result = file.getParentDirectory().createDirectory();
        if (result.wasOk())
            result = ProjectWriter::save (file, content);
        juce::MessageManager::callAsync ([self, content, result] {
            if (self == nullptr)
                return;
            self->autosaving = false;
            if (result.wasOk())
            {
                self->autosaveNames.clear();
                for (int i = 0; i < content.tracks.size(); ++i)
                    self->autosaveNames.emplace_back (content.tracks[i].get(), content.storedNames[(size_t) i]);
            }
            else
            {
                // (an edit during the copy, a full disk): the
                // autosave before stays; tried again after the interval
                self->autosavedFingerprint = 0;
            }
            if (self->onAutosaved)
                self->onAutosaved (result);
        });
    });
    autosavedFingerprint = taken;
}

juce::Result ProjectSession::autosaveAndWait()
{
    JUCE_ASSERT_MESSAGE_THREAD
    autosaver.removeAllJobs (false, 60000);
    autosaving = false;
    if (! hasUnsavedChanges())
        return juce::Result::ok();
    auto content = autosaveContent();
    const auto file = DirectoryManager::getAutosaveFile();
    auto result = file.getParentDirectory().createDirectory();
    return result.failed() ? result : ProjectWriter::save (file, content);
}

void ProjectSession::discardAutosave()
{
    autosaver.removeAllJobs (false, 60000);
    autosaving = false;
    DirectoryManager::getAutosaveFile().getParentDirectory().deleteRecursively();
    autosaveNames.clear();
}

juce::uint64 ProjectSession::fingerprint (Scope scope) const
{
    // What a save keeps: the list of tracks and their tree, each track's settings, the
    // step its history stands at (an undo back to the saved step is no change), the
    // store's flip and selection volume, the melody, the mixer's values.
    juce::uint64 h = 1469598103934665603ull;
    const auto mix = [&h] (juce::uint64 v) { h = (h ^ v) * 1099511628211ull; };
    for (auto* t : mixer.getAllTracks())
    {
        mix ((juce::uint64) reinterpret_cast<std::uintptr_t> (t));
        mix ((juce::uint64) reinterpret_cast<std::uintptr_t> (t->getParentTrack()));
        if (scope == Scope::everything)
            for (const auto* id : { &TrackIds::name, &TrackIds::volume, &TrackIds::panL, &TrackIds::panR, &TrackIds::solo,
                                    &TrackIds::mute, &TrackIds::colour, &TrackIds::editor })
                mix ((juce::uint64) t->getTree()[*id].toString().hashCode64());
        // A store still being analysed has no history yet: as an empty one, so that the
        // end of an analysis is no change.
        auto* history = t->isStoreReady() ? &t->getManualEditManager().getUndoManager() : nullptr;
        mix (history != nullptr ? (juce::uint64) history->getNumUndos() : 0u);
        mix (history != nullptr ? (juce::uint64) reinterpret_cast<std::uintptr_t> (history->getCurrentSet()) : 0u);
        if (auto* asig = t->getAsig(); asig != nullptr && scope == Scope::everything)
        {
            mix (asig->isFlipped() ? 1u : 2u);
            mix ((juce::uint64) (asig->getSelectionVolume() * 1.0e6f));
        }
        mix (t->getPgram().getChangeCount());
    }
    if (scope == Scope::edits)
        return h;
    mix ((juce::uint64) (mixer.getMasterGain() * 1.0e6f));
    mix ((juce::uint64) mixer.getLoop().getStart() << 32 | (juce::uint64) mixer.getLoop().getEnd());
    return h;
}

void ProjectSession::startNewProject()
{
    projectFile = juce::File();
    storedNames.clear();
    savedFingerprint = fingerprint();
}

bool ProjectSession::hasUnsavedChanges() const
{
    return mixer.getMasterTrack() != nullptr && fingerprint() != savedFingerprint;
}

juce::Result ProjectSession::saveCurrentProject()
{
    auto file = projectFile;
    if (file == juce::File())
    {
        auto master = mixer.getMasterTrack();
        const auto name = juce::File::createLegalFileName (master != nullptr ? master->getName() : juce::String ("project"));
        // a folder of its own: never one where another project keeps its files
        file = DirectoryManager::getSavedProjectsDir().getNonexistentChildFile (name, "", false).getChildFile (name + ".orv");
    }
    return saveTo (file);
}

juce::Result ProjectSession::saveTo (const juce::File& file)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (mixer.getMasterTrack() == nullptr)
        return juce::Result::fail ("There is no project to save: open an audio file first.");
    if (saving)
        return juce::Result::fail ("The project is being saved already.");
    if (! file.getParentDirectory().isDirectory() && file.getParentDirectory().createDirectory().failed())
    {
        const auto r = juce::Result::fail ("The folder " + file.getParentDirectory().getFullPathName() + " cannot be made.");
        alerts.displayWarningPopup ("Project not saved", r.getErrorMessage());
        return r;
    }
    auto content = ProjectWriter::fromMixer (mixer);
    // Saving to another project's file starts its data afresh.
    const auto sameProject = file == projectFile;
    for (auto* t : content.tracks)
        content.storedNames.push_back (sameProject && storedNames.count (t) > 0 ? storedNames[t] : juce::String());
    // Behind a progress window (modal: no edit lands meanwhile); the window keeps working.
    saving = true;
    JobWindow window (savingTitle,
                      [&file, &content] (Progress::Ptr progress) { return ProjectWriter::save (file, content, progress); });
    const auto finished = window.runToEnd();
    saving = false;
    const auto r = finished ? window.result : juce::Result::fail ("The project was not saved: the save was cancelled.");
    if (r.failed() && ! finished)
        return r;
    if (r.failed())
    {
        alerts.displayWarningPopup ("Project not saved", r.getErrorMessage());
        return r;
    }
    storedNames.clear();
    for (int i = 0; i < content.tracks.size(); ++i)
        storedNames[content.tracks[i].get()] = content.storedNames[(size_t) i];
    projectFile = file;
    DirectoryManager::setProjectFile (file);
    SettingsManager::getInstance().addRecentProject (file);
    savedFingerprint = fingerprint();
    return r;
}

void ProjectSession::saveAs()
{
    FileRequest request;
    request.kind = FileRequest::Kind::saveFile;
    request.title = saveAsTitle;
    request.patterns = patterns;
    const auto master = mixer.getMasterTrack();
    const auto name = juce::File::createLegalFileName (master != nullptr ? master->getName() : juce::String ("project"));
    request.startingFile = projectFile != juce::File() ? projectFile
                                                       : DirectoryManager::getSavedProjectsDir().getChildFile (name + ".orv");
    juce::WeakReference<ProjectSession> self (this);
    askForFile (request, [self] (const juce::File& chosen) {
        if (self != nullptr && chosen != juce::File())
            self->saveTo (chosen.withFileExtension (".orv"));
    });
}

void ProjectSession::keepWorkThen (std::function<void()> then)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (! hasUnsavedChanges())
    {
        then();
        return;
    }
    juce::WeakReference<ProjectSession> self (this);
    alerts.showYesNoBox (AlertManager::YesNoBoxType::SaveChanges, [self, then = std::move (then)] (AlertManager::Answer answer) {
        if (self == nullptr)
            return;
        if (answer == AlertManager::Answer::yes && self->saveCurrentProject().failed())
            return; // the failure is shown; the work stays open
        if (answer == AlertManager::Answer::yes || answer == AlertManager::Answer::no)
            then();
    });
}

void ProjectSession::openRecent (const juce::File& file)
{
    juce::WeakReference<ProjectSession> self (this);
    keepWorkThen ([self, file] {
        if (self != nullptr)
            self->open (file);
    });
}

void ProjectSession::openChooser()
{
    juce::WeakReference<ProjectSession> self (this);
    keepWorkThen ([self] {
        if (self != nullptr)
            self->chooseAndOpen();
    });
}

void ProjectSession::chooseAndOpen()
{
    FileRequest request;
    request.kind = FileRequest::Kind::openFile;
    request.title = openTitle;
    request.patterns = patterns;
    request.startingFile = DirectoryManager::getSavedProjectsDir();
    juce::WeakReference<ProjectSession> self (this);
    askForFile (request, [self] (const juce::File& chosen) {
        if (self != nullptr && chosen != juce::File())
            self->open (chosen);
    });
}

void ProjectSession::open (const juce::File& file, bool isRecoveredAutosave)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (loading != nullptr)
        return;
    openingAutosave = isRecoveredAutosave;
    opening = std::make_shared<Opening>();
    opening->file = file;
    opening->workFolder = DirectoryManager::getTempDir().getChildFile ("project-" + juce::Uuid().toString());
    loading = std::make_unique<JobWindow> (openingTitle, [o = opening] (Progress::Ptr progress) {
        return ProjectLoader::open (o->file, o->workFolder, o->project, progress);
    });
    loading->onComplete = [this] (JobWindow& w) { loaded (w); };
    loading->launchThread();
}

void ProjectSession::loaded (JobWindow& window)
{
    // The window's own callback: it goes once that has returned.
    auto* finished = loading.release();
    juce::MessageManager::callAsync ([finished] { delete finished; });
    const auto o = std::move (opening);
    auto result = window.cancelled ? juce::Result::fail ("Cancelled") : window.result;
    if (result.wasOk())
    {
        install (o->project);
        storedNames.clear();
        for (int i = 0; i < o->project.tracks.size(); ++i)
            storedNames[o->project.tracks[i].get()] = o->project.records[(size_t) i].dataName;
        if (openingAutosave)
        {
            // Recovered work is unsaved work: it has no file of its own yet.
            projectFile = juce::File();
            storedNames.clear();
            savedFingerprint = 0;
        }
        else
        {
            projectFile = o->file;
            DirectoryManager::setProjectFile (o->file);
            SettingsManager::getInstance().addRecentProject (o->file);
            savedFingerprint = fingerprint();
        }
        if (! o->project.warnings.isEmpty())
            alerts.displayWarningPopup ("Project opened with changes", o->project.warnings.joinIntoString ("\n"));
    }
    else
    {
        o->workFolder.deleteRecursively();
        if (! window.cancelled)
            alerts.displayWarningPopup ("Cannot open project", result.getErrorMessage());
    }
    if (onOpened)
        onOpened (result);
}

} // namespace kalder
