#pragma once

#include "EditorTools.h"
#include "OpenGLHelper.h"
#include "SelectionOutline.h"

#include "display/FocusArea.h"
#include "display/Spectrogram.h"

#include <juce_gui_basics/juce_gui_basics.h>
#include <juce_opengl/juce_opengl.h>

#include <map>

namespace kalder
{

/**
    The spectral editor's view: the part of the active track's spectrogram image that
    the application's focus area selects (fractions of the whole image: x from the
    track's start, y from the top, the highest frequency), with the selection shaded and
    the playhead. Each track gets back its own view when it is shown again (the focus
    area's state saved under the track's file).

    Each 512 x 512 chunk of the image becomes one image of the view when it is made or
    changes (its version), and only the chunks under the view are drawn, scaled to it,
    at the level that gives the view at least one image column a pixel. New chunks become
    images (or textures) a few at a time, over several frames, so that a whole view of
    them never holds the window for long.
    The view is drawn through JUCE's OpenGL context when one can be made: the chunk
    images become textures and the scaling runs on the graphics card. Where no context
    can be made (KALDER_NO_OPENGL set, or a display without OpenGL) it draws the same
    chunks with the software renderer; isUsingOpenGL() says which.

    Ownership: owned by the main component; the track is shared.

    Threading: message thread; the image's chunks are made on the spectrogram's pool and
    picked up by the view's timer.
*/
class SpectrogramComponent : public juce::Component, public FocusArea::Listener, private juce::OpenGLRenderer, private juce::Timer
{
public:
    SpectrogramComponent();
    ~SpectrogramComponent() override;

    /** The track to show (nullptr: none). */
    void setTrack (AudioTrack::Ptr track);
    AudioTrack::Ptr getTrack() const { return spectrogram.getTrack(); }

    /** The focus area that says what is visible (the view has one of its own until the
        application gives it the shared one). */
    void setFocusArea (FocusArea::Ptr area);
    FocusArea& getFocusArea() noexcept { return *focus; }

    /** Shows a part of the image, in fractions of it: x from the start, y from the top
        (the highest frequency); the focus area keeps it inside the image. */
    void setVisibleArea (juce::Range<double> x, juce::Range<double> yFromTop);
    juce::Range<double> getVisibleX() const noexcept { return focus->getVisibleX(); }
    juce::Range<double> getVisibleY() const noexcept { return focus->getVisibleY(); }

    void focusAreaChanged (FocusArea*) override;

    /** The playhead, as a fraction of the track (negative: none). */
    void setPlayhead (double fraction);

    Spectrogram& getSpectrogram() noexcept { return spectrogram; }

    /** Whether the view is drawn by the graphics card (its shader program runs). */
    bool isUsingOpenGL() const noexcept { return openGL != nullptr && glReady.load(); }
    const OpenGLHelper& getOpenGLHelper() const noexcept { return gl; }
    SelectionOutline& getSelectionOutline() noexcept { return outline; }
    OpenGLHelper& getOpenGLHelper() noexcept { return gl; }
    /** The view's context, or nullptr when it draws in software. */
    juce::OpenGLContext* getOpenGLContext() noexcept { return openGL.get(); }

    /** Told once when the view had to fall back to software drawing, and why. */
    std::function<void (const juce::String&)> onStatus;
    static constexpr const char* softwareDrawingNotice =
        "No OpenGL on this display: the spectrogram is drawn in software (slower).";

    /** Image coordinates (column = store frame, row = bin, from the bottom) of a point of
        the view, and back; and the focus area's fractions of a point of the view. */
    juce::Point<double> viewToImage (juce::Point<float> p) const;
    juce::Point<double> viewToFocusArea (juce::Point<float> p) const;
    juce::Point<float> imageToView (juce::Point<double> image) const;

    /** Makes a tool active: every mouse event goes to it. Each tool is made once and
        keeps its parameters while others are active. */
    void setActiveTool (EditorTool::Type type);
    EditorTool& getActiveTool() noexcept { return *tool; }
    EditorTool& getTool (EditorTool::Type type);

    /** Told of every edit a tool could not make (the main component shows it). */
    std::function<void (const EditResult&)> onResult;
    void reportResult (const EditResult& result)
    {
        if (onResult)
            onResult (result);
    }

    /** The wheel's default: scroll, Shift scrolls in time, Command zooms. */
    void scrollOrZoom (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel);

    /** The cursor for the active tool and these keys (its own image, or the arrow). */
    void updateMouseCursor (const juce::ModifierKeys& mods);

    void paint (juce::Graphics&) override;
    void paintOverChildren (juce::Graphics&) override;
    void resized() override;
    void mouseMove (const juce::MouseEvent& e) override;
    void mouseDown (const juce::MouseEvent& e) override;
    void mouseDrag (const juce::MouseEvent& e) override;
    void mouseUp (const juce::MouseEvent& e) override;
    void mouseEnter (const juce::MouseEvent& e) override;
    void mouseExit (const juce::MouseEvent& e) override;
    void modifierKeysChanged (const juce::ModifierKeys& mods) override { updateMouseCursor (mods); }

    /** Goes to the active tool, whose default (scrollOrZoom) zooms around the mouse
        with Command (by 0.3 x the view's size x the wheel's delta, in pixels; at most to
        16 image columns and rows on screen), scrolls in time with Shift and otherwise
        scrolls both ways. The view never leaves the image. */
    void mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel) override;

    /** Zooms around a point of the view, which stays put: amounts in pixels, negative
        zooms in (see FocusArea). */
    void zoomAroundPoint (juce::Point<float> p, double amountX, double amountY);

    /** Moves the view by fractions of its own size. */
    void scrollBy (double dxViews, double dyViews);

private:
    struct ShownChunk
    {
        juce::uint64 version = 0;
        bool selectionShown = false;
        juce::Image image;
    };

    void timerCallback() override;
    void newOpenGLContextCreated() override;
    void renderOpenGL() override;
    void openGLContextClosing() override;
    void publishFrame();
    void paintPlayhead (juce::Graphics&);
    void fallBackToSoftware();
    void updateVisibleChunks();
    void showWholeOrSavedView();
    /** The chunk's image for software drawing, converted again when it changed and
        conversions are left (else its older image, or nullptr). */
    const juce::Image* imageOfChunk (const Spectrogram::Chunk& chunk, bool shadeSelection, int& conversionsLeft);
    static constexpr int maxConversionsPerPaint = 6;
    bool imagesPending = false;

    Spectrogram spectrogram;
    std::unique_ptr<juce::OpenGLContext> openGL;
    OpenGLHelper gl;
    std::atomic<bool> glReady { false }, glFailed { false };
    std::mutex frameLock; // guards frame, which the OpenGL thread copies, and openGL's use off the message thread
    OpenGLHelper::Frame frame;
    juce::uint32 waitingForOpenGLSince = 0;
    FocusArea::Ptr focus;
    juce::String stateKey; // the shown track's key for the focus area's saved states
    double playhead = -1.0;
    juce::uint64 shownVersion = 0;
    std::map<int, ShownChunk> shown;
    void requestOutline();

    bool toolMayAct() const;

    SelectionOutline outline;
    const Asig* outlineStore = nullptr; // the store and edit generation the outline was asked for
    juce::uint64 outlineEdits = 0, shownOutline = 0;
    FocusArea::Rect outlineFocus;
    juce::Rectangle<int> outlineBounds;
    int outlinePhase = 0, ticks = 0;
    std::map<EditorTool::Type, std::unique_ptr<EditorTool>> tools;
    EditorTool* tool = nullptr;
    std::optional<juce::Point<float>> zoomDragFrom; // a right or middle drag zooms
    juce::uint64 shownOverlay = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SpectrogramComponent)
};

} // namespace kalder
