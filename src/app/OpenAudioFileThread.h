#pragma once

#include "base/Progress.h"
#include "tracks/AudioTrack.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

/**
    Opens an audio file as a new master track inside the "Opening audio file" progress
    window: decoding and analysis run on this object's thread while the message loop
    keeps the window (and the rest of the application) alive.

    The window's Cancel button stops the work at its next progress report; the files
    written so far are deleted.

    Ownership: owned by the main component until onFinished has run.

    Threading: construct and launch on the message thread; run() on its own thread;
    onFinished is called on the message thread once the thread has ended.
*/
class OpenAudioFileThread : public juce::ThreadWithProgressWindow, private Progress::Listener
{
public:
    static constexpr const char* windowTitle = "Opening audio file";

    /** source: the file to open; dataFolder: a new, empty folder for the track's files. */
    OpenAudioFileThread (const juce::File& source, const juce::File& dataFolder);
    ~OpenAudioFileThread() override;

    /** Called on the message thread when the thread has finished or was cancelled. */
    std::function<void (OpenAudioFileThread&)> onFinished;

    /** The opened track; null when opening failed or was cancelled. */
    AudioTrack::Ptr getTrack() const { return track; }
    const juce::Result& getResult() const noexcept { return result; }
    bool wasCancelled() const noexcept { return cancelled; }
    const juce::File& getSourceFile() const noexcept { return source; }
    const juce::File& getDataFolder() const noexcept { return dataFolder; }

private:
    void run() override;
    void threadComplete (bool userPressedCancel) override;
    void progressChanged (float value, Progress::Ptr source) override;

    const juce::File source, dataFolder;
    Progress::Ptr progress;
    AudioTrack::Ptr track;
    juce::Result result { juce::Result::ok() };
    bool cancelled = false;

    JUCE_DECLARE_NON_COPYABLE (OpenAudioFileThread)
};

} // namespace kalder
