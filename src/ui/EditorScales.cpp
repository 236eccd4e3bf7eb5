#include "EditorScales.h"
#include "KalderLookAndFeel.h"

#include "display/ScaleSteps.h"

namespace kalder
{

namespace
{
    const juce::Colour& rulerBackground = KalderLookAndFeel::Palette::panel;
    const juce::Colour& markColour = KalderLookAndFeel::Palette::dimText;
    const juce::Colour& loopColour = KalderLookAndFeel::Palette::accent;
    constexpr float labelFontHeight = 11.0f;
    constexpr int majorTick = 6;
} // namespace

void Scale::setRange (juce::Range<double> visibleFractions)
{
    if (visibleFractions != range)
    {
        range = visibleFractions;
        triggerAsyncUpdate();
    }
}

void Scale::setMaxValue (double value)
{
    if (value != maxValue && std::isfinite (value))
    {
        maxValue = juce::jmax (0.0, value);
        triggerAsyncUpdate();
    }
}

//==============================================================================
double FrequencyScale::findClosestStep (int pixels) const
{
    const auto hzPerPixel = range.getLength() * maxValue / juce::jmax (1, getHeight());
    return ScaleSteps::chooseFrequencyStep (hzPerPixel, pixels);
}

float FrequencyScale::yOf (double hz) const noexcept
{
    if (maxValue <= 0.0 || range.getLength() <= 0.0)
        return 0.0f;
    return (float) ((1.0 - hz / maxValue - range.getStart()) / range.getLength() * getHeight());
}

void FrequencyScale::paint (juce::Graphics& g)
{
    g.fillAll (rulerBackground);
    if (maxValue <= 0.0 || getHeight() <= 0)
        return;
    const auto step = findClosestStep (minimumMarkSpacing / 2);
    const auto lowest = (1.0 - range.getEnd()) * maxValue, highest = (1.0 - range.getStart()) * maxValue;
    g.setFont (labelFontHeight);
    for (auto hz = std::ceil (lowest / step) * step; hz <= highest; hz += step)
    {
        const auto y = yOf (hz);
        g.setColour (markColour);
        g.drawHorizontalLine (juce::roundToInt (y), (float) (getWidth() - majorTick), (float) getWidth());
        g.drawText (ScaleSteps::formatFrequency (hz, step),
                    juce::Rectangle<float> (0.0f, y - 7.0f, getWidth() - majorTick - 2.0f, 14.0f),
                    juce::Justification::centredRight, false);
    }
}

//==============================================================================
double TemporalScale::findClosestStep (int pixels) const
{
    const auto secondsPerPixel = range.getLength() * maxValue / juce::jmax (1, getWidth());
    return ScaleSteps::chooseTimeStep (secondsPerPixel, pixels);
}

float TemporalScale::translateRangeToScreenPosition (float fraction) const noexcept
{
    return range.getLength() > 0.0 ? (float) ((fraction - range.getStart()) / range.getLength() * getWidth()) : 0.0f;
}

void TemporalScale::paint (juce::Graphics& g)
{
    g.fillAll (rulerBackground);
    if (getWidth() <= 0)
        return;
    // The loop, or the one being dragged.
    auto* loop = getLoop();
    std::optional<juce::Range<float>> shownLoop;
    if (gesture && gesture->isShowingPending())
        shownLoop = gesture->getPending();
    else if (loop != nullptr && loop->isLoopEnabled())
        shownLoop = loop->getLoopArea();
    if (shownLoop)
    {
        const auto x0 = translateRangeToScreenPosition (shownLoop->getStart()),
                   x1 = translateRangeToScreenPosition (shownLoop->getEnd());
        g.setColour (loopColour.withAlpha (0.6f));
        g.fillRect (juce::Rectangle<float> (x0, 0.0f, juce::jmax (1.0f, x1 - x0), (float) getHeight()));
    }
    if (maxValue <= 0.0)
        return;
    const auto step = findClosestStep (minimumMarkSpacing);
    const auto first = range.getStart() * maxValue, last = range.getEnd() * maxValue;
    g.setFont (labelFontHeight);
    g.setColour (markColour);
    for (auto t = std::ceil (first / step) * step; t <= last; t += step)
    {
        const auto x = translateRangeToScreenPosition ((float) (t / maxValue));
        g.drawVerticalLine (juce::roundToInt (x), (float) (getHeight() - majorTick), (float) getHeight());
        g.drawText (ScaleSteps::formatTime (t, step),
                    juce::Rectangle<float> (x + 3.0f, 0.0f, (float) minimumMarkSpacing, getHeight() - 2.0f),
                    juce::Justification::centredLeft, false);
    }
}

void TemporalScale::mouseDown (const juce::MouseEvent& e)
{
    auto* loop = getLoop();
    if (loop == nullptr || e.mods.isPopupMenu())
        return;
    gesture.emplace ((float) getWidth(), range);
    gesture->press (e.position.x, e.mods.isShiftDown(), loop->getLoopArea(), loop->isLoopEnabled());
}

void TemporalScale::mouseDrag (const juce::MouseEvent& e)
{
    if (! gesture)
        return;
    gesture->drag (e.position.x);
    repaint();
}

void TemporalScale::mouseUp (const juce::MouseEvent& e)
{
    if (! gesture)
        return;
    const auto outcome = gesture->release (e.position.x);
    gesture.reset();
    switch (outcome.kind)
    {
        case LoopRulerGesture::Outcome::Kind::unchanged:
            break;
        case LoopRulerGesture::Outcome::Kind::set:
            setLoopArea (outcome.area);
            setLoopEnabled (true);
            break;
        case LoopRulerGesture::Outcome::Kind::disabled:
            setLoopEnabled (false);
            break;
    }
    repaint();
}

void TemporalScale::mouseDoubleClick (const juce::MouseEvent&)
{
    gesture.reset();
    if (auto* loop = getLoop())
        setLoopEnabled (! loop->isLoopEnabled());
}

} // namespace kalder
