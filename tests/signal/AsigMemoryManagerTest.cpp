#include "signal/AsigMemoryManager.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

using namespace kalder;

namespace
{
using Range = juce::Range<int>;

/** The value stored at (channel, frame, bin) of the test store: unique everywhere. */
std::complex<float> expectedValue (int channel, int frame, int bin)
{
    return { (float) frame, (float) (bin + 100 * channel) };
}

/** A store of 2 channels, 9 bins and 2500 frames (three chunks) with known frames. */
struct TestStore
{
    static constexpr int channels = 2, bins = 9, frames = 2500;

    TestStore() : manager (dir.get(), "store")
    {
        manager.setProperties (channels, bins, frames);
        EXPECT_TRUE (manager.createDataFiles().wasOk());
        for (int c = 0; c < channels; ++c)
        {
            CspecMatrix all (bins, frames);
            for (int f = 0; f < frames; ++f)
                for (int b = 0; b < bins; ++b)
                    all (b, f) = expectedValue (c, f, b);
            EXPECT_TRUE (manager.setCspecFrames (c, { 0, frames }, all));
        }
    }

    static bool matches (const CspecMatrix& m, int channel, Range range)
    {
        if (m.rows() != bins || m.cols() != range.getLength())
            return false;
        for (int f = 0; f < m.cols(); ++f)
            for (int b = 0; b < bins; ++b)
                if (m (b, f) != expectedValue (channel, range.getStart() + f, b))
                    return false;
        return true;
    }

    test::TemporaryDirectory dir;
    AsigMemoryManager manager;
};
} // namespace

TEST (AsigMemoryManager, ChunkIndicesOfRanges)
{
    using A = juce::Array<int>;
    EXPECT_EQ (AsigMemoryManager::getDataFileIndicesForRange ({ 0, 1024 }), A ({ 0 }));
    EXPECT_EQ (AsigMemoryManager::getDataFileIndicesForRange ({ 1000, 1030 }), A ({ 0, 1 }));
    EXPECT_EQ (AsigMemoryManager::getDataFileIndicesForRange ({ 2048, 2049 }), A ({ 2 }));
    EXPECT_EQ (AsigMemoryManager::getDataFileIndicesForRange ({ 1023, 3073 }), A ({ 0, 1, 2, 3 }));
    EXPECT_TRUE (AsigMemoryManager::getDataFileIndicesForRange ({ 5, 5 }).isEmpty());
}

TEST (AsigMemoryManager, SplittingARangeAgainstACache)
{
    test::TemporaryDirectory dir;
    AsigMemoryManager manager (dir.get(), "s");
    AsigMemoryManager::Multspec cache;
    Range before, inside, after;

    auto split = [&] (Range r, Range c) {
        cache.range = c;
        EXPECT_TRUE (manager.splitRange (r, &before, &inside, &after, &cache));
    };

    split ({ 10, 20 }, { 0, 100 });
    EXPECT_TRUE (before.isEmpty());
    EXPECT_EQ (inside, Range (10, 20));
    EXPECT_TRUE (after.isEmpty());

    split ({ 10, 20 }, { 15, 18 });
    EXPECT_EQ (before, Range (10, 15));
    EXPECT_EQ (inside, Range (15, 18));
    EXPECT_EQ (after, Range (18, 20));

    split ({ 10, 20 }, { 30, 40 });
    EXPECT_EQ (before, Range (10, 20));
    EXPECT_TRUE (inside.isEmpty());
    EXPECT_TRUE (after.isEmpty());

    split ({ 10, 20 }, { 0, 5 });
    EXPECT_TRUE (before.isEmpty());
    EXPECT_TRUE (inside.isEmpty());
    EXPECT_EQ (after, Range (10, 20));

    // Every frame of the request lands in exactly one part.
    juce::Random random (3);
    for (int i = 0; i < 500; ++i)
    {
        const auto r0 = random.nextInt (50), c0 = random.nextInt (50);
        const Range r (r0, r0 + random.nextInt (30)), c (c0, c0 + random.nextInt (30));
        split (r, c);
        EXPECT_EQ (before.getLength() + inside.getLength() + after.getLength(), r.getLength());
        EXPECT_TRUE (before.isEmpty() || (r.contains (before) && before.getEnd() <= c.getStart()));
        EXPECT_TRUE (inside.isEmpty() || (r.contains (inside) && c.contains (inside)));
        EXPECT_TRUE (after.isEmpty() || (r.contains (after) && after.getStart() >= c.getEnd()));
        if (! before.isEmpty() && ! inside.isEmpty())
        {
            EXPECT_EQ (before.getEnd(), inside.getStart());
        }
        if (! inside.isEmpty() && ! after.isEmpty())
        {
            EXPECT_EQ (inside.getEnd(), after.getStart());
        }
    }
}

TEST (AsigMemoryManager, ReadsAreTheSameFromFilesAndFromEitherCache)
{
    TestStore s;
    const Range wanted (1000, 1100); // across a chunk boundary

    EXPECT_TRUE (TestStore::matches (s.manager.readCspecFromFile (1, wanted), 1, wanted));
    EXPECT_TRUE (TestStore::matches (s.manager.getCspecFrames (1, wanted, AsigMemoryManager::Source::files), 1, wanted));

    // A back buffer that holds part of the request.
    ASSERT_TRUE (s.manager.cache ({ 1050, 1060 }));
    EXPECT_TRUE (s.manager.isCopyPending());
    const auto backRange = s.manager.getBackRange();
    EXPECT_TRUE (backRange.contains (Range (1050, 1060)));
    EXPECT_TRUE (TestStore::matches (s.manager.getCspecFrames (1, wanted, AsigMemoryManager::Source::cacheOnly), 1, wanted));

    s.manager.copyBackToFront();
    EXPECT_EQ (s.manager.getFrontRange(), backRange);
    EXPECT_TRUE (s.manager.getBackRange().isEmpty());
    EXPECT_TRUE (TestStore::matches (s.manager.getCspecFrames (0, wanted, AsigMemoryManager::Source::cacheOnly), 0, wanted));
    EXPECT_TRUE (TestStore::matches (s.manager.getCspecFrames (0, { 0, 2500 }), 0, { 0, 2500 }));

    // With both buffers locked a cache-only read gives nothing, a normal read goes to disk.
    s.manager.getFrontLock().enterWrite();
    s.manager.getBackLock().enterWrite();
    EXPECT_EQ (s.manager.getCspecFrames (0, wanted, AsigMemoryManager::Source::cacheOnly).size(), 0);
    EXPECT_TRUE (TestStore::matches (s.manager.getCspecFrames (0, wanted), 0, wanted));
    s.manager.getBackLock().exitWrite();
    s.manager.getFrontLock().exitWrite();
}

TEST (AsigMemoryManager, OutOfRangeAndNotReadyReads)
{
    TestStore s;
    EXPECT_EQ (s.manager.getCspecFrames (0, { 2490, 2600 }).cols(), 10);
    EXPECT_EQ (s.manager.getCspecFrames (0, { -5, 3 }).cols(), 3);
    EXPECT_EQ (s.manager.getCspecFrames (0, { 3000, 3100 }).size(), 0);
    EXPECT_EQ (s.manager.getMaskFrames (0, { 3000, 3100 }).size(), 0);

    // A channel that does not exist reads as silence and unit gain.
    const auto noChannel = s.manager.getCspecFrames (5, { 0, 4 });
    ASSERT_EQ (noChannel.cols(), 4);
    EXPECT_EQ (noChannel.cwiseAbs().maxCoeff(), 0.0f);
    EXPECT_EQ (s.manager.getMaskFrames (-1, { 0, 4 }).minCoeff(), 1.0f);

    test::TemporaryDirectory dir;
    AsigMemoryManager empty (dir.get(), "empty");
    EXPECT_FALSE (empty.isReady());
    EXPECT_EQ (empty.getCspecFrames (0, { 0, 10 }, AsigMemoryManager::Source::cacheOnly).size(), 0); // no bins: 0 x 10
    EXPECT_TRUE (empty.getSelection().isEmpty());
    EXPECT_FALSE (empty.hasSelection());
}

TEST (AsigMemoryManager, MaskWritesReachFilesAndBothCaches)
{
    TestStore s;
    ASSERT_TRUE (s.manager.cache ({ 1000, 1100 }));
    s.manager.copyBackToFront();
    ASSERT_TRUE (s.manager.cache ({ 1020, 1040 }));
    ASSERT_FALSE (s.manager.getFrontRange().isEmpty());
    ASSERT_FALSE (s.manager.getBackRange().isEmpty());

    const Range bins (2, 5), frames (1010, 1050);
    ASSERT_TRUE (s.manager.setMaskFrames (1, bins, frames, MaskMatrix::Constant (3, 40, 0.25f)));

    auto check = [&] (const MaskMatrix& m, const char* where) {
        ASSERT_EQ (m.cols(), 200) << where;
        for (int f = 0; f < 200; ++f)
            for (int b = 0; b < TestStore::bins; ++b)
            {
                const bool inside = bins.contains (b) && frames.contains (950 + f);
                ASSERT_EQ (m (b, f), inside ? 0.25f : 1.0f) << where << " bin " << b << " frame " << 950 + f;
            }
    };
    check (s.manager.readMaskFromFile (1, { 950, 1150 }), "file");
    check (s.manager.getMaskFrames (1, { 950, 1150 }, AsigMemoryManager::Source::cacheOnly), "front");
    s.manager.getFrontLock().enterWrite();
    check (s.manager.getMaskFrames (1, { 950, 1150 }, AsigMemoryManager::Source::cacheOnly), "back");
    s.manager.getFrontLock().exitWrite();
    EXPECT_EQ (s.manager.getMaskFrames (0, { 950, 1150 }).minCoeff(), 1.0f);
    EXPECT_EQ (s.manager.getEditedFrameRange(), frames);

    s.manager.initMask (1);
    EXPECT_EQ (s.manager.getMaskFrames (1, { 950, 1150 }).minCoeff(), 1.0f);
    EXPECT_TRUE (s.manager.getEditedFrameRange().isEmpty());

#if ! JUCE_DEBUG
    // Wrong shapes and places change nothing.
    EXPECT_FALSE (s.manager.setMaskFrames (1, bins, frames, MaskMatrix::Constant (3, 39, 0.0f)));
    EXPECT_FALSE (s.manager.setMaskFrames (1, { 0, 10 }, { 0, 1 }, MaskMatrix::Constant (10, 1, 0.0f)));
    EXPECT_FALSE (s.manager.setMaskFrames (1, { 0, 1 }, { 2499, 2501 }, MaskMatrix::Constant (1, 2, 0.0f)));
    EXPECT_FALSE (s.manager.setMaskFrames (2, { 0, 1 }, { 0, 1 }, MaskMatrix::Constant (1, 1, 0.0f)));
    EXPECT_FALSE (s.manager.setMaskFrames (0, { 0, 1 }, { 5, 3 }, MaskMatrix (1, 0)));
    EXPECT_FALSE (s.manager.setSelection ({ 0, 1 }, { 0, 2 }, MaskMatrix::Constant (2, 1, 1.0f), false));
    EXPECT_EQ (s.manager.getMaskFrames (1, { 0, 2500 }, AsigMemoryManager::Source::files).minCoeff(), 1.0f);
    EXPECT_FALSE (s.manager.hasSelection());
#endif
}

TEST (AsigMemoryManager, SelectionBoundingBoxAndClearing)
{
    TestStore s;
    EXPECT_TRUE (s.manager.getSelection().isEmpty());

    MaskMatrix block = MaskMatrix::Zero (4, 30);
    block (1, 3) = 1.0f;  // bin 3, frame 1013
    block (2, 25) = 0.5f; // bin 4, frame 1035
    ASSERT_TRUE (s.manager.setSelection ({ 2, 6 }, { 1010, 1040 }, block, true));
    ASSERT_TRUE (s.manager.addToSelection ({ 7, 8 }, { 2400, 2401 }, MaskMatrix::Constant (1, 1, 0.25f)));
    EXPECT_TRUE (s.manager.hasSelection());

    const auto box = s.manager.getSelection();
    EXPECT_EQ (box.frames, Range (1013, 2401));
    EXPECT_EQ (box.bins, Range (3, 8));
    ASSERT_EQ (box.values.rows(), 5);
    ASSERT_EQ (box.values.cols(), 2401 - 1013);
    EXPECT_EQ (box.values (0, 0), 1.0f);
    EXPECT_EQ (box.values (1, 1035 - 1013), 0.5f);
    EXPECT_EQ (box.values (4, 2400 - 1013), 0.25f);
    EXPECT_DOUBLE_EQ (box.values.sum(), 1.75);

    // Replacing with clearRestFirst drops everything else.
    ASSERT_TRUE (s.manager.setSelection ({ 0, 1 }, { 5, 6 }, MaskMatrix::Constant (1, 1, 1.0f), true));
    const auto single = s.manager.getSelection();
    EXPECT_EQ (single.frames, Range (5, 6));
    EXPECT_EQ (single.bins, Range (0, 1));

    s.manager.clearSelection();
    EXPECT_FALSE (s.manager.hasSelection());
    EXPECT_EQ (s.manager.getSelection ({ 0, 2500 }).cwiseAbs().maxCoeff(), 0.0f);
}

TEST (AsigMemoryManager, CacheWindowGrowsAroundTheRequestWithinItsBudget)
{
    TestStore s;
    const auto w = s.manager.calculateRangeToCache ({ 1000, 1200 });
    EXPECT_EQ (w, Range (900, 1300));
    EXPECT_EQ (s.manager.calculateRangeToCache ({ 0, 10 }), Range (0, 74));
    EXPECT_EQ (s.manager.calculateRangeToCache ({ 2490, 2600 }).getEnd(), 2500);
    EXPECT_TRUE (s.manager.calculateRangeToCache ({ 3000, 3100 }).isEmpty());

    // A huge store: the window is capped and keeps the request's centre.
    test::TemporaryDirectory dir;
    AsigMemoryManager big (dir.get(), "big");
    big.setProperties (2, 2049, 1000000);
    const auto capped = big.calculateRangeToCache ({ 0, 1000000 });
    const auto bytes = (size_t) capped.getLength() * 2049 * 2 * 12;
    EXPECT_LE (bytes, AsigMemoryManager::maxCacheBytes);
    EXPECT_GT (bytes, AsigMemoryManager::maxCacheBytes / 2);
    EXPECT_NEAR (capped.getStart() + capped.getLength() / 2, 500000, 1);
}
