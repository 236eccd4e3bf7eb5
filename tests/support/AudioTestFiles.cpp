#include "AudioTestFiles.h"

#include <cmath>

namespace kalder::test
{

bool writeAudioFile (const juce::File& file, const juce::AudioBuffer<float>& buffer, double sampleRate, int bitsPerSample,
                     int qualityOption)
{
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    auto* format = formats.findFormatForFileExtension (file.getFileExtension());
    if (format == nullptr)
        return false;

    file.deleteFile();
    auto stream = file.createOutputStream();
    if (stream == nullptr)
        return false;

    std::unique_ptr<juce::AudioFormatWriter> writer (format->createWriterFor (
        stream.get(), sampleRate, (unsigned int) buffer.getNumChannels(), bitsPerSample, {}, qualityOption));
    if (writer == nullptr)
        return false;

    stream.release();
    return writer->writeFromAudioSampleBuffer (buffer, 0, buffer.getNumSamples());
}

juce::AudioBuffer<float> readAudioFile (const juce::File& file, double* sampleRate, int* bitsPerSample, juce::String* formatName)
{
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (file));
    if (reader == nullptr)
        return {};

    juce::AudioBuffer<float> buffer ((int) reader->numChannels, (int) reader->lengthInSamples);
    reader->read (buffer.getArrayOfWritePointers(), buffer.getNumChannels(), 0, buffer.getNumSamples());
    if (sampleRate != nullptr)
        *sampleRate = reader->sampleRate;
    if (bitsPerSample != nullptr)
        *bitsPerSample = (int) reader->bitsPerSample;
    if (formatName != nullptr)
        *formatName = reader->getFormatName();
    return buffer;
}

bool isFFmpegAvailable()
{
    juce::ChildProcess process;
    return process.start ("ffmpeg -hide_banner -version") && process.waitForProcessToFinish (10000) && process.getExitCode() == 0;
}

bool runFFmpeg (const juce::StringArray& arguments, juce::String& output)
{
    juce::StringArray command { "ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y" };
    command.addArray (arguments);

    juce::ChildProcess process;
    if (! process.start (command))
    {
        output = "ffmpeg could not be started";
        return false;
    }

    output = process.readAllProcessOutput();
    // Generous: encoders run beside other builds on a shared machine.
    constexpr int timeoutMs = 120000;
    return process.waitForProcessToFinish (timeoutMs) && process.getExitCode() == 0;
}

int findLag (const float* reference, int referenceLength, const float* test, int testLength, int maxLag)
{
    // Compare a window well inside both signals (codec start-up stays out of it).
    const int start = maxLag + 2048;
    const int window = 8192;
    if (start + window + maxLag > juce::jmin (referenceLength, testLength))
        return 0;

    int bestLag = 0;
    double bestError = std::numeric_limits<double>::max();
    for (int lag = -maxLag; lag <= maxLag; ++lag)
    {
        double error = 0.0;
        for (int i = start; i < start + window; ++i)
        {
            const auto d = (double) test[i + lag] - (double) reference[i];
            error += d * d;
        }

        if (error < bestError)
        {
            bestError = error;
            bestLag = lag;
        }
    }

    return bestLag;
}

double alignedSnrDb (const float* reference, int referenceLength, const float* test, int testLength, int lag, int margin)
{
    const int first = juce::jmax (0, -lag) + margin;
    const int last = juce::jmin (referenceLength, testLength - lag) - margin;

    double signal = 0.0, error = 0.0;
    for (int i = first; i < last; ++i)
    {
        const auto d = (double) test[i + lag] - (double) reference[i];
        signal += (double) reference[i] * reference[i];
        error += d * d;
    }

    if (last <= first || signal == 0.0)
        return -400.0;
    return error == 0.0 ? 400.0 : 10.0 * std::log10 (signal / error);
}

} // namespace kalder::test
