#pragma once

#include "Mixer.h"

#include <juce_audio_formats/juce_audio_formats.h>

namespace kalder
{

/**
    Writes audio files from the mixer: the mix as playback hears it, or one track.

    The mix is written in the master track's format: its sample rate, its bit depth
    (where the file format offers it, else the nearest deeper one), the mix's channel
    count, and exactly as many samples as the opened file had. The file format follows
    the extension (".wav", ".aif"/".aiff", ".flac", ".ogg"); a name without one gets
    ".wav".

    Files are written to a temporary file next to the target, which replaces the target
    only when the writing ends: a failure (a full disk, an unwritable folder) leaves the
    target as it was. Cancelling through the progress ends the file early: what was
    written until then becomes a valid, shorter file.

    Threading: any thread but the message thread for long files; the bounce mixes
    through a render session of its own and never waits for playback.
*/
struct MixerBounce
{
    /** Rounds samples to the grid of an integer format of bitsPerSample bits (nothing for
        32 bits): JUCE's writers truncate toward zero, which would cost a step on samples
        a hair below their exact value. */
    static void roundToIntegerGrid (juce::AudioBuffer<float>& block, int start, int length, int bitsPerSample);

    /** The file a bounce to target writes (".wav" added when there is no extension). */
    static juce::File getOutputFile (const juce::File& target);

    /** Bounces the mix, or only the samples of range when it is not empty (clamped to the
        project). */
    static juce::Result bounceMix (Mixer& mixer, const juce::File& target, Progress::Ptr progress = nullptr,
                                   const juce::StringPairArray& metadata = {}, juce::Range<juce::int64> range = {});

    /** Writes blocks [frames) of a track, masked but before volume and pan, as WAV at the
        track's sample rate and channel count. */
    /** Exports every track of the mixer, whole, into folder: one WAV per track named after
        the track (numbered when names repeat). Stops at the first failure. */
    static juce::Result exportAllTracks (Mixer& mixer, const juce::File& folder, int bitsPerSample,
                                         Progress::Ptr progress = nullptr);

    static juce::Result exportTrack (AudioTrack::Ptr track, const juce::File& target, juce::Range<int> frames, int bitsPerSample,
                                     Progress::Ptr progress = nullptr, const juce::StringPairArray& metadata = {});
};

} // namespace kalder
