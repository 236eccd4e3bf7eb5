#include "WavParsedAudio.h"

#include <vector>

namespace kalder
{

std::unique_ptr<WavParsedAudio> WavParsedAudio::open (const juce::File& wavFile, juce::String& errorMessage)
{
    const auto name = "\"" + wavFile.getFileName() + "\"";

    if (! wavFile.existsAsFile())
    {
        errorMessage = name + " does not exist.";
        return nullptr;
    }

    std::unique_ptr<juce::MemoryMappedAudioFormatReader> mapped (juce::WavAudioFormat().createMemoryMappedReader (wavFile));
    if (mapped == nullptr || mapped->numChannels == 0 || mapped->sampleRate <= 0)
    {
        errorMessage = name + " is not a readable WAV file.";
        return nullptr;
    }

    if (mapped->lengthInSamples > 0 && ! mapped->mapEntireFile())
    {
        errorMessage = name + " could not be mapped into memory.";
        return nullptr;
    }

    // A header announcing more samples than the file holds maps only what exists.
    const auto mappedRange = mapped->getMappedSection();
    if (mapped->lengthInSamples > 0 && mappedRange.getEnd() < mapped->lengthInSamples)
    {
        errorMessage = name + " is truncated.";
        return nullptr;
    }

    return std::unique_ptr<WavParsedAudio> (new WavParsedAudio (wavFile, std::move (mapped)));
}

WavParsedAudio::WavParsedAudio (const juce::File& wavFile, std::unique_ptr<juce::MemoryMappedAudioFormatReader> mappedReader)
    : file (wavFile), reader (std::move (mappedReader))
{}

WavParsedAudio::~WavParsedAudio() = default;

int WavParsedAudio::getNumChannels() const
{
    return (int) reader->numChannels;
}

juce::int64 WavParsedAudio::getNumSamples() const
{
    return reader->lengthInSamples;
}

int WavParsedAudio::getSampleRate() const
{
    return juce::roundToInt (reader->sampleRate);
}

int WavParsedAudio::getBitsPerSample() const
{
    return (int) reader->bitsPerSample;
}

bool WavParsedAudio::isFloatingPoint() const
{
    return reader->usesFloatingPointData;
}

void WavParsedAudio::readFrames (int channel, juce::int64 start, int numSamples, float* dest) const
{
    if (numSamples <= 0)
        return;

    juce::FloatVectorOperations::clear (dest, numSamples);
    if (! juce::isPositiveAndBelow (channel, getNumChannels()))
        return;

    const juce::Range<juce::int64> wanted (start, start + numSamples);
    const auto available = wanted.getIntersectionWith ({ 0, reader->lengthInSamples });
    if (available.isEmpty())
        return;

    // The reader fills the channels it is given a pointer for and skips null ones;
    // the pointer table lives on the stack for any ordinary channel count so that
    // reads do not allocate.
    constexpr int stackChannels = 64;
    float* onStack[stackChannels] = {};
    std::vector<float*> onHeap;
    auto* channels = onStack;
    if (channel >= stackChannels)
    {
        onHeap.assign ((size_t) channel + 1, nullptr);
        channels = onHeap.data();
    }

    channels[channel] = dest + (available.getStart() - start);
    reader->read (channels, channel + 1, available.getStart(), (int) available.getLength());
}

} // namespace kalder
