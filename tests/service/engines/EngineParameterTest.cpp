// Every module parameter changes the separation, in the direction its name promises.

#include "EngineTestHelpers.h"

using namespace kalder;
using namespace kalder::test;
using service::Module;

namespace
{
class EngineParameterTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        SongOptions options;
        options.vocalRestFrom = 2.0; // the voice rests for 1.6 s
        options.vocalRestTo = 3.6;
        fixture = std::make_unique<SongFixture> (options);
    }
    static void TearDownTestSuite() { fixture.reset(); }

    static Separation run (Module module, std::map<juce::String, juce::var> parameters)
    {
        static int count = 0;
        auto s = separate (fixture->input, fixture->output ("run" + juce::String (++count)), module, std::move (parameters),
                           &fixture->song);
        EXPECT_TRUE (s.result.wasOk()) << s.result.getErrorMessage();
        return s;
    }

    static double total (const Separation& s, const juce::String& stem)
    {
        const auto it = s.stems.find (stem);
        return it == s.stems.end() ? -1.0 : energy (it->second, 0, it->second.getNumSamples());
    }

    /** Energy of a stem while the voice rests (away from its edges). */
    static double duringRest (const Separation& s, const juce::String& stem)
    {
        const auto sr = fixture->song.sampleRate;
        const auto& a = s.stems.at (stem);
        return energy (a, (int) (2.2 * sr), (int) (1.2 * sr));
    }

    /** Relative difference of two runs' stem, in dB of the first. */
    static double changeDb (const Separation& a, const Separation& b, const juce::String& stem)
    {
        return -sdrDb (a.stems.at (stem), b.stems.at (stem));
    }

    static juce::AudioBuffer<float> rest (std::initializer_list<const juce::AudioBuffer<float>*> minus)
    {
        auto r = fixture->mix;
        for (const auto* b : minus)
            r = difference (r, *b);
        return r;
    }

    /** Energy of the drums' component of a stem: <s, d>^2 / |d|^2. */
    static double drumsIn (const juce::AudioBuffer<float>& stem)
    {
        const auto& d = fixture->song.drums;
        double dot = 0.0, norm = 0.0;
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < d.getNumSamples(); ++i)
            {
                dot += (double) stem.getSample (c, i) * d.getSample (c, i);
                norm += (double) d.getSample (c, i) * d.getSample (c, i);
            }
        return dot * dot / norm;
    }

    static std::unique_ptr<SongFixture> fixture;
};

std::unique_ptr<SongFixture> EngineParameterTest::fixture;
} // namespace

TEST_F (EngineParameterTest, DrumStereoSmoothingChoosesSharedOrPerChannelMasks)
{
    // The channels differ (chords hard left and hard right), so per-channel masks
    // differ from the shared one; both still find the drums.
    const auto on = run (Module::drums, { { "stereoSmoothing", "On" } });
    const auto off = run (Module::drums, { { "stereoSmoothing", "Off" } });
    EXPECT_GT (changeDb (on, off, "drums"), -40.0);
    for (const auto* s : { &on, &off })
        EXPECT_GT (sdrDb (fixture->song.drums, s->stems.at ("drums")), sdrDb (fixture->song.drums, fixture->mix) + 4.0);
}

TEST_F (EngineParameterTest, VocalPositionAndWidthSelectWhereTheVoiceIs)
{
    const auto centre = run (Module::vocals, { { "sourcePosition", 1 } });
    const auto left = run (Module::vocals, { { "sourcePosition", 0 } });
    const auto right = run (Module::vocals, { { "sourcePosition", "2" } });
    // The voice is in the centre: looking for it on a side finds much less.
    EXPECT_LT (total (left, "vocals"), 0.3 * total (centre, "vocals"));
    EXPECT_LT (total (right, "vocals"), 0.3 * total (centre, "vocals"));

    const auto wide = run (Module::vocals, { { "sourcePosition", 0 }, { "panPreProcess", "Off" } });
    // A wide vocal on the left reaches further towards the centre than a narrow one.
    EXPECT_GT (total (wide, "vocals"), 2.0 * total (left, "vocals"));
}

TEST_F (EngineParameterTest, ReverbExtractionMovesTheTail)
{
    const std::map<juce::String, juce::var> plain { { "advancedFiltering", "Off" } };
    auto with = plain, track = plain, separateTrack = plain;
    with["reverbProcess"] = "WithVocal";
    track["reverbProcess"] = "WithTrack";
    separateTrack["reverbProcess"] = "SeparateTrack";
    const auto withVocal = run (Module::vocals, with);
    const auto withTrack = run (Module::vocals, track);
    const auto apart = run (Module::vocals, separateTrack);

    EXPECT_EQ (withVocal.names, juce::StringArray ({ "vocals", "remainder" }));
    EXPECT_EQ (apart.names, juce::StringArray ({ "vocals", "remainder", "VocalReverb" }));
    EXPECT_GT (total (withVocal, "vocals"), total (withTrack, "vocals"));
    EXPECT_GT (total (apart, "VocalReverb"), 0.0);

    // With plain masks the tail is the same either way: vocal plus reverb track equals
    // the vocal that keeps its reverb (within the 24-bit quantisation of two files).
    juce::AudioBuffer<float> sum (apart.stems.at ("vocals"));
    for (int c = 0; c < 2; ++c)
        sum.addFrom (c, 0, apart.stems.at ("VocalReverb"), c, 0, sum.getNumSamples());
    EXPECT_GT (sdrDb (withVocal.stems.at ("vocals"), sum), 80.0);
}

TEST_F (EngineParameterTest, VocalDetectionSilencesFramesWithoutVoice)
{
    const auto none = run (Module::vocals, { { "vocalActivity", "0.0" } });
    const auto high = run (Module::vocals, { { "vocalActivity", "0.7" } });
    const auto low = run (Module::vocals, { { "vocalActivity", "0.3" } });
    EXPECT_LT (duringRest (high, "vocals"), 0.5 * duringRest (none, "vocals"));
    EXPECT_LE (duringRest (high, "vocals"), duringRest (low, "vocals"));
    EXPECT_LE (duringRest (low, "vocals"), duringRest (none, "vocals"));
}

TEST_F (EngineParameterTest, SnareReductionFilteringAndBackingTrack)
{
    const auto snareOff = run (Module::vocals, { { "snareRemoval", "Off" } });
    const auto snareOn = run (Module::vocals, { { "snareRemoval", "On" } });
    // The vocal stem carries less of the drums with reduction: its projection on the
    // drums' signal shrinks.
    EXPECT_LT (drumsIn (snareOn.stems.at ("vocals")), 0.8 * drumsIn (snareOff.stems.at ("vocals")));
    EXPECT_GT (changeDb (snareOff, snareOn, "vocals"), -60.0);

    const auto plain = run (Module::vocals, { { "advancedFiltering", "Off" } });
    EXPECT_GT (changeDb (snareOff, plain, "vocals"), -60.0);

    const auto noBacking = run (Module::vocals, { { "backingTrack", "Off" } });
    EXPECT_EQ (noBacking.names, juce::StringArray ({ "vocals" }));

    const auto smoothingOff = run (Module::vocals, { { "stereoSmoothing", "Off" } });
    EXPECT_GT (changeDb (snareOff, smoothingOff, "vocals"), -60.0);
}

TEST_F (EngineParameterTest, NoiseGatesCloseWhileTheVoiceRests)
{
    for (const auto module : { Module::allVocals, Module::fourStems })
    {
        const auto gated = run (module, { { "gate", "true" } });
        const auto open = run (module, { { "gate", "false" } });
        // The gate removes much of the bleed over the rest, and all of it once the
        // rest has lasted a second (away from the last phrase's tail).
        EXPECT_LT (duringRest (gated, "vocals"), 0.8 * duringRest (open, "vocals")) << (int) module;
        const auto sr = fixture->song.sampleRate;
        const auto late = [&] (const Separation& s) {
            return energy (s.stems.at ("vocals"), (int) (2.9 * sr), (int) (0.5 * sr));
        };
        EXPECT_LT (late (gated), 0.1 * late (open)) << (int) module;
    }
}

TEST_F (EngineParameterTest, PanSourceCountSpacingAndSmear)
{
    for (int n = 3; n <= 7; ++n)
    {
        const auto s = run (Module::pan, { { "nSources", n } });
        ASSERT_EQ (s.names.size(), n);
        EXPECT_EQ (s.names[n - 1], "source-" + juce::String (n));
        // The hard-left chords land in the first source whatever the count.
        EXPECT_GT (sdrDb (fixture->song.leftChords, s.stems.at ("source-1")), 1.0) << n;
    }

    const auto sharp = run (Module::pan, { { "nSources", 5 } });
    const auto smeared = run (Module::pan, { { "nSources", 5 }, { "smear", "On" } });
    // Smearing widens and time-averages the masks: every source changes.
    for (int k = 1; k <= 5; ++k)
        EXPECT_GT (changeDb (sharp, smeared, "source-" + juce::String (k)), -30.0) << k;

    // Without equal spacing the sources sit where the energy is: here the centre and
    // the two hard sides, so the middle of five sources takes the centred parts,
    // which equal spacing splits with its neighbours at a quarter and three quarters.
    const auto learnt = run (Module::pan, { { "nSources", 3 }, { "equalSpacing", "Off" } });
    const auto equal = run (Module::pan, { { "nSources", 3 } });
    EXPECT_GT (changeDb (equal, learnt, "source-2"), -60.0);
    const auto centred = rest ({ &fixture->song.leftChords, &fixture->song.rightChords });
    EXPECT_GT (sdrDb (centred, learnt.stems.at ("source-2")), 5.0);
}
