#include "InstanceForwarder.h"
#include "appcore/DirectoryManager.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kalder
{

namespace
{
    constexpr const char* fifoName = "instance.fifo";
    constexpr int pollIntervalMs = 100; // how soon the listener notices it should stop
    constexpr int readSize = 4096;      // bytes: one pipe buffer's atomic write
} // namespace

juce::File InstanceForwarder::getDefaultFifo()
{
    return DirectoryManager::getUserAppDataDir().getChildFile (fifoName);
}

bool InstanceForwarder::forwardToRunningInstance (const juce::File& fifo, const juce::Array<juce::File>& files)
{
    // Opening for writing without blocking fails (ENXIO) when nobody reads: no instance.
    const auto out = ::open (fifo.getFullPathName().toRawUTF8(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (out < 0)
        return false;

    struct stat info
    {};
    if (::fstat (out, &info) != 0 || ! S_ISFIFO (info.st_mode))
    {
        ::close (out);
        return false;
    }

    juce::String message;
    for (const auto& file : files)
        message << file.getFullPathName().removeCharacters ("\r\n") << "\n";
    message << "\n";

    // Blocking from here: a full pipe waits for the listener rather than losing a file.
    ::fcntl (out, F_SETFL, ::fcntl (out, F_GETFL) & ~O_NONBLOCK);
    const auto* data = message.toRawUTF8();
    auto remaining = (ssize_t) message.getNumBytesAsUTF8();
    bool ok = true;
    while (remaining > 0 && ok)
    {
        const auto written = ::write (out, data, (size_t) remaining);
        if (written < 0 && errno == EINTR)
            continue;
        ok = written > 0;
        data += written;
        remaining -= written;
    }
    ::close (out);
    return ok;
}

InstanceForwarder::InstanceForwarder (const juce::File& f, std::function<void (const juce::Array<juce::File>&)> callback)
    : juce::Thread ("Instance forwarder"), fifo (f), onFiles (std::move (callback))
{
    const auto path = fifo.getFullPathName();

    // A live listener keeps its FIFO; a stale one (an instance that crashed) is replaced.
    if (const auto probe = ::open (path.toRawUTF8(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); probe >= 0)
    {
        ::close (probe);
        return;
    }
    ::unlink (path.toRawUTF8());
    if (::mkfifo (path.toRawUTF8(), S_IRUSR | S_IWUSR) != 0)
        return;

    // Read and write: the FIFO never reports an end when a writer leaves, and opening
    // never blocks.
    fd = ::open (path.toRawUTF8(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0)
        startThread();
}

InstanceForwarder::~InstanceForwarder()
{
    stopThread (4 * pollIntervalMs);
    if (fd >= 0)
    {
        ::close (fd);
        ::unlink (fifo.getFullPathName().toRawUTF8());
    }
}

void InstanceForwarder::run()
{
    juce::MemoryBlock bytes;
    char buffer[readSize];
    while (! threadShouldExit())
    {
        pollfd request { fd, POLLIN, 0 };
        if (::poll (&request, 1, pollIntervalMs) <= 0)
            continue;
        const auto n = ::read (fd, buffer, sizeof (buffer));
        if (n <= 0)
            continue;
        bytes.append (buffer, (size_t) n);

        // Whole lines only: a path may arrive in two reads.
        const auto* start = static_cast<const char*> (bytes.getData());
        const auto* end = start + bytes.getSize();
        const auto* lineStart = start;
        for (const auto* p = start; p < end; ++p)
        {
            if (*p != '\n')
                continue;
            const auto line = juce::String::fromUTF8 (lineStart, (int) (p - lineStart));
            lineStart = p + 1;
            if (line.isNotEmpty())
            {
                if (juce::File::isAbsolutePath (line))
                    batch.add (juce::File (line));
                continue;
            }
            juce::MessageManager::callAsync ([callback = onFiles, files = batch] { callback (files); });
            batch.clear();
        }
        bytes.removeSection (0, (size_t) (lineStart - start));
    }
}

} // namespace kalder
