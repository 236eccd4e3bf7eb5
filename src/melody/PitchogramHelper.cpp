#include "PitchogramHelper.h"

#include "signal/Asig.h"

#include <algorithm>
#include <cmath>

namespace kalder
{

PitchogramView::PitchogramView (int columns, juce::uint64 generation)
    : numColumns (std::max (0, columns)), storeGeneration (generation)
{
    chunks.resize ((size_t) ((numColumns + columnsPerChunk - 1) / columnsPerChunk));
    const auto empty = std::make_shared<const Chunk> ((size_t) columnsPerChunk * numRows, juce::uint8 { 0 });
    std::fill (chunks.begin(), chunks.end(), empty); // one block of silence until computed
}

//==============================================================================
float PitchogramHelper::aWeighting (float hz) noexcept
{
    const auto f2 = (double) hz * hz;
    const auto r = 12200.0 * 12200.0 * f2 * f2
                   / ((f2 + 424.36) * std::sqrt ((f2 + 11599.29) * (f2 + 544496.41)) * (f2 + 12200.0 * 12200.0));
    return (float) (r * 1.2589254); // +2 dB: 1 at 1 kHz
}

int PitchogramHelper::calcCQTNumberOfFrames (int hop, juce::int64 numSamples) noexcept
{
    return FrameGeometry { hop * FrameGeometry::overlap }.getNumFramesForSamples (numSamples);
}

namespace
{
    constexpr float highestPeakHz = 5000.0f;
    constexpr float peakRangeDb = 40.0f;
    constexpr float silentAmplitude = 3.0e-5f; // about -90 dB of full scale
    constexpr int numHarmonics = 12;
    constexpr int numGaps = 8; // the midpoints between the first harmonics count against a pitch
    constexpr float gapWeight = 0.6f;
    constexpr float harmonicDecay = 0.85f;
    constexpr int kernelRows = PitchogramView::rowsPerSemitone / 2; // half a semitone either side
    constexpr float sideWeight = 0.25f;                             // a source at one side only counts 12 dB less

    /** cos^2 over the kernel's half width, sampled at row offsets of a quarter of a row. */
    struct Kernel
    {
        Kernel()
        {
            for (size_t i = 0; i < values.size(); ++i)
            {
                const auto d = ((float) i / 4.0f) / (float) kernelRows; // semitones
                values[i] = d < 1.0f ? std::pow (std::cos (juce::MathConstants<float>::halfPi * d), 2.0f) : 0.0f;
            }
        }
        float at (float rowDistance) const noexcept
        {
            const auto i = (size_t) std::lround (std::abs (rowDistance) * 4.0f);
            return i < values.size() ? values[i] : 0.0f;
        }
        std::array<float, 4 * kernelRows + 1> values {};
    };
    const Kernel kernel;

    float hzToRow (float hz) noexcept
    {
        return PitchogramView::midiToRow (69.0f + 12.0f * std::log2 (hz / 440.0f));
    }
} // namespace

void PitchogramHelper::findPeaks (const float* m, int numFreqs, float binHz, std::vector<Peak>& peaks)
{
    peaks.clear();
    if (numFreqs < 3 || ! (binHz > 0.0f))
        return;
    const auto last = std::min (numFreqs - 2, (int) (highestPeakHz / binHz));
    float loudest = 0.0f;
    for (int k = 1; k <= last; ++k)
        loudest = std::max (loudest, m[k]);
    const auto floor = std::max (silentAmplitude, loudest * juce::Decibels::decibelsToGain (-peakRangeDb));
    for (int k = 1; k <= last; ++k)
    {
        if (! (m[k] > floor && m[k] > m[k - 1] && m[k] >= m[k + 1]))
            continue;
        // A Hann window's peak is close to a parabola in decibels.
        const auto a = std::log (std::max (m[k - 1], 1.0e-12f)), b = std::log (m[k]),
                   c = std::log (std::max (m[k + 1], 1.0e-12f));
        const auto denominator = a - 2.0f * b + c;
        const auto p = denominator < 0.0f ? juce::jlimit (-0.5f, 0.5f, 0.5f * (a - c) / denominator) : 0.0f;
        peaks.push_back ({ ((float) k + p) * binHz, std::exp (b - 0.25f * (a - c) * p) });
    }
}

void PitchogramHelper::harmonicSalience (const std::vector<Peak>& peaks, float* salience)
{
    constexpr auto rows = PitchogramView::numRows;
    std::fill (salience, salience + rows, 0.0f);
    for (const auto& peak : peaks)
    {
        const auto peakRow = hzToRow (peak.hz);
        auto weight = peak.amplitude;
        const auto vote = [&] (float harmonic, float w) {
            // the pitch of which this peak is the given harmonic
            const auto centre = peakRow - 12.0f * PitchogramView::rowsPerSemitone * std::log2 (harmonic);
            if (centre < (float) -kernelRows || centre > (float) (rows - 1 + kernelRows))
                return;
            const auto from = std::max (0, (int) std::ceil (centre - kernelRows));
            const auto to = std::min (rows - 1, (int) std::floor (centre + kernelRows));
            for (int r = from; r <= to; ++r)
                salience[r] += w * kernel.at ((float) r - centre);
        };
        for (int h = 1; h <= numHarmonics; ++h, weight *= harmonicDecay)
        {
            vote ((float) h, weight);
            // A peak half way between two harmonics of a pitch (or below its first) says
            // that pitch is not the one sounding: an octave above the true one, mostly.
            if (h <= numGaps)
                vote ((float) h - 0.5f, -gapWeight * weight);
        }
    }
}

std::shared_ptr<const PitchogramView> PitchogramHelper::generatePitchogramMatrix (Asig& asig, Progress::Ptr progress,
                                                                                  std::shared_ptr<const PitchogramView> previous)
{
    if (! asig.isReady())
        return nullptr;
    // Taken before the frames are read: an edit made meanwhile moves the store on, and
    // the next check computes its frames again.
    const auto generation = asig.getEditGeneration();
    const auto numFrames = asig.getNumFrames();
    auto view = std::make_shared<PitchogramView> (numFrames, generation);
    juce::Range<int> todo { 0, numFrames };
    if (previous != nullptr && previous->getNumColumns() == numFrames)
    {
        view->chunks = previous->chunks;
        view->loudest = previous->loudest;
        todo = asig.getFramesEditedSince (previous->getStoreGeneration()).getIntersectionWith (todo);
    }

    const auto numFreqs = asig.getNumFreqs();
    const auto channels = asig.getNumChannels();
    const auto nfft = asig.getGeometry().nfft;
    const auto binHz = (float) asig.getSampleRate() / (float) nfft;
    // A sine of amplitude a peaks at a nfft / 4 through a Hann window.
    std::vector<float> gains ((size_t) numFreqs);
    for (int k = 0; k < numFreqs; ++k)
        gains[(size_t) k] = std::pow (aWeighting ((float) k * binHz), 1.0f) * 4.0f / (float) nfft;

    std::vector<float> magnitudes ((size_t) numFreqs), salience ((size_t) PitchogramView::numRows);
    std::vector<Peak> peaks;
    constexpr int block = 64;
    const auto firstChunk = todo.getStart() / PitchogramView::columnsPerChunk;
    const auto endChunk = (todo.getEnd() + PitchogramView::columnsPerChunk - 1) / PitchogramView::columnsPerChunk;
    int done = 0;
    for (int chunkIndex = firstChunk; chunkIndex < endChunk; ++chunkIndex)
    {
        auto chunk = std::make_shared<PitchogramView::Chunk> (*view->chunks[(size_t) chunkIndex]);
        const auto frames = juce::Range<int> (chunkIndex * PitchogramView::columnsPerChunk,
                                              (chunkIndex + 1) * PitchogramView::columnsPerChunk)
                                .getIntersectionWith (todo);
        for (auto start = frames.getStart(); start < frames.getEnd(); start += block)
        {
            const juce::Range<int> range (start, std::min (frames.getEnd(), start + block));
            std::vector<CspecMatrix> spectra;
            for (int c = 0; c < channels; ++c)
                spectra.push_back (asig.readFrames (c, range, asig.getMaskUse(), Asig::SelectionGain::none));
            for (int f = 0; f < range.getLength(); ++f)
            {
                for (int k = 0; k < numFreqs; ++k)
                {
                    float power = 0.0f;
                    for (const auto& s : spectra)
                        if (f < s.cols() && k < s.rows())
                            power += std::norm (s (k, f));
                    auto weight = 1.0f;
                    if (spectra.size() == 2 && f < spectra[0].cols() && f < spectra[1].cols() && power > 0.0f)
                    {
                        // How alike the two channels are in this bin (1 in the centre, 0 at
                        // one side only): the lead of a song sits in the centre.
                        const auto alike = 2.0f * std::abs (spectra[0](k, f) * std::conj (spectra[1](k, f))) / power;
                        weight = sideWeight + (1.0f - sideWeight) * alike * alike;
                    }
                    magnitudes[(size_t) k] = std::sqrt (power / (float) std::max (1, channels)) * gains[(size_t) k] * weight;
                }
                findPeaks (magnitudes.data(), numFreqs, binHz, peaks);
                harmonicSalience (peaks, salience.data());
                auto* column = chunk->data()
                               + (size_t) ((range.getStart() + f) % PitchogramView::columnsPerChunk) * PitchogramView::numRows;
                for (int r = 0; r < PitchogramView::numRows; ++r)
                {
                    const auto value = std::max (0.0f, salience[(size_t) r]);
                    column[r] = value > 0.0f ? PitchogramView::dbToLevel (juce::Decibels::gainToDecibels (value, -200.0f))
                                             : juce::uint8 { 0 };
                    view->loudest = std::max (view->loudest, column[r]);
                }
            }
            done += range.getLength();
            if (progress != nullptr)
            {
                progress->setProgress ((float) done / (float) std::max (1, todo.getLength()));
                if (progress->isCancelled())
                    return nullptr;
            }
        }
        view->chunks[(size_t) chunkIndex] = std::move (chunk);
    }
    if (progress != nullptr)
        progress->finish();
    return view;
}

void PitchogramHelper::harmonicComb (float midi, int numFreqs, int sampleRate, float* weights) noexcept
{
    std::fill (weights, weights + std::max (0, numFreqs), 0.0f);
    if (! (midi > 33.0f && midi < 112.0f) || numFreqs < 2 || sampleRate <= 0)
        return;
    const auto nyquist = sampleRate / 2.0f;
    const auto top = std::min (numFreqs, (int) (8000.0f / nyquist * (float) numFreqs));
    if (top < 2)
        return;
    const auto f0 = midiToFreq (midi) / (nyquist / (float) numFreqs); // in bins
    int k = 1;
    for (int i = 1; i < top; ++i)
    {
        const auto w = 5.0f * (float) i / (float) numFreqs;
        const auto d = (float) (int) ((float) i - (float) k * f0);
        if (d + w > 0.0f)
            weights[i] = 1.0f;
        if (d > w)
            ++k;
    }
}

//==============================================================================
namespace
{
    constexpr float jumpDbPerRow = 0.5f, largestJumpDb = 15.0f, voicingDb = 6.0f;
}

std::vector<int> PitchogramHelper::hmmViterbi (const Eigen::MatrixXf& scores)
{
    const auto states = (int) scores.rows() - 1; // the last row: no melody
    const auto steps = (int) scores.cols();
    std::vector<int> path ((size_t) steps, -1);
    if (states < 1 || steps < 1)
        return path;

    // back[t][s]: the state at t - 1 on the best path into s at t (states = no melody)
    std::vector<juce::int16> back ((size_t) steps * (states + 1));
    Eigen::VectorXf score = scores.col (0), next (states + 1), spread (states);
    std::vector<int> from ((size_t) states);
    for (int t = 1; t < steps; ++t)
    {
        // best of score(r') - jumpDbPerRow |r - r'| over r', by one pass each way
        for (int r = 0; r < states; ++r)
        {
            spread[r] = score[r];
            from[(size_t) r] = r;
            if (r > 0 && spread[r - 1] - jumpDbPerRow > spread[r])
            {
                spread[r] = spread[r - 1] - jumpDbPerRow;
                from[(size_t) r] = from[(size_t) r - 1];
            }
        }
        for (int r = states - 2; r >= 0; --r)
            if (spread[r + 1] - jumpDbPerRow > spread[r])
            {
                spread[r] = spread[r + 1] - jumpDbPerRow;
                from[(size_t) r] = from[(size_t) r + 1];
            }
        int best = 0;
        score.head (states).maxCoeff (&best);
        const auto farJump = score[best] - largestJumpDb;
        const auto fromSilence = score[states] - voicingDb;
        auto* b = back.data() + (size_t) t * (states + 1);
        for (int r = 0; r < states; ++r)
        {
            auto value = spread[r];
            auto origin = from[(size_t) r];
            if (farJump > value)
                value = farJump, origin = best;
            if (fromSilence > value)
                value = fromSilence, origin = states;
            next[r] = value + scores (r, t);
            b[r] = (juce::int16) origin;
        }
        const auto toSilence = score[best] - voicingDb;
        next[states] = (score[states] >= toSilence ? score[states] : toSilence) + scores (states, t);
        b[states] = (juce::int16) (score[states] >= toSilence ? states : best);
        score = next;
    }
    int state = 0;
    score.maxCoeff (&state);
    for (int t = steps - 1; t >= 0; --t)
    {
        path[(size_t) t] = state == states ? -1 : state;
        if (t > 0)
            state = back[(size_t) t * (states + 1) + (size_t) state];
    }
    return path;
}

namespace
{
    constexpr float silentDb = -60.0f;   // below this a column has no melody
    constexpr float belowPeakDb = 9.0f;  // the melody's level may fall this far below its usual peak
    constexpr float aboveFloorDb = 8.0f; // and this far above the column's floor (its 90th percentile):
                                         // noise stands 3 dB above it, a voice 12 dB
    constexpr int windowColumns = 4096;  // Viterbi windows (bounded memory on long rectangles)
    constexpr int shortestRunColumns = 3;
    constexpr float thinningCents = 3.0f;

    void thin (const std::vector<PitchogramHelper::TrackedNode>& run, size_t from, size_t to, std::vector<bool>& keep)
    {
        // Douglas-Peucker on (column, cents)
        if (to <= from + 1)
            return;
        const auto& a = run[from];
        const auto& b = run[to];
        float worst = 0.0f;
        size_t at = from;
        for (auto i = from + 1; i < to; ++i)
        {
            const auto t = (float) (run[i].column - a.column) / (float) (b.column - a.column);
            const auto d = std::abs (run[i].midi - (a.midi + t * (b.midi - a.midi))) * 100.0f;
            if (d > worst)
                worst = d, at = i;
        }
        if (worst <= thinningCents)
            return;
        keep[at] = true;
        thin (run, from, at, keep);
        thin (run, at, to, keep);
    }
} // namespace

std::vector<std::vector<PitchogramHelper::TrackedNode>>
    PitchogramHelper::trackMelody (const PitchogramView& view, juce::Range<int> columns, juce::Range<int> rows)
{
    columns = columns.getIntersectionWith ({ 0, view.getNumColumns() });
    rows = rows.getIntersectionWith ({ 0, PitchogramView::numRows });
    std::vector<std::vector<TrackedNode>> lines;
    if (columns.getLength() < shortestRunColumns || rows.getLength() < 1)
        return lines;

    // The usual peak: the 90th percentile of the loudest row of the columns that sound.
    std::vector<float> peaks;
    for (auto c = columns.getStart(); c < columns.getEnd(); ++c)
    {
        const auto* column = view.getColumn (c) + rows.getStart();
        const auto loudest = PitchogramView::levelToDb (*std::max_element (column, column + rows.getLength()));
        if (loudest > silentDb)
            peaks.push_back (loudest);
    }
    if (peaks.empty())
        return lines;
    std::nth_element (peaks.begin(), peaks.begin() + (ptrdiff_t) (peaks.size() * 9 / 10), peaks.end());
    const auto usualPeak = peaks[peaks.size() * 9 / 10];

    std::vector<float> path; // MIDI per column, -1 for none
    std::vector<juce::uint8> sorted;
    for (auto start = columns.getStart(); start < columns.getEnd(); start += windowColumns)
    {
        const auto count = std::min (windowColumns, columns.getEnd() - start);
        Eigen::MatrixXf scores (rows.getLength() + 1, count);
        for (int t = 0; t < count; ++t)
        {
            const auto* column = view.getColumn (start + t) + rows.getStart();
            for (int r = 0; r < rows.getLength(); ++r)
                scores (r, t) = PitchogramView::levelToDb (column[r]);
            // the floor of the whole column, whatever rows the rectangle holds
            const auto* whole = view.getColumn (start + t);
            sorted.assign (whole, whole + PitchogramView::numRows);
            const auto at = sorted.begin() + (ptrdiff_t) (sorted.size() * 9 / 10);
            std::nth_element (sorted.begin(), at, sorted.end());
            const auto floor = PitchogramView::levelToDb (*at);
            scores (rows.getLength(), t) = std::max ({ usualPeak - belowPeakDb, floor + aboveFloorDb, silentDb });
        }
        const auto states = hmmViterbi (scores);

        for (int t = 0; t < count; ++t)
        {
            const auto r = states[(size_t) t];
            if (r < 0)
            {
                path.push_back (-1.0f);
                continue;
            }
            // the peak between rows, from a parabola through the row and its neighbours
            float offset = 0.0f;
            if (r > 0 && r + 1 < rows.getLength())
            {
                const auto a = scores (r - 1, t), b = scores (r, t), c = scores (r + 1, t);
                const auto denominator = a - 2.0f * b + c;
                if (denominator < 0.0f)
                    offset = juce::jlimit (-0.5f, 0.5f, 0.5f * (a - c) / denominator);
            }
            path.push_back (PitchogramView::rowToMidi ((float) (rows.getStart() + r) + offset));
        }
    }

    for (size_t i = 0; i < path.size();)
    {
        if (path[i] < 0.0f)
        {
            ++i;
            continue;
        }
        std::vector<TrackedNode> run;
        for (; i < path.size() && path[i] >= 0.0f; ++i)
            run.push_back ({ columns.getStart() + (int) i, path[i] });
        if ((int) run.size() < shortestRunColumns)
            continue;
        std::vector<bool> keep (run.size(), false);
        keep.front() = keep.back() = true;
        thin (run, 0, run.size() - 1, keep);
        std::vector<TrackedNode> nodes;
        for (size_t k = 0; k < run.size(); ++k)
            if (keep[k])
                nodes.push_back (run[k]);
        lines.push_back (std::move (nodes));
    }
    return lines;
}

} // namespace kalder
