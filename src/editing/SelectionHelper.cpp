#include "SelectionHelper.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace kalder
{

namespace
{
    //==============================================================================
    // The wand.

    /** The wand's search window reaches this many bins and frames either side of the cursor. */
    constexpr int halfWindow = SelectionHelper::wandHalfWindow;

    /** "Selection size" limits: how far (cells) the soft edge may reach beyond the region. */
    constexpr int maxSelectionSize = 10;

    /** The seed is the loudest cell within this many bins and frames of the cursor: a
        click lands a bin or two off a partial's peak, and a frame or so off a peak in time. */
    constexpr int seedBins = 2, seedFrames = 1;

    /** How far above the seed's level (dB) the band reaches: a partial that grows a little
        louder along time stays in, a louder neighbour does not. At most the band's depth. */
    constexpr float headroomDb = 6.0f;

    /** The soft edge spreads downhill only: each step at most spreadSlopeDb louder than the
        cell it comes from and spreadRiseDb louder than the region's edge where it began,
        so it follows a partial's skirt down but never climbs onto a neighbouring partial. */
    constexpr float spreadSlopeDb = 1.0f, spreadRiseDb = 3.0f;

    /** A harmonic counts as present when its peak stands this far (dB) above the median
        level of its window: below that, the bins at the harmonic are background. */
    constexpr float harmonicProminenceDb = 6.0f;

    /** Harmonics whose roll-off weight falls below this are left out (invisible anyway). */
    constexpr float minHarmonicWeight = 1.0e-3f;

    /** A fundamental closer than this many bins has harmonics the transform cannot tell apart. */
    constexpr double minFundamentalBins = 3.0;

    /** Magnitudes below this (-200 dB) are silence: the level of an empty bin. */
    constexpr float silentMagnitude = 1.0e-10f;
    constexpr float silentLevelDb = -200.0f;

    //==============================================================================
    // Percussive and harmonic parts.

    constexpr int medianLength = 17;
    constexpr int medianContext = medianLength / 2;

    /** Frames the rectangle operations read at a time, so that a whole-track rectangle
        never holds every complex frame of the track at once (8 MB a channel at N = 4096). */
    constexpr int framesPerStep = 512;

    /** The transient preview covers the frames this far either side of the cursor: a
        click reaches the four frames that overlap it. */
    constexpr int transientHalfWidth = 4;

    //==============================================================================
    /** An inclusive block of the track: bins [bin0, bin1] x frames [frame0, frame1]. */
    struct Window
    {
        int bin0 = 0, bin1 = -1, frame0 = 0, frame1 = -1;

        int numBins() const noexcept { return bin1 - bin0 + 1; }
        int numFrames() const noexcept { return frame1 - frame0 + 1; }
        bool isEmpty() const noexcept { return bin1 < bin0 || frame1 < frame0; }
        juce::Range<int> bins() const noexcept { return { bin0, bin1 + 1 }; }
        juce::Range<int> frames() const noexcept { return { frame0, frame1 + 1 }; }

        /** The window shrunk by the region growing's margin on every side. */
        Window interior() const noexcept
        {
            constexpr int m = SelectionHelper::blobMargin;
            return { bin0 + m, bin1 - m, frame0 + m, frame1 - m };
        }
    };

    /** The rectangle (corners in any order, ends inclusive) clipped to the track. */
    Window clipRectangle (const Asig& asig, int x1, int y1, int x2, int y2) noexcept
    {
        return { std::max (0, std::min (y1, y2)), std::min (asig.getNumFreqs() - 1, std::max (y1, y2)),
                 std::max (0, std::min (x1, x2)), std::min (asig.getNumFrames() - 1, std::max (x1, x2)) };
    }

    bool hasData (const Asig* asig) noexcept
    {
        return asig != nullptr && asig->getNumFrames() > 0 && asig->getNumFreqs() > 0;
    }

    /** The bin (truncated, never negative, at most maxBin) of a frequency in kHz. */
    int binForKHz (const Asig& asig, float kHz, int maxBin) noexcept
    {
        if (asig.getSampleRate() <= 0 || ! (kHz > 0.0f))
            return 0;
        const auto bin = (double) kHz * 1000.0 * asig.getGeometry().nfft / asig.getSampleRate();
        return (int) std::min ((double) maxBin, bin);
    }

    //==============================================================================
    /** The channel's frames as the spectrogram shows them: with the mask (and the store's
        flip) when applyMask is set, never with the selection's playback gain. */
    CspecMatrix readShownFrames (Asig& asig, int channel, juce::Range<int> frames, bool applyMask)
    {
        using M = Asig::MaskUse;
        const auto maskUse = ! applyMask ? M::none : asig.isFlipped() ? M::flippedMask : M::mask;
        return asig.readFrames (channel, frames, maskUse, Asig::SelectionGain::none);
    }

    /** Adds |X| of rows [bins) of x to sum (bins x frames of x). */
    void addMagnitudes (const CspecMatrix& x, juce::Range<int> bins, MaskMatrix& sum, std::vector<float>& scratch)
    {
        const auto n = bins.getLength();
        scratch.resize ((size_t) n);
        for (int c = 0; c < (int) x.cols(); ++c)
        {
            // Squares first (a plain loop the compiler vectorises), then Eigen's vectorised root.
            const auto* z = reinterpret_cast<const float*> (x.col (c).data() + bins.getStart());
            for (int i = 0; i < n; ++i)
                scratch[(size_t) i] = z[2 * i] * z[2 * i] + z[2 * i + 1] * z[2 * i + 1];
            sum.col (c).array() += Eigen::Map<const Eigen::ArrayXf> (scratch.data(), n).sqrt();
        }
    }

    /** Magnitudes of one channel (or the mean of all channels when channel < 0) over a
        block inside the track: rows = bins, columns = frames. */
    MaskMatrix readMagnitudes (Asig& asig, int channel, juce::Range<int> bins, juce::Range<int> frames, bool applyMask)
    {
        MaskMatrix sum = MaskMatrix::Zero (bins.getLength(), frames.getLength());
        std::vector<float> scratch;
        const auto first = channel < 0 ? 0 : channel;
        const auto last = channel < 0 ? asig.getNumChannels() : channel + 1;
        for (int c = first; c < last; ++c)
        {
            const auto x = readShownFrames (asig, c, frames, applyMask);
            if (x.rows() >= bins.getEnd() && x.cols() == frames.getLength())
                addMagnitudes (x, bins, sum, scratch);
        }
        if (channel < 0 && asig.getNumChannels() > 1)
            sum /= (float) asig.getNumChannels();
        return sum;
    }

    MaskMatrix levelsDb (const MaskMatrix& magnitudes)
    {
        // The natural log is vectorised; log10 is not.
        constexpr float dbPerNeper = 8.6858896f; // 20 / ln 10
        return (dbPerNeper * magnitudes.array().max (silentMagnitude).log()).matrix();
    }

    /**
        Levels in dB (the channel mean of the shown magnitudes) of a block of the track,
        addressed in track coordinates. The frames are read once; the levels are computed
        for the rows that prepare() asks for, since the harmonic wand needs only the bands
        around its harmonics. Rows not prepared read as +inf: nothing grows or spreads there.
    */
    class LevelBlock
    {
    public:
        LevelBlock (Asig& asig, juce::Range<int> bins, juce::Range<int> frames)
            : db (MaskMatrix::Constant (bins.getLength(), frames.getLength(), std::numeric_limits<float>::infinity())),
              firstBin (bins.getStart()),
              firstFrame (frames.getStart()),
              prepared ((size_t) bins.getLength(), false)
        {
            constexpr bool masked = true;
            for (int c = 0; c < asig.getNumChannels(); ++c)
            {
                auto x = readShownFrames (asig, c, frames, masked);
                if (x.rows() >= bins.getEnd() && x.cols() == frames.getLength())
                    channels.push_back (std::move (x));
            }
        }

        /** Computes the levels of bins [bin0, bin1] (clipped to the block) not computed yet,
            in whole steps of rowsPerStep rows (fewer, longer runs over the frames). */
        void prepare (int bin0, int bin1)
        {
            const auto first = std::max (0, bin0 - firstBin) / rowsPerStep;
            const auto last = std::min ((int) db.rows() - 1, bin1 - firstBin) / rowsPerStep;
            for (int step = first; step <= last; ++step)
            {
                if (prepared[(size_t) step])
                    continue;
                prepared[(size_t) step] = true;
                const auto row = step * rowsPerStep, n = std::min (rowsPerStep, (int) db.rows() - row);
                MaskMatrix sum = MaskMatrix::Zero (n, db.cols());
                for (const auto& x : channels)
                    addMagnitudes (x, { firstBin + row, firstBin + row + n }, sum, scratch);
                if (channels.size() > 1)
                    sum /= (float) channels.size();
                db.middleRows (row, n) = levelsDb (sum);
            }
        }

        float at (int bin, int frame) const { return db (bin - firstBin, frame - firstFrame); }
        int lastBin() const noexcept { return firstBin + (int) db.rows() - 1; }

        auto block (const Window& w) const
        {
            return db.block (w.bin0 - firstBin, w.frame0 - firstFrame, w.numBins(), w.numFrames());
        }

        MaskMatrix db;
        const int firstBin, firstFrame;

    private:
        static constexpr int rowsPerStep = 32;
        std::vector<CspecMatrix> channels;
        std::vector<bool> prepared;
        std::vector<float> scratch;
    };

    struct Cell
    {
        int bin = 0, frame = 0;
    };

    /** The loudest cell of the window (the first one on ties). */
    Cell loudestCell (const LevelBlock& levels, const Window& w)
    {
        Eigen::Index r = 0, c = 0;
        levels.block (w).maxCoeff (&r, &c);
        return { w.bin0 + (int) r, w.frame0 + (int) c };
    }

    /** The wand's seed: the loudest cell near the cursor, inside the part of the search
        window that region growing may enter (so that a click at the window's edge still
        grows). A window too small to have such a part gives the cursor's own cell. */
    Cell findSeed (const LevelBlock& levels, const Window& search, int x, int y)
    {
        const auto inner = search.interior();
        if (inner.isEmpty())
            return { y, x };
        const auto bin = juce::jlimit (inner.bin0, inner.bin1, y);
        const auto frame = juce::jlimit (inner.frame0, inner.frame1, x);
        const Window near { std::max (inner.bin0, bin - seedBins), std::min (inner.bin1, bin + seedBins),
                            std::max (inner.frame0, frame - seedFrames), std::min (inner.frame1, frame + seedFrames) };
        return loudestCell (levels, near);
    }

    /**
        Grows the region of similar loudness around seed within window and writes it,
        times weight, into values (which covers levels' block), keeping larger values.

        The band reaches depthDb below the seed's level (no further than just past the
        window's quietest cell) and a little above it. It is laid on a dB image shifted so that the
        region's strength (I - 0.75 low) / (high - low) is 1 at the seed's level and falls
        linearly in dB to headroom / (depth + headroom) at the band's bottom.
    */
    void growRegion (MaskMatrix& values, const LevelBlock& levels, const Window& window, Cell seed, float depthDb, float weight)
    {
        const auto levelsInWindow = levels.block (window);
        const auto seedLevel = levels.at (seed.bin, seed.frame);
        // (1 dB past the quietest cell, so that rounding never leaves it out of a full band.)
        const auto depth = std::max (0.0f, std::min (depthDb, seedLevel - levelsInWindow.minCoeff() + 1.0f));
        const auto headroom = std::min (headroomDb, depth);
        const auto floorDb = seedLevel - depth - 4.0f * headroom;

        const MaskMatrix image = (levelsInWindow.array() - floorDb).max (0.0f).matrix();
        SelectionHelper::Blob blob = SelectionHelper::Blob::Zero (window.numBins(), window.numFrames());
        SelectionHelper::connectedBlob (blob, seed.bin - window.bin0, seed.frame - window.frame0, image, 4.0f * headroom,
                                        depth + 5.0f * headroom, 1.0f);

        auto target = values.block (window.bin0 - levels.firstBin, window.frame0 - levels.firstFrame, window.numBins(),
                                    window.numFrames());
        target = target.cwiseMax (weight * blob);
    }

    /**
        Carries a soft selection up to `steps` cells beyond its edge (8-neighbour steps),
        fading linearly: a cell k steps out gets (1 - k / (steps + 1)) of the edge value it
        came from. It spreads downhill only (spreadSlopeDb, spreadRiseDb), never above row
        maxRow, and each cell is reached once.
    */
    void spreadDownhill (MaskMatrix& values, const MaskMatrix& levels, int steps, int maxRow)
    {
        if (steps <= 0)
            return;
        enum : std::uint8_t
        {
            open,
            reached,
            inNextLayer
        };

        // Padded copies, one cell of border marked reached: neighbours need no bounds checks.
        const auto rows = std::min ((int) values.rows(), maxRow + 1), cols = (int) values.cols();
        if (rows <= 0)
            return;
        const auto stride = rows + 2;
        const auto size = (size_t) stride * (size_t) (cols + 2);
        std::vector<std::uint8_t> state (size, reached);
        std::vector<float> value (size, 0.0f), level (size, 0.0f), edgeLevel (size, 0.0f);
        std::vector<int> layer, next;
        for (int c = 0; c < cols; ++c)
        {
            const auto base = (size_t) (c + 1) * (size_t) stride + 1;
            std::copy_n (values.col (c).data(), rows, value.begin() + (std::ptrdiff_t) base);
            std::copy_n (levels.col (c).data(), rows, level.begin() + (std::ptrdiff_t) base);
            for (int r = 0; r < rows; ++r)
                state[base + (size_t) r] = value[base + (size_t) r] > 0.0f ? reached : open;
        }
        int offsets[8];
        for (int n = 0; n < 8; ++n)
            offsets[n] = SelectionHelper::binOffsets[n] + SelectionHelper::frameOffsets[n] * stride;

        // The first layer: the region's cells that touch an open cell.
        for (int c = 0; c < cols; ++c)
            for (int r = 0; r < rows; ++r)
            {
                const auto i = (c + 1) * stride + r + 1;
                if (value[(size_t) i] <= 0.0f)
                    continue;
                edgeLevel[(size_t) i] = level[(size_t) i];
                for (const auto offset : offsets)
                    if (state[(size_t) (i + offset)] == open)
                    {
                        layer.push_back (i);
                        break;
                    }
            }

        for (int k = 1; k <= steps && ! layer.empty(); ++k)
        {
            const auto fade = float (steps + 1 - k) / float (steps + 2 - k);
            next.clear();
            for (const auto i : layer)
            {
                const auto from = level[(size_t) i],
                           limit = std::min (from + spreadSlopeDb, edgeLevel[(size_t) i] + spreadRiseDb);
                const auto candidate = value[(size_t) i] * fade;
                for (const auto offset : offsets)
                {
                    const auto j = (size_t) (i + offset);
                    if (state[j] == reached || level[j] > limit)
                        continue;
                    if (state[j] == open)
                    {
                        state[j] = inNextLayer;
                        next.push_back ((int) j);
                    }
                    if (candidate > value[j])
                    {
                        value[j] = candidate;
                        edgeLevel[j] = edgeLevel[(size_t) i];
                    }
                }
            }
            for (const auto j : next)
                state[(size_t) j] = reached;
            std::swap (layer, next);
        }

        for (int c = 0; c < cols; ++c)
            std::copy_n (value.begin() + (std::ptrdiff_t) ((size_t) (c + 1) * (size_t) stride + 1), rows, values.col (c).data());
    }

    /** The peak's position in bins, refined by a parabola through its level and its two
        neighbours' (bins are 10 Hz apart at 44.1 kHz: a harmonic's k-fold distance needs
        a finer fundamental). */
    double refinedPeakBin (const LevelBlock& levels, Cell peak)
    {
        if (peak.bin - 1 < levels.firstBin || peak.bin + 1 > levels.lastBin())
            return peak.bin;
        const auto a = levels.at (peak.bin - 1, peak.frame), b = levels.at (peak.bin, peak.frame),
                   c = levels.at (peak.bin + 1, peak.frame);
        const auto curvature = (double) a - 2.0 * b + c;
        if (b < a || b < c || curvature >= 0.0)
            return peak.bin;
        return peak.bin + juce::jlimit (-0.5, 0.5, 0.5 * ((double) a - c) / curvature);
    }

    bool isLocalPeakAlongFrequency (const LevelBlock& levels, Cell cell)
    {
        const auto level = levels.at (cell.bin, cell.frame);
        return (cell.bin == levels.firstBin || levels.at (cell.bin - 1, cell.frame) <= level)
               && (cell.bin == levels.lastBin() || levels.at (cell.bin + 1, cell.frame) <= level);
    }

    /** The median level of the bins of w in one frame: the background a harmonic's peak
        has to stand out from. */
    float medianLevelInFrame (const LevelBlock& levels, const Window& w, int frame)
    {
        std::array<float, 2 * halfWindow + 1> v {};
        const auto n = std::min ((int) v.size(), w.numBins());
        for (int i = 0; i < n; ++i)
            v[(size_t) i] = levels.at (w.bin0 + i, frame);
        const auto middle = v.begin() + n / 2;
        std::nth_element (v.begin(), middle, v.begin() + n);
        return *middle;
    }

    /** The harmonics' share of the harmonic wand: for every other multiple k of the
        fundamental up to highCutBin, grows the region at the harmonic's peak (found near
        k f0) with weight (1 - rollOff)^(k - harmonic) above the clicked harmonic (1 below it),
        each confined to its own band of +-f0/2 bins. Widens area's bins to cover them. */
    void addHarmonics (MaskMatrix& values, LevelBlock& levels, const Window& search, Cell seed, int harmonic, int highCutBin,
                       float rollOff, float depthDb, int spread, Window& area)
    {
        const auto seedBin = refinedPeakBin (levels, seed);
        const auto h = std::min (std::max (1, harmonic), (int) std::floor (seedBin / minFundamentalBins));
        if (h < 1)
            return;
        const auto f0 = seedBin / h;
        const auto halfSpacing = std::max (1, (int) (f0 / 2.0));
        const auto halfBand = std::min (halfWindow, halfSpacing + SelectionHelper::blobMargin);
        const auto searchInner = search.interior().isEmpty() ? search : search.interior();
        const auto fall = 1.0f - juce::jlimit (0.0f, 1.0f, rollOff);

        for (int k = 1; k * f0 <= highCutBin + 0.5; ++k)
        {
            if (k == h)
                continue;
            const auto weight = k < h ? 1.0f : std::pow (fall, (float) (k - h));
            if (weight < minHarmonicWeight)
                break;

            // The harmonic's peak near k f0: the tolerance grows with the fundamental's
            // error times k, but never reaches the next harmonic.
            const auto centre = (int) std::lround (k * f0);
            const auto tolerance = std::max (1, std::min (halfSpacing - 1, 1 + (int) (0.1 * k / h)));
            const Window near { std::max (0, centre - tolerance), std::min (highCutBin, centre + tolerance),
                                std::max (searchInner.frame0, seed.frame - seedFrames),
                                std::min (searchInner.frame1, seed.frame + seedFrames) };
            if (near.isEmpty())
                continue;
            levels.prepare (near.bin0 - 1, near.bin1 + 1);
            const auto peak = loudestCell (levels, near);
            // The band may reach past the high cut (its values there are cleared later), so
            // that a peak just below the cut is not in the band's margin.
            const Window band { std::max (0, peak.bin - halfBand), std::min (levels.lastBin(), peak.bin + halfBand),
                                search.frame0, search.frame1 };
            levels.prepare (band.bin0 - spread, band.bin1 + spread); // the soft edge's reach too
            if (! isLocalPeakAlongFrequency (levels, peak)
                || levels.at (peak.bin, peak.frame) < medianLevelInFrame (levels, band, peak.frame) + harmonicProminenceDb)
                continue;

            growRegion (values, levels, band, peak, depthDb, weight);
            area.bin0 = std::min (area.bin0, std::max (0, band.bin0 - spread));
            area.bin1 = std::max (area.bin1, std::min (highCutBin, band.bin1 + spread));
        }
    }

    //==============================================================================
    /** Running median over `length` values centred on each of x[first, first + count)
        (x has n values at stride xStride; the window is shortened at x's ends), written to
        out at outStride. The window is kept sorted: each step removes one value and
        inserts one. */
    void runningMedian (const float* x, int n, int xStride, int first, int count, float* out, int outStride,
                        std::vector<float>& window)
    {
        constexpr int half = medianLength / 2;
        window.clear();
        for (int i = std::max (0, first - half); i < std::min (n, first + half); ++i)
        {
            const auto value = x[(size_t) i * (size_t) xStride];
            window.insert (std::upper_bound (window.begin(), window.end(), value), value);
        }
        for (int i = first; i < first + count; ++i)
        {
            const auto incoming = i + half;
            if (incoming < n)
            {
                const auto value = x[(size_t) incoming * (size_t) xStride];
                window.insert (std::upper_bound (window.begin(), window.end(), value), value);
            }
            const auto outgoing = i - half - 1;
            if (i > first && outgoing >= 0)
                window.erase (std::lower_bound (window.begin(), window.end(), x[(size_t) outgoing * (size_t) xStride]));
            out[(size_t) (i - first) * (size_t) outStride] = window[window.size() / 2];
        }
    }

    bool isFiniteValue (float v) noexcept
    {
        return std::isfinite (v);
    }
} // namespace

//==============================================================================
void SelectionHelper::setSelectionMode (SelectionMode mode, SelectionUpdate& update) noexcept
{
    update.replace = mode == SelectionMode::replace;
    update.add = mode == SelectionMode::addPoint || mode == SelectionMode::addArea;
    update.subtract = mode == SelectionMode::subtract;
    jassert (update.replace || update.add || update.subtract);
    if (! (update.add || update.subtract))
        update.replace = true;
}

SelectionUpdate SelectionHelper::rectangleSelect (int x1, int y1, int x2, int y2, SelectionMode mode) const
{
    SelectionUpdate update;
    setSelectionMode (mode, update);
    if (! hasData (asig))
        return update;
    const auto w = clipRectangle (*asig, x1, y1, x2, y2);
    if (w.isEmpty())
        return update;
    update.x1 = w.frame0, update.x2 = w.frame1, update.y1 = w.bin0, update.y2 = w.bin1;
    update.values = MaskMatrix::Ones (w.numBins(), w.numFrames());
    return update;
}

SelectionUpdate SelectionHelper::ellipseSelect (int x1, int y1, int x2, int y2, SelectionMode mode) const
{
    SelectionUpdate update;
    setSelectionMode (mode, update);
    if (! hasData (asig))
        return update;
    const auto w = clipRectangle (*asig, x1, y1, x2, y2);
    if (w.isEmpty())
        return update;

    // The ellipse through the outer edges of the rectangle's cells: a cell is in when
    // its centre is; a one-cell-wide rectangle is a line.
    const auto cx = 0.5 * (std::min (x1, x2) + std::max (x1, x2)), cy = 0.5 * (std::min (y1, y2) + std::max (y1, y2));
    const auto rx = 0.5 * (std::abs (x2 - x1) + 1), ry = 0.5 * (std::abs (y2 - y1) + 1);
    MaskMatrix values (w.numBins(), w.numFrames());
    for (int f = 0; f < w.numFrames(); ++f)
        for (int b = 0; b < w.numBins(); ++b)
        {
            const auto dx = (w.frame0 + f - cx) / rx, dy = (w.bin0 + b - cy) / ry;
            values (b, f) = dx * dx + dy * dy <= 1.0 ? 1.0f : 0.0f;
        }
    if (values.maxCoeff() <= 0.0f)
        return update;
    update.x1 = w.frame0, update.x2 = w.frame1, update.y1 = w.bin0, update.y2 = w.bin1;
    update.values = std::move (values);
    return update;
}

SelectionUpdate SelectionHelper::thresholdSelect (int x1, int y1, int x2, int y2, float levelDb, bool above,
                                                  SelectionMode mode) const
{
    SelectionUpdate update;
    setSelectionMode (mode, update);
    if (! hasData (asig) || ! isFiniteValue (levelDb))
        return update;
    const auto w = clipRectangle (*asig, x1, y1, x2, y2);
    if (w.isEmpty())
        return update;

    // 20 log10 m > L exactly when m > 10^(L / 20): the magnitudes are compared without logs.
    const auto limit = std::pow (10.0, (double) levelDb / 20.0);
    constexpr int allChannels = -1;
    constexpr bool masked = true;
    MaskMatrix values (w.numBins(), w.numFrames());
    for (int start = w.frame0; start <= w.frame1; start += framesPerStep)
    {
        const juce::Range<int> frames (start, std::min (w.frame1 + 1, start + framesPerStep));
        const Eigen::ArrayXXd m = readMagnitudes (*asig, allChannels, w.bins(), frames, masked).cast<double>();
        auto target = values.middleCols (start - w.frame0, frames.getLength());
        if (above)
            target = (m > limit).cast<float>().matrix();
        else
            target = (m < limit).cast<float>().matrix();
    }
    update.x1 = w.frame0, update.x2 = w.frame1, update.y1 = w.bin0, update.y2 = w.bin1;
    update.values = std::move (values);
    return update;
}

//==============================================================================
SelectionUpdate SelectionHelper::wandSelect (int x, int y, float threshold, int selectionSize, bool harmonicMode, int harmonic,
                                             float highCutKHz, float rollOff, float strength, SelectionMode mode) const
{
    SelectionUpdate update;
    setSelectionMode (mode, update);
    if (! hasData (asig) || ! isFiniteValue (threshold))
        return update;
    if (harmonicMode && ! (isFiniteValue (highCutKHz) && isFiniteValue (rollOff) && isFiniteValue (strength)))
        return update;
    const auto numFrames = asig->getNumFrames(), numBins = asig->getNumFreqs();
    if (numBins < 2 || x < 0 || x >= numFrames || y < 0 || y >= numBins)
        return update;

    // The wand never reaches the highest bin; a click on it counts as the one below.
    const auto lastBin = numBins - 2;
    y = std::min (y, lastBin);
    const auto t = juce::jlimit (0.0f, 1.0f, threshold);
    const auto spread = juce::jlimit (0, maxSelectionSize, selectionSize);
    const auto depthDb = t > 0.0f ? -20.0f * std::log10 (t) : std::numeric_limits<float>::infinity();

    const Window search { std::max (0, y - halfWindow), std::min (y + halfWindow, lastBin), std::max (0, x - halfWindow),
                          std::min (x + halfWindow, numFrames - 1) };
    const Window result { std::max (0, y - halfWindow - spread), std::min (y + halfWindow + spread, lastBin),
                          std::max (0, x - halfWindow - spread), std::min (x + halfWindow + spread, numFrames - 1) };
    const auto highCutBin = harmonicMode ? binForKHz (*asig, highCutKHz, lastBin) : lastBin;

    // Levels of everything the result can cover: the result window, and for the
    // harmonic wand every bin up to the high cut and the band above it that the last
    // harmonic's region grows in. Only these frames are read.
    const auto levelBins = harmonicMode
                               ? juce::Range<int> (0, std::min (lastBin, std::max (result.bin1, highCutBin + halfWindow)) + 1)
                               : result.bins();
    LevelBlock levels (*asig, levelBins, result.frames());
    levels.prepare (result.bin0, result.bin1);

    const auto seed = findSeed (levels, search, x, y);
    if (levels.at (seed.bin, seed.frame) <= silentLevelDb)
        return update; // nothing audible under the cursor

    MaskMatrix values = MaskMatrix::Zero (levels.db.rows(), levels.db.cols());
    growRegion (values, levels, search, seed, depthDb, 1.0f);

    auto area = result;
    auto topRow = (int) values.rows() - 1;
    if (harmonicMode)
    {
        // Nothing above the high cut, unless the click itself lies above it.
        const auto cutBin = seed.bin <= highCutBin ? highCutBin : lastBin;
        addHarmonics (values, levels, search, seed, harmonic, highCutBin, rollOff, depthDb, spread, area);
        area.bin1 = std::min (area.bin1, cutBin);
        topRow = cutBin - levels.firstBin;
        if (topRow + 1 < (int) values.rows())
            values.bottomRows (values.rows() - topRow - 1).setZero();
    }
    spreadDownhill (values, levels.db, spread, topRow);

    MaskMatrix out = values.block (area.bin0 - levels.firstBin, 0, area.numBins(), area.numFrames());
    if (harmonicMode)
        out *= juce::jlimit (0.0f, 1.0f, strength);
    if (out.size() == 0 || out.maxCoeff() <= 0.0f)
        return update;
    update.x1 = area.frame0, update.x2 = area.frame1, update.y1 = area.bin0, update.y2 = area.bin1;
    update.values = std::move (out);
    return update;
}

void SelectionHelper::connectedBlob (Blob& blob, int row, int column, const MaskMatrix& image, float low, float high, float value)
{
    const auto rows = (int) blob.rows(), cols = (int) blob.cols();
    jassert (image.rows() == rows && image.cols() == cols);
    if (image.rows() != rows || image.cols() != cols || row < 0 || row >= rows || column < 0 || column >= cols)
        return;

    blob (row, column) = std::isnan (value) ? 0.0f : juce::jlimit (0.0f, 1.0f, value);
    if (! (high > low))
        return;

    // An explicit stack instead of recursion: a region may cover the whole window.
    std::vector<std::uint8_t> entered ((size_t) rows * (size_t) cols, 0);
    std::vector<int> stack;
    entered[(size_t) (column * rows + row)] = 1;
    stack.push_back (column * rows + row);
    const auto range = (double) high - (double) low;

    while (! stack.empty())
    {
        const auto cell = stack.back();
        stack.pop_back();
        const auto r = cell % rows, c = cell / rows;
        for (int k = 0; k < 8; ++k)
        {
            const auto nr = r + binOffsets[k], nc = c + frameOffsets[k];
            if (nr < blobMargin || nr >= rows - blobMargin || nc < blobMargin || nc >= cols - blobMargin)
                continue;
            const auto next = nc * rows + nr;
            const auto level = image (nr, nc);
            if (entered[(size_t) next] != 0 || ! (low <= level && level <= high))
                continue;
            entered[(size_t) next] = 1;
            blob (nr, nc) = (float) juce::jlimit (0.0, 1.0, ((double) level - 0.75 * (double) low) / range);
            stack.push_back (next);
        }
    }
}

//==============================================================================
SelectionUpdate SelectionHelper::transientDetect (int x, int y) const
{
    if (! hasData (asig) || x < 0 || x >= asig->getNumFrames() || y < 0 || y >= asig->getNumFreqs())
    {
        SelectionUpdate update;
        setSelectionMode (SelectionMode::replace, update);
        return update;
    }
    constexpr bool percussive = false, masked = true;
    return percussiveHarmonicSelect (percussive, x - transientHalfWidth, 0, x + transientHalfWidth, asig->getNumFreqs() - 1,
                                     masked, 0.0f, SelectionMode::replace);
}

SelectionUpdate SelectionHelper::percussiveHarmonicSelect (bool harmonic, int x1, int y1, int x2, int y2, bool applyMask,
                                                           float lowCutKHz, SelectionMode mode) const
{
    SelectionUpdate update;
    setSelectionMode (mode, update);
    if (! hasData (asig) || ! isFiniteValue (lowCutKHz))
        return update;

    const auto numFrames = asig->getNumFrames(), numBins = asig->getNumFreqs();
    auto w = clipRectangle (*asig, x1, y1, x2, y2);
    w.bin0 = juce::jlimit (0, numBins - 1, std::max (std::min (y1, y2), binForKHz (*asig, lowCutKHz, numBins - 1)));
    if (w.isEmpty())
        return update;

    // The frequency medians of the rectangle's edge bins need the bins beside them.
    const juce::Range<int> contextBins (std::max (0, w.bin0 - medianContext), std::min (numBins, w.bin1 + medianContext + 1));
    const auto rows = w.numBins(), contextRows = contextBins.getLength(), rowOffset = w.bin0 - contextBins.getStart();

    MaskMatrix values = MaskMatrix::Zero (rows, w.numFrames());
    MaskMatrix alongTime, alongFrequency;
    std::vector<float> window;
    window.reserve (medianLength + 1);

    for (int start = w.frame0; start <= w.frame1; start += framesPerStep)
    {
        const auto end = std::min (w.frame1 + 1, start + framesPerStep);
        const juce::Range<int> frames (std::max (0, start - medianContext), std::min (numFrames, end + medianContext));
        const auto first = start - frames.getStart(), count = end - start;
        alongTime.resize (rows, count);
        alongFrequency.resize (rows, count);

        for (int c = 0; c < asig->getNumChannels(); ++c)
        {
            const auto m = readMagnitudes (*asig, c, contextBins, frames, applyMask);
            for (int r = 0; r < rows; ++r)
                runningMedian (m.data() + rowOffset + r, (int) m.cols(), contextRows, first, count, alongTime.data() + r, rows,
                               window);
            for (int f = 0; f < count; ++f)
                runningMedian (m.col (first + f).data(), contextRows, 1, rowOffset, rows, alongFrequency.col (f).data(), 1,
                               window);

            // A soft mask: the share of the chosen part in the power of the two, 0 in silence.
            const Eigen::ArrayXXf h2 = alongTime.array().square(), p2 = alongFrequency.array().square();
            const Eigen::ArrayXXf total = h2 + p2;
            values.middleCols (start - w.frame0, count).array() += (total > 0.0f).select ((harmonic ? h2 : p2) / total, 0.0f);
        }
    }
    if (asig->getNumChannels() > 1)
        values /= (float) asig->getNumChannels();
    if (values.maxCoeff() <= 0.0f)
        return update;

    update.x1 = w.frame0, update.x2 = w.frame1, update.y1 = w.bin0, update.y2 = w.bin1;
    update.values = std::move (values);
    return update;
}

} // namespace kalder
