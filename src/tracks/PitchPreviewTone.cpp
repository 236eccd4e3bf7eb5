#include "PitchPreviewTone.h"

#include <cmath>

namespace kalder
{

void PitchPreviewTone::setPitch (float midi) noexcept
{
    targetMidi = std::isfinite (midi) && midi >= 33.0f && midi <= 112.0f ? midi : -1.0f;
}

void PitchPreviewTone::addTo (juce::AudioBuffer<float>& out, int start, int count, double sampleRate) noexcept
{
    const auto midi = targetMidi.load();
    const auto sounding = midi > 0.0f;
    if ((! sounding && gain <= 0.0f) || sampleRate <= 0.0 || count <= 0)
        return;
    const auto targetHz = sounding ? 440.0 * std::exp2 ((midi - 69.0) / 12.0) : hz;
    if (hz <= 0.0)
        hz = targetHz;
    const auto fadeStep = (float) (1.0 / (0.005 * sampleRate));     // 5 ms fades
    const auto glide = 1.0 - std::exp (-1.0 / (0.01 * sampleRate)); // 10 ms glides
    constexpr double twoPi = juce::MathConstants<double>::twoPi;
    for (int i = 0; i < count; ++i)
    {
        gain = sounding ? std::min (1.0f, gain + fadeStep) : std::max (0.0f, gain - fadeStep);
        hz += (targetHz - hz) * glide;
        phase = std::fmod (phase + twoPi * hz / sampleRate, twoPi);
        const auto v = (float) (std::sin (phase) + 0.5 * std::sin (2.0 * phase) + 0.25 * std::sin (3.0 * phase));
        const auto sample = v * level * gain / 1.75f;
        for (int c = 0; c < out.getNumChannels(); ++c)
            out.addSample (c, start + i, sample);
    }
    if (gain <= 0.0f)
        hz = 0.0;
}

} // namespace kalder
