#pragma once

#include "appcore/SettingsManager.h"
#include "display/ColourMap.h"
#include "display/FocusArea.h"
#include "melody/PitchEditManager.h"
#include "melody/PitchogramHelper.h"
#include "tracks/AudioTrack.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

/**
    The melody editor: the active track's pitchogram under the application's focus area
    (x a fraction of the track, y a fraction of the pitch axis from MIDI 112 at the top
    to MIDI 33 at the bottom), the track's pitch lines over it, a piano keyboard on its
    left and a bar with its four tools above it:

    - "Free Draw Pitch": drag to draw a line (it replaces what other lines held under
      it); the pitch under the pen sounds while drawing and while the mouse moves;
    - "Range Shift": drag a rectangle; the nodes inside move by "Interval (semitones)",
      down, or up with Command (Ctrl) held;
    - "Pitch Tracker": drag a rectangle; the melody inside it is tracked;
    - "Silencer": drag a rectangle; the nodes inside are erased.

    The picture is drawn from the track's pitchogram with the "pitchEditor" colour
    settings; until there is one the editor says "Calculating pitch data". Each track
    keeps its own view (the focus area's state under the same key as its spectral view,
    so switching a track between the editors keeps what is shown). The wheel scrolls,
    with Shift in time, and zooms with Command; right and middle drags do nothing.

    Ownership: owned by the main component; the track and focus area are shared.

    Threading: message thread; the pitchogram is made on the track's pool and picked up
    by the editor's timer.
*/
class PitchEditorComponent :
    public juce::Component,
    public FocusArea::Listener,
    private PitchEditManager::Listener,
    private juce::Timer
{
public:
    enum class Tool
    {
        freeDraw,
        rangeShift,
        tracker,
        silencer
    };

    static constexpr int keyboardWidth = 44, toolBarHeight = 28;
    static constexpr const char* calculatingText = "Calculating pitch data";

    PitchEditorComponent();
    ~PitchEditorComponent() override;

    void setTrack (AudioTrack::Ptr track);
    AudioTrack::Ptr getTrack() const { return track; }

    void setFocusArea (FocusArea::Ptr area);
    FocusArea& getFocusArea() noexcept { return *focus; }

    /** The playhead, as a fraction of the track (negative: none). */
    void setPlayhead (double fraction);

    void setActiveTool (Tool tool);
    Tool getActiveTool() const noexcept { return activeTool; }
    static juce::String getToolName (Tool tool);

    /** The range shift's interval, 1 to 24 semitones (12 unless changed). */
    void setShiftInterval (int semitones);
    int getShiftInterval() const noexcept { return shiftInterval; }

    /** Told the MIDI pitch under the pen while drawing (-1 when the pen lifts): the
        application plays a tone at it. */
    std::function<void (float midi)> onPreviewPitch;

    /** The area of the picture (right of the keyboard, below the tool bar). */
    juce::Rectangle<int> getImageArea() const;
    /** The track's (x, y) fractions under a point of the editor, and back. */
    PitchLine::Node viewToNode (juce::Point<float> p) const;
    juce::Point<float> nodeToView (PitchLine::Node n) const;

    /** Whether the pitchogram is shown (else "Calculating pitch data"). */
    bool isShowingPicture() const noexcept { return shownView != nullptr; }
    /** The colour of the pitchogram's loudest level. */
    juce::Colour getLoudestColour() const;
    /** The lines drawn, as the editor last took them from the track. */
    int getNumDrawnLines() const noexcept { return (int) linePaths.size(); }

    void focusAreaChanged (FocusArea*) override;
    void paint (juce::Graphics&) override;
    void resized() override;
    void mouseDown (const juce::MouseEvent&) override;
    void mouseDrag (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;
    void mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) override;

private:
    void pitchEditsChanged() override;
    void timerCallback() override;
    void rebuildLines();
    void rebuildPicture();
    void updateCursor();
    void preview (float midi);
    juce::Rectangle<float> draggedRectangle() const;
    void paintKeyboard (juce::Graphics&, juce::Rectangle<int> area) const;

    AudioTrack::Ptr track;
    PitchEditManager* edits = nullptr;
    FocusArea::Ptr focus;
    juce::String stateKey;
    double playhead = -1.0;

    Tool activeTool = Tool::freeDraw;
    int shiftInterval = 12;
    juce::TextButton toolButtons[4];
    juce::Label intervalLabel { {}, "Interval (semitones)" };
    juce::Slider interval { juce::Slider::IncDecButtons, juce::Slider::TextBoxLeft };
    juce::ToggleButton pitchPreview { "Pitch Preview" };

    std::shared_ptr<const PitchogramView> shownView;
    juce::Image picture;
    FocusArea::Rect pictureFocus;
    SettingsManager::Colours pictureColours;
    std::array<Pixel, 256> palette {};

    std::vector<juce::Path> linePaths;
    std::optional<juce::Point<float>> dragFrom, dragTo;
    bool drawing = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PitchEditorComponent)
};

} // namespace kalder
