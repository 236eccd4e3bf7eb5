#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

/**
    The transport bar: play/pause, stop and loop buttons and the position and length
    of the project.

    It shows state and reports clicks; it owns no playback. The main component
    forwards the clicks to the same operations that the transport commands run, and
    sets the state from the transport on its timer.

    Threading: message thread only.
*/
class TransportComponent : public juce::Component
{
public:
    TransportComponent();

    /** Called when the user clicks a button. */
    std::function<void()> onPlayPause, onStop, onToggleLoop;

    /** Shows the pause symbol while playing, the play symbol otherwise. */
    void setPlaying (bool isPlaying);
    bool isShowingPlaying() const noexcept { return playing; }

    void setLoopEnabled (bool isLooping);

    /** Shows "position / length". */
    void setTimes (double positionSeconds, double lengthSeconds);
    juce::String getTimeText() const { return timeLabel.getText(); }

    /** A short notice on the right of the bar (the status area); empty hides it. */
    void setStatus (const juce::String& text);
    juce::String getStatus() const { return statusLabel.getText(); }

    /** The buttons work only while there is something to play. */
    void setControlsEnabled (bool shouldBeEnabled);

    /** Minutes, seconds and tenths: "1:05.3". Negative times show as 0. */
    static juce::String formatTime (double seconds);

    void resized() override;
    void paint (juce::Graphics&) override;

private:
    void updatePlayShape();

    juce::ShapeButton playButton, stopButton, loopButton;
    juce::Label timeLabel, statusLabel;
    bool playing = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TransportComponent)
};

} // namespace kalder
