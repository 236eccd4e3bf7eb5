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

SelectionMode EditorTool::modeFor (const juce::ModifierKeys& mods, bool pointTool) noexcept
{
    if (! mods.isShiftDown())
        return SelectionMode::replace;
    if (mods.isAltDown())
        return SelectionMode::subtract;
    return pointTool ? SelectionMode::addPoint : SelectionMode::addArea;
}

juce::Point<int> EditorTool::cellAt (SpectrogramComponent& view, juce::Point<float> p)
{
    // Cell (f, b) covers [f, f + 1) x [b, b + 1) of the image.
    const auto image = view.viewToImage (p);
    return { (int) std::floor (image.x), (int) std::floor (image.y) };
}

//==============================================================================
void RectangleSelectTool::mouseDown (SpectrogramComponent&, const juce::MouseEvent& e)
{
    if (e.mods.isLeftButtonDown())
        dragged = juce::Rectangle<float> (e.position, e.position);
}

void RectangleSelectTool::mouseDrag (SpectrogramComponent&, const juce::MouseEvent& e)
{
    if (! dragged.has_value())
        return;
    dragged = juce::Rectangle<float> (e.mouseDownPosition, e.position);
    ++overlayVersion;
}

void RectangleSelectTool::mouseUp (SpectrogramComponent& view, const juce::MouseEvent& e)
{
    if (! dragged.has_value())
        return;
    dragged.reset();
    ++overlayVersion;
    auto* edits = editsOf (view);
    if (edits == nullptr)
        return;
    const auto a = cellAt (view, e.mouseDownPosition), b = cellAt (view, e.position);
    lastResult = edits->rectangleSelect (juce::jmin (a.x, b.x), juce::jmin (a.y, b.y), juce::jmax (a.x, b.x),
                                         juce::jmax (a.y, b.y), modeFor (e.mods, false));
}

void RectangleSelectTool::paintOverlay (SpectrogramComponent&, juce::Graphics& g)
{
    if (! dragged.has_value())
        return;
    g.setColour (overlayColour.withAlpha (0.15f));
    g.fillRect (*dragged);
    g.setColour (overlayColour);
    g.drawRect (*dragged, 1.0f);
}

//==============================================================================
/** Computes the wand's selection at one cell, off the message thread. */
class WandTool::PreviewJob : public juce::ThreadPoolJob
{
public:
    PreviewJob (WandTool& t, AudioTrack::Ptr tr, juce::Point<int> c, SelectionMode m)
        : juce::ThreadPoolJob ("Wand overlay update job"), tool (t), track (std::move (tr)), cell (c), mode (m)
    {}

    JobStatus runJob() override
    {
        auto update = tool.compute (track->getManualEditManager(), cell, mode);
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
    SelectionMode mode;
};

WandTool::WandTool (bool harmonicWand) : harmonic (harmonicWand) {}

WandTool::~WandTool()
{
    pool.removeAllJobs (true, jobStopTimeoutMs);
}

float WandTool::getThreshold() const noexcept
{
    return thresholdDb <= -100.0 ? 0.0f : juce::jlimit (0.0f, 1.0f, (float) std::pow (10.0, thresholdDb / 20.0));
}

SelectionUpdate WandTool::compute (ManualEditManager& edits, juce::Point<int> cell, SelectionMode mode) const
{
    return edits.previewWandSelect (cell.x, cell.y, getThreshold(), juce::jlimit (0, 10, selectionSize), harmonic,
                                    juce::jmax (1, selectedHarmonic), (float) highCutKHz, (float) rollOff, 1.0f, mode);
}

void WandTool::mouseMove (SpectrogramComponent& view, const juce::MouseEvent& e)
{
    auto track = view.getTrack();
    if (track == nullptr || ! track->isStoreReady())
        return;
    // A newer position replaces a preview that has not started.
    pool.removeAllJobs (false, 0);
    pool.addJob (new PreviewJob (*this, track, cellAt (view, e.position), modeFor (e.mods, harmonic)), true);
}

void WandTool::mouseExit (SpectrogramComponent&, const juce::MouseEvent&)
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
    lastResult = edits->wandSelect (cell.x, cell.y, getThreshold(), juce::jlimit (0, 10, selectionSize), harmonic,
                                    juce::jmax (1, selectedHarmonic), (float) highCutKHz, (float) rollOff, 1.0f,
                                    modeFor (e.mods, harmonic));
}

SelectionUpdate WandTool::getPreview() const
{
    const std::lock_guard<std::mutex> sl (previewLock);
    return preview;
}

bool WandTool::waitForPreview (int timeoutMs)
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

void WandTool::paintOverlay (SpectrogramComponent& view, juce::Graphics& g)
{
    std::vector<juce::Line<float>> lines;
    {
        const std::lock_guard<std::mutex> sl (previewLock);
        lines = outline;
    }
    g.setColour (overlayColour);
    for (const auto& l : lines)
    {
        // Rows count from the bottom: cell row b spans view y from b + 1 (top) to b.
        const auto a = view.imageToView ({ (double) l.getStartX(), (double) l.getStartY() });
        const auto b = view.imageToView ({ (double) l.getEndX(), (double) l.getEndY() });
        g.drawLine ({ a, b }, 1.0f);
    }
}

} // namespace kalder
