#pragma once

#include "ServiceClock.h"

#include "engines/SeparationEngine.h"
#include "separation/SeparationRequest.h"

#include <atomic>
#include <mutex>
#include <optional>

namespace kalder::service
{

/**
    One separation at the service: its folder, where it stands, its progress and its
    output files.

    A job moves through awaitingUpload -> uploading -> uploaded -> queued -> running
    -> done, and can end failed or cancelled from any state before done. Moves are
    compare-and-set (moveState), so two requests racing for the same move (two
    uploads, two starts) see exactly one winner.

    The JobManager owns jobs through shared pointers; HTTP handlers and workers keep
    their own pointer while they use a job, so a job removed from the manager stays
    valid for whoever still holds it. The engine reports to the job through
    EngineProgress and polls shouldStop(), which becomes true on cancellation.

    Threading: every member may be called from any thread.
*/
class SeparationJob : public EngineProgress
{
public:
    enum class State
    {
        awaitingUpload,
        uploading,
        uploaded,
        queued,
        running,
        done,
        failed,
        cancelled
    };

    struct Status
    {
        State state = State::awaitingUpload;
        float progress = 0.0f;
        juce::String event, error;
        std::vector<StemFile> outputs;
        juce::int64 bytesReceived = 0;
    };

    SeparationJob (const juce::String& id, const juce::File& folder, separation::ApiPath path,
                   std::shared_ptr<const ServiceClock> clock);

    const juce::String& getId() const noexcept { return id; }
    const juce::File& getFolder() const noexcept { return folder; }
    separation::ApiPath getApiPath() const noexcept { return path; }

    /** The file the upload is written to, inside the job's folder. */
    juce::File getRequestFile() const { return folder.getChildFile ("request.bin"); }
    /** The folder the engine writes the stems to. */
    juce::File getOutputFolder() const { return folder.getChildFile ("output"); }

    Status getStatus() const;
    State getState() const;

    /** Moves from one state to another; false (and no change) when the job is not in from. */
    bool moveState (State from, State to);

    /** Ends the job as failed with a message, unless it already ended. */
    void fail (const juce::String& message);
    /** Ends the job as failed only if it is in state from; false (and no change) otherwise. */
    bool failFrom (State from, const juce::String& message);
    /** Ends a running job as done with its stems. */
    void finish (std::vector<StemFile> stems);
    /** Marks the job cancelled; an engine working on it stops at its next check. Returns the
        state the job was in, read in the same step, so the caller knows whether a worker holds it. */
    State cancel();

    void setUploaded (const separation::SeparationRequest& request, juce::int64 bytes);
    separation::SeparationRequest getRequest() const;

    void setSpec (const SeparationSpec& spec);
    SeparationSpec getSpec() const;

    /** Milliseconds (on the high-resolution clock) of the last change of state. */
    double getLastChangeMs() const;

    /** Whether the job can never change again. */
    static bool isFinal (State s) noexcept { return s == State::done || s == State::failed || s == State::cancelled; }
    static juce::String getStateName (State s);

    // EngineProgress
    void report (float fraction, const juce::String& stage) override;
    bool shouldStop() const override;

private:
    void touch();

    const juce::String id;
    const juce::File folder;
    const separation::ApiPath path;

    mutable std::mutex lock;
    Status status;
    separation::SeparationRequest request;
    SeparationSpec spec;
    std::shared_ptr<const ServiceClock> clock;
    double lastChangeMs = 0.0;
    std::atomic<bool> stopRequested { false };

    JUCE_DECLARE_NON_COPYABLE (SeparationJob)
};

} // namespace kalder::service
