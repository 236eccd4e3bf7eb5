#include "ScrollableEditorComponent.h"
#include "KalderLookAndFeel.h"

namespace kalder
{

ScrollableEditorComponent::ScrollableEditorComponent (SpectrogramComponent& e) : editor (e)
{
    setComponentID ("editor area");
    addAndMakeVisible (editor);
    for (auto [bar, time] : { std::pair { &horizontal, true }, std::pair { &vertical, false } })
    {
        bar->onMoved = [this, time = time] (juce::Range<double> r) { barMoved (time, r); };
        bar->onZoom = [this, time = time] (bool in) { zoomClicked (time, in); };
        addAndMakeVisible (*bar);
    }
    addAndMakeVisible (timeScale);
    addAndMakeVisible (frequencyScale);
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
    horizontal.setMinimumLength (area->getMinimumWidth());
    vertical.setMinimumLength (area->getMinimumHeight());
    horizontal.setShown (x);
    vertical.setShown (y);
    timeScale.setRange (x);
    frequencyScale.setRange (y);
}

void ScrollableEditorComponent::barMoved (bool timeAxis, juce::Range<double> r)
{
    auto* area = getFocusArea();
    if (area == nullptr)
        return;
    // The area keeps itself inside the image and marks the change, which its timer
    // passes on to the views (and back to the bars).
    if (timeAxis)
        area->setVisibleRanges (r, area->getVisibleY());
    else
        area->setVisibleRanges (area->getVisibleX(), r);
}

void ScrollableEditorComponent::resized()
{
    auto bounds = getLocalBounds();
    auto top = scalesShown ? bounds.removeFromTop (timeScaleHeight) : juce::Rectangle<int>();
    horizontal.setBounds (bounds.removeFromBottom (zoomBarThickness)
                              .withTrimmedRight (zoomBarThickness)
                              .withTrimmedLeft (scalesShown ? frequencyScaleWidth : 0));
    vertical.setBounds (bounds.removeFromRight (zoomBarThickness));
    if (scalesShown)
    {
        frequencyScale.setBounds (bounds.removeFromLeft (frequencyScaleWidth));
        timeScale.setBounds (top.withTrimmedLeft (frequencyScaleWidth).withTrimmedRight (zoomBarThickness));
    }
    editor.setBounds (bounds);
}

void ScrollableEditorComponent::paint (juce::Graphics& g)
{
    g.fillAll (KalderLookAndFeel::Palette::panel);
}

} // namespace kalder
