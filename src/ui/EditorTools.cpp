#include "EditorTools.h"

#include "SpectrogramComponent.h"

namespace kalder
{

namespace
{
    constexpr int jobStopTimeoutMs = 2000;
    const juce::Colour overlayColour { 0xffffffff };
    // A cell counts as inside an outline from half selected on.
    constexpr float outlineLevel = 0.5f;

    /** The edges between cells above and below outlineLevel, in image cells. */
    std::vector<juce::Line<float>> outlineOf (const SelectionUpdate& u)
    {
        std::vector<juce::Line<float>> lines;
        if (u.isEmpty())
            return lines;
        const auto rows = (int) u.values.rows(), cols = (int) u.values.cols();
        auto in = [&] (int b, int f) { return b >= 0 && f >= 0 && b < rows && f < cols && u.values (b, f) >= outlineLevel; };
        for (int f = 0; f < cols; ++f)
            for (int b = 0; b < rows; ++b)
            {
                if (! in (b, f))
                    continue;
                const auto x = (float) (u.x1 + f), y = (float) (u.y1 + b);
                if (! in (b, f - 1))
                    lines.emplace_back (x, y, x, y + 1.0f);
                if (! in (b, f + 1))
                    lines.emplace_back (x + 1.0f, y, x + 1.0f, y + 1.0f);
                if (! in (b - 1, f))
                    lines.emplace_back (x, y, x + 1.0f, y);
                if (! in (b + 1, f))
                    lines.emplace_back (x, y + 1.0f, x + 1.0f, y + 1.0f);
            }
        return lines;
    }

    ManualEditManager* editsOf (SpectrogramComponent& view)
    {
        auto track = view.getTrack();
        return track != nullptr ? &track->getManualEditManager() : nullptr;
    }
} // namespace

//==============================================================================
std::unique_ptr<EditorTool> EditorTool::create (Type type)
{
    switch (type)
    {
        case Type::move:
            return std::make_unique<MoveTool>();
        case Type::zoomIn:
            return std::make_unique<ZoomTool> (true);
        case Type::zoomOut:
            return std::make_unique<ZoomTool> (false);
        case Type::rectangleSelect:
            return std::make_unique<RectangleSelectTool>();
        case Type::wand:
            return std::make_unique<WandTool> (false);
        case Type::harmonicWand:
            return std::make_unique<WandTool> (true);
        case Type::thresholdBelow:
            return std::make_unique<ThresholdSelectTool> (false);
        case Type::thresholdAbove:
            return std::make_unique<ThresholdSelectTool> (true);
        case Type::transientSelect:
            return std::make_unique<TransientSelectTool>();
        case Type::eraser:
            return std::make_unique<EraserTool>();
    }
    return nullptr;
}

SelectionMode EditorTool::modeFor (const juce::ModifierKeys& mods, bool pointTool) noexcept
{
    if (! mods.isShiftDown())
        return SelectionMode::replace;
    if (mods.isAltDown())
        return SelectionMode::subtract;
    return pointTool ? SelectionMode::addPoint : SelectionMode::addArea;
}

juce::String EditorTool::cursorFor (const juce::String& base, const juce::ModifierKeys& mods)
{
    if (! mods.isShiftDown())
        return base;
    return base + (mods.isAltDown() ? "Minus" : "Plus");
}

juce::Point<int> EditorTool::cellAt (SpectrogramComponent& view, juce::Point<float> p)
{
    // Cell (f, b) covers [f, f + 1) x [b, b + 1) of the image.
    const auto image = view.viewToImage (p);
    return { (int) std::floor (image.x), (int) std::floor (image.y) };
}

EditorToolParam* EditorTool::addParam (EditorToolParam* param)
{
    params.add (param);
    return param;
}

EditorToolParam* EditorTool::findParam (const juce::String& name) const
{
    for (auto* p : params)
        if (p->getName() == name)
            return p;
    return nullptr;
}

void EditorTool::report (SpectrogramComponent& view, EditResult result)
{
    lastResult = std::move (result);
    view.reportResult (lastResult);
}

void EditorTool::mouseWheelMove (SpectrogramComponent& view, const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    view.scrollOrZoom (e, wheel);
}

//==============================================================================
void MoveTool::mouseDown (SpectrogramComponent& view, const juce::MouseEvent&)
{
    startX = view.getFocusArea().getCentreX();
    startY = view.getFocusArea().getCentreY();
}

void MoveTool::mouseDrag (SpectrogramComponent& view, const juce::MouseEvent& e)
{
    // The image follows the mouse: the view's centre moves the other way.
    auto& area = view.getFocusArea();
    const auto d = e.position - e.mouseDownPosition;
    area.setCentre (startX - d.x / juce::jmax (1, view.getWidth()) * area.getWidth(),
                    startY - d.y / juce::jmax (1, view.getHeight()) * area.getHeight());
    view.focusAreaChanged (&area);
}

//==============================================================================
namespace
{
    constexpr float clickDistance = 3.0f; // pixels: less is a click, not a drag
} // namespace

void ZoomTool::mouseDown (SpectrogramComponent&, const juce::MouseEvent& e)
{
    if (e.mods.isLeftButtonDown())
        dragged = juce::Rectangle<float> (e.position, e.position);
}

void ZoomTool::mouseDrag (SpectrogramComponent&, const juce::MouseEvent& e)
{
    if (! dragged)
        return;
    dragged = juce::Rectangle<float> (e.mouseDownPosition, e.position);
    ++overlayVersion;
}

void ZoomTool::mouseUp (SpectrogramComponent& view, const juce::MouseEvent& e)
{
    if (! dragged)
        return;
    dragged.reset();
    ++overlayVersion;
    const juce::Rectangle<float> r (e.mouseDownPosition, e.position);
    if (r.getWidth() < clickDistance || r.getHeight() < clickDistance)
    {
        const auto amount = in ? -clickAmount : clickAmount;
        view.zoomAroundPoint (e.position, amount, amount);
        return;
    }
    const auto a = view.viewToFocusArea (r.getTopLeft()), b = view.viewToFocusArea (r.getBottomRight());
    auto& area = view.getFocusArea();
    if (in)
        area.setVisibleRanges ({ a.x, b.x }, { a.y, b.y });
    else
    {
        // The reverse: what the view shows now shrinks into the rectangle.
        const auto fx = view.getWidth() / juce::jmax (1.0f, r.getWidth()),
                   fy = view.getHeight() / juce::jmax (1.0f, r.getHeight());
        area.setRect ({ (a.x + b.x) / 2.0, (a.y + b.y) / 2.0, area.getWidth() * fx, area.getHeight() * fy });
    }
    view.focusAreaChanged (&area);
}

void ZoomTool::paintOverlay (SpectrogramComponent&, juce::Graphics& g)
{
    if (! dragged)
        return;
    g.setColour (overlayColour);
    g.drawRect (*dragged, 1.0f);
}

//==============================================================================
RectangleSelectTool::RectangleSelectTool()
{
    frequencySnap = addParam (new EditorToolParam ("Frequency snap", EditorToolParam::InputType::toggle, false));
}

juce::Rectangle<float> RectangleSelectTool::snapped (SpectrogramComponent& view, juce::Point<float> a, juce::Point<float> b,
                                                     const juce::ModifierKeys& mods) const
{
    juce::Rectangle<float> r (a, b);
    if (frequencySnap->getBool() || mods.isCommandDown())
    {
        // Every frequency: from the image's top to its bottom, wherever the view is.
        const auto top = view.imageToView ({ 0.0, (double) view.getSpectrogram().getImageHeight() }).y;
        const auto bottom = view.imageToView ({ 0.0, 0.0 }).y;
        r = r.withTop (top).withBottom (bottom);
    }
    if (mods.isAltDown() && ! mods.isShiftDown())
    {
        const auto left = view.imageToView ({ 0.0, 0.0 }).x;
        const auto right = view.imageToView ({ (double) view.getSpectrogram().getImageWidth(), 0.0 }).x;
        r = r.withLeft (left).withRight (right);
    }
    return r;
}

juce::Rectangle<int> RectangleSelectTool::cellsOf (SpectrogramComponent& view, juce::Rectangle<float> r)
{
    // The cells under the rectangle's corners; edges on a cell boundary stay outside.
    constexpr float inside = 1.0e-3f;
    const auto a = cellAt (view, { r.getX() + inside, r.getBottom() - inside });
    const auto b = cellAt (
        view, { juce::jmax (r.getX() + inside, r.getRight() - inside), juce::jmin (r.getBottom() - inside, r.getY() + inside) });
    const auto w = view.getSpectrogram().getImageWidth(), h = view.getSpectrogram().getImageHeight();
    const auto x1 = juce::jlimit (0, juce::jmax (0, w - 1), juce::jmin (a.x, b.x)),
               x2 = juce::jlimit (0, juce::jmax (0, w - 1), juce::jmax (a.x, b.x));
    const auto y1 = juce::jlimit (0, juce::jmax (0, h - 1), juce::jmin (a.y, b.y)),
               y2 = juce::jlimit (0, juce::jmax (0, h - 1), juce::jmax (a.y, b.y));
    return { x1, y1, x2 - x1, y2 - y1 };
}

void RectangleSelectTool::mouseDown (SpectrogramComponent&, const juce::MouseEvent& e)
{
    if (e.mods.isLeftButtonDown())
        dragged = juce::Rectangle<float> (e.position, e.position);
}

void RectangleSelectTool::mouseDrag (SpectrogramComponent& view, const juce::MouseEvent& e)
{
    if (! dragged.has_value())
        return;
    dragged = snapped (view, e.mouseDownPosition, e.position, e.mods);
    ++overlayVersion;
}

void RectangleSelectTool::mouseUp (SpectrogramComponent& view, const juce::MouseEvent& e)
{
    if (! dragged.has_value())
        return;
    dragged.reset();
    ++overlayVersion;
    if (auto* edits = editsOf (view))
        report (view, commit (view, *edits, cellsOf (view, snapped (view, e.mouseDownPosition, e.position, e.mods)), e));
}

EditResult RectangleSelectTool::commit (SpectrogramComponent&, ManualEditManager& edits, juce::Rectangle<int> cells,
                                        const juce::MouseEvent& e)
{
    return edits.rectangleSelect (cells.getX(), cells.getY(), cells.getRight(), cells.getBottom(), modeFor (e.mods, false));
}

void RectangleSelectTool::paintOverlay (SpectrogramComponent&, juce::Graphics& g)
{
    if (! dragged.has_value())
        return;
    g.setColour (overlay.withAlpha (0.15f));
    g.fillRect (*dragged);
    g.setColour (overlay);
    g.drawRect (*dragged, 1.0f);
}

//==============================================================================
ThresholdSelectTool::ThresholdSelectTool (bool selectAbove) : above (selectAbove)
{
    cursorBase = "marqueeThresholdCursor";
    params.clear();
    threshold = addParam (
        new EditorToolParam ("Threshold (dB)", EditorToolParam::InputType::slider, -30.0, { -120.0, 0.0 }, 0.0));
    frequencySnap = addParam (new EditorToolParam ("Frequency snap", EditorToolParam::InputType::toggle, false));
}

void ThresholdSelectTool::updateColour (SpectrogramComponent& view)
{
    const auto p = view.getSpectrogram().getColourMapping().thresholdColour ((float) threshold->getDouble());
    overlay = juce::Colour (p.r, p.g, p.b);
}

void ThresholdSelectTool::select (SpectrogramComponent& view)
{
    updateColour (view);
}

void ThresholdSelectTool::mouseDrag (SpectrogramComponent& view, const juce::MouseEvent& e)
{
    updateColour (view);
    RectangleSelectTool::mouseDrag (view, e);
}

EditResult ThresholdSelectTool::commit (SpectrogramComponent& view, ManualEditManager& edits, juce::Rectangle<int> cells,
                                        const juce::MouseEvent& e)
{
    // The threshold counts down from the loudest level the image shows.
    const auto level = view.getSpectrogram().getColourMapping().maxLevel + (float) threshold->getDouble();
    return edits.thresholdSelect (cells.getX(), cells.getY(), cells.getRight(), cells.getBottom(), level, above,
                                  modeFor (e.mods, false));
}

void ThresholdSelectTool::mouseWheelMove (SpectrogramComponent& view, const juce::MouseEvent& e,
                                          const juce::MouseWheelDetails& wheel)
{
    if (! e.mods.isAltDown())
        return EditorTool::mouseWheelMove (view, e, wheel);
    if (std::isfinite (wheel.deltaY))
        threshold->setValue (threshold->getDouble() + wheel.deltaY);
    updateColour (view);
    ++overlayVersion;
}

//==============================================================================
/** Computes the wand's selection at one cell, off the message thread. */
class WandTool::PreviewJob : public juce::ThreadPoolJob
{
public:
    PreviewJob (WandTool& t, AudioTrack::Ptr tr, juce::Point<int> c, Settings s, SelectionMode m)
        : juce::ThreadPoolJob ("Wand overlay update job"), tool (t), track (std::move (tr)), cell (c), settings (s), mode (m)
    {}

    JobStatus runJob() override
    {
        auto update = tool.compute (track->getManualEditManager(), cell, settings, mode);
        auto lines = outlineOf (update);
        {
            const std::lock_guard<std::mutex> sl (tool.previewLock);
            tool.preview = std::move (update);
            tool.outline = std::move (lines);
        }
        ++tool.overlayVersion;
        return jobHasFinished;
    }

private:
    WandTool& tool;
    AudioTrack::Ptr track; // held while the job reads its store
    juce::Point<int> cell;
    Settings settings;
    SelectionMode mode;
};

WandTool::WandTool (bool harmonicWand) : harmonic (harmonicWand)
{
    using T = EditorToolParam::InputType;
    if (harmonic)
        selectedHarmonic = addParam (new EditorToolParam ("Sel. harmonic", T::slider, 1, { 1.0, 16.0 }, 1.0));
    thresholdDb = addParam (new EditorToolParam ("Threshold (dB)", T::slider, -20.0, { -100.0, 0.0 }, 0.0));
    selectionSize = addParam (new EditorToolParam ("Selection size", T::slider, 4, { 0.0, 10.0 }, 1.0));
    if (harmonic)
    {
        highCut = addParam (new EditorToolParam ("High cut (kHz)", T::textBox, 10.0, { 0.1, 96.0 }, 0.0));
        rollOff = addParam (new EditorToolParam ("Roll-off rate", T::slider, 0.0, { 0.0, 1.0 }, 0.0));
    }
}

WandTool::~WandTool()
{
    pool.removeAllJobs (true, jobStopTimeoutMs);
}

WandTool::Settings WandTool::readSettings() const
{
    const auto db = thresholdDb->getDouble();
    return { db <= -100.0 ? 0.0f : juce::jlimit (0.0f, 1.0f, (float) std::pow (10.0, db / 20.0)), selectionSize->getInt(),
             selectedHarmonic != nullptr ? selectedHarmonic->getInt() : 1,
             highCut != nullptr ? (float) highCut->getDouble() : 10.0f,
             rollOff != nullptr ? (float) rollOff->getDouble() : 0.0f };
}

SelectionUpdate WandTool::compute (ManualEditManager& edits, juce::Point<int> cell, const Settings& s, SelectionMode mode) const
{
    return edits.previewWandSelect (cell.x, cell.y, s.threshold, s.selectionSize, harmonic, s.selectedHarmonic, s.highCutKHz,
                                    s.rollOff, 1.0f, mode);
}

void WandTool::mouseMove (SpectrogramComponent& view, const juce::MouseEvent& e)
{
    auto track = view.getTrack();
    if (track == nullptr || ! track->isStoreReady())
        return;
    overlayHidden = false;
    // A newer position replaces a preview that has not started.
    pool.removeAllJobs (false, 0);
    pool.addJob (new PreviewJob (*this, track, cellAt (view, e.position), readSettings(), modeFor (e.mods, harmonic)), true);
}

void WandTool::mouseDown (SpectrogramComponent&, const juce::MouseEvent&)
{
    overlayHidden = false;
}

void WandTool::mouseDrag (SpectrogramComponent&, const juce::MouseEvent& e)
{
    // A press that wanders is no click on what the outline shows: hide it.
    if (! overlayHidden && e.mods.isLeftButtonDown() && juce::roundToInt (e.position.getDistanceFrom (e.mouseDownPosition)) > 2)
    {
        overlayHidden = true;
        ++overlayVersion;
    }
}

void WandTool::clearPreview()
{
    pool.removeAllJobs (false, 0);
    {
        const std::lock_guard<std::mutex> sl (previewLock);
        preview = {};
        outline.clear();
    }
    ++overlayVersion;
}

void WandTool::mouseUp (SpectrogramComponent& view, const juce::MouseEvent& e)
{
    if (! e.mods.isLeftButtonDown())
        return;
    auto* edits = editsOf (view);
    if (edits == nullptr)
        return;
    const auto cell = cellAt (view, e.position);
    const auto s = readSettings();
    report (view, edits->wandSelect (cell.x, cell.y, s.threshold, s.selectionSize, harmonic, s.selectedHarmonic, s.highCutKHz,
                                     s.rollOff, 1.0f, modeFor (e.mods, harmonic)));
}

void WandTool::mouseWheelMove (SpectrogramComponent& view, const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    if (! harmonic || ! e.mods.isAltDown())
        return EditorTool::mouseWheelMove (view, e, wheel);
    // One harmonic per turn of the wheel: at most one step a second; a pause (an event
    // without vertical movement) lets the next turn step at once.
    const auto now = juce::Time::getMillisecondCounter();
    if (wheel.deltaY == 0.0f || ! std::isfinite (wheel.deltaY))
    {
        harmonicStepped = false;
        return;
    }
    if (harmonicStepped && now - lastHarmonicStep < harmonicStepIntervalMs)
        return;
    harmonicStepped = true;
    lastHarmonicStep = now;
    selectedHarmonic->setValue (selectedHarmonic->getInt() + (wheel.deltaY > 0.0f ? 1 : -1));
}

SelectionUpdate WandTool::getPreview() const
{
    const std::lock_guard<std::mutex> sl (previewLock);
    return preview;
}

namespace
{
    bool waitForPool (juce::ThreadPool& pool, int timeoutMs)
    {
        const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
        while (pool.getNumJobs() > 0)
        {
            if (juce::Time::getMillisecondCounter() >= deadline)
                return false;
            juce::Thread::sleep (1);
        }
        return true;
    }

    void drawOutline (SpectrogramComponent& view, juce::Graphics& g, const std::vector<juce::Line<float>>& lines)
    {
        g.setColour (overlayColour);
        for (const auto& l : lines)
        {
            // Rows count from the bottom: cell row b spans view y from b + 1 (top) to b.
            const auto a = view.imageToView ({ (double) l.getStartX(), (double) l.getStartY() });
            const auto b = view.imageToView ({ (double) l.getEndX(), (double) l.getEndY() });
            g.drawLine ({ a, b }, 1.0f);
        }
    }
} // namespace

bool WandTool::waitForPreview (int timeoutMs)
{
    return waitForPool (pool, timeoutMs);
}

void WandTool::paintOverlay (SpectrogramComponent& view, juce::Graphics& g)
{
    if (overlayHidden)
        return;
    std::vector<juce::Line<float>> lines;
    {
        const std::lock_guard<std::mutex> sl (previewLock);
        lines = outline;
    }
    drawOutline (view, g, lines);
}

//==============================================================================
TransientSelectTool::TransientSelectTool()
{
    cursorBase = "transientSelectCursor";
    params.clear();
    lowCut = addParam (new EditorToolParam ("Low Cut (kHz)", EditorToolParam::InputType::textBox, 0.0, { 0.0, 96.0 }, 0.0));
}

TransientSelectTool::~TransientSelectTool()
{
    pool.removeAllJobs (true, jobStopTimeoutMs);
}

void TransientSelectTool::mouseMove (SpectrogramComponent& view, const juce::MouseEvent& e)
{
    auto track = view.getTrack();
    if (track == nullptr || ! track->isStoreReady())
        return;
    const auto cell = cellAt (view, e.position);
    pool.removeAllJobs (false, 0);
    pool.addJob ([this, track, cell] {
        auto update = track->getManualEditManager().previewTransientDetect (cell.x, cell.y);
        {
            const std::lock_guard<std::mutex> sl (previewLock);
            preview = std::move (update);
        }
        ++overlayVersion;
    });
}

void TransientSelectTool::clearPreview()
{
    pool.removeAllJobs (false, 0);
    {
        const std::lock_guard<std::mutex> sl (previewLock);
        preview = {};
    }
    ++overlayVersion;
}

EditResult TransientSelectTool::commit (SpectrogramComponent& view, ManualEditManager& edits, juce::Rectangle<int> cells,
                                        const juce::MouseEvent& e)
{
    if (e.position.getDistanceFrom (e.mouseDownPosition) < clickDistance)
    {
        // A click takes the transient the outline shows, over every frequency.
        waitForPreview (jobStopTimeoutMs);
        const auto shown = getPreview();
        if (shown.isEmpty())
            return EditResult::unchanged();
        cells = { shown.x1, 0, (int) shown.values.cols() - 1, juce::jmax (0, view.getSpectrogram().getImageHeight() - 1) };
    }
    return edits.transientSelect (cells.getX(), cells.getY(), cells.getRight(), cells.getBottom(), (float) lowCut->getDouble(),
                                  modeFor (e.mods, false));
}

SelectionUpdate TransientSelectTool::getPreview() const
{
    const std::lock_guard<std::mutex> sl (previewLock);
    return preview;
}

bool TransientSelectTool::waitForPreview (int timeoutMs)
{
    return waitForPool (pool, timeoutMs);
}

void TransientSelectTool::paintOverlay (SpectrogramComponent& view, juce::Graphics& g)
{
    RectangleSelectTool::paintOverlay (view, g);
    drawOutline (view, g, outlineOf (getPreview()));
}

//==============================================================================
void EraserTool::stroke (SpectrogramComponent& view, juce::Point<float> from, juce::Point<float> to, bool restore, bool first)
{
    auto* edits = editsOf (view);
    if (edits == nullptr)
        return;
    const auto a = cellAt (view, from), b = cellAt (view, to);
    // The brush is round on screen; its radius in cells follows the time axis' scale.
    const auto cellsPerPixel = std::abs (view.viewToImage ({ 1.0f, 0.0f }).x - view.viewToImage ({ 0.0f, 0.0f }).x);
    const auto radius = juce::jlimit (0.5, ManualEditManager::maxBrushRadius, brushPixels * cellsPerPixel);
    auto result = edits->erase (a.x, a.y, b.x, b.y, radius, 1.0,
                                first ? ManualEditManager::Stroke::start : ManualEditManager::Stroke::extend, restore);
    if (first)
        strokeRefused = false;
    // A refused stroke says so once, not at every segment.
    if (result.wasRefusedOrFailed() && ! strokeRefused)
    {
        strokeRefused = true;
        report (view, std::move (result));
    }
}

void EraserTool::mouseMove (SpectrogramComponent&, const juce::MouseEvent& e)
{
    brushAt = e.position;
    ++overlayVersion;
}

void EraserTool::mouseDown (SpectrogramComponent& view, const juce::MouseEvent& e)
{
    brushAt = e.position;
    if (! e.mods.isLeftButtonDown())
        return;
    lastPoint = e.position;
    stroke (view, e.position, e.position, e.mods.isAltDown(), true);
    ++overlayVersion;
}

void EraserTool::mouseDrag (SpectrogramComponent& view, const juce::MouseEvent& e)
{
    brushAt = e.position;
    ++overlayVersion;
    if (! lastPoint || ! e.mods.isLeftButtonDown())
        return;
    // Segments of at least a pixel, each joining the stroke's undo step.
    if (e.position.getDistanceFrom (*lastPoint) < 1.0f)
        return;
    stroke (view, *lastPoint, e.position, e.mods.isAltDown(), false);
    lastPoint = e.position;
}

void EraserTool::mouseExit (SpectrogramComponent&, const juce::MouseEvent&)
{
    brushAt.reset();
    lastPoint.reset();
    ++overlayVersion;
}

void EraserTool::mouseWheelMove (SpectrogramComponent& view, const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    if (! e.mods.isAltDown() || ! std::isfinite (wheel.deltaY))
        return EditorTool::mouseWheelMove (view, e, wheel);
    brushPixels = juce::jlimit (minBrushPixels, maxBrushPixels, brushPixels * std::exp2 (wheel.deltaY * 4.0f));
    ++overlayVersion;
}

void EraserTool::paintOverlay (SpectrogramComponent&, juce::Graphics& g)
{
    if (! brushAt)
        return;
    g.setColour (overlayColour);
    g.drawEllipse (juce::Rectangle<float> (brushPixels * 2.0f, brushPixels * 2.0f).withCentre (*brushAt), 1.0f);
}

} // namespace kalder
