#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <functional>

namespace kalder::test
{

/** A folder under the system's temporary folder, deleted with everything in it. */
class TemporaryDirectory
{
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    const juce::File& get() const noexcept { return dir; }

private:
    juce::File dir;
    JUCE_DECLARE_NON_COPYABLE (TemporaryDirectory)
};

/** Test signals, deterministic for a given seed. */
juce::AudioBuffer<float> makeNoise (int channels, int samples, juce::int64 seed = 1, float amplitude = 0.5f);
juce::AudioBuffer<float> makeSweep (int channels, int samples, double sampleRate, double f0, double f1);
juce::AudioBuffer<float> makeClicks (int channels, int samples, int spacing);
juce::AudioBuffer<float> makeSine (int channels, int samples, double sampleRate, double frequency, float amplitude = 0.5f);

/** 10 log10 (energy of reference / energy of (test - reference)) over [start, start + length). */
double signalToErrorDb (const float* reference, const float* test, int length);

/** Runs fn on n threads at once and waits for them. */
void runConcurrently (int n, const std::function<void (int)>& fn);

/** Pumps the message loop (on the message thread) until condition holds; false when it
    still does not after timeoutMs. */
bool pumpMessagesUntil (const std::function<bool()>& condition, int timeoutMs = 20000);

} // namespace kalder::test
