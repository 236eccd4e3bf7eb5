#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

namespace kalder
{

/**
    Decoded audio that a frame store analyses: a channel count, a length, a sample
    rate, and random access to the samples of each channel.

    Implementations must allow reads from any one thread at a time; reads outside
    [0, getNumSamples()) return zeros there.
*/
class ParsedAudio
{
public:
    virtual ~ParsedAudio() = default;

    virtual int getNumChannels() const = 0;
    virtual juce::int64 getNumSamples() const = 0;
    virtual int getSampleRate() const = 0;

    /** Copies numSamples samples of channel, starting at start (which may be
        negative), into dest; samples outside the audio are zero. */
    virtual void readFrames (int channel, juce::int64 start, int numSamples, float* dest) const = 0;
};

/** ParsedAudio held in memory. */
class ParsedAudioBuffer final : public ParsedAudio
{
public:
    ParsedAudioBuffer (juce::AudioBuffer<float> samples, int sampleRate);

    int getNumChannels() const override { return buffer.getNumChannels(); }
    juce::int64 getNumSamples() const override { return buffer.getNumSamples(); }
    int getSampleRate() const override { return rate; }
    void readFrames (int channel, juce::int64 start, int numSamples, float* dest) const override;

    const juce::AudioBuffer<float>& getBuffer() const noexcept { return buffer; }

private:
    juce::AudioBuffer<float> buffer;
    int rate;
};

} // namespace kalder
