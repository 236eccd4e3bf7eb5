#include "AudioTestFiles.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

using namespace kalder;

namespace
{
struct Run
{
    int exitCode = -1;
    juce::String output;
};

Run runCli (const juce::StringArray& args)
{
    juce::ChildProcess process;
    juce::StringArray command { KALDER_CLI_PATH };
    command.addArray (args);
    Run run;
    if (! process.start (command, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
        return run;
    run.output = process.readAllProcessOutput();
    process.waitForProcessToFinish (60000);
    run.exitCode = (int) process.getExitCode();
    return run;
}

struct Case
{
    const char* name;
    const char* extension;
    int bits;
    int channels;
    int rate;
};

class CliBounce : public ::testing::TestWithParam<Case>
{};
} // namespace

TEST_P (CliBounce, ReproducesALosslessInputInItsFormat)
{
    const auto c = GetParam();
    test::TemporaryDirectory dir;
    const auto in = dir.get().getChildFile (juce::String ("in") + c.extension);
    const auto source = test::makeSweep (c.channels, c.rate + 4321, c.rate, 40.0, c.rate * 0.45);
    ASSERT_TRUE (test::writeAudioFile (in, source, c.rate, c.bits));
    const auto reference = test::readAudioFile (in); // the file's own quantised samples

    const auto out = dir.get().getChildFile (juce::String ("out") + c.extension);
    const auto run = runCli ({ "bounce", in.getFullPathName(), out.getFullPathName() });
    ASSERT_EQ (run.exitCode, 0) << run.output;

    double rate = 0.0;
    const auto back = test::readAudioFile (out, &rate);
    EXPECT_EQ (rate, (double) c.rate);
    ASSERT_EQ (back.getNumChannels(), c.channels);
    ASSERT_EQ (back.getNumSamples(), reference.getNumSamples());
    // The resynthesis is exact to float precision (about 135 dB), far inside half a step
    // of 16 bits: 16-bit files come back bit for bit, deeper ones within 110 dB.
    for (int ch = 0; ch < c.channels; ++ch)
    {
        const auto snr = test::signalToErrorDb (reference.getReadPointer (ch), back.getReadPointer (ch), back.getNumSamples());
        EXPECT_GE (snr, c.bits <= 16 ? 400.0 : 110.0) << ch; // 400: no difference at all
    }

    // Same bit depth back.
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (out));
    ASSERT_NE (reader, nullptr);
    EXPECT_EQ ((int) reader->bitsPerSample, c.bits);
}

INSTANTIATE_TEST_SUITE_P (Formats, CliBounce,
                          ::testing::Values (Case { "wav16mono", ".wav", 16, 1, 44100 },
                                             Case { "wav24stereo", ".wav", 24, 2, 48000 },
                                             Case { "wav32float", ".wav", 32, 2, 96000 },
                                             Case { "aiff24", ".aiff", 24, 2, 22050 }, Case { "flac16", ".flac", 16, 2, 44100 }),
                          [] (const auto& info) { return std::string (info.param.name); });

TEST (Cli, InfoRangesGainAndErrors)
{
    test::TemporaryDirectory dir;
    const auto in = dir.get().getChildFile ("in.wav");
    const auto source = test::makeNoise (2, 48000, 5);
    ASSERT_TRUE (test::writeAudioFile (in, source, 48000, 32));

    auto run = runCli ({ "info", in.getFullPathName() });
    ASSERT_EQ (run.exitCode, 0) << run.output;
    EXPECT_TRUE (run.output.contains ("channels:    2"));
    EXPECT_TRUE (run.output.contains ("sample rate: 48000 Hz"));
    EXPECT_TRUE (run.output.contains ("length:      48000 samples"));
    EXPECT_TRUE (run.output.contains ("FFT length:  4096"));
    EXPECT_TRUE (run.output.contains ("frames:      50")); // ceil (48000 / 1024) + 3

    // A range at half gain, and ".wav" added to a name without extension.
    run = runCli ({ "bounce", in.getFullPathName(), dir.get().getChildFile ("cut").getFullPathName(), "--start", "0.25", "--end",
                    "0.5", "--gain", "0.5" });
    ASSERT_EQ (run.exitCode, 0) << run.output;
    const auto cut = test::readAudioFile (dir.get().getChildFile ("cut.wav"));
    ASSERT_EQ (cut.getNumSamples(), 12000);
    juce::AudioBuffer<float> expected (1, 12000);
    expected.copyFrom (0, 0, source.getReadPointer (1, 12000), 12000, 0.5f);
    EXPECT_GE (test::signalToErrorDb (expected.getReadPointer (0), cut.getReadPointer (1), 12000), 110.0);

    // Errors: one line, non-zero exit, nothing written.
    for (const auto& args :
         { juce::StringArray { "bounce", dir.get().getChildFile ("missing.wav").getFullPathName(), "x.wav" },
           juce::StringArray { "bounce", in.getFullPathName(), dir.get().getChildFile ("y.wav").getFullPathName(), "--gain",
                               "loud" },
           juce::StringArray { "bounce", in.getFullPathName(), dir.get().getChildFile ("y.wav").getFullPathName(), "--end", "0" },
           juce::StringArray { "frobnicate" } })
    {
        run = runCli (args);
        EXPECT_NE (run.exitCode, 0) << args.joinIntoString (" ");
        EXPECT_TRUE (run.output.startsWith ("kalder-cli: ")) << run.output;
    }
    EXPECT_FALSE (dir.get().getChildFile ("y.wav").exists());

    const auto notAudio = dir.get().getChildFile ("notes.wav");
    ASSERT_TRUE (notAudio.replaceWithText ("these are not samples"));
    run = runCli ({ "bounce", notAudio.getFullPathName(), dir.get().getChildFile ("z.wav").getFullPathName() });
    EXPECT_NE (run.exitCode, 0);
    EXPECT_FALSE (dir.get().getChildFile ("z.wav").exists());

    run = runCli ({ "--help" });
    EXPECT_EQ (run.exitCode, 0);
    EXPECT_TRUE (run.output.contains ("kalder-cli bounce IN OUT"));
}
