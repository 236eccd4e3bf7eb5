#include "signal/Asig.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace kalder;

namespace
{
using Range = juce::Range<int>;

/** A two-chunk stereo store at 8 kHz whose unedited frames are known. */
struct SharedStore
{
    SharedStore() : audio (test::makeNoise (2, 8000 * 40, 21), 8000)
    {
        EXPECT_TRUE (asig.setAudioFile (audio, dir.get(), "c").wasOk());
        EXPECT_TRUE (asig.readAudio (audio).wasOk());
        for (int ch = 0; ch < 2; ++ch)
            truth.push_back (asig.getMemoryManager()->readCspecFromFile (ch, { 0, asig.getNumFrames() }));
    }

    bool framesAreTrue (int channel, Range r, const CspecMatrix& m) const
    {
        return m.cols() == r.getLength() && m == truth[(size_t) channel].middleCols (r.getStart(), r.getLength());
    }

    test::TemporaryDirectory dir;
    ParsedAudioBuffer audio;
    Asig asig;
    std::vector<CspecMatrix> truth;
};

Range randomRange (juce::Random& random, int numFrames)
{
    const auto start = random.nextInt (numFrames - 1);
    return { start, juce::jmin (numFrames, start + 1 + random.nextInt (300)) };
}
} // namespace

TEST (AsigConcurrency, ReadsStayCorrectWhileABufferIsWriteLocked)
{
    SharedStore s;
    auto* manager = s.asig.getMemoryManager();
    ASSERT_TRUE (manager->cache ({ 200, 800 }));
    manager->copyBackToFront();
    ASSERT_TRUE (manager->cache ({ 900, 1100 }));

    std::atomic<bool> holding { false }, done { false };
    std::atomic<int> wrong { 0 }, reads { 0 };

    std::thread holder ([&] {
        // Hold each buffer's write lock in turn, as the caching and copy jobs do.
        // At least 40 rounds, and on until the readers have read enough (slow builds).
        for (int i = 0; i < 40 || reads.load() < 20; ++i)
        {
            auto& lock = i % 2 == 0 ? manager->getBackLock() : manager->getFrontLock();
            lock.enterWrite();
            holding = true;
            std::this_thread::sleep_for (std::chrono::milliseconds (5));
            lock.exitWrite();
        }
        done = true;
    });

    test::runConcurrently (2, [&] (int t) {
        juce::Random random (t + 1);
        while (! done)
        {
            const auto ch = random.nextInt (2);
            const auto r = randomRange (random, s.asig.getNumFrames());
            if (! s.framesAreTrue (ch, r, s.asig.readFrames (ch, r)))
                ++wrong;
            ++reads;
        }
    });
    holder.join();

    EXPECT_TRUE (holding.load());
    EXPECT_GE (reads.load(), 20);
    EXPECT_EQ (wrong.load(), 0);
}

TEST (AsigConcurrency, CachingSwapsAndMaskWritesNeverShowWrongData)
{
    SharedStore s;
    auto* manager = s.asig.getMemoryManager();
    const auto numFrames = s.asig.getNumFrames();
    const auto bins = s.asig.getNumFreqs();

    // The writer paints frames [f0, f0 + 8) of channel 1 with one value per round;
    // readers must see, per frame, a whole column of one value that was written.
    constexpr int rounds = 150, minimumReads = 100;
    const Range painted (1020, 1028); // across the boundary of chunks 0 and 1
    std::atomic<bool> done { false };
    std::atomic<int> wrongFrames { 0 }, wrongMasks { 0 }, reads { 0 };

    std::thread cacher ([&] {
        juce::Random random (77);
        while (! done)
        {
            manager->cache (randomRange (random, numFrames));
            manager->copyBackToFront();
        }
    });

    std::thread writer ([&] {
        // At least `rounds` writes, and on until the readers have read enough.
        for (int i = 0; i < rounds || reads.load() < minimumReads; ++i)
        {
            const auto value = (float) (i % rounds + 1) / (float) rounds;
            EXPECT_TRUE (s.asig.setMask (1, { 0, bins }, painted, MaskMatrix::Constant (bins, painted.getLength(), value)));
        }
        done = true;
    });

    test::runConcurrently (2, [&] (int t) {
        juce::Random random (t + 10);
        while (! done)
        {
            const auto ch = random.nextInt (2);
            const auto r = randomRange (random, numFrames);
            if (! s.framesAreTrue (ch, r, manager->getCspecFrames (ch, r)))
                ++wrongFrames;

            const auto mask = manager->getMaskFrames (1, { 1010, 1040 });
            for (int f = 0; f < mask.cols(); ++f)
            {
                const auto column = mask.col (f);
                const bool insidePainted = painted.contains (1010 + f);
                const auto v = column (0);
                const bool valid = insidePainted
                                       ? (v > 0.0f && v <= 1.0f && std::abs (v * rounds - std::round (v * rounds)) < 1e-3f)
                                       : v == 1.0f;
                // Whole columns are written at once; a column may be older or newer, never mixed
                // with garbage.
                if (! valid || (column.array() < 0.0f).any() || (column.array() > 1.0f).any())
                    ++wrongMasks;
            }
            ++reads;
        }
    });
    writer.join();
    cacher.join();

    EXPECT_GE (reads.load(), minimumReads);
    EXPECT_EQ (wrongFrames.load(), 0);
    EXPECT_EQ (wrongMasks.load(), 0);

    // Once quiet, files and both caches agree on the last value.
    manager->cache ({ 900, 1100 });
    const auto fromCache = manager->getMaskFrames (1, painted, AsigMemoryManager::Source::cacheOnly);
    const auto fromFile = manager->readMaskFromFile (1, painted);
    EXPECT_EQ (fromCache, fromFile);
    EXPECT_EQ (fromFile.minCoeff(), fromFile.maxCoeff()); // one round's value everywhere
    manager->copyBackToFront();
    EXPECT_EQ (manager->getMaskFrames (1, painted, AsigMemoryManager::Source::cacheOnly), fromFile);
}

TEST (AsigConcurrency, AReaderThatKeepsFramesUnderTheirGenerationEndsOnTheLastWrite)
{
    // The pre-render ring's rule: read again only when the edit generation moved. If the
    // generation moved before a write landed, the reader would keep the old frames as
    // current for good.
    SharedStore s;
    const auto bins = s.asig.getNumFreqs();
    const Range painted (500, 540);
    constexpr int rounds = 200;

    std::atomic<bool> done { false };
    std::atomic<juce::uint64> keptGeneration { ~juce::uint64 {} };
    std::atomic<float> keptValue { -1.0f };
    std::thread reader ([&] {
        while (! done)
        {
            const auto generation = s.asig.getEditGeneration();
            if (generation == keptGeneration.load())
                continue;
            const auto mask = s.asig.getMemoryManager()->getMaskFrames (0, painted, AsigMemoryManager::Source::files);
            keptValue = mask (bins / 2, painted.getLength() / 2);
            keptGeneration = generation;
        }
    });

    int stale = 0;
    for (int i = 0; i < rounds; ++i)
    {
        const auto value = (float) (i % 2 == 0 ? 0.25 : 0.75);
        ASSERT_TRUE (s.asig.setMask (0, { 0, bins }, painted, MaskMatrix::Constant (bins, painted.getLength(), value)));
        // Wait until the reader has caught up with the generation, then look at what it kept.
        const auto deadline = juce::Time::getMillisecondCounter() + 2000;
        while (keptGeneration.load() != s.asig.getEditGeneration() && juce::Time::getMillisecondCounter() < deadline)
            std::this_thread::yield();
        if (keptValue.load() != value)
            ++stale;
    }
    done = true;
    reader.join();
    EXPECT_EQ (stale, 0) << "rounds in which the reader kept the frames from before the write";
}
