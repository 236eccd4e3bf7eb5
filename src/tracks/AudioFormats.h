#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

#include <memory>

namespace kalder
{

/**
    The audio formats the application reads: JUCE's basic formats (WAV, AIFF,
    FLAC, Ogg Vorbis, MP3) first, then FFmpegAudioFormat for M4A/AAC and
    everything else FFmpeg decodes.

    The order matters: a format manager asks its formats in turn, so JUCE's own
    readers (exact lengths, memory-mapped WAV) win for the files they know and
    FFmpeg only sees what they refuse.

    Threading: a format manager is not shared between threads; create one per
    thread or per job, which is cheap.
*/
struct AudioFormats
{
    /** Registers the formats above with manager, WAV as the default. */
    static void registerFormats (juce::AudioFormatManager& manager);

    /** A new manager with the formats above. */
    static std::unique_ptr<juce::AudioFormatManager> createManager();
};

} // namespace kalder
