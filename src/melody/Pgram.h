#pragma once

#include "PitchLine.h"

#include <atomic>
#include <memory>
#include <vector>

namespace kalder
{

class PitchogramView;

/**
    A track's melody: its pitch lines, sorted by start x and then end x, and their
    file (the pitch-edit file inside a project and the melody guide file are the same
    format, written by savePgram and read by readPitchLines).

    File layout (text, one item per line):
        [                 the list
        [                 a line's record
        0.125 0.5         a node: x y, each printed so that it reads back to the same float
        ...
        ]                 end of the record
        ,                 separator before the next record
        ...
        ]                 end of the list

    Threading: every call takes the line array's lock; lines are immutable, so a
    caller may keep and read a line from any thread.
*/
class Pgram
{
public:
    using Lines = std::vector<PitchLine::Ptr>;

    void addLine (PitchLine::Ptr line);
    void removeLine (const PitchLine* line);
    void clear();
    /** Replaces every line at once: a reader never sees a partial set. */
    void setLines (Lines lines);
    Lines getPitchLines() const;
    bool isEmpty() const;
    Lines getLinesCoveringRange (juce::Range<float> xRange) const;

    /** MIDI pitch at x from the first line covering it, or -1 where none does. */
    float getMidiPitchAt (float x) const;

    /** For frames first..last (x = (frame - first) / (last - first)), whether a line covers each. */
    std::vector<bool> getEditedFrames (juce::int64 firstFrame, juce::int64 lastFrame) const;

    static juce::String getSaveFileName (const juce::String& name) { return "pitchEdits-" + name; }

    /** The guide of a separation: for each step of stepSamples from firstSample on (count
        steps), the MIDI pitch at the step's centre, -1 where no line covers it. Sample s
        lies at frame s / hop + 1 (a frame's centre is (frame - 1) hop) of a track of
        numFrames frames. */
    std::vector<float> makeGuide (juce::int64 firstSample, int count, int stepSamples, int hop, int numFrames) const;

    /** Writes the lines to file: into a temporary file beside it, flushed, then moved
        over it, so a failed save (full disk, no permission) leaves the old file whole. */
    juce::Result savePgram (const juce::File& file) const;
    /** What savePgram() writes. */
    juce::String toGuideText() const;

    /** Reads a whole file and checks every record before anything is returned: a file
        that is truncated inside a record, too large, or holds a node that is not a
        number, beyond the track, outside the pitch axis or out of time order fails
        with a message naming the file and the problem, and lines stays untouched. A
        list that ends without its closing "]" after whole records is accepted. */
    static juce::Result readPitchLines (const juce::File& file, Lines& lines);

    static constexpr juce::int64 maxFileBytes = 64 << 20;

    /** Grows with every change of the lines (renderers compare it). */
    juce::uint64 getChangeCount() const noexcept { return changes.load(); }

    /** The pitchogram the melody editor shows and the tracking follows (null until first
        made). */
    void setViewMatrix (std::shared_ptr<const PitchogramView> view);
    std::shared_ptr<const PitchogramView> getView() const;

private:
    static bool comesBefore (const PitchLine& a, const PitchLine& b) noexcept;

    mutable juce::CriticalSection lock;
    Lines lines;
    std::atomic<juce::uint64> changes { 0 };
    std::shared_ptr<const PitchogramView> view;
};

} // namespace kalder
