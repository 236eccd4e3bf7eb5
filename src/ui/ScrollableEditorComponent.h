#pragma once

#include "EditorScales.h"
#include "SpectrogramComponent.h"
#include "ZoomBar.h"

#include "display/FocusArea.h"

namespace kalder
{

/**
    The editor area: the spectral editor with the time ruler (which also edits the loop)
    above it, the frequency ruler left of it and the two zoom bars. Bars and rulers
    follow the application's focus area; moving or stretching a bar moves or zooms it.

    Ownership: owned by the main component; the editor view is not owned (it is shown
    as a child), the focus area is shared.

    Threading: message thread.
*/
class ScrollableEditorComponent : public juce::Component, public FocusArea::Updater
{
public:
    static constexpr int timeScaleHeight = 22, frequencyScaleWidth = 58, zoomBarThickness = 16;

    explicit ScrollableEditorComponent (SpectrogramComponent& editor);
    ~ScrollableEditorComponent() override;

    void setFocusArea (FocusArea* area);

    /** The time ruler edits this loop (nullptr: none). */
    void addTimeScaleAsLoopUpdater (Loop* loop);

    /** The axes' largest values: the track's length and its highest frequency. */
    void setAxes (double lengthSeconds, double highestHz);

    void showScales (bool shouldShow);

    /** The zoom buttons at the bars' ends: time out/in, frequency out/in. */
    juce::Button& getZoomButton (bool timeAxis, bool in) noexcept { return getZoomBar (timeAxis).getZoomButton (in); }

    /** Pixels of zoom of one button click (a factor of 2^(100 / 200) = 1.41). */
    static constexpr double zoomButtonAmount = 100.0;

    ZoomBar& getZoomBar (bool timeAxis) noexcept { return timeAxis ? horizontal : vertical; }
    TemporalScale& getTimeScale() noexcept { return timeScale; }
    FrequencyScale& getFrequencyScale() noexcept { return frequencyScale; }

    void focusAreaChanged (FocusArea*) override;
    void resized() override;
    void paint (juce::Graphics&) override;

private:
    void barMoved (bool timeAxis, juce::Range<double>);
    SpectrogramComponent& editor;
    void zoomClicked (bool timeAxis, bool in);

    ZoomBar horizontal { ZoomBar::Orientation::horizontal }, vertical { ZoomBar::Orientation::vertical };
    TemporalScale timeScale;
    FrequencyScale frequencyScale;
    bool scalesShown = true;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ScrollableEditorComponent)
};

} // namespace kalder
