#include "tracks/Playhead.h"
#include "tracks/ScrollTarget.h"

#include <gtest/gtest.h>

#include <thread>

using kalder::Playhead;

namespace
{
/** The focus area as auto-scroll sees it. */
struct FakeScrollTarget : kalder::ScrollTarget
{
    double getCentreX() const override { return x; }
    double getCentreY() const override { return y; }
    double getWidth() const override { return w; }
    double getHeight() const override { return h; }
    void setCentre (double newX, double newY) override
    {
        x = newX;
        y = newY;
    }
    void markChanged() override { ++changes; }

    double x = 0.5, y = 0.5, w = 0.2, h = 1.0;
    int changes = 0;
};

struct Call
{
    juce::String who;
    double position;
    void* source;
};

struct RecordingListener : Playhead::Listener
{
    RecordingListener (juce::String n, std::vector<Call>& l) : name (std::move (n)), log (l) {}
    void playheadMoved (double p, void* source) override { log.push_back ({ name, p, source }); }

    juce::String name;
    std::vector<Call>& log;
};

struct RecordingUpdater : Playhead::Updater
{
    RecordingUpdater (juce::String n, std::vector<Call>& l) : name (std::move (n)), log (l) {}
    void playheadMoved (double p, void* source) override { log.push_back ({ name, p, source }); }

    juce::String name;
    std::vector<Call>& log;
};

juce::StringArray namesOf (const std::vector<Call>& log)
{
    juce::StringArray names;
    for (const auto& call : log)
        names.add (call.who);
    return names;
}

// A project length that makes every tenth of a percent a whole frame.
constexpr juce::int64 totalFrames = 10000;
} // namespace

TEST (PlayheadConversion, NormalisedPositionsAndFramesConvertBothWays)
{
    EXPECT_DOUBLE_EQ (Playhead::toNormalised (250, 1000), 0.25);
    EXPECT_DOUBLE_EQ (Playhead::toNormalised (0, 0), 1.0); // an empty project sits at its end
    EXPECT_DOUBLE_EQ (Playhead::toNormalised (2000, 1000), 1.0);

    EXPECT_EQ (Playhead::toFrame (0.5, 1001), 500); // truncated toward zero
    EXPECT_EQ (Playhead::toFrame (0.9999, 1001), 1000);
    EXPECT_EQ (Playhead::toFrame (-0.5, 1001), 0);
    EXPECT_EQ (Playhead::toFrame (1.5, 1001), 1001);
    EXPECT_EQ (Playhead::toFrame (0.5, 0), 0);

    // A view that echoes a position back must not move the playhead by one frame.
    for (const juce::int64 total : { 49, 1001, 44100, 123457, 7654321 })
        for (juce::int64 frame = 0; frame <= total; frame += juce::jmax ((juce::int64) 1, total / 5000))
            ASSERT_EQ (Playhead::toFrame (Playhead::toNormalised (frame, total), total), frame) << frame << " of " << total;
}

TEST (PlayheadMoves, ClampsIgnoresRepeatsAndNotifiesLastRegisteredFirst)
{
    std::vector<Call> log;
    RecordingListener first ("first", log), second ("second", log), third ("third", log);
    Playhead playhead;
    playhead.setTotalLength (1000, juce::dontSendNotification);
    playhead.addListener (&first);
    playhead.addListener (&second);
    playhead.addListener (&third);

    int tag = 0;
    playhead.setPosition (400, juce::sendNotification, &tag);
    EXPECT_EQ (namesOf (log), juce::StringArray ({ "third", "second", "first" }));
    EXPECT_DOUBLE_EQ (log[0].position, 0.4);
    EXPECT_EQ (log[0].source, &tag);

    log.clear();
    playhead.setPosition (400, juce::sendNotification, nullptr);
    EXPECT_TRUE (log.empty());

    playhead.setPosition (5000);
    EXPECT_EQ (playhead.getPosition(), 1000);
    EXPECT_EQ (playhead.getPreviousPosition(), 400);
    playhead.setPosition (-3);
    EXPECT_EQ (playhead.getPosition(), 0);
    EXPECT_DOUBLE_EQ (log.back().position, 0.0);

    log.clear();
    playhead.setPosition (10, juce::dontSendNotification);
    EXPECT_EQ (playhead.getPosition(), 10);
    EXPECT_TRUE (log.empty());

    // The listener that made a move is not told about it.
    playhead.setPosition (20, juce::sendNotification, static_cast<Playhead::Listener*> (&second));
    EXPECT_EQ (namesOf (log), juce::StringArray ({ "third", "first" }));

    // Shortening the project pulls the playhead in and says so.
    playhead.setPosition (800);
    log.clear();
    playhead.setTotalLength (500);
    EXPECT_EQ (playhead.getPosition(), 500);
    ASSERT_EQ (log.size(), 3u);
    EXPECT_DOUBLE_EQ (log[0].position, 1.0);
}

TEST (PlayheadUpdater, MovesWithoutEchoAndDetachesEitherWay)
{
    std::vector<Call> log;
    RecordingListener view ("view", log);
    RecordingUpdater ruler ("ruler", log);

    {
        Playhead playhead;
        playhead.setTotalLength (1001, juce::dontSendNotification);
        playhead.addListener (&view);
        playhead.addUpdater (&ruler);

        ruler.setPlayheadPosition (0.5);
        EXPECT_EQ (playhead.getPosition(), 500);
        ASSERT_EQ (namesOf (log), juce::StringArray ({ "view" }));
        EXPECT_EQ (log[0].source, static_cast<void*> (static_cast<Playhead::Listener*> (&ruler)));

        // Other movers reach the ruler.
        playhead.setPosition (10);
        EXPECT_TRUE (namesOf (log).contains ("ruler"));

        {
            RecordingUpdater shortLived ("shortLived", log);
            playhead.addUpdater (&shortLived);
        }
        log.clear();
        playhead.setPosition (20); // must not call the destroyed updater
        EXPECT_EQ (namesOf (log), juce::StringArray ({ "ruler", "view" }));
    }

    EXPECT_EQ (ruler.getPlayhead(), nullptr);
    ruler.setPlayheadPosition (0.25); // no playhead any more: nothing happens
}

TEST (PlayheadAutoScroll, FollowsForwardRespectsBackwardMovesAndClamps)
{
    FakeScrollTarget view; // visible [0.4, 0.6], margins of 0.02 inside each edge
    Playhead playhead;
    playhead.setTotalLength (totalFrames, juce::dontSendNotification);
    playhead.setScrollTarget (&view);
    playhead.setPosition (5000);

    // Off: nothing follows.
    playhead.setPosition (5900);
    EXPECT_DOUBLE_EQ (view.x, 0.5);
    EXPECT_EQ (view.changes, 0);

    playhead.setAutoScroll (true);

    // Forward inside the window: still.
    playhead.setPosition (5700);
    EXPECT_DOUBLE_EQ (view.x, 0.5);

    // Forward into the right margin: the playhead lands on the left margin.
    playhead.setPosition (5850);
    EXPECT_NEAR (view.x, 0.585 - 0.02 + 0.1, 1e-12);
    EXPECT_EQ (view.changes, 1);

    // Backwards while inside the right margin: still.
    view.x = 0.5;
    playhead.setPosition (5900);
    view.x = 0.5;
    playhead.setPosition (5830);
    EXPECT_DOUBLE_EQ (view.x, 0.5);

    // Backwards before the left margin: follows.
    playhead.setPosition (4100);
    EXPECT_NEAR (view.x, 0.41 - 0.02 + 0.1, 1e-12);

    // A jump to the very start pins the window to the image's left edge ...
    playhead.setPosition (50);
    EXPECT_DOUBLE_EQ (view.x, 0.1);
    const auto changesAtStart = view.changes;
    playhead.setPosition (10);
    EXPECT_EQ (view.changes, changesAtStart); // ... where it cannot move further: no change marked

    // ... and near the end to its right edge; the vertical centre is pulled inside too.
    view.h = 0.2;
    view.y = 0.97;
    playhead.setPosition (9990);
    EXPECT_DOUBLE_EQ (view.x, 0.9);
    EXPECT_DOUBLE_EQ (view.y, 0.9);
}

TEST (PlayheadPublishing, AudioThreadPositionsReachListenersOnTheMessageThread)
{
    std::vector<Call> log;
    RecordingListener view ("view", log);
    RecordingListener transport ("transport", log);
    Playhead playhead;
    playhead.setTotalLength (totalFrames, juce::dontSendNotification);
    playhead.addListener (&view);
    playhead.addListener (&transport);

    std::thread audio ([&] {
        playhead.publishPosition (100, static_cast<Playhead::Listener*> (&transport));
        playhead.publishPosition (200, static_cast<Playhead::Listener*> (&transport));
    });
    audio.join();
    EXPECT_EQ (playhead.getPosition(), 0); // nothing applied off the message thread

    constexpr int timeoutMs = 5000; // only reached when publishing is broken
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
    while (log.empty() && juce::Time::getMillisecondCounter() < end)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (5);

    // A few more poll periods: nothing else may arrive.
    juce::MessageManager::getInstance()->runDispatchLoopUntil (100);

    EXPECT_EQ (playhead.getPosition(), 200);
    ASSERT_EQ (namesOf (log), juce::StringArray ({ "view" }));
    EXPECT_DOUBLE_EQ (log[0].position, 0.02);
}
