#include "editing/SelectionHelper.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>

using namespace kalder;

namespace
{
using Range = juce::Range<int>;
constexpr double pi = juce::MathConstants<double>::pi;
using MaskUse = Asig::MaskUse;
constexpr auto noSelectionGain = Asig::SelectionGain::none;

/** An analysed store of generated audio, with its helper. */
struct Store
{
    Store (juce::AudioBuffer<float> samples, int sampleRate) : audio (std::move (samples), sampleRate)
    {
        EXPECT_TRUE (asig.setAudioFile (audio, dir.get(), "track").wasOk());
        EXPECT_TRUE (asig.readAudio (audio).wasOk());
    }
    test::TemporaryDirectory dir;
    ParsedAudioBuffer audio;
    Asig asig;
    SelectionHelper helper { &asig };
};

/** A stereo note: harmonics 1..n of f0 at amplitude a / k (times fall^(k - 1)). */
juce::AudioBuffer<float> makeNote (double f0, int harmonics, double seconds, int rate, float a = 0.3f)
{
    juce::AudioBuffer<float> b (2, (int) (seconds * rate));
    b.clear();
    for (int k = 1; k <= harmonics; ++k)
        for (int i = 0; i < b.getNumSamples(); ++i)
        {
            const auto v = (float) (a / k * std::sin (2.0 * pi * k * f0 * i / rate + k));
            b.addSample (0, i, v);
            b.addSample (1, i, v);
        }
    return b;
}

juce::AudioBuffer<float> sum (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    auto s = a;
    for (int c = 0; c < s.getNumChannels(); ++c)
        s.addFrom (c, 0, b, c, 0, s.getNumSamples());
    return s;
}

/** The tool's conversion of "Threshold (dB)" to the wand's linear threshold. */
float linear (float db)
{
    return db <= -100.0f ? 0.0f : std::pow (10.0f, db / 20.0f);
}

int binOf (double hz, int rate)
{
    return (int) std::lround (hz * 4096.0 / rate);
}

/** The share of a source's energy (channel 0, bins x frames) that the update selects:
    sum of value x |X|^2 over sum of |X|^2. */
double selectedShare (const SelectionUpdate& u, Asig& source, Range bins, Range frames)
{
    const auto x = source.readFrames (0, frames, MaskUse::none, noSelectionGain);
    double selected = 0.0, total = 0.0;
    for (int f = frames.getStart(); f < frames.getEnd(); ++f)
        for (int b = bins.getStart(); b < bins.getEnd(); ++b)
        {
            const auto p = (double) std::norm (x (b, f - frames.getStart()));
            total += p;
            if (u.getBins().contains (b) && u.getFrames().contains (f))
                selected += p * u.values (b - u.y1, f - u.x1);
        }
    return selected / total;
}

float valueAt (const SelectionUpdate& u, int bin, int frame)
{
    return u.getBins().contains (bin) && u.getFrames().contains (frame) ? u.values (bin - u.y1, frame - u.x1) : 0.0f;
}
} // namespace

//==============================================================================
TEST (SelectionHelper, ModesSetTheUpdateFlags)
{
    const struct
    {
        int mode;
        bool replace, add, subtract;
    } cases[] = { { 0, true, false, false }, { 1, false, true, false }, { 2, false, true, false }, { 3, false, false, true } };
    for (const auto& c : cases)
    {
        SelectionUpdate u;
        u.replace = ! c.replace, u.add = ! c.add, u.subtract = ! c.subtract;
        SelectionHelper::setSelectionMode ((SelectionMode) c.mode, u);
        EXPECT_EQ (u.replace, c.replace) << c.mode;
        EXPECT_EQ (u.add, c.add) << c.mode;
        EXPECT_EQ (u.subtract, c.subtract) << c.mode;
    }
}

TEST (SelectionHelper, RegionGrowing)
{
    using Blob = SelectionHelper::Blob;
    const int n = 12;
    const MaskMatrix flat = MaskMatrix::Constant (n, n, 5.0f);
    MaskMatrix moat = flat; // a ring of out-of-band cells around the centre's plateau
    moat.block (4, 4, 5, 5).setConstant (9.0f);
    moat.block (5, 5, 3, 3).setConstant (5.0f);
    MaskMatrix diagonal = MaskMatrix::Zero (n, n); // connected only through corners
    for (int i = 3; i < n - 3; ++i)
        diagonal (i, i) = 5.0f;
    MaskMatrix edges = flat; // the band is inclusive at both ends
    edges (4, 4) = 2.0f, edges (7, 7) = 6.0f, edges (5, 5) = 6.0001f, edges (6, 6) = 1.9999f;

    const struct
    {
        const char* name;
        const MaskMatrix& image;
        int row, column;
        float low, high, value;
        int expectedCells;
        float expectedSeed;
    } cases[] = {
        { "high <= low: the seed alone", flat, 6, 6, 5.0f, 5.0f, 0.7f, 1, 0.7f },
        { "high < low: the seed alone", flat, 6, 6, 6.0f, 1.0f, 0.7f, 1, 0.7f },
        { "seed value above 1 is stored as 1", flat, 6, 6, 1.0f, 0.0f, 3.0f, 1, 1.0f },
        { "negative seed value is stored as 0", flat, 6, 6, 1.0f, 0.0f, -2.0f, 0, 0.0f },
        { "full band: the window minus its margin", flat, 6, 6, 0.0f, 10.0f, 1.0f, (n - 6) * (n - 6), 1.0f },
        { "seed in the margin enters nothing", flat, 1, 6, 0.0f, 10.0f, 1.0f, 1, 1.0f },
        { "seed on the margin's edge grows inward", flat, 3, 3, 0.0f, 10.0f, 1.0f, (n - 6) * (n - 6), 1.0f },
        { "an out-of-band ring stops growth", moat, 6, 6, 4.0f, 6.0f, 1.0f, 9, 1.0f },
        { "eight neighbours: diagonals connect", diagonal, 3, 3, 4.0f, 6.0f, 1.0f, n - 6, 1.0f },
        { "both band ends are inclusive", edges, 6, 7, 2.0f, 6.0f, 1.0f, (n - 6) * (n - 6) - 2, 1.0f },
    };
    for (const auto& c : cases)
    {
        Blob blob = Blob::Zero (n, n);
        SelectionHelper::connectedBlob (blob, c.row, c.column, c.image, c.low, c.high, c.value);
        EXPECT_EQ ((blob.array() > 0.0f).count(), c.expectedCells) << c.name;
        EXPECT_FLOAT_EQ (blob (c.row, c.column), c.expectedSeed) << c.name;
        for (int r = 0; r < n; ++r)
            for (int col = 0; col < n; ++col)
            {
                const bool margin = r < 3 || r >= n - 3 || col < 3 || col >= n - 3;
                if ((r != c.row || col != c.column) && blob (r, col) > 0.0f)
                {
                    EXPECT_FALSE (margin) << c.name << " entered " << r << "," << col;
                    const auto expected = std::clamp ((c.image (r, col) - 0.75 * c.low) / (c.high - c.low), 0.0, 1.0);
                    EXPECT_NEAR (blob (r, col), expected, 1e-6) << c.name;
                }
            }
    }

    // A region covering a large window grows without exhausting the call stack.
    Blob big = Blob::Zero (1500, 1500);
    SelectionHelper::connectedBlob (big, 700, 700, MaskMatrix::Constant (1500, 1500, 1.0f), 0.5f, 1.5f, 1.0f);
    EXPECT_EQ ((big.array() > 0.0f).count(), 1494 * 1494);
}

TEST (SelectionHelper, RectanglesAndEllipsesAreClippedToTheTrack)
{
    Store s (test::makeNoise (1, 8000, 3), 8000); // 513 bins, 34 frames
    const auto nf = s.asig.getNumFrames(), nb = s.asig.getNumFreqs();
    const struct
    {
        int x1, y1, x2, y2;
        int ex1, ey1, ex2, ey2; // expected area; ex2 < ex1 means empty
    } cases[] = {
        { 2, 10, 5, 20, 2, 10, 5, 20 }, { 5, 20, 2, 10, 2, 10, 5, 20 },
        { -4, -3, 3, 2, 0, 0, 3, 2 },   { 30, 500, 99, 900, 30, 500, nf - 1, nb - 1 },
        { 7, 7, 7, 7, 7, 7, 7, 7 },     { nf, 0, nf + 5, 10, 0, 0, -1, -1 },
        { 0, -9, 5, -1, 0, 0, -1, -1 },
    };
    for (const auto& c : cases)
    {
        const auto r = s.helper.rectangleSelect (c.x1, c.y1, c.x2, c.y2, SelectionMode::addArea);
        const auto e = s.helper.ellipseSelect (c.x1, c.y1, c.x2, c.y2, SelectionMode::replace);
        if (c.ex2 < c.ex1)
        {
            EXPECT_TRUE (r.isEmpty() && e.isEmpty()) << c.x1 << "," << c.y1;
            continue;
        }
        EXPECT_EQ (std::make_tuple (r.x1, r.y1, r.x2, r.y2), std::make_tuple (c.ex1, c.ey1, c.ex2, c.ey2));
        EXPECT_EQ (r.values.rows(), c.ey2 - c.ey1 + 1);
        EXPECT_EQ (r.values.cols(), c.ex2 - c.ex1 + 1);
        EXPECT_EQ (r.values.minCoeff(), 1.0f);
        EXPECT_TRUE (r.add && ! r.replace);
        EXPECT_TRUE (e.replace);
    }

    // The ellipse: centre and edge midpoints in, corners out, about pi / 4 of the box.
    const auto e = s.helper.ellipseSelect (4, 100, 24, 300, SelectionMode::replace);
    ASSERT_EQ (e.values.rows(), 201);
    EXPECT_EQ (e.values (100, 10), 1.0f);
    EXPECT_EQ (e.values (0, 10) + e.values (200, 10) + e.values (100, 0) + e.values (100, 20), 4.0f);
    EXPECT_EQ (e.values (0, 0) + e.values (200, 20) + e.values (0, 20) + e.values (200, 0), 0.0f);
    EXPECT_NEAR (e.values.sum() / (double) e.values.size(), pi / 4.0, 0.02);
}

TEST (SelectionHelper, ThresholdSelectsExactlyTheBinsOnEachSideOfTheLevel)
{
    Store s (sum (makeNote (300.0, 5, 1.0, 8000), test::makeNoise (2, 8000, 5, 0.01f)), 8000);
    ASSERT_TRUE (s.asig.setMask (0, { 40, 120 }, { 5, 20 }, MaskMatrix::Constant (80, 15, 0.05f)));
    const Range frames (2, 30), bins (10, 300);
    for (const bool flip : { false, true })
    {
        s.asig.setFlip (flip);
        std::vector<CspecMatrix> x;
        for (int c = 0; c < 2; ++c)
            x.push_back (s.asig.readFrames (c, frames, flip ? MaskUse::flippedMask : MaskUse::mask, noSelectionGain));
        for (const auto level : { -30.0f, 0.0f, 20.0f })
            for (const bool above : { false, true })
            {
                // Corners reversed and the top one past the track: clipped, in any order.
                const auto u = s.helper.thresholdSelect (frames.getEnd() - 1, 300, frames.getStart(), bins.getStart(), level,
                                                         above, SelectionMode::replace);
                ASSERT_EQ (std::make_tuple (u.x1, u.y1, u.x2, u.y2),
                           std::make_tuple (frames.getStart(), bins.getStart(), frames.getEnd() - 1, 300));
                int selected = 0;
                for (int f = 0; f < frames.getLength(); ++f)
                    for (int b = bins.getStart(); b <= 300; ++b)
                    {
                        const auto db = 20.0 * std::log10 (0.5 * (std::abs (x[0](b, f)) + std::abs (x[1](b, f))));
                        const bool expected = above ? db > level : db < level;
                        if (std::abs (db - level) > 1e-3)
                        {
                            EXPECT_EQ (u.values (b - bins.getStart(), f), expected ? 1.0f : 0.0f) << b << "," << f;
                        }
                        selected += expected;
                    }
                EXPECT_GT (selected, 0);
                EXPECT_LT (selected, u.values.size());
            }
    }
    EXPECT_TRUE (s.helper.thresholdSelect (0, 0, 5, 5, std::nanf (""), true, SelectionMode::replace).isEmpty());
}

//==============================================================================
/** Two notes a fifth apart (440 and 660 Hz, three harmonics each) at 44.1 kHz, and each alone. */
struct Fifth
{
    static constexpr int rate = 44100;
    Store a { makeNote (440.0, 3, 2.0, rate), rate }, b { makeNote (660.0, 3, 2.0, rate), rate };
    Store mix { sum (a.audio.getBuffer(), b.audio.getBuffer()), rate };
};

TEST (SelectionHelper, WandSelectsThePartialAndNothingOfTheNeighbouringNote)
{
    Fifth fifth;
    const int x = 45;
    const struct
    {
        double clicked;
        bool clickedIsA;
        int clickOffset;
        float thresholdDb;
        int size;
    } cases[] = { { 440.0, true, 0, -20.0f, 0 },   { 440.0, true, 1, -40.0f, 10 }, { 440.0, true, -2, -70.0f, 10 },
                  { 440.0, true, 0, -100.0f, 10 }, { 660.0, false, 0, -20.0f, 5 }, { 660.0, false, -1, -60.0f, 10 },
                  { 660.0, false, 0, -100.0f, 10 } };
    for (const auto& c : cases)
    {
        auto& clicked = c.clickedIsA ? fifth.a.asig : fifth.b.asig;
        auto& other = c.clickedIsA ? fifth.b.asig : fifth.a.asig;
        const auto y = binOf (c.clicked, Fifth::rate) + c.clickOffset;
        const auto u = fifth.mix.helper.wandSelect (x, y, linear (c.thresholdDb), c.size, false, 1, 0.0f, 0.0f, 0.0f,
                                                    SelectionMode::addPoint);
        ASSERT_FALSE (u.isEmpty());
        EXPECT_TRUE (u.add);
        // The area is the result window: 15 + size cells around the click.
        EXPECT_EQ (std::make_tuple (u.x1, u.y1, u.x2, u.y2),
                   std::make_tuple (x - 15 - c.size, y - 15 - c.size, x + 15 + c.size, y + 15 + c.size));
        const auto peak = binOf (c.clicked, Fifth::rate);
        const Range partial (peak - 3, peak + 4), interior (x - 12, x + 13);
        EXPECT_GT (selectedShare (u, clicked, partial, interior), 0.8) << c.clicked << " " << c.thresholdDb;
        EXPECT_LT (selectedShare (u, other, { 0, 2049 }, u.getFrames()), 0.01) << c.clicked << " " << c.thresholdDb;
        // Soft edges: the bins beside the peak are selected, but not fully.
        EXPECT_GT (valueAt (u, peak, x), 0.9f);
        const auto flank = std::min (valueAt (u, peak + 1, x), valueAt (u, peak - 1, x));
        EXPECT_GT (flank, 0.05f);
        EXPECT_LT (flank, 0.95f);
    }
}

TEST (SelectionHelper, WandBandFollowsTheThresholdAndItsWindowsAreClamped)
{
    Fifth fifth;
    auto& h = fifth.mix.helper;
    const auto nf = fifth.mix.asig.getNumFrames(), y = binOf (440.0, Fifth::rate);
    auto wand = [&] (int x, int yy, float t, int size) {
        return h.wandSelect (x, yy, t, size, false, 1, 0.0f, 0.0f, 0.0f, SelectionMode::replace);
    };

    // Lower thresholds select more; every cell of a region without a soft edge lies within
    // the threshold (linear, as the tool passes it) below the seed.
    std::vector<int> counts;
    for (const auto db : { 0.0f, -10.0f, -30.0f, -60.0f, -100.0f })
    {
        const auto u = wand (45, y, linear (db), 0);
        const auto count = (int) (u.values.array() > 0.0f).count();
        EXPECT_GE (count, counts.empty() ? 1 : counts.back()) << db;
        counts.push_back (count);
        if (db == 0.0f)
        {
            EXPECT_EQ (count, 1); // t = 1: the seed alone
        }
        const auto x = fifth.mix.asig.readFrames (0, u.getFrames(), MaskUse::mask, noSelectionGain);
        const auto y2 = fifth.mix.asig.readFrames (1, u.getFrames(), MaskUse::mask, noSelectionGain);
        double loudest = -1e9, quietest = 1e9;
        for (int f = 0; f < u.values.cols(); ++f)
            for (int b = 0; b < u.values.rows(); ++b)
                if (u.values (b, f) > 0.0f)
                {
                    const auto level = 20.0 * std::log10 (0.5 * (std::abs (x (u.y1 + b, f)) + std::abs (y2 (u.y1 + b, f))));
                    loudest = std::max (loudest, level), quietest = std::min (quietest, level);
                }
        if (db > -100.0f)
        {
            EXPECT_LE (loudest - quietest, -db + 6.0 + 1e-3) << db;
        }
    }
    EXPECT_GT (counts[3], counts[1]);
    EXPECT_EQ (counts.back(), 25 * 25); // t = 0: the whole window but its margin

    // Windows at the track's edges and selection sizes beyond 0..10.
    const struct
    {
        int x, y, size, ex1, ey1, ex2, ey2;
    } cases[] = { { 0, 0, 3, 0, 0, 18, 18 },
                  { nf - 1, 2048, 0, nf - 16, 2032, nf - 1, 2047 },
                  { 45, y, 50, 20, y - 25, 70, y + 25 },
                  { 45, y, -5, 30, y - 15, 60, y + 15 } };
    for (const auto& c : cases)
    {
        const auto u = wand (c.x, c.y, 0.01f, c.size);
        EXPECT_EQ (std::make_tuple (u.x1, u.y1, u.x2, u.y2), std::make_tuple (c.ex1, c.ey1, c.ex2, c.ey2)) << c.x;
        EXPECT_GT (u.values.maxCoeff(), 0.0f);
    }

    // Nothing to select: outside the track, bad parameters, a store without frames.
    const auto nan = std::nanf ("");
    EXPECT_TRUE (wand (-1, y, 0.1f, 0).isEmpty());
    EXPECT_TRUE (wand (nf, y, 0.1f, 0).isEmpty());
    EXPECT_TRUE (wand (45, 2049, 0.1f, 0).isEmpty());
    EXPECT_TRUE (wand (45, y, nan, 0).isEmpty());
    EXPECT_TRUE (h.wandSelect (45, y, 0.1f, 0, true, 1, nan, 0.0f, 1.0f, SelectionMode::replace).isEmpty());
    Asig empty;
    EXPECT_TRUE (SelectionHelper (&empty).wandSelect (0, 0, 0.1f, 0, false, 1, 0, 0, 0, SelectionMode::replace).isEmpty());
    EXPECT_TRUE (SelectionHelper().rectangleSelect (0, 0, 1, 1, SelectionMode::replace).isEmpty());
}

TEST (SelectionHelper, HarmonicWandReachesTheHarmonicsUpToTheHighCut)
{
    const int rate = 44100, x = 45;
    Store s (makeNote (220.0, 10, 2.0, rate), rate);
    const auto highCutBin = (int) (1.33 * 1000.0 * 4096 / rate); // 123: harmonic 6 (122.6) is the last below
    const struct
    {
        int harmonic;
        float rollOff, strength;
    } cases[] = { { 1, 0.0f, 1.0f }, { 2, 0.0f, 1.0f }, { 3, 0.3f, 1.0f }, { 6, 0.0f, 1.0f }, { 1, 0.5f, 0.5f } };
    for (const auto& c : cases)
    {
        const auto y = binOf (220.0 * c.harmonic, rate);
        const auto u = s.helper.wandSelect (x, y, 0.03f, 4, true, c.harmonic, 1.33f, c.rollOff, c.strength,
                                            SelectionMode::subtract);
        ASSERT_FALSE (u.isEmpty());
        EXPECT_TRUE (u.subtract);
        EXPECT_LE (u.y2, highCutBin);
        EXPECT_LE (u.y1, binOf (220.0, rate) - 15);
        for (int k = 1; k <= 6; ++k)
        {
            const auto weight = c.strength * (k > c.harmonic ? std::pow (1.0f - c.rollOff, (float) (k - c.harmonic)) : 1.0f);
            const auto v = valueAt (u, binOf (220.0 * k, rate), x);
            EXPECT_GT (v, 0.7f * weight) << "harmonic " << k << " of case " << c.harmonic;
            EXPECT_LE (v, weight + 1e-5f) << "harmonic " << k << " of case " << c.harmonic;
        }
    }
    // The plain wand on the fundamental reaches none of the others.
    const auto plain = s.helper.wandSelect (x, binOf (220.0, rate), 0.03f, 4, false, 1, 1.5f, 0.0f, 1.0f, SelectionMode::replace);
    EXPECT_EQ (valueAt (plain, binOf (440.0, rate), x), 0.0f);
}

//==============================================================================
/** A click every half second over a sustained chord, at 8 kHz (N = 1024, 513 bins). */
struct ClicksOverPad
{
    static constexpr int rate = 8000, samples = 3 * rate;
    static juce::AudioBuffer<float> pad()
    {
        return sum (sum (makeNote (250.0, 4, 3.0, rate, 0.1f), makeNote (375.0, 4, 3.0, rate, 0.1f)),
                    makeNote (500.0, 4, 3.0, rate, 0.1f));
    }
    Store clicks { test::makeClicks (2, samples, rate / 2), rate }, chord { pad(), rate };
    Store mix { sum (clicks.audio.getBuffer(), chord.audio.getBuffer()), rate };
};

TEST (SelectionHelper, PercussiveSelectionFindsTheClicksAndHarmonicSelectionThePad)
{
    ClicksOverPad s;
    const auto nf = s.mix.asig.getNumFrames();
    const Range all (0, 513), frames (0, nf);
    constexpr bool harmonic = true, percussive = false, masked = true;
    const auto p = s.mix.helper.percussiveHarmonicSelect (percussive, 0, 0, nf - 1, 512, masked, 0.0f, SelectionMode::subtract);
    const auto h = s.mix.helper.percussiveHarmonicSelect (harmonic, nf - 1, 512, 0, 0, masked, 0.0f, SelectionMode::replace);
    ASSERT_EQ (std::make_tuple (p.x1, p.y1, p.x2, p.y2), std::make_tuple (0, 0, nf - 1, 512));
    EXPECT_TRUE (p.subtract && h.replace);
    EXPECT_GT (selectedShare (p, s.clicks.asig, all, frames), 0.85);
    EXPECT_LT (selectedShare (p, s.chord.asig, all, frames), 0.05);
    EXPECT_GT (selectedShare (h, s.chord.asig, all, frames), 0.95);
    EXPECT_LT (selectedShare (h, s.clicks.asig, all, frames), 0.15);

    // The hover preview around a click: its frames, every bin, the click's share high.
    const auto clickFrame = ClicksOverPad::rate / 256 + 2; // the click at sample 8000 lies under frames 31..34
    const auto t = s.mix.helper.transientDetect (clickFrame, 100);
    ASSERT_EQ (std::make_tuple (t.x1, t.y1, t.x2, t.y2), std::make_tuple (clickFrame - 4, 0, clickFrame + 4, 512));
    EXPECT_GT (selectedShare (t, s.clicks.asig, all, t.getFrames()), 0.85);
    EXPECT_TRUE (s.mix.helper.transientDetect (nf, 100).isEmpty());

    // Low cut (kHz -> bin, truncated) and clamping.
    const struct
    {
        float lowCut;
        int y1, y2, ey1; // ey1 < 0: empty
    } cases[] = { { 1.0f, 10, 400, 128 }, { -2.0f, 10, 400, 10 }, { 0.3f, 10, 400, 38 },
                  { 1.0f, 10, 100, -1 },  { 9.0f, 0, 512, 512 },  { 0.0f, -20, -1, -1 } };
    for (const auto& c : cases)
    {
        const auto u = s.mix.helper.percussiveHarmonicSelect (percussive, 40, c.y1, 60, c.y2, masked, c.lowCut,
                                                              SelectionMode::replace);
        EXPECT_EQ (u.isEmpty() ? -1 : u.y1, c.ey1) << c.lowCut;
    }
    EXPECT_TRUE (
        s.mix.helper.percussiveHarmonicSelect (percussive, nf, 0, nf + 9, 100, masked, 0.0f, SelectionMode::replace).isEmpty());
}

TEST (SelectionHelper, PercussiveSelectionIsTheChannelMeanAndSeesBeyondItsRectangle)
{
    const int rate = 8000;
    const auto stereo = test::makeNoise (2, 3 * rate, 9);
    juce::AudioBuffer<float> left (1, stereo.getNumSamples()), right (1, stereo.getNumSamples());
    left.copyFrom (0, 0, stereo, 0, 0, stereo.getNumSamples());
    right.copyFrom (0, 0, stereo, 1, 0, stereo.getNumSamples());
    Store both (stereo, rate), l (left, rate), r (right, rate);
    const auto nf = both.asig.getNumFrames();
    for (const bool harmonic : { false, true })
    {
        auto select = [&] (Store& st, int x1, int y1, int x2, int y2) {
            return st.helper.percussiveHarmonicSelect (harmonic, x1, y1, x2, y2, true, 0.0f, SelectionMode::replace).values;
        };
        const MaskMatrix part = select (both, 40, 30, 60, 400);
        ASSERT_EQ (part.cols(), 21);
        // The mean of the channels' results...
        const MaskMatrix mean = 0.5f * (select (l, 40, 30, 60, 400) + select (r, 40, 30, 60, 400));
        EXPECT_LT ((part - mean).cwiseAbs().maxCoeff(), 1e-5f) << harmonic;
        // ...whose filters see 8 frames and bins beyond the rectangle: a part is the whole's block.
        const MaskMatrix whole = select (both, 0, 0, nf - 1, 512);
        EXPECT_LT ((part - whole.block (30, 40, 371, 21)).cwiseAbs().maxCoeff(), 1e-6f) << harmonic;
    }
}

TEST (SelectionHelper, PreviewsReadConcurrentlyWithSelectionWrites)
{
    Fifth fifth;
    auto& asig = fifth.mix.asig;
    const auto y = binOf (440.0, Fifth::rate);
    auto wand = [&] { return fifth.mix.helper.wandSelect (45, y, 0.01f, 6, true, 1, 3.0f, 0.2f, 1.0f, SelectionMode::replace); };
    const auto reference = wand();
    ASSERT_FALSE (reference.isEmpty());
    std::atomic<int> mismatches { 0 };
    test::runConcurrently (4, [&] (int thread) {
        for (int i = 0; i < 10; ++i)
        {
            if (thread == 0)
                asig.setSelection ({ 0, 400 }, { 20, 70 }, MaskMatrix::Constant (400, 50, (float) (i % 2)), false);
            else if (const auto u = wand(); u.getBins() != reference.getBins() || u.values != reference.values)
                ++mismatches;
        }
    });
    EXPECT_EQ (mismatches.load(), 0);
}
