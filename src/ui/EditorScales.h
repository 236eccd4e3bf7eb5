#pragma once

#include "display/LoopRulerGesture.h"
#include "tracks/Loop.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

/**
    A ruler beside an editor: the visible range of its axis (in the focus area's
    fractions) and the axis' largest value (the track's length in seconds, the highest
    frequency in Hz). A change only triggers an asynchronous re-layout and repaint.

    Threading: message thread.
*/
class Scale : public juce::Component, protected juce::AsyncUpdater
{
public:
    /** Marks are at least this far apart. */
    static constexpr int minimumMarkSpacing = 64;

    void setRange (juce::Range<double> visibleFractions);
    void setMaxValue (double value);
    juce::Range<double> getRange() const noexcept { return range; }
    double getMaxValue() const noexcept { return maxValue; }

    /** The spacing of the marks, in the axis' units, for marks pixels apart. */
    virtual double findClosestStep (int pixels) const = 0;

protected:
    void handleAsyncUpdate() override
    {
        resized();
        repaint();
    }

    juce::Range<double> range { 0.0, 1.0 };
    double maxValue = 0.0;
};

/** The frequency ruler left of the spectral editor: Hz or kHz, the top of the image is
    the highest frequency. */
class FrequencyScale : public Scale
{
public:
    FrequencyScale() { setComponentID ("frequency scale"); }
    double findClosestStep (int pixels) const override;

    /** The pixel of a frequency (may lie outside the ruler). */
    float yOf (double hz) const noexcept;

    void paint (juce::Graphics&) override;
};

/**
    The time ruler above the editors; it also edits the loop: drag on it to make a loop,
    drag an edge to move that edge, Shift-drag inside the loop to move it, double-click
    to turn looping on or off (see LoopRulerGesture).
*/
class TemporalScale : public Scale, public Loop::Updater
{
public:
    TemporalScale() { setComponentID ("time scale"); }
    double findClosestStep (int pixels) const override;

    /** The x pixel of a fraction of the track. */
    float translateRangeToScreenPosition (float fraction) const noexcept;

    void loopHasChanged (Loop*) override { triggerAsyncUpdate(); }

    void paint (juce::Graphics&) override;
    void mouseDown (const juce::MouseEvent&) override;
    void mouseDrag (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;
    void mouseDoubleClick (const juce::MouseEvent&) override;

private:
    std::optional<LoopRulerGesture> gesture;
};

} // namespace kalder
