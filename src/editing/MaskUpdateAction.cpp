#include "MaskUpdateAction.h"

#include "signal/AsigMemoryChunk.h"
#include "signal/RangeUtilities.h"

namespace kalder
{

MaskUpdateAction::MaskUpdateAction (EditManagerBase& m, UndoBlockStore& b, int c) : manager (m), blocks (b), channel (c) {}

MaskUpdateAction::MaskUpdateAction (EditManagerBase& m, UndoBlockStore& b, const MaskUpdate& update)
    : MaskUpdateAction (m, b, update.channel)
{
    addBlock (update);
}

bool MaskUpdateAction::addBlock (const MaskUpdate& update, const MaskMatrix* storedMask)
{
    const auto store = manager.getAsig();
    auto* memory = store != nullptr ? store->getMemoryManager() : nullptr;
    const bool fits = memory != nullptr && store->isReady() && update.channel == channel
                      && juce::isPositiveAndBelow (channel, store->getNumChannels()) && ! update.isEmpty()
                      && update.bins.getStart() >= 0 && update.bins.getEnd() <= store->getNumFreqs()
                      && update.frames.getStart() >= 0 && update.frames.getEnd() <= store->getNumFrames()
                      && update.values.rows() == update.bins.getLength() && update.values.cols() == update.frames.getLength();
    if (! fits || ! valid)
    {
        valid = false;
        return false;
    }

    if (! checkedUnedited)
    {
        wasUnedited = store->getEditedFrameRange().isEmpty();
        checkedUnedited = true;
    }

    bins = unionOf (bins, update.bins);
    frames = unionOf (frames, update.frames);

    // Chunk by chunk, so that a long block never needs a second full-size copy.
    const auto step = AsigMemoryChunk::framesPerChunk;
    for (int start = update.frames.getStart(); start < update.frames.getEnd(); start += step)
    {
        const juce::Range<int> part (start, juce::jmin (start + step, update.frames.getEnd()));
        const auto column = part.getStart() - update.frames.getStart();
        MaskMatrix before;
        if (storedMask != nullptr && storedMask->rows() == update.values.rows() && storedMask->cols() == update.values.cols())
            before = storedMask->middleCols (column, part.getLength());
        else
            before = memory->getMaskFrames (channel, part).middleRows (update.bins.getStart(), update.bins.getLength());
        if (before.cols() != part.getLength())
        {
            valid = false;
            return false;
        }

        bool kept = true;
        const MaskMatrix after = update.values.middleCols (column, part.getLength());
        if (auto change = BlockChange::capture (blocks, update.bins, part, before, after, kept))
            changes.push_back (std::move (*change));
        if (! kept)
        {
            valid = false;
            changes.clear();
            return false;
        }
    }
    return true;
}

size_t MaskUpdateAction::getCodeBytes() const noexcept
{
    size_t total = 0;
    for (const auto& c : changes)
        total += c.getCodeBytes();
    return total;
}

int MaskUpdateAction::getSizeInUnits()
{
    constexpr size_t bytesPerUnit = 1024;
    return (int) juce::jmin ((size_t) std::numeric_limits<int>::max(), getCodeBytes() / bytesPerUnit + 1);
}

bool MaskUpdateAction::writeChanges (Asig& store, bool after, int count)
{
    // Perform writes first to last, undo last to first; on a failure the blocks already
    // written get the other state back.
    MaskMatrix values;
    for (int n = 0; n < count; ++n)
    {
        const auto i = (size_t) (after ? n : count - 1 - n);
        const auto& c = changes[i];
        const bool ok = (after ? c.loadAfter (values) : c.loadBefore (values))
                        && store.setMask (channel, c.getBins(), c.getFrames(), values);
        if (ok)
            continue;

        for (int m = n; --m >= 0;)
        {
            const auto& w = changes[(size_t) (after ? m : count - 1 - m)];
            if (after ? w.loadBefore (values) : w.loadAfter (values))
                store.setMask (channel, w.getBins(), w.getFrames(), values);
        }
        return false;
    }
    return true;
}

bool MaskUpdateAction::write (bool after)
{
    const auto store = manager.getAsig();
    if (store == nullptr || ! valid || ! store->isReady())
        return false;

    if (after ? resetsAllMasks : wasUnedited)
        store->resetMask();
    else if (! writeChanges (*store, after, (int) changes.size()))
        return false;

    if (! bins.isEmpty())
        manager.notifyBlockChanged (bins, frames, false, true);
    return true;
}

bool MaskUpdateAction::perform()
{
    return write (true);
}

bool MaskUpdateAction::undo()
{
    return write (false);
}

} // namespace kalder
