#include "tracks/WavParsedAudio.h"
#include "support/AudioTestFiles.h"
#include "tracks/AudioFileDecoder.h"
#include "tracks/FFmpegAudioFormat.h"

#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <vector>

namespace kalder
{
namespace
{

    /** Reads random ranges (some reaching before the start or past the end) of every
        channel and of one channel too many, and compares them with expected, which is
        zero outside its samples. */
    void expectRandomReadsMatch (const ParsedAudio& audio, const juce::AudioBuffer<float>& expected, int numReads,
                                 juce::int64 seed = 5)
    {
        juce::Random random (seed);
        const auto length = expected.getNumSamples();
        std::vector<float> dest;
        for (int r = 0; r < numReads; ++r)
        {
            const auto channel = random.nextInt (expected.getNumChannels() + 1);
            const auto start = (juce::int64) random.nextInt (length + 2000) - 1000;
            const auto n = 1 + random.nextInt (6000);
            // A sentinel after the range catches writes past numSamples.
            dest.assign ((size_t) n + 1, 12345.0f);
            audio.readFrames (channel, start, n, dest.data());

            int mismatches = 0;
            for (int i = 0; i < n; ++i)
            {
                const auto index = start + i;
                const auto inside = channel < expected.getNumChannels() && index >= 0 && index < length;
                const auto want = inside ? expected.getSample (channel, (int) index) : 0.0f;
                mismatches += dest[(size_t) i] != want ? 1 : 0;
            }

            EXPECT_EQ (mismatches, 0) << "channel " << channel << ", start " << start << ", " << n << " samples";
            EXPECT_EQ (dest[(size_t) n], 12345.0f);
        }
    }

    TEST (WavParsedAudioTest, RandomReadsEqualTheFile)
    {
        test::TemporaryDirectory temp;
        for (const auto bits : { 16, 24, 32 })
        {
            SCOPED_TRACE (bits);
            const auto file = temp.get().getChildFile ("audio" + juce::String (bits) + ".wav");
            ASSERT_TRUE (test::writeAudioFile (file, test::makeNoise (3, 100003, bits), 48000.0, bits));

            juce::String error;
            const auto audio = WavParsedAudio::open (file, error);
            ASSERT_NE (audio, nullptr) << error;
            EXPECT_EQ (audio->getNumChannels(), 3);
            EXPECT_EQ (audio->getNumSamples(), 100003);
            EXPECT_EQ (audio->getSampleRate(), 48000);
            EXPECT_EQ (audio->getBitsPerSample(), bits);
            EXPECT_EQ (audio->isFloatingPoint(), bits == 32);

            expectRandomReadsMatch (*audio, test::readAudioFile (file), 200);
        }
    }

    // Playback, pre-rendering and bouncing read a track's audio from their own threads.
    TEST (WavParsedAudioTest, ConcurrentReadersGetTheFile)
    {
        test::TemporaryDirectory temp;
        const auto file = temp.get().getChildFile ("shared.wav");
        ASSERT_TRUE (test::writeAudioFile (file, test::makeNoise (2, 200000, 4), 44100.0, 24));

        juce::String error;
        const auto audio = WavParsedAudio::open (file, error);
        ASSERT_NE (audio, nullptr) << error;
        const auto reference = test::readAudioFile (file);
        test::runConcurrently (4, [&] (int thread) { expectRandomReadsMatch (*audio, reference, 300, 100 + thread); });
    }

    TEST (WavParsedAudioTest, RefusesWhatItCannotMap)
    {
        test::TemporaryDirectory temp;
        juce::String error;

        const auto missing = temp.get().getChildFile ("missing.wav");
        EXPECT_EQ (WavParsedAudio::open (missing, error), nullptr);
        EXPECT_TRUE (error.contains ("missing.wav")) << error;

        const auto flac = temp.get().getChildFile ("really-flac.wav");
        ASSERT_TRUE (test::writeAudioFile (temp.get().getChildFile ("a.flac"), test::makeNoise (1, 1000), 44100.0, 16));
        temp.get().getChildFile ("a.flac").moveFileTo (flac);
        error = {};
        EXPECT_EQ (WavParsedAudio::open (flac, error), nullptr);
        EXPECT_TRUE (error.contains ("really-flac.wav")) << error;

        const auto truncated = temp.get().getChildFile ("truncated.wav");
        ASSERT_TRUE (test::writeAudioFile (truncated, test::makeNoise (2, 10000), 44100.0, 16));
        juce::MemoryBlock data;
        truncated.loadFileAsData (data);
        truncated.replaceWithData (data.getData(), data.getSize() / 2);
        error = {};
        EXPECT_EQ (WavParsedAudio::open (truncated, error), nullptr);
        EXPECT_TRUE (error.contains ("truncated.wav")) << error;
    }

    // The FFmpeg reader serves any order of reads with the samples a sequential read
    // gives: reading ahead skips, reading backwards rewinds.
    TEST (FFmpegAudioFormatTest, RandomReadsEqualASequentialRead)
    {
        if (! test::isFFmpegAvailable())
            GTEST_SKIP() << "the ffmpeg command-line tool is not installed (scripts/setup.sh installs it)";

        test::TemporaryDirectory temp;
        const auto wav = temp.get().getChildFile ("source.wav");
        ASSERT_TRUE (test::writeAudioFile (wav, test::makeNoise (2, 150001, 9), 44100.0, 24));

        for (const auto* codec : { "alac", "aac" })
        {
            SCOPED_TRACE (codec);
            const auto m4a = temp.get().getChildFile (juce::String (codec) + ".m4a");
            juce::String output;
            ASSERT_TRUE (test::runFFmpeg ({ "-i", wav.getFullPathName(), "-c:a", codec, m4a.getFullPathName() }, output))
                << output;

            FFmpegAudioFormat format;
            std::unique_ptr<juce::AudioFormatReader> reader (format.createReaderFor (m4a.createInputStream().release(), true));
            ASSERT_NE (reader, nullptr);
            // Exact for ALAC; FFmpeg's AAC encoder declares a length a few samples off.
            EXPECT_NEAR ((double) reader->lengthInSamples, 150001.0, 64.0);

            juce::AudioBuffer<float> sequential (2, (int) reader->lengthInSamples);
            ASSERT_TRUE (reader->read (sequential.getArrayOfWritePointers(), 2, 0, sequential.getNumSamples()));
            if (juce::String (codec) == "alac")
            {
                // Lossless: the sequential read is the source itself.
                const auto reference = test::readAudioFile (wav);
                int mismatches = 0;
                for (int c = 0; c < 2; ++c)
                    for (int i = 0; i < reference.getNumSamples(); ++i)
                        mismatches += sequential.getSample (c, i) != reference.getSample (c, i) ? 1 : 0;
                EXPECT_EQ (mismatches, 0);
            }

            juce::Random random (3);
            for (int r = 0; r < 40; ++r)
            {
                const auto start = random.nextInt (sequential.getNumSamples());
                const auto n = 1 + random.nextInt (20000);
                juce::AudioBuffer<float> part (2, n);
                reader->read (part.getArrayOfWritePointers(), 2, start, n);

                int mismatches = 0;
                for (int c = 0; c < 2; ++c)
                    for (int i = 0; i < n; ++i)
                    {
                        const auto want = start + i < sequential.getNumSamples() ? sequential.getSample (c, start + i) : 0.0f;
                        mismatches += part.getSample (c, i) != want ? 1 : 0;
                    }
                EXPECT_EQ (mismatches, 0) << "start " << start << ", " << n << " samples";
            }
        }
    }

} // namespace
} // namespace kalder
