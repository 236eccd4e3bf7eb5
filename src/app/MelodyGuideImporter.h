#pragma once

#include "FileRequest.h"

#include "appcore/AlertManager.h"
#include "appcore/CommandTable.h"
#include "tracks/Mixer.h"

namespace kalder
{

/**
    The melody commands of the active track (the mixer's active track, or its master):
    "Show Melody Editor" and "Show Spectrogram Editor", "Export Melody Guide" and
    "Import Melody Guide", "Reset Melody Edits".

    A guide is exported to, and imported from, the "Melody Guides" folder by default. An
    import reads and checks the whole file before anything changes: a file that cannot
    be read is reported (its name and the problem) and the track keeps its lines; a good
    one replaces them as one step of the track's history ("Import melody guide"), so it
    can be undone, and the track switches to the melody editor. A reset asks first and
    is a step of the history too.

    Ownership: owned by the main component. Threading: message thread.
*/
class MelodyGuideImporter
{
public:
    MelodyGuideImporter (Mixer& mixer, AlertManager& alerts, FileRequest::Handler askForFile);

    static bool handles (Command command) noexcept;
    bool perform (Command command);

    void exportGuide (AudioTrack::Ptr track);
    void importGuide (AudioTrack::Ptr track);

    static constexpr const char* filePatterns = "*.melody";
    static constexpr const char* fileExtension = ".melody";

private:
    AudioTrack::Ptr getActiveTrack() const;

    Mixer& mixer;
    AlertManager& alerts;
    FileRequest::Handler askForFile;

    JUCE_DECLARE_WEAK_REFERENCEABLE (MelodyGuideImporter)
    JUCE_DECLARE_NON_COPYABLE (MelodyGuideImporter)
};

} // namespace kalder
