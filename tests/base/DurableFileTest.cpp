// Replacing a file: the old one stays whole whatever fails, the new one arrives whole.

#include "base/DurableFile.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kalder;

namespace
{
juce::MemoryBlock bytes (size_t size, int seed)
{
    juce::MemoryBlock b (size);
    juce::Random r (seed);
    for (size_t i = 0; i < size; ++i)
        static_cast<char*> (b.getData())[i] = (char) r.nextInt (256);
    return b;
}

struct ScopedSpace
{
    explicit ScopedSpace (DurableFile::SpaceCheck check) { DurableFile::setSpaceCheckForTesting (std::move (check)); }
    ~ScopedSpace() { DurableFile::setSpaceCheckForTesting (nullptr); }
};
} // namespace

TEST (DurableFile, AFullDiskAtAnyByteLeavesTheOldFileWholeAndSaysSo)
{
    test::TemporaryDirectory dir;
    const auto target = dir.get().getChildFile ("project.orv");
    const auto before = bytes (3 << 20, 1), after = bytes ((3 << 20) + 777, 2);
    ASSERT_TRUE (target.replaceWithData (before.getData(), before.getSize()));
    ::chmod (target.getFullPathName().toRawUTF8(), 0600);

    // the disk fills at 20 places: the first byte, inside the first megabyte, on and
    // beside the writer's megabyte steps, the last byte
    for (int i = 0; i < 20; ++i)
    {
        const auto limit = (size_t) ((double) i / 19.0 * (double) (after.getSize() - 1));
        SCOPED_TRACE (limit);
        const ScopedSpace full (
            [limit] (size_t written, size_t wanted) { return written >= limit ? 0 : std::min (wanted, limit - written); });
        const auto r = DurableFile::replaceWithData (target, after.getData(), after.getSize());
        ASSERT_TRUE (r.failed());
        EXPECT_TRUE (r.getErrorMessage().contains ("the disk is full")) << r.getErrorMessage();
        EXPECT_TRUE (r.getErrorMessage().contains (target.getFullPathName()));
        juce::MemoryBlock now;
        ASSERT_TRUE (target.loadFileAsData (now));
        EXPECT_TRUE (now == before) << "the old file is torn";
        EXPECT_EQ (dir.get().getNumberOfChildFiles (juce::File::findFilesAndDirectories | juce::File::ignoreHiddenFiles, "*"), 1);
        EXPECT_EQ (dir.get().getNumberOfChildFiles (juce::File::findFiles, "*.new"), 0) << "the partial file stays behind";
    }

    // with room, the new content arrives whole and keeps who may read the file
    ASSERT_TRUE (DurableFile::replaceWithData (target, after.getData(), after.getSize()).wasOk());
    juce::MemoryBlock now;
    ASSERT_TRUE (target.loadFileAsData (now));
    EXPECT_TRUE (now == after);
    struct stat info
    {};
    ASSERT_EQ (::stat (target.getFullPathName().toRawUTF8(), &info), 0);
    EXPECT_EQ (info.st_mode & 0777, 0600u);

    // a vanished folder, or a folder where the file should be: refused, nothing made
    EXPECT_TRUE (DurableFile::replaceWithText (dir.get().getChildFile ("gone/x.orv"), "x").failed());
    EXPECT_FALSE (dir.get().getChildFile ("gone").exists());
    ASSERT_TRUE (dir.get().getChildFile ("folder").createDirectory().wasOk());
    EXPECT_TRUE (DurableFile::replaceWithText (dir.get().getChildFile ("folder"), "x").failed());
    EXPECT_TRUE (dir.get().getChildFile ("folder").isDirectory());
}
