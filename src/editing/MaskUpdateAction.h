#pragma once

#include "BlockChange.h"
#include "EditManagerBase.h"
#include "MaskUpdate.h"

#include <juce_data_structures/juce_data_structures.h>

namespace kalder
{

/**
    An undoable change of one channel's mask: one or more blocks of new gains.

    When it is made (before the change), it reads the channel's stored mask under each
    block (AsigMemoryManager::getMaskFrames: the mask as stored, never the flipped or
    selection-weighted view of readFrames()) and keeps, for each block, only the cells
    that the change alters, before and after, compressed in the history's block store.

    perform() writes the new values and undo() the previous ones, each followed by
    notifyBlockChanged (bins, frames, false, true) over the blocks' bounding box. A
    write that fails part-way puts back what it had written and reports false. When
    every mask of the store was unedited before the change, undo() brings the store
    back to unedited masks (no mask data on disk), not merely to masks of ones.

    Threading: message thread (the history's).
*/
class MaskUpdateAction : public juce::UndoableAction
{
public:
    /** A change of update.channel over update's block. */
    MaskUpdateAction (EditManagerBase& manager, UndoBlockStore& blocks, const MaskUpdate& update);

    /** An empty change of channel, to which addBlock() adds blocks. */
    MaskUpdateAction (EditManagerBase& manager, UndoBlockStore& blocks, int channel);

    /** Adds a block of the same channel, disjoint from the others. storedMask, when
        given, is the channel's stored mask over the block (read by the caller with
        getMaskFrames and cut to the block), saving a second read. Returns false when
        the block does not fit the store or could not be kept; the action is then
        invalid and refuses to perform. */
    bool addBlock (const MaskUpdate& update, const MaskMatrix* storedMask = nullptr);

    /** Declares that the change returns every mask of the store to unedited (a reset):
        perform() then resets the masks instead of writing ones. */
    void setResetsAllMasks() noexcept { resetsAllMasks = true; }

    /** False once a block was refused or could not be kept. */
    bool isValid() const noexcept { return valid; }

    /** True when no block changes any value. */
    bool changesNothing() const noexcept { return changes.empty() && ! resetsAllMasks; }

    int getChannel() const noexcept { return channel; }
    juce::Range<int> getBins() const noexcept { return bins; }
    juce::Range<int> getFrames() const noexcept { return frames; }

    /** Bytes of the kept before and after values. */
    size_t getCodeBytes() const noexcept;

    bool perform() override;
    bool undo() override;

    /** Kilobytes of the kept values (compressed), at least 1. */
    int getSizeInUnits() override;

    /** Mask changes never merge. */
    juce::UndoableAction* createCoalescedAction (juce::UndoableAction*) override { return nullptr; }

private:
    bool write (bool after);
    bool writeChanges (Asig& store, bool after, int count);

    EditManagerBase& manager;
    UndoBlockStore& blocks;
    const int channel;
    std::vector<BlockChange> changes;
    juce::Range<int> bins, frames;
    bool valid = true;
    bool wasUnedited = false, resetsAllMasks = false, checkedUnedited = false;
};

} // namespace kalder
