#include "MelodyGuideImporter.h"

#include "appcore/DirectoryManager.h"
#include "melody/PitchEditManager.h"

namespace kalder
{

MelodyGuideImporter::MelodyGuideImporter (Mixer& m, AlertManager& a, FileRequest::Handler ask)
    : mixer (m), alerts (a), askForFile (std::move (ask))
{}

bool MelodyGuideImporter::handles (Command command) noexcept
{
    return command == Command::showMelodyEditor || command == Command::showSpectrogramEditor
           || command == Command::exportMelodyGuide || command == Command::importMelodyGuide
           || command == Command::resetMelodyEdits;
}

AudioTrack::Ptr MelodyGuideImporter::getActiveTrack() const
{
    auto track = mixer.getActiveTrack();
    return track != nullptr ? track : mixer.getMasterTrack();
}

bool MelodyGuideImporter::perform (Command command)
{
    JUCE_ASSERT_MESSAGE_THREAD
    auto track = getActiveTrack();
    if (track == nullptr)
        return false;
    switch (command)
    {
        case Command::showMelodyEditor:
            track->setEditor (Editor::Type::melody);
            return true;
        case Command::showSpectrogramEditor:
            track->setEditor (Editor::Type::spectral);
            return true;
        case Command::exportMelodyGuide:
            exportGuide (track);
            return true;
        case Command::importMelodyGuide:
            importGuide (track);
            return true;
        case Command::resetMelodyEdits:
            alerts.showYesNoBox (AlertManager::YesNoBoxType::ResetMelodyEdits, [track] (AlertManager::Answer answer) {
                if (answer == AlertManager::Answer::yes)
                    track->getPitchEditManager().replaceAllLines ("Reset melody edits", {});
            });
            return true;
        default:
            return false;
    }
}

void MelodyGuideImporter::exportGuide (AudioTrack::Ptr track)
{
    const auto folder = DirectoryManager::getMelodyGuidesDir();
    if (! folder.isDirectory() && folder.createDirectory().failed())
    {
        alerts.displayWarningPopup ("Cannot export the melody guide",
                                    "The folder " + folder.getFullPathName() + " cannot be made.");
        return;
    }
    FileRequest request;
    request.kind = FileRequest::Kind::saveFile;
    request.title = "Export melody guide...";
    request.patterns = filePatterns;
    request.startingFile = folder.getChildFile (juce::File::createLegalFileName (track->getName()) + fileExtension);
    juce::WeakReference<MelodyGuideImporter> self (this);
    askForFile (request, [self, track] (const juce::File& chosen) {
        if (self == nullptr || chosen == juce::File())
            return; // cancelled: nothing changes
        const auto file = chosen.hasFileExtension (fileExtension) ? chosen : chosen.withFileExtension (fileExtension);
        if (const auto r = track->getPgram().savePgram (file); r.failed())
            self->alerts.displayWarningPopup ("Cannot export the melody guide", r.getErrorMessage());
    });
}

void MelodyGuideImporter::importGuide (AudioTrack::Ptr track)
{
    FileRequest request;
    request.kind = FileRequest::Kind::openFile;
    request.title = "Import melody guide...";
    request.patterns = filePatterns;
    request.startingFile = DirectoryManager::getMelodyGuidesDir();
    juce::WeakReference<MelodyGuideImporter> self (this);
    askForFile (request, [self, track] (const juce::File& chosen) {
        if (self == nullptr || chosen == juce::File())
            return;
        Pgram::Lines lines;
        if (const auto r = Pgram::readPitchLines (chosen, lines); r.failed())
        {
            self->alerts.displayWarningPopup ("Cannot import the melody guide", r.getErrorMessage());
            return; // the track keeps its lines
        }
        track->getPitchEditManager().replaceAllLines ("Import melody guide", std::move (lines));
        track->setEditor (Editor::Type::melody);
    });
}

} // namespace kalder
