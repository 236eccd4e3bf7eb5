#pragma once

#include "signal/Asig.h"

#include <juce_core/juce_core.h>

#include <memory>

namespace kalder
{

/**
    The common base of a track's edit managers: the store they edit and the listeners
    that follow their changes.

    The store is held weakly (the track owns it, through its content): a manager whose
    store has gone edits nothing, and its actions report failure.

    Listeners are called from the last registered to the first; a listener may remove
    itself (or another) while it is being called.

    Threading: listeners, notifications and edits on the message thread. getAsig() may
    be called from any thread; the store it returns stays alive while it is held.
*/
class EditManagerBase
{
public:
    class Listener
    {
    public:
        virtual ~Listener() = default;

        /** A block of the store changed: bins [binStart, binEnd) of frames
            [frameStart, frameEnd). selectionChanged and maskChanged say which layer
            changed (an undone mask change arrives as false, true). Listeners redraw or
            recompute the block either way. */
        virtual void blockChanged (int binStart, int binEnd, int frameStart, int frameEnd, bool selectionChanged,
                                   bool maskChanged)
        {
            juce::ignoreUnused (binStart, binEnd, frameStart, frameEnd, selectionChanged, maskChanged);
        }

        /** Pitch lines changed between two MIDI pitches (the pitch edit manager). */
        virtual void pitchChanged (float lowPitch, float highPitch, bool finished)
        {
            juce::ignoreUnused (lowPitch, highPitch, finished);
        }
    };

    explicit EditManagerBase (std::weak_ptr<Asig> store);
    virtual ~EditManagerBase() = default;

    void addListener (Listener* listener);
    void removeListener (Listener* listener);

    /** Calls blockChanged on every listener with the ranges unpacked. */
    void notifyBlockChanged (juce::Range<int> bins, juce::Range<int> frames, bool selectionChanged, bool maskChanged);

    /** Calls pitchChanged on every listener. */
    void notifyPitchChanged (juce::Range<float> pitches, bool finished);

    /** Registers this manager's listeners with another one, last registered last (a
        track hands its views over to the manager of its next store). */
    void copyListenersTo (EditManagerBase& other) const;

    /** The store, or null once it has gone. */
    std::shared_ptr<Asig> getAsig() const { return store.lock(); }

private:
    template <typename Call>
    void callListeners (Call&& call);

    std::weak_ptr<Asig> store;
    juce::Array<Listener*> listeners;

    JUCE_DECLARE_NON_COPYABLE (EditManagerBase)
};

} // namespace kalder
