#pragma once

#include <juce_core/juce_core.h>

namespace kalder
{

/**
    The loop editing of the time ruler, apart from its drawing: a press near an edge of
    the shown loop drags that edge, Shift inside it moves the whole loop, anywhere else
    begins a new loop once the mouse has moved 11 pixels. Times are fractions of the
    track; x is in pixels of a ruler showing the range `visible` of the track.

    The loop only changes on release, and a press that hardly moved never changes it: a
    click on the ruler leaves the loop as it was, wherever it lands. A loop never has
    its start after its end, and never leaves [0, 1].

    Threading: message thread (a plain value type).
*/
class LoopRulerGesture
{
public:
    enum class Mode
    {
        none,
        startEdge,
        endEdge,
        move,
        create
    };

    struct Outcome
    {
        enum class Kind
        {
            unchanged,
            set,     // the loop takes `area` and is enabled
            disabled // the gesture left the track: looping off
        } kind = Kind::unchanged;
        juce::Range<float> area;
    };

    static constexpr float grabTolerance = 5.0f;
    static constexpr float createDistance = 11.0f;

    LoopRulerGesture (float rulerWidth, juce::Range<double> visible) : width (rulerWidth), range (visible) {}

    /** A time under a pixel, and the pixel of a time. */
    double timeAt (float x) const noexcept;
    float xOf (double time) const noexcept;

    /** Starts a gesture; edges are grabbed only on a loop that is shown (enabled). */
    void press (float x, bool shift, juce::Range<float> loop, bool loopEnabled);
    void drag (float x);
    Outcome release (float x);

    Mode getMode() const noexcept { return mode; }

    /** The loop as the gesture would leave it (what the ruler draws while dragging). */
    juce::Range<float> getPending() const noexcept { return pending; }
    bool isShowingPending() const noexcept;

private:
    float width;
    juce::Range<double> range;
    Mode mode = Mode::none;
    float pressX = 0.0f, furthest = 0.0f;
    double pressTime = 0.0;
    juce::Range<float> atPress, pending;
};

} // namespace kalder
