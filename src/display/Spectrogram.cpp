#include "Spectrogram.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kalder
{

namespace
{
    constexpr int timerHz = 60;
    constexpr int jobStopTimeoutMs = 5000;
    // Levels of silent bins: far below any dynamic range.
    constexpr float silentBelowDb = -180.0f;
    constexpr juce::uint32 followAnalysisMs = 500;
} // namespace

/** Computes queued chunks, a chunk column at a time, until the queue is empty. */
class Spectrogram::LoadJob : public juce::ThreadPoolJob
{
public:
    explicit LoadJob (Spectrogram& s) : juce::ThreadPoolJob ("Spectrogram recache"), owner (s) {}

    JobStatus runJob() override
    {
        int column = 0;
        std::vector<int> rows;
        std::vector<juce::uint32> counts;
        ColourMapping mapping;
        AudioTrack::Content::Ptr content;
        juce::uint64 serial = 0;
        while (! shouldExit() && owner.takeWork (column, rows, counts, mapping, content, serial))
        {
            computeColumn (column, rows, counts, mapping, content, serial);
            owner.finishWork (serial, column, rows, counts);
        }
        return jobHasFinished;
    }

private:
    /** The channels' mean magnitude of what the mask lets through over frames [from, to),
        and their selection when the store has one. */
    static void readFramesOf (Asig& asig, int from, int to, Eigen::ArrayXXf& magnitude, Eigen::ArrayXXf& selection)
    {
        const auto numFreqs = asig.getNumFreqs(), length = to - from, channels = asig.getNumChannels();
        magnitude = Eigen::ArrayXXf::Zero (numFreqs, length);
        for (int c = 0; c < channels; ++c)
        {
            const auto masked = asig.readFrames (c, { from, to }, asig.getMaskUse(), Asig::SelectionGain::none);
            if (masked.rows() == numFreqs && masked.cols() == length)
                magnitude += masked.array().abs2().sqrt(); // not abs(): hypot is several times slower
        }
        magnitude /= (float) juce::jmax (1, channels);
        selection.resize (0, 0);
        if (asig.hasSelection())
        {
            const MaskMatrix s = asig.getSelection ({ from, to });
            if (s.rows() == numFreqs && s.cols() == length)
                selection = s.array();
        }
    }

    /** The level's columns over frames: each the loudest of its sampled frames. */
    static void readColumns (Asig& asig, juce::Range<int> frames, int level, Eigen::ArrayXXf& magnitude,
                             Eigen::ArrayXXf& selection)
    {
        const auto step = 1 << level, samples = juce::jmin (step, samplesPerColumn);
        const auto numColumns = (frames.getLength() + step - 1) / step;
        if (level == 0)
            return readFramesOf (asig, frames.getStart(), frames.getEnd(), magnitude, selection);
        magnitude = Eigen::ArrayXXf::Zero (asig.getNumFreqs(), numColumns);
        selection.resize (0, 0);
        const bool selected = asig.hasSelection();
        if (selected)
            selection = Eigen::ArrayXXf::Zero (asig.getNumFreqs(), numColumns);
        Eigen::ArrayXXf m, s;
        auto take = [&] (int x, const Eigen::ArrayXXf& from, const Eigen::ArrayXXf& fromSelection, int first, int count) {
            for (int k = first; k < first + count; ++k)
            {
                magnitude.col (x) = magnitude.col (x).max (from.col (k));
                if (selected && fromSelection.cols() == from.cols())
                    selection.col (x) = selection.col (x).max (fromSelection.col (k));
            }
        };
        if (samples == step)
        {
            // Every frame: one read, pooled.
            readFramesOf (asig, frames.getStart(), frames.getEnd(), m, s);
            for (int x = 0; x < numColumns; ++x)
                take (x, m, s, x * step, juce::jmin (step, frames.getLength() - x * step));
            return;
        }
        for (int x = 0; x < numColumns; ++x)
            for (int k = 0; k < samples; ++k)
            {
                const auto f = frames.getStart() + x * step + k * step / samples;
                if (f >= frames.getEnd())
                    break;
                readFramesOf (asig, f, f + 1, m, s);
                take (x, m, s, 0, 1);
            }
    }

    void computeColumn (int columnIndex, const std::vector<int>& rows, const std::vector<juce::uint32>& counts,
                        const ColourMapping& mapping, const AudioTrack::Content::Ptr& content, juce::uint64 serial)
    {
        auto* asig = content != nullptr ? content->asig.get() : nullptr;
        if (asig == nullptr || ! asig->isReady())
            return;
        const auto numFrames = asig->getNumFrames(), numFreqs = asig->getNumFreqs();
        const auto level = levelOf (columnIndex);
        const auto spanned = owner.framesOf (columnIndex);
        const juce::Range<int> frames (spanned.getStart(), juce::jmin (numFrames, spanned.getEnd()));
        if (frames.isEmpty())
            return;

        Eigen::ArrayXXf magnitude, selection;
        readColumns (*asig, frames, level, magnitude, selection);
        const auto width = (size_t) magnitude.cols();

        // The colours of 1024 levels from the quietest to the loudest (0.1 dB apart at
        // 90 dB of range): one lookup a pixel instead of the colour rule.
        constexpr int steps = 1024;
        std::array<Pixel, steps> colours;
        const auto span = mapping.maxLevel - mapping.minLevel;
        for (int i = 0; i < steps; ++i)
            colours[(size_t) i] = mapping.colourOf (mapping.minLevel + span * (float) i / (float) (steps - 1));
        const bool hasSelection = selection.rows() == numFreqs && selection.cols() == magnitude.cols();

        // Every bin's colour index at once (vectorised), then turned so that a chunk's row
        // is a contiguous run of frames: the chunks are stored row by row.
        using RowMajorIndices = Eigen::Array<std::uint16_t, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
        using RowMajorBytes = Eigen::Array<std::uint8_t, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
        constexpr float tiny = 1.0e-20f; // -400 dB: below any range, so the quietest colour
        const auto toIndex = span > 0.0f ? (float) (steps - 1) / span : 0.0f;
        const RowMajorIndices levels = ((magnitude.max (tiny).log10() * 20.0f - mapping.minLevel) * toIndex)
                                           .unaryExpr ([] (float v) {
                                               // Clamped to the table; not a number (a damaged frame) is the quietest colour.
                                               return v > 0.0f ? (std::uint16_t) (juce::jmin (v, (float) (steps - 1)) + 0.5f)
                                                               : std::uint16_t (0);
                                           });
        RowMajorBytes selected;
        if (hasSelection)
            selected = (selection * 255.0f).unaryExpr ([] (float v) {
                return v > 0.0f ? (std::uint8_t) (juce::jmin (v, 255.0f) + 0.5f) : std::uint8_t (0);
            });

        for (size_t k = 0; k < rows.size(); ++k)
        {
            auto chunk = std::make_shared<Chunk>();
            chunk->index = columnIndex + rows[k];
            chunk->pixels.assign ((size_t) pixelsPerChunk, Pixel {});
            chunk->selected.assign ((size_t) pixelsPerChunk, 0);
            const juce::Range<int> bins (rows[k] * chunkSize, juce::jmin (numFreqs, (rows[k] + 1) * chunkSize));
            for (int b = bins.getStart(); b < bins.getEnd(); ++b)
            {
                const auto y = (size_t) (b - bins.getStart()) * chunkSize;
                const auto* level = levels.data() + (size_t) b * width;
                auto* out = chunk->pixels.data() + y;
                for (size_t f = 0; f < width; ++f)
                    out[f] = colours[level[f]];
                if (hasSelection)
                    std::copy_n (selected.data() + (size_t) b * width, width, chunk->selected.data() + y);
            }
            const auto index = chunk->index;
            owner.publish (serial, index, counts[k], std::move (chunk));
        }
    }

    Spectrogram& owner;
};

//==============================================================================
Spectrogram::Spectrogram (size_t budgetBytes) : budget (juce::jmax (bytesPerChunk, budgetBytes))
{
    if (juce::MessageManager::getInstanceWithoutCreating() != nullptr)
        startTimerHz (timerHz);
}

Spectrogram::~Spectrogram()
{
    stopTimer();
    pool.removeAllJobs (true, jobStopTimeoutMs);
}

void Spectrogram::setTrack (AudioTrack::Ptr newTrack)
{
    {
        const juce::ScopedLock sl (lock);
        track = std::move (newTrack);
        content = track != nullptr ? track->getContent() : nullptr;
        resetLocked();
    }
    updateMinAndMax();
}

AudioTrack::Ptr Spectrogram::getTrack() const
{
    const juce::ScopedLock sl (lock);
    return track;
}

void Spectrogram::setSettings (const SpectrogramSettings& newSettings)
{
    {
        const juce::ScopedLock sl (lock);
        if (newSettings == settings)
            return;
        settings = newSettings;
    }
    updateMinAndMax();
}

SpectrogramSettings Spectrogram::getSettings() const
{
    const juce::ScopedLock sl (lock);
    return settings;
}

ColourMapping Spectrogram::getColourMapping() const
{
    const juce::ScopedLock sl (lock);
    return mapping;
}

void Spectrogram::updateMinAndMax()
{
    const juce::ScopedLock sl (lock);
    auto loudest = -std::numeric_limits<float>::infinity();
    // The levels are written at the end of the analysis: read once the track says so;
    // until then the loudest level of the frames analysed so far stands in.
    auto* asig = content != nullptr ? content->asig.get() : nullptr;
    if (asig != nullptr && track != nullptr && track->isStoreReady())
    {
        for (auto level : asig->getAverageLogSpectrum())
            if (std::isfinite (level))
                loudest = std::max (loudest, level);
    }
    else if (asig != nullptr)
        loudest = asig->getLoudestAnalysedLevel();
    provisionalLevel = loudest;
    // The store's floor (about -200 dB) is silence: a silent track keeps 0 dB at the top.
    const bool silent = ! std::isfinite (loudest) || loudest <= silentBelowDb;
    mapping = ColourMapping::fromSettings (settings, silent ? 0.0f : loudest + peakHeadroomDb);
    for (auto& [index, entry] : entries)
        markStaleLocked (index);
    queueWantedLocked();
}

void Spectrogram::resetLocked()
{
    ++trackSerial; // jobs of the old track publish nothing
    mappedForAnalysedStore = track != nullptr && track->isStoreReady();
    entries.clear();
    queue.clear();
    wanted.clear();
    auto* asig = content != nullptr ? content->asig.get() : nullptr;
    const bool ready = asig != nullptr && asig->isReady();
    width = ready ? asig->getNumFrames() : 0;
    height = ready ? asig->getNumFreqs() : 0;
    seenEdits = ready ? asig->getEditGeneration() : 0;
    ++imageVersion;
    recomputeWantedLocked();
}

//==============================================================================
int Spectrogram::levelFor (int visibleFrames, int viewPixels) noexcept
{
    int level = 0;
    while (level < maxLevel && viewPixels > 0 && (juce::int64) viewPixels << (level + 1) <= (juce::int64) visibleFrames)
        ++level;
    return level;
}

std::vector<int> Spectrogram::getChunksCovering (juce::Range<int> frames, juce::Range<int> rows, int level) const
{
    std::vector<int> result;
    level = juce::jlimit (0, maxLevel, level);
    const auto f = frames.getIntersectionWith ({ 0, getImageWidth() });
    const auto r = rows.getIntersectionWith ({ 0, getImageHeight() });
    if (f.isEmpty() || r.isEmpty())
        return result;
    const auto span = framesPerChunk (level);
    for (int c = f.getStart() / span; c <= (f.getEnd() - 1) / span; ++c)
        for (int row = r.getStart() / chunkSize; row <= (r.getEnd() - 1) / chunkSize; ++row)
            result.push_back (getChunkIndex (c, row, level));
    return result;
}

std::vector<Spectrogram::ChunkPtr> Spectrogram::getChunksToDraw (juce::Range<int> frames, juce::Range<int> rows, int level) const
{
    const auto covering = getChunksCovering (frames, rows, level);
    const juce::ScopedLock sl (lock);
    auto find = [this] (int index) -> ChunkPtr {
        const auto it = entries.find (index);
        return it != entries.end() ? it->second.chunk : nullptr;
    };
    std::vector<ChunkPtr> under, own;
    own.reserve (covering.size());
    for (auto index : covering)
    {
        if (auto chunk = find (index))
        {
            own.push_back (std::move (chunk));
            continue;
        }
        // Not made yet: the nearest coarser chunk over it, or else the finer ones below it.
        const auto column = columnOf (index), row = rowOf (index);
        bool found = false;
        for (int up = level + 1; up <= maxLevel && ! found; ++up)
        {
            const auto parent = getChunkIndex (column >> (up - level), row, up);
            if (auto chunk = find (parent))
            {
                found = true;
                // A parent covers several of the view's chunks: drawn once (a few at most).
                if (std::none_of (under.begin(), under.end(), [parent] (const ChunkPtr& c) { return c->index == parent; }))
                    under.push_back (std::move (chunk));
            }
        }
        if (! found && level > 0)
            for (int half = 0; half < 2; ++half)
                if (auto chunk = find (getChunkIndex (column * 2 + half, row, level - 1)))
                    under.push_back (std::move (chunk));
    }
    under.insert (under.end(), own.begin(), own.end());
    return under;
}

void Spectrogram::setVisibleArea (juce::Range<int> frames, juce::Range<int> rows, int level)
{
    const juce::ScopedLock sl (lock);
    visibleFrames = frames;
    visibleRows = rows;
    visibleLevel = juce::jlimit (0, maxLevel, level);
    recomputeWantedLocked();
}

int Spectrogram::getVisibleLevel() const
{
    const juce::ScopedLock sl (lock);
    return visibleLevel;
}

void Spectrogram::recomputeWantedLocked()
{
    const auto frames = visibleFrames, rows = visibleRows;
    const auto level = visibleLevel;
    const auto margin = framesPerChunk (level);
    auto chunks = getChunksCovering ({ frames.getStart() - margin, frames.getEnd() + margin },
                                     { rows.getStart() - chunkSize, rows.getEnd() + chunkSize }, level);
    // Nearest to the centre of the view first.
    const auto cx = (frames.getStart() + frames.getEnd()) * 0.5 / margin,
               cy = (rows.getStart() + rows.getEnd()) * 0.5 / chunkSize;
    std::stable_sort (chunks.begin(), chunks.end(), [&] (int a, int b) {
        auto distance = [&] (int i) { return std::hypot (columnOf (i) + 0.5 - cx, rowOf (i) + 0.5 - cy); };
        return distance (a) < distance (b);
    });
    // No more than the budget holds, or the far ones would push the near ones out.
    chunks.resize (juce::jmin (chunks.size(), budget / bytesPerChunk));
    wanted = std::move (chunks);
    ++wantCounter;
    for (auto i : wanted)
        entries[i].lastWanted = wantCounter;
    queueWantedLocked();
    evictLocked();
}

void Spectrogram::uncache (juce::Range<int> frames)
{
    const juce::ScopedLock sl (lock);
    markFramesStaleLocked (frames);
    queueWantedLocked();
}

void Spectrogram::markFramesStaleLocked (juce::Range<int> frames)
{
    // Every level's chunks over them (only chunks that were made can be stale).
    for (auto& [index, entry] : entries)
        if (framesOf (index).intersects (frames))
            markStaleLocked (index);
}

void Spectrogram::markStaleLocked (int index)
{
    auto it = entries.find (index);
    if (it == entries.end())
        return; // never computed: nothing stale to show
    it->second.stale = true;
    ++it->second.staleCount;
}

void Spectrogram::queueWantedLocked()
{
    // The queue is the wanted chunks that are missing or stale, in the wanted order.
    queue.clear();
    for (auto i : wanted)
    {
        const auto it = entries.find (i);
        if (it == entries.end())
            queue.push_back (i);
        else if (const auto& e = it->second;
                 (e.stale || e.chunk == nullptr) && ! (e.computing && e.computingCount == e.staleCount))
            queue.push_back (i); // not one a job is making as it is now: the view moving would make it twice
    }
}

void Spectrogram::evictLocked()
{
    auto cached = getCachedBytes();
    if (cached <= budget)
        return;
    std::vector<std::pair<juce::uint32, int>> byAge;
    for (const auto& [index, entry] : entries)
        if (entry.chunk != nullptr && entry.lastWanted != wantCounter)
            byAge.emplace_back (entry.lastWanted, index);
    std::sort (byAge.begin(), byAge.end());
    for (const auto& [age, index] : byAge)
    {
        if (cached <= budget)
            break;
        entries.erase (index);
        cached -= bytesPerChunk;
    }
}

Spectrogram::ChunkPtr Spectrogram::getChunk (int index) const
{
    const juce::ScopedLock sl (lock);
    const auto it = entries.find (index);
    return it != entries.end() ? it->second.chunk : nullptr;
}

bool Spectrogram::isChunkCurrent (int index) const
{
    const juce::ScopedLock sl (lock);
    const auto it = entries.find (index);
    return it != entries.end() && it->second.chunk != nullptr && ! it->second.stale;
}

size_t Spectrogram::getCachedBytes() const
{
    const juce::ScopedLock sl (lock);
    size_t n = 0;
    for (const auto& [index, entry] : entries)
        n += entry.chunk != nullptr ? bytesPerChunk : 0;
    return n;
}

int Spectrogram::getNumQueued() const
{
    const juce::ScopedLock sl (lock);
    return (int) queue.size();
}

//==============================================================================
void Spectrogram::followEdits()
{
    const juce::ScopedLock sl (lock);
    if (track == nullptr)
        return;
    const auto now = track->getContent();
    if (now != content)
    {
        // Another store (analysis finished, a separation replaced it): start again.
        content = now;
        resetLocked();
        const juce::ScopedUnlock ul (lock);
        updateMinAndMax();
        return;
    }
    auto* asig = content != nullptr ? content->asig.get() : nullptr;
    if (asig == nullptr)
        return;
    if (width.load() == 0 && asig->isReady())
        resetLocked(); // the analysis finished in this store
    if (! mappedForAnalysedStore && track->isStoreReady())
    {
        // Shown while it was analysed, with a provisional range: now the song's loudest
        // level is known, the colours take it (and every chunk is made again).
        mappedForAnalysedStore = true;
        const juce::ScopedUnlock ul (lock);
        updateMinAndMax();
        return;
    }
    const auto generation = asig->getEditGeneration();
    if (generation == seenEdits)
        return;
    if (! track->isStoreReady())
    {
        // Louder frames analysed: the colours follow them (not for every small rise, as
        // every chunk is made again).
        constexpr float remapAboveDb = 3.0f;
        if (const auto level = asig->getLoudestAnalysedLevel();
            std::isfinite (level) && ! (level <= provisionalLevel + remapAboveDb))
        {
            const juce::ScopedUnlock ul (lock);
            updateMinAndMax();
        }
        // Being analysed: the frames that arrived are taken in a few times a second, so
        // that making their chunks again does not take the analysis's cores from it.
        const auto now = juce::Time::getMillisecondCounter();
        if (now - lastFollowedAnalysis < followAnalysisMs)
            return;
        lastFollowedAnalysis = now;
    }
    const auto frames = asig->getFramesWrittenSince (seenEdits);
    seenEdits = generation;
    markFramesStaleLocked (frames);
    queueWantedLocked();
}

void Spectrogram::scheduleRecache()
{
    followEdits();
    const juce::ScopedLock sl (lock);
    if (! queue.empty() && pool.getNumJobs() < maxJobs)
        pool.addJob (new LoadJob (*this), true);
}

bool Spectrogram::takeWork (int& column, std::vector<int>& rows, std::vector<juce::uint32>& counts, ColourMapping& m,
                            AudioTrack::Content::Ptr& c, juce::uint64& serial)
{
    const juce::ScopedLock sl (lock);
    if (queue.empty())
        return false;
    // The column's first chunk (row 0) stands for the column and its level.
    column = queue.front() - rowOf (queue.front());
    rows.clear();
    counts.clear();
    for (auto it = queue.begin(); it != queue.end();)
    {
        if (*it - rowOf (*it) == column)
        {
            rows.push_back (rowOf (*it));
            auto& entry = entries[*it];
            counts.push_back (entry.staleCount);
            entry.computing = true;
            entry.computingCount = entry.staleCount;
            it = queue.erase (it);
        }
        else
            ++it;
    }
    m = mapping;
    c = content;
    serial = trackSerial;
    return true;
}

void Spectrogram::publish (juce::uint64 serial, int index, juce::uint32 staleCount, std::shared_ptr<Chunk> chunk)
{
    const juce::ScopedLock sl (lock);
    if (serial != trackSerial)
        return;
    auto& entry = entries[index];
    // A change that came while this was computed keeps the chunk stale (and queued).
    if (entry.staleCount == staleCount)
        entry.stale = false;
    // Versions are unique over the whole image and never reused, so a copy of a chunk
    // that was dropped and made again (a texture, a view's image) is never taken as current.
    chunk->version = ++imageVersion;
    entry.chunk = std::move (chunk);
    if (entry.computingCount == staleCount)
        entry.computing = false; // (else another job has it since)
    evictLocked();
    if (onPublished)
        onPublished();
}

void Spectrogram::finishWork (juce::uint64 serial, int column, const std::vector<int>& rows,
                              const std::vector<juce::uint32>& counts)
{
    const juce::ScopedLock sl (lock);
    if (serial != trackSerial)
        return;
    // Rows the job gave up on (the store went, or a stale copy changed again): queued
    // again with the wanted ones.
    bool left = false;
    for (size_t k = 0; k < rows.size(); ++k)
        if (const auto it = entries.find (column + rows[k]);
            it != entries.end() && it->second.computing && it->second.computingCount == counts[k])
        {
            it->second.computing = false;
            left = true;
        }
    if (left)
        queueWantedLocked();
}

void Spectrogram::setPublishedCallback (std::function<void()> fn)
{
    const juce::ScopedLock sl (lock);
    onPublished = std::move (fn);
}

bool Spectrogram::waitUntilCurrent (int timeoutMs)
{
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
    for (;;)
    {
        scheduleRecache();
        {
            const juce::ScopedLock sl (lock);
            bool current = queue.empty();
            for (auto i : wanted)
                current = current && entries.count (i) > 0 && entries[i].chunk != nullptr && ! entries[i].stale;
            if (current && pool.getNumJobs() == 0)
                return true;
        }
        if (juce::Time::getMillisecondCounter() >= deadline)
            return false;
        juce::Thread::sleep (1);
    }
}

} // namespace kalder
