#include "ui/WaveformSummary.h"
#include "support/TestSignals.h"
#include "support/TestTracks.h"

#include <gtest/gtest.h>

using namespace kalder;
using namespace kalder::test;

TEST (WaveformSummary, BucketsHoldTheExtremesOfEveryChannel)
{
    TemporaryDirectory dir;
    const int length = 10007, buckets = 97; // neither divides the other
    auto audio = makeNoise (2, length, 3);
    audio.setSample (1, 5000, 0.95f); // a peak on the second channel only
    const auto file = dir.get().getChildFile ("noise.wav");
    ASSERT_TRUE (writeAudioFile (file, audio, 44100));

    const auto summary = WaveformSummary::compute (file, buckets);
    ASSERT_EQ (summary.getNumBuckets(), buckets);
    EXPECT_EQ (summary.getNumSamples(), length);

    // A direct scan with the same bucket edges.
    int bucketWithPeak = -1;
    for (int b = 0; b < buckets; ++b)
    {
        const auto start = (juce::int64) length * b / buckets, end = (juce::int64) length * (b + 1) / buckets;
        float lo = 1.0f, hi = -1.0f;
        for (auto i = start; i < end; ++i)
            for (int c = 0; c < 2; ++c)
            {
                lo = juce::jmin (lo, audio.getSample (c, (int) i));
                hi = juce::jmax (hi, audio.getSample (c, (int) i));
            }
        EXPECT_FLOAT_EQ (summary.getBucket (b).getStart(), lo) << b;
        EXPECT_FLOAT_EQ (summary.getBucket (b).getEnd(), hi) << b;
        if (5000 >= start && 5000 < end)
            bucketWithPeak = b;
    }
    EXPECT_FLOAT_EQ (summary.getBucket (bucketWithPeak).getEnd(), 0.95f);
}

TEST (WaveformSummary, UnreadableOrStoppedGivesNothing)
{
    TemporaryDirectory dir;
    const auto text = dir.get().getChildFile ("text.wav");
    ASSERT_TRUE (text.replaceWithText ("not audio"));
    EXPECT_TRUE (WaveformSummary::compute (text, 10).isEmpty());
    EXPECT_TRUE (WaveformSummary::compute (dir.get().getChildFile ("missing.wav"), 10).isEmpty());

    const auto file = dir.get().getChildFile ("sine.wav");
    ASSERT_TRUE (writeAudioFile (file, makeSine (1, 4410, 44100, 100.0), 44100));
    int polls = 0;
    EXPECT_TRUE (WaveformSummary::compute (file, 10, [&] { return ++polls > 3; }).isEmpty());
    EXPECT_EQ (WaveformSummary::compute (file, 10).getNumBuckets(), 10);
}
