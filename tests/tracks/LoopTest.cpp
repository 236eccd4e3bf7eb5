#include "tracks/Loop.h"

#include <gtest/gtest.h>

#include <thread>

using kalder::Loop;

namespace
{
struct RecordingListener : Loop::Listener
{
    RecordingListener (juce::String n, juce::StringArray& l) : name (std::move (n)), log (l) {}
    void loopHasChanged (Loop*) override { log.add (name); }

    juce::String name;
    juce::StringArray& log;
};

struct RecordingUpdater : Loop::Updater
{
    RecordingUpdater (juce::String n, juce::StringArray& l) : name (std::move (n)), log (l) {}
    void loopHasChanged (Loop*) override { log.add (name); }

    juce::String name;
    juce::StringArray& log;
};
} // namespace

TEST (LoopChanges, NotifyLastRegisteredFirstOnlyWhenSomethingChanged)
{
    juce::StringArray log;
    RecordingListener view ("view", log);
    RecordingUpdater ruler ("ruler", log);
    Loop loop;
    loop.addListener (&view);
    loop.addUpdater (&ruler);

    ruler.setLoopArea ({ 0.25f, 0.5f });
    EXPECT_EQ (loop.getLoopArea(), juce::Range<float> (0.25f, 0.5f));
    EXPECT_EQ (log, juce::StringArray ({ "ruler", "view" }));

    log.clear();
    loop.setLoopArea ({ 0.25f, 0.5f });
    loop.setLoopEnabled (false);
    EXPECT_TRUE (log.isEmpty());

    loop.toggleLoop();
    EXPECT_TRUE (loop.isLoopEnabled());
    ruler.setLoopEnabled (false);
    EXPECT_FALSE (loop.isLoopEnabled());
    EXPECT_EQ (log.size(), 4);

    // Each end is kept inside the project.
    loop.setLoopArea ({ -0.5f, 0.3f });
    EXPECT_EQ (loop.getLoopArea(), juce::Range<float> (0.0f, 0.3f));
    loop.setLoopArea ({ 1.5f, 2.0f });
    EXPECT_EQ (loop.getLoopArea(), juce::Range<float> (1.0f, 1.0f));

    log.clear();
    loop.notifyListeners();
    EXPECT_EQ (log, juce::StringArray ({ "ruler", "view" }));
}

TEST (LoopUpdater, DetachesWhicheverSideGoesFirst)
{
    juce::StringArray log;
    RecordingListener view ("view", log);
    RecordingUpdater ruler ("ruler", log);

    {
        Loop loop;
        loop.addListener (&view);
        ruler.setLoop (&loop);
        EXPECT_EQ (ruler.getLoop(), &loop);

        {
            RecordingUpdater shortLived ("shortLived", log);
            shortLived.setLoop (&loop);
        }
        log.clear();
        loop.toggleLoop(); // must not call the destroyed updater
        EXPECT_EQ (log, juce::StringArray ({ "ruler", "view" }));
    }

    EXPECT_EQ (ruler.getLoop(), nullptr);
    ruler.setLoopEnabled (true); // no loop any more: nothing happens
}

TEST (LoopFrames, AreaConvertsToAHalfOpenFrameRange)
{
    Loop loop;
    loop.setLoopArea ({ 0.25f, 0.5f });
    EXPECT_EQ (loop.getFrameRange (1001), juce::Range<juce::int64> (250, 500));

    loop.setLoopArea ({ 0.0f, 1.0f });
    EXPECT_EQ (loop.getFrameRange (44100), juce::Range<juce::int64> (0, 44100));
    EXPECT_TRUE (loop.getFrameRange (0).isEmpty());
}

TEST (LoopConcurrency, AnAudioThreadReaderNeverSeesHalfOfTwoAreas)
{
    Loop loop;
    const juce::Range<float> early { 0.1f, 0.2f }, late { 0.7f, 0.9f };
    loop.setLoopArea (early);

    std::atomic<bool> stop { false };
    std::atomic<int> mixed { 0 }, reads { 0 };
    std::thread audio ([&] {
        while (! stop.load())
        {
            const auto area = loop.getLoopArea();
            if (area != early && area != late)
                ++mixed;
            ++reads;
        }
    });

    // Keep changing for a while after the reader started, so that both threads
    // run side by side for many changes even on a loaded machine.
    constexpr double contentionMs = 200.0;
    while (reads.load() == 0)
        std::this_thread::yield();

    const auto start = juce::Time::getMillisecondCounterHiRes();
    for (int i = 0; juce::Time::getMillisecondCounterHiRes() - start < contentionMs; ++i)
        loop.setLoopArea ((i & 1) != 0 ? early : late);

    stop = true;
    audio.join();

    EXPECT_EQ (mixed.load(), 0);
}
