#pragma once

#include <juce_core/juce_core.h>

namespace kalder
{

/**
    What AudioFileDecoder found in a source file and wrote to its WAV file.

    sampleRate, numChannels and numSamples are the source's and the WAV file's
    alike. bitsPerSample and isFloatingPoint describe the WAV file: the source's
    resolution where WAV can hold it exactly (16- and 24-bit integers, 32-bit
    float), 16 bits for 8-bit sources and 32-bit float for 32-bit integer sources
    and for every lossy codec (whose decoders produce floats). formatName is the
    name of the format that read the source ("WAV file", "FFmpeg file", ...).

    A plain value; copy it freely.
*/
struct DecodedAudioInfo
{
    int sampleRate = 0;
    int numChannels = 0;
    int bitsPerSample = 0;
    bool isFloatingPoint = false;
    juce::int64 numSamples = 0; // per channel
    juce::String formatName;
};

} // namespace kalder
