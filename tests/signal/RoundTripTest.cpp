#include "signal/Asig.h"
#include "signal/OverlapAddSynthesiser.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

using namespace kalder;

namespace
{
constexpr double requiredDb = 110.0;

/** Resynthesises a whole channel from the store's masked frames. */
std::vector<float> resynthesise (Asig& asig, int channel)
{
    OverlapAddSynthesiser synth (asig.getGeometry().nfft);
    const auto hop = asig.getGeometry().getHop();
    const auto blocks = asig.getGeometry().getNumBlocksForSamples (asig.getNumSamples());
    std::vector<float> out ((size_t) (blocks * hop));
    std::vector<float> block ((size_t) hop);

    // Pushing frame f completes block f - 3.
    for (int f = 0; f < asig.getNumFrames(); ++f)
    {
        const auto frame = asig.readMaskedFrames (channel, { f, f + 1 });
        synth.pushFrame (frame.data(), block.data());
        const auto b = f - (FrameGeometry::overlap - 1);
        if (b >= 0)
            std::copy (block.begin(), block.end(), out.begin() + (size_t) b * (size_t) hop);
    }
    out.resize ((size_t) asig.getNumSamples());
    return out;
}

struct Case
{
    const char* name;
    int sampleRate;
    int channels;
};

class RoundTrip : public ::testing::TestWithParam<Case>
{};
} // namespace

TEST_P (RoundTrip, UneditedTrackReconstructsItsInputAtEverySample)
{
    const auto c = GetParam();
    // A length that is not a multiple of the hop, so the last block is partial.
    const int samples = c.sampleRate + 1234;

    const std::pair<const char*, juce::AudioBuffer<float>> signals[] = {
        { "noise", test::makeNoise (c.channels, samples, 99) },
        { "sweep", test::makeSweep (c.channels, samples, c.sampleRate, 30.0, c.sampleRate * 0.45) },
        { "clicks", test::makeClicks (c.channels, samples, 997) },
    };

    for (const auto& [signalName, buffer] : signals)
    {
        test::TemporaryDirectory dir;
        ParsedAudioBuffer audio (buffer, c.sampleRate);
        Asig asig (audio, dir.get(), "t");
        ASSERT_TRUE (asig.readAudio (audio).wasOk());
        const auto hop = asig.getGeometry().getHop();

        for (int ch = 0; ch < c.channels; ++ch)
        {
            const auto out = resynthesise (asig, ch);
            const auto* in = buffer.getReadPointer (ch);
            EXPECT_GE (test::signalToErrorDb (in, out.data(), samples), requiredDb) << signalName << " channel " << ch;

            if (std::string (signalName) != "clicks") // clicks leave most hops silent
            {
                EXPECT_GE (test::signalToErrorDb (in, out.data(), hop), requiredDb) << signalName << " first hop";
                const auto lastStart = samples - samples % hop;
                EXPECT_GE (test::signalToErrorDb (in + lastStart, out.data() + lastStart, samples - lastStart), requiredDb)
                    << signalName << " last hop";
            }
            else
            {
                // The clicks on the very first and very last sample come back.
                EXPECT_NEAR (out.front(), in[0], 1e-5f);
                EXPECT_NEAR (out.back(), in[samples - 1], 1e-5f);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P (Rates, RoundTrip,
                          ::testing::Values (Case { "mono22k", 22050, 1 }, Case { "stereo44k", 44100, 2 },
                                             Case { "mono48k", 48000, 1 }, Case { "stereo96k", 96000, 2 }),
                          [] (const auto& info) { return std::string (info.param.name); });

TEST (OverlapAddSynthesiser, SilentFramesPrimeTheOverlapAndGiveSilence)
{
    OverlapAddSynthesiser synth (64);
    std::vector<float> block (16, 1.0f);
    for (int i = 0; i < 3; ++i)
    {
        synth.pushSilence (block.data());
        EXPECT_TRUE (std::all_of (block.begin(), block.end(), [] (float x) { return x == 0.0f; })); // negatives too
    }

    // A frame of zeros adds nothing either.
    CspecMatrix zeros = CspecMatrix::Zero (33, 1);
    synth.pushFrame (zeros.data(), block.data());
    EXPECT_TRUE (std::all_of (block.begin(), block.end(), [] (float x) { return x == 0.0f; }));
}

TEST (OverlapAddSynthesiser, AnEditedMaskFadesInsteadOfClicking)
{
    // Silence frames [30, 40) of a sine by mask: the output must reach zero smoothly.
    test::TemporaryDirectory dir;
    const int rate = 8000;
    const auto buffer = test::makeSine (1, rate * 2, rate, 440.0);
    ParsedAudioBuffer audio (buffer, rate);
    Asig asig (audio, dir.get(), "t");
    ASSERT_TRUE (asig.readAudio (audio).wasOk());
    ASSERT_TRUE (asig.setMask (0, { 0, asig.getNumFreqs() }, { 30, 40 }, MaskMatrix::Zero (asig.getNumFreqs(), 10)));

    const auto out = resynthesise (asig, 0);
    const auto hop = asig.getGeometry().getHop();
    // Blocks 30 .. 36 are covered only by silenced frames: silent.
    for (int i = 30 * hop; i < 37 * hop; ++i)
        ASSERT_NEAR (out[(size_t) i], 0.0f, 1e-5f) << i;
    // Sample to sample the output never jumps by more than the sine itself can.
    const auto maxStep = 2.0 * juce::MathConstants<double>::pi * 440.0 / rate * 0.5;
    for (size_t i = 1; i < out.size(); ++i)
        ASSERT_LE (std::abs (out[i] - out[i - 1]), maxStep * 1.05) << i;
}
