#include "SeparationJob.h"

namespace kalder::service
{

SeparationJob::SeparationJob (const juce::String& jobId, const juce::File& jobFolder, separation::ApiPath apiPath,
                              std::shared_ptr<const ServiceClock> serviceClock)
    : id (jobId), folder (jobFolder), path (apiPath), clock (std::move (serviceClock)), lastChangeMs (clock->steadyMs())
{}

SeparationJob::Status SeparationJob::getStatus() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return status;
}

SeparationJob::State SeparationJob::getState() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return status.state;
}

void SeparationJob::touch()
{
    lastChangeMs = clock->steadyMs();
}

bool SeparationJob::moveState (State from, State to)
{
    const std::lock_guard<std::mutex> guard (lock);
    if (status.state != from)
        return false;
    status.state = to;
    touch();
    return true;
}

void SeparationJob::fail (const juce::String& message)
{
    const std::lock_guard<std::mutex> guard (lock);
    if (isFinal (status.state))
        return;
    status.state = State::failed;
    status.error = message;
    status.event = "Failed";
    touch();
}

bool SeparationJob::failFrom (State from, const juce::String& message)
{
    const std::lock_guard<std::mutex> guard (lock);
    if (status.state != from)
        return false;
    status.state = State::failed;
    status.error = message;
    status.event = "Failed";
    touch();
    return true;
}

void SeparationJob::finish (std::vector<StemFile> stems)
{
    const std::lock_guard<std::mutex> guard (lock);
    if (status.state != State::running)
        return;
    status.state = State::done;
    status.progress = 1.0f;
    status.event = "Done";
    status.outputs = std::move (stems);
    touch();
}

SeparationJob::State SeparationJob::cancel()
{
    stopRequested = true;
    const std::lock_guard<std::mutex> guard (lock);
    const auto previous = status.state;
    if (status.state != State::done)
    {
        status.state = State::cancelled;
        status.event = "Cancelled";
    }
    touch();
    return previous;
}

void SeparationJob::setUploaded (const separation::SeparationRequest& decoded, juce::int64 bytes)
{
    const std::lock_guard<std::mutex> guard (lock);
    request = decoded;
    status.bytesReceived = bytes;
}

separation::SeparationRequest SeparationJob::getRequest() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return request;
}

void SeparationJob::setSpec (const SeparationSpec& newSpec)
{
    const std::lock_guard<std::mutex> guard (lock);
    spec = newSpec;
}

SeparationSpec SeparationJob::getSpec() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return spec;
}

double SeparationJob::getLastChangeMs() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return lastChangeMs;
}

juce::String SeparationJob::getStateName (State s)
{
    switch (s)
    {
        case State::awaitingUpload:
            return "awaitingUpload";
        case State::uploading:
            return "uploading";
        case State::uploaded:
            return "uploaded";
        case State::queued:
            return "queued";
        case State::running:
            return "running";
        case State::done:
            return "done";
        case State::failed:
            return "failed";
        case State::cancelled:
            return "cancelled";
    }
    return {};
}

void SeparationJob::report (float fraction, const juce::String& stage)
{
    const std::lock_guard<std::mutex> guard (lock);
    if (status.state != State::running)
        return;
    // Engines may report stages out of order; the client shows a value that never goes back.
    if (std::isfinite (fraction))
        status.progress = juce::jlimit (status.progress, 0.999f, fraction);
    status.event = stage;
}

bool SeparationJob::shouldStop() const
{
    return stopRequested.load();
}

} // namespace kalder::service
