#pragma once

#include "support/AudioTestFiles.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <vector>

namespace kalder::test
{

/**
    A short stereo song made of known sources, for separation tests and benchmarks.

    - vocals: a sung line of non-repeating notes (a harmonic tone with vibrato, glides
      between notes and three vowel formants), in the centre;
    - drums: kick (a falling sine), snare (a noise burst) and hi-hat (high noise), in
      the centre, with fresh noise for every hit;
    - bass: a harmonic tone of falling partials, a repeating low line, in the centre;
    - other: two chord parts of harmonic tones, one hard left and one hard right.
    The accompaniment repeats every second (a bar), as popular music does; the voice
    does not.
*/
struct SyntheticSong
{
    double sampleRate = 44100.0;
    juce::AudioBuffer<float> vocals, drums, bass, leftChords, rightChords;

    /** The sung pitch as a guide: MIDI per step of guideStepSamples, -1 in rests. */
    std::vector<float> vocalMidi;
    int guideStepSamples = 512;

    juce::AudioBuffer<float> other() const;
    juce::AudioBuffer<float> mix() const;
    int getNumSamples() const { return vocals.getNumSamples(); }
};

struct SongOptions
{
    double seconds = 6.0;
    double sampleRate = 44100.0;
    int seed = 1;
    /** Seconds [from, to) in which the voice rests (none when from >= to). */
    double vocalRestFrom = 0.0, vocalRestTo = 0.0;
    /** Semitones the voice is sung above (or below) its usual range, MIDI 60 to 76. */
    double vocalTranspose = 0.0;
};

SyntheticSong makeSong (const SongOptions& options);

/** Signal-to-distortion ratio in dB: 10 log10 (|s|^2 / |s - e|^2) over all channels. */
double sdrDb (const juce::AudioBuffer<float>& reference, const juce::AudioBuffer<float>& estimate);

/** Energy of a buffer over [start, start + length) of every channel. */
double energy (const juce::AudioBuffer<float>& audio, int start, int length);

} // namespace kalder::test
