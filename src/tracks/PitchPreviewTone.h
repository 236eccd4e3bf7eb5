#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <atomic>

namespace kalder
{

/**
    The tone the melody editor plays at the pitch under the pen: a soft tone (a sine with
    two quieter harmonics) added to what playback plays, so it sounds over the song or
    alone, and never moves or stops playback. It glides to a new pitch and fades in and
    out in a few milliseconds, so pen strokes never click.

    Threading: setPitch() from any thread; addTo() on the audio thread (real-time safe).
*/
class PitchPreviewTone
{
public:
    /** The MIDI pitch to sound; outside 33..112 (or -1) it fades out. */
    void setPitch (float midi) noexcept;
    float getPitch() const noexcept { return targetMidi.load(); }

    /** Adds the tone to samples [start, start + count) of every channel of out. */
    void addTo (juce::AudioBuffer<float>& out, int start, int count, double sampleRate) noexcept;

    static constexpr float level = 0.12f;

private:
    std::atomic<float> targetMidi { -1.0f };
    double phase = 0.0, hz = 0.0;
    float gain = 0.0f;
};

} // namespace kalder
