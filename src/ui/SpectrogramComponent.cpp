#include "SpectrogramComponent.h"
#include "ResourceManager.h"

namespace kalder
{

namespace
{
    constexpr int refreshHz = 30;
    // Unselected pixels while a selection exists, and the playhead.
    constexpr float unselectedBrightness = 0.45f;
    const juce::Colour playheadColour { 0xffffffff };
    const juce::Colour backgroundColour { 0xff000000 };
} // namespace

SpectrogramComponent::SpectrogramComponent() : focus (new FocusArea())
{
    focus->addListener (this);
    setActiveTool (EditorTool::Type::rectangleSelect);
    if (juce::SystemStats::getEnvironmentVariable ("KALDER_NO_OPENGL", {}).isEmpty())
    {
        // The shader draws the image; the component's own painting (playhead, tool
        // overlays) is laid over it, so the component is not opaque.
        openGL = std::make_unique<juce::OpenGLContext>();
        openGL->setRenderer (this);
        openGL->setComponentPaintingEnabled (true);
        openGL->setContinuousRepainting (false);
        openGL->attachTo (*this);
        // A new chunk is drawn at once, not at the view's next tick.
        spectrogram.setPublishedCallback ([this] {
            const std::lock_guard<std::mutex> sl (frameLock);
            if (openGL != nullptr)
                openGL->triggerRepaint();
        });
    }
    else
        fallBackToSoftware();
    startTimerHz (refreshHz);
}

void SpectrogramComponent::newOpenGLContextCreated()
{
    const auto ok = gl.newContext (*openGL);
    // The component painting's shader programs are compiled on their first use, in a
    // frame that holds the window: here they are made off it.
    if (ok)
        OpenGLHelper::warmUpPainting (*openGL, &gl);
    glFailed = ! ok;
    glReady = ok;
}

void SpectrogramComponent::renderOpenGL()
{
    OpenGLHelper::Frame f;
    {
        const std::lock_guard<std::mutex> sl (frameLock);
        f = frame;
    }
    if (! gl.render (*openGL, spectrogram, f))
        glFailed = true;
    else if (gl.hasPendingUploads())
        openGL->triggerRepaint(); // the chunks this frame left for the next
}

void SpectrogramComponent::openGLContextClosing()
{
    gl.release (*openGL);
    glReady = false;
}

void SpectrogramComponent::publishFrame()
{
    const auto track = spectrogram.getTrack();
    auto* asig = track != nullptr ? track->getAsig() : nullptr;
    const std::lock_guard<std::mutex> sl (frameLock);
    frame.focus = focus->getRect();
    frame.viewWidth = getWidth();
    frame.viewHeight = getHeight();
    frame.renderingScale = openGL != nullptr ? openGL->getRenderingScale() : 1.0;
    frame.hasSelection = asig != nullptr && asig->hasSelection();
    frame.selectionVolume = asig != nullptr ? asig->getSelectionVolume() : 0.5f;
}

void SpectrogramComponent::fallBackToSoftware()
{
    if (openGL != nullptr)
    {
        openGL->detach();
        const std::lock_guard<std::mutex> sl (frameLock);
        openGL.reset();
    }
    glReady = false;
    setOpaque (true);
    juce::Component::SafePointer<SpectrogramComponent> safe (this);
    juce::MessageManager::callAsync ([safe] {
        if (safe != nullptr && safe->onStatus)
            safe->onStatus (softwareDrawingNotice);
    });
    repaint();
}

SpectrogramComponent::~SpectrogramComponent()
{
    stopTimer();
    focus->removeListener (this);
    spectrogram.setPublishedCallback (nullptr); // the recache threads no longer reach this view
    if (openGL != nullptr)
        openGL->detach();
}

void SpectrogramComponent::setTrack (AudioTrack::Ptr track)
{
    if (track == spectrogram.getTrack())
        return;
    shown.clear();
    {
        const std::lock_guard<std::mutex> sl (frameLock);
        ++frame.generation; // the textures of the old track go
    }
    stateKey = track != nullptr ? track->getAudioFile().getFullPathName() : juce::String();
    const auto showsTrack = track != nullptr;
    spectrogram.setTrack (std::move (track));
    // Hidden (the track went to the melody editor, say), the shared view stays where it
    // was: the other editor takes it over.
    if (showsTrack)
        showWholeOrSavedView();
}

void SpectrogramComponent::showWholeOrSavedView()
{
    focus->setSpectrogramDimensions (spectrogram.getImageWidth(), spectrogram.getImageHeight());
    // A track shown before gets its view back; a new one opens whole.
    if (stateKey.isEmpty() || ! focus->loadState (stateKey))
    {
        focus->setRect ({});
        focusAreaChanged (focus.get());
    }
}

void SpectrogramComponent::setFocusArea (FocusArea::Ptr area)
{
    if (area == nullptr || area == focus)
        return;
    focus->removeListener (this);
    focus = std::move (area);
    focus->addListener (this);
    showWholeOrSavedView();
}

void SpectrogramComponent::setVisibleArea (juce::Range<double> x, juce::Range<double> yFromTop)
{
    focus->setVisibleRanges (x, yFromTop);
    focusAreaChanged (focus.get()); // at once; the area's other listeners follow on its tick
}

void SpectrogramComponent::focusAreaChanged (FocusArea*)
{
    if (stateKey.isNotEmpty())
        focus->saveCurrentState (stateKey);
    updateVisibleChunks();
    publishFrame();
    repaint();
}

void SpectrogramComponent::setPlayhead (double fraction)
{
    if (fraction != playhead)
    {
        playhead = fraction;
        repaint();
    }
}

void SpectrogramComponent::resized()
{
    updateVisibleChunks();
    publishFrame();
}

void SpectrogramComponent::updateVisibleChunks()
{
    const auto w = spectrogram.getImageWidth(), h = spectrogram.getImageHeight();
    const auto visibleX = getVisibleX(), visibleY = getVisibleY();
    const juce::Range<int> frames ((int) std::floor (visibleX.getStart() * w), (int) std::ceil (visibleX.getEnd() * w));
    // Rows count from the bottom; the visible y range from the top.
    const juce::Range<int> rows ((int) std::floor ((1.0 - visibleY.getEnd()) * h),
                                 (int) std::ceil ((1.0 - visibleY.getStart()) * h));
    spectrogram.setVisibleArea (frames, rows, Spectrogram::levelFor (frames.getLength(), getWidth()));
}

EditorTool& SpectrogramComponent::getTool (EditorTool::Type type)
{
    auto& t = tools[type];
    if (t == nullptr)
        t = EditorTool::create (type);
    return *t;
}

void SpectrogramComponent::setActiveTool (EditorTool::Type type)
{
    if (tool != nullptr && tool->getType() == type)
        return;
    if (tool != nullptr)
        tool->deselect (*this);
    tool = &getTool (type);
    tool->select (*this);
    updateMouseCursor (juce::ModifierKeys::getCurrentModifiers());
    repaint();
}

void SpectrogramComponent::updateMouseCursor (const juce::ModifierKeys& mods)
{
    const auto name = tool->getCursorName (mods);
    setMouseCursor (name.isEmpty()
                        ? juce::MouseCursor::NormalCursor
                        : ResourceManager::getInstance().getCursor (name, getApproximateScaleFactorForComponent (this)));
}

void SpectrogramComponent::mouseMove (const juce::MouseEvent& e)
{
    updateMouseCursor (e.mods);
    tool->mouseMove (*this, e);
}

bool SpectrogramComponent::toolMayAct() const
{
    // While the store is analysed the view moves and zooms; selections and erasing wait.
    const auto type = tool->getType();
    const auto track = spectrogram.getTrack();
    return (track != nullptr && track->isStoreReady()) || type == EditorTool::Type::move || type == EditorTool::Type::zoomIn
           || type == EditorTool::Type::zoomOut;
}

void SpectrogramComponent::mouseDown (const juce::MouseEvent& e)
{
    if (e.mods.isPopupMenu() || e.mods.isMiddleButtonDown())
    {
        zoomDragFrom = e.position; // never reaches the tool: a zoom, not a selection
        return;
    }
    zoomDragFrom.reset();
    if (toolMayAct())
        tool->mouseDown (*this, e);
}

void SpectrogramComponent::mouseDrag (const juce::MouseEvent& e)
{
    if (zoomDragFrom)
    {
        // Right or up zooms in, left or down out, around where the drag began.
        const auto d = e.position - *zoomDragFrom;
        zoomDragFrom = e.position;
        zoomAroundPoint (e.mouseDownPosition, -2.0 * d.x, 2.0 * d.y);
        return;
    }
    if (toolMayAct())
        tool->mouseDrag (*this, e);
}

void SpectrogramComponent::mouseUp (const juce::MouseEvent& e)
{
    if (zoomDragFrom)
    {
        zoomDragFrom.reset();
        return;
    }
    if (toolMayAct())
        tool->mouseUp (*this, e);
}

void SpectrogramComponent::mouseEnter (const juce::MouseEvent& e)
{
    updateMouseCursor (e.mods);
    tool->mouseEnter (*this, e);
}

void SpectrogramComponent::mouseExit (const juce::MouseEvent& e)
{
    tool->mouseExit (*this, e);
}

namespace
{
    constexpr double wheelZoomRate = 0.3; // pixels of zoom per pixel of view and unit of wheel
} // namespace

void SpectrogramComponent::mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    tool->mouseWheelMove (*this, e, wheel);
}

void SpectrogramComponent::scrollOrZoom (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    if (! std::isfinite (wheel.deltaX) || ! std::isfinite (wheel.deltaY))
        return;
    if (e.mods.isCommandDown())
        zoomAroundPoint (e.position, -getWidth() * wheel.deltaY * wheelZoomRate, -getHeight() * wheel.deltaY * wheelZoomRate);
    else if (e.mods.isShiftDown())
        scrollBy (wheel.deltaY, 0.0);
    else
        scrollBy (-wheel.deltaX, -wheel.deltaY);
}

void SpectrogramComponent::zoomAroundPoint (juce::Point<float> p, double amountX, double amountY)
{
    const auto at = viewToFocusArea (p);
    focus->zoomAroundPoint ({ at.x, at.y }, amountX, amountY);
    focusAreaChanged (focus.get());
}

void SpectrogramComponent::scrollBy (double dxViews, double dyViews)
{
    focus->scrollBy (dxViews, dyViews);
    focusAreaChanged (focus.get());
}

void SpectrogramComponent::paintOverChildren (juce::Graphics& g)
{
    outline.paint (g, outlinePhase, focus->getRect(), getWidth(), getHeight());
    tool->paintOverlay (*this, g);
}

void SpectrogramComponent::requestOutline()
{
    auto track = spectrogram.getTrack();
    auto* asig = track != nullptr ? track->getAsig() : nullptr;
    if (asig == nullptr || ! asig->hasSelection() || getWidth() <= 0 || getHeight() <= 0)
        return outline.clear();
    SelectionOutline::Request r;
    const auto iw = spectrogram.getImageWidth(), ih = spectrogram.getImageHeight();
    for (int x = 0; x < getWidth(); ++x)
    {
        const auto f = (int) std::floor (viewToImage ({ x + 0.5f, 0.0f }).x);
        r.frameOfColumn.push_back (f >= 0 && f < iw ? f : -1);
    }
    for (int y = 0; y < getHeight(); ++y)
    {
        const auto b = (int) std::floor (viewToImage ({ 0.0f, y + 0.5f }).y);
        r.binOfRow.push_back (b >= 0 && b < ih ? b : -1);
    }
    r.track = std::move (track);
    r.focus = focus->getRect();
    outline.request (std::move (r));
}

void SpectrogramComponent::timerCallback()
{
    // A context that never came (or whose shader failed) leaves the software drawing.
    constexpr juce::uint32 openGLPatienceMs = 5000;
    if (openGL != nullptr && ! glReady.load())
    {
        const auto now = juce::Time::getMillisecondCounter();
        if (! isShowing())
            waitingForOpenGLSince = 0;
        else if (waitingForOpenGLSince == 0)
            waitingForOpenGLSince = now;
        if (glFailed.load() || (waitingForOpenGLSince != 0 && now - waitingForOpenGLSince > openGLPatienceMs))
            fallBackToSoftware();
    }
    publishFrame();
    // The outline follows the store's edits (the selection's among them) and the view;
    // its dashes swap colours four times a second.
    constexpr int ticksPerPhase = refreshHz / 4;
    const auto track = spectrogram.getTrack();
    auto* store = track != nullptr ? track->getAsig() : nullptr;
    const auto edits = store != nullptr ? store->getEditGeneration() : 0;
    if (store != outlineStore || edits != outlineEdits || ! (focus->getRect() == outlineFocus) || getBounds() != outlineBounds)
    {
        outlineStore = store;
        outlineEdits = edits;
        outlineFocus = focus->getRect();
        outlineBounds = getBounds();
        requestOutline();
    }
    if (++ticks % ticksPerPhase == 0 && ! outline.isEmpty())
    {
        outlinePhase = 1 - outlinePhase;
        repaint();
    }
    if (const auto version = outline.getVersion(); version != shownOutline)
    {
        shownOutline = version;
        repaint();
    }
    if (const auto overlay = tool->getOverlayVersion(); overlay != shownOverlay)
    {
        shownOverlay = overlay;
        repaint();
    }
    spectrogram.scheduleRecache();
    if (const auto version = spectrogram.getImageVersion(); version != shownVersion)
    {
        shownVersion = version;
        // The view's images follow the spectrogram's budget: a chunk it dropped goes here too.
        for (auto it = shown.begin(); it != shown.end();)
            it = spectrogram.getChunk (it->first) == nullptr ? shown.erase (it) : std::next (it);
        repaint();
    }
    else if (imagesPending)
        repaint(); // the chunks the last paint left for this one
}

juce::Point<double> SpectrogramComponent::viewToFocusArea (juce::Point<float> p) const
{
    const auto w = (double) juce::jmax (1, getWidth()), h = (double) juce::jmax (1, getHeight());
    const auto visibleX = getVisibleX(), visibleY = getVisibleY();
    return { visibleX.getStart() + (double) p.x / w * visibleX.getLength(),
             visibleY.getStart() + (double) p.y / h * visibleY.getLength() };
}

juce::Point<double> SpectrogramComponent::viewToImage (juce::Point<float> p) const
{
    const auto f = viewToFocusArea (p);
    return { f.x * spectrogram.getImageWidth(), (1.0 - f.y) * spectrogram.getImageHeight() };
}

juce::Point<float> SpectrogramComponent::imageToView (juce::Point<double> image) const
{
    const auto iw = (double) juce::jmax (1, spectrogram.getImageWidth()),
               ih = (double) juce::jmax (1, spectrogram.getImageHeight());
    const auto fx = image.x / iw, fy = 1.0 - image.y / ih;
    const auto visibleX = getVisibleX(), visibleY = getVisibleY();
    return { (float) ((fx - visibleX.getStart()) / visibleX.getLength() * getWidth()),
             (float) ((fy - visibleY.getStart()) / visibleY.getLength() * getHeight()) };
}

const juce::Image* SpectrogramComponent::imageOfChunk (const Spectrogram::Chunk& chunk, bool shadeSelection, int& conversionsLeft)
{
    auto& entry = shown[chunk.index];
    if (entry.image.isNull() || entry.version != chunk.version || entry.selectionShown != shadeSelection)
    {
        if (conversionsLeft <= 0)
        {
            imagesPending = true;
            return entry.image.isNull() ? nullptr : &entry.image; // the old pixels, until its turn
        }
        --conversionsLeft;
        constexpr int n = Spectrogram::chunkSize;
        if (entry.image.isNull())
            entry.image = juce::Image (juce::Image::RGB, n, n, false);
        const juce::Image::BitmapData data (entry.image, juce::Image::BitmapData::writeOnly);
        for (int row = 0; row < n; ++row)
        {
            auto* line = data.getLinePointer (n - 1 - row); // the chunk's first row is the bottom one
            for (int x = 0; x < n; ++x)
            {
                const auto i = (size_t) (row * n + x);
                auto p = chunk.pixels[i];
                if (shadeSelection)
                {
                    const auto s = chunk.selected[i] / 255.0f;
                    const auto gain = unselectedBrightness + (1.0f - unselectedBrightness) * s;
                    p = { (std::uint8_t) (p.r * gain), (std::uint8_t) (p.g * gain), (std::uint8_t) (p.b * gain) };
                }
                reinterpret_cast<juce::PixelRGB*> (line + x * data.pixelStride)->setARGB (0xff, p.r, p.g, p.b);
            }
        }
        entry.version = chunk.version;
        entry.selectionShown = shadeSelection;
    }
    return &entry.image;
}

void SpectrogramComponent::paint (juce::Graphics& g)
{
    // Under OpenGL the shader has drawn the image already; a snapshot or the software
    // fallback draws it here.
    const bool drawnByShader = isUsingOpenGL()
                               && dynamic_cast<juce::LowLevelGraphicsSoftwareRenderer*> (&g.getInternalContext()) == nullptr;
    if (drawnByShader)
    {
        paintPlayhead (g);
        return;
    }
    g.fillAll (backgroundColour);
    const auto iw = spectrogram.getImageWidth(), ih = spectrogram.getImageHeight();
    if (iw <= 0 || ih <= 0 || getWidth() <= 0 || getHeight() <= 0)
        return;

    const auto track = spectrogram.getTrack();
    const bool shade = track != nullptr && track->getAsig() != nullptr && track->getAsig()->hasSelection();
    g.setImageResamplingQuality (juce::Graphics::lowResamplingQuality);

    // Every chunk under the view, each drawn where its pixels fall. A snapshot (not
    // showing on screen) converts every chunk; the window a few a paint.
    const auto topLeft = viewToImage ({ 0.0f, 0.0f }), bottomRight = viewToImage ({ (float) getWidth(), (float) getHeight() });
    const juce::Range<int> frames ((int) std::floor (topLeft.x), (int) std::ceil (bottomRight.x));
    const juce::Range<int> rows ((int) std::floor (bottomRight.y), (int) std::ceil (topLeft.y));
    constexpr int n = Spectrogram::chunkSize;
    int conversionsLeft = isShowing() && ! isUsingOpenGL() ? maxConversionsPerPaint : std::numeric_limits<int>::max();
    imagesPending = false;
    for (const auto& chunk : spectrogram.getChunksToDraw (frames, rows, Spectrogram::levelFor (frames.getLength(), getWidth())))
    {
        const auto* image = imageOfChunk (*chunk, shade, conversionsLeft);
        if (image == nullptr)
            continue;
        const auto span = spectrogram.framesOf (chunk->index);
        const auto row = spectrogram.rowOf (chunk->index);
        // The chunk's corners in the view: its left edge and its top (the highest row).
        const auto a = imageToView ({ (double) span.getStart(), (double) (row + 1) * n });
        const auto b = imageToView ({ (double) span.getEnd(), (double) row * n });
        g.drawImage (*image, juce::Rectangle<float> (a, b).toFloat(), juce::RectanglePlacement::stretchToFit);
    }

    paintPlayhead (g);
}

void SpectrogramComponent::paintPlayhead (juce::Graphics& g)
{
    const auto iw = spectrogram.getImageWidth();
    if (playhead >= 0.0 && playhead <= 1.0 && iw > 0)
    {
        // Two pixels wide, kept inside the view at both ends.
        const auto x = juce::jlimit (0, juce::jmax (0, getWidth() - 2),
                                     juce::roundToInt (imageToView ({ playhead * iw, 0.0 }).x) - 1);
        g.setColour (playheadColour);
        g.fillRect (x, 0, juce::jmin (2, getWidth()), getHeight());
    }
}

} // namespace kalder
