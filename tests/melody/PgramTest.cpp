// A track's melody lines and their file: order, pitch under a time, edited frames, and
// the guide file's round trip and refusals.

#include "editing/ManualEditManager.h"
#include "melody/PitchEditManager.h"
#include "melody/PitchogramHelper.h"
#include "service/engines/SyntheticSong.h"
#include "support/TestSignals.h"
#include "support/TestTracks.h"
#include "tracks/TrackRenderer.h"

#include <gtest/gtest.h>

using namespace kalder;

namespace
{
PitchLine::Ptr line (std::vector<PitchLine::Node> nodes)
{
    return std::make_shared<const PitchLine> (std::move (nodes));
}

float y (float midi)
{
    return PitchLine::midiToY (midi);
}
} // namespace

TEST (Pgram, LinesKeepTheirOrderAndTheFirstCoveringLineGivesThePitch)
{
    Pgram p;
    p.addLine (line ({ { 0.5f, y (60) }, { 0.9f, y (64) } }));
    p.addLine (line ({ { 0.1f, y (50) }, { 0.6f, y (55) } }));
    p.addLine (line ({ { 0.1f, y (70) }, { 0.3f, y (70) } })); // same start, ends first
    const auto lines = p.getPitchLines();
    ASSERT_EQ (lines.size(), 3u);
    EXPECT_EQ (lines[0]->getEndX(), 0.3f);
    EXPECT_EQ (lines[1]->getEndX(), 0.6f);
    EXPECT_EQ (lines[2]->getStartX(), 0.5f);

    EXPECT_NEAR (p.getMidiPitchAt (0.2f), 70.0f, 1e-4f);  // the first covering line
    EXPECT_NEAR (p.getMidiPitchAt (0.35f), 52.5f, 1e-3f); // interpolated half way
    EXPECT_NEAR (p.getMidiPitchAt (0.55f), 54.5f, 1e-3f); // overlap: the earlier line
    EXPECT_NEAR (p.getMidiPitchAt (0.75f), 62.5f, 1e-3f);
    EXPECT_EQ (p.getMidiPitchAt (0.9f), -1.0f); // a line's end x is not covered
    EXPECT_EQ (p.getMidiPitchAt (0.05f), -1.0f);
    EXPECT_EQ (p.getLinesCoveringRange ({ 0.62f, 0.7f }).size(), 1u);

    // frames 0..10: x = f / 10; one-frame tracks divide by nothing
    const auto edited = p.getEditedFrames (0, 10);
    const std::vector<bool> expected { false, true, true, true, true, true, true, true, true, false, false };
    EXPECT_EQ (edited, expected);
    EXPECT_EQ (p.getEditedFrames (5, 5), std::vector<bool> { false });

    p.removeLine (lines[0].get());
    EXPECT_NEAR (p.getMidiPitchAt (0.2f), 51.0f, 1e-3f);
}

TEST (Pgram, ALineNeverHoldsNodesOutOfOrderOrOffTheAxes)
{
    // coincident or backward nodes end the chain there: no zero span to divide by
    const PitchLine l ({ { 0.2f, 0.5f }, { 0.4f, 0.5f }, { 0.4f, 0.1f }, { 0.6f, 0.2f } });
    EXPECT_EQ (l.getNodePositions().size(), 2u);
    const PitchLine one ({ { 0.3f, 0.5f } });
    EXPECT_EQ (one.getNodePositions().size(), 1u);
    EXPECT_FALSE (one.covers (0.3f));
    EXPECT_EQ (one.getYAt (0.3f), -1.0f);
    const PitchLine none ({ { std::nanf (""), 0.5f } });
    EXPECT_EQ (none.getNodePositions().size(), 1u);
    EXPECT_TRUE (std::isfinite (none.getStartX()));
}

TEST (Pgram, AGuideRoundTripsByteForByteAndAnEmptyOneClearsTheLines)
{
    test::TemporaryDirectory dir;
    Pgram p;
    p.addLine (line ({ { 0.0f, 0.123456789f }, { 1.0f / 3.0f, 0.7f }, { 0.5f, 1.0f } }));
    p.addLine (line ({ { 0.6f, 0.0f }, { 1.0f, 0.25f } }));
    const auto first = dir.get().getChildFile ("a.guide"), second = dir.get().getChildFile ("b.guide");
    ASSERT_TRUE (p.savePgram (first).wasOk());

    Pgram::Lines read;
    ASSERT_TRUE (Pgram::readPitchLines (first, read).wasOk());
    Pgram back;
    back.setLines (read);
    ASSERT_TRUE (back.savePgram (second).wasOk());
    juce::MemoryBlock a, b;
    ASSERT_TRUE (first.loadFileAsData (a) && second.loadFileAsData (b));
    EXPECT_EQ (a, b);
    for (int f = 0; f <= 1000; ++f)
        EXPECT_EQ (back.getMidiPitchAt ((float) f / 1000.0f), p.getMidiPitchAt ((float) f / 1000.0f)) << f;

    ASSERT_TRUE (Pgram().savePgram (first).wasOk()); // replaces the file
    EXPECT_EQ (first.loadFileAsString(), "[\n]\n");
    ASSERT_TRUE (Pgram::readPitchLines (first, read).wasOk());
    EXPECT_TRUE (read.empty());

    EXPECT_TRUE (p.savePgram (dir.get().getChildFile ("missing/folder/c.guide")).failed());
}

TEST (Pgram, DamagedGuidesAreRefusedWholeWithTheirProblemNamed)
{
    test::TemporaryDirectory dir;
    struct Case
    {
        const char* text;
        const char* problem; // nullptr: accepted
        size_t lines = 0;
    };
    const std::vector<Case> cases {
        { "[\n[\n0.1 0.5\n0.2 0.5\n]\n", nullptr, 1 }, // no closing "]": whole records kept
        { "[\n[\n0.1 0.5\n0.2 0.5\n]\n,\n[\n0.3 0.5\n0.4 0.6\n]\n]\n", nullptr, 2 },
        { "", "not a melody guide" },
        { "{\n}\n", "not a melody guide" },
        { "[\n[\n0.1 0.5\n0.2", "node is damaged" }, // cut inside a node
        { "[\n[\n0.1 0.5\n", "ends inside a line's record" },
        { "[\n[\nnan 0.5\n]\n]\n", "not a number" },
        { "[\n[\n0.1 inf\n]\n]\n", "not a number" },
        { "[\n[\n0.1 1.5\n]\n]\n", "outside MIDI 33 to 112" },
        { "[\n[\n0.1 -0.01\n]\n]\n", "outside MIDI 33 to 112" },
        { "[\n[\n0.9 0.5\n1.2 0.5\n]\n]\n", "beyond the track" },
        { "[\n[\n0.5 0.5\n0.4 0.5\n]\n]\n", "out of time order" },
        { "[\n[\n0.5 0.5\n0.5 0.6\n]\n]\n", "out of time order" },
        { "[\n[\n0.5\n]\n]\n", "node is damaged" },
        { "[\n[\n0.5 0.5 0.5\n]\n]\n", "node is damaged" },
        { "[\n[\n]\n]\n", "without nodes" },
        { "[\nline\n]\n", "record is damaged" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.text).replace ("\n", "|").toStdString());
        const auto file = dir.get().getChildFile ("guide");
        ASSERT_TRUE (file.replaceWithText (c.text, false, false, "\n"));
        Pgram::Lines lines { line ({ { 0.0f, 0.5f }, { 0.1f, 0.5f } }) }; // what the track had
        const auto result = Pgram::readPitchLines (file, lines);
        if (c.problem == nullptr)
        {
            EXPECT_TRUE (result.wasOk()) << result.getErrorMessage();
            EXPECT_EQ (lines.size(), c.lines);
            continue;
        }
        EXPECT_TRUE (result.failed());
        EXPECT_TRUE (result.getErrorMessage().contains (c.problem)) << result.getErrorMessage();
        EXPECT_TRUE (result.getErrorMessage().contains (file.getFullPathName()));
        ASSERT_EQ (lines.size(), 1u); // untouched
        EXPECT_EQ (lines[0]->getEndX(), 0.1f);
    }

    const auto huge = dir.get().getChildFile ("huge");
    {
        juce::FileOutputStream out (huge);
        const juce::MemoryBlock block (1 << 20, true);
        for (juce::int64 written = 0; written <= Pgram::maxFileBytes; written += (juce::int64) block.getSize())
            out.write (block.getData(), block.getSize());
    }
    Pgram::Lines lines;
    EXPECT_TRUE (Pgram::readPitchLines (huge, lines).getErrorMessage().contains ("larger than any melody guide"));
    EXPECT_TRUE (Pgram::readPitchLines (dir.get().getChildFile ("absent"), lines).failed());
}

TEST (PitchEditManager, EachToolIsOneStepOfTheTracksOwnHistoryInTheOrderMade)
{
    Pgram p;
    CustomUndoManager history (30000, 30);
    PitchEditManager edits (p, history);
    const auto nodes = [&p] {
        std::vector<std::vector<std::pair<float, float>>> all;
        for (const auto& l : p.getPitchLines())
        {
            all.emplace_back();
            for (const auto& n : l->getNodePositions())
                all.back().emplace_back (n.x, n.y);
        }
        return all;
    };

    // a stroke drawn right to left still runs forward in time; one point draws nothing
    edits.lineTo ({ 0.8f, y (60) });
    edits.lineTo ({ 0.1f, y (60) });
    ASSERT_TRUE (edits.commitCurrentEdit());
    edits.lineTo ({ 0.5f, y (70) });
    EXPECT_FALSE (edits.commitCurrentEdit());
    const auto drawn = nodes();

    // a spectral edit between the melody edits, on the same history
    struct Spectral : juce::UndoableAction
    {
        bool perform() override { return true; }
        bool undo() override { return true; }
    };
    history.beginNewTransaction ("Erase");
    ASSERT_TRUE (history.perform (new Spectral()));

    // drawing over the middle replaces it there and keeps both ends
    edits.lineTo ({ 0.4f, y (72) });
    edits.lineTo ({ 0.5f, y (73) });
    ASSERT_TRUE (edits.commitCurrentEdit());
    EXPECT_NEAR (p.getMidiPitchAt (0.45f), 72.5f, 1e-3f);
    EXPECT_NEAR (p.getMidiPitchAt (0.2f), 60.0f, 1e-3f);
    EXPECT_NEAR (p.getMidiPitchAt (0.6f), 60.0f, 1e-3f);
    EXPECT_EQ (p.getPitchLines().size(), 3u);

    // erasing inside a rectangle splits; shifting clamps to the axis
    ASSERT_TRUE (edits.eraseNodesWithinRectangle ({ 0.45f, 0.6f }, { 0.0f, 1.0f }));
    EXPECT_FALSE (edits.eraseNodesWithinRectangle ({ 0.9f, 1.0f }, { 0.0f, 1.0f })) << "nothing there: no step";
    const auto beforeShift = nodes();
    // only the nodes inside the rectangle move: the line's start goes up an octave, its end stays
    EXPECT_FALSE (edits.shiftNodesWithinRectangle ({ 0.0f, 1.0f }, { y (80), y (70) }, 12.0f)) << "none in the band";
    ASSERT_TRUE (edits.shiftNodesWithinRectangle ({ 0.0f, 0.25f }, { 0.0f, 1.0f }, 12.0f));
    ASSERT_EQ (nodes().size(), 1u);
    EXPECT_NEAR (p.getMidiPitchAt (0.1f), 72.0f, 1e-3f);
    EXPECT_NEAR (PitchLine::yToMidi (nodes()[0].back().second), 60.0f, 1e-3f);
    ASSERT_TRUE (edits.shiftNodesWithinRectangle ({ 0.0f, 1.0f }, { 0.0f, 1.0f }, 100.0f));
    for (const auto& l : p.getPitchLines())
        for (const auto& n : l->getNodePositions())
            EXPECT_EQ (n.y, 0.0f) << "clamped at MIDI 112";

    const juce::StringArray names { "Draw melody", "Erase", "Draw melody", "Erase melody", "Shift line", "Shift line" };
    ASSERT_EQ (history.getNumTransactions(), names.size());
    for (int i = 0; i < names.size(); ++i)
        EXPECT_EQ (history.getSet (i)->name, names[i]);

    ASSERT_TRUE (history.undo() && history.undo()); // the shifts
    EXPECT_EQ (nodes(), beforeShift);
    ASSERT_TRUE (history.undo() && history.undo()); // the erase, the second stroke
    ASSERT_TRUE (history.undo());                   // the spectral edit: the lines stay
    EXPECT_EQ (nodes(), drawn);
    ASSERT_TRUE (history.undo());
    EXPECT_TRUE (p.isEmpty());
    for (int i = 0; i < names.size(); ++i)
        ASSERT_TRUE (history.redo());
    EXPECT_EQ (p.getPitchLines().size(), beforeShift.size());
}

TEST (PitchEditManager, ATracksMelodyAndSpectralEditsUndoInTheOrderMade)
{
    test::TemporaryDirectory dir;
    auto track = test::makeTrack (dir.get(), "t", test::makeSine (1, 22050, 22050, 440.0, 0.5f), 22050);
    auto& melody = track->getPitchEditManager();
    melody.lineTo ({ 0.2f, y (60) });
    melody.lineTo ({ 0.6f, y (62) });
    ASSERT_TRUE (melody.commitCurrentEdit());
    ASSERT_TRUE (track->getManualEditManager().erase (2, 10, 8, 10, 3.0, 1.0).wasChanged()); // a spectral step after it
    EXPECT_TRUE (track->hasPitchEdits());

    auto& spectral = track->getManualEditManager();
    ASSERT_TRUE (spectral.undo().wasChanged()); // the erase first
    EXPECT_TRUE (track->hasPitchEdits());
    ASSERT_TRUE (spectral.undo().wasChanged()); // then the drawn line
    EXPECT_FALSE (track->hasPitchEdits());
    ASSERT_TRUE (spectral.redo().wasChanged());
    EXPECT_NEAR (track->getPgram().getMidiPitchAt (0.4f), 61.0f, 1e-3f);
    EXPECT_EQ (&track->getPitchEditManager(), &melody) << "the same history, the same manager";
}

namespace
{
/** The sung pitch at a sample from the song's guide (steps centred half a step in), -1
    when the voice rests on either side of it. */
float sungMidiAt (const test::SyntheticSong& song, double sample)
{
    const auto step = sample / song.guideStepSamples - 0.5;
    const auto s = (size_t) std::max (0.0, std::floor (step));
    if (s + 1 >= song.vocalMidi.size() || song.vocalMidi[s] < 0.0f || song.vocalMidi[s + 1] < 0.0f)
        return -1.0f;
    const auto t = (float) (step - (double) s);
    return song.vocalMidi[s] + t * (song.vocalMidi[s + 1] - song.vocalMidi[s]);
}
} // namespace

TEST (PitchogramHelper, TracksASungLineOverChordsWithinAQuarterToneAndStaysSilentWhereTheVoiceRests)
{
    // voices with vibrato of +-40 cents and glides, in three ranges, over two chord parts
    const struct
    {
        int seed;
        double transpose;
    } voices[] = { { 1, 0.0 }, { 2, -14.0 }, { 3, 8.0 } };
    for (const auto& voice : voices)
    {
        SCOPED_TRACE ("seed " + std::to_string (voice.seed));
        test::SongOptions options;
        options.seconds = 6.0;
        options.seed = voice.seed;
        options.vocalRestFrom = 2.0;
        options.vocalRestTo = 3.2;
        options.vocalTranspose = voice.transpose;
        const auto song = test::makeSong (options);
        // the chords in the centre with the voice (no help from where they sit), 6 dB
        // under it: the voice leads
        const auto chords = song.other();
        juce::AudioBuffer<float> mix (2, chords.getNumSamples());
        for (int c = 0; c < 2; ++c)
        {
            mix.copyFrom (c, 0, chords.getReadPointer (0), mix.getNumSamples(), 0.354f);
            mix.addFrom (c, 0, chords, 1, 0, mix.getNumSamples(), 0.354f);
            mix.addFrom (c, 0, song.vocals, c, 0, mix.getNumSamples());
        }

        test::TemporaryDirectory dir;
        auto track = test::makeTrack (dir.get(), "song", mix, 44100);
        track->generatePitchogram();
        const auto view = track->getPgram().getView();
        ASSERT_NE (view, nullptr);
        EXPECT_EQ (view->getNumColumns(), track->getnFrames());
        ASSERT_TRUE (track->getPitchEditManager().findMelodyWithinRectangle ({ 0.0f, 1.0f }, { 0.0f, 1.0f }));

        const auto window = track->getGeometry().nfft / 2;
        int voiced = 0, steadyFrames = 0, close = 0, closeAll = 0, octaveErrors = 0, restFrames = 0, restSounding = 0;
        for (int f = 0; f < track->getnFrames(); ++f)
        {
            const auto centre = (double) track->getGeometry().getCentreSampleOfFrame (f);
            const auto tracked = track->getPgram().getMidiPitchAt (PitchLine::frameToX (f, track->getnFrames()));
            const auto sung = sungMidiAt (song, centre);
            if (sung > 0.0f)
            {
                // judged where the voice holds its pitch over the middle half of the
                // window: a glide or a new note inside it has no one pitch to find
                const auto before = sungMidiAt (song, centre - window / 2), after = sungMidiAt (song, centre + window / 2);
                const auto steady = before > 0.0f && after > 0.0f && std::abs (before - sung) < 0.5f
                                    && std::abs (after - sung) < 0.5f;
                ++voiced;
                const auto error = std::abs (tracked - sung);
                closeAll += tracked > 0.0f && error <= 0.25f ? 1 : 0;
                steadyFrames += steady ? 1 : 0;
                close += steady && tracked > 0.0f && error <= 0.25f ? 1 : 0;
                octaveErrors += tracked > 0.0f && std::abs (error - 12.0f * std::round (error / 12.0f)) < 1.0f && error > 6.0f;
            }
            if (centre - window > 2.0 * 44100 && centre + window < 3.2 * 44100)
            {
                ++restFrames;
                restSounding += tracked > 0.0f ? 1 : 0;
            }
        }
        ASSERT_GT (steadyFrames, 100);
        EXPECT_GE ((double) close / steadyFrames, 0.95) << close << " of " << steadyFrames << " steady frames within 25 cents";
        EXPECT_GE ((double) closeAll / voiced, 0.85) << closeAll << " of " << voiced << " voiced frames within 25 cents";
        EXPECT_EQ (octaveErrors, 0);
        ASSERT_GT (restFrames, 30);
        EXPECT_EQ (restSounding, 0) << "a line where the voice rests";
    }
}

TEST (PitchogramHelper, FindsNoMelodyInSilenceNoiseOrAOneFrameRectangle)
{
    test::TemporaryDirectory dir;
    const struct
    {
        const char* name;
        juce::AudioBuffer<float> audio;
        juce::Range<float> x;
    } cases[] = {
        { "silence", test::makeSine (2, 88200, 44100, 220.0, 0.0f), { 0.0f, 1.0f } },
        { "noise", test::makeNoise (2, 88200, 7, 0.3f), { 0.0f, 1.0f } },
        { "one frame", test::makeSine (2, 88200, 44100, 220.0, 0.3f), { 0.5f, 0.5f } },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        auto track = test::makeTrack (dir.get(), c.name, c.audio, 44100);
        auto& edits = track->getPitchEditManager();
        EXPECT_FALSE (edits.findMelodyWithinRectangle (c.x, { 0.0f, 1.0f })) << "no pitchogram yet";
        track->generatePitchogram();
        ASSERT_NE (track->getPgram().getView(), nullptr);
        EXPECT_FALSE (edits.findMelodyWithinRectangle (c.x, { 0.0f, 1.0f }));
        EXPECT_TRUE (track->getPgram().isEmpty());
    }
}

TEST (PitchogramHelper, PreviewingTheMelodyPlaysOnlyTheHarmonicsOfItsLines)
{
    // the comb: bins 1 .. 742 at 44.1 kHz with 2049 bins; silent at either end of the axis
    std::vector<float> comb (2049);
    PitchogramHelper::harmonicComb (57.0f, 2049, 44100, comb.data());
    EXPECT_EQ (comb[0], 0.0f);
    EXPECT_EQ (comb[743], 0.0f);
    EXPECT_EQ (comb[(size_t) std::lround (220.0 / (22050.0 / 2049))], 1.0f);
    EXPECT_EQ (comb[(size_t) std::lround (330.0 / (22050.0 / 2049))], 0.0f) << "between the first two harmonics";
    for (const auto edge : { 33.0f, 112.0f })
    {
        PitchogramHelper::harmonicComb (edge, 2049, 44100, comb.data());
        EXPECT_TRUE (std::all_of (comb.begin(), comb.end(), [] (float g) { return g == 0.0f; }));
    }

    // a track of 220 Hz and 330 Hz plays only the 220 Hz under a line at MIDI 57, and
    // nothing where there is no line
    test::TemporaryDirectory dir;
    auto audio = test::makeSine (1, 44100, 44100, 220.0, 0.3f);
    audio.addFrom (0, 0, test::makeSine (1, 44100, 44100, 330.0, 0.3f), 0, 0, 44100);
    auto track = test::makeTrack (dir.get(), "two", audio, 44100);
    track->getPgram().addLine (
        std::make_shared<const PitchLine> (std::vector<PitchLine::Node> { { 0.0f, y (57) }, { 0.5f, y (57) } }));
    track->getTree().setProperty (TrackIds::previewPitchEdits, true, nullptr);
    TrackRenderer renderer (track, 1);
    juce::AudioBuffer<float> block (1, track->getGeometry().getHop());
    const auto toneEnergy = [&] (int first, double hz) { // over eight blocks: a tone's amplitude / 2
        std::complex<double> sum;
        for (int b = first; b < first + 8; ++b)
        {
            renderer.renderRawBlock (b, block);
            for (int i = 0; i < block.getNumSamples(); ++i)
                sum += (double) block.getSample (0, i)
                       * std::polar (1.0,
                                     -2.0 * juce::MathConstants<double>::pi * hz * (b * block.getNumSamples() + i) / 44100.0);
        }
        return std::abs (sum) / (8 * block.getNumSamples());
    };
    const auto early = track->getNumBlocks() / 4, late = 3 * track->getNumBlocks() / 4;
    EXPECT_NEAR (toneEnergy (early, 220.0), 0.15, 0.03) << "the line's pitch plays";
    EXPECT_LT (toneEnergy (early, 330.0), 0.01) << "what is not its harmonic does not";
    renderer.renderRawBlock (late, block);
    EXPECT_LT (block.getMagnitude (0, block.getNumSamples()), 1e-4f) << "no line: silence";
}

TEST (PitchogramHelper, AnEditOfTheMasksRecomputesOnlyTheChunksItTouched)
{
    test::TemporaryDirectory dir;
    auto track = test::makeTrack (dir.get(), "tone", test::makeSine (2, 8 * 44100, 44100, 220.0, 0.3f), 44100);
    track->generatePitchogram();
    const auto before = track->getPgram().getView();
    ASSERT_NE (before, nullptr);
    ASSERT_GT (before->getNumColumns(), PitchogramView::columnsPerChunk + 20);
    const auto row = (int) std::lround (PitchogramView::midiToRow (57.0f));
    EXPECT_GT (PitchogramView::levelToDb (before->getColumn (15)[row]), -40.0f);

    auto* asig = track->getAsig();
    for (int c = 0; c < 2; ++c)
        ASSERT_TRUE (asig->setMask (c, { 0, asig->getNumFreqs() }, { 10, 20 }, MaskMatrix::Zero (asig->getNumFreqs(), 10)));
    track->generatePitchogram();
    const auto after = track->getPgram().getView();
    ASSERT_NE (after, before);
    EXPECT_EQ (after->getStoreGeneration(), asig->getEditGeneration());
    EXPECT_EQ (after->getColumn (15)[row], 0) << "the erased frames are silent";
    EXPECT_EQ (after->getColumn (30)[row], before->getColumn (30)[row]);
    EXPECT_EQ (after->getColumn (PitchogramView::columnsPerChunk + 5), before->getColumn (PitchogramView::columnsPerChunk + 5))
        << "an untouched chunk is shared, not copied";
}
