#include "display/Spectrogram.h"
#include "support/TestSignals.h"
#include "support/TestTracks.h"

#include <gtest/gtest.h>

using namespace kalder;

TEST (SpectrogramColours, DefaultsClampsAndTheLevelToColourRule)
{
    // Defaults, and what a damaged settings file or project gives.
    const auto defaults = SpectrogramSettings::fromObject (juce::var (SpectrogramSettings::getDefault().get()));
    EXPECT_EQ (defaults, SpectrogramSettings());
    EXPECT_DOUBLE_EQ (defaults.startHue, 0.3315);
    EXPECT_DOUBLE_EQ (defaults.endHue, 1.024);
    EXPECT_DOUBLE_EQ (defaults.brightness, 0.4588);
    EXPECT_DOUBLE_EQ (defaults.contrast, 0.7635);
    EXPECT_EQ (defaults.dynamicRange, 90);

    juce::ValueTree node ("EDITOR");
    node.setProperty (EditorIds::startHue, "blue", nullptr);
    node.setProperty (EditorIds::endHue, 7.5, nullptr);
    node.setProperty (EditorIds::brightness, std::numeric_limits<double>::quiet_NaN(), nullptr);
    node.setProperty (EditorIds::contrast, -3, nullptr);
    node.setProperty (EditorIds::dynamicRange, 100000, nullptr);
    const auto damaged = SpectrogramSettings::fromEditorNode (node);
    EXPECT_DOUBLE_EQ (damaged.startHue, SpectrogramSettings::defaultStartHue);
    EXPECT_DOUBLE_EQ (damaged.endHue, SpectrogramSettings::maxHue);
    EXPECT_DOUBLE_EQ (damaged.brightness, SpectrogramSettings::defaultBrightness);
    EXPECT_DOUBLE_EQ (damaged.contrast, 0.0);
    EXPECT_EQ (damaged.dynamicRange, SpectrogramSettings::maxDynamicRange);

    // HSV corners: hue in turns, wrapped.
    const struct
    {
        float hue;
        Pixel expected;
    } corners[] = { { 0.0f, { 255, 0, 0 } },
                    { 1.0f / 3.0f, { 0, 255, 0 } },
                    { 2.0f / 3.0f, { 0, 0, 255 } },
                    { 1.5f, { 0, 255, 255 } },
                    { -0.5f, { 0, 255, 255 } } };
    for (const auto& c : corners)
        EXPECT_EQ (ColourMapping::fromHSV (c.hue, 1.0f, 1.0f), c.expected) << c.hue;

    // The rule's ends: the quietest level gets the start hue at the offset value, the
    // loudest the end hue; the defaults run from blue (dark) to red.
    auto m = ColourMapping::fromSettings (defaults, -20.0f);
    EXPECT_FLOAT_EQ (m.minLevel, -110.0f);
    const auto quiet = m.colourOf (-500.0f), loud = m.colourOf (10.0f);
    EXPECT_EQ (quiet, ColourMapping::fromHSV (1.0f - 0.3315f, 1.0f, juce::jlimit (0.0f, 1.0f, m.valueOffset)));
    EXPECT_EQ (loud, ColourMapping::fromHSV (1.0f - 1.024f, 1.0f, juce::jlimit (0.0f, 1.0f, m.valueOffset + m.valueSlope)));
    EXPECT_EQ (quiet, (Pixel { 0, 0, 0 })); // a dark quiet end
    EXPECT_GT (loud.r, 200);
    EXPECT_LT (loud.b, 60);
    const auto middle = m.colourOf (-65.0f); // halfway: green-yellow at the brightness
    EXPECT_GT (middle.g, middle.b);
    EXPECT_NEAR ((float) std::max ({ middle.r, middle.g, middle.b }) / 255.0f, (float) defaults.brightness, 0.01f);
    EXPECT_EQ (m.thresholdColour (-30.0f), m.colourOf (-50.0f));

    // A start hue above the end hue reverses the ramp; a negative hue wraps by whole turns.
    m.startHue = 1.024f, m.endHue = 0.3315f;
    EXPECT_EQ (m.colourOf (10.0f).b > m.colourOf (10.0f).r, true);
    m.startHue = -0.3f;
    EXPECT_EQ (m.colourOf (-500.0f), ColourMapping::fromHSV (1.0f - 0.7f, 1.0f, juce::jlimit (0.0f, 1.0f, m.valueOffset)));
    // A silent track (no span of levels): the quietest colour, no division by zero.
    m.maxLevel = m.minLevel = -90.0f;
    EXPECT_EQ (m.position (-90.0f), 0.0f);
    EXPECT_EQ (m.position (std::numeric_limits<float>::quiet_NaN()), 0.0f);
}

namespace
{
/** Brightest pixel's row in one column of a chunk. */
int brightestRow (const Spectrogram::Chunk& chunk, int column)
{
    int best = -1, bestValue = -1;
    for (int y = 0; y < Spectrogram::chunkSize; ++y)
    {
        const auto& p = chunk.pixels[(size_t) (y * Spectrogram::chunkSize + column)];
        const auto value = std::max ({ (int) p.r, (int) p.g, (int) p.b });
        if (value > bestValue)
            best = y, bestValue = value;
    }
    return best;
}
} // namespace

TEST (Spectrogram, ATonesRowAndOnlyTheChunksAnEditTouchesAreMadeAgain)
{
    // A 10 kHz tone at 44.1 kHz: bin 10000 * 4096 / 44100 = 928.8, so chunk row 1, row 417.
    test::TemporaryDirectory dir;
    constexpr int rate = 44100;
    auto tone = test::makeTrack (dir.get().getChildFile ("tone"), "tone", test::makeSine (2, rate, rate, 10000.0), rate);
    ASSERT_NE (tone, nullptr);
    Spectrogram s;
    s.setTrack (tone);
    EXPECT_EQ (s.getImageWidth(), tone->getAsig()->getNumFrames());
    EXPECT_EQ (s.getImageHeight(), 2049);
    EXPECT_EQ (s.getNumChunkRows(), 5);
    s.setVisibleArea ({ 0, s.getImageWidth() }, { 0, s.getImageHeight() });
    ASSERT_TRUE (s.waitUntilCurrent (20000));
    const auto chunk = s.getChunk (s.getChunkIndex (0, 1));
    ASSERT_NE (chunk, nullptr);
    const auto expectedRow = (int) std::lround (10000.0 * 4096 / rate) - 512;
    EXPECT_NEAR (brightestRow (*chunk, s.getImageWidth() / 2), expectedRow, 1);
    EXPECT_GT (chunk->pixels[(size_t) (expectedRow * Spectrogram::chunkSize + s.getImageWidth() / 2)].r, 150);
    // Beyond the image (columns past its width) the chunk is black.
    EXPECT_EQ (chunk->pixels[(size_t) (expectedRow * Spectrogram::chunkSize + 511)], (Pixel {}));

    // A longer track of three chunk columns (8 kHz: 1024-point frames, 513 bins, two
    // chunk rows): an erase of frames 600 .. 700 makes column 1 stale and nothing else.
    auto song = test::makeTrack (dir.get().getChildFile ("song"), "song", test::makeNoise (2, 256 * 1100, 4), 8000);
    ASSERT_NE (song, nullptr);
    s.setTrack (song);
    ASSERT_EQ (s.getNumChunkColumns(), 3);
    ASSERT_EQ (s.getNumChunkRows(), 2);
    s.setVisibleArea ({ 0, s.getImageWidth() }, { 0, s.getImageHeight() });
    ASSERT_TRUE (s.waitUntilCurrent (20000));
    std::vector<juce::uint64> versions;
    for (int i = 0; i < s.getNumChunks(); ++i)
        versions.push_back (s.getChunk (i)->version);

    auto* asig = song->getAsig();
    ASSERT_TRUE (asig->setMask (0, { 0, 513 }, { 600, 700 }, MaskMatrix::Zero (513, 100)));
    ASSERT_TRUE (asig->setMask (1, { 0, 513 }, { 600, 700 }, MaskMatrix::Zero (513, 100)));
    s.scheduleRecache();
    for (int i = 0; i < s.getNumChunks(); ++i)
        EXPECT_EQ (s.isChunkCurrent (i), i / 2 != 1) << "chunk " << i;
    ASSERT_TRUE (s.waitUntilCurrent (20000));
    // Only the touched chunks were made again, with versions never used before.
    const auto newest = *std::max_element (versions.begin(), versions.end());
    for (int i = 0; i < s.getNumChunks(); ++i)
        if (i / 2 == 1)
            EXPECT_GT (s.getChunk (i)->version, newest) << "chunk " << i;
        else
            EXPECT_EQ (s.getChunk (i)->version, versions[(size_t) i]) << "chunk " << i;
    // The erased frames are black now; their neighbours are not.
    const auto erased = s.getChunk (s.getChunkIndex (1, 0));
    EXPECT_EQ (erased->pixels[(size_t) (100 * Spectrogram::chunkSize + 650 - 512)], (Pixel {}));
    EXPECT_NE (erased->pixels[(size_t) (100 * Spectrogram::chunkSize + 800 - 512)], (Pixel {}));

    // The selection layer: a selected rectangle is 255 inside, 0 outside.
    ASSERT_TRUE (asig->setSelection ({ 10, 20 }, { 100, 110 }, MaskMatrix::Ones (10, 10), true));
    s.scheduleRecache();
    ASSERT_TRUE (s.waitUntilCurrent (20000));
    const auto selected = s.getChunk (0);
    EXPECT_EQ (selected->selected[(size_t) (15 * Spectrogram::chunkSize + 105)], 255);
    EXPECT_EQ (selected->selected[(size_t) (25 * Spectrogram::chunkSize + 105)], 0);
}

TEST (Spectrogram, OnlyWantedChunksAreMadeWithinTheBudgetAndASilentTrackIsUniform)
{
    test::TemporaryDirectory dir;
    auto song = test::makeTrack (dir.get().getChildFile ("song"), "song", test::makeNoise (1, 256 * 2600, 7), 8000);
    ASSERT_NE (song, nullptr);
    Spectrogram s (4 * Spectrogram::bytesPerChunk);
    s.setTrack (song);
    ASSERT_EQ (s.getNumChunkColumns(), 6);

    // The first chunk column on screen: it and the column of margin after it are made.
    s.setVisibleArea ({ 0, 300 }, { 0, 513 });
    ASSERT_TRUE (s.waitUntilCurrent (20000));
    for (int i = 0; i < s.getNumChunks(); ++i)
        EXPECT_EQ (s.getChunk (i) != nullptr, i < 4) << i;
    // Scrolled to the end (two chunk columns on screen): the visible chunks are made,
    // the old ones go, and the budget holds. The view is set again and again while they
    // are made (as a drag does): each is made once, not again for every move.
    const auto published = s.getImageVersion();
    for (int i = 0; i < 200; ++i)
    {
        s.setVisibleArea ({ s.getImageWidth() - 300, s.getImageWidth() }, { 0, 513 });
        s.scheduleRecache();
        juce::Thread::sleep (1);
    }
    ASSERT_TRUE (s.waitUntilCurrent (20000));
    EXPECT_EQ (s.getImageVersion() - published, 4u);
    EXPECT_LE (s.getCachedBytes(), 4 * Spectrogram::bytesPerChunk);
    for (int i = s.getNumChunks() - 4; i < s.getNumChunks(); ++i)
        EXPECT_TRUE (s.isChunkCurrent (i)) << i;
    EXPECT_EQ (s.getChunk (0), nullptr);

    // The level of a view: the coarsest with at least one image column a pixel.
    const struct
    {
        int frames, pixels, level;
    } levels[] = { { 300, 1000, 0 },    { 1999, 1000, 0 }, { 2000, 1000, 1 },
                   { 155000, 1500, 6 }, { 5000, 0, 0 },    { std::numeric_limits<int>::max(), 1, Spectrogram::maxLevel } };
    for (const auto& l : levels)
        EXPECT_EQ (Spectrogram::levelFor (l.frames, l.pixels), l.level) << l.frames << " / " << l.pixels;

    // The whole song 650 pixels wide: level 2, two chunk columns that hold all of it
    // within the budget (level 0 would need twelve chunks), no column of it left black.
    const auto whole = juce::Range<int> (0, s.getImageWidth());
    ASSERT_EQ (Spectrogram::levelFor (whole.getLength(), 650), 2);
    s.setVisibleArea (whole, { 0, 513 }, 2);
    ASSERT_TRUE (s.waitUntilCurrent (20000));
    EXPECT_LE (s.getCachedBytes(), 4 * Spectrogram::bytesPerChunk);
    const auto wholeChunks = s.getChunksCovering (whole, { 0, 513 }, 2);
    ASSERT_EQ (wholeChunks.size(), 4u);
    auto blackColumns = [&] (int row) {
        int black = 0;
        for (int x = 0; x < (s.getImageWidth() + 3) / 4; ++x)
        {
            const auto chunk = s.getChunk (s.getChunkIndex (x / Spectrogram::chunkSize, 0, 2));
            black += chunk == nullptr
                     || chunk->pixels[(size_t) (row * Spectrogram::chunkSize + x % Spectrogram::chunkSize)] == Pixel {};
        }
        return black;
    };
    EXPECT_EQ (blackColumns (100), 0);

    // An erase of frames 1000 .. 1100 makes the coarse chunk over them again: its columns
    // 250 .. 274 are black, the rest not.
    for (int c = 0; c < song->getAsig()->getNumChannels(); ++c)
        ASSERT_TRUE (song->getAsig()->setMask (c, { 0, 513 }, { 1000, 1100 }, MaskMatrix::Zero (513, 100)));
    s.scheduleRecache();
    EXPECT_FALSE (s.isChunkCurrent (s.getChunkIndex (0, 0, 2)));
    EXPECT_TRUE (s.isChunkCurrent (s.getChunkIndex (1, 0, 2)));
    ASSERT_TRUE (s.waitUntilCurrent (20000));
    EXPECT_EQ (blackColumns (100), 25);
    EXPECT_EQ (s.getChunk (s.getChunkIndex (0, 0, 2))->pixels[(size_t) (100 * Spectrogram::chunkSize + 262)], (Pixel {}));

    // Zoomed in before its own chunks are made, the view draws the coarse ones over it;
    // then its own, last (on top).
    s.setVisibleArea ({ 0, 300 }, { 0, 513 }, 0);
    auto drawn = s.getChunksToDraw ({ 0, 300 }, { 0, 513 }, 0);
    ASSERT_EQ (drawn.size(), 2u);
    for (const auto& chunk : drawn)
        EXPECT_EQ (Spectrogram::levelOf (chunk->index), 2);
    ASSERT_TRUE (s.waitUntilCurrent (20000));
    drawn = s.getChunksToDraw ({ 0, 300 }, { 0, 513 }, 0);
    ASSERT_FALSE (drawn.empty());
    EXPECT_EQ (Spectrogram::levelOf (drawn.back()->index), 0);

    // A silent track: one colour everywhere, whatever the levels.
    juce::AudioBuffer<float> silence (2, 8000);
    silence.clear();
    auto silent = test::makeTrack (dir.get().getChildFile ("silent"), "silent", silence, 8000);
    ASSERT_NE (silent, nullptr);
    s.setTrack (silent);
    s.setVisibleArea ({ 0, s.getImageWidth() }, { 0, s.getImageHeight() });
    ASSERT_TRUE (s.waitUntilCurrent (20000));
    const auto chunk = s.getChunk (0);
    ASSERT_NE (chunk, nullptr);
    for (int y = 0; y < s.getImageHeight(); y += 7)
        for (int x = 0; x < s.getImageWidth(); x += 3)
            ASSERT_EQ (chunk->pixels[(size_t) (y * Spectrogram::chunkSize + x)], chunk->pixels[0]) << x << ", " << y;
}
