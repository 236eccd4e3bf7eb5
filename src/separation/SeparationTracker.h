#pragma once

#include "SeparationContext.h"
#include "SeparatorSettings.h"

#include <juce_data_structures/juce_data_structures.h>

namespace kalder
{
class AudioTrack;
}

namespace kalder::separation
{

/** The property names of a tracker's "SEPARATIONTRACKER" tree. */
namespace CommonValueIDs
{
    inline const juce::Identifier separationTracker { "SEPARATIONTRACKER" };
    inline const juce::Identifier bytesUploaded { "SeparationTrackerBytesUploaded" };
    inline const juce::Identifier uploadProgress { "SeparationTrackerUploadProgress" };
    inline const juce::Identifier separationProgress { "SeparationTrackerSeparationProgress" };
    inline const juce::Identifier separationEvent { "SeparationTrackerSeparationEvent" };
    inline const juce::Identifier bytesDownload { "SeparationTrackerBytesDownload" };
    inline const juce::Identifier outputFilesProgress { "SeparationTrackerOutputFilesProgress" };
    // Ours beside the Part's: where the separation stands and why it failed.
    inline const juce::Identifier status { "SeparationTrackerStatus" };
    inline const juce::Identifier error { "SeparationTrackerError" };
} // namespace CommonValueIDs

/**
    The observable state of one separation, from the request to the arrival of its
    result files: a "SEPARATIONTRACKER" value tree whose properties follow the job
    (any component can listen to it; the track list does), the request file, the
    module settings it was started with (a copy: later changes in the settings do not
    reach it), the algorithm, the part of the track (SeparationContext), its own
    folder for the request and the downloads, and the output files by name.

    Status: waiting (queued behind another separation) -> running -> finished, failed
    or cancelled. Only finished trackers have output files.

    Threading: the tree, the output map and every setter on the message thread; the
    job writes copies and publishes them there (SeparationProgressChecker). The
    getters of the constant members from any thread.
*/
class SeparationTracker : public juce::ReferenceCountedObject
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<SeparationTracker>;

    /** The separation running on a track, or null. */
    static Ptr of (const AudioTrack& track);

    enum class Status
    {
        waiting,
        running,
        finished,
        failed,
        cancelled
    };

    SeparationTracker (juce::File requestFile, SeparatorSettings::Ptr settings);
    ~SeparationTracker() override;

    juce::ValueTree& getState() noexcept { return state; }
    const juce::File& getRequestFile() const noexcept { return requestFile; }
    SeparatorSettings::Ptr getSettings() const { return settings; }

    /** The module run: the settings' module, except "other", which has no settings. */
    Module getModule() const noexcept { return module; }
    void setModule (Module m) noexcept { module = m; }
    int getAlgorithm() const noexcept { return algorithm; }
    void setAlgorithm (int a) noexcept { algorithm = a; }

    void setTrack (AudioTrack* t);
    juce::ReferenceCountedObjectPtr<AudioTrack> getTrack() const;

    SeparationContext& getContext() noexcept { return context; }
    const SeparationContext& getContext() const noexcept { return context; }

    /** The job's folder: the request file and the downloads; removed when the tracker goes. */
    juce::File getJobFolder() const { return requestFile.getParentDirectory(); }
    juce::File getDownloadFolder() const { return getJobFolder().getChildFile ("downloads"); }

    /** Output name to local file; its entries are the files downloaded so far. */
    juce::HashMap<juce::String, juce::File>& getOutputFiles() noexcept { return outputFiles; }
    /** The output names in the order the service listed them. */
    juce::StringArray& getOutputOrder() noexcept { return outputOrder; }

    // The tree's values (message thread).
    juce::CachedValue<juce::int64> bytesUploaded, bytesDownload;
    juce::CachedValue<float> uploadProgress, separationProgress, outputFilesProgress;
    juce::CachedValue<juce::String> event;

    Status getStatus() const noexcept { return status; }
    void setStatus (Status s, const juce::String& errorMessage = {});
    juce::String getError() const { return state[CommonValueIDs::error].toString(); }
    bool isDone() const noexcept { return status == Status::finished || status == Status::failed || status == Status::cancelled; }

    /** The track list's label: "Separation: uploading 45%", "...: processing", ... */
    juce::String getLabel();

    /** 0..1 over the whole request: upload 10 %, separation 80 %, downloads 10 %. */
    float getOverallProgress();

    /** An estimate of the time left while the service separates ("about 2 min left"),
        from the pace of its progress so far; empty before it can tell. */
    juce::String getTimeLeftText();

    /** Removes the job folder (request and downloads) once nothing needs them; also
        done when the tracker goes. Any thread (the jobs do it, so that deleting large
        files never stalls the message thread). */
    void removeFiles();

private:
    juce::ValueTree state { CommonValueIDs::separationTracker };
    const juce::File requestFile;
    const SeparatorSettings::Ptr settings;
    Module module;
    int algorithm = 0;
    juce::ReferenceCountedObjectPtr<AudioTrack> track; // the separated track (the tracker is dropped when the job ends)
    SeparationContext context;
    juce::HashMap<juce::String, juce::File> outputFiles { 101 };
    juce::StringArray outputOrder;
    Status status = Status::waiting;
    double separationStartMs = 0.0;
    float separationStartProgress = 0.0f;

    JUCE_DECLARE_NON_COPYABLE (SeparationTracker)
};

} // namespace kalder::separation
