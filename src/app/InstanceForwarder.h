#pragma once

#include <juce_events/juce_events.h>

#include <functional>

namespace kalder
{

/**
    Hands the files of a second start of the application to the instance that is
    already running, so that a file opened from the file manager (the desktop entry's
    %F) reaches the open window instead of being dropped.

    The running instance listens on a FIFO in its data folder (mode 0600, so only the
    user can write to it); a second start that finds a listener writes the absolute
    paths of its files, one a line, ends the batch with an empty line, and exits. An
    empty batch brings the running window to the front. A FIFO left by an instance
    that crashed has no listener: the next instance replaces it.

    Instances with different data folders (KALDER_HOME) have different FIFOs and never
    meet.

    Threading: the listener reads on a thread of its own and calls onFiles on the
    message thread; forwardToRunningInstance() may be called before the message
    manager exists (from main()).
*/
class InstanceForwarder : private juce::Thread
{
public:
    /** The FIFO of the data folder in use. */
    static juce::File getDefaultFifo();

    /** Writes the files to the instance listening on fifo. Returns false, having sent
        nothing, when no instance listens. */
    static bool forwardToRunningInstance (const juce::File& fifo, const juce::Array<juce::File>& files);

    /** Starts listening on fifo, unless another live instance already does (then
        isListening() is false). onFiles receives each batch on the message thread. */
    InstanceForwarder (const juce::File& fifo, std::function<void (const juce::Array<juce::File>&)> onFiles);

    /** Stops listening and removes the FIFO. */
    ~InstanceForwarder() override;

    bool isListening() const noexcept { return fd >= 0; }

private:
    void run() override;

    const juce::File fifo;
    const std::function<void (const juce::Array<juce::File>&)> onFiles;
    juce::Array<juce::File> batch;
    int fd = -1;

    JUCE_DECLARE_NON_COPYABLE (InstanceForwarder)
};

} // namespace kalder
