#pragma once

#include "tracks/Mixer.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <optional>

namespace kalder
{

/**
    The layers panel: the mixer's tracks as a tree, one row each. A track separated,
    frozen or moved from another is shown under it, indented; a row with children has a
    button that collapses them ("collapse"). Each row shows the track's colour, its name,
    volume, pan, solo and mute; while the track's store is being analysed, a bar that
    shows how far the analysis got ("TrackAsigProgress"); while a separation works on
    the track, a bar with its stage, its progress and the time left, and a "Cancel"
    button. The controls write the track's settings (its "TRACK" tree) and follow the
    tree, so a change made elsewhere shows here too.

    A row lays its controls out on one line; when the row is narrow (a small window,
    a large scale factor) the name and the sliders shrink before anything overlaps.
    More rows than fit scroll.

    Clicking a row (outside its sliders and buttons) makes its track the active one, the
    track the editors and the Selection commands work on; the active row is outlined.
    A double click on the name renames the track (AudioTrack::rename(): an empty name
    is refused, a long one cut).

    Dragging a row: dropped on the upper or lower edge of a row of the same parent, the
    track moves before or after it; dropped on the middle of another row, the dragged
    track is to be merged into that one (onMergeRequested; the merge rules decide).
    A drop on the track itself, or anywhere else, changes nothing.

    Each row also shows a small picture of its track's waveform ("thumbnail").

    Each row's controls carry component IDs ("name", "volume", "pan", "solo", "mute",
    "collapse", "thumbnail", "analysis") so that tests and accessibility tools can find them.

    Ownership: owned by the main component; the mixer outlives it. Rows hold their
    tracks while shown.

    Threading: message thread only.
*/
class TrackListComponent : public juce::Component, public juce::DragAndDropContainer, private Mixer::Listener
{
public:
    /** Pixels: a row's height and the indentation of each generation. */
    static constexpr int rowHeight = 40, indentWidth = 16;

    explicit TrackListComponent (Mixer& mixer);
    ~TrackListComponent() override;

    /** Rebuilds the rows from the mixer's track list. */
    void refresh();

    /** The rows shown (collapsed children are not). */
    int getNumRows() const noexcept { return rows.size(); }
    juce::Component* getRow (int index) const noexcept;
    AudioTrack* getTrackOfRow (int index) const noexcept;
    /** The row of a track, or -1 while it is not shown. */
    int getRowOfTrack (const AudioTrack* track) const noexcept;
    /** True once the row shows its track's waveform (read off the message thread). */
    bool hasThumbnail (int index) const noexcept;
    /** How deep the row's track sits in the tree (0 for a root). */
    int getDepthOfRow (int index) const noexcept;

    /** Collapses or expands the children of a track. */
    void setCollapsed (const AudioTrack& track, bool shouldCollapse);
    bool isCollapsed (const AudioTrack& track) const noexcept;

    /** Opens the name editor of a track's row (expanding its ancestors first). */
    void startRenaming (const AudioTrack& track);

    /** What a drop at a point of the panel (the panel's own coordinates) would do. */
    struct Drop
    {
        enum class Kind
        {
            nothing,
            moveBefore,
            moveAfter,
            mergeInto
        };
        Kind kind = Kind::nothing;
        AudioTrack::Ptr target;
    };
    Drop getDropAt (const AudioTrack& dragged, juce::Point<int> position) const;

    /** Carries a drop out: moves the track, or asks for the merge. */
    void performDrop (AudioTrack::Ptr dragged, const Drop& drop);

    /** The analysis progress (0 to 1) that the row at index shows, or nothing while
        the row shows none (its track is analysed, or there is no such row). */
    std::optional<double> getShownAnalysisProgress (int index) const;

    /** What the row at index shows of its track's separation ("Separation: uploading
        45%", ...), empty while none runs. */
    juce::String getShownSeparation (int index) const;

    /** Called when the user right-clicks a row (its track is active by then). */
    std::function<void (AudioTrack::Ptr)> onContextMenu;
    /** The tracks the commands for several tracks work on, in the panel's order: the rows
        chosen with Ctrl-click (one more or one less) and Shift-click (the rows from the
        last plain click), else the active track alone. */
    juce::ReferenceCountedArray<AudioTrack> getSelectedTracks() const;
    std::function<void()> onSelectionChanged;

    /** Told when the number of rows changed (a track came, went, or a branch folded): the
        owner may give the panel a height to fit them. */
    std::function<void()> onNumRowsChanged;

    /** Called when the user presses a row's "Cancel" beside its separation. */
    std::function<void (AudioTrack::Ptr)> onCancelSeparation;

    /** Called when the analysis of a shown track fails (the row says so too). */
    std::function<void (AudioTrack::Ptr, const juce::String& reason)> onAnalysisFailed;

    /** Called when the user drops a track onto another one: merge source into target. */
    std::function<void (AudioTrack::Ptr target, AudioTrack::Ptr source)> onMergeRequested;

    void resized() override;
    void paint (juce::Graphics&) override;

private:
    class Row;
    class Rows;

    void trackListChanged() override;
    void clickedRow (AudioTrack::Ptr track, juce::ModifierKeys mods);
    void showSelection();

    Mixer& mixer;
    juce::Viewport viewport;
    std::unique_ptr<Rows> content;

    juce::OwnedArray<Row> rows;
    juce::ReferenceCountedArray<AudioTrack> collapsed;
    juce::ReferenceCountedArray<AudioTrack> selected; // chosen rows (empty: the active track)
    AudioTrack::Ptr anchor;                           // where a Shift-click range starts
    juce::ThreadPool thumbnailPool { 1 };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TrackListComponent)
};

} // namespace kalder
