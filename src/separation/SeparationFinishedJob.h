#pragma once

#include "SeparationTracker.h"
#include "tracks/AudioTrack.h"

#include <juce_events/juce_events.h>

#include <functional>

namespace kalder
{
class Mixer;
}

namespace kalder::separation
{

/**
    Turns a finished separation's files into child tracks of the separated track
    ("Separation Finished", on the mixer's job pool).

    Each ".wav" output becomes one child, in the order the service listed them, named
    and coloured by its stem (getTrackName(), getStemColour()). The downloaded files
    are not trusted: each must be a WAV with the track's sample rate and channel
    count; it is placed at the context's origin, cut to the separated range (the
    padding dropped), padded with silence where it falls short, and written at the
    track's bit depth as the child's own audio file, through a temporary file, a
    block at a time. A child plays from that file at once; its store is analysed
    afterwards in the background, as for an opened file. ".mtx" and ".vtr" outputs (masks and per-frame data) are checked
    for size and kept out of the track list: no module of our service makes them.

    When every child's file is written, on the message thread: they go right after the
    separated track, with its volume and pan; after a separation of the whole track
    whose stems add up to it, the track is muted so the children play in its place.
    The whole import is one undo step ("Separation") of the separated track's history
    (the one Edit > Undo addresses while that track is shown in the spectral editor;
    the application's when the track has no store): undoing it takes the children out
    and unmutes the track; redoing puts them back.

    A failure (a bad file, a full disk, a cancel, the track gone from the mixer) adds
    nothing and deletes the children's folders.

    Threading: start() on the message thread; onDone there too.
*/
class SeparationFinishedJob : public juce::ThreadPoolJob, private Progress::Listener
{
public:
    using DoneCallback = std::function<void (juce::Result, juce::ReferenceCountedArray<AudioTrack> children)>;

    /** analyseChildren: the children take their default editor, which analyses their
        stores in the background (a command-line run that only writes files skips it). */
    static void start (Mixer& mixer, SeparationTracker::Ptr tracker, AudioTrack::Ptr track, DoneCallback onDone,
                       bool analyseChildren = true);

    /** The child's name for a stem of a module ("Vocals", "Track", "Source 2", ...). */
    static juce::String getTrackName (Module module, const juce::String& outputName);
    /** The child's colour (ARGB) for a stem. */
    static juce::uint32 getStemColour (const juce::String& outputName);
    /** True when the module's stems, with its settings, add up to the separated audio. */
    static bool stemsAddUp (const SeparationTracker& tracker);

    ~SeparationFinishedJob() override;
    JobStatus runJob() override;

private:
    struct Result;
    SeparationFinishedJob (Mixer& mixer, SeparationTracker::Ptr tracker, AudioTrack::Ptr track, DoneCallback onDone);
    juce::Result importStem (const juce::String& name, const juce::File& file, Result& result);
    void progressChanged (float value, Progress::Ptr source) override;

    juce::WeakReference<Mixer> mixer;
    SeparationTracker::Ptr tracker;
    AudioTrack::Ptr track;
    DoneCallback onDone;
    juce::File dataRoot;
    int stemIndex = 0, numStems = 1;
    bool analyseChildren = true;

    JUCE_DECLARE_NON_COPYABLE (SeparationFinishedJob)
};

} // namespace kalder::separation
