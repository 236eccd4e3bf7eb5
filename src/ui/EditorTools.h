#pragma once

#include "EditorToolParam.h"

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
    it is about to do over the view (paintOverlay()). Tools commit on mouse up only (the
    eraser on every stroke segment); previews never write the store.

    Modifier keys give the selection mode: none replaces, Shift adds (addPoint for the
    point tools, addArea for the area tools), Shift with Alt subtracts; the cursor follows
    (getCursorName(): the base image, its "Plus" or its "Minus" version).

    The wheel scrolls and, with Command, zooms (the view's default); some tools use Alt
    with the wheel for a parameter. Right- and middle-button drags zoom in every tool and
    never reach it (the view handles them).

    A tool lives as long as the view that made it, so its parameters keep their values
    while other tools are active.

    Threading: message thread; a tool's preview jobs run on its own pool and hand their
    result over under the tool's lock.
*/
class EditorTool
{
public:
    enum class Type
    {
        move,
        zoomIn,
        zoomOut,
        rectangleSelect,
        wand,
        harmonicWand,
        thresholdBelow,
        thresholdAbove,
        transientSelect,
        eraser
    };

    static std::unique_ptr<EditorTool> create (Type type);

    virtual ~EditorTool() = default;
    virtual Type getType() const = 0;
    virtual juce::String getName() const = 0;

    /** Attaches the tool to the view that makes it active, and detaches it. */
    virtual void select (SpectrogramComponent&) {}
    virtual void deselect (SpectrogramComponent&) {}

    virtual void mouseMove (SpectrogramComponent&, const juce::MouseEvent&) {}
    virtual void mouseDown (SpectrogramComponent&, const juce::MouseEvent&) {}
    virtual void mouseDrag (SpectrogramComponent&, const juce::MouseEvent&) {}
    virtual void mouseUp (SpectrogramComponent&, const juce::MouseEvent&) {}
    virtual void mouseEnter (SpectrogramComponent&, const juce::MouseEvent&) {}
    virtual void mouseExit (SpectrogramComponent&, const juce::MouseEvent&) {}
    virtual void mouseWheelMove (SpectrogramComponent&, const juce::MouseEvent&, const juce::MouseWheelDetails&);

    /** Draws the tool's overlay (a dragged rectangle, the wand's outline) over the view. */
    virtual void paintOverlay (SpectrogramComponent&, juce::Graphics&) {}

    /** The name of the cursor image for these modifier keys (empty: the normal arrow). */
    virtual juce::String getCursorName (const juce::ModifierKeys&) const { return {}; }

    /** Grows whenever the overlay changed (the view repaints). */
    juce::uint64 getOverlayVersion() const noexcept { return overlayVersion.load(); }

    const juce::ReferenceCountedArray<EditorToolParam>& getParams() const noexcept { return params; }
    EditorToolParam* findParam (const juce::String& name) const;

    /** The mode of a gesture's modifier keys; point tools add with addPoint. */
    static SelectionMode modeFor (const juce::ModifierKeys& mods, bool pointTool) noexcept;

    /** The result of the tool's last commit (a refusal for the view to show). */
    const EditResult& getLastResult() const noexcept { return lastResult; }

protected:
    EditorToolParam* addParam (EditorToolParam* param);

    /** base, base + "Plus" with Shift, base + "Minus" with Shift and Alt. */
    static juce::String cursorFor (const juce::String& base, const juce::ModifierKeys& mods);

    /** The image cell (frame, bin) under a view point, rounded down. */
    static juce::Point<int> cellAt (SpectrogramComponent& view, juce::Point<float> p);

    /** Records a commit's result and hands a refusal to the view. */
    void report (SpectrogramComponent& view, EditResult result);

    std::atomic<juce::uint64> overlayVersion { 0 };
    EditResult lastResult = EditResult::unchanged();
    juce::ReferenceCountedArray<EditorToolParam> params;
};

/** Pans the view by dragging ("Move"); nothing to do when the whole image is shown. */
class MoveTool : public EditorTool
{
public:
    Type getType() const override { return Type::move; }
    juce::String getName() const override { return "Move"; }
    void mouseDown (SpectrogramComponent&, const juce::MouseEvent&) override;
    void mouseDrag (SpectrogramComponent&, const juce::MouseEvent&) override;
    juce::String getCursorName (const juce::ModifierKeys&) const override { return "moveCursor"; }

private:
    double startX = 0.5, startY = 0.5;
};

/** Zoom in: a click halves the view around the point, a dragged rectangle fills the
    view. Zoom out: a click doubles it, a dragged rectangle is where the view goes. */
class ZoomTool : public EditorTool
{
public:
    explicit ZoomTool (bool zoomIn) : in (zoomIn) {}
    Type getType() const override { return in ? Type::zoomIn : Type::zoomOut; }
    juce::String getName() const override { return in ? "Zoom In" : "Zoom Out"; }
    void mouseDown (SpectrogramComponent&, const juce::MouseEvent&) override;
    void mouseDrag (SpectrogramComponent&, const juce::MouseEvent&) override;
    void mouseUp (SpectrogramComponent&, const juce::MouseEvent&) override;
    void paintOverlay (SpectrogramComponent&, juce::Graphics&) override;
    juce::String getCursorName (const juce::ModifierKeys&) const override { return in ? "zoomPlusCursor" : "zoomMinusCursor"; }

    /** Pixels of zoom of one click: one doubling. */
    static constexpr double clickAmount = 200.0;

private:
    const bool in;
    std::optional<juce::Rectangle<float>> dragged;
};

/**
    Selects every bin of a dragged rectangle ("Rectangle selection"). With "Frequency
    snap" or Command held it spans every frequency; with Alt (and no Shift) the whole
    track's time.
*/
class RectangleSelectTool : public EditorTool
{
public:
    RectangleSelectTool();
    Type getType() const override { return Type::rectangleSelect; }
    juce::String getName() const override { return "Rectangle Select"; }
    void mouseDown (SpectrogramComponent&, const juce::MouseEvent&) override;
    void mouseDrag (SpectrogramComponent&, const juce::MouseEvent&) override;
    void mouseUp (SpectrogramComponent&, const juce::MouseEvent&) override;
    void paintOverlay (SpectrogramComponent&, juce::Graphics&) override;
    juce::String getCursorName (const juce::ModifierKeys& m) const override { return cursorFor (cursorBase, m); }

protected:
    /** The edit of a released rectangle, its cells (x1, y1) to (x2, y2) inclusive. */
    virtual EditResult commit (SpectrogramComponent& view, ManualEditManager& edits, juce::Rectangle<int> cells,
                               const juce::MouseEvent& release);

    /** The dragged rectangle in view pixels, after the snaps. */
    juce::Rectangle<float> snapped (SpectrogramComponent& view, juce::Point<float> a, juce::Point<float> b,
                                    const juce::ModifierKeys& mods) const;

    /** The cells of a view rectangle: (x1, y1) to (x2, y2) inclusive. */
    static juce::Rectangle<int> cellsOf (SpectrogramComponent& view, juce::Rectangle<float> r);

    juce::String cursorBase = "marqueeCursor";
    EditorToolParam* frequencySnap = nullptr;
    std::optional<juce::Rectangle<float>> dragged;
    juce::Colour overlay { juce::Colours::white };
};

/** Selects the bins of a dragged rectangle below or above "Threshold (dB)" under the
    loudest level shown; the rectangle is drawn in that level's colour. Alt + wheel moves
    the threshold by the wheel's delta. */
class ThresholdSelectTool : public RectangleSelectTool
{
public:
    explicit ThresholdSelectTool (bool selectAbove);
    Type getType() const override { return above ? Type::thresholdAbove : Type::thresholdBelow; }
    juce::String getName() const override { return above ? "Threshold Select Above" : "Threshold Select Below"; }
    void select (SpectrogramComponent&) override;
    void mouseDrag (SpectrogramComponent&, const juce::MouseEvent&) override;
    void mouseWheelMove (SpectrogramComponent&, const juce::MouseEvent&, const juce::MouseWheelDetails&) override;

    /** The overlay's colour: the colour map's colour of the threshold level. */
    juce::Colour getOverlayColour() const noexcept { return overlay; }

private:
    EditResult commit (SpectrogramComponent&, ManualEditManager&, juce::Rectangle<int> cells, const juce::MouseEvent&) override;
    void updateColour (SpectrogramComponent&);

    const bool above;
    EditorToolParam* threshold = nullptr;
};

/**
    The magic wand, and with harmonics the harmonic wand: hovering shows the outline of
    what a click would select, computed on the tool's pool (a newer mouse position
    replaces a job that has not started); a click records "Wand selection".

    Parameters: "Threshold (dB)" (-100 .. 0, default -20), "Selection size" (0 .. 10,
    default 4); the harmonic wand also "Sel. harmonic" (1 .. 16, default 1, Alt + wheel
    steps it, at most once a second), "High cut (kHz)" (default 10) and "Roll-off rate"
    (0 .. 1, default 0).
*/
class WandTool : public EditorTool
{
public:
    explicit WandTool (bool harmonic);
    ~WandTool() override;

    Type getType() const override { return harmonic ? Type::harmonicWand : Type::wand; }
    juce::String getName() const override { return harmonic ? "Harmonic Wand" : "Wand"; }

    void deselect (SpectrogramComponent&) override { clearPreview(); }
    void mouseMove (SpectrogramComponent&, const juce::MouseEvent&) override;
    void mouseDown (SpectrogramComponent&, const juce::MouseEvent&) override;
    void mouseDrag (SpectrogramComponent&, const juce::MouseEvent&) override;
    void mouseUp (SpectrogramComponent&, const juce::MouseEvent&) override;
    void mouseExit (SpectrogramComponent&, const juce::MouseEvent&) override { clearPreview(); }
    void mouseWheelMove (SpectrogramComponent&, const juce::MouseEvent&, const juce::MouseWheelDetails&) override;
    void paintOverlay (SpectrogramComponent&, juce::Graphics&) override;
    juce::String getCursorName (const juce::ModifierKeys& m) const override { return cursorFor ("magicWandCursor", m); }

    /** The selection the last finished preview would make (empty when none). */
    SelectionUpdate getPreview() const;

    /** Waits until no preview job is pending or running (tests). */
    bool waitForPreview (int timeoutMs);

    static constexpr juce::uint32 harmonicStepIntervalMs = 1000;

private:
    class PreviewJob;

    struct Settings
    {
        float threshold;
        int selectionSize, selectedHarmonic;
        float highCutKHz, rollOff;
    };

    Settings readSettings() const;
    void clearPreview();
    SelectionUpdate compute (ManualEditManager& edits, juce::Point<int> cell, const Settings&, SelectionMode mode) const;

    const bool harmonic;
    EditorToolParam *thresholdDb, *selectionSize, *selectedHarmonic = nullptr, *highCut = nullptr, *rollOff = nullptr;
    mutable std::mutex previewLock;
    SelectionUpdate preview;
    std::vector<juce::Line<float>> outline; // in image cells, edges between selected and not
    bool overlayHidden = false;
    juce::uint32 lastHarmonicStep = 0;
    bool harmonicStepped = false;
    juce::ThreadPool pool { 1 };
};

/** Transient select: hovering outlines the transient under the mouse (on the tool's
    pool); a drag (or a click, the transient shown) records "Transient selection" of the
    percussive part above "Low Cut (kHz)". */
class TransientSelectTool : public RectangleSelectTool
{
public:
    TransientSelectTool();
    ~TransientSelectTool() override;
    Type getType() const override { return Type::transientSelect; }
    juce::String getName() const override { return "Transient Select"; }
    void deselect (SpectrogramComponent&) override { clearPreview(); }
    void mouseMove (SpectrogramComponent&, const juce::MouseEvent&) override;
    void mouseExit (SpectrogramComponent&, const juce::MouseEvent&) override { clearPreview(); }
    void paintOverlay (SpectrogramComponent&, juce::Graphics&) override;

    SelectionUpdate getPreview() const;
    bool waitForPreview (int timeoutMs);

private:
    EditResult commit (SpectrogramComponent&, ManualEditManager&, juce::Rectangle<int> cells, const juce::MouseEvent&) override;
    void clearPreview();

    EditorToolParam* lowCut = nullptr;
    mutable std::mutex previewLock;
    SelectionUpdate preview;
    juce::ThreadPool pool { 1 };
};

/** The eraser: a brush that lowers the mask where it is dragged ("Eraser stroke", one
    undo step per stroke); with Alt it restores what was removed. Alt + wheel sizes the
    brush (in pixels of the view). */
class EraserTool : public EditorTool
{
public:
    Type getType() const override { return Type::eraser; }
    juce::String getName() const override { return "Eraser"; }
    void mouseMove (SpectrogramComponent&, const juce::MouseEvent&) override;
    void mouseDown (SpectrogramComponent&, const juce::MouseEvent&) override;
    void mouseDrag (SpectrogramComponent&, const juce::MouseEvent&) override;
    void mouseExit (SpectrogramComponent&, const juce::MouseEvent&) override;
    void mouseWheelMove (SpectrogramComponent&, const juce::MouseEvent&, const juce::MouseWheelDetails&) override;
    void paintOverlay (SpectrogramComponent&, juce::Graphics&) override;

    static constexpr float minBrushPixels = 2.0f, maxBrushPixels = 200.0f;
    float getBrushPixels() const noexcept { return brushPixels; }

private:
    void stroke (SpectrogramComponent&, juce::Point<float> from, juce::Point<float> to, bool restore, bool first);

    float brushPixels = 12.0f;
    std::optional<juce::Point<float>> brushAt, lastPoint;
    bool strokeRefused = false;
};

} // namespace kalder
