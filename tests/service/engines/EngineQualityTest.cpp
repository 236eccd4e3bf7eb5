// Where each module sends the sources of a generated song whose sources are known.
//
// These are routing checks, not quality figures: a stem must hold its own source
// better than the whole mixture does (by 3 dB) and score above an empty stem's 0 dB,
// which a mask applied to the wrong source, a swapped stem or a silent one cannot reach. How well the modules separate
// is measured by the separation benchmark on songs the engines were not tuned on
// (./kalder bench separation), never here on one song.

#include "EngineTestHelpers.h"

using namespace kalder;
using namespace kalder::test;
using service::Module;

namespace
{
class EngineQualityTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { fixture = std::make_unique<SongFixture>(); }
    static void TearDownTestSuite() { fixture.reset(); }

    static juce::AudioBuffer<float> rest (std::initializer_list<const juce::AudioBuffer<float>*> minus)
    {
        auto r = fixture->mix;
        for (const auto* b : minus)
            r = difference (r, *b);
        return r;
    }

    /** Checks that a stem holds its source better than the whole mixture does; returns its SDR. */
    static double expectAboveFloor (const Separation& s, const juce::String& stem, const juce::AudioBuffer<float>& truth)
    {
        constexpr double minGainDb = 3.0;
        EXPECT_TRUE (s.result.wasOk()) << s.result.getErrorMessage();
        const auto it = s.stems.find (stem);
        EXPECT_NE (it, s.stems.end()) << stem;
        if (it == s.stems.end())
            return -100.0;
        const auto sdr = sdrDb (truth, it->second);
        const auto floor = sdrDb (truth, fixture->mix);
        EXPECT_GT (sdr - floor, minGainDb) << stem << ": SDR " << sdr << " dB, floor " << floor << " dB";
        EXPECT_GT (sdr, 1.0) << stem << ": an empty stem scores 0 dB";
        return sdr;
    }

    static std::unique_ptr<SongFixture> fixture;
};

std::unique_ptr<SongFixture> EngineQualityTest::fixture;
} // namespace

TEST_F (EngineQualityTest, DrumsAndBassAreSeparatedFromTheRest)
{
    const auto& song = fixture->song;
    const auto drums = separate (fixture->input, fixture->output ("drums"), Module::drums);
    EXPECT_EQ (drums.names, juce::StringArray ({ "drums", "remainder" }));
    expectAboveFloor (drums, "drums", song.drums);
    expectAboveFloor (drums, "remainder", rest ({ &song.drums }));

    const auto bass = separate (fixture->input, fixture->output ("bass"), Module::bass);
    EXPECT_EQ (bass.names, juce::StringArray ({ "bass", "remainder" }));
    expectAboveFloor (bass, "bass", song.bass);
}

TEST_F (EngineQualityTest, VocalModulesIsolateTheVoice)
{
    const auto& song = fixture->song;
    const auto automatic = separate (fixture->input, fixture->output ("auto"), Module::vocals,
                                     { { "reverbProcess", "WithTrack" } });
    EXPECT_EQ (automatic.names, juce::StringArray ({ "vocals", "remainder" }));
    expectAboveFloor (automatic, "vocals", song.vocals);

    const auto all = separate (fixture->input, fixture->output ("all"), Module::allVocals);
    EXPECT_EQ (all.names, juce::StringArray ({ "vocals", "remainder" }));
    expectAboveFloor (all, "vocals", song.vocals);
}

TEST_F (EngineQualityTest, GuidedVocalsFollowTheGivenPitchLine)
{
    const auto& song = fixture->song;
    const auto guided = separate (fixture->input, fixture->output ("guided"), Module::vocals,
                                  { { "mode", "Guided" }, { "reverbProcess", "WithTrack" } }, &song);
    const auto right = expectAboveFloor (guided, "vocals", song.vocals);

    // The same guide a fifth higher points at the wrong partials: much worse.
    auto wrongSong = song;
    for (auto& m : wrongSong.vocalMidi)
        if (m > 0.0f)
            m += 7.0f;
    const auto wrong = separate (fixture->input, fixture->output ("wrong"), Module::vocals,
                                 { { "mode", "Guided" }, { "reverbProcess", "WithTrack" } }, &wrongSong);
    ASSERT_TRUE (wrong.result.wasOk());
    EXPECT_LT (sdrDb (song.vocals, wrong.stems.at ("vocals")), right - 3.0);

    // A guide drawn over the first half only: the second half's vocal stem is quiet.
    auto halfSong = song;
    const auto half = (int) halfSong.vocalMidi.size() / 2;
    std::fill (halfSong.vocalMidi.begin() + half, halfSong.vocalMidi.end(), -1.0f);
    const auto partial = separate (fixture->input, fixture->output ("half"), Module::vocals,
                                   { { "mode", "Guided" }, { "reverbProcess", "WithTrack" } }, &halfSong);
    ASSERT_TRUE (partial.result.wasOk());
    const auto& v = partial.stems.at ("vocals");
    const auto split = half * song.guideStepSamples;
    const auto margin = 4096; // one frame either side of the split
    EXPECT_LT (energy (v, split + margin, v.getNumSamples()), 0.01 * energy (v, 0, split - margin));
}

TEST_F (EngineQualityTest, PanModuleSeparatesHardPannedParts)
{
    const auto& song = fixture->song;
    const auto pan = separate (fixture->input, fixture->output ("pan"), Module::pan, { { "nSources", 3 } });
    EXPECT_EQ (pan.names, juce::StringArray ({ "source-1", "source-2", "source-3" }));
    expectAboveFloor (pan, "source-1", song.leftChords);
    expectAboveFloor (pan, "source-2", rest ({ &song.leftChords, &song.rightChords }));
    expectAboveFloor (pan, "source-3", song.rightChords);
}

TEST_F (EngineQualityTest, FourStemsSeparateAndAddUpToTheInput)
{
    const auto& song = fixture->song;
    const auto four = separate (fixture->input, fixture->output ("four"), Module::fourStems);
    EXPECT_EQ (four.names, juce::StringArray ({ "vocals", "bass", "drums", "other" }));
    expectAboveFloor (four, "vocals", song.vocals);
    expectAboveFloor (four, "bass", song.bass);
    expectAboveFloor (four, "drums", song.drums);
    expectAboveFloor (four, "other", song.other());

    juce::AudioBuffer<float> sum (2, fixture->mix.getNumSamples());
    sum.clear();
    for (const auto& [name, audio] : four.stems)
    {
        ASSERT_EQ (audio.getNumSamples(), sum.getNumSamples()) << name;
        for (int c = 0; c < 2; ++c)
            sum.addFrom (c, 0, audio, c, 0, sum.getNumSamples());
    }
    // The 24-bit input as written, against the sum of the decoded stems.
    EXPECT_GT (sdrDb (readAudioFile (fixture->input), sum), 90.0);

    const auto other = separate (fixture->input, fixture->output ("other"), Module::other);
    EXPECT_EQ (other.names, juce::StringArray ({ "other", "remainder" }));
    expectAboveFloor (other, "other", song.other());
}
