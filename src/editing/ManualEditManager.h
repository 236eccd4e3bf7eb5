#pragma once

#include "CustomUndoManager.h"
#include "EditManagerBase.h"
#include "EditResult.h"
#include "MaskUpdater.h"
#include "SelectionHelper.h"
#include "UndoBlockStore.h"

#include <atomic>
#include <functional>

namespace kalder
{

/**
    The spectral edits of one track: selection tools, mask operations and their undo
    history.

    Every operation that changes the store is one named transaction of the manager's own
    history, so one gesture is one undo step; an operation that changes nothing records
    nothing. Operations return an EditResult: changed, unchanged, or refused / failed
    with the warning to show (the manager never shows alerts itself).

    Refusals, checked before anything is read:
    - the store has gone, or is not analysed yet: "Track not ready";
    - the track is busy (a separation or a freeze runs, see setTrackStateCheck()):
      AlertManager::ErrorType::TrackLocked;
    - NaN or infinite parameters: "Invalid value";
    - erase, dim, strengthen, expand, shrink, remove foreground and remove percussive or
      harmonic elements without a selection: ErrorType::NoSelection;
    - remove foreground over too large a box (ErrorType::SelectionTooLarge) or on too
      short a track (ErrorType::FileTooShort);
    - a store or history write that fails: nothing changes and the result says why.
    Rectangles are clipped to the track; a rectangle or point entirely outside changes
    nothing.

    Coordinates are image coordinates: x = store frame (0 .. nFrames - 1), y = bin
    (0 .. nFreqs - 1); rectangles are (first frame, first bin, last frame, last bin),
    inclusive, in any order.

    The history keeps its blocks compressed, in memory up to a budget and beyond it in a
    scratch file in the store's data folder (UndoBlockStore); its units are kilobytes of
    compressed blocks. Large operations (a whole-track erase) work chunk by chunk, so
    neither the edit nor its undo step ever holds the whole track in memory.

    Ownership: one per track and store (AudioTrack creates it); the history dies with it.

    Threading: every operation, undo and redo on the message thread. The preview
    functions only read the store and may run on a background thread while the manager
    lives.
*/
class ManualEditManager : public EditManagerBase
{
public:
    /** The amounts of the Selection commands: Expand and Shrink by 3 bins and 2 frames,
        Strengthen doubles the selection, Dim halves it. */
    static constexpr int commandMorphBins = 3, commandMorphFrames = 2;
    static constexpr float strengthenFactor = 2.0f, dimFactor = 0.5f;

    /** What the track allows now. */
    enum class TrackState
    {
        editable,
        analysing, // the store is still being computed
        busy       // a separation, freeze or other job holds the track
    };

    struct Settings
    {
        /** Where the scratch file goes; the store's data folder when not a folder. */
        juce::File scratchFolder;
        UndoBlockStore::Limits blockLimits;
        /** Kilobytes of compressed blocks the history keeps, and the sets kept anyway. */
        int maxUnits = 300000;
        int minimumTransactions = 5;
    };

    /** How a stroke of the eraser continues. */
    enum class Stroke
    {
        start, // the first segment of a stroke: a new undo step
        extend // a further segment: joins the stroke's undo step
    };

    explicit ManualEditManager (std::weak_ptr<Asig> store);
    ManualEditManager (std::weak_ptr<Asig> store, Settings settings);
    ~ManualEditManager() override;

    /** Tells the manager how to learn whether its track may be edited (the track
        installs it). Without one, a ready store is editable. */
    void setTrackStateCheck (std::function<TrackState()> check);

    //==============================================================================
    // Selection. mode: 0 replaces, 1 and 2 add, 3 subtracts (SelectionMode).

    /** Selects every bin of the rectangle. Undo step "Rectangle selection". */
    EditResult rectangleSelect (int x1, int y1, int x2, int y2, SelectionMode mode);

    /** Selects the bins of the rectangle whose level (dB) lies above (or below) levelDb.
        Undo step "Threshold selection". */
    EditResult thresholdSelect (int x1, int y1, int x2, int y2, float levelDb, bool above, SelectionMode mode);

    /** The selection the wand would make at (x, y) (SelectionHelper::wandSelect for the
        arguments); changes nothing. Empty when the track cannot be read. */
    SelectionUpdate previewWandSelect (int x, int y, float threshold, int selectionSize, bool harmonicMode, int harmonic,
                                       float highCutKHz, float rollOff, float strength, SelectionMode mode) const;

    /** Performs the wand selection. Undo step "Wand selection". */
    EditResult wandSelect (int x, int y, float threshold, int selectionSize, bool harmonicMode, int harmonic, float highCutKHz,
                           float rollOff, float strength, SelectionMode mode);

    /** The transient under the cursor; changes nothing. */
    SelectionUpdate previewTransientDetect (int x, int y) const;

    /** Selects the percussive part of the rectangle above lowCutKHz. Undo step
        "Transient selection". */
    EditResult transientSelect (int x1, int y1, int x2, int y2, float lowCutKHz, SelectionMode mode);

    /** Records a selection computed elsewhere (a tool's own algorithm) as one undo step
        named name. An empty update changes nothing. */
    EditResult applySelectionUpdate (const SelectionUpdate& update, const juce::String& name);

    /** Empties the selection. With recordUndoStep (the command) it is the undo step
        "Deselect"; without, the selection is cleared outside the history (for a
        selection another operation has consumed) and older steps restore only their
        own blocks. Nothing selected changes nothing. */
    EditResult clearSelection (bool recordUndoStep = true);

    /** Multiplies the selection values by factor (>= 0), clamped to 1: above 1 the step
        "Strengthen selection", below 1 "Dim selection". */
    EditResult multiplySelection (float factor);

    /** Dilates the selection by bins and frames (each 0..maxGrowth): every bin takes the
        largest value within that many bins and frames of it. Step "Expand selection". */
    EditResult growSelection (int bins, int frames);

    /** Erodes the selection likewise (the smallest value around each bin; cells outside
        the track do not count). Step "Shrink selection". */
    EditResult shrinkSelection (int bins, int frames);

    /** Removes the percussive (harmonic = false) or harmonic part from the selection.
        Steps "Remove percussive elements" / "Remove harmonic elements"; an empty result
        changes nothing and records nothing. */
    EditResult removePercussiveHarmonic (bool harmonic);

    //==============================================================================
    // Masks. Every channel's mask changes together, in one undo step.

    /** Erase: in the selection's bounding box the mask takes value (0..1) where the
        selection is set (blending soft selection values: mask x (1 - s) + value x s;
        or, with SelectionWeighting::anySelected, value wherever s > 0). channel picks
        one channel, or allChannels. Step "Selection erase". */
    EditResult setConstant (float value, MaskUpdater::SelectionWeighting weighting = MaskUpdater::SelectionWeighting::blend,
                            int channel = allChannels);

    /** The eraser brush along (x1, y1) to (x2, y2): radius in cells (image coordinates,
        0.5..maxBrushRadius), strength 0..1 (1 removes fully at the brush's core, less
        scales the mask down by 1 - strength). With restore the brush gives back what was
        removed (the mask rises toward 1 by the same amounts). Stroke::start opens the undo
        step "Eraser stroke"; Stroke::extend adds to it while no other operation came
        between. */
    EditResult erase (int x1, int y1, int x2, int y2, double radius, double strength, Stroke stroke = Stroke::start,
                      bool restore = false);

    /** What the mask of channel 0 would become under the brush along (x1, y1) to
        (x2, y2) with the last brush settings used by erase() (or the defaults); changes
        nothing. */
    MaskUpdate previewErase (int x1, int y1, int x2, int y2) const;

    /** "Remove Foreground" over the selection's box (MaskUpdater::spotRemover). Step
        "Remove foreground". */
    EditResult spotRemover();

    /** Every mask back to all ones and the selection empty. Step "Reset spectral
        edits" (undoable like any other). */
    EditResult resetEdits();

    //==============================================================================
    /** Undoes or redoes one step of the history, refused while the track is busy. A
        step that cannot be put back fully is put back not at all (see
        CustomUndoManager). */
    EditResult undo();
    EditResult redo();

    CustomUndoManager& getUndoManager() noexcept { return history; }
    const CustomUndoManager& getUndoManager() const noexcept { return history; }

    /** What the history holds: bytes in memory and in its scratch file. */
    struct HistoryUsage
    {
        size_t memoryBytes = 0;
        juce::int64 scratchBytes = 0;
        juce::int64 units = 0;
        int transactions = 0;
    };
    HistoryUsage getHistoryUsage() const;

    static constexpr int allChannels = -1;
    static constexpr int maxGrowth = 64;
    static constexpr double maxBrushRadius = 512.0;

    /** The undo step names. */
    struct Names
    {
        static constexpr const char* rectangle = "Rectangle selection";
        static constexpr const char* threshold = "Threshold selection";
        static constexpr const char* wand = "Wand selection";
        static constexpr const char* transient = "Transient selection";
        static constexpr const char* erase = "Selection erase";
        static constexpr const char* eraser = "Eraser stroke";
        static constexpr const char* strengthen = "Strengthen selection";
        static constexpr const char* dim = "Dim selection";
        static constexpr const char* expand = "Expand selection";
        static constexpr const char* shrink = "Shrink selection";
        static constexpr const char* deselect = "Deselect";
        static constexpr const char* removePercussive = "Remove percussive elements";
        static constexpr const char* removeHarmonic = "Remove harmonic elements";
        static constexpr const char* removeForeground = "Remove foreground";
        static constexpr const char* reset = "Reset spectral edits";
    };

private:
    struct SelectionBox
    {
        juce::Range<int> frames, bins;
        bool isEmpty() const noexcept { return frames.isEmpty() || bins.isEmpty(); }
    };

    using ActionList = std::vector<std::unique_ptr<juce::UndoableAction>>;
    using Selected = std::pair<std::shared_ptr<Asig>, SelectionBox>;

    std::optional<EditResult> checkEditable (const std::shared_ptr<Asig>& store) const;
    std::optional<EditResult> getSelectedBox (Selected& selected) const;
    static SelectionBox findSelectionBox (Asig& store);
    static std::optional<std::pair<juce::Range<int>, juce::Range<int>>> clipRectangle (const Asig& store, int x1, int y1, int x2,
                                                                                       int y2);

    enum class StrokeUse
    {
        none,
        start,
        extend
    };

    EditResult commit (const juce::String& name, ActionList actions, StrokeUse stroke = StrokeUse::none);
    EditResult commitSelection (const juce::String& name, std::unique_ptr<class SelectionUpdateAction> action);
    EditResult morphSelection (const juce::String& name, int bins, int frames, bool grow);
    static EditResult notKept();

    std::unique_ptr<UndoBlockStore> blocks;
    CustomUndoManager history;
    MaskUpdater updater;
    std::function<TrackState()> trackState;
    bool strokeOpen = false;
    std::atomic<double> brushRadius { 8.0 }, brushStrength { 1.0 }; // read by previews on any thread

    JUCE_DECLARE_NON_COPYABLE (ManualEditManager)
};

} // namespace kalder
