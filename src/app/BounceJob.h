#pragma once

#include "base/Progress.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

/**
    Writes audio files (a bounce of the mix, a track export) inside a progress window:
    the writing runs on this object's thread while the message loop keeps the window,
    and the rest of the application, alive.

    The window's Cancel button stops the work at its next progress report; the writer
    then leaves no file behind (MixerBounce).

    Ownership: owned by ExportCommands until onFinished has run.

    Threading: construct and launch on the message thread; the work runs on the job's
    own thread; onFinished is called on the message thread once the thread has ended.
*/
class BounceJob : public juce::ThreadWithProgressWindow, private Progress::Listener
{
public:
    /** The writing: any thread; reports through the progress it is given and stops
        (with a failed result) once that progress is cancelled. */
    using Work = std::function<juce::Result (Progress::Ptr)>;

    /** title: the window's title; status: the line under it (the file's name). */
    BounceJob (const juce::String& title, const juce::String& status, Work work);
    ~BounceJob() override;

    /** Called on the message thread when the work has finished or was cancelled. */
    std::function<void (BounceJob&)> onFinished;

    const juce::Result& getResult() const noexcept { return result; }
    /** True when the user cancelled before the work was complete. */
    bool wasCancelled() const noexcept { return cancelled; }

    /** The progress the work reports through (for a listener of the caller's). */
    Progress::Ptr getProgress() const { return progress; }

private:
    void run() override;
    void threadComplete (bool userPressedCancel) override;
    void progressChanged (float value, Progress::Ptr source) override;

    Work work;
    Progress::Ptr progress;
    juce::Result result { juce::Result::ok() };
    bool cancelled = false;

    JUCE_DECLARE_NON_COPYABLE (BounceJob)
};

} // namespace kalder
