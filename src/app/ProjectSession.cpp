#include "ProjectSession.h"

#include "appcore/DirectoryManager.h"
#include "editing/ManualEditManager.h"

namespace kalder
{

/** Reads a project on its own thread behind the "Opening saved project" window. */
class ProjectSession::LoadingWindow : public juce::ThreadWithProgressWindow, private Progress::Listener
{
public:
    LoadingWindow (const juce::File& f, const juce::File& work)
        : juce::ThreadWithProgressWindow (openingTitle, true, true), file (f), workFolder (work)
    {
        progress->addListener (this);
    }
    ~LoadingWindow() override { progress->removeListener (this); }

    void run() override { result = ProjectLoader::open (file, workFolder, project, progress); }
    void threadComplete (bool userPressedCancel) override
    {
        cancelled = userPressedCancel;
        if (onComplete)
            onComplete (*this);
    }

    std::function<void (LoadingWindow&)> onComplete;
    const juce::File file, workFolder;
    LoadedProject project;
    juce::Result result { juce::Result::ok() };
    bool cancelled = false;

private:
    void progressChanged (float value, Progress::Ptr) override
    {
        setProgress (value);
        if (threadShouldExit())
            progress->cancel();
    }

    Progress::Ptr progress { new Progress() };
};

ProjectSession::ProjectSession (Mixer& m, AlertManager& a, FileRequest::Handler ask, std::function<void (const LoadedProject&)> i)
    : mixer (m), alerts (a), askForFile (std::move (ask)), install (std::move (i))
{
    savedFingerprint = fingerprint();
    startTimer (autosaveIntervalMs);
}

ProjectSession::~ProjectSession()
{
    stopTimer();
    autosaver.removeAllJobs (false, 60000);
    if (loading != nullptr)
        loading->stopThread (10000);
}

void ProjectSession::timerCallback()
{
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
    if (autosaving.load() || loading != nullptr || ! hasUnsavedChanges() || fingerprint() == autosavedFingerprint)
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
            if (self->onAutosaved)
                self->onAutosaved (result);
        });
    });
    autosavedFingerprint = taken; // a failure is tried again once something changes
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

juce::uint64 ProjectSession::fingerprint() const
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
        for (const auto* id : { &TrackIds::name, &TrackIds::volume, &TrackIds::panL, &TrackIds::panR, &TrackIds::solo,
                                &TrackIds::mute, &TrackIds::colour, &TrackIds::editor })
            mix ((juce::uint64) t->getTree()[*id].toString().hashCode64());
        if (t->isStoreReady())
        {
            auto& history = t->getManualEditManager().getUndoManager();
            mix ((juce::uint64) history.getNumUndos());
            mix ((juce::uint64) reinterpret_cast<std::uintptr_t> (history.getCurrentSet()));
            if (auto* asig = t->getAsig())
            {
                mix (asig->isFlipped() ? 1u : 2u);
                mix ((juce::uint64) (asig->getSelectionVolume() * 1.0e6f));
            }
        }
        mix (t->getPgram().getChangeCount());
    }
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
        file = DirectoryManager::getSavedProjectsDir().getChildFile (name).getChildFile (name + ".orv");
    }
    return saveTo (file);
}

juce::Result ProjectSession::saveTo (const juce::File& file)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (mixer.getMasterTrack() == nullptr)
        return juce::Result::fail ("There is no project to save: open an audio file first.");
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
    const auto r = ProjectWriter::save (file, content);
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

void ProjectSession::openChooser()
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
    const auto work = DirectoryManager::getTempDir().getChildFile ("project-" + juce::Uuid().toString());
    loading = std::make_unique<LoadingWindow> (file, work);
    loading->onComplete = [this] (LoadingWindow& w) { loaded (w); };
    loading->launchThread();
}

void ProjectSession::loaded (LoadingWindow& window)
{
    // The window's own callback: it goes once that has returned.
    auto* finished = loading.release();
    juce::MessageManager::callAsync ([finished] { delete finished; });
    auto result = window.cancelled ? juce::Result::fail ("Cancelled") : window.result;
    if (result.wasOk())
    {
        install (window.project);
        storedNames.clear();
        for (int i = 0; i < window.project.tracks.size(); ++i)
            storedNames[window.project.tracks[i].get()] = window.project.records[(size_t) i].dataName;
        if (openingAutosave)
        {
            // Recovered work is unsaved work: it has no file of its own yet.
            projectFile = juce::File();
            storedNames.clear();
            savedFingerprint = 0;
        }
        else
        {
            projectFile = window.file;
            DirectoryManager::setProjectFile (window.file);
            savedFingerprint = fingerprint();
        }
        if (! window.project.warnings.isEmpty())
            alerts.displayWarningPopup ("Project opened with changes", window.project.warnings.joinIntoString ("\n"));
    }
    else
    {
        window.workFolder.deleteRecursively();
        if (! window.cancelled)
            alerts.displayWarningPopup ("Cannot open project", result.getErrorMessage());
    }
    if (onOpened)
        onOpened (result);
}

} // namespace kalder
