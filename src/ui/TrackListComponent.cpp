#include "TrackListComponent.h"
#include "KalderLookAndFeel.h"

namespace kalder
{

namespace
{
    using Palette = KalderLookAndFeel::Palette;

    constexpr int rowHeight = 40;    // pixels: one line of controls
    constexpr int swatchWidth = 6;   // pixels: the track's colour at the row's left
    constexpr int nameWidth = 180;   // pixels
    constexpr int buttonWidth = 28;  // pixels, solo and mute
    constexpr int sliderWidth = 140; // pixels, volume
    constexpr int panWidth = 90;     // pixels
    constexpr int gap = 6;           // pixels between controls
} // namespace

//==============================================================================
/** One track's controls. */
class TrackListComponent::Row : public juce::Component, private juce::ValueTree::Listener
{
public:
    explicit Row (AudioTrack::Ptr t) : track (std::move (t))
    {
        nameLabel.setComponentID ("name");
        nameLabel.setText (track->getName(), juce::dontSendNotification);
        nameLabel.setColour (juce::Label::textColourId, Palette::text);

        volume.setComponentID ("volume");
        volume.setSliderStyle (juce::Slider::LinearHorizontal);
        volume.setTextBoxStyle (juce::Slider::TextBoxRight, false, 56, 20); // pixels: "-60.0 dB"
        volume.setRange (minVolumeDb, maxVolumeDb, 0.1);                    // tenths of a dB
        volume.setDoubleClickReturnValue (true, 0.0);
        volume.setTextValueSuffix (" dB");
        volume.onValueChange = [this] { track->setVolume (decibelsToGain (volume.getValue())); };

        pan.setComponentID ("pan");
        pan.setSliderStyle (juce::Slider::LinearHorizontal);
        pan.setTextBoxStyle (juce::Slider::NoTextBox, true, 0, 0);
        pan.setRange (-1.0, 1.0, 0.01); // hundredths of the way to either side
        pan.setDoubleClickReturnValue (true, 0.0);
        pan.setTooltip ("Pan");
        pan.onValueChange = [this] { applyBalance (*track, pan.getValue()); };

        solo.setComponentID ("solo");
        solo.setButtonText ("S");
        solo.setTooltip ("Solo");
        solo.setClickingTogglesState (true);
        solo.onClick = [this] { track->setSolo (solo.getToggleState()); };

        mute.setComponentID ("mute");
        mute.setButtonText ("M");
        mute.setTooltip ("Mute");
        mute.setClickingTogglesState (true);
        mute.setColour (juce::TextButton::buttonOnColourId, Palette::warning);
        mute.onClick = [this] { track->setMute (mute.getToggleState()); };

        for (auto* c : std::initializer_list<juce::Component*> { &nameLabel, &volume, &pan, &solo, &mute })
        {
            c->setWantsKeyboardFocus (false); // keys belong to the commands
            addAndMakeVisible (c);
        }

        updateFromTrack();
        track->getTree().addListener (this);
    }

    ~Row() override { track->getTree().removeListener (this); }

    AudioTrack* getTrack() const noexcept { return track.get(); }

    void resized() override
    {
        auto area = getLocalBounds().reduced (gap, gap);
        area.removeFromLeft (swatchWidth + gap);
        nameLabel.setBounds (area.removeFromLeft (nameWidth));
        solo.setBounds (area.removeFromLeft (buttonWidth));
        area.removeFromLeft (gap);
        mute.setBounds (area.removeFromLeft (buttonWidth));
        area.removeFromLeft (gap);
        volume.setBounds (area.removeFromLeft (sliderWidth + 56));
        area.removeFromLeft (gap);
        pan.setBounds (area.removeFromLeft (panWidth));
    }

    void paint (juce::Graphics& g) override
    {
        g.setColour (Palette::panel);
        g.fillRect (getLocalBounds().reduced (0, 1));
        const auto stored = track->getTree()[TrackIds::colour].toString();
        g.setColour (stored.isNotEmpty() ? juce::Colour::fromString (stored) : Palette::accent);
        g.fillRect (getLocalBounds().reduced (0, 1).removeFromLeft (swatchWidth));
    }

private:
    void valueTreePropertyChanged (juce::ValueTree&, const juce::Identifier&) override { updateFromTrack(); }

    void updateFromTrack()
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
        nameLabel.setText (track->getName(), juce::dontSendNotification);
        repaint();
    }

    AudioTrack::Ptr track;
    juce::Label nameLabel;
    juce::Slider volume, pan;
    juce::TextButton solo, mute;
};

//==============================================================================
TrackListComponent::TrackListComponent (Mixer& m) : mixer (m)
{
    mixer.addListener (this);
    refresh();
}

TrackListComponent::~TrackListComponent()
{
    mixer.removeListener (this);
}

void TrackListComponent::trackListChanged()
{
    refresh();
}

void TrackListComponent::refresh()
{
    JUCE_ASSERT_MESSAGE_THREAD
    const auto tracks = mixer.getAllTracks();

    // Keep the rows of tracks that stay, so a drag on a slider is not cut short.
    juce::OwnedArray<Row> kept;
    for (auto* track : tracks)
    {
        int found = -1;
        for (int i = 0; i < rows.size() && found < 0; ++i)
            if (rows[i]->getTrack() == track)
                found = i;
        kept.add (found >= 0 ? rows.removeAndReturn (found) : new Row (track));
    }
    rows.clear();
    rows.swapWith (kept);

    for (auto* row : rows)
        addAndMakeVisible (row);
    resized();
    repaint();
}

juce::Component* TrackListComponent::getRow (int index) const noexcept
{
    return rows[index];
}

float TrackListComponent::decibelsToGain (double decibels) noexcept
{
    return decibels <= minVolumeDb ? 0.0f : juce::Decibels::decibelsToGain ((float) decibels);
}

void TrackListComponent::applyBalance (AudioTrack& track, double balance)
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

double TrackListComponent::getBalance (AudioTrack& track)
{
    const auto& tree = track.getTree();
    if (track.getNumChannels() == 1)
        return 2.0 * (double) tree[TrackIds::panL] - 1.0;
    const auto left = (double) tree[TrackIds::panL], right = (double) tree[TrackIds::panR];
    return left > 0.0 ? left : right - 1.0;
}

void TrackListComponent::resized()
{
    auto area = getLocalBounds();
    for (auto* row : rows)
        row->setBounds (area.removeFromTop (rowHeight));
}

void TrackListComponent::paint (juce::Graphics& g)
{
    g.fillAll (Palette::background);
}

} // namespace kalder
