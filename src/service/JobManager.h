#pragma once

#include "SeparationJob.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <thread>

namespace kalder::service
{

/**
    Owns the separation jobs: creates them in their own folders under the data
    folder, checks uploads and start requests, queues started jobs for a fixed pool
    of worker threads that run the separation engine, and removes jobs (with their
    folders) when they are cancelled or their time to live has passed.

    Job folders are <data folder>/jobs/<id>, where the id is 32 random hex digits
    made here; nothing is ever written outside a job's folder, and the folder of a
    running job is removed only once its worker has let go of it.

    Threading: every public member may be called from any thread; the HTTP threads
    call them concurrently. The destructor cancels every job and joins the workers.
*/
class JobManager
{
public:
    /** The function that separates: runSeparation in the service, a controllable stand-in in tests. */
    using Engine = std::function<juce::Result (const SeparationSpec&, const juce::File&, const juce::File&, EngineProgress&,
                                               std::vector<StemFile>&)>;

    struct Settings
    {
        juce::File dataDirectory;
        int workers = 1;
        int maxQueued = 16;             // started jobs waiting for a worker
        int maxJobs = 256;              // jobs held at once, in any state
        int ttlSeconds = 3600;          // a job is removed this long after its last change
        juce::int64 maxUploadBytes = 0; // the largest request file accepted
        std::shared_ptr<const ServiceClock> clock = ServiceClock::real();
    };

    JobManager (const Settings& settings, Engine engine);
    ~JobManager();

    /** A new job awaiting its upload; nullptr with a message when the service holds too many jobs. */
    std::shared_ptr<SeparationJob> createJob (separation::ApiPath path, juce::String& error);

    /** The job with this id, or nullptr for an unknown, removed or malformed id. */
    std::shared_ptr<SeparationJob> findJob (const juce::String& id) const;

    /** Decodes a job's uploaded request file (the job must be uploading); the job
        becomes uploaded, or failed with the decoder's message. */
    juce::Result acceptUpload (SeparationJob& job, juce::int64 bytesReceived);

    /** What a start request asks for. */
    struct StartRequest
    {
        juce::String algorithm;   // decimal text
        juce::var parameters;     // object by internal name, or void
        juce::int64 fileSize = 0; // 0 when the client could not tell
        separation::ApiPath path = separation::ApiPath::current;
    };

    /** Outcome of a start request: ok, a refusal that leaves the job as it was
        (wrong state, full queue), or a refusal that fails the job (invalid request). */
    enum class StartOutcome
    {
        started,
        refused,
        jobFailed
    };

    StartOutcome start (SeparationJob& job, const StartRequest& request, juce::String& error);

    /** Cancels and removes a job; false when there is no such job. */
    bool cancel (const juce::String& id);

    /** Removes jobs whose time to live has passed; returns how many were removed. */
    int removeExpiredJobs();

    int getNumJobs() const;
    int getNumQueued() const;
    juce::File getJobsDirectory() const { return jobsDirectory; }

    /** True for strings that can be job ids (32 lower-case hex digits). */
    static bool isWellFormedId (const juce::String& id);

private:
    void workerLoop();
    void housekeepingLoop();
    void runJob (const std::shared_ptr<SeparationJob>& job);
    void removeJobFolder (const SeparationJob& job) const;

    const Settings settings;
    const Engine engine;
    const juce::File jobsDirectory;

    mutable std::mutex lock;
    std::condition_variable workAvailable, housekeepingWake;
    std::map<juce::String, std::shared_ptr<SeparationJob>> jobs;
    std::deque<std::shared_ptr<SeparationJob>> queue;
    bool shuttingDown = false;

    std::vector<std::thread> workers;
    std::thread housekeeper;

    JUCE_DECLARE_NON_COPYABLE (JobManager)
};

} // namespace kalder::service
