#include "JobManager.h"

#include "AccessToken.h"
#include "separation/ParameterCodes.h"
#include "separation/RequestFileReader.h"

namespace kalder::service
{

using separation::ParameterCodes;

namespace
{
    constexpr int idBytes = 16;

    /** The algorithm number a request names is the module number: one algorithm per module,
        the vocal module's automatic and guided variants chosen by its "mode" parameter. */
    std::optional<int> parseAlgorithm (const juce::String& text)
    {
        const auto t = text.trim();
        const auto digits = t.startsWithChar ('-') ? t.substring (1) : t;
        if (digits.isEmpty() || digits.length() > 9 || ! digits.containsOnly ("0123456789"))
            return std::nullopt;
        return t.getIntValue();
    }
} // namespace

JobManager::JobManager (const Settings& s, Engine e)
    : settings (s), engine (std::move (e)), jobsDirectory (s.dataDirectory.getChildFile ("jobs"))
{
    // Folders left by an earlier run belong to jobs nobody can reach any more.
    for (const auto& entry : juce::RangedDirectoryIterator (jobsDirectory, false, "*", juce::File::findDirectories))
        if (isWellFormedId (entry.getFile().getFileName()))
            entry.getFile().deleteRecursively();
    jobsDirectory.createDirectory();

    for (int i = 0; i < juce::jmax (1, settings.workers); ++i)
        workers.emplace_back ([this] { workerLoop(); });
    housekeeper = std::thread ([this] { housekeepingLoop(); });
}

JobManager::~JobManager()
{
    std::map<juce::String, std::shared_ptr<SeparationJob>> remaining;
    {
        const std::lock_guard<std::mutex> guard (lock);
        shuttingDown = true;
        remaining.swap (jobs);
        queue.clear();
    }
    for (auto& [id, job] : remaining)
        job->cancel();

    workAvailable.notify_all();
    housekeepingWake.notify_all();
    for (auto& w : workers)
        w.join();
    housekeeper.join();

    for (auto& [id, job] : remaining)
        removeJobFolder (*job);
}

bool JobManager::isWellFormedId (const juce::String& id)
{
    return id.length() == 2 * idBytes && id.containsOnly ("0123456789abcdef");
}

std::shared_ptr<SeparationJob> JobManager::createJob (separation::ApiPath path, juce::String& error)
{
    const auto id = juce::String (AccessToken::makeRandomHex (idBytes));
    if (! isWellFormedId (id))
    {
        error = "The service could not make a separation id";
        return nullptr;
    }

    auto job = std::make_shared<SeparationJob> (id, jobsDirectory.getChildFile (id), path, settings.clock);
    {
        const std::lock_guard<std::mutex> guard (lock);
        if (shuttingDown)
        {
            error = "The service is shutting down";
            return nullptr;
        }
        if (static_cast<int> (jobs.size()) >= settings.maxJobs)
        {
            error = "The service holds " + juce::String (settings.maxJobs)
                    + " separations already; cancel some or try again when older ones have expired";
            return nullptr;
        }
        jobs[id] = job;
    }

    if (! job->getFolder().createDirectory())
    {
        cancel (id);
        error = "The service could not create the separation's folder";
        return nullptr;
    }
    return job;
}

std::shared_ptr<SeparationJob> JobManager::findJob (const juce::String& id) const
{
    if (! isWellFormedId (id))
        return nullptr;
    const std::lock_guard<std::mutex> guard (lock);
    const auto it = jobs.find (id);
    return it != jobs.end() ? it->second : nullptr;
}

juce::Result JobManager::acceptUpload (SeparationJob& job, juce::int64 bytesReceived)
{
    separation::RequestFileReader::Limits limits;
    limits.maxAudioBytes = settings.maxUploadBytes;

    separation::SeparationRequest request;
    auto result = separation::RequestFileReader::read (job.getRequestFile(), job.getFolder(), request, limits);
    job.getRequestFile().deleteFile(); // the audio now lives in its own file; keep the disk use at one copy

    if (job.shouldStop())
    {
        removeJobFolder (job); // cancelled while the upload was decoded, which may have recreated the folder
        return juce::Result::fail ("The separation was cancelled during the upload");
    }

    if (result.wasOk() && request.algorithm != request.module)
        result = juce::Result::fail ("Invalid request file: the algorithm " + juce::String (request.algorithm)
                                     + " does not belong to the module " + juce::String (request.module));

    if (result.failed())
    {
        job.fail (result.getErrorMessage());
        return result;
    }

    job.setUploaded (request, bytesReceived);
    if (! job.moveState (SeparationJob::State::uploading, SeparationJob::State::uploaded))
    {
        removeJobFolder (job);
        return juce::Result::fail ("The separation was cancelled during the upload");
    }
    return juce::Result::ok();
}

JobManager::StartOutcome JobManager::start (SeparationJob& job, const StartRequest& startRequest, juce::String& error)
{
    using State = SeparationJob::State;

    if (job.getApiPath() != startRequest.path)
    {
        error = job.getApiPath() == separation::ApiPath::legacy
                    ? "This separation was created on the legacy path; start it with api/separation/legacy/start"
                    : "This separation was not created on the legacy path; start it with api/separation/start";
        return StartOutcome::refused;
    }

    const auto state = job.getState();
    if (state == State::awaitingUpload || state == State::uploading)
    {
        error = "The request file has not been uploaded yet";
        return StartOutcome::refused;
    }
    if (state != State::uploaded)
    {
        error = "The separation cannot be started: it is " + SeparationJob::getStateName (state);
        return StartOutcome::refused;
    }

    const auto request = job.getRequest();
    const auto failJob = [&] (const juce::String& message) {
        // A concurrent start may have queued the job meanwhile; an invalid second start
        // must not fail a job that a valid first one started.
        if (! job.failFrom (State::uploaded, message))
        {
            error = "The separation cannot be started: it is " + SeparationJob::getStateName (job.getState());
            return StartOutcome::refused;
        }
        error = message;
        request.audioFile.deleteFile();
        return StartOutcome::jobFailed;
    };

    const auto algorithm = parseAlgorithm (startRequest.algorithm);
    if (! algorithm.has_value())
        return failJob ("\"separationAlgorithm\" must be the decimal text of an integer, not \"" + startRequest.algorithm + "\"");
    if (*algorithm != request.algorithm)
        return failJob ("\"separationAlgorithm\" " + juce::String (*algorithm) + " does not match the request file's algorithm "
                        + juce::String (request.algorithm));

    if (startRequest.fileSize != 0 && startRequest.fileSize != job.getStatus().bytesReceived)
        return failJob ("\"fileSize\" " + juce::String (startRequest.fileSize) + " does not match the "
                        + juce::String (job.getStatus().bytesReceived) + " bytes uploaded");

    // Defaults, then what the request file encodes, then the start request's values.
    auto parameters = ParameterCodes::getDefaults (request.module);
    for (const auto& p : request.parameters)
        parameters.set (p.name, p.value);

    if (! startRequest.parameters.isVoid())
    {
        auto* object = startRequest.parameters.getDynamicObject();
        if (object == nullptr)
            return failJob ("\"separationParameters\" must be an object");

        for (const auto& p : object->getProperties())
        {
            const auto info = ParameterCodes::findByName (request.module, p.name.toString());
            if (! info.has_value())
                return failJob ("The " + ParameterCodes::getModuleName (request.module) + " module has no parameter \""
                                + p.name.toString() + "\"");
            const auto value = ParameterCodes::normaliseValue (*info, p.value);
            if (! value.has_value())
                return failJob ("The value \"" + p.value.toString() + "\" is not accepted for \"" + info->name + "\"");
            parameters.set (info->name, *value);
        }
    }

    SeparationSpec spec;
    spec.module = static_cast<Module> (request.module);
    spec.algorithm = request.algorithm;
    spec.parameters = parameters;
    spec.pitchGuide = request.pitchGuide;
    spec.guideStepSamples = request.guideStepSamples;

    if (spec.module == Module::vocals && parameters["mode"].toString() == "Guided" && spec.pitchGuide.empty())
        return failJob ("A guided vocal separation needs a pitch guide in the request file");

    {
        const std::lock_guard<std::mutex> guard (lock);
        if (static_cast<int> (queue.size()) >= settings.maxQueued)
        {
            error = "The separation queue is full (" + juce::String (settings.maxQueued)
                    + " separations waiting); start this separation again later";
            return StartOutcome::refused;
        }

        job.setSpec (spec);
        if (! job.moveState (State::uploaded, State::queued))
        {
            error = "The separation cannot be started: it is " + SeparationJob::getStateName (job.getState());
            return StartOutcome::refused;
        }

        const auto it = jobs.find (job.getId());
        if (it == jobs.end())
        {
            error = "The separation was removed";
            return StartOutcome::refused;
        }
        queue.push_back (it->second);
    }
    workAvailable.notify_one();
    return StartOutcome::started;
}

bool JobManager::cancel (const juce::String& id)
{
    std::shared_ptr<SeparationJob> job;
    {
        const std::lock_guard<std::mutex> guard (lock);
        const auto it = jobs.find (id);
        if (it == jobs.end())
            return false;
        job = it->second;
        jobs.erase (it);
        queue.erase (std::remove (queue.begin(), queue.end(), job), queue.end());
    }

    // The state is read where it is changed: a worker that takes the job from queued to running
    // in between either wins (and removes the folder itself once the engine stops) or finds it cancelled.
    if (job->cancel() != SeparationJob::State::running)
        removeJobFolder (*job); // a running job's worker removes the folder when the engine has stopped
    return true;
}

int JobManager::removeExpiredJobs()
{
    const auto now = settings.clock->steadyMs();
    std::vector<std::shared_ptr<SeparationJob>> expired;
    {
        const std::lock_guard<std::mutex> guard (lock);
        for (auto it = jobs.begin(); it != jobs.end();)
        {
            const auto state = it->second->getState();
            const auto busy = state == SeparationJob::State::running || state == SeparationJob::State::queued
                              || state == SeparationJob::State::uploading;
            if (! busy && now - it->second->getLastChangeMs() > settings.ttlSeconds * 1000.0)
            {
                expired.push_back (it->second);
                it = jobs.erase (it);
            }
            else
            {
                ++it;
            }
        }
    }

    for (auto& job : expired)
    {
        job->cancel();
        removeJobFolder (*job);
    }
    return static_cast<int> (expired.size());
}

int JobManager::getNumJobs() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return static_cast<int> (jobs.size());
}

int JobManager::getNumQueued() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return static_cast<int> (queue.size());
}

void JobManager::removeJobFolder (const SeparationJob& job) const
{
    const auto folder = job.getFolder();
    if (folder.isAChildOf (jobsDirectory) && isWellFormedId (folder.getFileName()))
        folder.deleteRecursively();
}

void JobManager::workerLoop()
{
    for (;;)
    {
        std::shared_ptr<SeparationJob> job;
        {
            std::unique_lock<std::mutex> guard (lock);
            workAvailable.wait (guard, [this] { return shuttingDown || ! queue.empty(); });
            if (shuttingDown)
                return;
            job = queue.front();
            queue.pop_front();
        }
        runJob (job);
    }
}

void JobManager::runJob (const std::shared_ptr<SeparationJob>& job)
{
    if (! job->moveState (SeparationJob::State::queued, SeparationJob::State::running))
        return; // cancelled while it waited

    job->report (0.0f, "Starting");

    const auto input = job->getRequest().audioFile;
    const auto outputFolder = job->getOutputFolder();
    std::vector<StemFile> stems;
    auto result = juce::Result::fail ("The separation engine failed");

    if (! outputFolder.createDirectory())
    {
        result = juce::Result::fail ("The service could not create the output folder");
    }
    else
    {
        try
        {
            result = engine (job->getSpec(), input, outputFolder, *job, stems);
        }
        catch (const std::exception& e)
        {
            result = juce::Result::fail (juce::String ("The separation engine failed: ") + e.what());
        }
        catch (...)
        {
            result = juce::Result::fail ("The separation engine failed");
        }
    }

    if (job->shouldStop())
    {
        removeJobFolder (*job); // cancelled or expired while running: nobody can reach it any more
        return;
    }

    // Only files the engine wrote into this job's output folder are offered.
    std::vector<StemFile> offered;
    if (result.wasOk())
    {
        for (const auto& stem : stems)
        {
            if (! stem.file.existsAsFile() || ! stem.file.isAChildOf (outputFolder))
            {
                result = juce::Result::fail ("The separation engine reported a stem it did not write: " + stem.name);
                break;
            }
            offered.push_back (stem);
        }
        if (result.wasOk() && offered.empty())
            result = juce::Result::fail ("The separation engine produced no stems");
    }

    input.deleteFile();
    if (result.wasOk())
    {
        job->finish (std::move (offered));
    }
    else
    {
        outputFolder.deleteRecursively();
        job->fail (result.getErrorMessage());
    }
}

void JobManager::housekeepingLoop()
{
    std::unique_lock<std::mutex> guard (lock);
    while (! shuttingDown)
    {
        housekeepingWake.wait_for (guard, std::chrono::seconds (1));
        if (shuttingDown)
            break;
        guard.unlock();
        removeExpiredJobs();
        guard.lock();
    }
}

} // namespace kalder::service
