#pragma once

#include "TrackDataFile.h"

#include <atomic>
#include <memory>
#include <vector>

namespace kalder
{

/**
    The data of 1024 consecutive frames of a track: the complex frames of every
    channel, the mask of every channel and the selection, each in its own data file.

    The mask level of a channel is 0 while the channel's mask in this chunk was never
    written: it then reads as all ones without touching the disk. The first write to a
    channel's mask fills its block in the file with ones before the write, so the file
    only ever holds whole, valid channel blocks. The selection level is above 0 while
    any bin of the chunk is selected; never-written parts of the selection file are
    holes and read as 0 (not selected).

    Levels are rebuilt from the files when the chunk is made over existing files.

    Threading: reads from any thread, never blocking. Writes (masks, selection,
    frames) are serialised by an internal lock; readers may see a block half written
    while a write runs, never a torn value. Frame ranges are absolute frame indices.
*/
class AsigMemoryChunk
{
public:
    static constexpr int framesPerChunk = 1024;

    /** Below this a channel's mask in the chunk is all ones and not read from disk. */
    static constexpr float editedMaskLevel = 0.1f;

    AsigMemoryChunk (juce::File cspecFile, juce::File maskFile, juce::File selectionFile, int numChannels, int nFreqs,
                     int numFrames, juce::Range<int> frameRange);

    juce::Range<int> getFrameRange() const noexcept { return frameRange; }

    /** True when every file could be created or opened. */
    bool isValid() const noexcept { return valid; }

    CspecMatrix readComplexFrames (int channel, juce::Range<int> frames) const;
    bool writeComplexFrames (int channel, int firstFrame, const CspecMatrix& block);

    /** nFreqs x length: ones where the mask was never written. */
    MaskMatrix readMaskFrames (int channel, juce::Range<int> frames) const;
    bool setMaskFrames (int channel, juce::Range<int> bins, juce::Range<int> frames, const MaskMatrix& block);
    bool initMask (int channel);

    MaskMatrix readSelectionFromFile (juce::Range<int> frames) const;
    bool setSelection (juce::Range<int> bins, juce::Range<int> frames, const MaskMatrix& block, bool clearRestFirst);
    bool addToSelection (juce::Range<int> bins, juce::Range<int> frames, const MaskMatrix& block);
    bool clearSelection();

    float getMaskLevel (int channel) const noexcept;
    float getSelectionLevel() const noexcept { return selectionLevel.load(); }

    /** The frames whose mask was written (an empty range when none was). */
    juce::Range<int> getEditedFrameRange() const;

    /** The frames that hold a selected bin (an empty range when none). */
    juce::Range<int> getSelectedFrameRange() const;

    void deleteDataFiles();

    std::vector<juce::File> getDataFiles() const;

private:
    bool checkBlock (int channel, juce::Range<int> bins, juce::Range<int> frames, const MaskMatrix& block) const;
    void recountSelection (juce::Range<int> frames);
    void restoreLevelsFromFiles();

    TrackDataFile cspecFile, maskFile, selectionFile;
    const int numChannels, nFreqs;
    const juce::Range<int> frameRange;
    bool valid = true;

    juce::CriticalSection writeLock;
    std::unique_ptr<std::atomic<float>[]> maskLevels;
    std::atomic<float> selectionLevel { 0.0f };
    std::vector<int> selectedBinsPerFrame; // guarded by writeLock
    juce::Range<int> editedFrames;         // guarded by writeLock

    JUCE_DECLARE_NON_COPYABLE (AsigMemoryChunk)
};

} // namespace kalder
