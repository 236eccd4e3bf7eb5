#include "BounceJob.h"

namespace kalder
{

namespace
{
    // Cancelling waits for the writer to notice: it checks before every block it
    // writes, many times a second, so this bound is never reached in practice.
    constexpr int cancelTimeoutMs = 20000;
} // namespace

BounceJob::BounceJob (const juce::String& title, const juce::String& status, Work w)
    : juce::ThreadWithProgressWindow (title, true, true, cancelTimeoutMs), work (std::move (w)), progress (new Progress())
{
    setStatusMessage (status);
    progress->addListener (this);
}

BounceJob::~BounceJob()
{
    progress->cancel();
    stopThread (cancelTimeoutMs);
    progress->removeListener (this);
}

void BounceJob::run()
{
    result = work (progress);
}

void BounceJob::progressChanged (float value, Progress::Ptr)
{
    setProgress (value);
    if (threadShouldExit())
        progress->cancel();
}

void BounceJob::threadComplete (bool userPressedCancel)
{
    // Work that was complete when Cancel came has written its file: that is kept.
    cancelled = result.failed() && (userPressedCancel || progress->isCancelled());
    if (onFinished)
        onFinished (*this);
}

} // namespace kalder
