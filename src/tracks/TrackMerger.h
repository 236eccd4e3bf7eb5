#pragma once

#include "Mixer.h"

#include "appcore/AlertManager.h"

namespace kalder
{

/**
    Merges tracks into one: the audio of the sources is added to the target's, written as
    the rendered audio file of a new track, and the new track takes the place of the
    merged ones in the mixer.

    The first track passed is the target, the others are the sources. A merge is refused
    when: a source is the target itself (MergeWithItself); a source is the master track
    (MergeMaster); a track is locked (MergeLockedTrack); the target descends from a source
    (MergeIntoDescendant); the target's store is not analysed yet (TargetNotGenerated);
    a source or the target has mask edits that are not frozen (MergeSourceUncommitted,
    MergeTargetUncommitted). The rules are tested in that order.

    Threading: checkRules() and startMerge() on the message thread; the audio is merged
    on the mixer's job pool, and the track list changes back on the message thread.
*/
struct TrackMerger
{
    static std::optional<AlertManager::ErrorType> checkRules (const Mixer& mixer,
                                                              const juce::ReferenceCountedArray<AudioTrack>& tracks);

    /** What the merge of these tracks' audio needs besides the rules: one sample rate,
        and no separation or freeze working on any of them. The failure says why. */
    static juce::Result checkTracks (const juce::ReferenceCountedArray<AudioTrack>& tracks);

    /** Writes the merged audio into dataFolder and opens it as a new track (any thread).
        The tracks must share a sample rate. */
    static AudioTrack::Ptr mergeAudio (const juce::ReferenceCountedArray<AudioTrack>& tracks, const juce::String& name,
                                       const juce::File& dataFolder, Progress::Ptr progress, juce::Result& result);

    /** Checks the rules (a refusal goes to alerts, when given, and is returned), then merges
        on the mixer's job pool and puts the new track in place of the merged ones.
        onDone, when given, runs on the message thread with the new track or null. */
    static std::optional<AlertManager::ErrorType> startMerge (Mixer& mixer, const juce::ReferenceCountedArray<AudioTrack>& tracks,
                                                              const juce::String& name, const juce::File& dataFolder,
                                                              AlertManager* alerts,
                                                              std::function<void (AudioTrack::Ptr, juce::Result)> onDone = {});
};

} // namespace kalder
