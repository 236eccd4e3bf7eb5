#include "ManualEditManager.h"
#include "MaskUpdateAction.h"
#include "SelectionUpdateAction.h"

#include "signal/AsigMemoryChunk.h"

#include <cmath>
#include <deque>

namespace kalder
{

namespace
{
    constexpr int chunkFrames = AsigMemoryChunk::framesPerChunk;

    /** Calls fn for each part of frames that lies within one chunk, in order. */
    template <typename Fn>
    bool forEachChunkPart (juce::Range<int> frames, Fn&& fn)
    {
        for (int start = frames.getStart(); start < frames.getEnd(); start = (start / chunkFrames + 1) * chunkFrames)
            if (! fn (juce::Range<int> (start, juce::jmin ((start / chunkFrames + 1) * chunkFrames, frames.getEnd()))))
                return false;
        return true;
    }

    bool allFinite (std::initializer_list<double> values)
    {
        for (auto v : values)
            if (! std::isfinite (v))
                return false;
        return true;
    }

    EditResult invalidValue()
    {
        return EditResult::refused ("Invalid value",
                                    "The operation was given a value that is not a number. Nothing was changed.");
    }

    EditResult writeFailed()
    {
        return EditResult::refused ("Edit failed",
                                    "The edit could not be written to the track's data files (is the disk full?). "
                                    "Nothing was changed.",
                                    EditResult::Outcome::failed);
    }

    bool isValidMode (SelectionMode mode) noexcept
    {
        const auto m = (int) mode;
        return m >= (int) SelectionMode::replace && m <= (int) SelectionMode::subtract;
    }

    /** The values of an update over bins x part (zeros where it has none). */
    MaskMatrix placeUpdate (const SelectionUpdate& u, juce::Range<int> bins, juce::Range<int> part)
    {
        MaskMatrix out = MaskMatrix::Zero (bins.getLength(), part.getLength());
        if (u.isEmpty())
            return out;
        const auto b = u.getBins().getIntersectionWith (bins), f = u.getFrames().getIntersectionWith (part);
        if (! b.isEmpty() && ! f.isEmpty())
            out.block (b.getStart() - bins.getStart(), f.getStart() - part.getStart(), b.getLength(),
                       f.getLength()) = u.values.block (b.getStart() - u.y1, f.getStart() - u.x1, b.getLength(), f.getLength());
        return out;
    }

    /** out[i] = max (or min) of in[j] for |i - j| <= radius, j within [0, n): one pass with a
        monotonic queue. */
    void slidingExtreme (const float* in, float* out, int n, int stride, int radius, bool takeMax)
    {
        std::deque<int> candidates;
        const auto better = [&] (float a, float b) { return takeMax ? a >= b : a <= b; };
        int next = 0;
        for (int i = 0; i < n; ++i)
        {
            for (; next < n && next <= i + radius; ++next)
            {
                while (! candidates.empty() && better (in[next * stride], in[candidates.back() * stride]))
                    candidates.pop_back();
                candidates.push_back (next);
            }
            while (candidates.front() < i - radius)
                candidates.pop_front();
            out[i * stride] = in[candidates.front() * stride];
        }
    }

    /** Grey dilation (or erosion) of m by a rectangle of (2 bins + 1) x (2 frames + 1). */
    MaskMatrix morph (const MaskMatrix& m, int bins, int frames, bool dilate)
    {
        MaskMatrix along (m.rows(), m.cols()), out (m.rows(), m.cols());
        const auto rows = (int) m.rows(), cols = (int) m.cols();
        for (int c = 0; c < cols; ++c)
            slidingExtreme (m.col (c).data(), along.col (c).data(), rows, 1, bins, dilate);
        for (int r = 0; r < rows; ++r)
            slidingExtreme (along.data() + r, out.data() + r, cols, rows, frames, dilate);
        return out;
    }
} // namespace

//==============================================================================
ManualEditManager::ManualEditManager (std::weak_ptr<Asig> store) : ManualEditManager (store, Settings()) {}

ManualEditManager::ManualEditManager (std::weak_ptr<Asig> store, Settings settings)
    : EditManagerBase (store), history (settings.maxUnits, settings.minimumTransactions), updater (store)
{
    auto folder = settings.scratchFolder;
    if (! folder.isDirectory())
        if (auto s = store.lock(); s != nullptr && s->getMemoryManager() != nullptr)
            folder = s->getMemoryManager()->getDataDirectory();
    blocks = std::make_unique<UndoBlockStore> (folder, settings.blockLimits);
}

// The history's actions hold blocks of the block store: the history is declared after
// the store, so it goes first. The manager may go on any thread (with its track).
ManualEditManager::~ManualEditManager() = default;

void ManualEditManager::setTrackStateCheck (std::function<TrackState()> check)
{
    trackState = std::move (check);
}

//==============================================================================
std::optional<EditResult> ManualEditManager::checkEditable (const std::shared_ptr<Asig>& store) const
{
    const auto state = trackState != nullptr ? trackState() : TrackState::editable;
    if (state == TrackState::busy)
        return EditResult::refused (AlertManager::ErrorType::TrackLocked);
    if (store == nullptr || state == TrackState::analysing || ! store->isReady())
        return EditResult::refused ("Track not ready", "The spectrogram of this track is not ready yet. Please try again "
                                                       "when it is complete.");
    return std::nullopt;
}

ManualEditManager::SelectionBox ManualEditManager::findSelectionBox (Asig& store)
{
    SelectionBox box;
    auto* memory = store.getMemoryManager();
    if (memory == nullptr)
        return box;
    const auto frames = memory->getSelectedFrameRange();
    int first = -1, last = -1;
    forEachChunkPart (frames, [&] (juce::Range<int> part) {
        const auto selected = (store.getSelection (part).array() > 0.0f).rowwise().any().eval();
        for (int b = 0; b < (int) selected.size(); ++b)
        {
            if (! selected[b])
                continue;
            first = first < 0 ? b : juce::jmin (first, b);
            last = juce::jmax (last, b);
        }
        return true;
    });
    if (first >= 0)
        box = { frames, { first, last + 1 } };
    return box;
}

std::optional<EditResult> ManualEditManager::getSelectedBox (Selected& selected) const
{
    selected.first = getAsig();
    if (auto refusal = checkEditable (selected.first))
        return refusal;
    selected.second = findSelectionBox (*selected.first);
    if (selected.second.isEmpty())
        return EditResult::refused (AlertManager::ErrorType::NoSelection);
    return std::nullopt;
}

std::optional<std::pair<juce::Range<int>, juce::Range<int>>> ManualEditManager::clipRectangle (const Asig& store, int x1, int y1,
                                                                                               int x2, int y2)
{
    const auto clip = [] (int a, int b, int size) -> juce::Range<int> {
        const auto lo = juce::jmin (a, b), hi = juce::jmax (a, b);
        if (hi < 0 || lo >= size)
            return {};
        return { juce::jmax (0, lo), juce::jmin (size - 1, hi) + 1 };
    };
    const auto frames = clip (x1, x2, store.getNumFrames()), bins = clip (y1, y2, store.getNumFreqs());
    if (frames.isEmpty() || bins.isEmpty())
        return std::nullopt;
    return std::make_pair (bins, frames);
}

//==============================================================================
EditResult ManualEditManager::notKept()
{
    return EditResult::refused ("Edit failed",
                                "There is not enough room on the disk to keep this edit's undo step. Nothing was changed.",
                                EditResult::Outcome::failed);
}

EditResult ManualEditManager::commit (const juce::String& name, ActionList actions, StrokeUse stroke)
{
    ActionList kept;
    for (auto& a : actions)
    {
        bool valid = true, nothing = false;
        if (auto* m = dynamic_cast<MaskUpdateAction*> (a.get()))
            valid = m->isValid(), nothing = m->changesNothing();
        else if (auto* s = dynamic_cast<SelectionUpdateAction*> (a.get()))
            valid = s->isValid(), nothing = s->changesNothing();
        if (! valid)
            return notKept();
        if (! nothing)
            kept.push_back (std::move (a));
    }

    const bool joins = stroke == StrokeUse::extend && strokeOpen && history.getNumRedos() == 0
                       && history.getCurrentSet() != nullptr && history.getCurrentSet()->name == name;
    if (kept.empty())
    {
        strokeOpen = joins;
        return EditResult::unchanged();
    }

    if (! joins)
        history.beginNewTransaction (name);
    if (! history.performAll (std::move (kept)))
    {
        strokeOpen = joins;
        return writeFailed();
    }
    strokeOpen = stroke != StrokeUse::none;
    return EditResult::changed();
}

EditResult ManualEditManager::commitSelection (const juce::String& name, std::unique_ptr<SelectionUpdateAction> action)
{
    ActionList list;
    list.push_back (std::move (action));
    return commit (name, std::move (list));
}

//==============================================================================
EditResult ManualEditManager::rectangleSelect (int x1, int y1, int x2, int y2, SelectionMode mode)
{
    strokeOpen = false;
    const auto store = getAsig();
    if (auto refusal = checkEditable (store))
        return *refusal;
    if (! isValidMode (mode))
        return invalidValue();
    const auto area = clipRectangle (*store, x1, y1, x2, y2);
    if (! area)
        return EditResult::unchanged();

    SelectionUpdate flags;
    SelectionHelper::setSelectionMode (mode, flags);
    const auto [bins, frames] = *area;
    return commitSelection (Names::rectangle, std::make_unique<SelectionUpdateAction> (
                                                  *this, *blocks, bins, frames, SelectionUpdateAction::getRule (flags),
                                                  [rows = bins.getLength()] (juce::Range<int> part) -> MaskMatrix {
                                                      return MaskMatrix::Ones (rows, part.getLength());
                                                  }));
}

EditResult ManualEditManager::thresholdSelect (int x1, int y1, int x2, int y2, float levelDb, bool above, SelectionMode mode)
{
    strokeOpen = false;
    const auto store = getAsig();
    if (auto refusal = checkEditable (store))
        return *refusal;
    if (! allFinite ({ levelDb }) || ! isValidMode (mode))
        return invalidValue();
    const auto area = clipRectangle (*store, x1, y1, x2, y2);
    if (! area)
        return EditResult::unchanged();

    SelectionUpdate flags;
    SelectionHelper::setSelectionMode (mode, flags);
    const auto [bins, frames] = *area;
    const SelectionHelper helper (store.get());
    // Each bin is judged on its own, so the rectangle is selected chunk by chunk.
    return commitSelection (Names::threshold, std::make_unique<SelectionUpdateAction> (
                                                  *this, *blocks, bins, frames, SelectionUpdateAction::getRule (flags),
                                                  [&, bins = bins] (juce::Range<int> part) {
                                                      const auto u = helper.thresholdSelect (part.getStart(), bins.getStart(),
                                                                                             part.getEnd() - 1, bins.getEnd() - 1,
                                                                                             levelDb, above, mode);
                                                      return placeUpdate (u, bins, part);
                                                  }));
}

SelectionUpdate ManualEditManager::previewWandSelect (int x, int y, float threshold, int selectionSize, bool harmonicMode,
                                                      int harmonic, float highCutKHz, float rollOff, float strength,
                                                      SelectionMode mode) const
{
    const auto store = getAsig();
    if (store == nullptr || ! store->isReady() || ! allFinite ({ threshold, highCutKHz, rollOff, strength })
        || ! isValidMode (mode))
        return {};
    return SelectionHelper (store.get())
        .wandSelect (x, y, threshold, selectionSize, harmonicMode, harmonic, highCutKHz, rollOff, strength, mode);
}

EditResult ManualEditManager::wandSelect (int x, int y, float threshold, int selectionSize, bool harmonicMode, int harmonic,
                                          float highCutKHz, float rollOff, float strength, SelectionMode mode)
{
    strokeOpen = false;
    const auto store = getAsig();
    if (auto refusal = checkEditable (store))
        return *refusal;
    if (! allFinite ({ threshold, highCutKHz, rollOff, strength }) || ! isValidMode (mode))
        return invalidValue();
    const auto update = SelectionHelper (store.get())
                            .wandSelect (x, y, threshold, selectionSize, harmonicMode, harmonic, highCutKHz, rollOff, strength,
                                         mode);
    return applySelectionUpdate (update, Names::wand);
}

SelectionUpdate ManualEditManager::previewTransientDetect (int x, int y) const
{
    const auto store = getAsig();
    if (store == nullptr || ! store->isReady())
        return {};
    return SelectionHelper (store.get()).transientDetect (x, y);
}

EditResult ManualEditManager::transientSelect (int x1, int y1, int x2, int y2, float lowCutKHz, SelectionMode mode)
{
    strokeOpen = false;
    const auto store = getAsig();
    if (auto refusal = checkEditable (store))
        return *refusal;
    if (! allFinite ({ lowCutKHz }) || ! isValidMode (mode))
        return invalidValue();
    const auto area = clipRectangle (*store, x1, y1, x2, y2);
    if (! area)
        return EditResult::unchanged();
    const auto [bins, frames] = *area;
    const auto update = SelectionHelper (store.get())
                            .percussiveHarmonicSelect (false, frames.getStart(), bins.getStart(), frames.getEnd() - 1,
                                                       bins.getEnd() - 1, true, lowCutKHz, mode);
    return applySelectionUpdate (update, Names::transient);
}

EditResult ManualEditManager::applySelectionUpdate (const SelectionUpdate& update, const juce::String& name)
{
    strokeOpen = false;
    const auto store = getAsig();
    if (auto refusal = checkEditable (store))
        return *refusal;
    if (update.isEmpty())
        return EditResult::unchanged();

    // Only the part inside the track counts.
    const auto bins = update.getBins().getIntersectionWith ({ 0, store->getNumFreqs() });
    const auto frames = update.getFrames().getIntersectionWith ({ 0, store->getNumFrames() });
    if (bins.isEmpty() || frames.isEmpty())
        return EditResult::unchanged();

    return commitSelection (
        name, std::make_unique<SelectionUpdateAction> (*this, *blocks, bins, frames, SelectionUpdateAction::getRule (update),
                                                       [&] (juce::Range<int> part) { return placeUpdate (update, bins, part); }));
}

EditResult ManualEditManager::clearSelection (bool recordUndoStep)
{
    strokeOpen = false;
    const auto store = getAsig();
    if (auto refusal = checkEditable (store))
        return *refusal;
    if (! store->hasSelection())
        return EditResult::unchanged();

    if (recordUndoStep)
        return commitSelection (Names::deselect,
                                std::make_unique<SelectionUpdateAction> (*this, *blocks, juce::Range<int>(), juce::Range<int>(),
                                                                         SelectionUpdateAction::Rule::replace, nullptr));

    const auto frames = store->getMemoryManager()->getSelectedFrameRange();
    store->clearSelection();
    notifyBlockChanged ({ 0, store->getNumFreqs() }, frames, true, false);
    return EditResult::changed();
}

EditResult ManualEditManager::multiplySelection (float factor)
{
    strokeOpen = false;
    if (! allFinite ({ factor }) || factor < 0.0f)
        return invalidValue();
    Selected selected;
    if (auto refusal = getSelectedBox (selected))
        return *refusal;
    if (factor == 1.0f)
        return EditResult::unchanged();

    auto& store = *selected.first;
    const auto box = selected.second;
    return commitSelection (
        factor > 1.0f ? Names::strengthen : Names::dim,
        std::make_unique<SelectionUpdateAction> (
            *this, *blocks, box.bins, box.frames, SelectionUpdateAction::Rule::assign, [&] (juce::Range<int> part) -> MaskMatrix {
                return (store.getSelection (part).middleRows (box.bins.getStart(), box.bins.getLength()) * factor)
                    .cwiseMin (1.0f);
            }));
}

EditResult ManualEditManager::growSelection (int bins, int frames)
{
    return morphSelection (Names::expand, bins, frames, true);
}

EditResult ManualEditManager::shrinkSelection (int bins, int frames)
{
    return morphSelection (Names::shrink, bins, frames, false);
}

EditResult ManualEditManager::morphSelection (const juce::String& name, int bins, int frames, bool grow)
{
    strokeOpen = false;
    if (! juce::isPositiveAndNotGreaterThan (bins, maxGrowth) || ! juce::isPositiveAndNotGreaterThan (frames, maxGrowth))
        return invalidValue();
    Selected selected;
    if (auto refusal = getSelectedBox (selected))
        return *refusal;
    if (bins == 0 && frames == 0)
        return EditResult::unchanged();

    auto& store = *selected.first;
    auto box = selected.second;
    if (grow)
    {
        box.bins = juce::Range<int> (box.bins.getStart() - bins, box.bins.getEnd() + bins)
                       .getIntersectionWith ({ 0, store.getNumFreqs() });
        box.frames = juce::Range<int> (box.frames.getStart() - frames, box.frames.getEnd() + frames)
                         .getIntersectionWith ({ 0, store.getNumFrames() });
    }

    return commitSelection (name, std::make_unique<SelectionUpdateAction> (
                                      *this, *blocks, box.bins, box.frames, SelectionUpdateAction::Rule::assign,
                                      [&] (juce::Range<int> part) -> MaskMatrix {
                                          // The part with the frames the filter reaches on each side.
                                          const auto context = juce::Range<int> (part.getStart() - frames, part.getEnd() + frames)
                                                                   .getIntersectionWith ({ 0, store.getNumFrames() });
                                          const auto result = morph (store.getSelection (context), bins, frames, grow);
                                          return result.block (box.bins.getStart(), part.getStart() - context.getStart(),
                                                               box.bins.getLength(), part.getLength());
                                      }));
}

EditResult ManualEditManager::removePercussiveHarmonic (bool harmonic)
{
    strokeOpen = false;
    Selected selected;
    if (auto refusal = getSelectedBox (selected))
        return *refusal;

    const auto box = selected.second;
    auto update = SelectionHelper (selected.first.get())
                      .percussiveHarmonicSelect (harmonic, box.frames.getStart(), box.bins.getStart(), box.frames.getEnd() - 1,
                                                 box.bins.getEnd() - 1, true, 0.0f, SelectionMode::subtract);
    if (update.isEmpty())
        return EditResult::unchanged();
    SelectionHelper::setSelectionMode (SelectionMode::subtract, update);
    return applySelectionUpdate (update, harmonic ? Names::removeHarmonic : Names::removePercussive);
}

//==============================================================================
EditResult ManualEditManager::setConstant (float value, MaskUpdater::SelectionWeighting weighting, int channel)
{
    strokeOpen = false;
    if (! allFinite ({ value }))
        return invalidValue();
    Selected selected;
    if (auto refusal = getSelectedBox (selected))
        return *refusal;
    auto& store = *selected.first;
    if (channel != allChannels && ! juce::isPositiveAndBelow (channel, store.getNumChannels()))
        return invalidValue();

    const auto box = selected.second;
    const auto first = channel == allChannels ? 0 : channel;
    const auto last = channel == allChannels ? store.getNumChannels() - 1 : channel;
    std::vector<std::unique_ptr<MaskUpdateAction>> perChannel;
    for (int c = first; c <= last; ++c)
        perChannel.push_back (std::make_unique<MaskUpdateAction> (*this, *blocks, c));

    const auto target = juce::jlimit (0.0f, 1.0f, value);
    const bool ok = forEachChunkPart (box.frames, [&] (juce::Range<int> part) {
        const MaskMatrix selection = store.getSelection (part).middleRows (box.bins.getStart(), box.bins.getLength());
        for (auto& action : perChannel)
        {
            const auto c = action->getChannel();
            const MaskMatrix current = store.getMemoryManager()->getMaskFrames (c, part).middleRows (box.bins.getStart(),
                                                                                                     box.bins.getLength());
            const auto update = updater.setConstant (c, target, box.bins, part, selection, weighting, &current);
            if (update.isEmpty() || ! action->addBlock (update, &current))
                return false;
        }
        return true;
    });
    if (! ok)
        return notKept();

    ActionList actions;
    for (auto& a : perChannel)
        actions.push_back (std::move (a));
    return commit (Names::erase, std::move (actions));
}

EditResult ManualEditManager::erase (int x1, int y1, int x2, int y2, double radius, double strength, Stroke stroke, bool restore)
{
    if (stroke == Stroke::start)
        strokeOpen = false;
    if (! allFinite ({ radius, strength }))
        return invalidValue();
    const auto store = getAsig();
    if (auto refusal = checkEditable (store))
        return *refusal;

    brushRadius = juce::jlimit (0.5, maxBrushRadius, radius);
    brushStrength = juce::jlimit (0.0, 1.0, strength);
    const auto radiusNow = brushRadius.load(), strengthNow = brushStrength.load();
    const auto [bins, frames] = MaskUpdater::getStrokeBox (x1, y1, x2, y2, radiusNow, store->getNumFreqs(),
                                                           store->getNumFrames());
    if (frames.isEmpty() || strengthNow == 0.0)
        return commit (Names::eraser, {}, stroke == Stroke::start ? StrokeUse::start : StrokeUse::extend);

    std::vector<std::unique_ptr<MaskUpdateAction>> perChannel;
    for (int c = 0; c < store->getNumChannels(); ++c)
        perChannel.push_back (std::make_unique<MaskUpdateAction> (*this, *blocks, c));

    const bool ok = forEachChunkPart (frames, [&, bins = bins] (juce::Range<int> part) {
        for (auto& action : perChannel)
        {
            const auto c = action->getChannel();
            const MaskMatrix current = store->getMemoryManager()->getMaskFrames (c, part).middleRows (bins.getStart(),
                                                                                                      bins.getLength());
            const auto update = updater.eraserStroke (c, x1, y1, x2, y2, radiusNow, strengthNow, part, &current, restore);
            if (update.isEmpty() || ! action->addBlock (update, &current))
                return false;
        }
        return true;
    });
    if (! ok)
        return notKept();

    ActionList actions;
    for (auto& a : perChannel)
        actions.push_back (std::move (a));
    return commit (Names::eraser, std::move (actions), stroke == Stroke::start ? StrokeUse::start : StrokeUse::extend);
}

MaskUpdate ManualEditManager::previewErase (int x1, int y1, int x2, int y2) const
{
    // A preview is for the brush under the mouse, not for a stroke across the track.
    constexpr int longestPreview = 4096;
    const auto store = getAsig();
    if (store == nullptr || ! store->isReady())
        return {};
    const auto radius = brushRadius.load();
    const auto box = MaskUpdater::getStrokeBox (x1, y1, x2, y2, radius, store->getNumFreqs(), store->getNumFrames());
    if (box.second.isEmpty() || box.second.getLength() > longestPreview)
        return {};
    return updater.eraserStroke (0, x1, y1, x2, y2, radius, brushStrength.load(), box.second);
}

EditResult ManualEditManager::spotRemover()
{
    strokeOpen = false;
    Selected selected;
    if (auto refusal = getSelectedBox (selected))
        return *refusal;
    auto& store = *selected.first;
    const auto box = selected.second;
    if (store.getNumFrames() < MaskUpdater::spotRemoverMinimumTrackFrames)
        return EditResult::refused (AlertManager::ErrorType::FileTooShort);
    if (box.frames.getLength() > MaskUpdater::spotRemoverMaxFrames
        || (juce::int64) box.frames.getLength() * box.bins.getLength() > MaskUpdater::spotRemoverMaxCells)
        return EditResult::refused (AlertManager::ErrorType::SelectionTooLarge);

    const MaskMatrix selection = store.getSelection (box.frames).middleRows (box.bins.getStart(), box.bins.getLength());
    ActionList actions;
    for (int c = 0; c < store.getNumChannels(); ++c)
    {
        const MaskMatrix current =
            store.getMemoryManager()->getMaskFrames (c, box.frames).middleRows (box.bins.getStart(), box.bins.getLength());
        const auto update = updater.spotRemover (c, box.frames.getStart(), box.bins.getStart(), box.frames.getEnd() - 1,
                                                 box.bins.getEnd() - 1, selection, &current);
        auto action = std::make_unique<MaskUpdateAction> (*this, *blocks, c);
        if (update.isEmpty() || ! action->addBlock (update, &current))
            return notKept();
        actions.push_back (std::move (action));
    }
    return commit (Names::removeForeground, std::move (actions));
}

EditResult ManualEditManager::resetEdits()
{
    strokeOpen = false;
    const auto store = getAsig();
    if (auto refusal = checkEditable (store))
        return *refusal;
    const auto edited = store->getEditedFrameRange();
    if (edited.isEmpty() && ! store->hasSelection())
        return EditResult::unchanged();

    ActionList actions;
    if (! edited.isEmpty())
    {
        for (int c = 0; c < store->getNumChannels(); ++c)
        {
            auto action = std::make_unique<MaskUpdateAction> (*this, *blocks, c);
            action->setResetsAllMasks();
            const bool ok = forEachChunkPart (edited, [&] (juce::Range<int> part) {
                const auto current = store->getMemoryManager()->getMaskFrames (c, part);
                MaskUpdate ones { c, { 0, store->getNumFreqs() }, part, MaskMatrix::Ones (current.rows(), current.cols()) };
                return action->addBlock (ones, &current);
            });
            if (! ok)
                return notKept();
            actions.push_back (std::move (action));
        }
    }
    if (store->hasSelection())
        actions.push_back (std::make_unique<SelectionUpdateAction> (*this, *blocks, juce::Range<int>(), juce::Range<int>(),
                                                                    SelectionUpdateAction::Rule::replace, nullptr));
    return commit (Names::reset, std::move (actions));
}

//==============================================================================
EditResult ManualEditManager::undo()
{
    strokeOpen = false;
    if (auto refusal = checkEditable (getAsig()))
        return *refusal;
    if (! history.canUndo())
        return EditResult::unchanged();
    if (history.undo())
        return EditResult::changed();
    return EditResult::refused ("Undo failed",
                                "The last edit could not be undone: the track's data files could not be written. The "
                                "track is as it was before.",
                                EditResult::Outcome::failed);
}

EditResult ManualEditManager::redo()
{
    strokeOpen = false;
    if (auto refusal = checkEditable (getAsig()))
        return *refusal;
    if (! history.canRedo())
        return EditResult::unchanged();
    if (history.redo())
        return EditResult::changed();
    return EditResult::refused ("Redo failed",
                                "The edit could not be redone: the track's data files could not be written. The track "
                                "is as it was before.",
                                EditResult::Outcome::failed);
}

ManualEditManager::HistoryUsage ManualEditManager::getHistoryUsage() const
{
    return { blocks->getMemoryBytes(), blocks->getScratchBytes(), history.getNumberOfUnitsTakenUpByStoredCommands(),
             history.getNumTransactions() };
}

} // namespace kalder
