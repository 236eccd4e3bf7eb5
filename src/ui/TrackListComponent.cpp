#include "TrackListComponent.h"

#include "KalderLookAndFeel.h"
#include "separation/SeparationTracker.h"

namespace kalder
{

namespace
{
    using Palette = KalderLookAndFeel::Palette;

    constexpr int rowHeight = 40;       // pixels: one line of controls
    constexpr int swatchWidth = 6;      // pixels: the track's colour at the row's left
    constexpr int gap = 6;              // pixels between controls
    constexpr int buttonWidth = 28;     // pixels, solo and mute
    constexpr int volumeTextWidth = 56; // pixels: "-60.0 dB"

    // Widths the row's controls get when there is room, and the least they shrink to
    // (the name still shows about ten characters, the sliders stay usable).
    constexpr float nameWidth = 180.0f, minNameWidth = 80.0f;
    constexpr float volumeWidth = 196.0f, minVolumeWidth = 116.0f;
    constexpr float panWidth = 90.0f, minPanWidth = 50.0f;
    constexpr float analysisWidth = 200.0f, minAnalysisWidth = 110.0f;
    constexpr float separationWidth = 280.0f;
    constexpr int cancelWidth = 60;
} // namespace

//==============================================================================
/** One track's controls. */
class TrackListComponent::Row :
    public juce::Component,
    private juce::ValueTree::Listener,
    private AudioTrack::Listener,
    private juce::Timer
{
public:
    explicit Row (AudioTrack::Ptr t) : track (std::move (t))
    {
        separation.setComponentID ("separation");
        separation.setColour (juce::ProgressBar::foregroundColourId, Palette::accent);
        addChildComponent (separation);
        cancelSeparation.setComponentID ("cancelSeparation");
        cancelSeparation.setButtonText ("Cancel");
        cancelSeparation.setTooltip ("Cancel the separation");
        cancelSeparation.onClick = [this] {
            if (onCancelSeparation)
                onCancelSeparation();
        };
        addChildComponent (cancelSeparation);

        nameLabel.setComponentID ("name");
        nameLabel.setText (track->getName(), juce::dontSendNotification);
        nameLabel.setColour (juce::Label::textColourId, Palette::text);
        nameLabel.setInterceptsMouseClicks (false, false); // a click on the name picks the track

        volume.setComponentID ("volume");
        volume.setSliderStyle (juce::Slider::LinearHorizontal);
        volume.setTextBoxStyle (juce::Slider::TextBoxRight, false, volumeTextWidth, 20); // 20: pixels high
        volume.setRange (minVolumeDb, maxVolumeDb, 0.1);                                 // tenths of a dB
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

        analysis.setComponentID ("analysis");
        analysis.setColour (juce::ProgressBar::foregroundColourId, Palette::accent);
        addChildComponent (analysis);

        for (auto* c : std::initializer_list<juce::Component*> { &nameLabel, &volume, &pan, &solo, &mute })
        {
            c->setWantsKeyboardFocus (false); // keys belong to the commands
            addAndMakeVisible (c);
        }

        updateFromTrack();
        track->getTree().addListener (this);
        track->addListener (this);
        updateSeparation();
    }

    ~Row() override
    {
        track->removeListener (this);
        track->getTree().removeListener (this);
    }

    /** Called when the user cancels the track's separation. */
    std::function<void()> onCancelSeparation;

    /** The separation's label as the row shows it, empty while none runs. */
    juce::String getShownSeparation() const { return separation.isVisible() ? separationText : juce::String(); }

    AudioTrack* getTrack() const noexcept { return track.get(); }

    /** Called when the user clicks the row outside its controls. */
    std::function<void()> onActivate;

    void mouseDown (const juce::MouseEvent& e) override
    {
        if (onActivate)
            onActivate();
        if (e.mods.isPopupMenu() && onContextMenu)
            onContextMenu();
    }

    /** Called on a right click, after the row's track became the active one. */
    std::function<void()> onContextMenu;

    /** True while the track's store is being analysed and the row shows how far it got. */
    bool isShowingAnalysis() const noexcept { return analysis.isVisible(); }
    double getShownAnalysisProgress() const noexcept { return analysisProgress; }

    void resized() override
    {
        // One line that shrinks the name and the sliders before anything overlaps.
        juce::FlexBox line;
        line.alignItems = juce::FlexBox::AlignItems::center;
        const auto margin = juce::FlexItem::Margin (0.0f, (float) gap, 0.0f, 0.0f);
        const auto height = (float) (rowHeight - 2 * gap);
        auto add = [&] (juce::Component& c, float width, float minWidth) {
            line.items.add (juce::FlexItem (c)
                                .withWidth (width)
                                .withMinWidth (minWidth)
                                .withHeight (height)
                                .withFlex (0.0f, width > minWidth ? 1.0f : 0.0f)
                                .withMargin (margin));
        };
        add (nameLabel, nameWidth, minNameWidth);
        add (solo, (float) buttonWidth, (float) buttonWidth);
        add (mute, (float) buttonWidth, (float) buttonWidth);
        add (volume, volumeWidth, minVolumeWidth);
        add (pan, panWidth, minPanWidth);
        if (analysis.isVisible())
            add (analysis, analysisWidth, minAnalysisWidth);
        if (separation.isVisible())
        {
            add (separation, separationWidth, minAnalysisWidth);
            add (cancelSeparation, (float) cancelWidth, (float) cancelWidth);
        }

        auto area = getLocalBounds().reduced (gap, 0);
        area.removeFromLeft (swatchWidth + gap);
        line.performLayout (area);
    }

    void paint (juce::Graphics& g) override
    {
        g.setColour (Palette::panel);
        g.fillRect (getLocalBounds().reduced (0, 1));
        const auto stored = track->getTree()[TrackIds::colour].toString();
        g.setColour (stored.isNotEmpty() ? juce::Colour::fromString (stored) : Palette::accent);
        g.fillRect (getLocalBounds().reduced (0, 1).removeFromLeft (swatchWidth));
        if (track->isActive()) // the track the editors and the Selection commands work on
        {
            g.setColour (Palette::accent);
            g.drawRect (getLocalBounds().reduced (0, 1), 2);
        }
    }

private:
    void valueTreePropertyChanged (juce::ValueTree&, const juce::Identifier&) override { updateFromTrack(); }

    void audioTrackSeparationStarted (AudioTrack::Ptr, const AudioTrack::RunningSeparation&) override { updateSeparation(); }
    void audioTrackSeparationProgressed (float, AudioTrack::Ptr) override { updateSeparation(); }
    void timerCallback() override { updateSeparation(); }

    /** The running separation's stage, progress and time left, with its cancel button. */
    void updateSeparation()
    {
        auto tracker = separation::SeparationTracker::of (*track);
        const bool running = tracker != nullptr && track->isBusy();
        if (running)
        {
            separationProgress = juce::jlimit (0.0, 1.0, (double) track->getSeparationProgress());
            const auto left = tracker->getTimeLeftText();
            separationText = tracker->getStatus() == separation::SeparationTracker::Status::waiting
                                 ? juce::String ("Separation: queued")
                                 : tracker->getLabel() + (left.isNotEmpty() ? ", " + left : juce::String());
            separation.setTextToDisplay (separationText);
            separation.setTooltip (separationText);
        }
        if (running != separation.isVisible())
        {
            separation.setVisible (running);
            cancelSeparation.setVisible (running);
            resized();
        }
        if (running && ! isTimerRunning())
            startTimer (250);
        else if (! running)
            stopTimer();
    }

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
        nameLabel.setTooltip (track->getName()); // the whole name, when the row shortens it

        // The final progress report may arrive before or after the store is marked ready.
        analysisProgress = juce::jlimit (0.0, 1.0, (double) tree[TrackIds::asigProgress]);
        const auto analysing = ! track->isStoreReady() && analysisProgress < 1.0;
        analysis.setTextToDisplay ("Analysing " + juce::String (juce::roundToInt (analysisProgress * 100.0)) + "%");
        if (analysing != analysis.isVisible())
        {
            analysis.setVisible (analysing);
            resized();
        }
        repaint();
    }

    AudioTrack::Ptr track;
    juce::Label nameLabel;
    juce::Slider volume, pan;
    juce::TextButton solo, mute;
    double analysisProgress = 0.0; // read by the progress bar on its timer
    juce::ProgressBar analysis { analysisProgress };
    double separationProgress = 0.0;
    juce::String separationText;
    juce::ProgressBar separation { separationProgress };
    juce::TextButton cancelSeparation;
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
        auto* row = kept.add (found >= 0 ? rows.removeAndReturn (found) : new Row (track));
        row->onActivate = [this, t = AudioTrack::Ptr (track)] { mixer.setActiveTrack (t); };
        row->onContextMenu = [this, t = AudioTrack::Ptr (track)] {
            if (onContextMenu)
                onContextMenu (t);
        };
        row->onCancelSeparation = [this, t = AudioTrack::Ptr (track)] {
            if (onCancelSeparation)
                onCancelSeparation (t);
        };
        row->repaint(); // the active track may have changed
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

std::optional<double> TrackListComponent::getShownAnalysisProgress (int index) const
{
    auto* row = rows[index];
    if (row == nullptr || ! row->isShowingAnalysis())
        return std::nullopt;
    return row->getShownAnalysisProgress();
}

juce::String TrackListComponent::getShownSeparation (int index) const
{
    auto* row = rows[index];
    return row != nullptr ? row->getShownSeparation() : juce::String();
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
