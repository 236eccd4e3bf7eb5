#pragma once

#include "editing/ManualEditManager.h"
#include "tracks/AudioTrack.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <mutex>

namespace kalder
{

class SpectrogramComponent;

/**
    A tool of the spectral editor: the view forwards every mouse event to the active tool,
    which turns gestures into edits of the shown track's ManualEditManager and draws what
    it is about to do over the view (paintOverlay()). Tools commit on mouse up only;
    previews never write the store.

    Modifier keys give the selection mode: none replaces, Shift adds (addPoint for the
    point tools, addArea for the area tools), Shift with Alt subtracts.

    Threading: message thread; a tool's preview jobs run on its own pool and hand their
    result over under the tool's lock.
*/
class EditorTool
{
public:
    enum class Type
    {
        rectangleSelect,
        wand,
        harmonicWand
    };

    virtual ~EditorTool() = default;
    virtual Type getType() const = 0;
    virtual juce::String getName() const = 0;

    virtual void mouseMove (SpectrogramComponent&, const juce::MouseEvent&) {}
    virtual void mouseDown (SpectrogramComponent&, const juce::MouseEvent&) {}
    virtual void mouseDrag (SpectrogramComponent&, const juce::MouseEvent&) {}
    virtual void mouseUp (SpectrogramComponent&, const juce::MouseEvent&) {}
    virtual void mouseExit (SpectrogramComponent&, const juce::MouseEvent&) {}

    /** Draws the tool's overlay (a dragged rectangle, the wand's outline) over the view. */
    virtual void paintOverlay (SpectrogramComponent&, juce::Graphics&) {}

    /** Grows whenever the overlay changed (the view repaints). */
    juce::uint64 getOverlayVersion() const noexcept { return overlayVersion.load(); }

    /** The mode of a gesture's modifier keys; point tools add with addPoint. */
    static SelectionMode modeFor (const juce::ModifierKeys& mods, bool pointTool) noexcept;

    /** The result of the tool's last commit (a refusal for the view to show). */
    const EditResult& getLastResult() const noexcept { return lastResult; }

protected:
    /** The image cell (frame, bin) under a view point, rounded to the nearest. */
    static juce::Point<int> cellAt (SpectrogramComponent& view, juce::Point<float> p);

    std::atomic<juce::uint64> overlayVersion { 0 };
    EditResult lastResult = EditResult::unchanged();
};

/** Selects every bin of a dragged rectangle ("Rectangle selection"). */
class RectangleSelectTool : public EditorTool
{
public:
    Type getType() const override { return Type::rectangleSelect; }
    juce::String getName() const override { return "Rectangle Select"; }
    void mouseDown (SpectrogramComponent&, const juce::MouseEvent&) override;
    void mouseDrag (SpectrogramComponent&, const juce::MouseEvent&) override;
    void mouseUp (SpectrogramComponent&, const juce::MouseEvent&) override;
    void paintOverlay (SpectrogramComponent&, juce::Graphics&) override;

private:
    std::optional<juce::Rectangle<float>> dragged;
};

/**
    The magic wand, and with harmonics the harmonic wand: hovering shows the outline of
    what a click would select, computed on the tool's pool (a newer mouse position
    replaces a job that has not started); a click records "Wand selection".

    Parameters: "Threshold (dB)" (-100 .. 0, default -20), "Selection size" (0 .. 10,
    default 4); the harmonic wand also "Sel. harmonic" (1 .. 16, default 1), "High cut
    (kHz)" (default 10) and "Roll-off rate" (0 .. 1, default 0).
*/
class WandTool : public EditorTool
{
public:
    explicit WandTool (bool harmonic);
    ~WandTool() override;

    Type getType() const override { return harmonic ? Type::harmonicWand : Type::wand; }
    juce::String getName() const override { return harmonic ? "Harmonic Wand" : "Wand"; }

    double thresholdDb = -20.0;
    int selectionSize = 4;
    int selectedHarmonic = 1;
    double highCutKHz = 10.0;
    double rollOff = 0.0;

    void mouseMove (SpectrogramComponent&, const juce::MouseEvent&) override;
    void mouseUp (SpectrogramComponent&, const juce::MouseEvent&) override;
    void mouseExit (SpectrogramComponent&, const juce::MouseEvent&) override;
    void paintOverlay (SpectrogramComponent&, juce::Graphics&) override;

    /** The selection the last finished preview would make (empty when none). */
    SelectionUpdate getPreview() const;

    /** Waits until no preview job is pending or running (tests). */
    bool waitForPreview (int timeoutMs);

private:
    class PreviewJob;

    /** The wand's linear threshold for its dB parameter. */
    float getThreshold() const noexcept;
    SelectionUpdate compute (ManualEditManager& edits, juce::Point<int> cell, SelectionMode mode) const;

    const bool harmonic;
    mutable std::mutex previewLock;
    SelectionUpdate preview;
    std::vector<juce::Line<float>> outline; // in image cells, edges between selected and not
    juce::ThreadPool pool { 1 };
};

} // namespace kalder
