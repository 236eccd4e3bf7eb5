#include "BlockChange.h"

#include <cstring>

namespace kalder
{

std::pair<juce::Range<int>, juce::Range<int>> BlockChange::findDifference (const MaskMatrix& a, const MaskMatrix& b)
{
    jassert (a.rows() == b.rows() && a.cols() == b.cols());
    const auto rows = (int) a.rows();
    int firstRow = rows, lastRow = -1, firstColumn = -1, lastColumn = -1;

    for (int f = 0; f < (int) a.cols(); ++f)
    {
        const auto* x = a.col (f).data();
        const auto* y = b.col (f).data();
        // Bit patterns: -0 differs from 0 and a NaN equals itself, as a restore needs.
        if (std::memcmp (x, y, (size_t) rows * sizeof (float)) == 0)
            continue;

        int r0 = 0;
        while (std::memcmp (x + r0, y + r0, sizeof (float)) == 0)
            ++r0;
        int r1 = rows - 1;
        while (std::memcmp (x + r1, y + r1, sizeof (float)) == 0)
            --r1;

        firstRow = juce::jmin (firstRow, r0);
        lastRow = juce::jmax (lastRow, r1);
        if (firstColumn < 0)
            firstColumn = f;
        lastColumn = f;
    }

    if (firstColumn < 0)
        return {};
    return { { firstRow, lastRow + 1 }, { firstColumn, lastColumn + 1 } };
}

std::optional<BlockChange> BlockChange::capture (UndoBlockStore& store, juce::Range<int> bins, juce::Range<int> frames,
                                                 const MaskMatrix& before, const MaskMatrix& after, bool& ok)
{
    jassert (before.rows() == bins.getLength() && before.cols() == frames.getLength());
    const auto [rows, columns] = findDifference (before, after);
    if (rows.isEmpty())
        return std::nullopt;

    BlockChange change;
    change.store = &store;
    change.bins = rows + bins.getStart();
    change.frames = columns + frames.getStart();
    const auto cut = [r = rows, c = columns] (const MaskMatrix& m) -> MaskMatrix {
        return m.block (r.getStart(), c.getStart(), r.getLength(), c.getLength());
    };
    change.before = store.store (cut (before));
    change.after = store.store (cut (after));
    if (change.before == nullptr || change.after == nullptr)
    {
        ok = false;
        return std::nullopt;
    }
    return change;
}

} // namespace kalder
