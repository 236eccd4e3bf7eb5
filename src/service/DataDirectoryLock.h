#pragma once

#include <juce_core/juce_core.h>

namespace kalder::service
{

/**
    Claims a data folder for one running service. A starting service removes the job
    folders it finds, taking them for leftovers of an earlier run; a second service on
    the same folder would remove the first one's live jobs, so it must not start.

    The claim is an advisory lock on "service.lock" in the folder, which the system
    releases when the process ends, however it ends.

    Threading: create and destroy on one thread.
*/
class DataDirectoryLock
{
public:
    /** Tries to claim the folder; check isHeld(). */
    explicit DataDirectoryLock (const juce::File& dataDirectory);
    ~DataDirectoryLock();

    bool isHeld() const noexcept { return descriptor >= 0; }

private:
    int descriptor = -1;

    JUCE_DECLARE_NON_COPYABLE (DataDirectoryLock)
};

} // namespace kalder::service
