#include "DurableFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kalder
{

namespace
{
    std::mutex checkLock;
    DurableFile::SpaceCheck spaceCheck;

    size_t roomFor (size_t written, size_t wanted)
    {
        const std::lock_guard<std::mutex> sl (checkLock);
        return spaceCheck == nullptr ? wanted : std::min (wanted, spaceCheck (written, wanted));
    }

    juce::String describe (const juce::File& target, int error)
    {
        const auto reason = error == ENOSPC || error == EDQUOT ? juce::String ("the disk is full")
                                                               : juce::String (std::strerror (error));
        return "Cannot write \"" + target.getFullPathName() + "\": " + reason + ". The file was left as it was.";
    }

    /** Closes and removes the new file unless the rename took it. */
    struct NewFile
    {
        explicit NewFile (juce::File f) : file (std::move (f)) {}
        ~NewFile()
        {
            if (fd >= 0)
                ::close (fd);
            if (! renamed)
                ::unlink (file.getFullPathName().toRawUTF8());
        }
        juce::File file;
        int fd = -1;
        bool renamed = false;
    };
} // namespace

void DurableFile::setSpaceCheckForTesting (SpaceCheck check)
{
    const std::lock_guard<std::mutex> sl (checkLock);
    spaceCheck = std::move (check);
}

juce::Result DurableFile::replaceWithText (const juce::File& target, const juce::String& text)
{
    const auto utf8 = text.toUTF8();
    return replaceWithData (target, utf8.getAddress(), utf8.sizeInBytes() - 1);
}

juce::Result DurableFile::replaceWithData (const juce::File& target, const void* data, size_t numBytes)
{
    size_t given = 0;
    return replace (target, [&] (char* buffer, size_t capacity) {
        const auto n = std::min (capacity, numBytes - given);
        std::memcpy (buffer, static_cast<const char*> (data) + given, n);
        given += n;
        return (juce::int64) n;
    });
}

juce::Result DurableFile::copyFile (const juce::File& source, const juce::File& target)
{
    juce::FileInputStream in (source);
    if (! in.openedOk())
        return juce::Result::fail ("Cannot read \"" + source.getFullPathName() + "\".");
    return replace (target, [&] (char* buffer, size_t capacity) { return (juce::int64) in.read (buffer, (int) capacity); });
}

juce::Result DurableFile::replace (const juce::File& target, const std::function<juce::int64 (char*, size_t)>& produce)
{
    const auto folder = target.getParentDirectory();
    if (! folder.isDirectory())
        return juce::Result::fail (describe (target, ENOENT));
    if (target.isDirectory())
        return juce::Result::fail (describe (target, EISDIR));

    // A name of its own, so that two saves never share it.
    NewFile fresh (folder.getChildFile ("." + target.getFileName() + "." + juce::Uuid().toString() + ".new"));
    fresh.fd = ::open (fresh.file.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fresh.fd < 0)
        return juce::Result::fail (describe (target, errno));
    struct stat old
    {};
    if (::stat (target.getFullPathName().toRawUTF8(), &old) == 0)
        ::fchmod (fresh.fd, old.st_mode & 07777); // the file keeps who may read it

    constexpr size_t blockBytes = 1 << 20;
    std::vector<char> block (blockBytes);
    size_t written = 0;
    for (;;)
    {
        const auto produced = produce (block.data(), blockBytes);
        if (produced < 0)
            return juce::Result::fail ("Cannot read what \"" + target.getFullPathName() + "\" was to hold.");
        if (produced == 0)
            break;
        for (size_t done = 0; done < (size_t) produced;)
        {
            const auto chunk = roomFor (written, (size_t) produced - done);
            if (chunk == 0)
                return juce::Result::fail (describe (target, ENOSPC));
            const auto n = ::write (fresh.fd, block.data() + done, chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return juce::Result::fail (describe (target, n < 0 ? errno : ENOSPC));
            done += (size_t) n;
            written += (size_t) n;
        }
    }
    if (::fsync (fresh.fd) != 0)
        return juce::Result::fail (describe (target, errno));
    const auto closed = ::close (fresh.fd);
    fresh.fd = -1;
    if (closed != 0)
        return juce::Result::fail (describe (target, errno));

    if (::rename (fresh.file.getFullPathName().toRawUTF8(), target.getFullPathName().toRawUTF8()) != 0)
        return juce::Result::fail (describe (target, errno));
    fresh.renamed = true;

    // The rename itself reaches the disk with the folder.
    if (const auto dir = ::open (folder.getFullPathName().toRawUTF8(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0)
    {
        ::fsync (dir);
        ::close (dir);
    }
    return juce::Result::ok();
}

} // namespace kalder
