#include "TrackControls.h"

#include "KalderLookAndFeel.h"
#include "tracks/TrackIds.h"

namespace kalder
{

TrackControls::TrackControls (AudioTrack::Ptr t, juce::Slider::SliderStyle volumeStyle, juce::Slider::SliderStyle panStyle)
    : track (std::move (t))
{
    const auto vertical = volumeStyle == juce::Slider::LinearVertical;
    volume.setComponentID ("volume");
    volume.setTitle ("Volume");
    volume.setSliderStyle (volumeStyle);
    volume.setTextBoxStyle (vertical ? juce::Slider::TextBoxBelow : juce::Slider::TextBoxRight, false, 56,
                            20);                     // pixels: "-60.0 dB"
    volume.setRange (minVolumeDb, maxVolumeDb, 0.1); // tenths of a dB
    volume.setDoubleClickReturnValue (true, 0.0);
    volume.setTextValueSuffix (" dB");
    volume.onValueChange = [this] { track->setVolume (decibelsToGain (volume.getValue())); };

    pan.setComponentID ("pan");
    pan.setTitle ("Pan");
    pan.setSliderStyle (panStyle);
    pan.setTextBoxStyle (juce::Slider::NoTextBox, true, 0, 0);
    pan.setRange (-1.0, 1.0, 0.01); // hundredths of the way to either side
    pan.setDoubleClickReturnValue (true, 0.0);
    pan.setTooltip ("Pan");
    pan.setColour (juce::Slider::rotarySliderOutlineColourId, KalderLookAndFeel::Palette::outline);
    pan.onValueChange = [this] { applyBalance (*track, pan.getValue()); };

    solo.setComponentID ("solo");
    solo.setTitle ("Solo");
    solo.setButtonText ("S");
    solo.setTooltip ("Solo");
    solo.setClickingTogglesState (true);
    solo.onClick = [this] { track->setSolo (solo.getToggleState()); };

    mute.setComponentID ("mute");
    mute.setTitle ("Mute");
    mute.setButtonText ("M");
    mute.setTooltip ("Mute");
    mute.setClickingTogglesState (true);
    mute.setColour (juce::TextButton::buttonOnColourId, KalderLookAndFeel::Palette::warning);
    mute.onClick = [this] { track->setMute (mute.getToggleState()); };

    update();
    track->getTree().addListener (this);
}

TrackControls::~TrackControls()
{
    track->getTree().removeListener (this);
}

void TrackControls::addTo (juce::Component& parent)
{
    for (auto* c : std::initializer_list<juce::Component*> { &volume, &pan, &solo, &mute })
    {
        KalderLookAndFeel::focusableByTabOnly (*c);
        parent.addAndMakeVisible (c);
    }
}

void TrackControls::update()
{
    // The tree, not the track's atomic mirrors: those may be updated after this
    // listener has been called.
    const auto& tree = track->getTree();
    const auto gain = (float) tree[TrackIds::volume];
    volume.setValue (gain > 0.0f ? juce::Decibels::gainToDecibels ((double) gain, minVolumeDb) : minVolumeDb,
                     juce::dontSendNotification);
    pan.setValue (getBalance (*track), juce::dontSendNotification);
    solo.setToggleState ((bool) tree[TrackIds::solo], juce::dontSendNotification);
    mute.setToggleState ((bool) tree[TrackIds::mute], juce::dontSendNotification);
}

float TrackControls::decibelsToGain (double decibels) noexcept
{
    return decibels <= minVolumeDb ? 0.0f : juce::Decibels::decibelsToGain ((float) decibels);
}

void TrackControls::applyBalance (AudioTrack& track, double balance)
{
    const auto b = (float) juce::jlimit (-1.0, 1.0, balance);
    if (track.getNumChannels() == 1)
    {
        track.setPan (0, 0.5f + 0.5f * b);
        return;
    }
    // Left channel pan 0 and right channel pan 1 is the unpanned stereo image.
    track.setPan (0, juce::jmax (0.0f, b));
    track.setPan (1, juce::jmin (1.0f, 1.0f + b));
}

double TrackControls::getBalance (AudioTrack& track)
{
    const auto& tree = track.getTree();
    if (track.getNumChannels() == 1)
        return 2.0 * (double) tree[TrackIds::panL] - 1.0;
    const auto left = (double) tree[TrackIds::panL], right = (double) tree[TrackIds::panR];
    return left > 0.0 ? left : right - 1.0;
}

} // namespace kalder
