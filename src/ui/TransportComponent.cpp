#include "TransportComponent.h"
#include "KalderLookAndFeel.h"

namespace kalder
{

namespace
{
    using Palette = KalderLookAndFeel::Palette;

    // Icons on a unit square; ShapeButton scales them to the button.
    juce::Path makePlayIcon()
    {
        juce::Path p;
        p.addTriangle (0.0f, 0.0f, 0.0f, 1.0f, 0.87f, 0.5f); // 0.87: an equilateral triangle's height
        return p;
    }

    juce::Path makePauseIcon()
    {
        juce::Path p;
        p.addRectangle (0.0f, 0.0f, 0.35f, 1.0f); // two bars a third wide, a gap between
        p.addRectangle (0.65f, 0.0f, 0.35f, 1.0f);
        return p;
    }

    juce::Path makeStopIcon()
    {
        juce::Path p;
        p.addRectangle (0.0f, 0.0f, 1.0f, 1.0f);
        return p;
    }

    juce::Path makeLoopIcon()
    {
        // Two arcs chasing each other, each ending in an arrowhead.
        constexpr float thickness = 0.14f;
        juce::Path arcs;
        arcs.addCentredArc (0.5f, 0.5f, 0.4f, 0.4f, 0.0f, 0.3f, 2.8f, true);
        arcs.addCentredArc (0.5f, 0.5f, 0.4f, 0.4f, 0.0f, 3.4f, 5.9f, true);
        juce::Path p;
        juce::PathStrokeType (thickness).createStrokedPath (p, arcs);
        p.addTriangle (0.78f, 0.78f, 0.98f, 0.6f, 0.62f, 0.58f);
        p.addTriangle (0.22f, 0.22f, 0.02f, 0.4f, 0.38f, 0.42f);
        return p;
    }

    void setUpButton (juce::ShapeButton& button, const juce::Path& icon)
    {
        button.setShape (icon, false, true, false);
        button.setTitle (button.getName());               // what a screen reader says
        KalderLookAndFeel::focusableByTabOnly (button);   // a click leaves Space to the play command
        button.setBorderSize (juce::BorderSize<int> (6)); // pixels around the icon
    }

    constexpr int buttonSize = 32; // pixels, square
    constexpr int timeWidth = 180; // pixels, room for "00:00.0 / 00:00.0" at 15 pt
    constexpr float timeFontSize = 15.0f;
} // namespace

TransportComponent::TransportComponent()
    : playButton ("Play", Palette::text, Palette::text.brighter(), Palette::accent),
      stopButton ("Stop", Palette::text, Palette::text.brighter(), Palette::accent),
      loopButton ("Loop", Palette::dimText, Palette::text, Palette::accent)
{
    setUpButton (playButton, makePlayIcon());
    setUpButton (stopButton, makeStopIcon());
    setUpButton (loopButton, makeLoopIcon());
    loopButton.setOnColours (Palette::accent, Palette::accent.brighter(), Palette::accent.darker());
    loopButton.shouldUseOnColours (true);

    playButton.setTooltip ("Play/Pause (Space)");
    stopButton.setTooltip ("Stop");
    loopButton.setTooltip ("Toggle Loop (L)");

    playButton.onClick = [this] {
        if (onPlayPause)
            onPlayPause();
    };
    stopButton.onClick = [this] {
        if (onStop)
            onStop();
    };
    loopButton.onClick = [this] {
        if (onToggleLoop)
            onToggleLoop();
    };

    timeLabel.setFont (juce::Font (timeFontSize));
    timeLabel.setJustificationType (juce::Justification::centredLeft);
    timeLabel.setColour (juce::Label::textColourId, Palette::text);
    statusLabel.setFont (juce::Font (12.0f));
    statusLabel.setJustificationType (juce::Justification::centredRight);
    statusLabel.setColour (juce::Label::textColourId, Palette::warning);
    addChildComponent (statusLabel);

    for (auto* c : std::initializer_list<juce::Component*> { &playButton, &stopButton, &loopButton, &timeLabel })
        addAndMakeVisible (c);

    setTimes (0.0, 0.0);
    setControlsEnabled (false);
}

void TransportComponent::setPlaying (bool isPlaying)
{
    if (playing == isPlaying)
        return;
    playing = isPlaying;
    updatePlayShape();
}

void TransportComponent::updatePlayShape()
{
    playButton.setShape (playing ? makePauseIcon() : makePlayIcon(), false, true, false);
    playButton.setName (playing ? "Pause" : "Play");
    playButton.setTitle (playButton.getName());
}

void TransportComponent::setLoopEnabled (bool isLooping)
{
    loopButton.setToggleState (isLooping, juce::dontSendNotification);
}

void TransportComponent::setTimes (double positionSeconds, double lengthSeconds)
{
    timeLabel.setText (formatTime (positionSeconds) + " / " + formatTime (lengthSeconds), juce::dontSendNotification);
}

void TransportComponent::setControlsEnabled (bool shouldBeEnabled)
{
    constexpr float disabledAlpha = 0.35f; // greyed, as the menus show disabled commands
    for (auto* b : { &playButton, &stopButton, &loopButton })
    {
        b->setEnabled (shouldBeEnabled);
        b->setAlpha (shouldBeEnabled ? 1.0f : disabledAlpha);
    }
}

juce::String TransportComponent::formatTime (double seconds)
{
    constexpr int tenthsPerSecond = 10, tenthsPerMinute = 600;
    const auto tenths = (juce::int64) std::floor (juce::jmax (0.0, seconds) * tenthsPerSecond);
    const auto minutes = tenths / tenthsPerMinute;
    const auto rest = tenths % tenthsPerMinute;
    return juce::String (minutes) + ":" + juce::String (rest / tenthsPerSecond).paddedLeft ('0', 2) + "."
           + juce::String (rest % tenthsPerSecond);
}

void TransportComponent::resized()
{
    constexpr int gap = 6; // pixels between controls
    auto area = getLocalBounds().reduced (gap);
    const auto size = juce::jmin (buttonSize, area.getHeight());
    for (auto* b : { &playButton, &stopButton, &loopButton })
    {
        b->setBounds (area.removeFromLeft (size).withSizeKeepingCentre (size, size));
        area.removeFromLeft (gap);
    }
    timeLabel.setBounds (area.removeFromLeft (timeWidth));
    area.removeFromLeft (gap);
    statusLabel.setBounds (area);
}

void TransportComponent::setStatus (const juce::String& text)
{
    statusLabel.setText (text, juce::dontSendNotification);
    statusLabel.setTooltip (text);
    statusLabel.setVisible (text.isNotEmpty());
}

void TransportComponent::paint (juce::Graphics& g)
{
    g.fillAll (Palette::panel);
    g.setColour (Palette::outline);
    g.drawHorizontalLine (getHeight() - 1, 0.0f, (float) getWidth());
}

} // namespace kalder
