#pragma once

#include "DecodedAudioInfo.h"

#include "base/Progress.h"

#include <juce_audio_formats/juce_audio_formats.h>

namespace kalder
{

/**
    Turns any audio file the application can read into a WAV file at the
    source's sample rate and resolution: the rendered audio file a track plays
    and analyses.

    Decoding goes block by block through the formats of AudioFormats, so memory
    stays bounded (a few megabytes) whatever the file claims. The WAV file is
    written next to the target under a temporary name and renamed over the
    target only when it is complete: a failure, a cancellation, a full disk or a
    crash leaves the old target (or none), never a partial one.

    Sources are refused with a one-line message naming the file when they are
    missing, empty, not audio, damaged or truncated, when their header announces
    more audio than the file can hold, or when their format is outside what the
    application handles: 8 kHz to 192 kHz, 1 to 8 channels.

    Threading: stateless; call from any thread, typically a background job. Each
    call uses its own readers and writers.
*/
class AudioFileDecoder
{
public:
    /** Lowest and highest sample rates accepted, in Hz. */
    static constexpr int minSampleRate = 8000;
    static constexpr int maxSampleRate = 192000;

    /** Most channels accepted (7.1 surround). */
    static constexpr int maxChannels = 8;

    /** Decodes source into a WAV file at wavTarget, replacing any file there.

        progress (may be null) advances from its start to its end and is polled
        for cancellation between blocks. On success info describes the WAV file
        written; on failure the result's message is one line naming the file,
        nothing is left at wavTarget that was not there before, and info is reset.
    */
    static juce::Result decodeToWav (const juce::File& source, const juce::File& wavTarget, Progress::Ptr progress,
                                     DecodedAudioInfo& info);

private:
    AudioFileDecoder() = delete;
};

} // namespace kalder
