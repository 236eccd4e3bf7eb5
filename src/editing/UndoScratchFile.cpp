#include "UndoScratchFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kalder
{

namespace
{
    // Extents start on this grid so that punching one out frees whole disk blocks.
    constexpr std::int64_t extentAlignment = 4096;

    std::int64_t alignUp (std::int64_t n) noexcept
    {
        return (n + extentAlignment - 1) / extentAlignment * extentAlignment;
    }
} // namespace

UndoScratchFile::UndoScratchFile (juce::File f) : folder (std::move (f)) {}

UndoScratchFile::~UndoScratchFile()
{
    if (fd >= 0)
        ::close (fd);
}

bool UndoScratchFile::open()
{
    if (fd >= 0)
        return true;
    if (openFailed)
        return false;

    // The track's folder first (it lies on the disk that holds the track's data, and is
    // never a memory-backed file system); the system's temporary folder if it refuses.
    for (const auto& dir : { folder, juce::File::getSpecialLocation (juce::File::tempDirectory) })
    {
        if (! dir.isDirectory())
            continue;
        auto pattern = dir.getChildFile (".undo-XXXXXX").getFullPathName().toStdString();
        fd = ::mkostemp (pattern.data(), O_CLOEXEC);
        if (fd >= 0)
        {
            // Nameless from now on: only the descriptor holds the file.
            ::unlink (pattern.c_str());
            return true;
        }
    }
    openFailed = true;
    return false;
}

std::int64_t UndoScratchFile::allocate (size_t numBytes)
{
    const auto length = alignUp ((std::int64_t) numBytes);
    for (auto it = freeExtents.begin(); it != freeExtents.end(); ++it)
    {
        if (it->second < length)
            continue;
        const auto offset = it->first;
        const auto rest = it->second - length;
        freeExtents.erase (it);
        if (rest > 0)
            freeExtents.emplace (offset + length, rest);
        return offset;
    }
    const auto offset = endOfFile;
    endOfFile += length;
    return offset;
}

std::int64_t UndoScratchFile::write (const void* data, size_t numBytes)
{
    if (numBytes == 0 || ! open())
        return -1;

    const auto offset = allocate (numBytes);
    const auto* bytes = static_cast<const char*> (data);
    size_t done = 0;
    while (done < numBytes)
    {
        const auto n = ::pwrite (fd, bytes + done, numBytes - done, (off_t) (offset + (std::int64_t) done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
        {
            freeExtent (offset, alignUp ((std::int64_t) numBytes));
            return -1;
        }
        done += (size_t) n;
    }
    liveBytes += alignUp ((std::int64_t) numBytes);
    return offset;
}

bool UndoScratchFile::read (std::int64_t offset, void* dest, size_t numBytes) const
{
    if (fd < 0 || offset < 0)
        return false;
    auto* bytes = static_cast<char*> (dest);
    size_t done = 0;
    while (done < numBytes)
    {
        const auto n = ::pread (fd, bytes + done, numBytes - done, (off_t) (offset + (std::int64_t) done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += (size_t) n;
    }
    return true;
}

void UndoScratchFile::release (std::int64_t offset, size_t numBytes)
{
    if (fd < 0 || offset < 0 || numBytes == 0)
        return;
    const auto length = alignUp ((std::int64_t) numBytes);
    liveBytes -= length;
    freeExtent (offset, length);
}

void UndoScratchFile::freeExtent (std::int64_t start, std::int64_t length)
{
    // Merge with the free neighbours on both sides.
    auto next = freeExtents.lower_bound (start);
    if (next != freeExtents.end() && next->first == start + length)
    {
        length += next->second;
        next = freeExtents.erase (next);
    }
    if (next != freeExtents.begin())
    {
        auto previous = std::prev (next);
        if (previous->first + previous->second == start)
        {
            start = previous->first;
            length += previous->second;
            freeExtents.erase (previous);
        }
    }

    // The tail: cut the file instead of keeping a free extent at its end.
    if (start + length >= endOfFile && ::ftruncate (fd, (off_t) start) == 0)
    {
        endOfFile = start;
        return;
    }

    freeExtents.emplace (start, length);
#if defined(FALLOC_FL_PUNCH_HOLE) && defined(FALLOC_FL_KEEP_SIZE)
    // Give the disk blocks back; the extent reads as zeros until it is reused.
    ::fallocate (fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, (off_t) start, (off_t) length);
#endif
}

} // namespace kalder
