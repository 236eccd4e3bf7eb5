#pragma once

#include <juce_core/juce_core.h>

#include <vector>

namespace kalder::separation
{

/** The service's two twin sets of create and start paths: a separation created on one
    must be started on the same one. */
enum class ApiPath
{
    current, // api/separation/create, api/separation/start
    legacy   // api/separation/legacy/create, api/separation/legacy/start
};

/**
    What a request file says: the module and algorithm, the parameters it encodes,
    the optional pitch guide, and where its audio was extracted to.

    Request files are versioned little-endian binaries; docs/separation-protocol.md
    gives the byte layout. RequestFileWriter makes them, RequestFileReader checks and
    decodes them into this value type.

    Threading: a plain value; copy it freely, share it only read-only.
*/
struct SeparationRequest
{
    /** The magic bytes, "KSRQ", at the start of every request file. */
    static constexpr char magic[4] = { 'K', 'S', 'R', 'Q' };
    /** The tag that opens the audio section, "AUDI". */
    static constexpr char audioTag[4] = { 'A', 'U', 'D', 'I' };
    static constexpr int formatVersion = 1;
    static constexpr int headerSize = 24;
    static constexpr int recordHeaderSize = 12;
    static constexpr int audioHeaderSize = 32;

    /** The record types of the parameter section. */
    enum class RecordType
    {
        integer = 1,   // payload: int32
        text = 2,      // payload: UTF-8 bytes, no terminator
        pitchGuide = 3 // payload: int32 step in samples, uint32 count, count float32 MIDI pitches
    };

    /** How the audio section's bytes are encoded. */
    enum class AudioEncoding
    {
        flac = 1,
        wav = 2
    };

    int module = 0;
    int algorithm = 0;

    /** Parameters by internal name, normalised (see ParameterCodes::normaliseValue). */
    juce::NamedValueSet parameters;

    /** Per step, the MIDI pitch of the guide or -1 where no line is drawn; empty when
        the file has no guide. Step i covers samples [i * guideStepSamples, (i + 1) * guideStepSamples). */
    std::vector<float> pitchGuide;
    int guideStepSamples = 0;

    AudioEncoding encoding = AudioEncoding::flac;
    int sampleRate = 0;
    int numChannels = 0;
    int bitsPerSample = 0;
    juce::int64 numFrames = 0;

    /** The extracted audio stream, a complete FLAC or WAV file. */
    juce::File audioFile;

    /** The file extension that goes with an encoding (".flac" or ".wav"). */
    static juce::String getExtension (AudioEncoding encoding);
};

} // namespace kalder::separation
