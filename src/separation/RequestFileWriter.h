#pragma once

#include "SeparationRequest.h"

#include <juce_audio_basics/juce_audio_basics.h>

namespace kalder::separation
{

/**
    Builds a request file: the module and algorithm, the parameters by code, the
    optional pitch guide and the audio of the separated range, encoded losslessly
    (FLAC or WAV) at its own sample rate, bit depth and channel count.

    Parameters are checked against the module's table when they are added, so a
    writer never produces a file the service would refuse for its parameters. The
    file is written to a temporary sibling and moved over the target only when it is
    complete.

    Threading: one writer belongs to one thread at a time.
*/
class RequestFileWriter
{
public:
    RequestFileWriter (int module, int algorithm);

    /** Adds a parameter by its internal name; fails for a name the module does not
        have, a value it does not accept or a parameter already added. */
    juce::Result addParameter (const juce::String& name, const juce::var& value);

    /** Adds every parameter of a settings object (internal name to value). */
    juce::Result addParameters (const juce::NamedValueSet& parameters);

    /** Sets the vocal pitch guide: one MIDI pitch per step of stepSamples samples,
        -1 where no line is drawn. Only the vocal module takes a guide. */
    juce::Result setPitchGuide (std::vector<float> pitches, int stepSamples);

    /** Writes the file with audio encoded from a buffer. FLAC takes 16 or 24 bits,
        WAV 16, 24 or 32 (32 bits is written as floating point). */
    juce::Result writeWithAudio (const juce::File& target, const juce::AudioBuffer<float>& audio, int sampleRate,
                                 int bitsPerSample, SeparationRequest::AudioEncoding encoding) const;

    /** Writes the file with the bytes of an existing FLAC or WAV file, unchanged. */
    juce::Result writeWithAudioFile (const juce::File& target, const juce::File& audioFile) const;

private:
    struct Record
    {
        int code;
        SeparationRequest::RecordType type;
        juce::MemoryBlock payload;
    };

    juce::Result writeFile (const juce::File& target, const juce::File& encodedAudio, SeparationRequest::AudioEncoding encoding,
                            int sampleRate, int numChannels, int bitsPerSample, juce::int64 numFrames) const;

    int module, algorithm;
    std::vector<Record> records;

    JUCE_DECLARE_NON_COPYABLE (RequestFileWriter)
};

} // namespace kalder::separation
