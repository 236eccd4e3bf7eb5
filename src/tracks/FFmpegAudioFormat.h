#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

namespace kalder
{

/**
    A read-only juce::AudioFormat backed by FFmpeg (libavformat, libavcodec,
    libswresample): it opens M4A/AAC, ALAC, Opus and everything else FFmpeg
    decodes that JUCE's own formats cannot.

    It is registered after JUCE's basic formats (see AudioFormats) and answers
    canHandleFile() for any file, so that it is the last resort for files whose
    extension is unknown or misleading.

    Readers it creates:
    - read from the juce::InputStream they are given (they own it), never from
      a path, so they also work on memory streams;
    - know their length when they open: from a scan of the packets (durations
      less the encoder delay and padding the container declares) for MP4/M4A,
      MP3, WAV, AIFF, CAF and raw FLAC, which matches the declared length
      (edit lists, LAME headers) to the sample; by decoding the stream once for
      other containers (Ogg, Matroska), whose packet durations do not add up;
    - deliver float samples for codecs that decode to float (AAC, MP3, Vorbis,
      Opus) and left-justified 32-bit integers for integer codecs (ALAC, FLAC,
      PCM), with bitsPerSample giving the source's resolution;
    - are fastest when read sequentially. Reading ahead decodes and drops the
      samples in between; reading backwards reopens the stream and decodes from
      the start. Both are sample-exact;
    - return false from read() when the stream ends well before the announced
      length (a truncated file) or when too many packets fail to decode; a packet
      that fails alone is replaced by silence of its duration so that the audio
      after it keeps its timing.

    Ownership: the format is owned by an AudioFormatManager; each reader is owned
    by whoever created it.

    Threading: the format may create readers from any thread. A reader must be
    used by one thread at a time.
*/
class FFmpegAudioFormat final : public juce::AudioFormat
{
public:
    FFmpegAudioFormat();
    ~FFmpegAudioFormat() override;

    /** Every file is worth a try: this format comes after all the others. */
    bool canHandleFile (const juce::File& fileToTest) override;

    juce::Array<int> getPossibleSampleRates() override;
    juce::Array<int> getPossibleBitDepths() override;
    bool canDoStereo() override { return true; }
    bool canDoMono() override { return true; }
    bool isCompressed() override { return true; }

    /** Returns a reader for the stream's best audio stream, or nullptr when FFmpeg
        finds no decodable audio in it. */
    juce::AudioFormatReader* createReaderFor (juce::InputStream* sourceStream, bool deleteStreamIfOpeningFails) override;

    /** Writing is not supported: always returns nullptr. */
    juce::AudioFormatWriter* createWriterFor (juce::OutputStream* streamToWriteTo, double sampleRateToUse,
                                              unsigned int numberOfChannels, int bitsPerSample,
                                              const juce::StringPairArray& metadataValues, int qualityOptionIndex) override;

    using juce::AudioFormat::createWriterFor;

    /** The name this format reports. */
    static const char* const formatName;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FFmpegAudioFormat)
};

} // namespace kalder
