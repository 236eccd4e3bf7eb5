#pragma once

#include "SpectralMatrices.h"

#include <juce_core/juce_core.h>

namespace kalder
{

/**
    A headerless file of little-endian values, read and written block by block.

    The file holds channel blocks one after another, each frames x rows values,
    frame after frame, bin 0 first: value (channel c, frame f, bin b) lies at
    ((c * frames + f) * rows + b) * valueSize, valueSize being 4 bytes for real
    values and 8 for complex ones (real part first). A block of whole frames is
    therefore one contiguous run with the column-major layout of the matrices.

    Files are created empty and grow only where written; whatever lies beyond the
    end of the file, or in a file that cannot be opened, reads as zeros. A file that
    has more than one name (hard links: a project's files are linked, not copied, into
    the working folder when it opens) is first copied to a file of its own name alone,
    so a write changes only this name's content.

    Threading: reads and writes use positional I/O on a descriptor opened per call,
    so any number of threads may read while one thread writes. Writers of one file
    must be serialised by the owner. Frames are relative to the file's first frame.
*/
class TrackDataFile
{
public:
    enum class ValueType
    {
        real,   // 4 bytes a value: masks and selections
        complex // 8 bytes a value: STFT frames
    };

    TrackDataFile (juce::File file, int rows, int frames, int channels, ValueType type = ValueType::real);

    /** Creates the file empty when it does not exist yet. Returns false on failure. */
    bool create();

    /** rows x length(frames ∩ [0, frames)) real values; an empty range, a channel that does
        not exist or a complex file gives an empty matrix. */
    MaskMatrix readFrames (int channel, juce::Range<int> frames) const;

    /** The same for complex values. */
    CspecMatrix readComplexFrames (int channel, juce::Range<int> frames) const;

    /** Writes block at (channel, first bin, first frame). A block that does not fit the
        file's geometry, or a write to a file of the other value type, is refused: false
        (and an assertion in debug builds). False too when the disk refuses the write. */
    bool writeFrames (int channel, int firstBin, int firstFrame, const MaskMatrix& block);
    bool writeComplexFrames (int channel, int firstBin, int firstFrame, const CspecMatrix& block);

    /** Writes value over whole frames [frames) of channel. */
    bool fillFrames (int channel, juce::Range<int> frames, float value);

    /** Shortens the file to the first numChannelBlocks channel blocks (0 empties it). */
    bool truncateToChannels (int numChannelBlocks);

    /** Number of whole channel blocks that the file holds (a block cut short by a
        failed write does not count). */
    int getNumChannelsOnDisk() const;

    bool deleteFile();

    /** True when the file existed already when this object was made. */
    bool wasImported() const noexcept { return imported; }

    const juce::File& getFile() const noexcept { return file; }
    int getRows() const noexcept { return rows; }
    int getFrames() const noexcept { return frames; }
    int getChannels() const noexcept { return channels; }

private:
    juce::int64 offsetOf (int channel, int frame, int bin) const noexcept;
    bool readBytes (juce::int64 offset, void* dest, size_t numBytes) const;
    bool writeBlock (int channel, int firstBin, int firstFrame, int blockRows, int blockCols, const void* data);

    juce::File file;
    int rows, frames, channels;
    ValueType type;
    size_t valueSize;
    bool imported;

    JUCE_DECLARE_NON_COPYABLE (TrackDataFile)
};

} // namespace kalder
