#pragma once

#include "LocalSeparationService.h"
#include "SeparationProgressChecker.h"
#include "SeparationThreadPool.h"

#include <map>
#include <memory>

namespace kalder::separation
{

/**
    The application's way to the separation service: which service (the embedded one,
    a remote one the user gave, or the one KALDER_SEPARATION_URL names), and the
    separations sent to it.

    The service, in this order of precedence:
      1. KALDER_SEPARATION_URL with KALDER_SEPARATION_TOKEN or KALDER_SEPARATION_TOKEN_FILE
         (tests, scripts);
      2. a remote service set with useRemoteService() (the separation settings page):
         HTTPS, or plain HTTP to a loopback address;
      3. the embedded service (LocalSeparationService), started at the first
         separation and stopped with the manager. If it dies, it is restarted once;
         the separation that was running fails and says so.

    Separations run one at a time, in the order they were started; at most
    maxWaiting wait behind the running one.

    Threading: message thread, except getEndpoint() (any thread).
*/
class NetworkManager : private juce::Timer
{
public:
    static constexpr int maxWaiting = 8;

    using EndedCallback = SeparationProgressChecker::EndedCallback;
    using RequestWriter = SeparationProgressChecker::RequestWriter;

    explicit NetworkManager (LocalSeparationService::Options localOptions = {});
    ~NetworkManager() override;

    /** Uses a remote service from now on (refused for a URL that is not allowed). */
    juce::Result useRemoteService (const ServiceEndpoint& endpoint);
    /** Where the user's choice of service is read at each separation (the settings);
        an endpoint with an empty URL means the embedded service. */
    void setRemoteSource (std::function<ServiceEndpoint()> source) { remoteSource = std::move (source); }

    /** Back to the embedded service. */
    void useEmbeddedService();
    bool isUsingEmbeddedService() const;

    /** Makes sure the chosen service can be reached: starts the embedded one when it
        is the one and is not running. */
    juce::Result prepareService();

    ServiceEndpoint getEndpoint() const;

    /** Queues a separation; fails (and starts nothing) without a tracker, when the
        service cannot be prepared, or when maxWaiting separations wait already.
        onEnded is called once on the message thread, however it ends. */
    juce::Result separate (SeparationTracker::Ptr tracker, ApiPath path, RequestWriter writer, EndedCallback onEnded);

    void cancel (const SeparationTracker::Ptr& tracker);
    void cancelSeparations();

    juce::ReferenceCountedArray<SeparationTracker> getSeparations() const { return pool.getSeparations(); }
    bool isSeparationRunning() const { return ! getSeparations().isEmpty(); }

    LocalSeparationService& getLocalService() noexcept { return *local; }

    /** For tests: the stall limit given to new jobs. */
    void setStallSeconds (double seconds) noexcept { stallSeconds = seconds; }

private:
    void timerCallback() override;
    ServiceEndpoint getEnvironmentEndpoint() const;

    std::unique_ptr<LocalSeparationService> local;
    std::function<ServiceEndpoint()> remoteSource;
    mutable juce::CriticalSection endpointLock;
    ServiceEndpoint remote, current;
    bool embeddedChosen = true;
    bool localDied = false;
    double stallSeconds = SeparationProgressChecker::stallSeconds;
    std::map<const SeparationTracker*, EndedCallback> endedCallbacks;
    SeparationThreadPool pool; // last: its jobs are gone before the rest

    JUCE_DECLARE_WEAK_REFERENCEABLE (NetworkManager)
    JUCE_DECLARE_NON_COPYABLE (NetworkManager)
};

} // namespace kalder::separation
