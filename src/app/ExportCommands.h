#pragma once

#include "BounceJob.h"
#include "FileRequest.h"
#include "appcore/AlertManager.h"

#include "tracks/Mixer.h"

namespace kalder
{

/**
    The three commands that write audio files: "Bounce Mixer Output" (the mix as
    playback hears it), "Export Current Track" (the active track with its edits, before
    volume and pan) and "Export All Tracks" (every track without its edits, one WAV
    each). Each asks for its file or folder, then writes in a BounceJob's progress
    window, in the source's sample rate and bit depth (MixerBounce).

    "Export All Tracks" ignores spectral and melody edits; when a track has any (or the
    active track is being edited) the user is told so first, with the question "A track
    is being edited", and the export runs only on "Export without edits".

    Cancelling leaves no partial file; a failure shows an alert that names the file and
    the reason.

    Ownership: owned by the main component.

    Threading: message thread only; the writing runs on the job's thread.
*/
class ExportCommands
{
public:
    // The file choosers' titles and pattern.
    static constexpr const char* bounceChooserTitle = "Bounce to new audio file...";
    static constexpr const char* trackChooserTitle = "Bounce track to audio file...";
    static constexpr const char* folderChooserTitle = "Choose directory to bounce tracks...";
    static constexpr const char* outputPatterns = "*.wav;*.aif;*.aiff";

    // The progress windows' titles.
    static constexpr const char* bounceWindowTitle = "Bouncing mixer output";
    static constexpr const char* trackWindowTitle = "Exporting track";
    static constexpr const char* allTracksWindowTitle = "Exporting all tracks";

    /** askForFile: how to ask the user for a file (the main component's choosers);
        isBusy: true while another operation (opening a file) must not meet an export. */
    ExportCommands (Mixer& mixer, AlertManager& alerts, FileRequest::Handler askForFile, std::function<bool()> isBusy);
    ~ExportCommands();

    /** True while there is something to write: a master track, analysed, with its audio. */
    bool canExport() const;

    /** True from the start of a job until it has finished. */
    bool isExporting() const noexcept { return running != nullptr; }

    void bounceMixerOutput();
    void exportCurrentTrack();
    void exportAllTracks();

    /** Called with each job just before its window opens (tests follow its progress). */
    std::function<void (BounceJob&)> onJobStarting;

private:
    bool checkCanStart();
    void exportAllTracksTo (const juce::File& folder);
    /** Runs work in a progress window; a failure shows failureTitle and failureText
        followed by the reason. */
    void start (const juce::String& title, const juce::String& status, BounceJob::Work work, const juce::String& failureTitle,
                const juce::String& failureText);
    juce::File getStartingFolder() const;

    Mixer& mixer;
    AlertManager& alerts;
    FileRequest::Handler askForFile;
    std::function<bool()> isBusy;
    std::unique_ptr<BounceJob> running;
    juce::File lastFolder; // where the last export went: the next chooser starts there

    JUCE_DECLARE_NON_COPYABLE (ExportCommands)
    JUCE_DECLARE_WEAK_REFERENCEABLE (ExportCommands)
};

} // namespace kalder
