#include "tracks/AudioFileDecoder.h"
#include "support/AudioTestFiles.h"
#include "tracks/TrackIds.h"
#include "tracks/TrackLoader.h"
#include "tracks/TrackRenderer.h"

#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace kalder
{
namespace
{

    //==============================================================================
    /** A source folder, an output folder and the target in it. */
    class DecoderFixture
    {
    public:
        DecoderFixture()
        {
            sources = temp.get().getChildFile ("in");
            outputs = temp.get().getChildFile ("out");
            sources.createDirectory();
            outputs.createDirectory();
        }

        juce::File source (const juce::String& name) const { return sources.getChildFile (name); }
        juce::File target() const { return outputs.getChildFile ("track-thumbnail.wav"); }

        /** Everything in the output folder, hidden files included. */
        juce::StringArray outputFiles() const
        {
            juce::StringArray names;
            for (const auto& entry : juce::RangedDirectoryIterator (outputs, false, "*", juce::File::findFilesAndDirectories))
                names.add (entry.getFile().getFileName());
            return names;
        }

        juce::Result decode (const juce::File& file, DecodedAudioInfo& info, Progress::Ptr progress = new Progress())
        {
            return AudioFileDecoder::decodeToWav (file, target(), progress, info);
        }

        /** Asserts a refusal that names the file on one line and writes nothing. */
        void expectRefused (const juce::File& file, const juce::String& expectedWords = {})
        {
            SCOPED_TRACE (file.getFileName().toStdString());
            DecodedAudioInfo info;
            info.numSamples = 123;
            const auto result = decode (file, info);
            EXPECT_TRUE (result.failed());
            const auto message = result.getErrorMessage();
            EXPECT_TRUE (message.contains (file.getFileName())) << message;
            EXPECT_FALSE (message.containsAnyOf ("\r\n")) << message;
            if (expectedWords.isNotEmpty())
            {
                EXPECT_TRUE (message.containsIgnoreCase (expectedWords)) << message;
            }
            EXPECT_EQ (info.numSamples, 0);
            EXPECT_TRUE (outputFiles().isEmpty()) << outputFiles().joinIntoString (", ");
        }

        test::TemporaryDirectory temp;
        juce::File sources, outputs;
    };

    /** Different content in every channel, so that a swap or a copy shows. */
    juce::AudioBuffer<float> makeTones (int channels, int samples, double sampleRate)
    {
        juce::AudioBuffer<float> b (channels, samples);
        for (int c = 0; c < channels; ++c)
        {
            // A steady partial and a sweep per channel, all below 3.4 kHz so that
            // they survive 8 kHz audio. The sweep keeps the signal from repeating, so
            // that a lag search has one clear answer.
            const auto f = 220.0 * (1.0 + 0.37 * c);
            const auto sweepStart = 600.0 + 150.0 * c;
            const auto sweepEnd = 2400.0 + 100.0 * c;
            const auto duration = samples / sampleRate;
            for (int i = 0; i < samples; ++i)
            {
                const auto t = i / sampleRate;
                const auto sweepPhase = sweepStart * t + (sweepEnd - sweepStart) * t * t / (2.0 * duration);
                b.setSample (c, i,
                             (float) (0.4 * std::sin (juce::MathConstants<double>::twoPi * f * t)
                                      + 0.2 * std::sin (juce::MathConstants<double>::twoPi * sweepPhase + c)));
            }
        }
        return b;
    }

    void expectWavFileMatches (const juce::File& wav, const DecodedAudioInfo& info, const juce::AudioBuffer<float>& expected,
                               double expectedRate)
    {
        juce::WavAudioFormat wavFormat;
        std::unique_ptr<juce::AudioFormatReader> reader (wavFormat.createReaderFor (wav.createInputStream().release(), true));
        ASSERT_NE (reader, nullptr);
        EXPECT_EQ (reader->sampleRate, expectedRate);
        EXPECT_EQ ((int) reader->numChannels, info.numChannels);
        EXPECT_EQ (reader->lengthInSamples, info.numSamples);
        EXPECT_EQ ((int) reader->bitsPerSample, info.bitsPerSample);
        EXPECT_EQ (reader->usesFloatingPointData, info.isFloatingPoint);

        const auto decoded = test::readAudioFile (wav);
        ASSERT_EQ (decoded.getNumChannels(), expected.getNumChannels());
        ASSERT_EQ (decoded.getNumSamples(), expected.getNumSamples());
        for (int c = 0; c < expected.getNumChannels(); ++c)
        {
            int mismatches = 0;
            for (int i = 0; i < expected.getNumSamples(); ++i)
                mismatches += decoded.getSample (c, i) != expected.getSample (c, i) ? 1 : 0;
            EXPECT_EQ (mismatches, 0) << "channel " << c;
        }
    }

    //==============================================================================
    // Formats JUCE reads losslessly: the WAV file must hold exactly the samples JUCE's
    // own reader gets from the source, at the source's resolution.
    struct LosslessCase
    {
        const char* extension;
        int bits, rate, channels;
        int expectedBits;
        bool expectedFloat;
        const char* formatName;
    };

    // Readable names in test output (and no printing of padding bytes).
    std::string describe (const LosslessCase& c)
    {
        return std::string (c.extension + 1) + std::to_string (c.bits) + "Bit" + std::to_string (c.rate) + "Hz"
               + std::to_string (c.channels) + "Channels";
    }

    [[maybe_unused]] void PrintTo (const LosslessCase& c, std::ostream* os)
    {
        *os << describe (c);
    }

    class LosslessDecodeTest : public ::testing::TestWithParam<LosslessCase>
    {};

    TEST_P (LosslessDecodeTest, DecodesBitExactAtTheSourceRateAndResolution)
    {
        const auto& p = GetParam();
        DecoderFixture fixture;
        const auto source = fixture.source (juce::String ("source") + p.extension);

        // An odd length that is not a multiple of the decoder's blocks.
        const int length = p.rate + 40961;
        ASSERT_TRUE (test::writeAudioFile (source, test::makeNoise (p.channels, length, 11, 0.9f), p.rate, p.bits));

        DecodedAudioInfo info;
        const auto result = fixture.decode (source, info);
        ASSERT_TRUE (result.wasOk()) << result.getErrorMessage();

        EXPECT_EQ (info.sampleRate, p.rate);
        EXPECT_EQ (info.numChannels, p.channels);
        EXPECT_EQ (info.numSamples, length);
        EXPECT_EQ (info.bitsPerSample, p.expectedBits);
        EXPECT_EQ (info.isFloatingPoint, p.expectedFloat);
        EXPECT_EQ (info.formatName, p.formatName);

        expectWavFileMatches (fixture.target(), info, test::readAudioFile (source), p.rate);
        EXPECT_EQ (fixture.outputFiles(), juce::StringArray { fixture.target().getFileName() });
    }

    INSTANTIATE_TEST_SUITE_P (JuceFormats, LosslessDecodeTest,
                              ::testing::Values (LosslessCase { ".wav", 16, 44100, 2, 16, false, "WAV file" },
                                                 LosslessCase { ".wav", 24, 96000, 1, 24, false, "WAV file" },
                                                 LosslessCase { ".wav", 32, 48000, 2, 32, true, "WAV file" },
                                                 LosslessCase { ".wav", 8, 8000, 1, 16, false, "WAV file" },
                                                 LosslessCase { ".wav", 16, 22050, 8, 16, false, "WAV file" },
                                                 LosslessCase { ".wav", 24, 192000, 2, 24, false, "WAV file" },
                                                 LosslessCase { ".aiff", 16, 22050, 2, 16, false, "AIFF file" },
                                                 LosslessCase { ".aiff", 24, 48000, 3, 24, false, "AIFF file" },
                                                 LosslessCase { ".flac", 16, 44100, 6, 16, false, "FLAC file" },
                                                 LosslessCase { ".flac", 24, 96000, 2, 24, false, "FLAC file" },
                                                 LosslessCase { ".flac", 16, 8000, 1, 16, false, "FLAC file" }),
                              [] (const auto& info) { return describe (info.param); });

    //==============================================================================
    // Files that only FFmpeg opens. Lossless codecs must come out bit-exact with the
    // exact length; lossy ones at the exact length (the containers below declare the
    // encoder's delay and padding, and FFmpeg trims them) and, once aligned, close to
    // the source.
    struct FFmpegCase
    {
        const char* name;
        const char* extension;
        const char* codecArguments;
        int rate, channels;
        bool lossless;
        const char* formatName;
    };

    [[maybe_unused]] void PrintTo (const FFmpegCase& c, std::ostream* os)
    {
        *os << c.name;
    }

    class FFmpegDecodeTest : public ::testing::TestWithParam<FFmpegCase>
    {};

    TEST_P (FFmpegDecodeTest, DecodesToTheSourceRateChannelsLengthAndContent)
    {
        if (! test::isFFmpegAvailable())
            GTEST_SKIP() << "the ffmpeg command-line tool is not installed (scripts/setup.sh installs it)";

        const auto& p = GetParam();
        DecoderFixture fixture;
        const auto wav = fixture.source ("reference.wav");
        const auto encoded = fixture.source (juce::String ("encoded") + p.extension);

        // 2.5 s plus an odd remainder.
        const int length = p.rate * 5 / 2 + 777;
        ASSERT_TRUE (test::writeAudioFile (wav, makeTones (p.channels, length, p.rate), p.rate, p.lossless ? 24 : 16));

        juce::StringArray arguments { "-i", wav.getFullPathName() };
        arguments.addTokens (p.codecArguments, " ", {});
        arguments.add (encoded.getFullPathName());
        juce::String ffmpegOutput;
        ASSERT_TRUE (test::runFFmpeg (arguments, ffmpegOutput)) << ffmpegOutput;

        DecodedAudioInfo info;
        const auto result = fixture.decode (encoded, info);
        ASSERT_TRUE (result.wasOk()) << result.getErrorMessage();

        EXPECT_EQ (info.sampleRate, p.rate);
        EXPECT_EQ (info.numChannels, p.channels);
        EXPECT_EQ (info.formatName, p.formatName);
        const auto reference = test::readAudioFile (wav);

        if (p.lossless)
        {
            EXPECT_EQ (info.numSamples, length);
            EXPECT_EQ (info.bitsPerSample, 24);
            EXPECT_FALSE (info.isFloatingPoint);
            expectWavFileMatches (fixture.target(), info, reference, p.rate);
            return;
        }

        EXPECT_TRUE (info.isFloatingPoint);
        EXPECT_EQ (info.bitsPerSample, 32);
        // The length is the one the container declares. FFmpeg's own AAC encoder
        // declares its last frame a few dozen samples off the input's end (111000 for
        // 111027 samples at 44.1 kHz, 20784 for 20777 at 8 kHz), so allow that much.
        constexpr int encoderLengthError = 64;
        EXPECT_NEAR ((double) info.numSamples, (double) length, encoderLengthError);

        const auto decoded = test::readAudioFile (fixture.target());
        ASSERT_EQ (decoded.getNumChannels(), p.channels);
        for (int c = 0; c < p.channels; ++c)
        {
            // The search range covers a whole AAC priming (2112 samples) so that an
            // untrimmed delay shows as a lag rather than as a poor match.
            const auto lag = test::findLag (reference.getReadPointer (c), reference.getNumSamples(), decoded.getReadPointer (c),
                                            decoded.getNumSamples(), 2200);
            EXPECT_EQ (lag, 0) << "channel " << c;

            // Tonal content at 160 kbit/s per channel pair leaves coding noise about 30 dB
            // or more below the signal; a swapped or mixed channel, a wrong rate or a lost
            // frame brings the ratio near or below 0 dB.
            const auto snr = test::alignedSnrDb (reference.getReadPointer (c), reference.getNumSamples(),
                                                 decoded.getReadPointer (c), decoded.getNumSamples(), lag, 2048);
            EXPECT_GT (snr, 20.0) << "channel " << c;
        }
    }

    INSTANTIATE_TEST_SUITE_P (
        OnlyFFmpeg, FFmpegDecodeTest,
        ::testing::Values (FFmpegCase { "AacStereo44k", ".m4a", "-c:a aac -b:a 192k", 44100, 2, false, "FFmpeg file" },
                           FFmpegCase { "AacMono8k", ".m4a", "-c:a aac -b:a 48k", 8000, 1, false, "FFmpeg file" },
                           FFmpegCase { "Aac5ChannelsAt48k", ".m4a", "-c:a aac -b:a 384k", 48000, 5, false, "FFmpeg file" },
                           FFmpegCase { "OpusInOgg", ".opus", "-c:a libopus -b:a 192k", 48000, 2, false, "FFmpeg file" },
                           FFmpegCase { "Alac24Bit96k", ".m4a", "-c:a alac -sample_fmt s32p", 96000, 2, true, "FFmpeg file" },
                           FFmpegCase { "FlacInMatroska", ".mka", "-c:a flac", 22050, 8, true, "FFmpeg file" },
                           FFmpegCase { "WavUnderAnUnknownName", ".dat", "-f wav -c:a pcm_s24le", 192000, 1, true,
                                        "FFmpeg file" }),
        [] (const auto& info) { return std::string (info.param.name); });

    //==============================================================================
    // MP3 goes through FFmpeg, which trims the encoder's delay and padding: the audio
    // starts on its first sample at every rate (JUCE's own reader, kept as a last
    // resort, starts late by 576 + 529 samples and fails on MPEG-2 files).
    TEST (Mp3DecodeTest, DecodesWithinTheCodecsDelayAndPadding)
    {
        if (! test::isFFmpegAvailable())
            GTEST_SKIP() << "the ffmpeg command-line tool is not installed (scripts/setup.sh installs it)";

        for (const auto& [rate, channels] : { std::pair { 44100, 2 }, std::pair { 48000, 1 }, std::pair { 32000, 2 },
                                              std::pair { 22050, 2 }, std::pair { 16000, 1 } })
        {
            SCOPED_TRACE (juce::String (rate) + " Hz, " + juce::String (channels) + " channels");
            DecoderFixture fixture;
            const auto wav = fixture.source ("reference.wav");
            const auto mp3 = fixture.source ("encoded.mp3");
            const int length = rate * 5 / 2 + 333;
            ASSERT_TRUE (test::writeAudioFile (wav, makeTones (channels, length, rate), rate, 16));

            juce::String output;
            ASSERT_TRUE (test::runFFmpeg (
                { "-i", wav.getFullPathName(), "-c:a", "libmp3lame", "-b:a", "192k", mp3.getFullPathName() }, output))
                << output;

            DecodedAudioInfo info;
            const auto result = fixture.decode (mp3, info);
            ASSERT_TRUE (result.wasOk()) << result.getErrorMessage();
            EXPECT_EQ (info.sampleRate, rate);
            EXPECT_EQ (info.numChannels, channels);
            EXPECT_EQ (info.formatName, "FFmpeg file");
            EXPECT_TRUE (info.isFloatingPoint);

            // Delay (at most 576 + 529) plus padding (less than one 1152-sample frame,
            // and one more frame for the encoder's flush).
            const auto gapless = info.formatName == "FFmpeg file";
            constexpr int delay = 576 + 529;
            constexpr int delayAndPadding = delay + 2 * 1152;
            EXPECT_GE (info.numSamples, length);
            // FFmpeg trims what the LAME header declares, which at 16 kHz falls short of
            // the real padding (40367 samples decoded for 40333, as the ffmpeg tool
            // itself decodes): up to one 576-sample MPEG-2 frame more.
            constexpr int mpeg2Frame = 576;
            EXPECT_LE (info.numSamples, length + (gapless ? mpeg2Frame : delayAndPadding));

            const auto reference = test::readAudioFile (wav);
            const auto decoded = test::readAudioFile (fixture.target());
            ASSERT_EQ (decoded.getNumChannels(), channels);
            for (int c = 0; c < channels; ++c)
            {
                const auto lag = test::findLag (reference.getReadPointer (c), reference.getNumSamples(),
                                                decoded.getReadPointer (c), decoded.getNumSamples(), 2200);
                EXPECT_GE (lag, 0);
                EXPECT_LE (lag, gapless ? 0 : delay + 1);
                EXPECT_GT (test::alignedSnrDb (reference.getReadPointer (c), reference.getNumSamples(),
                                               decoded.getReadPointer (c), decoded.getNumSamples(), lag, 2048),
                           20.0)
                    << "channel " << c;
            }
        }
    }

    // Ogg Vorbis written by JUCE: the last page's granule position gives the exact length.
    TEST (OggDecodeTest, DecodesThroughJuceAtTheExactLength)
    {
        DecoderFixture fixture;
        const auto ogg = fixture.source ("source.ogg");
        constexpr int rate = 48000;
        const int length = rate * 2 + 555;
        const auto tones = makeTones (2, length, rate);

        juce::OggVorbisAudioFormat vorbis;
        const auto qualities = vorbis.getQualityOptions();
        ASSERT_TRUE (test::writeAudioFile (ogg, tones, rate, 16, qualities.size() - 1));

        DecodedAudioInfo info;
        const auto result = fixture.decode (ogg, info);
        ASSERT_TRUE (result.wasOk()) << result.getErrorMessage();
        EXPECT_EQ (info.formatName, "Ogg-Vorbis file");
        EXPECT_EQ (info.sampleRate, rate);
        EXPECT_EQ (info.numChannels, 2);
        EXPECT_EQ (info.numSamples, length);
        EXPECT_TRUE (info.isFloatingPoint);

        const auto decoded = test::readAudioFile (fixture.target());
        for (int c = 0; c < 2; ++c)
            EXPECT_GT (test::alignedSnrDb (tones.getReadPointer (c), length, decoded.getReadPointer (c), decoded.getNumSamples(),
                                           0, 2048),
                       20.0)
                << "channel " << c;
    }

    //==============================================================================
    /** A canonical 44-byte-header WAV file with the given header fields and numFrames
        frames of zeros; a dataBytesOverride of 0 or more replaces the data chunk's size. */
    juce::MemoryBlock makeWav (int channels, juce::uint32 rate, int bits, juce::uint32 numFrames,
                               juce::int64 dataBytesOverride = -1)
    {
        juce::MemoryOutputStream out;
        const auto blockAlign = channels * bits / 8;
        const auto dataBytes = (juce::uint32) (numFrames * (juce::uint32) blockAlign);
        out.write ("RIFF", 4);
        out.writeInt ((int) (36 + dataBytes));
        out.write ("WAVEfmt ", 8);
        out.writeInt (16);
        out.writeShort (1); // PCM
        out.writeShort ((short) channels);
        out.writeInt ((int) rate);
        out.writeInt ((int) (rate * (juce::uint32) blockAlign));
        out.writeShort ((short) blockAlign);
        out.writeShort ((short) bits);
        out.write ("data", 4);
        out.writeInt ((int) (dataBytesOverride >= 0 ? (juce::uint32) dataBytesOverride : dataBytes));
        out.writeRepeatedByte (0, dataBytes);
        return out.getMemoryBlock();
    }

    void patchBytes (const juce::File& file, juce::int64 offset, std::initializer_list<juce::uint8> bytes)
    {
        juce::MemoryBlock data;
        file.loadFileAsData (data);
        ASSERT_LE (offset + (juce::int64) bytes.size(), (juce::int64) data.getSize());
        for (auto b : bytes)
            data[(size_t) offset++] = (char) b;
        file.replaceWithData (data.getData(), data.getSize());
    }

    void truncateFile (const juce::File& file, double fraction)
    {
        juce::MemoryBlock data;
        file.loadFileAsData (data);
        file.replaceWithData (data.getData(), (size_t) (data.getSize() * fraction));
    }

    void writeRandomBytes (const juce::File& file, size_t size, juce::int64 seed)
    {
        juce::MemoryBlock data (size);
        juce::Random random (seed);
        random.fillBitsRandomly (data.getData(), data.getSize());
        file.replaceWithData (data.getData(), data.getSize());
    }

    TEST (BadInputTest, EveryBadInputIsRefusedWithAClearMessageAndNothingWritten)
    {
        DecoderFixture fixture;
        const auto tones = makeTones (2, 44100, 44100.0);

        fixture.expectRefused (fixture.source ("missing.wav"), "does not exist");

        const auto empty = fixture.source ("empty.wav");
        empty.create();
        fixture.expectRefused (empty, "empty");

        const auto folder = fixture.source ("folder.wav");
        folder.createDirectory();
        fixture.expectRefused (folder, "folder");

        for (const auto* name : { "noise.wav", "noise.aiff", "noise.flac", "noise.ogg", "noise.mp3", "noise.m4a", "noise.bin" })
        {
            writeRandomBytes (fixture.source (name), 64 * 1024, 7);
            fixture.expectRefused (fixture.source (name));
        }

        const auto text = fixture.source ("notes.wav");
        text.replaceWithText (juce::String::repeatedString ("This is not audio.\n", 1000));
        fixture.expectRefused (text);

        const auto truncated = fixture.source ("truncated.wav");
        ASSERT_TRUE (test::writeAudioFile (truncated, tones, 44100.0, 16));
        truncateFile (truncated, 0.5);
        fixture.expectRefused (truncated, "truncated");

        // Headers that announce gigabytes the file does not hold.
        const auto hugeData = fixture.source ("huge-data.wav");
        hugeData.replaceWithData (makeWav (2, 44100, 16, 1000).getData(), makeWav (2, 44100, 16, 1000).getSize());
        patchBytes (hugeData, 40, { 0xf0, 0xff, 0xff, 0xff });
        fixture.expectRefused (hugeData, "truncated");

        const auto hugeAiff = fixture.source ("huge.aiff");
        ASSERT_TRUE (test::writeAudioFile (hugeAiff, tones, 44100.0, 16));
        {
            // The SSND chunk's size, just after its id (AIFF sizes are big-endian).
            juce::MemoryBlock data;
            hugeAiff.loadFileAsData (data);
            auto offset = -1;
            for (size_t i = 0; i + 4 <= data.getSize() && offset < 0; ++i)
                if (std::memcmp ((const char*) data.getData() + i, "SSND", 4) == 0)
                    offset = (int) i;
            ASSERT_GT (offset, 0);
            patchBytes (hugeAiff, offset + 4, { 0xc0, 0x00, 0x00, 0x00 });
        }
        fixture.expectRefused (hugeAiff, "truncated");

        const auto hugeFlac = fixture.source ("huge.flac");
        ASSERT_TRUE (test::writeAudioFile (hugeFlac, tones, 44100.0, 16));
        // STREAMINFO's 36-bit sample count: the low nibble of byte 21 and bytes 22 to 25.
        juce::MemoryBlock flacData;
        hugeFlac.loadFileAsData (flacData);
        patchBytes (hugeFlac, 21, { (juce::uint8) ((juce::uint8) flacData[21] | 0x0f), 0xff, 0xff, 0xff, 0xff });
        fixture.expectRefused (hugeFlac, "damaged");

        // Formats outside what the application handles.
        struct HeaderCase
        {
            const char* name;
            int channels;
            juce::uint32 rate;
            const char* words;
        };
        for (const auto& c :
             { HeaderCase { "no-channels.wav", 0, 44100, "" }, HeaderCase { "twelve-channels.wav", 12, 44100, "12 channels" },
               HeaderCase { "one-hertz.wav", 1, 1, "sample rate" }, HeaderCase { "four-gigahertz.wav", 2, 0xffffffff, "" },
               HeaderCase { "4khz.wav", 1, 4000, "sample rate" }, HeaderCase { "384khz.wav", 2, 384000, "sample rate" } })
        {
            const auto file = fixture.source (c.name);
            const auto data = makeWav (c.channels, c.rate, 16, 4000);
            file.replaceWithData (data.getData(), data.getSize());
            fixture.expectRefused (file, c.words);
        }

        if (test::isFFmpegAvailable())
        {
            // An M4A file cut short: with the index in front, the packets it lists are
            // missing; with the index at the end, the index itself is.
            const auto wav = fixture.source ("for-m4a.wav");
            ASSERT_TRUE (test::writeAudioFile (wav, makeTones (2, 44100 * 4, 44100.0), 44100.0, 16));
            juce::String output;
            const auto front = fixture.source ("index-in-front.m4a");
            const auto back = fixture.source ("index-at-end.m4a");
            ASSERT_TRUE (test::runFFmpeg (
                { "-i", wav.getFullPathName(), "-c:a", "aac", "-movflags", "+faststart", front.getFullPathName() }, output))
                << output;
            ASSERT_TRUE (test::runFFmpeg ({ "-i", wav.getFullPathName(), "-c:a", "aac", back.getFullPathName() }, output))
                << output;
            truncateFile (front, 0.6);
            truncateFile (back, 0.6);
            fixture.expectRefused (front, "truncated");
            fixture.expectRefused (back);
        }
    }

    // Damage inside a stream: the decoder may recover or refuse, but it never crashes,
    // and a refusal leaves nothing behind.
    TEST (BadInputTest, DamagedStreamsNeverCrashOrLeaveHalfFiles)
    {
        DecoderFixture fixture;
        const auto tones = makeTones (2, 44100 * 2, 44100.0);
        juce::Array<juce::File> originals;
        for (const auto* name : { "a.wav", "a.flac", "a.ogg" })
        {
            ASSERT_TRUE (test::writeAudioFile (fixture.source (name), tones, 44100.0, 16, 0));
            originals.add (fixture.source (name));
        }

        if (test::isFFmpegAvailable())
        {
            juce::String output;
            for (const auto* name : { "a.m4a", "a.mp3" })
            {
                ASSERT_TRUE (test::runFFmpeg (
                    { "-i", fixture.source ("a.wav").getFullPathName(), fixture.source (name).getFullPathName() }, output))
                    << output;
                originals.add (fixture.source (name));
            }
        }

        juce::Random random (42);
        for (const auto& original : originals)
        {
            juce::MemoryBlock data;
            original.loadFileAsData (data);
            for (int trial = 0; trial < 6; ++trial)
            {
                // Overwrite a few runs of bytes past the first kilobyte (or anywhere, in
                // every other trial) with random values.
                auto damaged = data;
                const auto minOffset = trial % 2 == 0 ? 1024 : 0;
                for (int run = 0; run < 4; ++run)
                {
                    const auto offset = minOffset + random.nextInt ((int) damaged.getSize() - minOffset - 64);
                    for (int i = 0; i < 48; ++i)
                        damaged[(size_t) (offset + i)] = (char) random.nextInt (256);
                }

                const auto file = fixture.source ("damaged-" + juce::String (trial) + original.getFileExtension());
                file.replaceWithData (damaged.getData(), damaged.getSize());
                SCOPED_TRACE (file.getFileName().toStdString());

                DecodedAudioInfo info;
                fixture.target().deleteFile();
                const auto result = fixture.decode (file, info);
                EXPECT_EQ (result.wasOk(), fixture.target().existsAsFile()) << result.getErrorMessage();
                if (result.failed())
                {
                    EXPECT_TRUE (result.getErrorMessage().contains (file.getFileName())) << result.getErrorMessage();
                    EXPECT_FALSE (result.getErrorMessage().containsAnyOf ("\r\n"));
                }
                else
                {
                    EXPECT_EQ (info.numChannels, 2);
                    EXPECT_GT (info.numSamples, 0);
                }

                fixture.target().deleteFile();
                EXPECT_TRUE (fixture.outputFiles().isEmpty());
            }
        }
    }

    //==============================================================================
    // An existing target survives every failure unchanged.
    class DecodeTargetTest : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            source = fixture.source ("long.wav");
            // 10 s: about 14 of the decoder's blocks.
            ASSERT_TRUE (test::writeAudioFile (source, test::makeNoise (2, 441000, 3), 44100.0, 16));
            fixture.target().replaceWithText ("previous audio");
        }

        void expectPreviousTargetIntact()
        {
            EXPECT_EQ (fixture.target().loadFileAsString(), "previous audio");
            EXPECT_EQ (fixture.outputFiles(), juce::StringArray { fixture.target().getFileName() });
        }

        DecoderFixture fixture;
        juce::File source;
    };

    class CancellingListener final : public Progress::Listener
    {
    public:
        explicit CancellingListener (float at) : threshold (at) {}

        void progressChanged (float value, Progress::Ptr source) override
        {
            values.add (value);
            if (value >= threshold)
                source->cancel();
        }

        float threshold;
        juce::Array<float> values;
    };

    TEST_F (DecodeTargetTest, CancellationLeavesThePreviousTarget)
    {
        Progress::Ptr progress = new Progress();
        CancellingListener listener (0.25f);
        progress->addListener (&listener);

        DecodedAudioInfo info;
        const auto result = fixture.decode (source, info, progress);
        progress->removeListener (&listener);

        EXPECT_TRUE (result.failed());
        EXPECT_TRUE (result.getErrorMessage().contains ("cancelled")) << result.getErrorMessage();
        EXPECT_LT (progress->getProgress(), 0.5f);
        expectPreviousTargetIntact();
    }

    TEST_F (DecodeTargetTest, ProgressAdvancesBlockByBlockToTheEnd)
    {
        Progress::Ptr progress = new Progress();
        CancellingListener listener (2.0f); // never cancels
        progress->addListener (&listener);

        DecodedAudioInfo info;
        const auto result = fixture.decode (source, info, progress);
        progress->removeListener (&listener);

        ASSERT_TRUE (result.wasOk()) << result.getErrorMessage();
        EXPECT_EQ (progress->getProgress(), 1.0f);
        EXPECT_GE (listener.values.size(), 10);
        EXPECT_NE (fixture.target().loadFileAsString(), "previous audio");
    }

    TEST_F (DecodeTargetTest, UnwritableTargetsFailClearly)
    {
        DecodedAudioInfo info;
        // A folder that does not exist, and a "folder" that is a file.
        for (const auto& target : { fixture.temp.get().getChildFile ("nowhere/x.wav"), fixture.target().getChildFile ("x.wav") })
        {
            const auto result = AudioFileDecoder::decodeToWav (source, target, nullptr, info);
            EXPECT_TRUE (result.failed());
            EXPECT_TRUE (result.getErrorMessage().contains ("x.wav")) << result.getErrorMessage();
            EXPECT_FALSE (target.exists());
        }

        // A target that is a folder cannot be replaced.
        const auto folderTarget = fixture.outputs.getChildFile ("folder.wav");
        folderTarget.createDirectory();
        const auto result = AudioFileDecoder::decodeToWav (source, folderTarget, nullptr, info);
        EXPECT_TRUE (result.failed());
        EXPECT_TRUE (folderTarget.isDirectory());
        folderTarget.deleteRecursively();
        expectPreviousTargetIntact();
    }

    TEST_F (DecodeTargetTest, AFullDiskLeavesThePreviousTarget)
    {
        // A file-size limit makes writes fail the way a full disk does (EFBIG instead of
        // ENOSPC); the signal it raises is ignored so that the write returns an error.
        rlimit previous {};
        ASSERT_EQ (getrlimit (RLIMIT_FSIZE, &previous), 0);
        const auto previousHandler = std::signal (SIGXFSZ, SIG_IGN);

        rlimit limited = previous;
        limited.rlim_cur = 256 * 1024; // far below the 1.7 MB the WAV file needs
        ASSERT_EQ (setrlimit (RLIMIT_FSIZE, &limited), 0);

        DecodedAudioInfo info;
        const auto result = fixture.decode (source, info);

        setrlimit (RLIMIT_FSIZE, &previous);
        std::signal (SIGXFSZ, previousHandler);

        EXPECT_TRUE (result.failed());
        EXPECT_TRUE (result.getErrorMessage().contains (fixture.target().getFileName())) << result.getErrorMessage();
        expectPreviousTargetIntact();
    }

    //==============================================================================
    // Memory stays bounded whatever the input: measured in a fresh process (a death
    // test re-runs this test alone), as the growth of the peak resident size while a
    // long compressed file and files announcing gigabytes are decoded.
    juce::int64 peakResidentBytes()
    {
        rusage usage {};
        getrusage (RUSAGE_SELF, &usage);
        return (juce::int64) usage.ru_maxrss * 1024;
    }

    TEST (MemoryBoundTest, DecodingNeverHoldsTheWholeFile)
    {
        GTEST_FLAG_SET (death_test_style, "threadsafe");

        DecoderFixture fixture;
        constexpr int rate = 44100;
        // 5 minutes of stereo audio: 106 MB as floats, a small FLAC file because it is
        // nearly silent (one click a second).
        constexpr int seconds = 300;
        const auto longFile = fixture.source ("long.flac");
        {
            auto stream = longFile.createOutputStream();
            ASSERT_NE (stream, nullptr);
            std::unique_ptr<juce::AudioFormatWriter> writer (
                juce::FlacAudioFormat().createWriterFor (stream.get(), rate, 2, 16, {}, 0));
            ASSERT_NE (writer, nullptr);
            stream.release();
            const auto second = test::makeClicks (2, rate, rate / 2);
            for (int s = 0; s < seconds; ++s)
                ASSERT_TRUE (writer->writeFromAudioSampleBuffer (second, 0, rate));
        }

        const auto hugeWav = fixture.source ("huge.wav");
        const auto header = makeWav (2, 44100, 16, 100000, 0xfffffff0);
        hugeWav.replaceWithData (header.getData(), header.getSize());

        const auto largestFile = juce::jmax (longFile.getSize(), hugeWav.getSize());
        constexpr juce::int64 allowance = 64 * 1024 * 1024;

        EXPECT_EXIT (
            {
                const auto before = peakResidentBytes();
                DecodedAudioInfo info;
                const auto ok = AudioFileDecoder::decodeToWav (longFile, fixture.target(), nullptr, info).wasOk()
                                && info.numSamples == (juce::int64) rate * seconds;
                const auto refused = AudioFileDecoder::decodeToWav (hugeWav, fixture.target(), nullptr, info).failed();
                const auto growth = peakResidentBytes() - before;
                std::fprintf (stderr, "peak growth %lld bytes\n", (long long) growth);
                std::_Exit (ok && refused && growth < allowance + 2 * largestFile ? 0 : 1);
            },
            ::testing::ExitedWithCode (0), "peak growth");
    }

} // namespace
TEST (TrackLoader, AnOpenedSongPlaysItsAudioWhileItIsAnalysedAndAFailedAnalysisSaysWhy)
{
    // Opened for the window: playable at once from its audio, analysed afterwards.
    test::TemporaryDirectory dir;
    const auto song = dir.get().getChildFile ("song.wav");
    constexpr int rate = 22050;
    const auto audio = test::makeNoise (2, 30 * rate, 21, 0.5f);
    // Blocks 100 to 140 as played, against the song (dB of error below the signal).
    auto playedDb = [&] (AudioTrack::Ptr t) {
        TrackRenderer renderer (t, 2);
        const auto hop = t->getBufferSize();
        juce::AudioBuffer<float> block (2, hop);
        auto worst = 1000.0;
        for (int b = 100; b < 140; ++b)
        {
            renderer.renderRawBlock (b, block);
            for (int c = 0; c < 2; ++c)
                worst = juce::jmin (worst,
                                    test::signalToErrorDb (audio.getReadPointer (c, b * hop), block.getReadPointer (c), hop));
        }
        return worst;
    };
    ASSERT_TRUE (test::writeAudioFile (song, audio, rate));
    auto open = [&] (const juce::String& name) {
        auto result = juce::Result::ok();
        auto track = TrackLoader::openTrack (song, dir.get().getChildFile (name), name, AudioTrack::OriginId::master, nullptr,
                                             result, nullptr, TrackLoader::Analysis::later);
        EXPECT_TRUE (result.wasOk()) << result.getErrorMessage();
        return track;
    };
    auto track = open ("later");
    ASSERT_NE (track, nullptr);
    EXPECT_FALSE (track->isStoreReady());
    EXPECT_TRUE (track->isPlayable());
    EXPECT_GT (playedDb (track), 90.0) << "the decoded audio itself";

    track->setAnalysisFocus (track->getnFrames() / 2);
    track->startStoreGeneration();
    ASSERT_TRUE (test::pumpMessagesUntil ([&] { return track->isStoreReady(); }));
    EXPECT_GT (playedDb (track), 60.0) << "the analysed store sounds the same";
    EXPECT_FALSE (track->getTree().hasProperty (TrackIds::asigError));

    // A folder that cannot be written: the analysis fails and the track says why.
    auto broken = open ("broken");
    ASSERT_NE (broken, nullptr);
    for (const auto& f : broken->getDataFolder().findChildFiles (juce::File::findFiles, false))
        if (f != broken->getAudioFile())
            f.deleteFile();
    const auto moved = dir.get().getChildFile ("moved");
    ASSERT_TRUE (broken->getDataFolder().moveFileTo (moved));
    ASSERT_TRUE (broken->getDataFolder().replaceWithText ("not a folder"));
    broken->startStoreGeneration();
    ASSERT_TRUE (test::pumpMessagesUntil ([&] { return broken->getTree().hasProperty (TrackIds::asigError); }));
    EXPECT_FALSE (broken->isStoreReady());
    EXPECT_TRUE (broken->getTree()[TrackIds::asigError].toString().isNotEmpty());
}

} // namespace kalder
