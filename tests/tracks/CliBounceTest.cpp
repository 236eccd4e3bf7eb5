#include "melody/Pgram.h"
#include "support/AudioTestFiles.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <complex>
#include <cstring>

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
           juce::StringArray { "melody", in.getFullPathName(), dir.get().getChildFile ("y.wav").getFullPathName(), "--step",
                               "0" },
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

    // The melody of a tone at A4: a guide file the melody editor reads, and the steps a
    // guided separation sends, MIDI 69 where the tone sounds.
    const auto tone = dir.get().getChildFile ("tone.wav");
    auto a4 = test::makeSine (1, 48000, 48000, 440.0, 0.3f);
    a4.addFrom (0, 0, test::makeSine (1, 48000, 48000, 880.0, 0.15f), 0, 0, 48000);
    ASSERT_TRUE (test::writeAudioFile (tone, a4, 48000, 16));
    const auto steps = dir.get().getChildFile ("steps.txt");
    run = runCli ({ "melody", tone.getFullPathName(), dir.get().getChildFile ("tone.melody").getFullPathName(), "--steps",
                    steps.getFullPathName(), "--step", "480" });
    ASSERT_EQ (run.exitCode, 0) << run.output;
    Pgram::Lines lines;
    EXPECT_TRUE (Pgram::readPitchLines (dir.get().getChildFile ("tone.melody"), lines).wasOk());
    EXPECT_FALSE (lines.empty());
    juce::StringArray values;
    steps.readLines (values);
    values.removeEmptyStrings();
    ASSERT_EQ (values.size(), 1 + 100);
    EXPECT_EQ (values[0], "480");
    EXPECT_NEAR (values[50].getFloatValue(), 69.0f, 0.25f);
}

namespace
{
/** Two tones a fifth apart (440 and 660 Hz) on both channels, four seconds, as float WAV. */
struct EditedSong
{
    static constexpr int rate = 44100, seconds = 4;

    EditedSong()
    {
        source = test::makeSine (2, rate * seconds, rate, 440.0, 0.3f);
        const auto fifth = test::makeSine (2, rate * seconds, rate, 660.0, 0.3f);
        for (int c = 0; c < 2; ++c)
            source.addFrom (c, 0, fifth, c, 0, source.getNumSamples());
        EXPECT_TRUE (test::writeAudioFile (in(), source, rate, 32));
    }

    juce::File in() const { return dir.get().getChildFile ("song.wav"); }
    juce::File file (const juce::String& name) const { return dir.get().getChildFile (name); }

    /** Runs kalder-cli edit on the song; the bounce (empty on failure). */
    juce::AudioBuffer<float> edit (const juce::String& out, juce::StringArray steps, Run* run = nullptr)
    {
        steps.insert (0, file (out).getFullPathName());
        steps.insert (0, in().getFullPathName());
        steps.insert (0, "edit");
        const auto r = runCli (steps);
        if (run != nullptr)
            *run = r;
        EXPECT_EQ (r.exitCode, 0) << r.output;
        return r.exitCode == 0 ? test::readAudioFile (file (out)) : juce::AudioBuffer<float>();
    }

    /** The level of one frequency over samples [from, to) of channel 0 (a single-bin DFT). */
    static double levelDb (const juce::AudioBuffer<float>& x, double hz, double from, double to)
    {
        std::complex<double> sum;
        const auto a = (int) (from * rate), b = (int) (to * rate);
        for (int i = a; i < b; ++i)
            sum += (double) x.getSample (0, i) * std::polar (1.0, -2.0 * juce::MathConstants<double>::pi * hz * i / rate);
        return juce::Decibels::gainToDecibels (std::abs (sum) / (b - a), -400.0);
    }

    /** How far y is from x over seconds [from, to), in dB below x (both channels). */
    static double errorDb (const juce::AudioBuffer<float>& x, const juce::AudioBuffer<float>& y, double from, double to)
    {
        auto worst = 1000.0;
        for (int c = 0; c < 2; ++c)
            worst = std::min (worst,
                              test::signalToErrorDb (x.getReadPointer (c, (int) (from * rate)),
                                                     y.getReadPointer (c, (int) (from * rate)), (int) ((to - from) * rate)));
        return worst;
    }

    test::TemporaryDirectory dir;
    juce::AudioBuffer<float> source;
};

/** The exported track whose file name ends with suffix. */
juce::AudioBuffer<float> exported (const juce::File& folder, const juce::String& suffix)
{
    for (const auto& f : folder.findChildFiles (juce::File::findFiles, false, "*.wav"))
        if (f.getFileNameWithoutExtension().endsWith (suffix))
            return test::readAudioFile (f);
    ADD_FAILURE() << "no track ending in \"" << suffix << "\" in " << folder.getFullPathName();
    return {};
}

juce::AudioBuffer<float> sum (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    auto s = a;
    for (int c = 0; c < s.getNumChannels(); ++c)
        s.addFrom (c, 0, b, c, 0, juce::jmin (s.getNumSamples(), b.getNumSamples()));
    return s;
}

const juce::StringArray selectLowTone { "rect", "1", "3", "300", "550" };
} // namespace

TEST (CliEdit, EraseMoveAndFreezeTakeOutThePartialAndKeepTheRest)
{
    EditedSong song;
    const auto& x = song.source;

    // Erase: the 440 Hz partial goes from the middle of the rectangle; the other tone
    // and everything outside the rectangle's reach stay. (A selection left at the end
    // would play at the selection volume, as in the window.)
    auto steps = selectLowTone;
    steps.addArray ({ "erase", "deselect" });
    const auto erased = song.edit ("erased.wav", steps);
    ASSERT_EQ (erased.getNumSamples(), x.getNumSamples());
    EXPECT_LE (EditedSong::levelDb (erased, 440.0, 1.5, 2.5) - EditedSong::levelDb (x, 440.0, 1.5, 2.5), -60.0);
    EXPECT_NEAR (EditedSong::levelDb (erased, 660.0, 1.5, 2.5), EditedSong::levelDb (x, 660.0, 1.5, 2.5), 0.1);
    EXPECT_GE (EditedSong::errorDb (x, erased, 0.0, 0.8), 90.0);
    EXPECT_GE (EditedSong::errorDb (x, erased, 3.2, 4.0), 90.0);

    // Move: the selection becomes a track of its own; the two sum to the song. The
    // master stays active, so the mix is the master alone: what the selection left.
    steps = selectLowTone;
    steps.addArray ({ "move-to-new-track", "--tracks-out", song.file ("moved").getFullPathName() });
    const auto moved = song.edit ("moved.wav", steps);
    const auto selection = exported (song.file ("moved"), "Selection"), rest = exported (song.file ("moved"), "song");
    ASSERT_EQ (selection.getNumSamples(), x.getNumSamples());
    EXPECT_GE (EditedSong::errorDb (x, sum (selection, rest), 0.0, 4.0), 90.0);
    EXPECT_GE (EditedSong::errorDb (rest, moved, 0.0, 4.0), 90.0);
    EXPECT_LE (EditedSong::levelDb (rest, 440.0, 1.5, 2.5) - EditedSong::levelDb (x, 440.0, 1.5, 2.5), -60.0);

    // Freeze: the frozen track is what the erase played; with what the mask took away
    // it is the song again, and so is the mix, which plays both in the muted track's place.
    const auto temp = juce::File::getSpecialLocation (juce::File::tempDirectory);
    auto leftovers = [&] { return temp.getNumberOfChildFiles (juce::File::findDirectories, "song_*"); };
    const auto before = leftovers();
    steps = selectLowTone;
    steps.addArray ({ "erase", "deselect", "freeze", "--tracks-out", song.file ("frozen").getFullPathName() });
    const auto mix = song.edit ("frozen.wav", steps);
    EXPECT_EQ (leftovers(), before) << "the new tracks' folders must go with the run";
    EXPECT_GE (EditedSong::errorDb (x, mix, 0.0, 4.0), 90.0);
    const auto frozen = exported (song.file ("frozen"), "Frozen"), removed = exported (song.file ("frozen"), "Not Separated");
    ASSERT_EQ (frozen.getNumSamples(), x.getNumSamples());
    EXPECT_GE (EditedSong::errorDb (erased, frozen, 0.0, 4.0), 90.0);
    EXPECT_GE (EditedSong::errorDb (x, sum (frozen, removed), 0.0, 4.0), 90.0);

    // Saved with --save, the edited project (three tracks, the frozen one active) bounces
    // to the very samples of the edit's own bounce; info lists its tracks; a damaged
    // project fails with the reason.
    const auto project = song.file ("saved/frozen.orv");
    steps.addArray ({ "--save", project.getFullPathName() });
    const auto edited = song.edit ("frozen-again.wav", steps);
    auto run = runCli ({ "bounce", project.getFullPathName(), song.file ("from-project.wav").getFullPathName() });
    ASSERT_EQ (run.exitCode, 0) << run.output;
    const auto bounced = test::readAudioFile (song.file ("from-project.wav"));
    ASSERT_EQ (bounced.getNumSamples(), edited.getNumSamples());
    ASSERT_EQ (bounced.getNumChannels(), edited.getNumChannels());
    for (int c = 0; c < edited.getNumChannels(); ++c)
        EXPECT_EQ (
            std::memcmp (bounced.getReadPointer (c), edited.getReadPointer (c), sizeof (float) * (size_t) edited.getNumSamples()),
            0)
            << "channel " << c;
    run = runCli ({ "info", project.getFullPathName() });
    ASSERT_EQ (run.exitCode, 0) << run.output;
    EXPECT_TRUE (run.output.contains ("tracks:      3")) << run.output;
    ASSERT_TRUE (project.replaceWithText ("Kalder Pro project"));
    run = runCli ({ "bounce", project.getFullPathName(), song.file ("never.wav").getFullPathName() });
    EXPECT_NE (run.exitCode, 0);
    EXPECT_TRUE (run.output.contains ("cannot be opened")) << run.output;
    EXPECT_FALSE (song.file ("never.wav").exists());
}

TEST (CliEdit, UndoAndRedoGiveBackTheSameSamplesAndBadStepsWriteNothing)
{
    EditedSong song;
    auto steps = selectLowTone;
    steps.add ("erase");
    const auto erased = song.edit ("erased.wav", steps);
    const auto plain = song.edit ("plain.wav", selectLowTone);
    steps.add ("undo");
    const auto undone = song.edit ("undone.wav", steps);
    steps.add ("redo");
    const auto redone = song.edit ("redone.wav", steps);
    for (int c = 0; c < 2; ++c)
    {
        EXPECT_EQ (0, std::memcmp (undone.getReadPointer (c), plain.getReadPointer (c),
                                   sizeof (float) * (size_t) plain.getNumSamples()));
        EXPECT_EQ (0, std::memcmp (redone.getReadPointer (c), erased.getReadPointer (c),
                                   sizeof (float) * (size_t) erased.getNumSamples()));
    }

    // steps, the words the message must name
    const struct
    {
        juce::StringArray steps;
        const char* named;
    } bad[] = {
        { { "rect", "1", "3", "300", "550", "smudge" }, "smudge" },
        { { "rect", "1", "3", "300" }, "rect 1 3 300" },
        { { "rect", "3", "1", "300", "550" }, "after its start" },
        { { "rect", "1", "3", "300", "550", "dim", "-3" }, "dim" },
        { { "wand", "nan", "440" }, "finite" },
        { { "+erase" }, "+erase" },
        { { "erase" }, "No selection" },                                // found only when it runs
        { { "rect", "1", "3", "300", "550", "undo", "undo" }, "undo" }, // nothing left to undo
        { { "rect", "1", "3", "300", "550", "rect", "9", "10", "300", "550", "erase" }, "selects nothing" },
        { { "rect", "1", "3", "300", "550", "freeze" }, "there is a selection" },
    };
    for (const auto& b : bad)
    {
        juce::StringArray args { "edit", song.in().getFullPathName(), song.file ("bad.wav").getFullPathName() };
        args.addArray (b.steps);
        args.addArray ({ "--tracks-out", song.file ("bad").getFullPathName() });
        const auto run = runCli (args);
        EXPECT_NE (run.exitCode, 0) << b.named;
        EXPECT_TRUE (run.output.contains (b.named)) << run.output;
        EXPECT_FALSE (song.file ("bad.wav").exists()) << b.named;
        EXPECT_FALSE (song.file ("bad").exists()) << b.named;
    }

    const auto help = runCli ({ "edit", "--help" });
    EXPECT_EQ (help.exitCode, 0);
    for (const auto* step : { "rect",
                              "wand",
                              "harmonic-wand",
                              "above",
                              "below",
                              "transient",
                              "erase",
                              "dim",
                              "strengthen",
                              "expand",
                              "shrink",
                              "remove-foreground",
                              "remove-percussive",
                              "remove-harmonic",
                              "flip",
                              "reset",
                              "undo",
                              "redo",
                              "move-to-new-track",
                              "freeze" })
        EXPECT_TRUE (help.output.contains (juce::String (step) + " ")) << step;
}
