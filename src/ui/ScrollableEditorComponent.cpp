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
        bar->setAutoHide (false);
        bar->setColour (juce::ScrollBar::thumbColourId, KalderLookAndFeel::Palette::dimText.withAlpha (0.6f));
        bar->setColour (juce::ScrollBar::trackColourId, KalderLookAndFeel::Palette::background);
        bar->addListener (this);
        addAndMakeVisible (*bar);
    }
    addAndMakeVisible (timeScale);
    addAndMakeVisible (frequencyScale);
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
    horizontal.setCurrentRange (x, juce::dontSendNotification);
    vertical.setCurrentRange (y, juce::dontSendNotification);
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
        area->setCentre (newRangeStart + area->getWidth() / 2.0, area->getCentreY());
    else
        area->setCentre (area->getCentreX(), newRangeStart + area->getHeight() / 2.0);
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
