#include "signal/TrackDataFile.h"
#include "signal/AsigMemoryChunk.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace kalder;

namespace
{
MaskMatrix ramp (int rows, int cols, float offset)
{
    MaskMatrix m (rows, cols);
    for (int c = 0; c < cols; ++c)
        for (int r = 0; r < rows; ++r)
            m (r, c) = offset + (float) (c * rows + r);
    return m;
}
} // namespace

TEST (TrackDataFile, ByteLayoutIsChannelThenFrameThenBin)
{
    test::TemporaryDirectory dir;
    const auto f = dir.get().getChildFile ("layout.mask");
    const int rows = 5, frames = 7;
    TrackDataFile file (f, rows, frames, 2);
    ASSERT_TRUE (file.create());
    EXPECT_EQ (f.getSize(), 0);

    ASSERT_TRUE (file.writeFrames (1, 0, 0, ramp (rows, frames, 1000.0f)));
    ASSERT_TRUE (file.writeFrames (0, 0, 0, ramp (rows, frames, 0.0f)));
    EXPECT_EQ (f.getSize(), 2 * frames * rows * 4);

    juce::MemoryBlock bytes;
    ASSERT_TRUE (f.loadFileAsData (bytes));
    const auto* values = static_cast<const float*> (bytes.getData());
    // Channel 1 starts at frames * rows values; (channel, frame, bin) at ((c * frames + f) * rows + b).
    EXPECT_EQ (values[frames * rows], 1000.0f);
    EXPECT_EQ (values[(1 * frames + 3) * rows + 2], 1000.0f + 3 * rows + 2);
    EXPECT_EQ (values[(0 * frames + 6) * rows + 4], 6 * rows + 4);
}

TEST (TrackDataFile, ReadsAreClampedAndMissingDataReadsAsZeros)
{
    test::TemporaryDirectory dir;
    const int rows = 3, frames = 1024;
    TrackDataFile file (dir.get().getChildFile ("a.mask"), rows, frames, 1);
    ASSERT_TRUE (file.create());

    EXPECT_EQ (file.readFrames (0, { 1000, 1030 }).cols(), 24);
    EXPECT_EQ (file.readFrames (0, { 2000, 2030 }).size(), 0);
    EXPECT_EQ (file.readFrames (3, { 0, 10 }).size(), 0);
    EXPECT_EQ (file.readFrames (-1, { 0, 10 }).size(), 0);

    // An empty file, a file that does not exist, and data past the end all read as zeros.
    const auto empty = file.readFrames (0, { 0, 10 });
    ASSERT_EQ (empty.cols(), 10);
    EXPECT_EQ (empty.cwiseAbs().maxCoeff(), 0.0f);

    TrackDataFile missing (dir.get().getChildFile ("missing.mask"), rows, frames, 1);
    const auto fromMissing = missing.readFrames (0, { 5, 15 });
    ASSERT_EQ (fromMissing.rows(), rows);
    ASSERT_EQ (fromMissing.cols(), 10);
    EXPECT_EQ (fromMissing.cwiseAbs().maxCoeff(), 0.0f);
    EXPECT_FALSE (missing.wasImported());

    ASSERT_TRUE (file.writeFrames (0, 0, 4, ramp (rows, 2, 1.0f)));
    const auto partly = file.readFrames (0, { 3, 8 });
    EXPECT_EQ (partly (0, 0), 0.0f);
    EXPECT_EQ (partly (0, 1), 1.0f);
    EXPECT_EQ (partly (2, 2), 6.0f);
    EXPECT_EQ (partly (0, 3), 0.0f);
}

TEST (TrackDataFile, WritesOfTheWrongShapeOrPlaceAreRefused)
{
    test::TemporaryDirectory dir;
    TrackDataFile file (dir.get().getChildFile ("w.mask"), 4, 10, 2);
    ASSERT_TRUE (file.create());

#if ! JUCE_DEBUG // in debug builds these trip an assertion by design
    EXPECT_FALSE (file.writeFrames (2, 0, 0, MaskMatrix::Ones (4, 1)));
    EXPECT_FALSE (file.writeFrames (0, 0, 9, MaskMatrix::Ones (4, 2)));
    EXPECT_FALSE (file.writeFrames (0, 2, 0, MaskMatrix::Ones (3, 1)));
    EXPECT_FALSE (file.writeFrames (0, -1, 0, MaskMatrix::Ones (1, 1)));
    EXPECT_FALSE (file.writeFrames (0, 0, 0, MaskMatrix (4, 0)));
    EXPECT_FALSE (file.writeComplexFrames (0, 0, 0, CspecMatrix::Ones (4, 1)));
#endif
    EXPECT_EQ (file.getFile().getSize(), 0);

    // A block of some bins touches only those bins.
    ASSERT_TRUE (file.writeFrames (1, 0, 0, MaskMatrix::Constant (4, 10, 1.0f)));
    ASSERT_TRUE (file.writeFrames (1, 1, 2, MaskMatrix::Constant (2, 3, 0.25f)));
    const auto m = file.readFrames (1, { 0, 10 });
    EXPECT_EQ (m (0, 2), 1.0f);
    EXPECT_EQ (m (1, 2), 0.25f);
    EXPECT_EQ (m (2, 4), 0.25f);
    EXPECT_EQ (m (3, 4), 1.0f);
    EXPECT_EQ (m (1, 5), 1.0f);
}

TEST (TrackDataFile, ComplexFramesRoundTrip)
{
    test::TemporaryDirectory dir;
    TrackDataFile file (dir.get().getChildFile ("c.frames"), 3, 8, 2, TrackDataFile::ValueType::complex);
    ASSERT_TRUE (file.create());
    CspecMatrix block (3, 8);
    for (int c = 0; c < 8; ++c)
        for (int r = 0; r < 3; ++r)
            block (r, c) = { (float) c, (float) -r };
    ASSERT_TRUE (file.writeComplexFrames (1, 0, 0, block));
    EXPECT_EQ (file.getFile().getSize(), 2 * 8 * 3 * 8);

    const auto back = file.readComplexFrames (1, { 2, 5 });
    ASSERT_EQ (back.cols(), 3);
    EXPECT_EQ (back, block.middleCols (2, 3));
    EXPECT_EQ (file.readComplexFrames (0, { 0, 8 }).cwiseAbs().maxCoeff(), 0.0f);
    EXPECT_EQ (file.readFrames (1, { 0, 8 }).size(), 0); // not a real-valued file

    // A second name of the file (a saved project's, linked in at open) keeps its bytes
    // when the file is written; the file keeps what it held and takes the write.
    const auto saved = dir.get().getChildFile ("saved.frames");
    ASSERT_EQ (::link (file.getFile().getFullPathName().toRawUTF8(), saved.getFullPathName().toRawUTF8()), 0);
    juce::MemoryBlock before;
    ASSERT_TRUE (saved.loadFileAsData (before));
    ASSERT_TRUE (file.writeComplexFrames (0, 0, 4, block.middleCols (0, 2)));
    juce::MemoryBlock after;
    ASSERT_TRUE (saved.loadFileAsData (after));
    EXPECT_EQ (after, before);
    EXPECT_EQ (file.readComplexFrames (0, { 4, 6 }), block.middleCols (0, 2));
    EXPECT_EQ (file.readComplexFrames (1, { 0, 8 }), block);
    EXPECT_EQ (file.readComplexFrames (0, { 0, 4 }).cwiseAbs().maxCoeff(), 0.0f);
}

TEST (AsigMemoryChunk, MaskLevelsAndSelectionSurviveReopening)
{
    test::TemporaryDirectory dir;
    const auto fileA = dir.get().getChildFile ("x-0.frames");
    const auto fileM = dir.get().getChildFile ("x-0.mask");
    const auto fileS = dir.get().getChildFile ("x-0.selection");
    const int rows = 6, frames = 20, start = 1024;
    const juce::Range<int> range (start, start + frames);

    {
        AsigMemoryChunk chunk (fileA, fileM, fileS, 2, rows, frames, range);
        EXPECT_EQ (chunk.getMaskLevel (1), 0.0f);
        EXPECT_EQ (chunk.readMaskFrames (1, range).minCoeff(), 1.0f);

        // Only channel 1 edited: channel 0 must still read as ones, from memory and from disk.
        ASSERT_TRUE (chunk.setMaskFrames (1, { 2, 4 }, { start + 5, start + 7 }, MaskMatrix::Constant (2, 2, 0.125f)));
        EXPECT_GE (chunk.getMaskLevel (1), AsigMemoryChunk::editedMaskLevel);
        EXPECT_EQ (chunk.getMaskLevel (0), 0.0f);
        EXPECT_EQ (chunk.getEditedFrameRange(), juce::Range<int> (start + 5, start + 7));

        ASSERT_TRUE (chunk.setSelection ({ 0, 2 }, { start + 10, start + 12 }, MaskMatrix::Constant (2, 2, 0.5f), false));
        EXPECT_GT (chunk.getSelectionLevel(), 0.0f);
        ASSERT_TRUE (chunk.addToSelection ({ 1, 3 }, { start + 11, start + 13 }, MaskMatrix::Constant (2, 2, 0.75f)));
    }

    AsigMemoryChunk reopened (fileA, fileM, fileS, 2, rows, frames, range);
    EXPECT_EQ (reopened.getMaskLevel (0), 0.0f);
    EXPECT_GE (reopened.getMaskLevel (1), AsigMemoryChunk::editedMaskLevel);
    EXPECT_EQ (reopened.getEditedFrameRange(), juce::Range<int> (start + 5, start + 7));
    const auto mask = reopened.readMaskFrames (1, range);
    EXPECT_EQ (mask (2, 5), 0.125f);
    EXPECT_EQ (mask (4, 5), 1.0f);
    EXPECT_EQ (reopened.readMaskFrames (0, range).minCoeff(), 1.0f);

    const auto selection = reopened.readSelectionFromFile (range);
    EXPECT_EQ (selection (0, 10), 0.5f);
    EXPECT_EQ (selection (1, 11), 0.75f); // max (0.5, 0.75)
    EXPECT_EQ (selection (0, 11), 0.5f);
    EXPECT_EQ (selection (2, 12), 0.75f);
    EXPECT_EQ (selection (2, 10), 0.0f);
    EXPECT_EQ (reopened.getSelectedFrameRange(), juce::Range<int> (start + 10, start + 13));

    // Clearing brings every level and file back to empty.
    ASSERT_TRUE (reopened.clearSelection());
    ASSERT_TRUE (reopened.initMask (1));
    EXPECT_EQ (reopened.getSelectionLevel(), 0.0f);
    EXPECT_EQ (fileM.getSize(), 0);
    EXPECT_EQ (fileS.getSize(), 0);
    EXPECT_TRUE (reopened.getEditedFrameRange().isEmpty());
}
