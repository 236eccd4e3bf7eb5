#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <mutex>

namespace kalder
{

/**
    A reference-counted, hierarchical progress reporter.

    A long operation creates a root reporter and gives each of its stages a child
    covering a part of the root's range; listeners attach to the root and see one
    monotonic value, whichever stage reported it and on whichever thread.

    A root can also be cancelled: every reporter of the tree then answers true to
    isCancelled(), and long operations poll it between steps and stop early.

    Threading: every member may be called from any thread. Listeners run on the
    thread that reported the progress; a listener that touches the user interface
    must post to the message thread itself. Locks are taken from child to root,
    never the other way.
*/
class Progress : public juce::ReferenceCountedObject
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<Progress>;

    /** Receives the root's value whenever any reporter of the tree advances it. */
    class Listener
    {
    public:
        virtual ~Listener() = default;
        virtual void progressChanged (float value, Progress::Ptr source) = 0;
    };

    /** A reporter over range; a null parent makes a root. */
    explicit Progress (juce::Range<float> range = { 0.0f, 1.0f }, Ptr parent = nullptr);

    /** Returns a new child covering the part of this reporter's range between the
        fractions range.getStart() and range.getEnd() (0 = this start, 1 = this end). */
    Ptr addChild (juce::Range<float> range);

    /** Sets the number of steps for advance(); steps already done are kept but
        clamped to the new count. */
    void setNumSteps (int numSteps);

    /** Reports k more steps done (negative counts as 0, never beyond the count). */
    void advance (int k = 1);

    /** Reports a value in root units; values below the current one are ignored. */
    void setProgress (float value);

    /** Sets the value to the end of the range (notifies only when it changes). */
    void finish();

    float getProgress() const noexcept { return current.load(); }
    juce::Range<float> getRange() const noexcept { return range; }

    /** Asks the operation that owns this tree to stop. */
    void cancel() noexcept;

    /** True once cancel() was called on this reporter or on any of its ancestors. */
    bool isCancelled() const noexcept;

    void addListener (Listener* listener);
    void removeListener (Listener* listener);

private:
    std::recursive_mutex lock;
    juce::Array<Listener*> listeners;
    Ptr parent;
    juce::Range<float> range;
    std::atomic<float> current;
    int numSteps = 0;
    int stepsDone = 0;
    std::atomic<bool> cancelled { false };

    JUCE_DECLARE_NON_COPYABLE (Progress)
};

} // namespace kalder
