#pragma once

#include "SeparationServiceClient.h"
#include "SeparationTracker.h"

#include <juce_events/juce_events.h>

#include <functional>

namespace kalder::separation
{

/**
    The job that carries one separation through the service ("Separation progress
    update"): it writes the request file (when the tracker has a request writer),
    creates the separation, uploads the request, starts it, follows its progress,
    lists and downloads the output files into the tracker's download folder, and
    hands the tracker back to the message thread, finished, failed or cancelled.

    Rules it keeps:
      - the upload fails when no byte moves for 60 s (a stalled connection);
      - the progress stage gives up when the service reports no change of progress
        or event for stallSeconds, or when pollFailuresAllowed polls in a row fail;
        a progress that goes backwards is held at its highest value;
      - a stop (cancel, quit) ends the stage it is in, tells the service to drop the
        separation and removes what the job wrote; nothing is imported.
    The worker thread writes only its own copies of the values; the tracker's tree is
    written on the message thread, at most about 20 times a second.

    Threading: built on the message thread, run by the SeparationThreadPool; onEnded
    is called on the message thread with the outcome (ok, "Cancelled", or the
    reason of the failure, without the "Impossible to run separation: " prefix).
*/
class SeparationProgressChecker : public juce::ThreadPoolJob
{
public:
    static constexpr int pollIntervalMs = 200;
    static constexpr int stallSeconds = 600;
    static constexpr int pollFailuresAllowed = 10;

    /** Writes the request file on the job's thread; return a failure to end the job. */
    using RequestWriter = std::function<juce::Result (const SeparationServiceClient::StopCheck& stop)>;
    using EndedCallback = std::function<void (SeparationTracker::Ptr, juce::Result)>;
    using EndpointSource = std::function<ServiceEndpoint()>;

    SeparationProgressChecker (SeparationTracker::Ptr tracker, ApiPath path, EndpointSource endpoint, RequestWriter writer,
                               EndedCallback onEnded);
    ~SeparationProgressChecker() override;

    JobStatus runJob() override;

    SeparationTracker::Ptr getTracker() const { return tracker; }

    /** For tests: shortens the progress stage's give-up time. */
    void setStallSeconds (double seconds) noexcept { stallLimitSeconds = seconds; }

private:
    struct Shared;

    juce::Result uploadAndStartSeparation (SeparationServiceClient& client);
    juce::Result updateLocalSeparationProgress (SeparationServiceClient& client);
    juce::Result downloadSeparatedFiles (SeparationServiceClient& client);
    void publish (bool force = false);
    bool stopping() { return shouldExit(); }

    SeparationTracker::Ptr tracker;
    const ApiPath path;
    EndpointSource endpointSource;
    RequestWriter requestWriter;
    EndedCallback onEnded;
    juce::String separationId;
    std::shared_ptr<Shared> shared;
    double lastPublishMs = 0.0;
    double stallLimitSeconds = stallSeconds;

    JUCE_DECLARE_NON_COPYABLE (SeparationProgressChecker)
};

} // namespace kalder::separation
