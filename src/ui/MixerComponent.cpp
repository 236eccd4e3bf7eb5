#include "MixerComponent.h"

#include "KalderLookAndFeel.h"
#include "TrackControls.h"
#include "tracks/TrackIds.h"

namespace kalder
{

namespace
{
    using Palette = KalderLookAndFeel::Palette;

    constexpr int gap = 6;           // pixels between controls
    constexpr int nameHeight = 36;   // pixels: two lines of a track's name
    constexpr int panSize = 44;      // pixels: the pan knob
    constexpr int buttonHeight = 24; // pixels: solo and mute
    constexpr int meterWidth = 18;   // pixels: both channels' bars
    constexpr float meterFloorDb = -60.0f;
} // namespace

//==============================================================================
/** Bars of per-channel peaks, in dB. */
class MixerComponent::Meter : public juce::Component
{
public:
    Meter()
    {
        setComponentID ("meter");
        setTitle ("Level");
        setAccessible (true);
    }

    void setPeaks (std::vector<float> newPeaks)
    {
        if (newPeaks != peaks)
        {
            peaks = std::move (newPeaks);
            repaint();
        }
    }

    const std::vector<float>& getPeaks() const noexcept { return peaks; }

    void paint (juce::Graphics& g) override
    {
        g.fillAll (Palette::background);
        const auto n = juce::jmax (1, (int) peaks.size());
        const auto barWidth = (float) getWidth() / (float) n;
        for (size_t c = 0; c < peaks.size(); ++c)
        {
            const auto db = juce::Decibels::gainToDecibels (peaks[c], meterFloorDb);
            const auto fraction = juce::jlimit (0.0f, 1.0f, (db - meterFloorDb) / -meterFloorDb);
            const auto h = fraction * (float) getHeight();
            g.setColour (peaks[c] >= 1.0f ? Palette::warning : Palette::accent);
            g.fillRect (juce::Rectangle<float> (barWidth * (float) c + 1.0f, (float) getHeight() - h, barWidth - 2.0f, h));
        }
        g.setColour (Palette::outline);
        g.drawRect (getLocalBounds());
    }

    std::unique_ptr<juce::AccessibilityHandler> createAccessibilityHandler() override
    {
        struct Value : juce::AccessibilityValueInterface
        {
            explicit Value (Meter& m) : meter (m) {}
            bool isReadOnly() const override { return true; }
            double getCurrentValue() const override
            {
                float loudest = 0.0f;
                for (auto p : meter.peaks)
                    loudest = juce::jmax (loudest, p);
                return juce::Decibels::gainToDecibels (loudest, meterFloorDb);
            }
            void setValue (double) override {}
            AccessibleValueRange getRange() const override { return { { meterFloorDb, 0.0 }, 0.1 }; }
            juce::String getCurrentValueAsString() const override { return juce::String (getCurrentValue(), 1) + " dB"; }
            void setValueAsString (const juce::String&) override {}
            Meter& meter;
        };
        return std::make_unique<juce::AccessibilityHandler> (
            *this, juce::AccessibilityRole::progressBar, juce::AccessibilityActions {},
            juce::AccessibilityHandler::Interfaces { std::make_unique<Value> (*this) });
    }

private:
    std::vector<float> peaks;
};

//==============================================================================
/** One track: colour, name, pan, fader, solo and mute, meters. */
class MixerComponent::Strip : public juce::Component, private juce::ValueTree::Listener
{
public:
    explicit Strip (AudioTrack::Ptr t)
        : track (std::move (t)), controls (track, juce::Slider::LinearVertical, juce::Slider::RotaryHorizontalVerticalDrag)
    {
        name.setComponentID ("name");
        name.setJustificationType (juce::Justification::centred);
        name.setMinimumHorizontalScale (0.7f);
        name.setColour (juce::Label::textColourId, Palette::text);
        addAndMakeVisible (name);
        controls.addTo (*this);
        addAndMakeVisible (meter);
        track->getTree().addListener (this);
        updateName();
    }

    ~Strip() override { track->getTree().removeListener (this); }

    AudioTrack* getTrack() const noexcept { return track.get(); }
    void updateMeter() { meter.setPeaks (track->getLastPeak()); }
    const Meter& getMeter() const noexcept { return meter; }

    void resized() override
    {
        auto area = getLocalBounds().reduced (gap);
        area.removeFromTop (4); // the colour
        name.setBounds (area.removeFromTop (nameHeight));
        controls.pan.setBounds (area.removeFromTop (panSize).withSizeKeepingCentre (panSize, panSize));
        auto buttons = area.removeFromBottom (buttonHeight);
        controls.solo.setBounds (buttons.removeFromLeft (buttons.getWidth() / 2).reduced (2, 0));
        controls.mute.setBounds (buttons.reduced (2, 0));
        area.removeFromBottom (gap);
        meter.setBounds (area.removeFromRight (meterWidth).withTrimmedBottom (24)); // the fader's text box
        controls.volume.setBounds (area);
    }

    void paint (juce::Graphics& g) override
    {
        g.setColour (Palette::panel);
        g.fillRect (getLocalBounds().reduced (1, 0));
        const auto stored = track->getTree()[TrackIds::colour].toString();
        g.setColour (stored.isNotEmpty() ? juce::Colour::fromString (stored) : Palette::accent);
        g.fillRect (getLocalBounds().reduced (1, 0).removeFromTop (4));
        if (track->isActive())
        {
            g.setColour (Palette::accent);
            g.drawRect (getLocalBounds().reduced (1, 0), 2);
        }
    }

private:
    void valueTreePropertyChanged (juce::ValueTree&, const juce::Identifier& property) override
    {
        if (property == TrackIds::name || property == TrackIds::colour)
            updateName();
    }

    void updateName()
    {
        name.setText (track->getName(), juce::dontSendNotification);
        name.setTooltip (track->getName());
        setTitle (track->getName());
        repaint();
    }

    AudioTrack::Ptr track;
    TrackControls controls;
    juce::Label name;
    Meter meter;
};

//==============================================================================
/** The mix: master gain and the mix's meters. */
class MixerComponent::MasterStrip : public juce::Component
{
public:
    explicit MasterStrip (Mixer& m) : mixer (m)
    {
        setTitle ("Master output");
        name.setText ("Master output", juce::dontSendNotification);
        name.setJustificationType (juce::Justification::centred);
        name.setColour (juce::Label::textColourId, Palette::text);
        addAndMakeVisible (name);
        gain.setComponentID ("masterVolume");
        gain.setTitle ("Master volume");
        gain.setSliderStyle (juce::Slider::LinearVertical);
        gain.setTextBoxStyle (juce::Slider::TextBoxBelow, false, 56, 20); // pixels
        gain.setRange (TrackControls::minVolumeDb, TrackControls::maxVolumeDb, 0.1);
        gain.setDoubleClickReturnValue (true, 0.0);
        gain.setTextValueSuffix (" dB");
        gain.onValueChange = [this] { mixer.setMasterGain (TrackControls::decibelsToGain (gain.getValue())); };
        KalderLookAndFeel::focusableByTabOnly (gain);
        addAndMakeVisible (gain);
        addAndMakeVisible (meter);
        update();
    }

    void update()
    {
        const auto g = mixer.getMasterGain();
        gain.setValue (g > 0.0f ? juce::Decibels::gainToDecibels ((double) g, TrackControls::minVolumeDb)
                                : TrackControls::minVolumeDb,
                       juce::dontSendNotification);
        meter.setPeaks (mixer.getLastPeak());
    }

    void resized() override
    {
        auto area = getLocalBounds().reduced (gap);
        area.removeFromTop (4);
        name.setBounds (area.removeFromTop (nameHeight));
        area.removeFromTop (panSize);
        area.removeFromBottom (buttonHeight + gap);
        meter.setBounds (area.removeFromRight (meterWidth).withTrimmedBottom (24));
        gain.setBounds (area);
    }

    void paint (juce::Graphics& g) override
    {
        g.setColour (Palette::panel.brighter (0.1f));
        g.fillRect (getLocalBounds().reduced (1, 0));
    }

    Meter meter;

private:
    Mixer& mixer;
    juce::Label name;
    juce::Slider gain;
};

//==============================================================================
MixerComponent::MixerComponent (Mixer& m) : mixer (m), master (std::make_unique<MasterStrip> (m))
{
    viewport.setViewedComponent (&strips, false);
    viewport.setScrollBarsShown (false, true);
    addAndMakeVisible (viewport);
    addAndMakeVisible (*master);
    mixer.addListener (this);
    rebuild();
    setSize (7 * stripWidth, 420); // pixels: a first window shows six tracks and the mix
    startTimer (meterIntervalMs);
}

MixerComponent::~MixerComponent()
{
    mixer.removeListener (this);
}

void MixerComponent::trackListChanged()
{
    rebuild();
}

void MixerComponent::rebuild()
{
    const auto order = Mixer::inTreeOrder (mixer.getAllTracks());
    juce::OwnedArray<Strip> kept;
    for (auto* track : order)
    {
        int found = -1;
        for (int i = 0; i < trackStrips.size() && found < 0; ++i)
            if (trackStrips[i]->getTrack() == track)
                found = i;
        kept.add (found >= 0 ? trackStrips.removeAndReturn (found) : new Strip (track));
    }
    trackStrips.clear();
    trackStrips.swapWith (kept);
    for (auto* s : trackStrips)
    {
        strips.addAndMakeVisible (s);
        s->repaint(); // the active track may have changed
    }
    resized();
}

int MixerComponent::getNumStrips() const noexcept
{
    return trackStrips.size();
}

juce::Component* MixerComponent::getStrip (int index) const noexcept
{
    return trackStrips[index];
}

juce::Component& MixerComponent::getMasterStrip() noexcept
{
    return *master;
}

std::vector<float> MixerComponent::getShownPeaks (int index) const
{
    auto* s = trackStrips[index];
    return s != nullptr ? s->getMeter().getPeaks() : std::vector<float>();
}

void MixerComponent::timerCallback()
{
    if (! isShowing())
        return;
    for (auto* s : trackStrips)
        s->updateMeter();
    master->update();
}

void MixerComponent::resized()
{
    auto area = getLocalBounds();
    master->setBounds (area.removeFromRight (stripWidth));
    viewport.setBounds (area);
    const auto scrolls = trackStrips.size() * stripWidth > area.getWidth();
    strips.setSize (trackStrips.size() * stripWidth, area.getHeight() - (scrolls ? viewport.getScrollBarThickness() : 0));
    auto inner = strips.getLocalBounds();
    for (auto* s : trackStrips)
        s->setBounds (inner.removeFromLeft (stripWidth));
}

void MixerComponent::paint (juce::Graphics& g)
{
    g.fillAll (Palette::background);
}

} // namespace kalder
