#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace kalder
{

/**
    A scroll bar that also zooms: the thumb is the part of the axis shown (fractions of
    0..1). Drag the thumb to scroll, drag either end of it to show more or less, click
    the track to centre the thumb there, double-click to show the whole axis; the wheel
    and the arrow keys scroll, + and - (keys or the buttons at the bar's end) zoom
    around the middle of what is shown.

    Ownership: owns its two buttons. Threading: message thread.
*/
class ZoomBar : public juce::Component
{
public:
    enum class Orientation
    {
        horizontal,
        vertical
    };

    explicit ZoomBar (Orientation);
    ~ZoomBar() override;

    /** Shows this range (clamped to 0..1 and the minimum length) without telling onMoved. */
    void setShown (juce::Range<double>);
    juce::Range<double> getShown() const noexcept { return shown; }

    /** The smallest part of the axis a drag of an end can show. */
    void setMinimumLength (double);

    /** Told of every range the user asks for (already clamped). */
    std::function<void (juce::Range<double>)> onMoved;
    /** Told of a click on a zoom button or key: true to zoom in. */
    std::function<void (bool in)> onZoom;

    juce::Button& getZoomButton (bool in) noexcept { return in ? zoomIn : zoomOut; }

    /** The thumb in this component's pixels. */
    juce::Rectangle<int> getThumbBounds() const;

    /** Pixels from a thumb's end within which a drag moves that end. */
    static constexpr int endGrip = 6;

    void paint (juce::Graphics&) override;
    void resized() override;
    void mouseMove (const juce::MouseEvent&) override;
    void mouseDown (const juce::MouseEvent&) override;
    void mouseDrag (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;
    void mouseDoubleClick (const juce::MouseEvent&) override;
    void mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) override;
    bool keyPressed (const juce::KeyPress&) override;
    void focusGained (FocusChangeType) override { repaint(); }
    void focusLost (FocusChangeType) override { repaint(); }
    std::unique_ptr<juce::AccessibilityHandler> createAccessibilityHandler() override;

private:
    enum class Part
    {
        none,
        start,
        end,
        thumb,
        track
    };

    bool isVertical() const noexcept { return orientation == Orientation::vertical; }
    juce::Rectangle<int> getTrackBounds() const;
    double along (juce::Point<int>) const; // a position as a fraction of the track
    Part partAt (juce::Point<int>) const;
    void ask (juce::Range<double>);
    juce::Range<double> clamped (juce::Range<double>) const;

    const Orientation orientation;
    juce::ShapeButton zoomOut, zoomIn;
    juce::Range<double> shown { 0.0, 1.0 }, dragStartRange;
    double minimumLength = 1.0e-6, dragStartAlong = 0.0;
    Part dragging = Part::none;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ZoomBar)
};

} // namespace kalder
