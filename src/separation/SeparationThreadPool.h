#pragma once

#include "SeparationTracker.h"

#include <juce_events/juce_events.h>

namespace kalder::separation
{

/**
    The pool that runs the separation jobs, one at a time in the order they were
    started (the others wait in its queue), and the list of the separations it holds.
    Its timer drops the trackers of separations that have ended.

    Threading: message thread, except what juce::ThreadPool allows from any thread.
*/
class SeparationThreadPool : public juce::ThreadPool, private juce::Timer
{
public:
    SeparationThreadPool();
    ~SeparationThreadPool() override;

    /** Adds a job (a SeparationProgressChecker) and lists its tracker. */
    void addSeparation (juce::ThreadPoolJob* job, SeparationTracker::Ptr tracker);

    /** The separations waiting or running, in order. */
    juce::ReferenceCountedArray<SeparationTracker> getSeparations() const;

    /** Stops one separation: a waiting one leaves the queue (and is marked cancelled
        here), a running one is told to stop and ends itself. */
    void cancel (const SeparationTracker::Ptr& tracker);

    /** Stops them all and waits up to timeoutMs for the running one. */
    void cancelAll (int timeoutMs);

private:
    void timerCallback() override;

    juce::ReferenceCountedArray<SeparationTracker> separations;
};

} // namespace kalder::separation
