#include "TestSignals.h"

#include <juce_events/juce_events.h>

#include <cmath>
#include <thread>
#include <vector>

namespace kalder::test
{

TemporaryDirectory::TemporaryDirectory()
    // A unique name, not the first free one: test programs run in parallel, and two that
    // looked for a free name at the same moment would share (and delete) one folder.
    : dir (juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("kalder-test-" + juce::Uuid().toString()))
{
    dir.createDirectory();
}

TemporaryDirectory::~TemporaryDirectory()
{
    dir.deleteRecursively();
}

juce::AudioBuffer<float> makeNoise (int channels, int samples, juce::int64 seed, float amplitude)
{
    juce::AudioBuffer<float> b (channels, samples);
    juce::Random random (seed);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < samples; ++i)
            b.setSample (c, i, amplitude * (2.0f * random.nextFloat() - 1.0f));
    return b;
}

juce::AudioBuffer<float> makeSweep (int channels, int samples, double sampleRate, double f0, double f1)
{
    juce::AudioBuffer<float> b (channels, samples);
    const auto duration = samples / sampleRate;
    const auto k = std::log (f1 / f0);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < samples; ++i)
        {
            const auto t = i / sampleRate;
            // Exponential sweep: the phase is the integral of f0 * exp (k t / duration).
            const auto phase = 2.0 * juce::MathConstants<double>::pi * f0 * duration / k * (std::exp (k * t / duration) - 1.0);
            b.setSample (c, i, (float) (0.5 * std::sin (phase + c)));
        }
    return b;
}

juce::AudioBuffer<float> makeClicks (int channels, int samples, int spacing)
{
    juce::AudioBuffer<float> b (channels, samples);
    b.clear();
    for (int c = 0; c < channels; ++c)
    {
        for (int i = c; i < samples; i += spacing)
            b.setSample (c, i, (i / spacing) % 2 == 0 ? 0.9f : -0.7f);
        // The very first and very last samples too.
        b.setSample (c, 0, 0.8f);
        b.setSample (c, samples - 1, -0.8f);
    }
    return b;
}

juce::AudioBuffer<float> makeSine (int channels, int samples, double sampleRate, double frequency, float amplitude)
{
    juce::AudioBuffer<float> b (channels, samples);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < samples; ++i)
            b.setSample (c, i,
                         (float) (amplitude * std::sin (2.0 * juce::MathConstants<double>::pi * frequency * i / sampleRate)));
    return b;
}

double signalToErrorDb (const float* reference, const float* test, int length)
{
    double signal = 0.0, error = 0.0;
    for (int i = 0; i < length; ++i)
    {
        signal += (double) reference[i] * reference[i];
        const auto e = (double) test[i] - reference[i];
        error += e * e;
    }
    if (error == 0.0)
        return 400.0;
    return 10.0 * std::log10 (signal / error);
}

void runConcurrently (int n, const std::function<void (int)>& fn)
{
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i)
        threads.emplace_back (fn, i);
    for (auto& t : threads)
        t.join();
}

bool pumpMessagesUntil (const std::function<bool()>& condition, int timeoutMs)
{
    const auto deadline = juce::Time::getMillisecondCounterHiRes() + timeoutMs;
    while (! condition())
    {
        if (juce::Time::getMillisecondCounterHiRes() > deadline)
            return false;
        juce::MessageManager::getInstance()->runDispatchLoopUntil (5); // ms per pump
    }
    return true;
}

} // namespace kalder::test
