#include "base/Progress.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using kalder::Progress;

namespace
{
struct Recorder : Progress::Listener
{
    void progressChanged (float value, Progress::Ptr) override { values.push_back (value); }
    std::vector<float> values;
};

struct SelfRemover : Progress::Listener
{
    explicit SelfRemover (Progress& p) : progress (p) {}
    void progressChanged (float, Progress::Ptr) override
    {
        ++calls;
        progress.removeListener (this);
    }
    Progress& progress;
    int calls = 0;
};
} // namespace

TEST (Progress, ValuesNeverGoBackAndLowerValuesNotifyNobody)
{
    Progress::Ptr root = new Progress();
    Recorder r;
    root->addListener (&r);

    root->setProgress (0.4f);
    root->setProgress (0.2f);
    root->setProgress (0.4f);
    root->setProgress (1.5f);

    EXPECT_EQ (r.values, (std::vector<float> { 0.4f, 1.0f }));
    EXPECT_FLOAT_EQ (root->getProgress(), 1.0f);
}

TEST (Progress, ChildReportsInRootUnits)
{
    Progress::Ptr root = new Progress();
    Recorder r;
    root->addListener (&r);

    auto child = root->addChild ({ 0.2f, 0.5f });
    EXPECT_FLOAT_EQ (child->getRange().getStart(), 0.2f);
    EXPECT_FLOAT_EQ (child->getRange().getEnd(), 0.5f);

    child->setProgress (0.3f);
    ASSERT_EQ (r.values.size(), 1u);
    EXPECT_FLOAT_EQ (r.values[0], 0.3f);

    // A grandchild covers a fraction of its parent's part.
    auto grandChild = child->addChild ({ 0.5f, 1.0f });
    EXPECT_FLOAT_EQ (grandChild->getRange().getStart(), 0.35f);
    grandChild->finish();
    EXPECT_FLOAT_EQ (root->getProgress(), 0.5f);
}

TEST (Progress, AdvanceStopsAtTheEndAndIgnoresNegativeSteps)
{
    Progress::Ptr root = new Progress();
    auto child = root->addChild ({ 0.0f, 0.5f });
    child->setNumSteps (4);

    child->advance (1);
    EXPECT_FLOAT_EQ (root->getProgress(), 0.125f);
    child->advance (-3);
    EXPECT_FLOAT_EQ (root->getProgress(), 0.125f);
    child->advance (10);
    EXPECT_FLOAT_EQ (child->getProgress(), 0.5f);
    EXPECT_FLOAT_EQ (root->getProgress(), 0.5f);
}

TEST (Progress, ListenerRemovingItselfDoesNotSkipOthers)
{
    Progress::Ptr root = new Progress();
    Recorder first, last;
    SelfRemover middle (*root);
    root->addListener (&first);
    root->addListener (&middle);
    root->addListener (&last);

    root->setProgress (0.1f);
    root->setProgress (0.2f);

    EXPECT_EQ (first.values.size(), 2u);
    EXPECT_EQ (last.values.size(), 2u);
    EXPECT_EQ (middle.calls, 1);
}

TEST (Progress, CancellingTheRootReachesEveryChild)
{
    Progress::Ptr root = new Progress();
    auto child = root->addChild ({ 0.0f, 1.0f })->addChild ({ 0.0f, 1.0f });
    EXPECT_FALSE (child->isCancelled());
    root->cancel();
    EXPECT_TRUE (child->isCancelled());
}

TEST (Progress, ConcurrentReportersGiveOneMonotonicValue)
{
    Progress::Ptr root = new Progress();
    struct Monotonic : Progress::Listener
    {
        void progressChanged (float v, Progress::Ptr) override
        {
            if (v < last)
                ++decreases;
            last = v;
        }
        float last = 0.0f;
        int decreases = 0;
    } listener;
    root->addListener (&listener);

    std::vector<Progress::Ptr> children;
    for (int i = 0; i < 4; ++i)
        children.push_back (root->addChild ({ 0.0f, 1.0f }));

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back ([&, t] {
            children[(size_t) t]->setNumSteps (1000);
            for (int i = 0; i < 1000; ++i)
                children[(size_t) t]->advance();
        });
    for (auto& t : threads)
        t.join();

    EXPECT_EQ (listener.decreases, 0);
    EXPECT_FLOAT_EQ (root->getProgress(), 1.0f);
}
