#pragma once

#include "SeparationRequest.h"

namespace kalder::separation
{

/**
    Checks and decodes a request file (the layout is in docs/separation-protocol.md).

    Nothing in the file is trusted: every length is checked against the bytes that
    are really there and against fixed bounds before anything is allocated, codes and
    values are checked against the module's parameter table, and the audio stream is
    opened and compared with what the audio section's header announces. A file that
    fails any check gives a failed result whose message says what is wrong, and
    leaves no extracted audio behind.

    Threading: stateless; read() may run on any thread, on different files at once.
*/
class RequestFileReader
{
public:
    struct Limits
    {
        juce::int64 maxAudioBytes = juce::int64 (8) << 30;
        int maxRecords = 64;
        int maxTextBytes = 64;
        int maxGuideSteps = 1 << 23; // about a day at 10 ms steps
        int maxChannels = 8;
    };

    /** Decodes requestFile into result; the audio stream is copied to a file named
        "input.flac" or "input.wav" in audioDirectory, and result.audioFile points at it. */
    static juce::Result read (const juce::File& requestFile, const juce::File& audioDirectory, SeparationRequest& result,
                              const Limits& limits);

    /** The same with the default limits. */
    static juce::Result read (const juce::File& requestFile, const juce::File& audioDirectory, SeparationRequest& result);
};

} // namespace kalder::separation
