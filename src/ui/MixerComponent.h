#pragma once

#include "tracks/Mixer.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

/**
    The mixer window's content: a strip for each track, in the layers panel's order,
    and one for the mix. A track's strip shows its colour and name, a pan control, a
    fader in dB, solo and mute, and a peak meter per channel; the mix's strip ("Master
    output") has the master gain and the mix's meters. Strips write the tracks' settings
    and follow their trees (TrackControls), so the layers panel and the mixer always show
    the same values.

    Meters read the peaks the mixer publishes on the message thread for the blocks being
    heard (AudioTrack::getLastPeak(), Mixer::getLastPeak()); nothing here touches the
    audio thread. They are drawn in dB from -60 to 0 and redrawn 30 times a second
    while the window shows.

    Strips keep their width; more than fit scroll sideways. Strip components carry the
    IDs of TrackControls ("volume", "pan", "solo", "mute") plus "name" and "meter"; the
    mix's fader is "masterVolume".

    Threading: message thread only.
*/
class MixerComponent : public juce::Component, private Mixer::Listener, private juce::Timer
{
public:
    static constexpr int stripWidth = 92, meterIntervalMs = 33; // pixels; about 30 Hz

    explicit MixerComponent (Mixer& mixer);
    ~MixerComponent() override;

    /** Strips of tracks (the mix's strip not counted). */
    int getNumStrips() const noexcept;
    juce::Component* getStrip (int index) const noexcept;
    juce::Component& getMasterStrip() noexcept;

    /** The meter levels a strip shows (0 to 1 of full scale, one per channel). */
    std::vector<float> getShownPeaks (int index) const;

    void resized() override;
    void paint (juce::Graphics&) override;

private:
    class Meter;
    class Strip;
    class MasterStrip;

    void trackListChanged() override;
    void timerCallback() override;
    void rebuild();

    Mixer& mixer;
    juce::Viewport viewport;
    juce::Component strips;
    juce::OwnedArray<Strip> trackStrips;
    std::unique_ptr<MasterStrip> master;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MixerComponent)
};

} // namespace kalder
