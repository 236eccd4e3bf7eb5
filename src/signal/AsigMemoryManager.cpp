#include "AsigMemoryManager.h"
#include "RangeUtilities.h"

namespace kalder
{

namespace
{
    constexpr int copyTimerIntervalMs = 20;
    constexpr int minimumCacheMarginFrames = 64;
    constexpr int jobShutdownTimeoutMs = 10000;
    constexpr int cacheAttempts = 4;

} // namespace

/** Swaps the refilled back buffer to the front. */
class AsigMemoryManager::MemoryCopyThread : public juce::ThreadPoolJob
{
public:
    explicit MemoryCopyThread (AsigMemoryManager& m) : juce::ThreadPoolJob ("memory copy"), manager (m) {}

    JobStatus runJob() override
    {
        manager.copyBackToFront();
        return jobHasFinished;
    }

private:
    AsigMemoryManager& manager;
};

//==============================================================================
AsigMemoryManager::AsigMemoryManager (juce::File directory, juce::String name)
    : dataDirectory (std::move (directory)), dataName (juce::File::createLegalFileName (name).replaceCharacters ("*?", "__"))
{
    startTimer (copyTimerIntervalMs);
}

AsigMemoryManager::~AsigMemoryManager()
{
    stopTimer();
    copyPool.removeAllJobs (true, jobShutdownTimeoutMs);
}

void AsigMemoryManager::setProperties (int channels, int freqs, int frames)
{
    numChannels = juce::jmax (0, channels);
    nFreqs = juce::jmax (0, freqs);
    nFrames = juce::jmax (0, frames);
}

bool AsigMemoryManager::isReady() const noexcept
{
    return numChannels > 0 && nFreqs > 0 && nFrames > 0 && ! chunks.empty();
}

bool AsigMemoryManager::isValidChannel (int channel) const noexcept
{
    return juce::isPositiveAndBelow (channel, numChannels);
}

juce::File AsigMemoryManager::chunkFile (int index, const char* extension) const
{
    return dataDirectory.getChildFile (dataName + "-" + juce::String (index) + extension);
}

//==============================================================================
juce::Result AsigMemoryManager::createDataFiles()
{
    clearDataFiles();
    return openDataFiles();
}

juce::Result AsigMemoryManager::openDataFiles()
{
    {
        const CacheLock::ScopedWrite f (frontLock);
        const CacheLock::ScopedWrite b (backLock);
        front = {};
        back = {};
    }
    chunks.clear();

    if (numChannels <= 0 || nFreqs <= 0 || nFrames <= 0)
        return juce::Result::fail ("The frame store has no channels, bins or frames");

    if (! dataDirectory.createDirectory())
        return juce::Result::fail ("Cannot create the folder " + dataDirectory.getFullPathName());

    const auto numChunks = (nFrames + AsigMemoryChunk::framesPerChunk - 1) / AsigMemoryChunk::framesPerChunk;
    chunks.reserve ((size_t) numChunks);

    for (int i = 0; i < numChunks; ++i)
    {
        const juce::Range<int> range (i * AsigMemoryChunk::framesPerChunk,
                                      juce::jmin (nFrames, (i + 1) * AsigMemoryChunk::framesPerChunk));
        chunks.push_back (std::make_unique<AsigMemoryChunk> (chunkFile (i, ".frames"), chunkFile (i, ".mask"),
                                                             chunkFile (i, ".selection"), numChannels, nFreqs, range.getLength(),
                                                             range));
        if (! chunks.back()->isValid())
        {
            chunks.clear();
            return juce::Result::fail ("Cannot create the data files in " + dataDirectory.getFullPathName());
        }
    }

    return juce::Result::ok();
}

void AsigMemoryManager::clearDataFiles()
{
    {
        const CacheLock::ScopedWrite f (frontLock);
        const CacheLock::ScopedWrite b (backLock);
        front = {};
        back = {};
    }

    for (auto& chunk : chunks)
        chunk->deleteDataFiles();
    chunks.clear();

    // Files of an earlier analysis with this name may outnumber the current chunks.
    for (const auto* pattern : { "-*.frames", "-*.mask", "-*.selection" })
        for (const auto& f : dataDirectory.findChildFiles (juce::File::findFiles, false, dataName + pattern))
            f.deleteFile();
}

std::vector<juce::File> AsigMemoryManager::getDataFiles() const
{
    std::vector<juce::File> files;
    for (const auto& chunk : chunks)
        for (const auto& f : chunk->getDataFiles())
            files.push_back (f);
    return files;
}

bool AsigMemoryManager::hasAllFrames() const
{
    for (const auto& chunk : chunks)
    {
        const auto expected = (juce::int64) numChannels * chunk->getFrameRange().getLength() * nFreqs
                              * (juce::int64) sizeof (std::complex<float>);
        if (chunk->getDataFiles().front().getSize() != expected)
            return false;
    }
    return true;
}

//==============================================================================
juce::Array<int> AsigMemoryManager::getDataFileIndicesForRange (juce::Range<int> range)
{
    juce::Array<int> indices;
    if (range.isEmpty() || range.getStart() < 0)
        return indices;

    for (int i = range.getStart() / AsigMemoryChunk::framesPerChunk; i <= (range.getEnd() - 1) / AsigMemoryChunk::framesPerChunk;
         ++i)
        indices.add (i);
    return indices;
}

template <typename Fn>
bool AsigMemoryManager::forEachChunkPart (juce::Range<int> frames, Fn&& fn)
{
    for (auto index : getDataFileIndicesForRange (frames))
    {
        if (index >= (int) chunks.size())
            break;
        auto& chunk = *chunks[(size_t) index];
        if (! fn (chunk, frames.getIntersectionWith (chunk.getFrameRange())))
            return false;
    }
    return true;
}

bool AsigMemoryManager::splitRange (juce::Range<int> r, juce::Range<int>* before, juce::Range<int>* inside,
                                    juce::Range<int>* after, const Multspec* cache)
{
    CacheLock* locked = nullptr;
    if (cache == nullptr)
    {
        if (backLock.tryEnterRead())
        {
            locked = &backLock;
            cache = &back;
        }
        else if (frontLock.tryEnterRead())
        {
            locked = &frontLock;
            cache = &front;
        }
        else
        {
            return false;
        }
    }

    const auto c = cache->range;
    const auto insideStart = juce::jmax (c.getStart(), r.getStart());
    // juce::Range never ends before it starts: a reversed pair below is an empty range.
    juce::Range<int> insidePart (insideStart, juce::jmax (insideStart, juce::jmin (r.getEnd(), c.getEnd())));
    if (insidePart.isEmpty())
        insidePart = {};
    const auto beforePart = r.getStart() < c.getStart() ? juce::Range<int> (r.getStart(), juce::jmin (r.getEnd(), c.getStart()))
                                                        : juce::Range<int>();
    const auto afterPart = r.getEnd() > insidePart.getEnd() ? juce::Range<int> (juce::jmax (c.getEnd(), r.getStart()), r.getEnd())
                                                            : juce::Range<int>();

    if (before != nullptr)
        *before = beforePart;
    if (inside != nullptr)
        *inside = insidePart;
    if (after != nullptr)
        *after = afterPart;

    if (locked != nullptr)
        locked->exitRead();
    return true;
}

//==============================================================================
CspecMatrix AsigMemoryManager::readCspecFromFile (int channel, juce::Range<int> frames) const
{
    const auto r = frames.getIntersectionWith ({ 0, nFrames });
    if (r.isEmpty() || ! isValidChannel (channel))
        return {};

    CspecMatrix result;
    const_cast<AsigMemoryManager*> (this)->forEachChunkPart (r, [&] (AsigMemoryChunk& chunk, juce::Range<int> part) {
        auto block = chunk.readComplexFrames (channel, part);
        if (part == r && block.rows() == nFreqs && block.cols() == part.getLength())
        {
            result = std::move (block); // all in one chunk: no copy
            return true;
        }
        if (result.size() == 0)
            result = CspecMatrix::Zero (nFreqs, r.getLength());
        if (block.rows() == nFreqs && block.cols() == part.getLength())
            result.middleCols (part.getStart() - r.getStart(), part.getLength()) = block;
        return true;
    });
    if (result.size() == 0)
        result = CspecMatrix::Zero (nFreqs, r.getLength());
    return result;
}

MaskMatrix AsigMemoryManager::readMaskFromFile (int channel, juce::Range<int> frames) const
{
    const auto r = frames.getIntersectionWith ({ 0, nFrames });
    if (r.isEmpty() || ! isValidChannel (channel))
        return MaskMatrix (nFreqs, 0);

    MaskMatrix result;
    const_cast<AsigMemoryManager*> (this)->forEachChunkPart (r, [&] (AsigMemoryChunk& chunk, juce::Range<int> part) {
        if (chunk.getMaskLevel (channel) >= AsigMemoryChunk::editedMaskLevel)
        {
            auto block = chunk.readMaskFrames (channel, part);
            if (block.rows() == nFreqs && block.cols() == part.getLength())
            {
                if (part == r)
                {
                    result = std::move (block); // all in one chunk: no copy
                    return true;
                }
                if (result.size() == 0)
                    result = MaskMatrix::Ones (nFreqs, r.getLength());
                result.middleCols (part.getStart() - r.getStart(), part.getLength()) = block;
            }
        }
        return true;
    });
    // Parts never edited are ones.
    if (result.size() == 0)
        result = MaskMatrix::Ones (nFreqs, r.getLength());
    return result;
}

template <typename Matrix, typename FileReader, typename BufferPart>
Matrix AsigMemoryManager::readThroughCache (int channel, juce::Range<int> frames, Source source, FileReader readFromFile,
                                            BufferPart bufferPart)
{
    const auto r = frames.getIntersectionWith ({ 0, nFrames });
    if (r.isEmpty())
        return {};

    if (source != Source::files)
    {
        for (auto* candidate : { &frontLock, &backLock })
        {
            if (! candidate->tryEnterRead())
                continue;

            const auto& buffer = candidate == &frontLock ? front : back;
            juce::Range<int> before, inside, after;
            splitRange (r, &before, &inside, &after, &buffer);

            Matrix result (nFreqs, r.getLength());
            const auto& source = bufferPart (buffer);
            const bool haveInside = ! inside.isEmpty() && juce::isPositiveAndBelow (channel, (int) source.size());
            if (haveInside)
                result.middleCols (inside.getStart() - r.getStart(), inside.getLength()) = source[(size_t) channel].middleCols (
                    inside.getStart() - buffer.range.getStart(), inside.getLength());
            candidate->exitRead();

            // The data files are the truth for what the buffer does not hold; read them
            // without holding the lock.
            if (! haveInside)
                return readFromFile (channel, r);
            if (! before.isEmpty())
                result.middleCols (0, before.getLength()) = readFromFile (channel, before);
            if (! after.isEmpty())
                result.middleCols (after.getStart() - r.getStart(), after.getLength()) = readFromFile (channel, after);
            return result;
        }
    }

    if (source == Source::cacheOnly)
        return {};
    return readFromFile (channel, r);
}

CspecMatrix AsigMemoryManager::getCspecFrames (int channel, juce::Range<int> frames, Source source)
{
    if (! isReady() || ! isValidChannel (channel))
        return CspecMatrix::Zero (nFreqs, juce::jmax (0, frames.getLength()));

    return readThroughCache<CspecMatrix> (
        channel, frames, source, [this] (int c, juce::Range<int> r) { return readCspecFromFile (c, r); },
        [] (const Multspec& m) -> const std::vector<CspecMatrix>& { return m.cspec; });
}

MaskMatrix AsigMemoryManager::getMaskFrames (int channel, juce::Range<int> frames, Source source)
{
    if (! isReady() || ! isValidChannel (channel))
        return MaskMatrix::Ones (nFreqs, juce::jmax (0, frames.getLength()));

    return readThroughCache<MaskMatrix> (
        channel, frames, source, [this] (int c, juce::Range<int> r) { return readMaskFromFile (c, r); },
        [] (const Multspec& m) -> const std::vector<MaskMatrix>& { return m.mask; });
}

MaskMatrix AsigMemoryManager::getSelection (juce::Range<int> frames)
{
    const auto r = frames.getIntersectionWith ({ 0, nFrames });
    if (r.isEmpty())
        return MaskMatrix (nFreqs, 0);

    MaskMatrix result = MaskMatrix::Zero (nFreqs, r.getLength());
    forEachChunkPart (r, [&] (AsigMemoryChunk& chunk, juce::Range<int> part) {
        if (chunk.getSelectionLevel() > 0.0f)
        {
            const auto block = chunk.readSelectionFromFile (part);
            if (block.rows() == nFreqs && block.cols() == part.getLength())
                result.middleCols (part.getStart() - r.getStart(), part.getLength()) = block;
        }
        return true;
    });
    return result;
}

AsigMemoryManager::SelectionBlock AsigMemoryManager::getSelection()
{
    SelectionBlock block;
    if (! isReady())
        return block;

    const auto frames = getSelectedFrameRange();
    if (frames.isEmpty())
        return block;

    const auto values = getSelection (frames);
    const Eigen::VectorXf rowSums = values.rowwise().sum();
    int first = -1, last = -1;
    for (int b = 0; b < (int) rowSums.size(); ++b)
    {
        if (rowSums[b] > 0.0f)
        {
            if (first < 0)
                first = b;
            last = b;
        }
    }
    if (first < 0)
        return block;

    block.frames = frames;
    block.bins = { first, last + 1 };
    block.values = values.middleRows (first, last + 1 - first);
    return block;
}

bool AsigMemoryManager::hasSelection() const noexcept
{
    for (const auto& chunk : chunks)
        if (chunk->getSelectionLevel() > 0.0f)
            return true;
    return false;
}

juce::Range<int> AsigMemoryManager::getSelectedFrameRange (juce::Range<int> within) const
{
    juce::Range<int> r;
    for (const auto& chunk : chunks)
        if (chunk->getSelectionLevel() > 0.0f && chunk->getFrameRange().intersects (within))
            r = unionOf (r, chunk->getSelectedFrameRange().getIntersectionWith (within));
    return r;
}

juce::Range<int> AsigMemoryManager::getEditedFrameRange() const
{
    juce::Range<int> r;
    for (const auto& chunk : chunks)
        r = unionOf (r, chunk->getEditedFrameRange());
    return r;
}

//==============================================================================
bool AsigMemoryManager::checkBlock (juce::Range<int> bins, juce::Range<int> frames, Eigen::Index rows, Eigen::Index cols) const
{
    const bool ok = isReady() && ! bins.isEmpty() && ! frames.isEmpty() && bins.getStart() >= 0 && bins.getEnd() <= nFreqs
                    && frames.getStart() >= 0 && frames.getEnd() <= nFrames && rows == bins.getLength()
                    && cols == frames.getLength();
    jassert (ok); // a block of the wrong shape or outside the store is a programming error
    return ok;
}

bool AsigMemoryManager::setCspecFrames (int channel, juce::Range<int> frames, const CspecMatrix& block)
{
    if (! isValidChannel (channel) || ! checkBlock ({ 0, nFreqs }, frames, block.rows(), block.cols()))
        return false;

    const bool written = forEachChunkPart (frames, [&] (AsigMemoryChunk& chunk, juce::Range<int> part) {
        if (part == frames)
            return chunk.writeComplexFrames (channel, part.getStart(), block);
        const CspecMatrix sub = block.middleCols (part.getStart() - frames.getStart(), part.getLength());
        return chunk.writeComplexFrames (channel, part.getStart(), sub);
    });
    // Counted after the write and before the caches are patched: a cache fill that read
    // before the write either sees the count change and reads again, or swaps its
    // buffer in before the patch below reaches it.
    ++writeGeneration;

    refreshCache (channel, { 0, nFreqs }, frames, &block, nullptr);
    return written;
}

bool AsigMemoryManager::setMaskFrames (int channel, juce::Range<int> frames, const MaskMatrix& block)
{
    return setMaskFrames (channel, { 0, nFreqs }, frames, block);
}

bool AsigMemoryManager::setMaskFrames (int channel, juce::Range<int> bins, juce::Range<int> frames, const MaskMatrix& block)
{
    if (! isValidChannel (channel) || ! checkBlock (bins, frames, block.rows(), block.cols()))
        return false;

    const bool written = forEachChunkPart (frames, [&] (AsigMemoryChunk& chunk, juce::Range<int> part) {
        if (part == frames)
            return chunk.setMaskFrames (channel, bins, part, block);
        const MaskMatrix sub = block.middleCols (part.getStart() - frames.getStart(), part.getLength());
        return chunk.setMaskFrames (channel, bins, part, sub);
    });
    ++writeGeneration; // after the write, before the patch (see setCspecFrames)

    // Even after a failed write the caches must show what the files hold.
    if (written)
        refreshCache (channel, bins, frames, nullptr, &block);
    else
        refreshCache();
    return written;
}

bool AsigMemoryManager::setSelection (juce::Range<int> bins, juce::Range<int> frames, const MaskMatrix& block,
                                      bool clearRestFirst)
{
    if (! checkBlock (bins, frames, block.rows(), block.cols()))
        return false;

    if (clearRestFirst)
        clearSelection();

    return forEachChunkPart (frames, [&] (AsigMemoryChunk& chunk, juce::Range<int> part) {
        const MaskMatrix sub = block.middleCols (part.getStart() - frames.getStart(), part.getLength());
        return chunk.setSelection (bins, part, sub, false);
    });
}

bool AsigMemoryManager::addToSelection (juce::Range<int> bins, juce::Range<int> frames, const MaskMatrix& block)
{
    if (! checkBlock (bins, frames, block.rows(), block.cols()))
        return false;

    return forEachChunkPart (frames, [&] (AsigMemoryChunk& chunk, juce::Range<int> part) {
        const MaskMatrix sub = block.middleCols (part.getStart() - frames.getStart(), part.getLength());
        return chunk.addToSelection (bins, part, sub);
    });
}

void AsigMemoryManager::clearSelection()
{
    for (auto& chunk : chunks)
        chunk->clearSelection();
}

void AsigMemoryManager::initMask (int channel)
{
    if (! isValidChannel (channel))
        return;

    for (auto& chunk : chunks)
        chunk->initMask (channel);
    ++writeGeneration; // after the write, before the patch (see setCspecFrames)

    for (auto* buffer : { &front, &back })
    {
        auto& lock = buffer == &front ? frontLock : backLock;
        const CacheLock::ScopedWrite sw (lock);
        if (channel < (int) buffer->mask.size())
            buffer->mask[(size_t) channel].setOnes();
    }
}

//==============================================================================
juce::Range<int> AsigMemoryManager::calculateRangeToCache (juce::Range<int> requested) const
{
    const auto r = requested.getIntersectionWith ({ 0, nFrames });
    if (r.isEmpty() || nFreqs <= 0 || numChannels <= 0)
        return {};

    const auto margin = juce::jmax (minimumCacheMarginFrames, r.getLength() / 2);
    auto window = juce::Range<int> (r.getStart() - margin, r.getEnd() + margin).getIntersectionWith ({ 0, nFrames });

    const auto bytesPerFrame = (size_t) nFreqs * (size_t) numChannels * (sizeof (std::complex<float>) + sizeof (float));
    const auto maxFrames = (int) juce::jmax ((size_t) 1, maxCacheBytes / bytesPerFrame);
    if (window.getLength() > maxFrames)
    {
        const auto centre = r.getStart() + r.getLength() / 2;
        const auto start = juce::jlimit (0, juce::jmax (0, nFrames - maxFrames), centre - maxFrames / 2);
        window = { start, start + maxFrames };
    }
    return window;
}

AsigMemoryManager::Multspec AsigMemoryManager::readBuffer (juce::Range<int> range) const
{
    Multspec m;
    m.range = range;
    for (int c = 0; c < numChannels; ++c)
    {
        m.cspec.push_back (readCspecFromFile (c, range));
        m.mask.push_back (readMaskFromFile (c, range));
    }
    return m;
}

bool AsigMemoryManager::cache (juce::Range<int> requested)
{
    const auto target = calculateRangeToCache (requested);
    if (target.isEmpty() || ! isReady())
        return false;

    for (int attempt = 0; attempt < cacheAttempts; ++attempt)
    {
        const auto generation = writeGeneration.load();
        auto filled = readBuffer (target);

        const CacheLock::ScopedWrite sw (backLock);
        if (generation != writeGeneration.load())
            continue; // a write landed while we read: its frames may be stale in filled

        std::swap (back, filled);
        copyPending = true;
        return true; // the old back buffer is freed after the lock is released
    }
    return false;
}

void AsigMemoryManager::copyBackToFront()
{
    Multspec old;
    {
        const CacheLock::ScopedWrite b (backLock);
        const CacheLock::ScopedWrite f (frontLock);
        old = std::move (front);
        front = std::move (back);
        back = Multspec();
    }
}

void AsigMemoryManager::refreshCache()
{
    for (int attempt = 0; attempt < cacheAttempts; ++attempt)
    {
        const auto generation = writeGeneration.load();
        auto newFront = readBuffer (getFrontRange());
        auto newBack = readBuffer (getBackRange());

        const CacheLock::ScopedWrite b (backLock);
        const CacheLock::ScopedWrite f (frontLock);
        if (generation != writeGeneration.load())
            continue;
        std::swap (front, newFront);
        std::swap (back, newBack);
        return;
    }
}

void AsigMemoryManager::refreshCache (int channel, juce::Range<int> bins, juce::Range<int> frames, const CspecMatrix* cspec,
                                      const MaskMatrix* mask)
{
    for (auto* buffer : { &front, &back })
    {
        auto& lock = buffer == &front ? frontLock : backLock;
        const CacheLock::ScopedWrite sw (lock);

        const auto part = frames.getIntersectionWith (buffer->range);
        if (part.isEmpty())
            continue;

        const auto destCol = part.getStart() - buffer->range.getStart();
        const auto srcCol = part.getStart() - frames.getStart();

        if (cspec != nullptr && channel < (int) buffer->cspec.size())
            buffer->cspec[(size_t) channel].block (bins.getStart(), destCol, bins.getLength(), part.getLength()) = cspec->block (
                0, srcCol, bins.getLength(), part.getLength());

        if (mask != nullptr && channel < (int) buffer->mask.size())
            buffer->mask[(size_t) channel].block (bins.getStart(), destCol, bins.getLength(),
                                                  part.getLength()) = mask->block (0, srcCol, bins.getLength(), part.getLength());
    }
}

juce::Range<int> AsigMemoryManager::getFrontRange() const
{
    return readRange (frontLock, front);
}

juce::Range<int> AsigMemoryManager::getBackRange() const
{
    return readRange (backLock, back);
}

juce::Range<int> AsigMemoryManager::readRange (CacheLock& lock, const Multspec& buffer)
{
    while (! lock.tryEnterRead())
        std::this_thread::yield();
    const auto r = buffer.range;
    lock.exitRead();
    return r;
}

void AsigMemoryManager::timerCallback()
{
    if (copyPending.exchange (false))
        copyPool.addJob (new MemoryCopyThread (*this), true);
}

} // namespace kalder
