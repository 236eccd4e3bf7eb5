#include "signal/Asig.h"
#include "signal/AsigUtilities.h"
#include "support/TestSignals.h"

#include <gtest/gtest.h>

using namespace kalder;

namespace
{
using Range = juce::Range<int>;

/** A small analysed store: 8 kHz (N = 1024, 513 bins), stereo noise. */
struct AnalysedStore
{
    explicit AnalysedStore (int samples = 8000 * 3) : audio (test::makeNoise (2, samples, 11), 8000)
    {
        EXPECT_TRUE (asig.setAudioFile (audio, dir.get(), "track").wasOk());
        EXPECT_TRUE (asig.readAudio (audio).wasOk());
    }

    test::TemporaryDirectory dir;
    ParsedAudioBuffer audio;
    Asig asig;
};

float maxAbsDifference (const CspecMatrix& a, const CspecMatrix& b)
{
    return (a - b).cwiseAbs().maxCoeff();
}
} // namespace

TEST (Asig, AnalysisGivesTheGeometryAndMatchesADirectTransform)
{
    AnalysedStore s;
    EXPECT_TRUE (s.asig.isReady());
    EXPECT_EQ (s.asig.getNumChannels(), 2);
    EXPECT_EQ (s.asig.getNumFreqs(), 513);
    EXPECT_EQ (s.asig.getNumFrames(), 94 + 3); // ceil (24000 / 256) blocks, and three more frames
    EXPECT_EQ ((int) s.asig.getAverageLogSpectrum().size(), 513);
    // The level a view shows the analysed frames with, once all of them are: the average's loudest.
    const auto& average = s.asig.getAverageLogSpectrum();
    EXPECT_FLOAT_EQ (s.asig.getLoudestAnalysedLevel(), *std::max_element (average.begin(), average.end()));

    // Frame 10 analyses samples [(10 - 3) * hop, ...) under a Hann window.
    const int frame = 10, hop = 256, n = 1024;
    const auto window = AsigUtilities::getHanningWindow (n);
    const auto* x = s.audio.getBuffer().getReadPointer (1);
    const auto stored = s.asig.readFrames (1, { frame, frame + 1 }, Asig::MaskUse::none, Asig::SelectionGain::none);
    ASSERT_EQ (stored.cols(), 1);
    for (int k : { 0, 1, 37, 256, 512 })
    {
        std::complex<double> sum;
        for (int i = 0; i < n; ++i)
            sum += (double) x[(frame - 3) * hop + i] * window[(size_t) i]
                   * std::polar (1.0, -2.0 * juce::MathConstants<double>::pi * k * i / n);
        EXPECT_NEAR (stored (k, 0).real(), sum.real(), 2e-3) << k;
        EXPECT_NEAR (stored (k, 0).imag(), sum.imag(), 2e-3) << k;
    }
}

TEST (Asig, MaskFlipAndSelectionVolume)
{
    AnalysedStore s;
    auto& asig = s.asig;
    const Range frames (20, 40);
    const auto plain = asig.readFrames (0, frames, Asig::MaskUse::none, Asig::SelectionGain::none);

    // Unedited: the mask is one; flipped, it is zero.
    EXPECT_EQ (maxAbsDifference (asig.readFrames (0, frames), plain), 0.0f);
    EXPECT_EQ (asig.readFrames (0, frames, Asig::MaskUse::flippedMask, Asig::SelectionGain::none).cwiseAbs().maxCoeff(), 0.0f);

    // With no selection anywhere the selection volume does nothing.
    asig.setSelectionVolume (0.0f);
    EXPECT_EQ (maxAbsDifference (asig.readFrames (0, frames), plain), 0.0f);

    // Select bins [100, 200) of frames [25, 30).
    ASSERT_TRUE (asig.setSelection ({ 100, 200 }, { 25, 30 }, MaskMatrix::Ones (100, 5), true));
    ASSERT_TRUE (asig.hasSelection());

    auto gainAt = [&] (const CspecMatrix& m, int bin, int frame) {
        return std::abs (m (bin, frame - 20)) / std::abs (plain (bin, frame - 20));
    };

    asig.setSelectionVolume (0.5f);
    auto m = asig.readFrames (0, frames);
    EXPECT_NEAR (gainAt (m, 150, 27), 0.5f, 1e-6);
    EXPECT_NEAR (gainAt (m, 50, 27), 0.5f, 1e-6);
    EXPECT_NEAR (gainAt (m, 150, 35), 0.5f, 1e-6);

    asig.setSelectionVolume (1.0f);
    m = asig.readFrames (0, frames);
    EXPECT_NEAR (gainAt (m, 150, 27), 1.0f, 1e-6);
    EXPECT_EQ (gainAt (m, 50, 27), 0.0f);
    EXPECT_EQ (gainAt (m, 150, 35), 0.0f);

    asig.setSelectionVolume (0.0f);
    m = asig.readFrames (0, frames);
    EXPECT_EQ (gainAt (m, 150, 27), 0.0f);
    EXPECT_NEAR (gainAt (m, 50, 27), 1.0f, 1e-6);

    // The mask multiplies in; flipping it gives 1 - mask.
    asig.setSelectionVolume (0.5f);
    ASSERT_TRUE (asig.setMask (0, { 0, 513 }, { 30, 32 }, MaskMatrix::Constant (513, 2, 0.2f)));
    m = asig.readFrames (0, frames, Asig::MaskUse::mask, Asig::SelectionGain::none);
    EXPECT_NEAR (gainAt (m, 300, 31), 0.2f, 1e-6);
    m = asig.readFrames (0, frames, Asig::MaskUse::flippedMask, Asig::SelectionGain::none);
    EXPECT_NEAR (gainAt (m, 300, 31), 0.8f, 1e-6);
    EXPECT_EQ (gainAt (m, 300, 33), 0.0f);
    EXPECT_NEAR (gainAt (asig.readFrames (0, frames), 300, 31), 0.1f, 1e-6);

    // The other channel is untouched by channel 0's mask.
    EXPECT_EQ (maxAbsDifference (asig.readFrames (1, frames, Asig::MaskUse::mask, Asig::SelectionGain::none),
                                 asig.readFrames (1, frames, Asig::MaskUse::none, Asig::SelectionGain::none)),
               0.0f);

    asig.resetMaskAndSelection();
    EXPECT_FALSE (asig.hasSelection());
    EXPECT_EQ (maxAbsDifference (asig.readFrames (0, frames), plain), 0.0f);
}

TEST (Asig, ReopeningRestoresFramesMasksAndSelectionExactly)
{
    test::TemporaryDirectory dir;
    ParsedAudioBuffer audio (test::makeNoise (2, 8000 * 2, 5), 8000);
    const Range frames (0, 66);
    CspecMatrix before0, before1;
    MaskMatrix selectionBefore;
    {
        Asig asig (audio, dir.get(), "song");
        ASSERT_TRUE (asig.readAudio (audio).wasOk());
        MaskMatrix mask (40, 10);
        mask.setRandom();
        mask = mask.cwiseAbs();
        ASSERT_TRUE (asig.setMask (1, { 100, 140 }, { 12, 22 }, mask));
        MaskMatrix selection = MaskMatrix::Constant (30, 4, 0.6f);
        ASSERT_TRUE (asig.setSelection ({ 7, 37 }, { 50, 54 }, selection, true));
        before0 = asig.readFrames (0, frames, Asig::MaskUse::mask, Asig::SelectionGain::none);
        before1 = asig.readFrames (1, frames, Asig::MaskUse::mask, Asig::SelectionGain::none);
        selectionBefore = asig.getSelection (frames);
    }

    Asig reopened;
    ASSERT_TRUE (reopened.openAsig (dir.get()).wasOk());
    EXPECT_EQ (reopened.getNumFrames(), 66);
    EXPECT_EQ (reopened.getSampleRate(), 8000);
    EXPECT_EQ (reopened.readFrames (0, frames, Asig::MaskUse::mask, Asig::SelectionGain::none), before0);
    EXPECT_EQ (reopened.readFrames (1, frames, Asig::MaskUse::mask, Asig::SelectionGain::none), before1);
    EXPECT_EQ (reopened.getSelection (frames), selectionBefore);
    EXPECT_EQ (reopened.getEditedFrameRange(), Range (12, 22));
    EXPECT_EQ (reopened.getAverageLogSpectrum().size(), 513u);
}

TEST (Asig, AnalysisWritesOnlyTheFramesAndStaysSparse)
{
    AnalysedStore s (8000 * 40); // 1253 frames: two chunks
    ASSERT_EQ (s.asig.getMemoryManager()->getNumChunks(), 2);

    juce::int64 frameBytes = 0, otherBytes = 0;
    for (const auto& f : s.dir.get().findChildFiles (juce::File::findFiles, false))
    {
        if (f.hasFileExtension (".frames"))
            frameBytes += f.getSize();
        else if (f.hasFileExtension (".mask") || f.hasFileExtension (".selection"))
            otherBytes += f.getSize();
    }
    EXPECT_EQ (frameBytes, (juce::int64) 2 * s.asig.getNumFrames() * 513 * 8);
    EXPECT_EQ (otherBytes, 0);

    // An edit of one channel in one chunk writes that chunk's mask file only.
    ASSERT_TRUE (s.asig.setMask (0, { 0, 10 }, { 1100, 1101 }, MaskMatrix::Zero (10, 1)));
    EXPECT_EQ (s.dir.get().getChildFile ("track-0.mask").getSize(), 0);
    EXPECT_EQ (s.dir.get().getChildFile ("track-1.mask").getSize(), (juce::int64) (1253 - 1024) * 513 * 4);
}

TEST (Asig, BadInputsGiveClearFailures)
{
    test::TemporaryDirectory dir;
    Asig asig;
    EXPECT_FALSE (asig.isReady());
    EXPECT_EQ (asig.readFrames (0, { 0, 4 }).size(), 0); // no bins yet

    ParsedAudioBuffer empty (juce::AudioBuffer<float> (1, 0), 44100);
    EXPECT_TRUE (asig.setAudioFile (empty, dir.get(), "e").failed());
    ParsedAudioBuffer noChannels (juce::AudioBuffer<float> (0, 100), 44100);
    EXPECT_TRUE (asig.setAudioFile (noChannels, dir.get(), "n").failed());
    ParsedAudioBuffer badRate (juce::AudioBuffer<float> (1, 100), 0);
    EXPECT_TRUE (asig.setAudioFile (badRate, dir.get(), "r").failed());

    EXPECT_TRUE (asig.openAsig (dir.get()).failed()); // nothing there

    const auto props = dir.get().getChildFile ("x.asig");
    for (
        const char* text :
        { "", "{", "[1,2]",
          "{\"formatVersion\":1,\"numChannels\":2,\"sampleRate\":44100,\"nfft\":4096,\"nFreqs\":2049,\"nFrames\":-4,\"numSamples\":100}",
          "{\"formatVersion\":1,\"numChannels\":2,\"sampleRate\":44100,\"nfft\":4000,\"nFreqs\":2001,\"nFrames\":4,\"numSamples\":100}",
          "{\"formatVersion\":99,\"numChannels\":2,\"sampleRate\":44100,\"nfft\":4096,\"nFreqs\":2049,\"nFrames\":4,\"numSamples\":100}",
          // numbers that are not whole, or too large for an integer (infinite: undefined to convert)
          "{\"formatVersion\":1,\"numChannels\":2.5,\"sampleRate\":44100,\"nfft\":4096,\"nFreqs\":2049,\"nFrames\":4,\"numSamples\":100}",
          "{\"formatVersion\":1,\"numChannels\":2,\"sampleRate\":5e400,\"nfft\":4096,\"nFreqs\":2049,\"nFrames\":4,\"numSamples\":100}" })
    {
        ASSERT_TRUE (props.replaceWithText (text));
        Asig damaged;
        EXPECT_TRUE (damaged.openAsig (dir.get()).failed()) << text;
        EXPECT_FALSE (damaged.isReady());
        EXPECT_EQ (damaged.readFrames (0, { 0, 4 }).size(), 0);
    }

    // A data file that vanished reads as zeros.
    AnalysedStore s;
    s.dir.get().getChildFile ("track-0.frames").deleteFile();
    EXPECT_EQ (s.asig.readFrames (0, { 0, 10 }, Asig::MaskUse::none, Asig::SelectionGain::none).cwiseAbs().maxCoeff(), 0.0f);
}

TEST (Asig, CancelledAnalysisLeavesNoDataFiles)
{
    test::TemporaryDirectory dir;
    ParsedAudioBuffer audio (test::makeNoise (1, 8000 * 40, 2), 8000);
    Asig asig (audio, dir.get(), "t");

    Progress::Ptr progress = new Progress();
    progress->cancel();
    const auto result = asig.readAudio (audio, progress);
    EXPECT_TRUE (result.failed());
    EXPECT_EQ (result.getErrorMessage(), "Cancelled");
    EXPECT_TRUE (dir.get().findChildFiles (juce::File::findFiles, false, "*.frames").isEmpty());
}

TEST (Asig, AnalysisReportsProgressToTheEndAndStartsAtItsFocus)
{
    test::TemporaryDirectory dir;
    ParsedAudioBuffer audio (test::makeNoise (2, 8000 * 80, 2), 8000); // three chunks
    Asig asig (audio, dir.get(), "t");
    asig.setAnalysisFocus (1500); // in the second chunk: a seek there

    // Each report: the frames that became analysed since the one before.
    struct Recorder : Progress::Listener
    {
        explicit Recorder (Asig& a) : asig (a) {}
        void progressChanged (float v, Progress::Ptr) override
        {
            values.push_back (v);
            if (const auto r = asig.getFramesEditedSince (generation); ! r.isEmpty())
                written.push_back (r);
            generation = asig.getEditGeneration();
        }
        Asig& asig;
        juce::uint64 generation = 0;
        std::vector<float> values;
        std::vector<Range> written;
    } recorder (asig);
    Progress::Ptr progress = new Progress();
    progress->addListener (&recorder);
    ASSERT_TRUE (asig.readAudio (audio, progress).wasOk());

    ASSERT_GE (recorder.values.size(), 6u); // three chunks of two channels
    EXPECT_TRUE (std::is_sorted (recorder.values.begin(), recorder.values.end()));
    EXPECT_FLOAT_EQ (recorder.values.back(), 1.0f);
    // The focus's chunk, then on to the end, then the start.
    ASSERT_EQ (recorder.written.size(), 2u);
    EXPECT_EQ (recorder.written[0], Range (1024, 2048));
    EXPECT_EQ (recorder.written[1], Range (2048, asig.getNumFrames()));
    EXPECT_EQ (asig.getFramesEditedSince (recorder.generation).getStart(), 0); // the first chunk came last
}

TEST (Asig, TheTimerCachesTheRequestedRange)
{
    AnalysedStore s (8000 * 40);
    s.asig.setRequestedRange ({ 500, 600 });
    auto* manager = s.asig.getMemoryManager();
    const auto wanted = manager->calculateRangeToCache ({ 500, 600 });

    const auto deadline = juce::Time::getMillisecondCounter() + 10000;
    while (manager->getFrontRange() != wanted && juce::Time::getMillisecondCounter() < deadline)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (20);

    EXPECT_EQ (manager->getFrontRange(), wanted);
    EXPECT_EQ (s.asig.readFrames (0, { 500, 600 }, Asig::MaskUse::mask, Asig::SelectionGain::none),
               manager->readCspecFromFile (0, { 500, 600 }));
}
