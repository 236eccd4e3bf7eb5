#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <memory>

namespace kalder::service
{

/**
    The service's time: a job's age in steady milliseconds, a signed URL's expiry in
    seconds of the wall clock. The real clock unless a test gives one it moves on by
    hand (advance()), so that lifetimes are tested without waiting them out.

    Threading: any thread.
*/
class ServiceClock
{
public:
    double steadyMs() const noexcept { return juce::Time::getMillisecondCounterHiRes() + offsetMs.load(); }
    juce::int64 wallSeconds() const noexcept { return (juce::Time::currentTimeMillis() + (juce::int64) offsetMs.load()) / 1000; }

    /** Moves this clock on (tests). */
    void advance (double ms) noexcept { offsetMs = offsetMs.load() + ms; }

    /** The clock of a service no test moves. */
    static std::shared_ptr<ServiceClock> real() { return std::make_shared<ServiceClock>(); }

private:
    std::atomic<double> offsetMs { 0.0 };
};

} // namespace kalder::service
