#include "AsigMemoryChunk.h"
#include "RangeUtilities.h"

namespace kalder
{

AsigMemoryChunk::AsigMemoryChunk (juce::File cspec, juce::File mask, juce::File selection, int channels, int freqs, int numFrames,
                                  juce::Range<int> range)
    : cspecFile (std::move (cspec), freqs, numFrames, channels, TrackDataFile::ValueType::complex),
      maskFile (std::move (mask), freqs, numFrames, channels),
      selectionFile (std::move (selection), freqs, numFrames, 1),
      numChannels (juce::jmax (0, channels)),
      nFreqs (juce::jmax (0, freqs)),
      frameRange (range),
      maskLevels (new std::atomic<float>[(size_t) juce::jmax (1, channels)]),
      selectedBinsPerFrame ((size_t) juce::jmax (0, numFrames), 0)
{
    jassert (range.getLength() == numFrames);

    for (int c = 0; c < juce::jmax (1, numChannels); ++c)
        maskLevels[(size_t) c] = 0.0f;

    const bool anyImported = maskFile.wasImported() || selectionFile.wasImported();
    valid = cspecFile.create() && maskFile.create() && selectionFile.create();

    if (anyImported)
        restoreLevelsFromFiles();
}

void AsigMemoryChunk::restoreLevelsFromFiles()
{
    const juce::ScopedLock sl (writeLock);
    const auto length = frameRange.getLength();

    for (int c = 0; c < maskFile.getNumChannelsOnDisk(); ++c)
    {
        const auto block = maskFile.readFrames (c, { 0, length });
        bool edited = false;
        for (int f = 0; f < block.cols(); ++f)
        {
            if ((block.col (f).array() != 1.0f).any())
            {
                edited = true;
                editedFrames = unionOf (editedFrames, { frameRange.getStart() + f, frameRange.getStart() + f + 1 });
            }
        }
        maskLevels[(size_t) c] = edited ? 1.0f : 0.0f;
    }

    if (selectionFile.getFile().getSize() > 0)
        recountSelection (frameRange);
}

bool AsigMemoryChunk::checkBlock (int channel, juce::Range<int> bins, juce::Range<int> frames, const MaskMatrix& block) const
{
    const bool ok = channel >= 0 && channel < juce::jmax (1, numChannels) && ! bins.isEmpty() && ! frames.isEmpty()
                    && bins.getStart() >= 0 && bins.getEnd() <= nFreqs && frameRange.contains (frames)
                    && block.rows() == bins.getLength() && block.cols() == frames.getLength();
    jassert (ok);
    return ok;
}

CspecMatrix AsigMemoryChunk::readComplexFrames (int channel, juce::Range<int> frames) const
{
    const auto r = frames.getIntersectionWith (frameRange);
    if (r.isEmpty())
        return {};
    auto m = cspecFile.readComplexFrames (channel, r - frameRange.getStart());
    if (m.size() == 0 && juce::isPositiveAndBelow (channel, numChannels))
        return CspecMatrix::Zero (nFreqs, r.getLength());
    return m;
}

bool AsigMemoryChunk::writeComplexFrames (int channel, int firstFrame, const CspecMatrix& block)
{
    const juce::ScopedLock sl (writeLock);
    return cspecFile.writeComplexFrames (channel, 0, firstFrame - frameRange.getStart(), block);
}

MaskMatrix AsigMemoryChunk::readMaskFrames (int channel, juce::Range<int> frames) const
{
    const auto r = frames.getIntersectionWith (frameRange);
    if (r.isEmpty())
        return {};
    if (getMaskLevel (channel) < editedMaskLevel)
        return MaskMatrix::Ones (nFreqs, r.getLength());
    return maskFile.readFrames (channel, r - frameRange.getStart());
}

bool AsigMemoryChunk::setMaskFrames (int channel, juce::Range<int> bins, juce::Range<int> frames, const MaskMatrix& block)
{
    if (! checkBlock (channel, bins, frames, block) || channel >= numChannels)
        return false;

    const juce::ScopedLock sl (writeLock);
    const auto length = frameRange.getLength();

    if (maskLevels[(size_t) channel] < editedMaskLevel)
    {
        // Holes would read as a mask of 0: give every block up to this channel its ones
        // first. The block of this channel is written whole even when it lies on disk
        // already, in case an earlier fill was cut short (a full disk).
        const auto onDisk = juce::jmin (maskFile.getNumChannelsOnDisk(), channel);
        for (int c = onDisk; c <= channel; ++c)
            if (! maskFile.fillFrames (c, { 0, length }, 1.0f))
                return false;
    }

    if (! maskFile.writeFrames (channel, bins.getStart(), frames.getStart() - frameRange.getStart(), block))
        return false;

    maskLevels[(size_t) channel] = 1.0f;
    editedFrames = unionOf (editedFrames, frames);
    return true;
}

bool AsigMemoryChunk::initMask (int channel)
{
    if (! juce::isPositiveAndBelow (channel, numChannels))
        return false;

    const juce::ScopedLock sl (writeLock);
    if (maskLevels[(size_t) channel] < editedMaskLevel)
        return true;

    maskLevels[(size_t) channel] = 0.0f;

    bool anyEdited = false;
    for (int c = 0; c < numChannels; ++c)
        anyEdited = anyEdited || maskLevels[(size_t) c] >= editedMaskLevel;

    if (! anyEdited)
    {
        editedFrames = {};
        return maskFile.truncateToChannels (0);
    }

    // Keep the file a true copy of the mask, so that reopening it restores the levels.
    return maskFile.fillFrames (channel, { 0, frameRange.getLength() }, 1.0f);
}

float AsigMemoryChunk::getMaskLevel (int channel) const noexcept
{
    if (! juce::isPositiveAndBelow (channel, numChannels))
        return 0.0f;
    return maskLevels[(size_t) channel].load();
}

MaskMatrix AsigMemoryChunk::readSelectionFromFile (juce::Range<int> frames) const
{
    const auto r = frames.getIntersectionWith (frameRange);
    if (r.isEmpty())
        return {};
    if (selectionLevel.load() <= 0.0f)
        return MaskMatrix::Zero (nFreqs, r.getLength());
    return selectionFile.readFrames (0, r - frameRange.getStart());
}

void AsigMemoryChunk::recountSelection (juce::Range<int> frames)
{
    const auto r = frames.getIntersectionWith (frameRange);
    if (! r.isEmpty())
    {
        const auto columns = selectionFile.readFrames (0, r - frameRange.getStart());
        for (int f = 0; f < columns.cols(); ++f)
            selectedBinsPerFrame[(size_t) (r.getStart() - frameRange.getStart() + f)] = (int) (columns.col (f).array() > 0.0f)
                                                                                            .count();
    }

    bool any = false;
    for (auto n : selectedBinsPerFrame)
        any = any || n > 0;
    selectionLevel = any ? 1.0f : 0.0f;
}

bool AsigMemoryChunk::setSelection (juce::Range<int> bins, juce::Range<int> frames, const MaskMatrix& block, bool clearRestFirst)
{
    if (! checkBlock (0, bins, frames, block))
        return false;

    const juce::ScopedLock sl (writeLock);
    if (clearRestFirst && ! clearSelection())
        return false;

    if (! selectionFile.writeFrames (0, bins.getStart(), frames.getStart() - frameRange.getStart(), block))
        return false;

    recountSelection (frames);
    return true;
}

bool AsigMemoryChunk::addToSelection (juce::Range<int> bins, juce::Range<int> frames, const MaskMatrix& block)
{
    if (! checkBlock (0, bins, frames, block))
        return false;

    const juce::ScopedLock sl (writeLock);
    const auto current = readSelectionFromFile (frames);
    const MaskMatrix merged = current.middleRows (bins.getStart(), bins.getLength()).cwiseMax (block);

    if (! selectionFile.writeFrames (0, bins.getStart(), frames.getStart() - frameRange.getStart(), merged))
        return false;

    recountSelection (frames);
    return true;
}

bool AsigMemoryChunk::clearSelection()
{
    const juce::ScopedLock sl (writeLock);
    std::fill (selectedBinsPerFrame.begin(), selectedBinsPerFrame.end(), 0);
    selectionLevel = 0.0f;
    return selectionFile.truncateToChannels (0);
}

juce::Range<int> AsigMemoryChunk::getEditedFrameRange() const
{
    const juce::ScopedLock sl (writeLock);
    return editedFrames;
}

juce::Range<int> AsigMemoryChunk::getSelectedFrameRange() const
{
    const juce::ScopedLock sl (writeLock);
    juce::Range<int> r;
    for (size_t f = 0; f < selectedBinsPerFrame.size(); ++f)
        if (selectedBinsPerFrame[f] > 0)
            r = unionOf (r, { frameRange.getStart() + (int) f, frameRange.getStart() + (int) f + 1 });
    return r;
}

void AsigMemoryChunk::deleteDataFiles()
{
    const juce::ScopedLock sl (writeLock);
    cspecFile.deleteFile();
    maskFile.deleteFile();
    selectionFile.deleteFile();
}

std::vector<juce::File> AsigMemoryChunk::getDataFiles() const
{
    return { cspecFile.getFile(), maskFile.getFile(), selectionFile.getFile() };
}

} // namespace kalder
