#include "WaveformSummary.h"

namespace kalder
{

WaveformSummary WaveformSummary::compute (const juce::File& file, int numBuckets, const std::function<bool()>& shouldStop)
{
    WaveformSummary summary;
    if (numBuckets <= 0)
        return summary;

    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (file));
    if (reader == nullptr || reader->lengthInSamples <= 0 || reader->numChannels <= 0)
        return summary;

    const auto channels = (int) reader->numChannels;
    const auto length = reader->lengthInSamples;
    std::vector<juce::Range<float>> levels ((size_t) channels);
    summary.buckets.ensureStorageAllocated (numBuckets);

    for (int b = 0; b < numBuckets; ++b)
    {
        if (shouldStop && shouldStop())
            return {};

        // Bucket edges are rounded from the exact fraction, so the buckets tile the file.
        const auto start = length * b / numBuckets;
        const auto end = length * (b + 1) / numBuckets;
        juce::Range<float> bucket;
        if (end > start)
        {
            reader->readMaxLevels (start, end - start, levels.data(), channels);
            bucket = levels[0];
            for (int c = 1; c < channels; ++c)
                bucket = bucket.getUnionWith (levels[(size_t) c]);
        }
        summary.buckets.add (bucket);
    }
    summary.numSamples = length;
    return summary;
}

} // namespace kalder
