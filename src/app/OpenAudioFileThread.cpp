#include "OpenAudioFileThread.h"

#include "tracks/TrackLoader.h"

namespace kalder
{

namespace
{
    // Cancelling waits for the loader to notice: it checks at every progress report,
    // which comes many times a second, so this bound is never reached in practice.
    constexpr int cancelTimeoutMs = 20000;
} // namespace

OpenAudioFileThread::OpenAudioFileThread (const juce::File& s, const juce::File& folder)
    : juce::ThreadWithProgressWindow (windowTitle, true, true, cancelTimeoutMs),
      source (s),
      dataFolder (folder),
      progress (new Progress())
{
    setStatusMessage (source.getFileName());
    progress->addListener (this);
}

OpenAudioFileThread::~OpenAudioFileThread()
{
    progress->cancel();
    stopThread (cancelTimeoutMs);
    progress->removeListener (this);
}

void OpenAudioFileThread::run()
{
    juce::Result r { juce::Result::ok() };
    const auto dataName = juce::File::createLegalFileName (source.getFileNameWithoutExtension());
    auto opened = TrackLoader::openTrack (source, dataFolder, dataName.isNotEmpty() ? dataName : "track",
                                          AudioTrack::OriginId::master, progress, r, nullptr,
                                          TrackLoader::Analysis::later); // playable from its audio at once

    track = std::move (opened);
    result = r;
}

void OpenAudioFileThread::progressChanged (float value, Progress::Ptr)
{
    setProgress (value);
    if (threadShouldExit())
        progress->cancel();
}

void OpenAudioFileThread::threadComplete (bool userPressedCancel)
{
    cancelled = userPressedCancel || progress->isCancelled();
    if (cancelled && track != nullptr)
    {
        // Finished just as the user cancelled: the user's choice wins.
        track->deleteFiles();
        track = nullptr;
    }
    if (onFinished)
        onFinished (*this);
}

} // namespace kalder
