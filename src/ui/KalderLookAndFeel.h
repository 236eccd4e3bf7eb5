#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

/**
    The application's dark look: a charcoal background, light text and one accent
    colour for what is active (playing, soloed, the waveform).

    Ownership: one instance, owned by the application object and installed as the
    default look-and-feel for the whole run.

    Threading: message thread only, like every look-and-feel.
*/
class KalderLookAndFeel : public juce::LookAndFeel_V4
{
public:
    /** The colours the panels share; components take them from here. */
    struct Palette
    {
        static inline const juce::Colour background { 0xff1b1d21 };
        static inline const juce::Colour panel { 0xff25282e };
        static inline const juce::Colour outline { 0xff3a3e46 };
        static inline const juce::Colour text { 0xffe6e8eb };
        static inline const juce::Colour dimText { 0xff9aa0a8 };
        static inline const juce::Colour accent { 0xff3fb5a8 };
        static inline const juce::Colour warning { 0xffe0a040 };
        static inline const juce::Colour playhead { 0xfff2f2f2 };
    };

    KalderLookAndFeel();

    /** Lets Tab reach a control (and a screen reader name it) while a click on it leaves
        the keyboard where it was: Space and the other command keys keep working after
        the mouse moved a fader or pressed a button. */
    static void focusableByTabOnly (juce::Component& control)
    {
        control.setWantsKeyboardFocus (true);
        control.setMouseClickGrabsKeyboardFocus (false);
    }

    void drawButtonBackground (juce::Graphics&, juce::Button&, const juce::Colour& backgroundColour,
                               bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;
};

} // namespace kalder
