#include "tracks/TrackMerger.h"
#include "support/TestSignals.h"
#include "support/TestTracks.h"

#include <gtest/gtest.h>

using namespace kalder;
using E = AlertManager::ErrorType;

namespace
{
constexpr int rate = 8000;

struct Family
{
    Family()
    {
        master = make ("master", 1);
        a = make ("a", 2);
        b = make ("b", 3);
        grandchild = make ("g", 4);
        a->setParentTrack (master.get());
        b->setParentTrack (master.get());
        grandchild->setParentTrack (a.get());
        mixer.setMasterTrack (master);
        for (auto& t : { a, b, grandchild })
            mixer.addTrack (t);
    }

    AudioTrack::Ptr make (const juce::String& name, int seed)
    {
        audio[name] = test::makeNoise (2, rate + seed * 100, seed, 0.2f);
        return test::makeTrack (dir.get().getChildFile (name), name, audio[name], rate);
    }

    static juce::ReferenceCountedArray<AudioTrack> list (std::initializer_list<AudioTrack::Ptr> tracks)
    {
        juce::ReferenceCountedArray<AudioTrack> l;
        for (auto& t : tracks)
            l.add (t);
        return l;
    }

    test::TemporaryDirectory dir;
    std::map<juce::String, juce::AudioBuffer<float>> audio;
    Mixer mixer;
    AudioTrack::Ptr master, a, b, grandchild;
};

struct RecordingPresenter : AlertManager::Presenter
{
    void dismissModals() override {}
    void showWarning (const juce::String& title, const juce::String&, const juce::String&) override { titles.add (title); }
    void askQuestion (const AlertManager::Question&, AlertManager::AnswerCallback) override {}
    juce::StringArray titles;
};
} // namespace

TEST (TrackMerger, EveryRuleRefusesItsCase)
{
    Family f;
    auto rule = [&] (std::initializer_list<AudioTrack::Ptr> tracks) {
        return TrackMerger::checkRules (f.mixer, Family::list (tracks));
    };

    EXPECT_EQ (rule ({ f.a, f.a }), E::MergeWithItself);
    EXPECT_EQ (rule ({ f.a, f.master }), E::MergeMaster);
    EXPECT_EQ (rule ({ f.grandchild, f.a }), E::MergeIntoDescendant);
    EXPECT_FALSE (rule ({ f.a, f.grandchild }).has_value()); // a parent may take its child

    f.b->setLocked (true);
    EXPECT_EQ (rule ({ f.a, f.b }), E::MergeLockedTrack);
    f.b->setLocked (false);

    auto* asig = f.b->getAsig();
    ASSERT_TRUE (asig->setMask (0, { 0, 4 }, { 0, 2 }, MaskMatrix::Zero (4, 2)));
    EXPECT_EQ (rule ({ f.a, f.b }), E::MergeSourceUncommitted);
    EXPECT_EQ (rule ({ f.b, f.a }), E::MergeTargetUncommitted);
    asig->resetMaskAndSelection();
    EXPECT_FALSE (rule ({ f.b, f.a }).has_value());

    auto notAnalysed = test::makeTrack (f.dir.get().getChildFile ("n"), "n", test::makeNoise (2, 1000, 9), rate, false);
    EXPECT_EQ (rule ({ notAnalysed, f.a }), E::TargetNotGenerated);
}

TEST (TrackMerger, MergedTrackHoldsTheSumAndTakesThePlaceOfTheMergedOnes)
{
    Family f;
    AlertManager alerts;
    RecordingPresenter presenter;
    alerts.setPresenter (&presenter);

    AudioTrack::Ptr merged;
    bool done = false;
    const auto refusal = TrackMerger::startMerge (f.mixer, Family::list ({ f.a, f.b }), "a and b",
                                                  f.dir.get().getChildFile ("merged"), &alerts,
                                                  [&] (AudioTrack::Ptr t, juce::Result r) {
                                                      EXPECT_TRUE (r.wasOk()) << r.getErrorMessage();
                                                      merged = t;
                                                      done = true;
                                                  });
    ASSERT_FALSE (refusal.has_value());
    const auto deadline = juce::Time::getMillisecondCounter() + 20000;
    while (! done && juce::Time::getMillisecondCounter() < deadline)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (10);
    ASSERT_TRUE (done);
    ASSERT_NE (merged, nullptr);

    // The track list: the merged track where a was, a and b gone.
    juce::StringArray names;
    for (auto* t : f.mixer.getAllTracks())
        names.add (t->getName());
    EXPECT_EQ (names.joinIntoString (","), "master,a and b,g");
    EXPECT_EQ (merged->getParentTrack(), f.master.get());
    EXPECT_TRUE (merged->isStoreReady());

    // Its audio is the sum, as long as the longer of the two.
    const auto& sa = f.audio["a"];
    const auto& sb = f.audio["b"];
    ASSERT_EQ (merged->getNumSamples(), (juce::int64) sb.getNumSamples());
    juce::AudioBuffer<float> expected (2, sb.getNumSamples()), got (2, sb.getNumSamples());
    expected.makeCopyOf (sb);
    for (int c = 0; c < 2; ++c)
    {
        expected.addFrom (c, 0, sa, c, 0, sa.getNumSamples());
        merged->getContent()->audio->readFrames (c, 0, got.getNumSamples(), got.getWritePointer (c));
        EXPECT_GE (test::signalToErrorDb (expected.getReadPointer (c), got.getReadPointer (c), got.getNumSamples()), 120.0);
    }
    EXPECT_TRUE (presenter.titles.isEmpty());

    // A refused merge tells the user and changes nothing.
    EXPECT_EQ (TrackMerger::startMerge (f.mixer, Family::list ({ merged, f.master }), "x", f.dir.get(), &alerts), E::MergeMaster);
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    EXPECT_EQ (presenter.titles, juce::StringArray ("Merging Master into another track is not permitted"));
    EXPECT_EQ (f.mixer.getAllTracks().size(), 3);
    alerts.setPresenter (nullptr);

    // Besides the rules: a track being worked on is refused, saying why.
    const auto pair = Family::list ({ merged, f.grandchild });
    EXPECT_TRUE (TrackMerger::checkTracks (pair).wasOk());
    ASSERT_TRUE (f.grandchild->tryClaimForJob (0.5f));
    const auto busy = TrackMerger::checkTracks (pair);
    EXPECT_TRUE (busy.failed() && busy.getErrorMessage().contains ("still working on g")) << busy.getErrorMessage();
    f.grandchild->separationProgressed (0.0f);
    EXPECT_TRUE (TrackMerger::checkTracks (pair).wasOk());
}
