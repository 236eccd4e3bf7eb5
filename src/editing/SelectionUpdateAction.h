#pragma once

#include "BlockChange.h"
#include "EditManagerBase.h"
#include "SelectionUpdate.h"

#include <juce_data_structures/juce_data_structures.h>

#include <functional>

namespace kalder
{

/**
    An undoable change of a track's selection.

    When it is made (before the change), it works out the whole new selection over the
    frames the change touches, chunk by chunk, and keeps, for each chunk, the cells that
    change, before and after, compressed in the history's block store. How new values
    combine with the selection there:
    - replace: the block becomes the whole selection (every other bin is cleared);
    - add: each bin keeps the larger of its old and new value;
    - subtract: each bin becomes max (0, old - new);
    - assign: the block takes the new values (the rest stays): for operations that
      compute new values from the old ones (dim, strengthen, expand, shrink).
    New values are taken as 0..1 (NaN as 0).

    perform() writes the new selection and undo() the old one, each followed by
    notifyBlockChanged (bins, frames, true, false) over the changed cells' bounding box.
    A state that is the empty selection is written by clearing the selection (its files
    are emptied), so that undoing the first selection leaves no selection data behind.

    Threading: message thread (the history's).
*/
class SelectionUpdateAction : public juce::UndoableAction
{
public:
    enum class Rule
    {
        replace,
        add,
        subtract,
        assign
    };

    /** The new values of bins over a chunk's frames (a part of the change's frames):
        bins.getLength() rows, frames.getLength() columns. */
    using ValueSource = std::function<MaskMatrix (juce::Range<int> frames)>;

    /** The change an update describes (its flags pick the rule). */
    SelectionUpdateAction (EditManagerBase& manager, UndoBlockStore& blocks, const SelectionUpdate& update);

    /** A change of bins x frames whose new values come from source, chunk by chunk, so
        that a large change never holds its values at once. With Rule::replace, frames
        may be empty: the selection is then cleared. */
    SelectionUpdateAction (EditManagerBase& manager, UndoBlockStore& blocks, juce::Range<int> bins, juce::Range<int> frames,
                           Rule rule, const ValueSource& source);

    /** The rule of an update's flags. */
    static Rule getRule (const SelectionUpdate& update) noexcept;

    /** False when the change does not fit the store or could not be kept. */
    bool isValid() const noexcept { return valid; }

    bool changesNothing() const noexcept { return changes.empty(); }

    /** The bounding box of the changed cells. */
    juce::Range<int> getBins() const noexcept { return changedBins; }
    juce::Range<int> getFrames() const noexcept { return changedFrames; }

    size_t getCodeBytes() const noexcept;

    bool perform() override;
    bool undo() override;

    /** Kilobytes of the kept values (compressed), at least 1. */
    int getSizeInUnits() override;

    /** Selection changes never merge. */
    juce::UndoableAction* createCoalescedAction (juce::UndoableAction*) override { return nullptr; }

private:
    void build (juce::Range<int> bins, juce::Range<int> frames, Rule rule, const ValueSource& source);
    bool write (bool after);

    EditManagerBase& manager;
    UndoBlockStore& blocks;
    std::vector<BlockChange> changes;
    juce::Range<int> changedBins, changedFrames;
    bool valid = true, emptyBefore = false, emptyAfter = false;
};

} // namespace kalder
