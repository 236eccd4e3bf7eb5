#pragma once

#include "display/FocusArea.h"
#include "tracks/AudioTrack.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <mutex>

namespace kalder
{

/**
    The animated outline of a track's selection over the spectral editor: the edges
    between selected (at least half) and unselected pixels of the view, drawn as dashes
    that swap colours at a few hertz so that they show on any part of the image.

    The outline is found at the view's own resolution (one sample of the selection per
    pixel), on a thread of its own: a newer
    request replaces one that has not started, and the message thread only strokes the
    finished path.

    Threading: request() and paint() on the message thread.
*/
class SelectionOutline
{
public:
    /** What one outline covers: the frames and bins under each view column and row. */
    struct Request
    {
        AudioTrack::Ptr track;
        std::vector<int> frameOfColumn, binOfRow; // -1: outside the image
        FocusArea::Rect focus;                    // the view it was found for
    };

    SelectionOutline();
    ~SelectionOutline();

    /** Computes the outline for a view (an empty request clears it). */
    void request (Request r);
    void clear();

    /** Grows whenever a new outline is ready (the view repaints). */
    juce::uint64 getVersion() const noexcept { return version.load(); }

    /** Strokes the outline on a view of width x height showing focus (the outline is
        moved and scaled there from the view it was found for, until a newer one comes);
        phase (0 or 1) swaps the dashes' colours. */
    void paint (juce::Graphics& g, int phase, FocusArea::Rect focus, int width, int height) const;

    juce::Path getPath() const;
    bool isEmpty() const;

    /** The outline of a grid of cells (row-major, width x height): unit segments merged
        into runs along each row and column boundary. */
    static juce::Path outlineOf (const std::vector<bool>& inside, int width, int height);

private:
    juce::ThreadPool pool { 1 };
    mutable std::mutex lock;
    juce::Path path;
    FocusArea::Rect pathFocus;
    int pathWidth = 0, pathHeight = 0;
    std::atomic<juce::uint64> version { 0 };
};

} // namespace kalder
