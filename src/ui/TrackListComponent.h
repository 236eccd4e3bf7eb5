#pragma once

#include "tracks/Mixer.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <optional>

namespace kalder
{

/**
    The list of the mixer's tracks, one row each: colour, name, volume, pan, solo and
    mute, and while the track's store is being analysed, a bar that shows how far the
    analysis got ("TrackAsigProgress"); while a separation works on the track, a bar
    with its stage, its progress and the time left, and a "Cancel" button. The controls write the track's settings (its
    "TRACK" tree) and follow the tree, so a change made elsewhere shows here too.

    A row lays its controls out on one line; when the row is narrow (a small window,
    a large scale factor) the name and the sliders shrink before anything overlaps.

    Clicking a row (outside its sliders and buttons) makes its track the active one, the
    track the editors and the Selection commands work on; the active row is outlined.

    Each row's controls carry component IDs ("name", "volume", "pan", "solo", "mute",
    "analysis") so that tests and accessibility tools can find them.

    Ownership: owned by the main component; the mixer outlives it. Rows hold their
    tracks while shown.

    Threading: message thread only.
*/
class TrackListComponent : public juce::Component, private Mixer::Listener
{
public:
    /** Volume is shown in decibels; the bottom of the range mutes. */
    static constexpr double minVolumeDb = -60.0, maxVolumeDb = 6.0;

    explicit TrackListComponent (Mixer& mixer);
    ~TrackListComponent() override;

    /** Rebuilds the rows from the mixer's track list. */
    void refresh();

    int getNumRows() const noexcept { return rows.size(); }
    juce::Component* getRow (int index) const noexcept;

    /** The analysis progress (0 to 1) that the row at index shows, or nothing while
        the row shows none (its track is analysed, or there is no such row). */
    std::optional<double> getShownAnalysisProgress (int index) const;

    /** What the row at index shows of its track's separation ("Separation: uploading
        45%", ...), empty while none runs. */
    juce::String getShownSeparation (int index) const;

    /** Called when the user right-clicks a row (its track is active by then). */
    std::function<void (AudioTrack::Ptr)> onContextMenu;

    /** Called when the user presses a row's "Cancel" beside its separation. */
    std::function<void (AudioTrack::Ptr)> onCancelSeparation;

    /** The gain of a volume slider position in dB (0 at the bottom of the range). */
    static float decibelsToGain (double decibels) noexcept;

    /** Sets the pan of a track from one balance control in [-1, 1]: a mono track moves
        its one channel; a stereo track narrows toward the side it is panned to. */
    static void applyBalance (AudioTrack& track, double balance);

    /** The balance control's position for a track's pan settings. */
    static double getBalance (AudioTrack& track);

    void resized() override;
    void paint (juce::Graphics&) override;

private:
    class Row;

    void trackListChanged() override;

    Mixer& mixer;
    juce::OwnedArray<Row> rows;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TrackListComponent)
};

} // namespace kalder
