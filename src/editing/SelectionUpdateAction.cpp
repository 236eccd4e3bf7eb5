#include "SelectionUpdateAction.h"

#include "signal/AsigMemoryChunk.h"
#include "signal/RangeUtilities.h"

namespace kalder
{

namespace
{
    /** Values as selection weights: 0..1, NaN as 0. */
    MaskMatrix asWeights (MaskMatrix m)
    {
        for (Eigen::Index i = 0; i < m.size(); ++i)
        {
            auto& v = m.data()[i];
            v = std::isnan (v) ? 0.0f : juce::jlimit (0.0f, 1.0f, v);
        }
        return m;
    }
} // namespace

SelectionUpdateAction::Rule SelectionUpdateAction::getRule (const SelectionUpdate& update) noexcept
{
    if (update.replace)
        return Rule::replace;
    if (update.subtract)
        return Rule::subtract;
    return Rule::add;
}

SelectionUpdateAction::SelectionUpdateAction (EditManagerBase& m, UndoBlockStore& b, const SelectionUpdate& update)
    : manager (m), blocks (b)
{
    if (update.isEmpty())
    {
        valid = false;
        return;
    }
    const auto bins = update.getBins(), frames = update.getFrames();
    build (bins, frames, getRule (update), [&] (juce::Range<int> part) -> MaskMatrix {
        return update.values.middleCols (part.getStart() - frames.getStart(), part.getLength());
    });
}

SelectionUpdateAction::SelectionUpdateAction (EditManagerBase& m, UndoBlockStore& b, juce::Range<int> bins,
                                              juce::Range<int> frames, Rule rule, const ValueSource& source)
    : manager (m), blocks (b)
{
    build (bins, frames, rule, source);
}

void SelectionUpdateAction::build (juce::Range<int> bins, juce::Range<int> frames, Rule rule, const ValueSource& source)
{
    const auto store = manager.getAsig();
    auto* memory = store != nullptr ? store->getMemoryManager() : nullptr;
    const bool clearing = rule == Rule::replace && frames.isEmpty();
    if (memory == nullptr || ! store->isReady()
        || (! clearing
            && (bins.isEmpty() || frames.isEmpty() || bins.getStart() < 0 || bins.getEnd() > store->getNumFreqs()
                || frames.getStart() < 0 || frames.getEnd() > store->getNumFrames())))
    {
        valid = false;
        return;
    }

    const auto selected = memory->getSelectedFrameRange();
    emptyBefore = selected.isEmpty();

    // A replacement touches every frame that holds a selected bin as well.
    auto touched = frames;
    if (rule == Rule::replace)
        touched = unionOf (touched, selected);

    bool anySelectedAfter = false;
    const auto step = AsigMemoryChunk::framesPerChunk;
    // Chunk-aligned parts: each read and write stays within one chunk's files.
    for (int start = touched.getStart(); start < touched.getEnd(); start = (start / step + 1) * step)
    {
        auto part = juce::Range<int> (start, juce::jmin ((start / step + 1) * step, touched.getEnd()));
        // A replacement changes a chunk only where it was selected or where the block lies.
        if (rule == Rule::replace)
            part = unionOf (part.getIntersectionWith (frames), memory->getSelectedFrameRange (part));
        if (part.isEmpty())
            continue;

        const auto before = store->getSelection (part);
        if (before.cols() != part.getLength())
        {
            valid = false;
            changes.clear();
            return;
        }

        MaskMatrix after;
        if (rule == Rule::replace)
            after = MaskMatrix::Zero (before.rows(), before.cols());
        else
            after = before;

        const auto inside = part.getIntersectionWith (frames);
        if (! inside.isEmpty())
        {
            auto values = asWeights (source (inside));
            if (values.rows() != bins.getLength() || values.cols() != inside.getLength())
            {
                jassertfalse; // a source of the wrong shape
                valid = false;
                changes.clear();
                return;
            }
            auto target = after.block (bins.getStart(), inside.getStart() - part.getStart(), bins.getLength(),
                                       inside.getLength());
            const auto old = before.block (bins.getStart(), inside.getStart() - part.getStart(), bins.getLength(),
                                           inside.getLength());
            switch (rule)
            {
                case Rule::replace:
                case Rule::assign:
                    target = values;
                    break;
                case Rule::add:
                    target = old.cwiseMax (values);
                    break;
                case Rule::subtract:
                    target = (old - values).cwiseMax (0.0f);
                    break;
            }
        }

        anySelectedAfter = anySelectedAfter || (after.array() > 0.0f).any();

        bool kept = true;
        if (auto change = BlockChange::capture (blocks, { 0, (int) before.rows() }, part, before, after, kept))
        {
            changedBins = unionOf (changedBins, change->getBins());
            changedFrames = unionOf (changedFrames, change->getFrames());
            changes.push_back (std::move (*change));
        }
        if (! kept)
        {
            valid = false;
            changes.clear();
            return;
        }
    }

    // Empty afterwards when nothing is selected in what was touched and nothing
    // selected lies outside it.
    emptyAfter = ! anySelectedAfter && (selected.isEmpty() || touched.contains (selected));
}

size_t SelectionUpdateAction::getCodeBytes() const noexcept
{
    size_t total = 0;
    for (const auto& c : changes)
        total += c.getCodeBytes();
    return total;
}

int SelectionUpdateAction::getSizeInUnits()
{
    constexpr size_t bytesPerUnit = 1024;
    return (int) juce::jmin ((size_t) std::numeric_limits<int>::max(), getCodeBytes() / bytesPerUnit + 1);
}

bool SelectionUpdateAction::write (bool after)
{
    const auto store = manager.getAsig();
    if (store == nullptr || ! valid || ! store->isReady())
        return false;

    if (after ? emptyAfter : emptyBefore)
    {
        store->clearSelection();
    }
    else
    {
        MaskMatrix values;
        const auto count = (int) changes.size();
        for (int n = 0; n < count; ++n)
        {
            const auto& c = changes[(size_t) (after ? n : count - 1 - n)];
            const bool ok = (after ? c.loadAfter (values) : c.loadBefore (values))
                            && store->setSelection (c.getBins(), c.getFrames(), values, false);
            if (ok)
                continue;

            // Put back the blocks already written.
            for (int m = n; --m >= 0;)
            {
                const auto& w = changes[(size_t) (after ? m : count - 1 - m)];
                if (after ? w.loadBefore (values) : w.loadAfter (values))
                    store->setSelection (w.getBins(), w.getFrames(), values, false);
            }
            return false;
        }
    }

    if (! changedBins.isEmpty())
        manager.notifyBlockChanged (changedBins, changedFrames, true, false);
    return true;
}

bool SelectionUpdateAction::perform()
{
    return write (true);
}

bool SelectionUpdateAction::undo()
{
    return write (false);
}

} // namespace kalder
