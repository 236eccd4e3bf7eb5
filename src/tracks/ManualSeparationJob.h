#pragma once

#include "AudioTrack.h"

#include <functional>

namespace kalder
{

class Mixer;

/**
    Commits a track's spectral edits to new tracks: the mixer's "Manual separation
    thread".

    What it makes depends on whether the track has a selection when the job is started:
    - Kind::freezeEdits (no selection): two new tracks. "<name> Frozen" is the track as
      playback hears it (mask, flip and selection volume), "Not Separated" everything
      the mask took away; the two add up to the track's unedited audio. The track stays
      in the list as their parent, its edits reset and muted, so that the mix plays its
      two parts in its place; the frozen track becomes active when the track was.
    - Kind::moveSelection: one new track, "<name> Selection", the selected share of what
      the track plays (its mask, with the selection as the gain instead of the selection
      volume). The track gives that share up (its mask is multiplied by 1 - selection)
      and its selection is cleared: the two add up to what the track played without its
      selection preview.
    New tracks are children of the track (origin freeze or selection), come right after
    it in the list and take its volume and pan. They have the track's sample rate,
    channel count, bit depth and length.

    Only the blocks that hear the edited (or selected) frames are synthesised. Elsewhere
    the new track that holds the unedited sound (the frozen one; the rest when the mask
    is flipped) copies the track's audio sample for sample and the others are silent. The
    work goes block by block, so memory stays bounded on a song of any length. Each new
    track gets a folder of its own in the data root, and its audio is written through a
    temporary file: a failure (an unwritable folder, a full disk) or a cancel leaves no
    files behind and the project as it was.

    The track is busy (AudioTrack::isBusy()) from start() until the job ends, whatever
    the outcome: its progress is 0.1 at the start, rises with the work and is 0 again
    at the end, so a failed or cancelled job never locks the track. A job whose track
    changed meanwhile (an edit, another store, removed from the mixer) fails rather
    than commit a result that no longer matches.

    Threading: start() on the message thread. Rendering and analysis run on the mixer's
    job pool; the track list and the track's store change back on the message thread,
    where onDone is called.
*/
class ManualSeparationJob : public juce::ThreadPoolJob, private Progress::Listener
{
public:
    enum class Kind
    {
        freezeEdits,
        moveSelection
    };

    /** Why start() started nothing. */
    enum class Refusal
    {
        none,           // the job was started
        trackLocked,    // the track is busy or locked (alert TrackLocked)
        nothingToFreeze // no track, or a track without spectral edits or a selection
    };

    /** How a job ended. */
    struct Outcome
    {
        AudioTrack::Ptr track;
        Kind kind = Kind::freezeEdits;
        /** The failure, or "Cancelled". */
        juce::Result result = juce::Result::ok();
        /** The tracks added to the mixer, in list order; empty unless the job succeeded. */
        juce::ReferenceCountedArray<AudioTrack> newTracks;
    };

    struct Options
    {
        /** Where the new tracks' folders are made; by default the folder that holds the
            track's own folder. */
        juce::File dataRoot;
        /** Follows the work; cancelling it stops the job. */
        Progress::Ptr progress;
        /** Called once on the message thread when the job ends, whatever the outcome. */
        std::function<void (const Outcome&)> onDone;
    };

    /** The track's progress while the job waits for its turn. */
    static constexpr float startProgress = 0.1f;

    static constexpr const char* complementName = "Not Separated";
    static constexpr const char* nothingToFreezeTitle = "Nothing to freeze";
    static constexpr const char* nothingToFreezeMessage =
        "The track has no spectral edits and no selection: there is nothing to freeze.";

    /** Claims the track (see the class comment) and adds a job for it to the mixer's job
        pool; nothing happens when it refuses. Message thread. */
    static Refusal start (Mixer& mixer, AudioTrack::Ptr track, Options options);

    ~ManualSeparationJob() override;

    JobStatus runJob() override;

private:
    struct Handover;

    ManualSeparationJob (Mixer& mixer, AudioTrack::Ptr track, Kind kind, Options options);

    void progressChanged (float value, Progress::Ptr source) override;
    bool isStopping() const;
    juce::Result render (Handover& handover);
    void handOver (std::unique_ptr<Handover> handover);

    juce::WeakReference<Mixer> mixer;
    AudioTrack::Ptr track;
    const juce::String trackName;
    const Kind kind;
    Options options;
    Progress::Ptr work;
    Progress::Ptr analysis; // a new track's analysis while it runs (job thread)
    juce::Range<float> analysisRange;
    bool handedOver = false;

    JUCE_DECLARE_NON_COPYABLE (ManualSeparationJob)
};

} // namespace kalder
