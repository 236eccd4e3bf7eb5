#include "SeparationTracker.h"

#include "tracks/AudioTrack.h"

namespace kalder::separation
{

namespace
{
    const char* statusName (SeparationTracker::Status s)
    {
        switch (s)
        {
            case SeparationTracker::Status::waiting:
                return "waiting";
            case SeparationTracker::Status::running:
                return "running";
            case SeparationTracker::Status::finished:
                return "finished";
            case SeparationTracker::Status::failed:
                return "failed";
            case SeparationTracker::Status::cancelled:
                return "cancelled";
        }
        return "";
    }
} // namespace

SeparationTracker::SeparationTracker (juce::File file, SeparatorSettings::Ptr s)
    : requestFile (std::move (file)),
      settings (std::move (s)),
      module (settings != nullptr ? settings->getModule() : Module::other)
{
    algorithm = (int) module;
    bytesUploaded.referTo (state, CommonValueIDs::bytesUploaded, nullptr, (juce::int64) 0);
    uploadProgress.referTo (state, CommonValueIDs::uploadProgress, nullptr, 0.0f);
    separationProgress.referTo (state, CommonValueIDs::separationProgress, nullptr, 0.0f);
    event.referTo (state, CommonValueIDs::separationEvent, nullptr, juce::String());
    bytesDownload.referTo (state, CommonValueIDs::bytesDownload, nullptr, (juce::int64) 0);
    outputFilesProgress.referTo (state, CommonValueIDs::outputFilesProgress, nullptr, 0.0f);
    state.setProperty (CommonValueIDs::status, statusName (status), nullptr);
}

SeparationTracker::~SeparationTracker()
{
    removeFiles();
}

void SeparationTracker::setTrack (AudioTrack* t)
{
    track = t;
}

juce::ReferenceCountedObjectPtr<AudioTrack> SeparationTracker::getTrack() const
{
    return track;
}

void SeparationTracker::setStatus (Status s, const juce::String& errorMessage)
{
    if (s == Status::running && status != Status::running)
    {
        separationStartMs = juce::Time::getMillisecondCounterHiRes();
        separationStartProgress = 0.0f;
    }
    status = s;
    if (errorMessage.isNotEmpty())
        state.setProperty (CommonValueIDs::error, errorMessage, nullptr);
    state.setProperty (CommonValueIDs::status, statusName (s), nullptr);
}

juce::String SeparationTracker::getLabel()
{
    juce::String label ("Separation: ");
    const float separation = separationProgress.get();
    const float upload = uploadProgress.get();
    if (separation >= 1.0f)
    {
        auto fileNumber = outputFiles.size() + (outputFilesProgress.get() < 1.0f ? 1 : 0);
        return label + "downloading file " + juce::String (fileNumber) + " " + juce::String (bytesDownload.get() / 1024) + "KB";
    }
    if (separation > 0.0f)
        return label + (event.get().isEmpty() ? juce::String ("processing") : event.get().toLowerCase());
    if (upload > 0.0f && upload < 1.0f)
        return label + "uploading " + juce::String ((int) (upload * 100.0f)) + "%";
    return label + (event.get().isEmpty() ? juce::String ("initialising") : event.get().toLowerCase());
}

float SeparationTracker::getOverallProgress()
{
    return juce::jlimit (0.0f, 1.0f,
                         0.1f * uploadProgress.get() + 0.8f * separationProgress.get() + 0.1f * outputFilesProgress.get());
}

juce::String SeparationTracker::getTimeLeftText()
{
    const float p = separationProgress.get();
    if (status != Status::running || p <= 0.02f || p >= 1.0f)
        return {};
    if (separationStartProgress <= 0.0f)
    {
        // The pace is measured from the first progress the service reported.
        separationStartProgress = p;
        separationStartMs = juce::Time::getMillisecondCounterHiRes();
        return {};
    }
    const auto elapsed = (juce::Time::getMillisecondCounterHiRes() - separationStartMs) / 1000.0;
    const auto done = p - separationStartProgress;
    if (done <= 0.01f || elapsed < 2.0)
        return {};
    const auto left = elapsed * (1.0 - p) / done;
    if (left < 60.0)
        return "about " + juce::String (juce::jmax (1, (int) std::ceil (left / 5.0) * 5)) + " s left";
    return "about " + juce::String ((int) std::ceil (left / 60.0)) + " min left";
}

void SeparationTracker::removeFiles()
{
    const auto folder = getJobFolder();
    if (folder.isDirectory() && folder.getFileName().startsWith ("separation-"))
        folder.deleteRecursively();
}

SeparationTracker::Ptr SeparationTracker::of (const AudioTrack& track)
{
    return dynamic_cast<SeparationTracker*> (track.getSeparationTracker().get());
}

} // namespace kalder::separation
