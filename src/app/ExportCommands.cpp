#include "ExportCommands.h"
#include "appcore/ApplicationTree.h"
#include "appcore/DirectoryManager.h"

#include "tracks/MixerBounce.h"

namespace kalder
{

namespace
{
    const juce::String bounceFailedTitle { "Bounce failed" };
    const juce::String exportFailedTitle { "Export failed" };

    /** What every written file says made it. */
    juce::StringPairArray getMetadata()
    {
        juce::StringPairArray metadata;
        metadata.set ("MetaDataSource", "Kalder Pro");
        return metadata;
    }

    /** True when exporting the tracks without their edits loses something the user did. */
    bool anyTrackEdited (const Mixer& mixer)
    {
        if (ApplicationTree::getInstance().isTrackBeingEdited())
            return true;
        for (auto* track : mixer.getAllTracks())
        {
            auto* asig = track->getAsig();
            if (track->hasEdits() || track->hasPitchEdits() || (asig != nullptr && asig->hasSelection()))
                return true;
        }
        return false;
    }

    juce::String quoted (const juce::File& file)
    {
        return "\"" + file.getFileName() + "\"";
    }
} // namespace

ExportCommands::ExportCommands (Mixer& m, AlertManager& a, FileRequest::Handler ask, std::function<bool()> busy)
    : mixer (m), alerts (a), askForFile (std::move (ask)), isBusy (std::move (busy))
{}

ExportCommands::~ExportCommands()
{
    running.reset(); // stops the writing; the writer removes its temporary file
}

bool ExportCommands::canExport() const
{
    const auto master = mixer.getMasterTrack();
    return master != nullptr && master->isStoreReady() && master->isPlayable();
}

bool ExportCommands::checkCanStart()
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (running != nullptr || (isBusy && isBusy()))
    {
        alerts.displayWarningPopup ("Please wait",
                                    running != nullptr ? "An export is still running." : "A file is still being opened.");
        return false;
    }
    if (! canExport())
    {
        alerts.showPopupErrorMessage (AlertManager::ErrorType::NoFileLoaded);
        return false;
    }
    return true;
}

juce::File ExportCommands::getStartingFolder() const
{
    return lastFolder.isDirectory() ? lastFolder : DirectoryManager::getUserDocumentsDir();
}

void ExportCommands::bounceMixerOutput()
{
    if (! checkCanStart())
        return;
    const auto name = juce::File::createLegalFileName (mixer.getMasterTrack()->getName());
    FileRequest request { FileRequest::Kind::saveFile, bounceChooserTitle, outputPatterns,
                          getStartingFolder().getChildFile (name + " (mix).wav") };

    askForFile (request, [weak = juce::WeakReference<ExportCommands> (this)] (const juce::File& chosen) {
        auto* self = weak.get();
        if (self == nullptr || chosen == juce::File() || ! self->checkCanStart())
            return;
        const auto target = MixerBounce::getOutputFile (chosen);
        self->lastFolder = target.getParentDirectory();
        self->start (
            bounceWindowTitle, target.getFileName(),
            [&m = self->mixer, target] (Progress::Ptr p) { return MixerBounce::bounceMix (m, target, p, getMetadata()); },
            bounceFailedTitle, quoted (target) + " could not be written: ");
    });
}

void ExportCommands::exportCurrentTrack()
{
    if (! checkCanStart())
        return;
    auto track = mixer.getActiveTrack();
    if (track == nullptr)
        track = mixer.getMasterTrack();
    const auto name = juce::File::createLegalFileName (track->getName());
    FileRequest request { FileRequest::Kind::saveFile, trackChooserTitle, outputPatterns,
                          getStartingFolder().getChildFile (name + ".wav") };

    askForFile (request, [weak = juce::WeakReference<ExportCommands> (this), track] (const juce::File& chosen) {
        auto* self = weak.get();
        if (self == nullptr || chosen == juce::File() || ! self->checkCanStart())
            return;
        const auto target = MixerBounce::getOutputFile (chosen);
        self->lastFolder = target.getParentDirectory();
        self->start (
            trackWindowTitle, target.getFileName(),
            [track, target] (Progress::Ptr p) {
                return MixerBounce::exportTrack (track, target, { 0, track->getNumBlocks() }, track->getBitsPerSample(), p,
                                                 getMetadata());
            },
            exportFailedTitle, quoted (target) + " could not be written: ");
    });
}

void ExportCommands::exportAllTracks()
{
    if (! checkCanStart())
        return;
    auto chooseFolder = [weak = juce::WeakReference<ExportCommands> (this)] {
        auto* self = weak.get();
        if (self == nullptr)
            return;
        FileRequest request { FileRequest::Kind::chooseFolder, folderChooserTitle, {}, self->getStartingFolder() };
        self->askForFile (request, [weak] (const juce::File& folder) {
            if (auto* s = weak.get(); s != nullptr && folder != juce::File())
                s->exportAllTracksTo (folder);
        });
    };

    if (! anyTrackEdited (mixer))
    {
        chooseFolder();
        return;
    }
    // The export leaves edits out: the user hears so first.
    alerts.showYesNoBox (AlertManager::YesNoBoxType::ExportAllTracks, [chooseFolder] (AlertManager::Answer answer) {
        if (answer == AlertManager::Answer::yes) // "Export without edits"
            chooseFolder();
    });
}

void ExportCommands::exportAllTracksTo (const juce::File& folder)
{
    if (! checkCanStart())
        return;
    lastFolder = folder;
    start (
        allTracksWindowTitle, folder.getFullPathName(),
        [&m = mixer, folder] (Progress::Ptr p) { return MixerBounce::exportAllTracks (m, folder, p, getMetadata()); },
        exportFailedTitle, "The tracks could not be exported to " + quoted (folder) + ": ");
}

void ExportCommands::start (const juce::String& title, const juce::String& status, BounceJob::Work work,
                            const juce::String& failureTitle, const juce::String& failureText)
{
    JUCE_ASSERT_MESSAGE_THREAD
    jassert (running == nullptr);
    running = std::make_unique<BounceJob> (title, status, std::move (work));
    running->onFinished = [this, failureTitle, failureText] (BounceJob& job) {
        jassert (running.get() == &job);
        // This runs inside the job's own callback: it is deleted once that has returned.
        auto* finished = running.release();
        juce::MessageManager::callAsync ([finished] { delete finished; });

        if (job.getResult().failed() && ! job.wasCancelled())
            alerts.displayWarningPopup (failureTitle, failureText + job.getResult().getErrorMessage());
    };
    if (onJobStarting)
        onJobStarting (*running);
    running->launchThread();
}

} // namespace kalder
