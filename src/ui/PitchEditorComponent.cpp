#include "PitchEditorComponent.h"

#include "KalderLookAndFeel.h"
#include "ResourceManager.h"

#include "appcore/SettingsManager.h"
#include "display/SpectrogramSettings.h"

namespace kalder
{

namespace
{
    constexpr int timerMs = 50;
    constexpr float pictureRangeDb = 40.0f;   // the melody editor has no dynamic range setting
    constexpr int largestColumnsPerPixel = 8; // sampled, so an hour-long song redraws quickly

    bool isBlackKey (int midi) noexcept
    {
        const auto n = ((midi % 12) + 12) % 12;
        return n == 1 || n == 3 || n == 6 || n == 8 || n == 10;
    }

    bool sameColours (const SettingsManager::Colours& a, const SettingsManager::Colours& b) noexcept
    {
        return a.startHue == b.startHue && a.endHue == b.endHue && a.brightness == b.brightness && a.contrast == b.contrast;
    }
} // namespace

PitchEditorComponent::PitchEditorComponent() : focus (new FocusArea())
{
    setOpaque (true);
    setWantsKeyboardFocus (false);
    for (int i = 0; i < 4; ++i)
    {
        auto& b = toolButtons[i];
        const auto tool = (Tool) i;
        b.setButtonText (getToolName (tool));
        b.setClickingTogglesState (true);
        b.setRadioGroupId (1);
        b.setTitle (getToolName (tool));
        b.onClick = [this, tool] { setActiveTool (tool); };
        addAndMakeVisible (b);
    }
    toolButtons[0].setToggleState (true, juce::dontSendNotification);
    intervalLabel.setJustificationType (juce::Justification::centredRight);
    addAndMakeVisible (intervalLabel);
    interval.setRange (1.0, 24.0, 1.0);
    interval.setValue (shiftInterval, juce::dontSendNotification);
    interval.setTitle ("Interval (semitones)");
    interval.onValueChange = [this] { shiftInterval = (int) interval.getValue(); };
    addAndMakeVisible (interval);
    pitchPreview.setTooltip ("Play the track filtered to its melody lines");
    pitchPreview.onClick = [this] {
        if (track != nullptr)
            track->getTree().setProperty (TrackIds::previewPitchEdits, pitchPreview.getToggleState(), nullptr);
    };
    addAndMakeVisible (pitchPreview);
    focus->addListener (this);
    updateCursor();
}

PitchEditorComponent::~PitchEditorComponent()
{
    setTrack (nullptr);
    focus->removeListener (this);
}

juce::String PitchEditorComponent::getToolName (Tool tool)
{
    switch (tool)
    {
        case Tool::freeDraw:
            return "Free Draw Pitch";
        case Tool::rangeShift:
            return "Range Shift";
        case Tool::tracker:
            return "Pitch Tracker";
        case Tool::silencer:
            return "Silencer";
    }
    return {};
}

void PitchEditorComponent::setTrack (AudioTrack::Ptr newTrack)
{
    if (newTrack == track)
        return;
    if (edits != nullptr)
        edits->removeListener (this);
    edits = nullptr;
    track = std::move (newTrack);
    shownView = nullptr;
    picture = {};
    drawing = false;
    dragFrom = dragTo = std::nullopt;
    if (track == nullptr)
    {
        stopTimer();
        stateKey = {};
        linePaths.clear();
        repaint();
        return;
    }
    edits = &track->getPitchEditManager();
    edits->addListener (this);
    pitchPreview.setToggleState ((bool) track->getTree()[TrackIds::previewPitchEdits], juce::dontSendNotification);
    // The same key as the spectral view's: a track keeps its view across both editors.
    stateKey = track->getAudioFile().getFullPathName();
    focus->setSpectrogramDimensions (track->getnFrames(), PitchogramView::numRows);
    focus->loadState (stateKey); // a new track shows what the focus area shows now
    track->updatePitchogram();
    startTimer (timerMs);
    timerCallback();
    rebuildLines();
}

void PitchEditorComponent::setFocusArea (FocusArea::Ptr area)
{
    if (area == nullptr || area == focus)
        return;
    focus->removeListener (this);
    focus = std::move (area);
    focus->addListener (this);
    focusAreaChanged (focus.get());
}

void PitchEditorComponent::focusAreaChanged (FocusArea*)
{
    if (stateKey.isNotEmpty() && isShowing())
        focus->saveCurrentState (stateKey);
    rebuildLines();
    repaint();
}

void PitchEditorComponent::setPlayhead (double fraction)
{
    if (fraction == playhead)
        return;
    playhead = fraction;
    repaint (getImageArea());
}

void PitchEditorComponent::setActiveTool (Tool tool)
{
    activeTool = tool;
    toolButtons[(int) tool].setToggleState (true, juce::dontSendNotification);
    dragFrom = dragTo = std::nullopt;
    updateCursor();
    repaint();
}

void PitchEditorComponent::setShiftInterval (int semitones)
{
    shiftInterval = juce::jlimit (1, 24, semitones);
    interval.setValue (shiftInterval, juce::dontSendNotification);
}

void PitchEditorComponent::updateCursor()
{
    const char* names[] = { "freeDrawPitch", "marqueePitchCursor", "marqueePitchCursor", "eraserPitchCursor" };
    setMouseCursor (
        ResourceManager::getInstance().getCursor (names[(int) activeTool], getApproximateScaleFactorForComponent (this)));
}

//==============================================================================
juce::Rectangle<int> PitchEditorComponent::getImageArea() const
{
    auto area = getLocalBounds();
    area.removeFromTop (toolBarHeight);
    area.removeFromLeft (keyboardWidth);
    return area;
}

PitchLine::Node PitchEditorComponent::viewToNode (juce::Point<float> p) const
{
    const auto area = getImageArea().toFloat();
    const auto x = focus->getVisibleX(), y = focus->getVisibleY();
    const auto fx = area.getWidth() > 0.0f ? (p.x - area.getX()) / area.getWidth() : 0.0f;
    const auto fy = area.getHeight() > 0.0f ? (p.y - area.getY()) / area.getHeight() : 0.0f;
    return { (float) (x.getStart() + fx * x.getLength()), (float) (y.getStart() + fy * y.getLength()) };
}

juce::Point<float> PitchEditorComponent::nodeToView (PitchLine::Node n) const
{
    const auto area = getImageArea().toFloat();
    const auto x = focus->getVisibleX(), y = focus->getVisibleY();
    const auto fx = x.getLength() > 0.0 ? (n.x - x.getStart()) / x.getLength() : 0.0;
    const auto fy = y.getLength() > 0.0 ? (n.y - y.getStart()) / y.getLength() : 0.0;
    return { area.getX() + (float) fx * area.getWidth(), area.getY() + (float) fy * area.getHeight() };
}

//==============================================================================
void PitchEditorComponent::timerCallback()
{
    if (track == nullptr)
        return;
    // Edits of the track's masks change its pitchogram: the track computes the frames
    // they touched again.
    track->updatePitchogram();
    auto view = track->getPgram().getView();
    const auto colours = SettingsManager::getInstance().getPitchEditorColours();
    if (view != shownView || ! sameColours (colours, pictureColours))
    {
        shownView = std::move (view);
        pictureColours = colours;
        picture = {};
        repaint();
    }
}

void PitchEditorComponent::pitchEditsChanged()
{
    rebuildLines();
    repaint();
}

void PitchEditorComponent::rebuildLines()
{
    linePaths.clear();
    if (track == nullptr)
        return;
    for (const auto& line : track->getPgram().getPitchLines())
    {
        juce::Path path;
        const auto& nodes = line->getNodePositions();
        path.startNewSubPath (nodeToView (nodes.front()));
        for (size_t i = 1; i < nodes.size(); ++i)
            path.lineTo (nodeToView (nodes[i]));
        linePaths.push_back (std::move (path));
    }
}

void PitchEditorComponent::rebuildPicture()
{
    const auto area = getImageArea();
    if (shownView == nullptr || area.isEmpty())
        return;
    pictureFocus = focus->getRect();

    SpectrogramSettings settings;
    settings.startHue = pictureColours.startHue;
    settings.endHue = pictureColours.endHue;
    settings.brightness = pictureColours.brightness;
    settings.contrast = pictureColours.contrast;
    settings.dynamicRange = (int) pictureRangeDb;
    const auto mapping = ColourMapping::fromSettings (settings, PitchogramView::levelToDb (shownView->getLoudest()));
    for (int level = 0; level < 256; ++level)
        palette[(size_t) level] = mapping.colourOf (level == 0 ? -1000.0f : PitchogramView::levelToDb ((juce::uint8) level));

    const auto w = area.getWidth(), h = area.getHeight();
    picture = juce::Image (juce::Image::RGB, w, h, false);
    const auto columns = shownView->getNumColumns();
    std::vector<int> rowOf ((size_t) h);
    const auto visibleY = focus->getVisibleY();
    for (int py = 0; py < h; ++py)
    {
        const auto y = (float) (visibleY.getStart() + (py + 0.5) / h * visibleY.getLength());
        rowOf[(size_t) py] = juce::jlimit (0, PitchogramView::numRows - 1,
                                           (int) std::lround (PitchogramView::midiToRow (PitchLine::yToMidi (y))));
    }
    const auto visibleX = focus->getVisibleX();
    const juce::Image::BitmapData bits (picture, juce::Image::BitmapData::writeOnly);
    std::vector<juce::uint8> levels ((size_t) h);
    for (int px = 0; px < w; ++px)
    {
        const auto from = PitchLine::xToFrame ((float) (visibleX.getStart() + (double) px / w * visibleX.getLength()), columns);
        const auto to = std::max (
            from + 1, PitchLine::xToFrame ((float) (visibleX.getStart() + (px + 1.0) / w * visibleX.getLength()), columns));
        const auto step = std::max (1, (to - from) / largestColumnsPerPixel);
        std::fill (levels.begin(), levels.end(), juce::uint8 { 0 });
        for (int c = from; c < std::min (to, columns); c += step)
        {
            const auto* column = shownView->getColumn (c);
            for (int py = 0; py < h; ++py)
                levels[(size_t) py] = std::max (levels[(size_t) py], column[rowOf[(size_t) py]]);
        }
        for (int py = 0; py < h; ++py)
        {
            const auto& p = palette[levels[(size_t) py]];
            bits.setPixelColour (px, py, juce::Colour (p.r, p.g, p.b));
        }
    }
}

juce::Colour PitchEditorComponent::getLoudestColour() const
{
    const auto& p = palette[shownView != nullptr ? shownView->getLoudest() : 0];
    return { p.r, p.g, p.b };
}

//==============================================================================
void PitchEditorComponent::resized()
{
    auto bar = getLocalBounds().removeFromTop (toolBarHeight).reduced (2);
    for (auto& b : toolButtons)
        b.setBounds (bar.removeFromLeft (118).reduced (1, 0));
    pitchPreview.setBounds (bar.removeFromRight (120));
    interval.setBounds (bar.removeFromRight (96));
    intervalLabel.setBounds (bar.removeFromRight (130));
    picture = {};
    rebuildLines();
}

void PitchEditorComponent::paintKeyboard (juce::Graphics& g, juce::Rectangle<int> area) const
{
    g.setColour (juce::Colours::white);
    g.fillRect (area);
    const auto visibleY = focus->getVisibleY();
    const auto top = (int) std::ceil (PitchLine::yToMidi ((float) visibleY.getStart()));
    const auto bottom = (int) std::floor (PitchLine::yToMidi ((float) visibleY.getEnd()));
    const auto semitonePixels = (float) area.getHeight() / (float) (visibleY.getLength() * 79.0);
    g.setFont (juce::jlimit (8.0f, 12.0f, semitonePixels * 1.6f));
    for (int midi = std::max (PitchogramView::lowestMidi, bottom); midi <= std::min (PitchogramView::highestMidi, top); ++midi)
    {
        const auto y0 = nodeToView ({ 0.0f, PitchLine::midiToY ((float) midi + 0.5f) }).y;
        const auto y1 = nodeToView ({ 0.0f, PitchLine::midiToY ((float) midi - 0.5f) }).y;
        const juce::Rectangle<float> key ((float) area.getX(), y0, (float) area.getWidth(), y1 - y0);
        if (isBlackKey (midi))
        {
            g.setColour (juce::Colours::black);
            g.fillRect (key.withWidth (key.getWidth() * 0.62f));
        }
        else if (midi % 12 == 0 || midi % 12 == 5)
        {
            g.setColour (juce::Colours::grey);
            g.drawHorizontalLine ((int) y1, (float) area.getX(), (float) area.getRight());
        }
        if (midi % 12 == 0 && semitonePixels >= 4.5f)
        {
            g.setColour (juce::Colours::black);
            g.drawText ("C" + juce::String (midi / 12 - 1), key.toNearestInt(), juce::Justification::centredRight);
        }
    }
    g.setColour (juce::Colours::grey);
    g.drawVerticalLine (area.getRight() - 1, (float) area.getY(), (float) area.getBottom());
}

void PitchEditorComponent::paint (juce::Graphics& g)
{
    g.fillAll (KalderLookAndFeel::Palette::background);
    const auto area = getImageArea();
    g.reduceClipRegion (getLocalBounds().withTrimmedTop (toolBarHeight));
    paintKeyboard (g, area.withX (0).withWidth (keyboardWidth));
    if (track == nullptr)
        return;

    const auto calculating = shownView == nullptr || (double) track->getTree()[TrackIds::pgramProgress] < 1.0;
    if (shownView == nullptr)
    {
        g.setColour (juce::Colours::white);
        g.drawText (calculating ? calculatingText : "", area, juce::Justification::centred);
        return;
    }
    if (! picture.isValid() || ! (pictureFocus == focus->getRect()) || picture.getWidth() != area.getWidth()
        || picture.getHeight() != area.getHeight())
        rebuildPicture();
    g.drawImageAt (picture, area.getX(), area.getY());
    g.saveState();
    g.reduceClipRegion (area);

    // the lines, and the stroke being drawn
    g.setColour (juce::Colours::white);
    for (const auto& path : linePaths)
    {
        g.setColour (juce::Colours::black.withAlpha (0.7f));
        g.strokePath (path, juce::PathStrokeType (4.0f));
        g.setColour (juce::Colours::white);
        g.strokePath (path, juce::PathStrokeType (2.0f));
    }
    if (edits != nullptr && edits->getOpenStroke().size() > 1)
    {
        juce::Path stroke;
        const auto& points = edits->getOpenStroke();
        stroke.startNewSubPath (nodeToView (points.front()));
        for (size_t i = 1; i < points.size(); ++i)
            stroke.lineTo (nodeToView (points[i]));
        g.setColour (juce::Colours::yellow);
        g.strokePath (stroke, juce::PathStrokeType (2.0f));
    }
    if (dragFrom && dragTo)
    {
        const auto r = draggedRectangle();
        g.setColour (juce::Colours::white.withAlpha (0.15f));
        g.fillRect (r);
        g.setColour (juce::Colours::white);
        g.drawRect (r, 1.0f);
    }
    if (playhead >= 0.0)
    {
        const auto x = nodeToView ({ (float) playhead, 0.0f }).x;
        g.setColour (juce::Colours::white.withAlpha (0.8f));
        g.drawVerticalLine ((int) x, (float) area.getY(), (float) area.getBottom());
    }
    if (calculating)
    {
        g.setColour (juce::Colours::white);
        g.drawText (calculatingText, area.withHeight (24), juce::Justification::centred);
    }
    g.restoreState();
}

//==============================================================================
juce::Rectangle<float> PitchEditorComponent::draggedRectangle() const
{
    if (! dragFrom || ! dragTo)
        return {};
    return juce::Rectangle<float> (*dragFrom, *dragTo).getIntersection (getImageArea().toFloat());
}

void PitchEditorComponent::preview (float midi)
{
    if (onPreviewPitch)
        onPreviewPitch (midi);
}

void PitchEditorComponent::mouseDown (const juce::MouseEvent& e)
{
    if (edits == nullptr || ! e.mods.isLeftButtonDown() || ! getImageArea().contains (e.getPosition()))
        return;
    if (activeTool == Tool::freeDraw)
    {
        drawing = true;
        const auto node = viewToNode (e.position);
        edits->lineTo (node);
        preview (PitchLine::yToMidi (node.y));
    }
    else
    {
        dragFrom = dragTo = e.position;
    }
    repaint();
}

void PitchEditorComponent::mouseDrag (const juce::MouseEvent& e)
{
    if (edits == nullptr)
        return;
    if (drawing)
    {
        const auto node = viewToNode (e.position);
        edits->lineTo (node);
        preview (PitchLine::yToMidi (juce::jlimit (0.0f, 1.0f, node.y)));
        repaint();
    }
    else if (dragFrom)
    {
        dragTo = e.position;
        repaint();
    }
}

void PitchEditorComponent::mouseUp (const juce::MouseEvent& e)
{
    if (edits == nullptr)
        return;
    if (drawing)
    {
        drawing = false;
        preview (-1.0f);
        edits->commitCurrentEdit();
        repaint();
        return;
    }
    if (! dragFrom)
        return;
    dragTo = e.position;
    const auto r = draggedRectangle();
    dragFrom = dragTo = std::nullopt;
    repaint();
    if (r.isEmpty() && activeTool != Tool::tracker)
        return;
    const auto a = viewToNode (r.getTopLeft()), b = viewToNode (r.getBottomRight());
    const juce::Range<float> x (juce::jlimit (0.0f, 1.0f, a.x), juce::jlimit (0.0f, 1.0f, b.x));
    const juce::Range<float> y (juce::jlimit (0.0f, 1.0f, a.y), juce::jlimit (0.0f, 1.0f, b.y));
    switch (activeTool)
    {
        case Tool::rangeShift:
            edits->shiftNodesWithinRectangle (x, y, e.mods.isCommandDown() ? (float) shiftInterval : (float) -shiftInterval);
            break;
        case Tool::tracker:
            edits->findMelodyWithinRectangle (x, y);
            break;
        case Tool::silencer:
            edits->eraseNodesWithinRectangle (x, y);
            break;
        case Tool::freeDraw:
            break;
    }
}

void PitchEditorComponent::mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    // as the spectral editor: Command zooms around the mouse, Shift scrolls in time
    constexpr double wheelZoomRate = 0.3;
    const auto area = getImageArea();
    if (area.isEmpty() || ! std::isfinite (wheel.deltaX) || ! std::isfinite (wheel.deltaY))
        return;
    if (e.mods.isCommandDown())
    {
        const auto p = viewToNode (e.position);
        focus->zoomAroundPoint ({ p.x, p.y }, -area.getWidth() * wheel.deltaY * wheelZoomRate,
                                -area.getHeight() * wheel.deltaY * wheelZoomRate);
    }
    else if (e.mods.isShiftDown())
        focus->scrollBy (wheel.deltaY, 0.0);
    else
        focus->scrollBy (-wheel.deltaX, -wheel.deltaY);
    focusAreaChanged (focus.get());
}

} // namespace kalder
