#pragma once

#include "EditorScales.h"
#include "SpectrogramComponent.h"

#include "display/FocusArea.h"

namespace kalder
{

/**
    The editor area: the spectral editor with the time ruler (which also edits the loop)
    above it, the frequency ruler left of it and the two scroll bars. Scroll bars and
    rulers follow the application's focus area; moving a bar moves the area.

    Ownership: owned by the main component; the editor view is not owned (it is shown
    as a child), the focus area is shared.

    Threading: message thread.
*/
class ScrollableEditorComponent : public juce::Component, public FocusArea::Updater, private juce::ScrollBar::Listener
{
public:
    static constexpr int timeScaleHeight = 22, frequencyScaleWidth = 58, scrollBarThickness = 14;

    explicit ScrollableEditorComponent (SpectrogramComponent& editor);
    ~ScrollableEditorComponent() override;

    void setFocusArea (FocusArea* area);

    /** The time ruler edits this loop (nullptr: none). */
    void addTimeScaleAsLoopUpdater (Loop* loop);

    /** The axes' largest values: the track's length and its highest frequency. */
    void setAxes (double lengthSeconds, double highestHz);

    void showScales (bool shouldShow);

    /** The zoom buttons beside the scroll bars: time out/in, frequency out/in. */
    juce::Button& getZoomButton (bool timeAxis, bool in) noexcept;

    /** Pixels of zoom of one button click (a factor of 2^(100 / 200) = 1.41). */
    static constexpr double zoomButtonAmount = 100.0;

    juce::ScrollBar& getHorizontalBar() noexcept { return horizontal; }
    juce::ScrollBar& getVerticalBar() noexcept { return vertical; }
    TemporalScale& getTimeScale() noexcept { return timeScale; }
    FrequencyScale& getFrequencyScale() noexcept { return frequencyScale; }

    void focusAreaChanged (FocusArea*) override;
    void resized() override;
    void paint (juce::Graphics&) override;

private:
    void scrollBarMoved (juce::ScrollBar*, double newRangeStart) override;

    SpectrogramComponent& editor;
    void zoomClicked (bool timeAxis, bool in);

    juce::ScrollBar horizontal { false }, vertical { true };
    juce::TextButton timeOut { "-" }, timeIn { "+" }, frequencyOut { "-" }, frequencyIn { "+" };
    TemporalScale timeScale;
    FrequencyScale frequencyScale;
    bool scalesShown = true;
    juce::Range<double> shownX { 0.0, 1.0 }, shownY { 0.0, 1.0 }; // what the bars were last set to

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ScrollableEditorComponent)
};

} // namespace kalder
