#pragma once

#include "AsigMemoryChunk.h"
#include "CacheLock.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <limits>
#include <memory>
#include <vector>

namespace kalder
{

/**
    The data files of one frame store, and the window of frames it keeps in memory.

    The frames live on disk in chunks of 1024 frames (AsigMemoryChunk). In front of
    them sit two cache buffers with a read-write lock each: the front buffer, which
    readers try first, and the back buffer, which the caching job refills and which
    the copy job then swaps to the front.

    Reads never wait: they try the front buffer's read lock, then the back buffer's,
    and read whatever the locked buffer does not hold (or everything, when neither
    can be locked) from the data files. Writes go to the data file and then to every
    buffer that holds the frames, so a frame never has two different values.

    Threading: reads from any thread. Writes from one thread at a time (the message
    thread in the application). cache() runs on the caching job, copyBackToFront()
    on the copy job; both may also be called directly (tests, tools). Frame ranges are
    half-open and absolute; reads are clamped to [0, nFrames).
*/
class AsigMemoryManager : private juce::Timer
{
public:
    /** One cache buffer: a frame range and, per channel, its frames and its mask. */
    struct Multspec
    {
        juce::Range<int> range;
        std::vector<CspecMatrix> cspec;
        std::vector<MaskMatrix> mask;
    };

    /** The bounding box of a selection and the selection cut to it. */
    struct SelectionBlock
    {
        juce::Range<int> frames, bins;
        MaskMatrix values;

        bool isEmpty() const noexcept { return values.size() == 0; }
    };

    /** Bytes of frames and masks that one cache buffer may hold. */
    static constexpr size_t maxCacheBytes = 64u * 1024u * 1024u;

    AsigMemoryManager (juce::File dataDirectory, juce::String dataName);
    ~AsigMemoryManager() override;

    //==============================================================================
    void setProperties (int numChannels, int nFreqs, int nFrames);

    /** True when channels, bins, frames and chunks are all non-zero. */
    bool isReady() const noexcept;

    int getNumChannels() const noexcept { return numChannels; }
    int getNumFreqs() const noexcept { return nFreqs; }
    int getNumFrames() const noexcept { return nFrames; }
    int getNumChunks() const noexcept { return (int) chunks.size(); }
    const juce::File& getDataDirectory() const noexcept { return dataDirectory; }
    const juce::String& getDataName() const noexcept { return dataName; }

    /** Deletes any data files of this name and creates the chunks over new, empty files. */
    juce::Result createDataFiles();

    /** Creates the chunks over the existing data files (missing ones read as zeros). */
    juce::Result openDataFiles();

    /** Deletes every data file and forgets the chunks. */
    void clearDataFiles();

    std::vector<juce::File> getDataFiles() const;
    /** Whether every chunk's frames file holds all its frames (a missing or short one
        reads as zeros: a store opened from files that were lost or cut). */
    bool hasAllFrames() const;

    //==============================================================================
    /** Indices of the chunks that hold the frames of range, ascending. */
    static juce::Array<int> getDataFileIndicesForRange (juce::Range<int> range);

    /** Splits r against a cache buffer's range into the parts before, inside and after
        it. With no buffer given, uses the back buffer (or else the front) if its read
        lock can be taken at once; returns false without writing when neither can. */
    bool splitRange (juce::Range<int> r, juce::Range<int>* before, juce::Range<int>* inside, juce::Range<int>* after,
                     const Multspec* cache = nullptr);

    //==============================================================================
    /** Where a read takes its frames from. */
    enum class Source
    {
        /** A cache buffer whose lock can be taken at once, the data files for the rest. */
        cacheOrFiles,
        /** A cache buffer only: an empty matrix when no buffer can be locked at once. */
        cacheOnly,
        /** The data files only. */
        files
    };

    /** The unedited frames of a channel. See the class comment for where they come from. */
    CspecMatrix getCspecFrames (int channel, juce::Range<int> frames, Source source = Source::cacheOrFiles);

    /** The mask of a channel, read like getCspecFrames(). */
    MaskMatrix getMaskFrames (int channel, juce::Range<int> frames, Source source = Source::cacheOrFiles);

    /** The selection over frames, all bins (zeros where nothing is selected). */
    MaskMatrix getSelection (juce::Range<int> frames);

    /** The bounding box of the whole selection; empty when nothing is selected. */
    SelectionBlock getSelection();

    bool hasSelection() const noexcept;

    /** The frames from the first to the last that hold a selected bin, within the given
        frames (all by default); empty when none. */
    juce::Range<int> getSelectedFrameRange (juce::Range<int> within = { 0, std::numeric_limits<int>::max() }) const;
    juce::Range<int> getEditedFrameRange() const;

    /** Reads straight from the data files, bypassing the caches. */
    CspecMatrix readCspecFromFile (int channel, juce::Range<int> frames) const;
    MaskMatrix readMaskFromFile (int channel, juce::Range<int> frames) const;

    //==============================================================================
    // Writes. Each returns false, and changes nothing, for a block whose shape does
    // not match its ranges or whose ranges lie outside the store (and asserts in
    // debug builds); false too when the disk refuses the write.

    bool setCspecFrames (int channel, juce::Range<int> frames, const CspecMatrix& block);
    bool setMaskFrames (int channel, juce::Range<int> frames, const MaskMatrix& block);
    bool setMaskFrames (int channel, juce::Range<int> bins, juce::Range<int> frames, const MaskMatrix& block);

    /** Replaces a block of the selection; with clearRestFirst, the block becomes the
        whole selection. */
    bool setSelection (juce::Range<int> bins, juce::Range<int> frames, const MaskMatrix& block, bool clearRestFirst);

    /** Merges a block into the selection: each bin keeps the larger of the two values. */
    bool addToSelection (juce::Range<int> bins, juce::Range<int> frames, const MaskMatrix& block);

    void clearSelection();
    void initMask (int channel);

    //==============================================================================
    /** The window to keep in memory for a requested range: the range widened by half
        its length on each side, clamped to the store and to maxCacheBytes (keeping the
        requested range's centre). */
    juce::Range<int> calculateRangeToCache (juce::Range<int> requested) const;

    /** Fills the back buffer with the window for requested, reading the data files
        without holding a lock and swapping the result in under the back buffer's write
        lock; sets copy pending. Returns false if writes kept invalidating the read. */
    bool cache (juce::Range<int> requested);

    /** Swaps the back buffer to the front (under both write locks) and empties the back. */
    void copyBackToFront();

    /** Rereads both buffers from the data files (after the files changed underneath). */
    void refreshCache();

    /** Writes a block that was just written to the data files into every cache buffer
        that holds some of its frames. */
    void refreshCache (int channel, juce::Range<int> bins, juce::Range<int> frames, const CspecMatrix* cspec,
                       const MaskMatrix* mask);

    juce::Range<int> getFrontRange() const;
    juce::Range<int> getBackRange() const;
    bool isCopyPending() const noexcept { return copyPending.load(); }

    /** For tests that hold a buffer's lock while others read. */
    CacheLock& getFrontLock() noexcept { return frontLock; }
    CacheLock& getBackLock() noexcept { return backLock; }

private:
    class MemoryCopyThread;

    void timerCallback() override;

    template <typename Matrix, typename FileReader, typename BufferPart>
    Matrix readThroughCache (int channel, juce::Range<int> frames, Source source, FileReader readFromFile, BufferPart bufferPart);

    bool isValidChannel (int channel) const noexcept;
    static juce::Range<int> readRange (CacheLock& lock, const Multspec& buffer);
    bool checkBlock (juce::Range<int> bins, juce::Range<int> frames, Eigen::Index rows, Eigen::Index cols) const;
    Multspec readBuffer (juce::Range<int> range) const;
    juce::File chunkFile (int index, const char* extension) const;
    template <typename Fn>
    bool forEachChunkPart (juce::Range<int> frames, Fn&& fn);

    const juce::File dataDirectory;
    const juce::String dataName;

    int numChannels = 0, nFreqs = 0, nFrames = 0;
    std::vector<std::unique_ptr<AsigMemoryChunk>> chunks;

    Multspec front, back;
    mutable CacheLock frontLock, backLock;
    std::atomic<bool> copyPending { false };
    std::atomic<juce::uint64> writeGeneration { 0 };
    juce::ThreadPool copyPool { 1 };

    JUCE_DECLARE_NON_COPYABLE (AsigMemoryManager)
};

} // namespace kalder
