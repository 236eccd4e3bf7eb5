#include "NetworkManager.h"

namespace kalder::separation
{

NetworkManager::NetworkManager (LocalSeparationService::Options localOptions)
    : local (std::make_unique<LocalSeparationService> (std::move (localOptions)))
{
    startTimer (1000);
}

NetworkManager::~NetworkManager()
{
    stopTimer();
    pool.cancelAll (10000);
    local->stop();
}

ServiceEndpoint NetworkManager::getEnvironmentEndpoint() const
{
    ServiceEndpoint e;
    e.baseUrl = juce::SystemStats::getEnvironmentVariable ("KALDER_SEPARATION_URL", {});
    if (e.baseUrl.isEmpty())
        return e;
    e.baseUrl = ServiceEndpoint::normalise (e.baseUrl);
    e.token = juce::SystemStats::getEnvironmentVariable ("KALDER_SEPARATION_TOKEN", {});
    if (e.token.isEmpty())
        if (const auto file = juce::SystemStats::getEnvironmentVariable ("KALDER_SEPARATION_TOKEN_FILE", {}); file.isNotEmpty())
            e.token = juce::File (file).loadFileAsString().trim();
    return e;
}

juce::Result NetworkManager::useRemoteService (const ServiceEndpoint& endpoint)
{
    const auto url = ServiceEndpoint::normalise (endpoint.baseUrl);
    if (auto r = ServiceEndpoint::check (url); r.failed())
        return r;
    if (endpoint.token.trim().isEmpty())
        return juce::Result::fail ("Give the access token of the separation service");
    const juce::ScopedLock sl (endpointLock);
    remote = endpoint;
    remote.baseUrl = url;
    remote.token = endpoint.token.trim();
    embeddedChosen = false;
    return juce::Result::ok();
}

void NetworkManager::useEmbeddedService()
{
    const juce::ScopedLock sl (endpointLock);
    embeddedChosen = true;
}

bool NetworkManager::isUsingEmbeddedService() const
{
    const juce::ScopedLock sl (endpointLock);
    return embeddedChosen && getEnvironmentEndpoint().baseUrl.isEmpty();
}

juce::Result NetworkManager::prepareService()
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (const auto env = getEnvironmentEndpoint(); env.baseUrl.isNotEmpty())
    {
        if (auto r = ServiceEndpoint::check (env.baseUrl); r.failed())
            return r;
        const juce::ScopedLock sl (endpointLock);
        current = env;
        return juce::Result::ok();
    }
    if (remoteSource != nullptr)
    {
        if (const auto chosen = remoteSource(); chosen.baseUrl.isNotEmpty())
        {
            if (auto r = useRemoteService (chosen); r.failed())
                return r;
        }
        else
        {
            useEmbeddedService();
        }
    }
    if (! isUsingEmbeddedService())
    {
        const juce::ScopedLock sl (endpointLock);
        current = remote;
        return juce::Result::ok();
    }
    if (! local->isRunning())
        if (auto r = local->start(); r.failed())
            return r;
    const juce::ScopedLock sl (endpointLock);
    current = local->getEndpoint();
    return juce::Result::ok();
}

ServiceEndpoint NetworkManager::getEndpoint() const
{
    const juce::ScopedLock sl (endpointLock);
    return current;
}

juce::Result NetworkManager::separate (SeparationTracker::Ptr tracker, ApiPath path, RequestWriter writer, EndedCallback onEnded)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (tracker == nullptr)
        return juce::Result::fail ("There is nothing to separate");
    int waiting = 0;
    for (auto* t : getSeparations())
        waiting += t->getStatus() == SeparationTracker::Status::waiting ? 1 : 0;
    if (waiting >= maxWaiting)
        return juce::Result::fail ("Too many separations are waiting");
    if (auto r = prepareService(); r.failed())
        return r;
    localDied = false;

    endedCallbacks[tracker.get()] = std::move (onEnded);
    juce::WeakReference<NetworkManager> self (this);
    auto ended = [self] (SeparationTracker::Ptr t, juce::Result result) {
        auto* manager = self.get();
        if (manager == nullptr)
            return;
        auto it = manager->endedCallbacks.find (t.get());
        if (it == manager->endedCallbacks.end())
            return;
        auto callback = std::move (it->second);
        manager->endedCallbacks.erase (it);
        if (result.failed() && manager->localDied && manager->isUsingEmbeddedService())
            result = juce::Result::fail (
                "The local separation service stopped unexpectedly and was started again; please run the "
                "separation again ("
                + result.getErrorMessage() + ")");
        if (callback != nullptr)
            callback (t, result);
    };

    auto* job = new SeparationProgressChecker (
        tracker, path, [self] { return self != nullptr ? self->getEndpoint() : ServiceEndpoint {}; }, std::move (writer), ended);
    job->setStallSeconds (stallSeconds);
    tracker->getContext().lock();
    pool.addSeparation (job, tracker);
    return juce::Result::ok();
}

void NetworkManager::cancel (const SeparationTracker::Ptr& tracker)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (tracker == nullptr)
        return;
    pool.cancel (tracker);
    // A waiting job leaves without running: its owner hears of it here.
    if (tracker->getStatus() == SeparationTracker::Status::cancelled)
        if (auto it = endedCallbacks.find (tracker.get()); it != endedCallbacks.end())
        {
            auto callback = std::move (it->second);
            endedCallbacks.erase (it);
            if (callback != nullptr)
                callback (tracker, juce::Result::fail ("Cancelled"));
        }
}

void NetworkManager::cancelSeparations()
{
    for (auto* t : getSeparations())
        cancel (t);
}

void NetworkManager::timerCallback()
{
    if (! isUsingEmbeddedService() || local->getEndpoint().baseUrl.isEmpty() || local->isRunning())
        return;
    // It died: the running separation fails (its requests go nowhere), the service comes back once.
    localDied = true;
    if (local->restart().wasOk())
    {
        const juce::ScopedLock sl (endpointLock);
        current = local->getEndpoint();
    }
}

} // namespace kalder::separation
