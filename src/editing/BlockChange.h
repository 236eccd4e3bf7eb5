#pragma once

#include "UndoBlockStore.h"

#include <juce_core/juce_core.h>

#include <memory>
#include <optional>

namespace kalder
{

/**
    One rectangle of a mask or of the selection that an edit changed: its values
    before and after, kept in an UndoBlockStore. Only the cells that differ are kept:
    the rectangle is the bounding box of the differences between the two states.

    Threading: the history's thread (the message thread).
*/
class BlockChange
{
public:
    /** The change from before to after, two blocks of the same shape placed at
        (bins.getStart(), frames.getStart()). Gives no change when the two are equal bit
        for bit. ok becomes false when the store could not keep a block. */
    static std::optional<BlockChange> capture (UndoBlockStore& store, juce::Range<int> bins, juce::Range<int> frames,
                                               const MaskMatrix& before, const MaskMatrix& after, bool& ok);

    juce::Range<int> getBins() const noexcept { return bins; }
    juce::Range<int> getFrames() const noexcept { return frames; }

    /** The values of the rectangle before (or after) the edit; false when they cannot be
        read back. */
    bool loadBefore (MaskMatrix& dest) const { return store->load (*before, dest); }
    bool loadAfter (MaskMatrix& dest) const { return store->load (*after, dest); }

    /** Bytes of both codes. */
    size_t getCodeBytes() const noexcept { return before->getCodeBytes() + after->getCodeBytes(); }

    /** The part of two equal-shaped blocks in which they differ, relative to the blocks:
        empty ranges when they are equal bit for bit. */
    static std::pair<juce::Range<int>, juce::Range<int>> findDifference (const MaskMatrix& a, const MaskMatrix& b);

private:
    BlockChange() = default;

    UndoBlockStore* store = nullptr;
    juce::Range<int> bins, frames;
    std::shared_ptr<UndoBlockStore::Block> before, after;
};

} // namespace kalder
