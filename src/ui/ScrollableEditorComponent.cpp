#include "ScrollableEditorComponent.h"
#include "KalderLookAndFeel.h"

namespace kalder
{

ScrollableEditorComponent::ScrollableEditorComponent (SpectrogramComponent& e) : editor (e)
{
    setComponentID ("editor area");
    addAndMakeVisible (editor);
    for (auto* bar : { &horizontal, &vertical })
    {
        bar->setRangeLimits (0.0, 1.0, juce::dontSendNotification);
        bar->setCurrentRange (0.0, 1.0, juce::dontSendNotification);
        bar->setAutoHide (false);
        bar->setColour (juce::ScrollBar::thumbColourId, KalderLookAndFeel::Palette::dimText.withAlpha (0.6f));
        bar->setColour (juce::ScrollBar::trackColourId, KalderLookAndFeel::Palette::background);
        bar->addListener (this);
        addAndMakeVisible (*bar);
    }
    shownX = horizontal.getCurrentRange();
    shownY = vertical.getCurrentRange();
    addAndMakeVisible (timeScale);
    addAndMakeVisible (frequencyScale);
    for (auto [button, time, in, tip] :
         { std::tuple { &timeOut, true, false, "Zoom out time axis" }, std::tuple { &timeIn, true, true, "Zoom in time axis" },
           std::tuple { &frequencyOut, false, false, "Zoom out frequency axis" },
           std::tuple { &frequencyIn, false, true, "Zoom in frequency axis" } })
    {
        button->setTooltip (tip);
        button->onClick = [this, time = time, in = in] { zoomClicked (time, in); };
        addAndMakeVisible (*button);
    }
}

juce::Button& ScrollableEditorComponent::getZoomButton (bool timeAxis, bool in) noexcept
{
    return timeAxis ? (in ? timeIn : timeOut) : (in ? frequencyIn : frequencyOut);
}

void ScrollableEditorComponent::zoomClicked (bool timeAxis, bool in)
{
    auto* area = getFocusArea();
    if (area == nullptr)
        return;
    // Around the middle of what is shown.
    const auto amount = in ? -zoomButtonAmount : zoomButtonAmount;
    if (timeAxis)
        area->zoomHorizontally (area->getCentreX(), amount);
    else
        area->zoomVertically (area->getCentreY(), amount);
    editor.focusAreaChanged (area);
}

ScrollableEditorComponent::~ScrollableEditorComponent()
{
    if (auto* area = getFocusArea())
        area->removeUpdater (this);
    timeScale.setLoop (nullptr);
}

void ScrollableEditorComponent::setFocusArea (FocusArea* area)
{
    if (auto* old = getFocusArea())
        old->removeUpdater (this);
    if (area != nullptr)
    {
        area->addUpdater (this);
        focusAreaChanged (area);
    }
}

void ScrollableEditorComponent::addTimeScaleAsLoopUpdater (Loop* loop)
{
    if (auto* old = timeScale.getLoop())
        old->removeUpdater (&timeScale);
    if (loop != nullptr)
        loop->addUpdater (&timeScale);
}

void ScrollableEditorComponent::setAxes (double lengthSeconds, double highestHz)
{
    timeScale.setMaxValue (lengthSeconds);
    frequencyScale.setMaxValue (highestHz);
}

void ScrollableEditorComponent::showScales (bool shouldShow)
{
    if (scalesShown != shouldShow)
    {
        scalesShown = shouldShow;
        timeScale.setVisible (shouldShow);
        frequencyScale.setVisible (shouldShow);
        resized();
    }
}

void ScrollableEditorComponent::focusAreaChanged (FocusArea* area)
{
    const auto x = area->getVisibleX(), y = area->getVisibleY();
    // A bar the user (or a caller) moved since it was last set has its move still to be
    // told (bars tell asynchronously): it keeps it, and the move comes back here.
    auto follow = [] (juce::ScrollBar& bar, juce::Range<double>& shown, juce::Range<double> range) {
        if (bar.getCurrentRange() != shown)
            return;
        bar.setCurrentRange (range, juce::dontSendNotification);
        shown = bar.getCurrentRange();
    };
    follow (horizontal, shownX, x);
    follow (vertical, shownY, y);
    timeScale.setRange (x);
    frequencyScale.setRange (y);
}

void ScrollableEditorComponent::scrollBarMoved (juce::ScrollBar* bar, double newRangeStart)
{
    auto* area = getFocusArea();
    if (area == nullptr)
        return;
    // The centre follows the bar; the area keeps itself inside the image and marks the
    // change, which its timer passes on to the views.
    if (bar == &horizontal)
    {
        shownX = bar->getCurrentRange();
        area->setCentre (newRangeStart + area->getWidth() / 2.0, area->getCentreY());
    }
    else
    {
        shownY = bar->getCurrentRange();
        area->setCentre (area->getCentreX(), newRangeStart + area->getHeight() / 2.0);
    }
}

void ScrollableEditorComponent::resized()
{
    auto bounds = getLocalBounds();
    auto top = scalesShown ? bounds.removeFromTop (timeScaleHeight) : juce::Rectangle<int>();
    horizontal.setBounds (bounds.removeFromBottom (scrollBarThickness)
                              .withTrimmedRight (scrollBarThickness)
                              .withTrimmedLeft (scalesShown ? frequencyScaleWidth : 0));
    vertical.setBounds (bounds.removeFromRight (scrollBarThickness));
    if (scalesShown)
    {
        frequencyScale.setBounds (bounds.removeFromLeft (frequencyScaleWidth));
        timeScale.setBounds (top.withTrimmedLeft (frequencyScaleWidth).withTrimmedRight (scrollBarThickness));
    }
    editor.setBounds (bounds);
}

void ScrollableEditorComponent::paint (juce::Graphics& g)
{
    g.fillAll (KalderLookAndFeel::Palette::panel);
}

} // namespace kalder
