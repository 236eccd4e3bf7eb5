#pragma once

#include "tracks/AudioTrack.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

/**
    The mixing controls of one track, as the layers panel and the mixer window show
    them: volume in dB, pan (one balance control), solo and mute. They write the
    track's settings and follow its "TRACK" tree, so every view of a track stays in
    step with the others and with changes made elsewhere (a project opened, a command).

    The controls carry component IDs ("volume", "pan", "solo", "mute") and accessible
    titles. The owner adds them to its component and lays them out.

    Threading: message thread only.
*/
class TrackControls : private juce::ValueTree::Listener
{
public:
    /** Volume is shown in decibels; the bottom of the range mutes. */
    static constexpr double minVolumeDb = -60.0, maxVolumeDb = 6.0;

    TrackControls (AudioTrack::Ptr track, juce::Slider::SliderStyle volumeStyle, juce::Slider::SliderStyle panStyle);
    ~TrackControls() override;

    /** Adds the four controls to parent, visible and reached by Tab (a click leaves the
        keyboard with the window's commands). */
    void addTo (juce::Component& parent);

    /** Shows the track's settings (without notifying). */
    void update();

    juce::Slider volume, pan;
    juce::TextButton solo, mute;

    /** The gain of a volume slider position in dB (0 at the bottom of the range). */
    static float decibelsToGain (double decibels) noexcept;

    /** Sets the pan of a track from one balance control in [-1, 1]: a mono track moves
        its one channel; a stereo track narrows toward the side it is panned to. */
    static void applyBalance (AudioTrack& track, double balance);

    /** The balance control's position for a track's pan settings. */
    static double getBalance (AudioTrack& track);

private:
    void valueTreePropertyChanged (juce::ValueTree&, const juce::Identifier&) override { update(); }

    AudioTrack::Ptr track;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TrackControls)
};

} // namespace kalder
