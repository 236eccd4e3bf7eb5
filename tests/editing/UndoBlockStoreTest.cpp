#include "editing/UndoBlockStore.h"
#include "editing/RunLengthCodec.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

using namespace kalder;

namespace
{
bool sameBits (const MaskMatrix& a, const MaskMatrix& b)
{
    return a.rows() == b.rows() && a.cols() == b.cols()
           && std::memcmp (a.data(), b.data(), (size_t) a.size() * sizeof (float)) == 0;
}

MaskMatrix randomBlock (int rows, int cols, int seed)
{
    juce::Random r (seed);
    MaskMatrix m (rows, cols);
    for (Eigen::Index i = 0; i < m.size(); ++i)
        m.data()[i] = r.nextFloat();
    return m;
}

float withBits (std::uint32_t bits)
{
    float f;
    std::memcpy (&f, &bits, sizeof (f));
    return f;
}
} // namespace

TEST (UndoBlockStore, CodesComeBackBitForBitAndRunsShrink)
{
    // Runs of ones and zeros with soft edges, the special values, and no runs at all.
    MaskMatrix mask = MaskMatrix::Ones (300, 40);
    mask.block (20, 5, 100, 30).setZero();
    mask.block (19, 5, 1, 30).setConstant (0.5f);
    MaskMatrix special (7, 3);
    special << 0.0f, -0.0f, 1.0f, std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
        withBits (0x7fc00001), withBits (0x7fc00002), withBits (0xffc00001), std::numeric_limits<float>::denorm_min(), 0.0f, 0.0f,
        0.0f, -0.0f, -0.0f, -0.0f, 1.0f, 1.0f, 2.0f, 2.0f, 2.0f, 3.0f;
    MaskMatrix pairs (6, 1);
    pairs << 1.0f, 1.0f, 2.0f, 2.0f, 3.0f, 3.0f;

    for (const auto& m : { mask, special, pairs, randomBlock (64, 64, 3), MaskMatrix (0, 5) })
    {
        const auto code = RunLengthCodec::encode (m.data(), (size_t) m.size());
        MaskMatrix back (m.rows(), m.cols());
        ASSERT_TRUE (RunLengthCodec::decode (code.data(), code.size(), back.data(), (size_t) back.size()));
        EXPECT_TRUE (sameBits (m, back));
        // Never more than a word per run beyond the values themselves.
        EXPECT_LE (code.size(), (size_t) m.size() + 1 + (size_t) m.size() / 3);
    }
    EXPECT_LT (RunLengthCodec::encode (mask.data(), (size_t) mask.size()).size(), 200u);

    // A damaged code is refused rather than read past its end.
    auto code = RunLengthCodec::encode (special.data(), (size_t) special.size());
    MaskMatrix back (7, 3);
    EXPECT_FALSE (RunLengthCodec::decode (code.data(), code.size() - 1, back.data(), (size_t) back.size()));
    EXPECT_FALSE (RunLengthCodec::decode (code.data(), code.size(), back.data(), (size_t) back.size() - 1));
    code[0] = 0; // a token of no values
    EXPECT_FALSE (RunLengthCodec::decode (code.data(), code.size(), back.data(), (size_t) back.size()));
}

TEST (UndoBlockStore, KeepsItsMemoryWithinBudgetAndGivesTheScratchFileBack)
{
    test::TemporaryDirectory dir;
    UndoBlockStore::Limits limits;
    limits.memoryBudgetBytes = 64 * 1024;
    limits.spillBytes = 32 * 1024;
    auto store = std::make_unique<UndoBlockStore> (dir.get(), limits);

    // 40 blocks of 16 KB that do not compress, and one large block that goes out at once.
    std::vector<MaskMatrix> values;
    std::vector<std::unique_ptr<UndoBlockStore::Block>> blocks;
    for (int i = 0; i < 40; ++i)
    {
        values.push_back (randomBlock (64, 64, i + 1));
        blocks.push_back (store->store (values.back()));
        ASSERT_NE (blocks.back(), nullptr);
        EXPECT_LE (store->getMemoryBytes(), limits.memoryBudgetBytes);
    }
    values.push_back (randomBlock (256, 64, 99));
    blocks.push_back (store->store (values.back()));
    EXPECT_FALSE (blocks.back()->isInMemory());
    EXPECT_TRUE (blocks[39]->isInMemory());
    EXPECT_FALSE (blocks[0]->isInMemory()); // the oldest went to the scratch file
    EXPECT_GT (store->getScratchBytes(), 30 * 16 * 1024);

    // The file is nameless: the folder shows nothing.
    EXPECT_EQ (dir.get().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);

    for (size_t i = 0; i < blocks.size(); ++i)
    {
        MaskMatrix back;
        ASSERT_TRUE (store->load (*blocks[i], back));
        EXPECT_TRUE (sameBits (values[i], back)) << i;
    }

    // Dropping the oldest gives their space back and leaves the rest intact; new blocks
    // reuse the space instead of growing the file.
    const auto scratchBefore = store->getScratchBytes();
    blocks.erase (blocks.begin(), blocks.begin() + 20);
    values.erase (values.begin(), values.begin() + 20);
    EXPECT_LE (store->getScratchBytes(), scratchBefore - 20 * 16 * 1024);
    for (int i = 0; i < 10; ++i)
    {
        values.push_back (randomBlock (64, 64, 200 + i));
        blocks.push_back (store->store (values.back()));
    }
    for (size_t i = 0; i < blocks.size(); ++i)
    {
        MaskMatrix back;
        ASSERT_TRUE (store->load (*blocks[i], back));
        EXPECT_TRUE (sameBits (values[i], back)) << i;
    }
    EXPECT_LE (store->getScratchBytes(), scratchBefore);

    blocks.clear();
    EXPECT_EQ (store->getScratchBytes(), 0);
    EXPECT_EQ (store->getMemoryBytes(), 0u);
}
