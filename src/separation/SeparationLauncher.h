#pragma once

#include "NetworkManager.h"
#include "tracks/AudioTrack.h"

#include <juce_events/juce_events.h>

#include <optional>

namespace kalder
{
class Mixer;
}

namespace kalder::separation
{

/**
    Starts separations of tracks and sees them through: the refusals checked before
    a start, the request written from the track's audio (on the job's thread), the
    track claimed while its separation runs (its separation progress follows the
    tracker), the import of the results as child tracks, and the track released
    however it ends.

    Threading: message thread.
*/
class SeparationLauncher : private juce::Timer
{
public:
    /** Why start() started nothing (each has its alert; see getRefusalText()). */
    enum class Refusal
    {
        none,
        noFileLoaded,
        trackLocked,
        separatingEditedTrack,
        separationRunning,
        noPitchGuide,
        noPitchGuideEditorClosed,
        notStereo,
        invalidTrack
    };

    struct Request
    {
        AudioTrack::Ptr track;
        Module module = Module::vocals;
        /** The module's settings (copied at the start); null for the stored ones. */
        SeparatorSettings::Ptr settings;
        /** Output blocks to separate; the whole track when empty. */
        std::optional<juce::Range<int>> blocks;
        /** Whether the melody editor of the track is open (for the guided refusal's wording). */
        bool melodyEditorOpen = false;
    };

    /** How a separation ended, on the message thread. */
    struct Outcome
    {
        SeparationTracker::Ptr tracker;
        AudioTrack::Ptr track;
        juce::Result result = juce::Result::ok(); // "Cancelled" for a cancel
        juce::ReferenceCountedArray<AudioTrack> children;
        bool wasCancelled() const { return result.failed() && result.getErrorMessage() == "Cancelled"; }
        /** The user's message for a failure ("Impossible to run separation: ..."). */
        juce::String getMessage() const;
    };
    using EndedCallback = std::function<void (const Outcome&)>;

    static constexpr const char* failurePrefix = "Impossible to run separation: ";

    SeparationLauncher (Mixer& mixer, NetworkManager& network);
    ~SeparationLauncher() override;

    /** The refusal that applies, in the order the alerts are checked. */
    Refusal check (const Request& request) const;

    /** Starts the separation, or returns the refusal (nothing started). A failure to
        reach the service is Refusal::invalidTrack with failure set. */
    Refusal start (const Request& request, EndedCallback onEnded, juce::String* failure = nullptr);

    /** The folder where the jobs' folders are made. */
    void setWorkFolder (const juce::File& folder) { workFolder = folder; }

    /** Whether the children's stores are analysed after an import (the default); a
        run that only writes the children's files turns it off. */
    void setAnalyseChildren (bool shouldAnalyse) noexcept { analyseChildren = shouldAnalyse; }

    /** Called for every separation that ends (after the start's own callback). */
    std::function<void (const Outcome&)> onAnyEnded;

private:
    void timerCallback() override;
    void finish (Outcome outcome, EndedCallback onEnded);

    Mixer& mixer;
    NetworkManager& network;
    juce::File workFolder;
    bool analyseChildren = true;
    juce::ReferenceCountedArray<SeparationTracker> following;

    JUCE_DECLARE_WEAK_REFERENCEABLE (SeparationLauncher)
    JUCE_DECLARE_NON_COPYABLE (SeparationLauncher)
};

} // namespace kalder::separation
