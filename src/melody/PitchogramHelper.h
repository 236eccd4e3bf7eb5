#pragma once

#include "PitchLine.h"

#include "base/Progress.h"

#include <Eigen/Dense>
#include <juce_core/juce_core.h>

#include <memory>
#include <vector>

namespace kalder
{

class Asig;

/**
    A track's pitchogram: for every frame of its store (a column) the salience of each
    pitch from MIDI 33 to MIDI 112 in quarter semitones (rows, row 0 = MIDI 33), as a
    level in half decibels (one byte: an hour-long song at 44.1 kHz holds about 50 MB).

    Columns live in chunks that are shared between versions: recomputing the frames an
    edit touched makes a new view that holds new chunks only where they changed.

    Threading: immutable once made, so any thread.
*/
class PitchogramView
{
public:
    static constexpr int lowestMidi = 33, highestMidi = 112, rowsPerSemitone = 4;
    static constexpr int numRows = (highestMidi - lowestMidi) * rowsPerSemitone + 1;
    static constexpr int columnsPerChunk = 256;

    PitchogramView (int numColumns, juce::uint64 storeGeneration);

    int getNumColumns() const noexcept { return numColumns; }
    /** The store's edit generation the view shows. */
    juce::uint64 getStoreGeneration() const noexcept { return storeGeneration; }

    /** numRows levels of column c (0 <= c < getNumColumns()). */
    const juce::uint8* getColumn (int c) const noexcept
    {
        return chunks[(size_t) (c / columnsPerChunk)]->data() + (size_t) (c % columnsPerChunk) * numRows;
    }

    static float levelToDb (juce::uint8 level) noexcept { return level * 0.5f - 100.0f; }
    static juce::uint8 dbToLevel (float db) noexcept
    {
        return (juce::uint8) juce::jlimit (0, 255, (int) std::lround ((db + 100.0f) * 2.0f));
    }
    static float rowToMidi (float row) noexcept { return lowestMidi + row / rowsPerSemitone; }
    static float midiToRow (float midi) noexcept { return (midi - lowestMidi) * rowsPerSemitone; }

    /** The highest level of any column (the top of the picture's colour scale). */
    juce::uint8 getLoudest() const noexcept { return loudest; }

    size_t getMemoryBytes() const noexcept { return chunks.size() * (size_t) columnsPerChunk * numRows; }

private:
    friend struct PitchogramHelper;
    using Chunk = std::vector<juce::uint8>;

    int numColumns = 0;
    juce::uint64 storeGeneration = 0;
    juce::uint8 loudest = 0;
    std::vector<std::shared_ptr<const Chunk>> chunks;
};

/**
    The operations behind the melody editor's picture and its tracking tool.

    Salience: the peaks of each frame's spectrum (the channels' power mean, with the
    track's mask, A-weighted, and in a stereo track weighted towards the centre, where a
    song's lead sits: a bin heard on one side only counts 12 dB less; peaks up to 5 kHz
    within 40 dB of the frame's loudest)
    vote for every pitch of which they could be the h-th harmonic (h up to 12, weighted
    0.85^(h - 1)), spread over half a semitone either side with a cos^2 kernel, and
    against every pitch between whose first harmonics they fall (a pitch an octave
    above the sung one collects its even harmonics, but its gaps hold the odd ones). A
    spectral peak's frequency is interpolated between bins, so the picture and the
    tracked line resolve pitch far finer than the transform's bins.

    Tracking: a Viterbi path through the levels inside a rectangle, with one more state
    for "no melody" whose level is set from the rectangle itself: 9 dB below the usual
    peak of its columns (their 90th percentile), 8 dB above the column's own floor (the 90th percentile of
    all its rows), and
    never below -60 dB; so silence, noise and accompaniment quieter than the melody
    between sung phrases give no line.
*/
struct PitchogramHelper
{
    static float midiToFreq (float midi) noexcept { return 440.0f * std::exp2 ((midi - 69.0f) / 12.0f); }

    /** The A-weighting of IEC 61672 as an amplitude gain (1 at 1 kHz). */
    static float aWeighting (float hz) noexcept;

    /** One spectral peak: its frequency and its (weighted) amplitude. */
    struct Peak
    {
        float hz = 0.0f, amplitude = 0.0f;
    };

    /** The peaks of one frame's magnitudes (numFreqs bins of binHz each). */
    static void findPeaks (const float* magnitudes, int numFreqs, float binHz, std::vector<Peak>& peaks);

    /** The salience of every row (numRows values, linear) that the peaks give. */
    static void harmonicSalience (const std::vector<Peak>& peaks, float* salience);

    /** Columns of the pitchogram of a track of numSamples samples at this hop: one per
        store frame. */
    static int calcCQTNumberOfFrames (int hop, juce::int64 numSamples) noexcept;

    /** The pitchogram of a ready store. With previous (an earlier pitchogram of the same
        store), only the frames edited since it are computed again. Null when cancelled
        through progress or when the store is not ready. */
    static std::shared_ptr<const PitchogramView> generatePitchogramMatrix (Asig& asig, Progress::Ptr progress,
                                                                           std::shared_ptr<const PitchogramView> previous = {});

    /** Bin weights (numFreqs) that pass the harmonics of a pitch up to 8 kHz, each band
        widening with frequency to about 5 bins either side at the Nyquist frequency, and
        nothing else; all zeros for a pitch outside (33, 112). The melody editor plays a
        track through it to let the user hear the melody lines. */
    static void harmonicComb (float midi, int numFreqs, int sampleRate, float* weights) noexcept;

    /** The most likely path through scores (dB; one row per pitch state, one column per
        time step; the last row is the "no melody" state): a row per column, -1 for no
        melody. A jump of d rows costs 0.5 d dB (at most 15), starting or ending the
        melody 6 dB. */
    static std::vector<int> hmmViterbi (const Eigen::MatrixXf& scores);

    /** The melody inside columns x rows of the view: the chains of (column, MIDI pitch)
        of each voiced stretch of at least three columns, thinned to the nodes needed
        to keep the pitch within 3 cents. */
    struct TrackedNode
    {
        int column = 0;
        float midi = 0.0f;
    };
    static std::vector<std::vector<TrackedNode>> trackMelody (const PitchogramView& view, juce::Range<int> columns,
                                                              juce::Range<int> rows);
};

} // namespace kalder
