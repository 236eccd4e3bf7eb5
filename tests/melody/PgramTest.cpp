// A track's melody lines and their file: order, pitch under a time, edited frames, and
// the guide file's round trip and refusals.

#include "editing/ManualEditManager.h"
#include "melody/PitchEditManager.h"
#include "support/TestSignals.h"
#include "support/TestTracks.h"

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
    ASSERT_TRUE (edits.shiftLines ({ 0.0f, 1.0f }, 100.0f));
    for (const auto& l : p.getPitchLines())
        for (const auto& n : l->getNodePositions())
            EXPECT_EQ (n.y, 0.0f) << "clamped at MIDI 112";

    const juce::StringArray names { "Draw melody", "Erase", "Draw melody", "Erase melody", "Shift line" };
    ASSERT_EQ (history.getNumTransactions(), names.size());
    for (int i = 0; i < names.size(); ++i)
        EXPECT_EQ (history.getSet (i)->name, names[i]);

    ASSERT_TRUE (history.undo()); // the shift
    EXPECT_EQ (nodes(), beforeShift);
    ASSERT_TRUE (history.undo() && history.undo()); // the erase, the second stroke
    ASSERT_TRUE (history.undo());                   // the spectral edit: the lines stay
    EXPECT_EQ (nodes(), drawn);
    ASSERT_TRUE (history.undo());
    EXPECT_TRUE (p.isEmpty());
    for (int i = 0; i < 5; ++i)
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
