#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

namespace kalder::test
{

/** Writes buffer to file with one of JUCE's writers, chosen by the file's
    extension (".wav", ".aiff", ".flac", ".ogg"). Returns false on failure. The one
    writer of audio files for every test. */
bool writeAudioFile (const juce::File& file, const juce::AudioBuffer<float>& buffer, double sampleRate, int bitsPerSample = 32,
                     int qualityOption = 0);

/** Reads a whole file through JUCE's basic formats only (an independent reference
    for what the code under test decodes). Returns an empty buffer on failure. */
juce::AudioBuffer<float> readAudioFile (const juce::File& file, double* sampleRate = nullptr, int* bitsPerSample = nullptr,
                                        juce::String* formatName = nullptr);

/** True when the ffmpeg command-line tool can be run. */
bool isFFmpegAvailable();

/** Runs ffmpeg with the given arguments (input and output options), overwriting
    the output. Returns false and sets output to its messages on failure. */
bool runFFmpeg (const juce::StringArray& arguments, juce::String& output);

/** The lag (in samples, within +-maxLag) at which test best matches reference:
    test[i + lag] ~ reference[i]. Computed on a window after skipping the start. */
int findLag (const float* reference, int referenceLength, const float* test, int testLength, int maxLag);

/** Signal-to-error ratio in dB of test against reference over their overlap once
    test is shifted by lag, leaving out margin samples at both ends. */
double alignedSnrDb (const float* reference, int referenceLength, const float* test, int testLength, int lag, int margin);

} // namespace kalder::test
