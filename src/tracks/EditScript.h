#pragma once

#include "editing/SelectionUpdate.h"

#include "signal/FrameGeometry.h"

#include <juce_core/juce_core.h>

#include <functional>
#include <vector>

namespace kalder
{

class Mixer;

/**
    A list of spectral edits written as words, run on a project's active track without a
    window: the engine of `kalder-cli edit`, and the way tests drive whole editing
    sessions.

    Steps speak in seconds and hertz; each is converted to the track's store frames and
    bins when it runs (a time t is the frame whose window is centred nearest to it, a
    frequency the nearest bin). A selection step may start with "+" to add to the
    selection or "-" to subtract from it; without, it replaces the selection.

    parse() checks every step before anything runs, so a bad step writes nothing.
    run() stops at the first step that fails and says which: an edit that is refused
    (erase, dim or a move without a selection; a busy track), an undo with nothing to
    undo, a freeze that fails. A selection step that selects nothing (a point outside
    the track) and a freeze of a track without edits change nothing and go on.

    Each step acts on the mixer's active track: after "freeze" that is the frozen track
    (the track it froze stays, muted, as its parent); after "move-to-new-track" it is
    still the track the selection left.

    Threading: message thread. A freeze or a move runs on the mixer's job pool; run()
    pumps the message loop until it has ended.
*/
class EditScript
{
public:
    enum class Kind
    {
        rect,
        wand,
        harmonicWand,
        above,
        below,
        transient,
        erase,
        dim,
        strengthen,
        expand,
        shrink,
        removeForeground,
        removePercussive,
        removeHarmonic,
        deselect,
        selectionVolume,
        flip,
        reset,
        undo,
        redo,
        moveToNewTrack,
        freeze
    };

    struct Step
    {
        Kind kind;
        std::vector<double> args;
        SelectionMode mode = SelectionMode::replace;
        juce::String text; // the step as written, for messages
    };

    /** One line per step: its words and what it does (for --help). */
    static juce::String describeSteps();

    /** Parses words into steps. Fails, naming the step and the reason, on an unknown
        step, a missing or extra argument, a value that is not a finite number, or a
        value out of its range. */
    static juce::Result parse (const juce::StringArray& words, std::vector<Step>& steps);

    /** Runs the steps on the mixer's active track (moves and freezes add tracks to the
        mixer). Fails at the first step that cannot run, naming it. note, when given,
        hears the steps that changed nothing and why. */
    static juce::Result run (Mixer& mixer, const std::vector<Step>& steps,
                             const std::function<void (const juce::String&)>& note = {});

    /** The store frame whose window is centred nearest to second t. */
    static int secondsToFrame (const FrameGeometry& geometry, double sampleRate, double t) noexcept;

    /** The bin nearest to hz. */
    static int hertzToBin (const FrameGeometry& geometry, double sampleRate, double hz) noexcept;
};

} // namespace kalder
