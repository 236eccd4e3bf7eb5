#include "display/FocusArea.h"
#include "display/LoopRulerGesture.h"
#include "display/ScaleSteps.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kalder;

namespace
{
struct Counter : FocusArea::Updater
{
    int calls = 0;
    void focusAreaChanged (FocusArea*) override { ++calls; }
};

void expectInside (const FocusArea& f)
{
    EXPECT_GE (f.getCentreX(), f.getWidth() / 2.0 - 1e-12);
    EXPECT_LE (f.getCentreX(), 1.0 - f.getWidth() / 2.0 + 1e-12);
    EXPECT_GE (f.getCentreY(), f.getHeight() / 2.0 - 1e-12);
    EXPECT_LE (f.getCentreY(), 1.0 - f.getHeight() / 2.0 + 1e-12);
    EXPECT_GT (f.getWidth(), 0.0);
    EXPECT_LE (f.getWidth(), 1.0);
}
} // namespace

TEST (FocusArea, TheRectangleNeverLeavesTheImageWhateverMovesIt)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct
    {
        FocusArea::Rect asked;
        FocusArea::Rect expected;
    } cases[] = {
        { { 0.9, 0.5, 0.25, 1.0 }, { 0.875, 0.5, 0.25, 1.0 } },      // past the end: pinned at 1 - w/2
        { { -3.0, 0.1, 0.5, 0.5 }, { 0.25, 0.25, 0.5, 0.5 } },       // before the start
        { { 0.2, 0.9, 1.0, 0.1 }, { 0.5, 0.9, 1.0, 0.1 } },          // width 1 pins centre x at 0.5
        { { 0.5, 0.5, 5.0, -1.0 }, { 0.5, 0.5, 1.0, 16.0 / 1024 } }, // sizes clamped to [min, 1]
        { { nan, nan, nan, nan }, { 0.5, 0.5, 1.0, 1.0 } },          // damaged input opens whole
    };
    for (const auto& c : cases)
    {
        FocusArea f;
        f.setSpectrogramDimensions (4096, 1024);
        f.setRect (c.asked);
        EXPECT_EQ (f.getRect(), c.expected) << FocusArea::rectToText (c.asked);
    }

    // Scrolling and zooming by any amount keeps the invariant; a point under the zoom stays put.
    FocusArea f;
    f.setSpectrogramDimensions (100000, 1025);
    f.setRect ({ 0.3, 0.4, 0.2, 0.5 });
    const auto start = f.getVisibleX().getStart(), width = f.getWidth();
    const double point = start + 0.25 * width;
    f.zoomHorizontally (point, -200.0); // one halving
    EXPECT_NEAR (f.getWidth(), width / 2.0, 1e-12);
    EXPECT_NEAR ((point - f.getVisibleX().getStart()) / f.getWidth(), 0.25, 1e-12);
    for (int i = 0; i < 40; ++i)
        f.zoomAroundPoint ({ 0.999, 0.001 }, -150.0, -150.0);
    EXPECT_DOUBLE_EQ (f.getWidth(), 16.0 / 100000);
    EXPECT_DOUBLE_EQ (f.getHeight(), 16.0 / 1025);
    expectInside (f);
    for (const auto& [dx, dy] : { std::pair { 1.0e6, -1.0e6 }, { -0.5, 0.5 }, { std::nan (""), 0.0 } })
    {
        f.scrollBy (dx, dy);
        expectInside (f);
    }
    f.zoomAroundPoint ({ 0.0, 1.0 }, 1.0e4, 1.0e4);
    EXPECT_EQ (f.getRect(), (FocusArea::Rect { 0.5, 0.5, 1.0, 1.0 }));
}

TEST (FocusArea, ChangesReachListenersOncePerTickAndOnceMoreAfterTheLast)
{
    FocusArea f;
    Counter counter;
    f.addUpdater (&counter);
    EXPECT_EQ (counter.getFocusArea(), &f);

    const struct
    {
        int changesBefore; // changes made before this tick
        int expectedTotal;
    } ticks[] = { { 0, 0 }, { 5, 1 }, { 0, 2 }, { 0, 2 }, { 1, 3 }, { 1, 4 }, { 0, 5 }, { 0, 5 } };
    double width = 1.0;
    for (const auto& t : ticks)
    {
        for (int i = 0; i < t.changesBefore; ++i)
            f.setWidth (width *= 0.9);
        f.timerTick();
        EXPECT_EQ (counter.calls, t.expectedTotal);
    }
    f.setWidth (width); // no change: no notification owed
    f.timerTick();
    EXPECT_EQ (counter.calls, 5);

    // A view's own state comes back at once under its key; a damaged one is refused.
    f.setRect ({ 0.2, 0.7, 0.1, 0.3 });
    f.saveCurrentState ("track 1");
    f.setRect ({ 0.5, 0.5, 1.0, 1.0 });
    const auto before = counter.calls;
    EXPECT_TRUE (f.loadState ("track 1"));
    EXPECT_EQ (counter.calls, before + 1);
    EXPECT_NEAR (f.getCentreX(), 0.2, 1e-15);
    EXPECT_NEAR (f.getHeight(), 0.3, 1e-15);
    EXPECT_FALSE (f.loadState ("track 2"));
    for (auto* text : { "", "0.5 0.5 1", "0.5 0.5 0 1", "a b c d", "0.5 0.5 1 1 1", "nan 0.5 1 1" })
        EXPECT_FALSE (FocusArea::textToRect (text).has_value()) << text;
    EXPECT_EQ (FocusArea::textToRect (FocusArea::rectToText ({ 0.1, 0.2, 0.3, 0.4 })), (FocusArea::Rect { 0.1, 0.2, 0.3, 0.4 }));

    // An updater that outlives its area is detached; one destroyed first is removed.
    {
        auto shortLived = std::make_unique<FocusArea>();
        shortLived->addUpdater (&counter);
        EXPECT_EQ (counter.getFocusArea(), shortLived.get());
    }
    EXPECT_EQ (counter.getFocusArea(), nullptr);
    {
        Counter gone;
        f.addUpdater (&gone);
    }
    f.setWidth (0.5);
    f.timerTick(); // would call the destroyed updater
}

TEST (ScaleSteps, MarksAreRoundAndFarEnoughApartAndLabelsTellThemApart)
{
    const struct
    {
        double unitsPerPixel, minPixels, timeStep, frequencyStep;
    } steps[] = {
        { 0.0001, 60, 0.01, 0.01 }, { 0.003, 60, 0.2, 0.2 },   { 0.05, 60, 5.0, 5.0 },
        { 0.2, 60, 15.0, 20.0 },    { 3.0, 60, 300.0, 200.0 }, { 100.0, 60, 7200.0, 10000.0 },
    };
    for (const auto& s : steps)
    {
        const auto t = ScaleSteps::chooseTimeStep (s.unitsPerPixel, s.minPixels);
        EXPECT_DOUBLE_EQ (t, s.timeStep) << s.unitsPerPixel;
        EXPECT_GE (t / s.unitsPerPixel, s.minPixels * (1 - 1e-9));
        EXPECT_DOUBLE_EQ (ScaleSteps::chooseFrequencyStep (s.unitsPerPixel, s.minPixels), s.frequencyStep);
    }
    EXPECT_DOUBLE_EQ (ScaleSteps::chooseTimeStep (std::nan (""), 60), 1.0);

    const struct
    {
        double value, step;
        const char* time;
        const char* frequency;
    } labels[] = {
        { 65.25, 0.25, "1:05.25", "65.25 Hz" },      { 3725.0, 5.0, "1:02:05", "3725 Hz" }, { 0.0, 1.0, "0:00", "0 Hz" },
        { 59.9996, 0.001, "1:00.000", "60.000 Hz" }, { 1500.0, 500.0, "25:00", "1.5 kHz" }, { -2.5, 0.5, "-0:02.5", "-2.5 Hz" },
    };
    for (const auto& l : labels)
    {
        EXPECT_EQ (ScaleSteps::formatTime (l.value, l.step), juce::String (l.time)) << l.value;
        EXPECT_EQ (ScaleSteps::formatFrequency (l.value, l.step), juce::String (l.frequency)) << l.value;
    }
}

TEST (LoopRulerGesture, ClicksKeepTheLoopDragsMakeMoveAndSwapIt)
{
    using Kind = LoopRulerGesture::Outcome::Kind;
    const juce::Range<float> loop { 0.2f, 0.4f };
    const struct
    {
        const char* what;
        juce::Range<double> visible;
        float press, release;
        bool shift, enabled;
        Kind kind;
        juce::Range<float> area;
    } cases[] = {
        { "click on empty ground", { 0, 1 }, 700, 700, false, true, Kind::unchanged, {} },
        { "less than 11 px", { 0, 1 }, 700, 710, false, true, Kind::unchanged, {} },
        { "a click at the very start", { 0, 1 }, 0, 0, false, true, Kind::unchanged, {} },
        { "new loop, dragged leftwards", { 0, 1 }, 700, 600, false, true, Kind::set, { 0.6f, 0.7f } },
        { "start edge past the end swaps", { 0, 1 }, 203, 500, false, true, Kind::set, { 0.4f, 0.5f } },
        { "end edge", { 0, 1 }, 398, 450, false, true, Kind::set, { 0.2f, 0.45f } },
        { "shift moves, kept inside", { 0, 1 }, 300, 950, true, true, Kind::set, { 0.8f, 1.0f } },
        { "shift, hardly moved", { 0, 1 }, 300, 305, true, true, Kind::unchanged, {} },
        { "hidden loop has no edges", { 0, 1 }, 200, 260, false, false, Kind::set, { 0.2f, 0.26f } },
        { "zoomed ruler", { 0.5, 0.75 }, 100, 300, false, true, Kind::set, { 0.525f, 0.575f } },
        { "dragged off the track's end", { 0.5, 1.0 }, 1020, 1100, false, true, Kind::disabled, {} },
    };
    for (const auto& c : cases)
    {
        LoopRulerGesture g (1000.0f, c.visible);
        g.press (c.press, c.shift, loop, c.enabled);
        g.drag ((c.press + c.release) / 2.0f);
        const auto out = g.release (c.release);
        EXPECT_EQ (out.kind, c.kind) << c.what;
        if (out.kind == Kind::set)
        {
            EXPECT_NEAR (out.area.getStart(), c.area.getStart(), 1e-6) << c.what;
            EXPECT_NEAR (out.area.getEnd(), c.area.getEnd(), 1e-6) << c.what;
        }
        EXPECT_LE (out.area.getStart(), out.area.getEnd());
        EXPECT_EQ (g.getMode(), LoopRulerGesture::Mode::none);
    }
}
