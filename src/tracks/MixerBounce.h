#pragma once

#include "Mixer.h"

#include <juce_audio_formats/juce_audio_formats.h>

namespace kalder
{

/**
    Writes audio files from the mixer: the mix as playback hears it, or tracks.

    Every file keeps its source's sample rate and bit depth (where the file format offers
    that depth, else the nearest deeper one): the mix the master track's, with the mix's
    channel count and exactly as many samples as the opened file had; a track its own.
    The format follows the extension (".wav", ".aif"/".aiff", ".flac", ".ogg"); a name
    without one gets ".wav".

    Files are written to a temporary file next to the target, which replaces the target
    only when the writing is complete: a failure (a full disk, an unwritable folder) or a
    cancellation through the progress leaves the target as it was and no partial file.

    Threading: any thread but the message thread for long files; every write mixes or
    renders through objects of its own and never waits for playback.
*/
struct MixerBounce
{
    /** Rounds samples to the grid of an integer format of bitsPerSample bits (nothing for
        32 bits): JUCE's writers truncate toward zero, which would cost a step on samples
        a hair below their exact value. */
    static void roundToIntegerGrid (juce::AudioBuffer<float>& block, int start, int length, int bitsPerSample);

    /** The file a write to target makes (".wav" added when there is no extension). */
    static juce::File getOutputFile (const juce::File& target);

    /** Bounces the mix, or only the samples of range when it is not empty (clamped to the
        project). */
    static juce::Result bounceMix (Mixer& mixer, const juce::File& target, Progress::Ptr progress = nullptr,
                                   const juce::StringPairArray& metadata = {}, juce::Range<juce::int64> range = {});

    /** Writes blocks [frames) of a track as it sounds with its edits (masks, flip and
        selection volume) but before volume and pan, at the track's sample rate and
        channel count. */
    static juce::Result exportTrack (AudioTrack::Ptr track, const juce::File& target, juce::Range<int> frames, int bitsPerSample,
                                     Progress::Ptr progress = nullptr, const juce::StringPairArray& metadata = {});

    /** Exports every track of the mixer, whole and WITHOUT its edits (its decoded audio,
        sample for sample), into folder: one WAV per track in the track's own format, named
        after the track. A file already in the folder is never replaced: the name is
        numbered instead. A failure or a cancellation removes the files this export wrote,
        so the folder holds all of the export or none of it. */
    static juce::Result exportAllTracks (Mixer& mixer, const juce::File& folder, Progress::Ptr progress = nullptr,
                                         const juce::StringPairArray& metadata = {});

    /** The file names exportAllTracks() writes, in track order. */
    static juce::Array<juce::File> getExportFiles (const juce::ReferenceCountedArray<AudioTrack>& tracks,
                                                   const juce::File& folder);
};

} // namespace kalder
