#include "SeparationProgressChecker.h"

#include <atomic>
#include <mutex>

namespace kalder::separation
{

/** The job's copies of the tracker's values, shared with the messages that publish them. */
struct SeparationProgressChecker::Shared
{
    std::mutex lock;
    juce::int64 bytesUploaded = 0, bytesDownload = 0;
    float uploadProgress = 0.0f, separationProgress = 0.0f, outputFilesProgress = 0.0f;
    juce::String event;
    juce::StringArray newOutputs; // names downloaded since the last publication
    juce::Array<juce::File> newOutputFiles;
    std::atomic<bool> pending { false };

    /** Message thread: the copies into the tracker's tree, each only when it changed. */
    void copyInto (SeparationTracker& t)
    {
        const std::lock_guard<std::mutex> guard (lock);
        pending = false;
        auto& tree = t.getState();
        auto write = [&tree] (auto& cached, const juce::Identifier& id, auto value) {
            if (! tree.hasProperty (id) || cached.get() != value)
                cached = value;
        };
        write (t.bytesUploaded, CommonValueIDs::bytesUploaded, bytesUploaded);
        write (t.uploadProgress, CommonValueIDs::uploadProgress, uploadProgress);
        write (t.separationProgress, CommonValueIDs::separationProgress, separationProgress);
        write (t.bytesDownload, CommonValueIDs::bytesDownload, bytesDownload);
        // Outputs go in before the progress that counts them.
        for (int i = 0; i < newOutputs.size(); ++i)
        {
            t.getOutputFiles().set (newOutputs[i], newOutputFiles[i]);
            t.getOutputOrder().addIfNotAlreadyThere (newOutputs[i]);
        }
        newOutputs.clear();
        newOutputFiles.clear();
        write (t.outputFilesProgress, CommonValueIDs::outputFilesProgress, outputFilesProgress);
        if (t.event.get() != event)
            t.event = event;
    }
};

SeparationProgressChecker::SeparationProgressChecker (SeparationTracker::Ptr t, ApiPath apiPath, EndpointSource endpoint,
                                                      RequestWriter writer, EndedCallback ended)
    : juce::ThreadPoolJob ("Separation progress update"),
      tracker (std::move (t)),
      path (apiPath),
      endpointSource (std::move (endpoint)),
      requestWriter (std::move (writer)),
      onEnded (std::move (ended)),
      shared (std::make_shared<Shared>())
{}

SeparationProgressChecker::~SeparationProgressChecker() = default;

void SeparationProgressChecker::publish (bool force)
{
    const auto now = juce::Time::getMillisecondCounterHiRes();
    if (! force && now - lastPublishMs < 50.0)
        return;
    lastPublishMs = now;
    if (shared->pending.exchange (true) && ! force)
        return;
    juce::MessageManager::callAsync ([s = shared, t = tracker] { s->copyInto (*t); });
}

juce::ThreadPoolJob::JobStatus SeparationProgressChecker::runJob()
{
    juce::MessageManager::callAsync ([t = tracker] {
        if (! t->isDone())
            t->setStatus (SeparationTracker::Status::running);
    });

    SeparationServiceClient client (endpointSource != nullptr ? endpointSource() : ServiceEndpoint {});
    auto result = juce::Result::ok();

    if (! client.getEndpoint().isValid())
        result = juce::Result::fail ("No separation service is available: "
                                     + ServiceEndpoint::check (client.getEndpoint().baseUrl).getErrorMessage());
    if (result.wasOk() && requestWriter != nullptr)
    {
        {
            const std::lock_guard<std::mutex> guard (shared->lock);
            shared->event = "Preparing the audio";
        }
        publish (true);
        result = requestWriter ([this] { return stopping(); });
    }
    if (result.wasOk() && ! stopping())
        result = uploadAndStartSeparation (client);
    if (result.wasOk() && ! stopping())
        result = updateLocalSeparationProgress (client);
    if (result.wasOk() && ! stopping())
        result = downloadSeparatedFiles (client);

    const bool cancelled = stopping();
    if (cancelled)
        result = juce::Result::fail ("Cancelled");
    // Failed or done, the service has no more use for the job: it drops it and its folder (best effort).
    if (separationId.isNotEmpty())
        client.cancel (separationId);

    if (result.failed())
        tracker->removeFiles(); // nothing partial stays behind
    publish (true);
    juce::MessageManager::callAsync ([t = tracker, s = shared, result, cancelled, ended = onEnded] {
        s->copyInto (*t);
        t->setStatus (result.wasOk() ? SeparationTracker::Status::finished
                                     : (cancelled ? SeparationTracker::Status::cancelled : SeparationTracker::Status::failed),
                      result.failed() ? result.getErrorMessage() : juce::String());
        if (ended != nullptr)
            ended (t, result);
    });
    return jobHasFinished;
}

juce::Result SeparationProgressChecker::uploadAndStartSeparation (SeparationServiceClient& client)
{
    ServiceAnswers::CreateResult created;
    {
        const std::lock_guard<std::mutex> guard (shared->lock);
        shared->event = {};
    }
    // A create is not cut short: once the service has made the separation, it must hear of a cancel.
    if (auto r = client.create (path, created); r.failed())
        return r;
    separationId = created.separationId;
    if (stopping())
        return juce::Result::fail ("Cancelled");

    const auto requestFile = tracker->getRequestFile();
    auto r = client.upload (
        created.signedUrl, created.method, requestFile,
        [this] (juce::int64 sent, juce::int64 total) {
            if (total > 0)
            {
                const std::lock_guard<std::mutex> guard (shared->lock);
                shared->bytesUploaded = sent;
                shared->uploadProgress = (float) juce::jmin (1.0, (double) sent * 0.95 / (double) total) * 0.8f;
            }
            publish();
            return true;
        },
        [this] { return stopping(); });
    if (r.failed() || stopping())
        return r;

    const auto fileSize = requestFile.getSize();
    const auto parameters = tracker->getSettings() != nullptr ? tracker->getSettings()->getParameterValues()
                                                              : juce::NamedValueSet();
    if (auto started = client.start (separationId, tracker->getAlgorithm(),
                                     tracker->getSettings() != nullptr ? &parameters : nullptr, fileSize, path);
        started.failed())
        return started;
    {
        const std::lock_guard<std::mutex> guard (shared->lock);
        shared->uploadProgress = 1.0f;
    }
    publish (true);
    return juce::Result::ok();
}

juce::Result SeparationProgressChecker::updateLocalSeparationProgress (SeparationServiceClient& client)
{
    float highest = 0.0f;
    juce::String lastEvent;
    auto lastChange = juce::Time::getMillisecondCounterHiRes();
    int failures = 0;

    while (! stopping())
    {
        ServiceAnswers::Progress p;
        if (auto r = client.getProgress (separationId, p); r.failed())
        {
            if (++failures >= pollFailuresAllowed)
                return r;
        }
        else
        {
            failures = 0;
            if (p.error.has_value())
                return juce::Result::fail (*p.error);
            const auto progress = std::isfinite (p.progress) ? juce::jlimit (0.0f, 1.0f, p.progress) : highest;
            if (progress > highest || p.event != lastEvent)
                lastChange = juce::Time::getMillisecondCounterHiRes();
            highest = juce::jmax (highest, progress);
            lastEvent = p.event.substring (0, 200);
            {
                const std::lock_guard<std::mutex> guard (shared->lock);
                // Downloads begin at 1: the label then counts files.
                shared->separationProgress = p.done ? 1.0f : juce::jmin (highest, 0.999f);
                shared->event = lastEvent;
            }
            publish (p.done);
            if (p.done)
                return juce::Result::ok();
        }
        if (juce::Time::getMillisecondCounterHiRes() - lastChange > stallLimitSeconds * 1000.0)
            return juce::Result::fail ("The separation service reported no progress for "
                                       + juce::String (juce::roundToInt (stallLimitSeconds)) + " seconds");
        for (int waited = 0; waited < pollIntervalMs && ! stopping(); waited += 50)
            juce::Thread::sleep (50);
    }
    return juce::Result::fail ("Cancelled");
}

juce::Result SeparationProgressChecker::downloadSeparatedFiles (SeparationServiceClient& client)
{
    juce::Array<ServiceAnswers::OutputFile> files;
    if (auto r = client.getOutputFiles (separationId, files); r.failed())
        return r;

    const auto folder = tracker->getDownloadFolder();
    if (! folder.createDirectory())
        return juce::Result::fail ("Cannot create " + folder.getFullPathName());

    for (int i = 0; i < files.size(); ++i)
    {
        const auto& f = files.getReference (i);
        const auto target = folder.getChildFile (f.name);
        // The checked name is a plain file name, so the target is inside the folder; still, make sure.
        if (! target.isAChildOf (folder))
            return juce::Result::fail ("The separation service returned a file name that is not safe to use");
        auto r = client.download (
            f.signedUrl, target, f.size, target.hasFileExtension ("wav"),
            [this, i, n = files.size()] (juce::int64 received, juce::int64 total) {
                {
                    const std::lock_guard<std::mutex> guard (shared->lock);
                    shared->bytesDownload = received;
                    const auto within = total > 0 ? juce::jlimit (0.0, 1.0, (double) received / (double) total) : 0.0;
                    shared->outputFilesProgress = (float) juce::jmin (0.999, ((double) i + within) / (double) n);
                }
                publish();
                return true;
            },
            [this] { return stopping(); });
        if (r.failed())
            return r;
        {
            const std::lock_guard<std::mutex> guard (shared->lock);
            shared->newOutputs.add (f.name);
            shared->newOutputFiles.add (target);
            shared->outputFilesProgress = i + 1 == files.size() ? 1.0f : (float) (i + 1) / (float) files.size();
        }
        publish (true);
    }
    return juce::Result::ok();
}

} // namespace kalder::separation
