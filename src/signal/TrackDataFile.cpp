#include "TrackDataFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

static_assert (JUCE_LITTLE_ENDIAN, "Data files are little-endian and are read and written as they lie in memory");

namespace kalder
{

namespace
{
    bool writeAll (int fd, juce::int64 offset, const char* data, size_t numBytes);

    class ScopedDescriptor
    {
    public:
        ScopedDescriptor (const juce::File& f, int flags) : fd (::open (f.getFullPathName().toRawUTF8(), flags | O_CLOEXEC, 0644))
        {}
        ~ScopedDescriptor()
        {
            if (fd >= 0)
                ::close (fd);
        }
        int get() const noexcept { return fd; }
        bool isOpen() const noexcept { return fd >= 0; }

    private:
        int fd;
    };

    /** Copies the file at path to a new file beside it and renames that over it, so
        that the path is the only name of its content; holes stay holes. */
    bool takeOwnCopy (const juce::File& file)
    {
        const auto path = file.getFullPathName();
        const auto temp = file.getSiblingFile ("." + file.getFileName() + "." + juce::Uuid().toString() + ".own");
        ScopedDescriptor in (file, O_RDONLY);
        ScopedDescriptor out (temp, O_WRONLY | O_CREAT | O_EXCL);
        bool ok = in.isOpen() && out.isOpen();
        std::vector<char> buffer (1 << 16);
        off_t size = 0;
        while (ok)
        {
            const auto n = ::read (in.get(), buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
            {
                ok = n == 0;
                break;
            }
            const auto zeros = std::all_of (buffer.begin(), buffer.begin() + n, [] (char c) { return c == 0; });
            ok = zeros || writeAll (out.get(), size, buffer.data(), (size_t) n);
            size += (off_t) n;
        }
        ok = ok && ::ftruncate (out.get(), size) == 0 && ::rename (temp.getFullPathName().toRawUTF8(), path.toRawUTF8()) == 0;
        if (! ok)
            temp.deleteFile();
        return ok;
    }

    bool writeAll (int fd, juce::int64 offset, const char* data, size_t numBytes)
    {
        while (numBytes > 0)
        {
            const auto written = ::pwrite (fd, data, numBytes, (off_t) offset);
            if (written < 0)
            {
                if (errno == EINTR)
                    continue;
                return false;
            }
            data += written;
            offset += written;
            numBytes -= (size_t) written;
        }
        return true;
    }
} // namespace

TrackDataFile::TrackDataFile (juce::File f, int numRows, int numFrames, int numChannels, ValueType t)
    : file (std::move (f)),
      rows (juce::jmax (0, numRows)),
      frames (juce::jmax (0, numFrames)),
      channels (juce::jmax (0, numChannels)),
      type (t),
      valueSize (t == ValueType::complex ? sizeof (std::complex<float>) : sizeof (float)),
      imported (file.existsAsFile())
{}

bool TrackDataFile::create()
{
    if (file.existsAsFile())
        return true;
    ScopedDescriptor fd (file, O_WRONLY | O_CREAT);
    return fd.isOpen();
}

juce::int64 TrackDataFile::offsetOf (int channel, int frame, int bin) const noexcept
{
    return (((juce::int64) channel * frames + frame) * rows + bin) * (juce::int64) valueSize;
}

bool TrackDataFile::readBytes (juce::int64 offset, void* dest, size_t numBytes) const
{
    auto* out = static_cast<char*> (dest);
    ScopedDescriptor fd (file, O_RDONLY);
    if (! fd.isOpen())
    {
        std::memset (out, 0, numBytes);
        return false;
    }

    while (numBytes > 0)
    {
        const auto got = ::pread (fd.get(), out, numBytes, (off_t) offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        out += got;
        offset += got;
        numBytes -= (size_t) got;
    }
    // What lies beyond the end of the file (or could not be read) reads as zeros.
    std::memset (out, 0, numBytes);
    return true;
}

MaskMatrix TrackDataFile::readFrames (int channel, juce::Range<int> range) const
{
    const auto r = range.getIntersectionWith ({ 0, frames });
    if (type != ValueType::real || r.isEmpty() || ! juce::isPositiveAndBelow (channel, channels) || rows == 0)
        return {};

    MaskMatrix m (rows, r.getLength()); // readBytes() writes every value
    readBytes (offsetOf (channel, r.getStart(), 0), m.data(), (size_t) m.size() * valueSize);
    return m;
}

CspecMatrix TrackDataFile::readComplexFrames (int channel, juce::Range<int> range) const
{
    const auto r = range.getIntersectionWith ({ 0, frames });
    if (type != ValueType::complex || r.isEmpty() || ! juce::isPositiveAndBelow (channel, channels) || rows == 0)
        return {};

    CspecMatrix m (rows, r.getLength()); // readBytes() writes every value
    readBytes (offsetOf (channel, r.getStart(), 0), m.data(), (size_t) m.size() * valueSize);
    return m;
}

bool TrackDataFile::writeBlock (int channel, int firstBin, int firstFrame, int blockRows, int blockCols, const void* data)
{
    const bool fits = juce::isPositiveAndBelow (channel, channels) && firstBin >= 0 && firstFrame >= 0 && blockRows > 0
                      && blockCols > 0 && firstBin + blockRows <= rows && firstFrame + blockCols <= frames;
    if (! fits)
    {
        jassertfalse; // a block outside the file is a programming error
        return false;
    }

    // A file that has another name too (a saved project's, linked in when it was
    // opened) is copied before its first write: the write never reaches the other name.
    if (struct stat st; ::stat (file.getFullPathName().toRawUTF8(), &st) == 0 && st.st_nlink > 1 && ! takeOwnCopy (file))
        return false;

    ScopedDescriptor fd (file, O_WRONLY | O_CREAT);
    if (! fd.isOpen())
        return false;

    const auto* bytes = static_cast<const char*> (data);

    if (blockRows == rows)
        return writeAll (fd.get(), offsetOf (channel, firstFrame, 0), bytes, (size_t) blockRows * (size_t) blockCols * valueSize);

    const auto columnBytes = (size_t) blockRows * valueSize;
    for (int c = 0; c < blockCols; ++c)
        if (! writeAll (fd.get(), offsetOf (channel, firstFrame + c, firstBin), bytes + (size_t) c * columnBytes, columnBytes))
            return false;
    return true;
}

bool TrackDataFile::writeFrames (int channel, int firstBin, int firstFrame, const MaskMatrix& block)
{
    if (type != ValueType::real)
    {
        jassertfalse;
        return false;
    }
    return writeBlock (channel, firstBin, firstFrame, (int) block.rows(), (int) block.cols(), block.data());
}

bool TrackDataFile::writeComplexFrames (int channel, int firstBin, int firstFrame, const CspecMatrix& block)
{
    if (type != ValueType::complex)
    {
        jassertfalse;
        return false;
    }
    return writeBlock (channel, firstBin, firstFrame, (int) block.rows(), (int) block.cols(), block.data());
}

bool TrackDataFile::fillFrames (int channel, juce::Range<int> range, float value)
{
    const auto r = range.getIntersectionWith ({ 0, frames });
    if (type != ValueType::real || r.isEmpty())
        return r.isEmpty();

    // Written in slices of whole frames to keep the temporary buffer small.
    constexpr int framesPerSlice = 64;
    MaskMatrix slice = MaskMatrix::Constant (rows, juce::jmin (framesPerSlice, r.getLength()), value);
    for (int f = r.getStart(); f < r.getEnd(); f += framesPerSlice)
    {
        const auto n = juce::jmin (framesPerSlice, r.getEnd() - f);
        if (! writeBlock (channel, 0, f, rows, n, slice.data()))
            return false;
    }
    return true;
}

bool TrackDataFile::truncateToChannels (int numChannelBlocks)
{
    if (! file.existsAsFile())
        return create();
    const auto size = offsetOf (juce::jlimit (0, channels, numChannelBlocks), 0, 0);
    return ::truncate (file.getFullPathName().toRawUTF8(), (off_t) size) == 0;
}

int TrackDataFile::getNumChannelsOnDisk() const
{
    const auto blockBytes = offsetOf (1, 0, 0);
    if (blockBytes <= 0)
        return 0;
    const auto size = file.getSize();
    return (int) juce::jmin ((juce::int64) channels, size / blockBytes);
}

bool TrackDataFile::deleteFile()
{
    return ! file.exists() || file.deleteFile();
}

} // namespace kalder
