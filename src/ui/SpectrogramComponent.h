#pragma once

#include "EditorTools.h"

#include "display/Spectrogram.h"

#include <juce_gui_basics/juce_gui_basics.h>
#include <juce_opengl/juce_opengl.h>

#include <map>

namespace kalder
{

/**
    The spectral editor's view: the part of the active track's spectrogram image that
    the visible area selects (fractions of the whole image: x from the track's start,
    y from the top, the highest frequency), with the selection shaded and the playhead.

    Each 512 x 512 chunk of the image becomes one image of the view when it is made or
    changes (its version), and only the chunks under the view are drawn, scaled to it.
    The view is drawn through JUCE's OpenGL context when one can be made: the chunk
    images become textures and the scaling runs on the graphics card. Where no context
    can be made (KALDER_NO_OPENGL set, or a display without OpenGL) it draws the same
    chunks with the software renderer; isUsingOpenGL() says which.

    Ownership: owned by the main component; the track is shared.

    Threading: message thread; the image's chunks are made on the spectrogram's pool and
    picked up by the view's timer.
*/
class SpectrogramComponent : public juce::Component, private juce::Timer
{
public:
    SpectrogramComponent();
    ~SpectrogramComponent() override;

    /** The track to show (nullptr: none). */
    void setTrack (AudioTrack::Ptr track);
    AudioTrack::Ptr getTrack() const { return spectrogram.getTrack(); }

    /** The visible part of the image, in fractions of it: x from the start, y from the
        top (the highest frequency). Clamped to [0, 1]. */
    void setVisibleArea (juce::Range<double> x, juce::Range<double> yFromTop);
    juce::Range<double> getVisibleX() const noexcept { return visibleX; }
    juce::Range<double> getVisibleY() const noexcept { return visibleY; }

    /** The playhead, as a fraction of the track (negative: none). */
    void setPlayhead (double fraction);

    Spectrogram& getSpectrogram() noexcept { return spectrogram; }
    bool isUsingOpenGL() const noexcept { return openGL != nullptr; }

    /** Image coordinates (column = store frame, row = bin, from the bottom) of a point of
        the view, and back. */
    juce::Point<double> viewToImage (juce::Point<float> p) const;
    juce::Point<float> imageToView (juce::Point<double> image) const;

    /** Makes a tool active: every mouse event goes to it. */
    void setActiveTool (EditorTool::Type type);
    EditorTool& getActiveTool() noexcept { return *tool; }

    void paint (juce::Graphics&) override;
    void paintOverChildren (juce::Graphics&) override;
    void resized() override;
    void mouseMove (const juce::MouseEvent& e) override { tool->mouseMove (*this, e); }
    void mouseDown (const juce::MouseEvent& e) override { tool->mouseDown (*this, e); }
    void mouseDrag (const juce::MouseEvent& e) override { tool->mouseDrag (*this, e); }
    void mouseUp (const juce::MouseEvent& e) override { tool->mouseUp (*this, e); }
    void mouseExit (const juce::MouseEvent& e) override { tool->mouseExit (*this, e); }

    /** With Command the view zooms around the mouse (both axes, at most to 16 image
        columns and rows on screen); with Shift the vertical wheel scrolls in time;
        otherwise the wheel scrolls both ways. The view never leaves the image. */
    void mouseWheelMove (const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel) override;

    /** Zooms by factor (below 1 zooms in) around a point of the view, which stays put. */
    void zoomAroundPoint (juce::Point<float> p, double factorX, double factorY);

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
    void updateVisibleChunks();
    const juce::Image* imageOfChunk (int index, bool shadeSelection);

    Spectrogram spectrogram;
    std::unique_ptr<juce::OpenGLContext> openGL;
    juce::Range<double> visibleX { 0.0, 1.0 }, visibleY { 0.0, 1.0 };
    double playhead = -1.0;
    juce::uint64 shownVersion = 0;
    std::map<int, ShownChunk> shown;
    std::unique_ptr<EditorTool> tool;
    juce::uint64 shownOverlay = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SpectrogramComponent)
};

} // namespace kalder
