#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <map>

namespace kalder
{

/**
    A private file for undo blocks that do not stay in memory.

    The file is created in a given folder (the track's data folder) under a unique name
    and removed from the folder at once: it has no name, only this object's open
    descriptor, so it can never be mistaken for a data file, and the system frees it when
    the object goes, even after a crash.

    Space is handed out in extents. A released extent is reused by later writes; its
    disk blocks are given back at once (the extent is punched out of the file, or the
    file is cut when the extent was the last one), so the disk holds about what the live
    extents hold.

    Threading: one thread at a time (the history's: the message thread).
*/
class UndoScratchFile
{
public:
    /** Creates the file lazily, on the first write, in folder (or, when that cannot be
        written, in the system's temporary folder). */
    explicit UndoScratchFile (juce::File folder);
    ~UndoScratchFile();

    /** Writes numBytes and returns the offset they were written at, or -1 when the file
        cannot be created or the disk refuses the write (nothing stays allocated then). */
    std::int64_t write (const void* data, size_t numBytes);

    /** Reads numBytes at offset into dest; false when the read comes back short. */
    bool read (std::int64_t offset, void* dest, size_t numBytes) const;

    /** Gives an extent back. */
    void release (std::int64_t offset, size_t numBytes);

    /** Bytes held by live extents. */
    std::int64_t getLiveBytes() const noexcept { return liveBytes; }

    /** The file's length, holes included. */
    std::int64_t getFileLength() const noexcept { return endOfFile; }

private:
    bool open();
    std::int64_t allocate (size_t numBytes);
    void freeExtent (std::int64_t offset, std::int64_t alignedLength);

    juce::File folder;
    int fd = -1;
    bool openFailed = false;
    std::int64_t endOfFile = 0, liveBytes = 0;
    std::map<std::int64_t, std::int64_t> freeExtents; // offset -> length, never adjacent

    JUCE_DECLARE_NON_COPYABLE (UndoScratchFile)
};

} // namespace kalder
