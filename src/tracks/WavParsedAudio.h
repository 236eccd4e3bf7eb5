#pragma once

#include "signal/ParsedAudio.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <memory>

namespace kalder
{

/**
    ParsedAudio over a WAV file, read through JUCE's memory-mapped WAV reader:
    the decoded audio of a track, served from its rendered audio file without
    holding it in memory.

    Reads are random access and cost a copy and a conversion to float; samples
    outside [0, getNumSamples()) read as zero.

    Ownership: owns the mapping; the file must not be rewritten while an object
    maps it (replace it by renaming a new file over it, then create a new object).

    Threading: reads keep no state between calls (JUCE's memory-mapped reader
    converts straight from the mapping, and the channel table lives on the stack),
    so any number of threads may read at once, and reads do not allocate for up
    to 64 channels. A read may still wait for the disk when it touches pages of
    the file that are not in memory yet.
*/
class WavParsedAudio final : public ParsedAudio
{
public:
    /** Maps wavFile. Returns nullptr and sets errorMessage (one line naming the
        file) when the file is missing, is not a WAV file JUCE can map, or cannot
        be mapped. */
    static std::unique_ptr<WavParsedAudio> open (const juce::File& wavFile, juce::String& errorMessage);

    ~WavParsedAudio() override;

    int getNumChannels() const override;
    juce::int64 getNumSamples() const override;
    int getSampleRate() const override;

    /** Bits per sample of the file (8, 16, 24 or 32). */
    int getBitsPerSample() const;

    /** True when the file holds 32-bit float samples. */
    bool isFloatingPoint() const;

    void readFrames (int channel, juce::int64 start, int numSamples, float* dest) const override;

    const juce::File& getFile() const noexcept { return file; }

private:
    WavParsedAudio (const juce::File& wavFile, std::unique_ptr<juce::MemoryMappedAudioFormatReader> mappedReader);

    juce::File file;
    std::unique_ptr<juce::MemoryMappedAudioFormatReader> reader;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (WavParsedAudio)
};

} // namespace kalder
