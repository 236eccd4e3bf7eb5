#pragma once

#include "ColourMap.h"

#include "tracks/AudioTrack.h"

#include <juce_events/juce_events.h>

#include <deque>
#include <map>
#include <memory>

namespace kalder
{

/**
    The image of one track's levels: image column x is store frame x, row y is bin y
    (row 0 the lowest bin, at the bottom), each pixel the colour of the channels' mean
    magnitude of the masked frames (what the mask lets through, with the track's flip;
    the selection's playback gain is not drawn), with the selection as a second layer
    of one byte per pixel.

    The image is cut into chunks of 512 x 512 pixels: ceil (W / 512) chunk columns and
    ceil (H / 512) chunk rows, chunk index = column x rows + row, each stored row by row
    from the bottom, pixels beyond the image black and unselected.

    Chunks are made lazily: only those of the visible area (setVisibleArea(), with one
    chunk of margin around it, as far as the budget allows) are computed, nearest to the
    centre of the view first, and computed chunks are kept up to a memory budget, the
    least recently wanted dropped first (never a wanted one). So an hour-long song costs the same as a short
    one beyond its store. A chunk whose frames, mask, selection or colours change is
    stale until computed again; its old pixels are shown meanwhile.

    Levels: a view that shows more frames than it has pixels across is drawn from a
    coarser image, level L, whose column x stands for store frames [x 2^L, (x + 1) 2^L):
    each pixel the loudest of up to samplesPerColumn of those frames, spread evenly over
    them (all of them up to level 3), and the selection likewise. The level is the
    largest with at least one column a pixel (levelFor()), so a whole hour on screen is a
    few chunks, all of it drawn, and its chunks cost a bounded read each. A chunk's index
    carries its level (getChunkIndex()); level 0's indices are column x rows + row.
    getChunksToDraw() gives the renderers what to draw while the view's own level is
    being made: the coarser chunks (or the next finer ones) that are there.

    Edits are found without notifications: the spectrogram's timer compares the store's
    edit generation and asks the store which frames it wrote (Asig::getFramesWrittenSince),
    and only the chunks over those frames are computed again. A new store (another
    analysis) or new colour settings make every chunk stale.

    Recaching runs on the spectrogram's own pool, in at most two jobs named "Spectrogram
    recache" at a time; a job takes the queued chunks of one chunk column together (one
    read of its frames for all its rows) and goes on with the next column until the
    queue is empty.

    Threading: setTrack(), setSettings(), setVisibleArea(), uncache() on the message
    thread; getChunk() and the getters on any thread (a chunk is immutable once
    published: readers hold it while they upload it).
*/
class Spectrogram : private juce::Timer
{
public:
    static constexpr int chunkSize = 512;
    static constexpr int pixelsPerChunk = chunkSize * chunkSize;
    static constexpr int maxJobs = 2;
    static constexpr size_t bytesPerChunk = (size_t) pixelsPerChunk * (sizeof (Pixel) + 1);
    static constexpr size_t defaultBudgetBytes = 160 * bytesPerChunk; // about 160 MB
    static constexpr int maxLevel = 16;
    static constexpr int samplesPerColumn = 8;

    /** Level headroom above the loudest bin's mean level, for the loudest colour. */
    static constexpr float peakHeadroomDb = 10.0f;

    struct Chunk
    {
        int index = 0;                      // its level, column and row (see getChunkIndex())
        juce::uint64 version = 0;           // unique: grows with every chunk published
        std::vector<Pixel> pixels;          // pixelsPerChunk, bottom row first
        std::vector<std::uint8_t> selected; // pixelsPerChunk, 0 .. 255
    };
    using ChunkPtr = std::shared_ptr<const Chunk>;

    explicit Spectrogram (size_t budgetBytes = defaultBudgetBytes);
    ~Spectrogram() override;

    //==============================================================================
    /** Shows a track (nullptr: nothing). Every chunk is stale. */
    void setTrack (AudioTrack::Ptr track);
    AudioTrack::Ptr getTrack() const;

    /** New colours: every chunk is computed again. */
    void setSettings (const SpectrogramSettings& settings);
    SpectrogramSettings getSettings() const;

    /** The mapping the chunks are made with (the editor's colour state). */
    ColourMapping getColourMapping() const;

    /** Finds the loudest level again from the store's average spectrum (the loudest
        bin's mean level plus peakHeadroomDb; 0 dB for a silent track) and recomputes
        every chunk. */
    void updateMinAndMax();

    //==============================================================================
    int getImageWidth() const noexcept { return width.load(); }
    int getImageHeight() const noexcept { return height.load(); }
    /** Store frames a chunk of the level spans. */
    static int framesPerChunk (int level) noexcept { return chunkSize << level; }
    int getNumChunkColumns (int level = 0) const noexcept
    {
        return (int) (((juce::int64) getImageWidth() + framesPerChunk (level) - 1) / framesPerChunk (level));
    }
    int getNumChunkRows() const noexcept { return (getImageHeight() + chunkSize - 1) / chunkSize; }
    int getNumChunks() const noexcept { return getNumChunkColumns() * getNumChunkRows(); }
    int getChunkIndex (int column, int row, int level = 0) const noexcept
    {
        return (level << levelShift) + column * getNumChunkRows() + row;
    }
    static int levelOf (int index) noexcept { return index >> levelShift; }
    int columnOf (int index) const noexcept { return (index & levelMask) / juce::jmax (1, getNumChunkRows()); }
    int rowOf (int index) const noexcept { return (index & levelMask) % juce::jmax (1, getNumChunkRows()); }
    /** The store frames a chunk spans (past the image's end for the last column). */
    juce::Range<int> framesOf (int index) const noexcept
    {
        const auto span = framesPerChunk (levelOf (index));
        return { columnOf (index) * span, (columnOf (index) + 1) * span };
    }

    /** The level for a view of this many store frames across this many pixels. */
    static int levelFor (int visibleFrames, int viewPixels) noexcept;

    /** The chunks of the level that cover store frames [frames) and rows [rows). */
    std::vector<int> getChunksCovering (juce::Range<int> frames, juce::Range<int> rows, int level = 0) const;

    /** What a renderer draws for the view's chunks at level, in order (later ones over
        earlier ones): for a chunk not made yet, the coarser chunk over it that is there,
        or else the finer ones of the level below; then the level's own chunks. */
    std::vector<ChunkPtr> getChunksToDraw (juce::Range<int> frames, juce::Range<int> rows, int level) const;

    //==============================================================================
    /** The part of the image on screen, in store frames and rows, and the level it is
        drawn at (levelFor() of the frames and the view's width): the level's chunks under
        it (and a chunk of margin around them) are wanted, nearest to its centre first. */
    void setVisibleArea (juce::Range<int> frames, juce::Range<int> rows, int level = 0);
    int getVisibleLevel() const;

    /** Marks the chunks over frames stale (all rows, every level) and queues those that
        are wanted. */
    void uncache (juce::Range<int> frames);

    /** The chunk's latest pixels, or nullptr when it was never computed (or dropped). */
    ChunkPtr getChunk (int index) const;

    /** Whether the chunk is computed and not stale. */
    bool isChunkCurrent (int index) const;

    /** Calls fn on the recache thread, under the spectrogram's lock, whenever a chunk was
        published (a view asks for a frame: it must not call back into the spectrogram).
        Once this returns, the previous callback is no longer called. */
    void setPublishedCallback (std::function<void()> fn);

    /** Grows whenever a chunk was published: the view uploads what changed. */
    juce::uint64 getImageVersion() const noexcept { return imageVersion.load(); }

    size_t getCachedBytes() const;
    int getNumQueued() const;

    /** What the timer does each tick: follows the store's edits and starts recache jobs
        while fewer than maxJobs run and chunks are queued. Public for tests. */
    void scheduleRecache();

    /** Runs the timer's work until every wanted chunk is current (tests, benchmarks). */
    bool waitUntilCurrent (int timeoutMs);

private:
    class LoadJob;
    static constexpr int levelShift = 24;
    static constexpr int levelMask = (1 << levelShift) - 1;

    std::function<void()> onPublished;

    struct Entry
    {
        ChunkPtr chunk;
        bool stale = true;
        juce::uint32 staleCount = 0; // a change while it is computed
        juce::uint32 lastWanted = 0;
        // Taken by a job (at this staleCount): not queued again unless it changed since.
        bool computing = false;
        juce::uint32 computingCount = 0;
    };

    void timerCallback() override { scheduleRecache(); }
    void resetLocked();
    void markStaleLocked (int index);
    void markFramesStaleLocked (juce::Range<int> frames);
    void queueWantedLocked();
    void recomputeWantedLocked();
    void evictLocked();
    /** The next column's queued chunks for a job (column: the index of its row 0, which
        carries its level); false when the queue is empty. */
    bool takeWork (int& column, std::vector<int>& rows, std::vector<juce::uint32>& counts, ColourMapping& mapping,
                   AudioTrack::Content::Ptr& content, juce::uint64& serial);
    void publish (juce::uint64 serial, int index, juce::uint32 staleCount, std::shared_ptr<Chunk> chunk);
    /** A job is done with a column's rows (published or not). */
    void finishWork (juce::uint64 serial, int column, const std::vector<int>& rows, const std::vector<juce::uint32>& counts);
    void followEdits();

    const size_t budget;
    mutable juce::CriticalSection lock;
    AudioTrack::Ptr track;
    AudioTrack::Content::Ptr content;
    juce::uint64 trackSerial = 0; // a new track or store: jobs of an older one publish nothing
    juce::uint64 seenEdits = 0;
    bool mappedForAnalysedStore = false;   // the colour range came from the whole song's levels
    float provisionalLevel = 0.0f;         // the loudest level the colours were made with
    juce::uint32 lastFollowedAnalysis = 0; // when frames written by the analysis were last taken in
    SpectrogramSettings settings;
    ColourMapping mapping;
    std::atomic<int> width { 0 }, height { 0 };
    std::map<int, Entry> entries;
    std::deque<int> queue;
    juce::Range<int> visibleFrames, visibleRows;
    int visibleLevel = 0;
    std::vector<int> wanted; // the visible chunks and a chunk around them, nearest to the view's centre first
    juce::uint32 wantCounter = 0;
    std::atomic<juce::uint64> imageVersion { 0 };
    juce::ThreadPool pool { maxJobs };

    JUCE_DECLARE_NON_COPYABLE (Spectrogram)
};

} // namespace kalder
