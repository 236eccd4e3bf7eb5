#include "SeparationDialog.h"

#include "KalderLookAndFeel.h"
#include "ResourceManager.h"

namespace kalder
{

using namespace separation;

namespace
{
    constexpr int width = 560, margin = 14, rowHeight = 26, gap = 6, labelWidth = 200;
    using Palette = KalderLookAndFeel::Palette;

    /** The image store's name of a module's icon. */
    const char* iconOf (Module module)
    {
        switch (module)
        {
            case Module::vocals:
            case Module::allVocals:
                return "VocalSeparation";
            case Module::bass:
                return "BassSeparation";
            case Module::drums:
                return "DrumSeparation";
            case Module::other:
                return "OtherSeparation";
            case Module::fourStems:
                return "FourstemSeparation";
            case Module::pan:
                return "PanSeparation";
        }
        return "";
    }
} // namespace

SeparationDialog::SeparationDialog (Module module, SeparatorSettings::Ptr s, const juce::StringArray& trackNames, int activeTrack,
                                    bool loopAvailable, bool selectionAvailable)
    : requestedModule (module)
{
    // The vocal dialog offers both vocal modules: each keeps its own parameters.
    if (module == Module::vocals || module == Module::allVocals)
    {
        vocalSettings = module == Module::vocals && s != nullptr ? s->makeCopy() : VocalSettings::getDefault();
        allVocalSettings = module == Module::allVocals && s != nullptr ? s->makeCopy() : AIVocalSettings::getDefault();
        settings = module == Module::vocals ? vocalSettings : allVocalSettings;
    }
    else
    {
        settings = s != nullptr ? s->makeCopy() : nullptr;
    }

    headingLabel.setText (heading, juce::dontSendNotification);
    headingLabel.setFont (juce::Font (15.0f, juce::Font::bold));
    addAndMakeVisible (headingLabel);

    trackBox.setComponentID ("track");
    trackBox.setTitle ("Track");
    trackBox.addItemList (trackNames, 1);
    trackBox.setSelectedItemIndex (juce::jlimit (0, juce::jmax (0, trackNames.size() - 1), activeTrack),
                                   juce::dontSendNotification);
    addAndMakeVisible (trackBox);

    rangeBox.setComponentID ("range");
    rangeBox.setTitle ("Part of the track");
    rangeBox.addItem ("The whole track", 1);
    rangeIds.add ((int) Range::wholeTrack);
    if (loopAvailable)
    {
        rangeBox.addItem ("The loop", 2);
        rangeIds.add ((int) Range::loop);
    }
    if (selectionAvailable)
    {
        rangeBox.addItem ("The time span of the selection", 3);
        rangeIds.add ((int) Range::selection);
    }
    rangeBox.setSelectedItemIndex (0, juce::dontSendNotification);
    addAndMakeVisible (rangeBox);

    if (vocalSettings != nullptr)
    {
        questionLabel.setText (vocalQuestion, juce::dontSendNotification);
        addAndMakeVisible (questionLabel);
        allVocals.setComponentID ("allVocals");
        leadVocal.setComponentID ("leadVocal");
        automatic.setComponentID ("automatic");
        guided.setComponentID ("guided");
        allVocals.setRadioGroupId (1);
        leadVocal.setRadioGroupId (1);
        automatic.setRadioGroupId (2);
        guided.setRadioGroupId (2);
        (module == Module::allVocals ? allVocals : leadVocal).setToggleState (true, juce::dontSendNotification);
        const bool isGuided = vocalSettings->getParameterValues()["mode"].toString() == SeparatorValues::guided;
        (isGuided ? guided : automatic).setToggleState (true, juce::dontSendNotification);
        for (auto* b : { &allVocals, &leadVocal, &automatic, &guided })
        {
            b->onClick = [this] { updateVocalMode(); };
            addAndMakeVisible (b);
        }
        loopOffered = loopAvailable;
        melodyNote.setText (noMelodyNote, juce::dontSendNotification);
        melodyNote.setComponentID ("noMelodyNote");
        trackMelodyButton.setButtonText (loopAvailable ? trackLoopText : trackWholeText);
        trackMelodyButton.setComponentID ("trackMelody");
        trackMelodyButton.onClick = [this] {
            if (onTrackMelody)
                onTrackMelody (trackBox.getSelectedItemIndex());
        };
        addChildComponent (melodyNote);
        addChildComponent (trackMelodyButton);
        trackBox.onChange = [this] { refreshMelodyNote(); };
    }

    startButton.setComponentID ("start");
    cancelButton.setComponentID ("cancel");
    startButton.onClick = [this] {
        const auto choice = getChoice();
        auto callback = onStart;
        close (1);
        if (callback != nullptr)
            callback (choice);
    };
    cancelButton.onClick = [this] { close (0); };
    addAndMakeVisible (startButton);
    addAndMakeVisible (cancelButton);

    buildParameters();
    updateVocalMode();
}

SeparationDialog::~SeparationDialog() = default;

void SeparationDialog::buildParameters()
{
    paramLabels.clear();
    paramBoxes.clear();
    if (settings == nullptr)
    {
        resized();
        return;
    }
    for (const auto& info : settings->getParamCodes())
    {
        auto* param = settings->getParam (info.id);
        // Stereo smoothing of the vocal module is a settings-page matter.
        if (param == nullptr || ! param->isShownInDialog())
            continue;
        // The vocal mode is the choice of the radio buttons above.
        if (vocalSettings != nullptr && info.name == "mode")
            continue;
        auto* label = paramLabels.add (new juce::Label ({}, param->getDisplayName()));
        addAndMakeVisible (label);
        auto* box = paramBoxes.add (new juce::ComboBox (info.name));
        box->setComponentID (info.name);
        box->setTitle (param->getDisplayName());
        const auto pairs = settings->getPossibleValuesForParam (info.id);
        box->addItemList (pairs.getAllKeys(), 1);
        box->setText (settings->getDisplayText (info.id), juce::dontSendNotification);
        box->onChange = [this, box, name = info.name, id = info.id] {
            const auto offered = settings->getPossibleValuesForParam (id);
            settings->setValue (name, offered[box->getText()]);
        };
        addAndMakeVisible (box);
    }
    resized();
}

void SeparationDialog::updateVocalMode()
{
    if (vocalSettings == nullptr)
        return;
    const bool lead = leadVocal.getToggleState();
    auto wanted = lead ? vocalSettings : allVocalSettings;
    if (wanted != settings)
    {
        settings = wanted;
        buildParameters();
    }
    automatic.setEnabled (lead);
    guided.setEnabled (lead);
    if (lead)
        vocalSettings->setValue ("mode", guided.getToggleState() ? SeparatorValues::guided : SeparatorValues::automatic);
    // The drawn melody decides what a guided separation takes; these do not apply to it.
    const bool isGuided = lead && guided.getToggleState();
    refreshMelodyNote();
    for (auto* box : paramBoxes)
    {
        const bool applies = ! isGuided || box->getName() == "reverbProcess" || box->getName() == "backingTrack";
        box->setEnabled (applies);
        box->setTooltip (applies ? juce::String() : juce::String (disabledForGuided));
    }
}

void SeparationDialog::refreshMelodyNote()
{
    const bool isGuided = vocalSettings != nullptr && leadVocal.getToggleState() && guided.getToggleState();
    const bool missing = isGuided && hasMelodyLines != nullptr && ! hasMelodyLines (trackBox.getSelectedItemIndex());
    if (missing != melodyNote.isVisible())
    {
        melodyNote.setVisible (missing);
        trackMelodyButton.setVisible (missing && onTrackMelody != nullptr);
        resized();
    }
}

SeparationDialog::Choice SeparationDialog::getChoice() const
{
    Choice c;
    c.module = vocalSettings != nullptr ? (leadVocal.getToggleState() ? Module::vocals : Module::allVocals) : requestedModule;
    c.settings = settings;
    c.trackIndex = trackBox.getSelectedItemIndex();
    c.range = (Range) rangeIds[juce::jmax (0, rangeBox.getSelectedItemIndex())];
    return c;
}

void SeparationDialog::close (int result)
{
    if (auto* window = findParentComponentOfClass<juce::DialogWindow>())
        window->exitModalState (result);
}

bool SeparationDialog::keyPressed (const juce::KeyPress& key)
{
    if (key == juce::KeyPress::escapeKey)
    {
        close (0);
        return true;
    }
    return false;
}

void SeparationDialog::resized()
{
    auto area = juce::Rectangle<int> (0, 0, width, 2000).reduced (margin);
    auto row = [&area] (int h = rowHeight) {
        auto r = area.removeFromTop (h);
        area.removeFromTop (gap);
        return r;
    };
    auto heading = row();
    iconArea = heading.removeFromLeft (rowHeight);
    heading.removeFromLeft (gap);
    headingLabel.setBounds (heading);
    auto labelled = [&] (juce::Component& c, const juce::String&) {
        auto r = row();
        r.removeFromLeft (labelWidth);
        c.setBounds (r);
    };
    labelled (trackBox, "Track");
    labelled (rangeBox, "Part");
    if (vocalSettings != nullptr)
    {
        questionLabel.setBounds (row());
        allVocals.setBounds (row());
        leadVocal.setBounds (row());
        automatic.setBounds (row().withTrimmedLeft (24));
        guided.setBounds (row (rowHeight * 2).withTrimmedLeft (24));
        if (melodyNote.isVisible())
        {
            melodyNote.setBounds (row (rowHeight * 2).withTrimmedLeft (24));
            trackMelodyButton.setBounds (row().withTrimmedLeft (24).withWidth (260));
        }
    }
    for (int i = 0; i < paramBoxes.size(); ++i)
    {
        auto r = row();
        paramLabels[i]->setBounds (r.removeFromLeft (labelWidth));
        paramBoxes[i]->setBounds (r);
    }
    auto buttons = row (30);
    cancelButton.setBounds (buttons.removeFromRight (110));
    buttons.removeFromRight (gap);
    startButton.setBounds (buttons.removeFromRight (110));
    const auto height = buttons.getBottom() + margin;
    if (getHeight() != height || getWidth() != width)
        setSize (width, height);
}

void SeparationDialog::paint (juce::Graphics& g)
{
    g.fillAll (Palette::panel);
    ResourceManager::getInstance().drawIcon (g, iconOf (requestedModule), iconArea.toFloat());
    g.setColour (Palette::text.withAlpha (0.8f));
    g.setFont (14.0f);
    g.drawText ("Track", margin, trackBox.getY(), labelWidth, rowHeight, juce::Justification::centredLeft);
    g.drawText ("Part of the track", margin, rangeBox.getY(), labelWidth, rowHeight, juce::Justification::centredLeft);
}

} // namespace kalder
