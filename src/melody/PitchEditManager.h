#pragma once

#include "Pgram.h"
#include "editing/CustomUndoManager.h"

#include <juce_data_structures/juce_data_structures.h>

namespace kalder
{

/**
    One edit of a track's pitch lines: the lines it took out of the Pgram and the lines
    it put in their place. Lines never change, so undo and redo swap whole lines and
    never rebuild nodes.
*/
class PitchEditAction : public juce::UndoableAction
{
public:
    PitchEditAction (Pgram& pgram, Pgram::Lines previous, Pgram::Lines next);

    bool perform() override;
    bool undo() override;
    int getSizeInUnits() override;

    const Pgram::Lines& getPreviousLines() const noexcept { return previous; }
    const Pgram::Lines& getNextLines() const noexcept { return next; }

private:
    static void swap (Pgram& pgram, const Pgram::Lines& out, const Pgram::Lines& in);

    Pgram& pgram;
    Pgram::Lines previous, next;
};

/**
    The one place through which the melody tools change a track's pitch lines. Every
    change is a named PitchEditAction on the track's own history (the one its spectral
    edits use), so undo takes the user's edits back in the order made, whichever editor
    made them.

    Drawing: a drawn stroke replaces what other lines held over its time span; the parts
    of those lines before and after it stay as lines of their own, so at any time at most
    the stroke gives the pitch.

    Threading: message thread.
*/
class PitchEditManager
{
public:
    PitchEditManager (Pgram& pgram, CustomUndoManager& history);

    struct Listener
    {
        virtual ~Listener() = default;
        virtual void pitchEditsChanged() = 0;
    };
    void addListener (Listener* l) { listeners.add (l); }
    void removeListener (Listener* l) { listeners.remove (l); }

    /** Free drawing: extends the open stroke to the point (x, y fractions). */
    void lineTo (PitchLine::Node point);
    const std::vector<PitchLine::Node>& getOpenStroke() const noexcept { return stroke; }

    /** Closes the open stroke and enters it as the step "Draw melody". Returns whether
        anything changed (a stroke of one point draws nothing). */
    bool commitCurrentEdit();

    /** Removes every node inside the rectangle (x range, y range), splitting the lines
        it crosses; step "Erase melody". Returns whether anything changed. */
    bool eraseNodesWithinRectangle (juce::Range<float> xRange, juce::Range<float> yRange);

    /** Shifts the nodes inside the rectangle (start <= x < end, y inside the band) by
        semitones, each clamped to the pitch axis; the other nodes of their lines stay.
        Step "Shift line". */
    bool shiftNodesWithinRectangle (juce::Range<float> xRange, juce::Range<float> yRange, float semitones);

    /** Tracks the melody through the pitchogram inside the rectangle and puts it in place
        of what the lines held over the tracked span; step "Local melody tracking".
        False, with nothing changed, without a pitchogram or where no melody is found. */
    bool findMelodyWithinRectangle (juce::Range<float> xRange, juce::Range<float> yRange);

    /** Puts lines in place of all the track's lines as the step name (an imported guide,
        a reset). False, with no step, when there was nothing to change. */
    bool replaceAllLines (const juce::String& name, Pgram::Lines lines);

    void notifyEditsChanged();

private:
    bool enter (const juce::String& name, Pgram::Lines previous, Pgram::Lines next);
    /** The lines covering span, and what is left of them outside it. */
    std::pair<Pgram::Lines, Pgram::Lines> cutOut (juce::Range<float> span) const;

    Pgram& pgram;
    CustomUndoManager& history;
    std::vector<PitchLine::Node> stroke;
    juce::ListenerList<Listener> listeners;
};

} // namespace kalder
