#include "SeparationThreadPool.h"

#include "SeparationProgressChecker.h"

namespace kalder::separation
{

namespace
{
    struct TrackerSelector : juce::ThreadPool::JobSelector
    {
        explicit TrackerSelector (const SeparationTracker* t) : tracker (t) {}
        bool isJobSuitable (juce::ThreadPoolJob* job) override
        {
            auto* checker = dynamic_cast<SeparationProgressChecker*> (job);
            return checker != nullptr && (tracker == nullptr || checker->getTracker().get() == tracker);
        }
        const SeparationTracker* tracker;
    };
} // namespace

SeparationThreadPool::SeparationThreadPool() : juce::ThreadPool (1)
{
    startTimer (1000);
}

SeparationThreadPool::~SeparationThreadPool()
{
    stopTimer();
    cancelAll (10000);
}

void SeparationThreadPool::addSeparation (juce::ThreadPoolJob* job, SeparationTracker::Ptr tracker)
{
    separations.add (tracker);
    addJob (job, true);
}

juce::ReferenceCountedArray<SeparationTracker> SeparationThreadPool::getSeparations() const
{
    juce::ReferenceCountedArray<SeparationTracker> active;
    for (auto* t : separations)
        if (! t->isDone())
            active.add (t);
    return active;
}

void SeparationThreadPool::cancel (const SeparationTracker::Ptr& tracker)
{
    if (tracker == nullptr || tracker->isDone())
        return;
    const bool wasWaiting = tracker->getStatus() == SeparationTracker::Status::waiting;
    TrackerSelector selector (tracker.get());
    // A waiting job is removed (and deleted) at once; a running one is only told to stop.
    removeAllJobs (true, 0, &selector);
    if (wasWaiting && tracker->getStatus() == SeparationTracker::Status::waiting)
    {
        tracker->removeFiles();
        tracker->setStatus (SeparationTracker::Status::cancelled, "Cancelled");
    }
}

void SeparationThreadPool::cancelAll (int timeoutMs)
{
    for (auto* t : getSeparations())
        if (t->getStatus() == SeparationTracker::Status::waiting)
            cancel (t);
    TrackerSelector all (nullptr);
    removeAllJobs (true, timeoutMs, &all);
}

void SeparationThreadPool::timerCallback()
{
    for (int i = separations.size(); --i >= 0;)
        if (separations.getUnchecked (i)->isDone())
            separations.remove (i);
}

} // namespace kalder::separation
