#include "SettingsComponent.h"
#include "KalderLookAndFeel.h"

#include "separation/SeparatorSettings.h"

namespace kalder
{

namespace
{
    using Palette = KalderLookAndFeel::Palette;

    constexpr int width = 540;        // pixels: the longest label and a combo box side by side
    constexpr int height = 280;       // pixels: the tabs, three rows and the status line
    constexpr int tabBarDepth = 30;   // pixels
    constexpr int rowHeight = 28;     // pixels: one control
    constexpr int labelWidth = 320;   // pixels: "Warn before opening compressed audio:" at 15 pt
    constexpr int controlWidth = 170; // pixels: the longest choice, "Spectral editor", and the arrow
    constexpr int margin = 14;        // pixels around a page and between rows
    constexpr int statusHeight = 36;  // pixels: two lines of the status text
    constexpr float fontSize = 15.0f;

    const juce::String lowQualityWarningLabel { "Warn before opening compressed audio:" };
    const juce::String playbackModeHelp { "Auto Return: when playback stops, the playhead goes back to where playback started. "
                                          "Persistent: the playhead stays where playback stopped." };

    void fillChoices (juce::ComboBox& box, const juce::StringArray& choices)
    {
        // Item IDs are the choice numbers plus one, as ComboBox reserves 0 for "nothing".
        for (int i = 0; i < choices.size(); ++i)
            box.addItem (choices[i], i + 1);
    }

    void selectChoice (juce::ComboBox& box, const juce::StringArray& choices, const juce::String& value)
    {
        box.setSelectedId (choices.indexOf (value) + 1, juce::dontSendNotification);
    }
} // namespace

//==============================================================================
/** A page of labelled rows: a label on the left, its control on the right, and an
    optional help text below the rows. */
class SettingsComponent::Page : public juce::Component
{
public:
    /** Rows whose controls take the rest of the line, after labels of this width. */
    void setWideRows (int labelPixels) { wideLabelWidth = labelPixels; }

    void addRow (const juce::String& text, juce::Component& control)
    {
        auto* label = labels.add (new juce::Label ({}, text));
        label->setFont (juce::Font (fontSize));
        label->setColour (juce::Label::textColourId, Palette::text);
        label->setJustificationType (juce::Justification::centredLeft);
        addAndMakeVisible (label);
        addAndMakeVisible (control);
        controls.add (&control);
    }

    void setHelp (const juce::String& text)
    {
        help.setText (text, juce::dontSendNotification);
        help.setFont (juce::Font (fontSize - 2.0f));
        help.setColour (juce::Label::textColourId, Palette::dimText);
        help.setJustificationType (juce::Justification::topLeft);
        addAndMakeVisible (help);
    }

    void resized() override
    {
        auto area = getLocalBounds().reduced (margin);
        for (int i = 0; i < labels.size(); ++i)
        {
            auto row = area.removeFromTop (rowHeight);
            area.removeFromTop (margin / 2);
            if (wideLabelWidth > 0)
            {
                labels[i]->setBounds (row.removeFromLeft (wideLabelWidth));
                controls[i]->setBounds (row);
                continue;
            }
            labels[i]->setBounds (row.removeFromLeft (juce::jmin (labelWidth, row.getWidth() * 2 / 3)));
            controls[i]->setBounds (row.removeFromLeft (juce::jmin (controlWidth, row.getWidth())));
        }
        help.setBounds (area);
    }

private:
    juce::OwnedArray<juce::Label> labels;
    juce::Array<juce::Component*> controls;
    juce::Label help;
    int wideLabelWidth = 0;
};

//==============================================================================
/** The separation modules' parameters: a module chooser and one choice per parameter,
    in a viewport (the vocal module has nine). Every change is stored at once. */
class SettingsComponent::ModulesPage : public juce::Component
{
public:
    ModulesPage (SettingsManager& s, std::function<void (const juce::Result&)> reportTo)
        : settings (s), report (std::move (reportTo))
    {
        using separation::Module;
        module.setComponentID ("module");
        module.setTitle ("Module");
        for (auto m : { Module::vocals, Module::allVocals, Module::fourStems, Module::drums, Module::pan })
        {
            modules.add ((int) m);
            module.addItem (separation::SeparatorSettings::getDefaultFor (m)->getSeparatorName(), modules.size());
        }
        module.onChange = [this] { rebuild(); };
        addAndMakeVisible (module);
        moduleLabel.setText ("Module:", juce::dontSendNotification);
        moduleLabel.setFont (juce::Font (fontSize));
        addAndMakeVisible (moduleLabel);
        viewport.setViewedComponent (&rows, false);
        viewport.setScrollBarsShown (true, false);
        addAndMakeVisible (viewport);
        module.setSelectedItemIndex (0, juce::sendNotificationSync);
    }

    /** Shows the stored values again (after a reset, or a change elsewhere). */
    void rebuild()
    {
        labels.clear();
        boxes.clear();
        auto stored = separation::SeparationSettings::get (settings, (separation::Module) modules[module.getSelectedItemIndex()]);
        if (stored == nullptr)
            return;
        for (const auto& info : stored->getParamCodes())
        {
            auto* param = stored->getParam (info.id);
            if (param == nullptr)
                continue;
            auto* label = labels.add (new juce::Label ({}, param->getDisplayName() + ":"));
            label->setFont (juce::Font (fontSize));
            rows.addAndMakeVisible (label);
            auto* box = boxes.add (new juce::ComboBox (info.name));
            box->setComponentID (info.name);
            box->setTitle (param->getDisplayName());
            const auto offered = stored->getPossibleValuesForParam (info.id);
            box->addItemList (offered.getAllKeys(), 1);
            box->setText (stored->getDisplayText (info.id), juce::dontSendNotification);
            box->onChange = [this, box, stored, name = info.name, offered] {
                if (stored->setValue (name, offered[box->getText()]))
                    report (settings.groupChanged (SettingsIds::separation));
            };
            rows.addAndMakeVisible (box);
        }
        resized();
    }

    void resized() override
    {
        auto area = getLocalBounds().reduced (margin);
        auto top = area.removeFromTop (rowHeight);
        moduleLabel.setBounds (top.removeFromLeft (110));
        module.setBounds (top.removeFromLeft (controlWidth));
        area.removeFromTop (margin / 2);
        viewport.setBounds (area);
        const auto width = area.getWidth() - viewport.getScrollBarThickness();
        rows.setSize (width, boxes.size() * (rowHeight + margin / 2));
        for (int i = 0; i < boxes.size(); ++i)
        {
            juce::Rectangle<int> row (0, i * (rowHeight + margin / 2), width, rowHeight);
            labels[i]->setBounds (row.removeFromLeft (width - controlWidth));
            boxes[i]->setBounds (row);
        }
    }

private:
    SettingsManager& settings;
    std::function<void (const juce::Result&)> report;
    juce::Label moduleLabel;
    juce::ComboBox module;
    juce::Array<int> modules;
    juce::Viewport viewport;
    juce::Component rows;
    juce::OwnedArray<juce::Label> labels;
    juce::OwnedArray<juce::ComboBox> boxes;
};

//==============================================================================
SettingsComponent::SettingsComponent (SettingsManager& s, juce::KeyPressMappingSet* keys)
    : settings (s),
      generalPage (std::make_unique<Page>()),
      playbackPage (std::make_unique<Page>()),
      separationPage (std::make_unique<Page>()),
      modulesPage (std::make_unique<ModulesPage> (s, [this] (const juce::Result& r) { report (r); }))
{
    remoteService.setComponentID ("remoteService");
    remoteService.setButtonText ("Use a separation service on another machine");
    remoteService.onClick = [this] {
        serviceUrl.setEnabled (remoteService.getToggleState());
        serviceToken.setEnabled (remoteService.getToggleState());
        if (! remoteService.getToggleState())
            applyService();
    };
    serviceUrl.setComponentID ("serviceUrl");
    serviceUrl.setTextToShowWhenEmpty ("https://separation.example.com/", Palette::dimText);
    serviceToken.setComponentID ("serviceToken");
    serviceToken.setPasswordCharacter ((juce::juce_wchar) 0x2022);
    serviceToken.setTextToShowWhenEmpty ("access token", Palette::dimText);
    applyServiceButton.setComponentID ("applyService");
    applyServiceButton.setButtonText ("Use this service");
    applyServiceButton.onClick = [this] { applyService(); };
    resetSeparation.setComponentID ("resetSeparation");
    resetSeparation.setButtonText ("Reset separation settings to defaults");
    resetSeparation.onClick = [this] {
        separation::SeparationSettings::resetToDefaults (settings);
        modulesPage->rebuild();
        status.setText ("Every separation module is back at its defaults.", juce::dontSendNotification);
    };
    separationPage->setWideRows (110);
    separationPage->addRow ("Service:", remoteService);
    separationPage->addRow ("Address:", serviceUrl);
    separationPage->addRow ("Token:", serviceToken);
    separationPage->addRow ({}, applyServiceButton);
    separationPage->addRow ("Modules:", resetSeparation);
    separationPage->setHelp ("Without a service of your own, Kalder Pro separates on this machine with the service it brings "
                             "along. Another machine's service must be reached over HTTPS.");

    defaultEditor.setComponentID ("defaultEditor");
    fillChoices (defaultEditor, SettingsIds::getDefaultEditorChoices());
    defaultEditor.onChange = [this] { report (settings.setDefaultEditor (defaultEditor.getText())); };

    playbackMode.setComponentID ("playbackMode");
    fillChoices (playbackMode, SettingsIds::getPlaybackModeChoices());
    playbackMode.onChange = [this] { report (settings.setPlaybackMode (playbackMode.getText())); };

    lowQualityWarning.setComponentID ("lowQualityWarning");
    lowQualityWarning.onClick = [this] { report (settings.setLowQualityWarning (lowQualityWarning.getToggleState())); };

    autoScroll.setComponentID ("autoScroll");
    autoScroll.onClick = [this] { report (settings.setAutoScroll (autoScroll.getToggleState())); };

    generalPage->addRow (SettingsIds::defaultViewLabel, defaultEditor);
    generalPage->addRow (lowQualityWarningLabel, lowQualityWarning);
    playbackPage->addRow (SettingsIds::playbackModeLabel, playbackMode);
    playbackPage->addRow (SettingsIds::autoScrollLabel, autoScroll);
    playbackPage->setHelp (playbackModeHelp);

    pages.setComponentID ("pages");
    pages.setTabBarDepth (tabBarDepth);
    pages.setOutline (0);
    pages.addTab ("General", Palette::panel, generalPage.get(), false);
    pages.addTab ("Playback", Palette::panel, playbackPage.get(), false);
    pages.addTab ("Separation", Palette::panel, separationPage.get(), false);
    pages.addTab ("Modules", Palette::panel, modulesPage.get(), false);
    if (keys != nullptr)
    {
        keysPage = std::make_unique<juce::KeyMappingEditorComponent> (*keys, true);
        keysPage->setComponentID ("keys");
        keysPage->setColours (Palette::panel.brighter (0.1f), Palette::text);
        pages.addTab ("Keys", Palette::panel, keysPage.get(), false);
    }
    addAndMakeVisible (pages);

    status.setComponentID ("status");
    status.setFont (juce::Font (fontSize - 2.0f));
    status.setColour (juce::Label::textColourId, Palette::warning);
    status.setJustificationType (juce::Justification::centredLeft);
    addAndMakeVisible (status);

    updateFromSettings();
    settings.addListener (this);
    setSize (width, height);
}

SettingsComponent::~SettingsComponent()
{
    settings.removeListener (this);
}

void SettingsComponent::settingChanged (const juce::Identifier&, const juce::Identifier&)
{
    updateFromSettings();
}

void SettingsComponent::updateFromSettings()
{
    selectChoice (defaultEditor, SettingsIds::getDefaultEditorChoices(), settings.getDefaultEditor());
    selectChoice (playbackMode, SettingsIds::getPlaybackModeChoices(), settings.getPlaybackMode());
    lowQualityWarning.setToggleState (settings.getLowQualityWarning(), juce::dontSendNotification);
    autoScroll.setToggleState (settings.getAutoScroll(), juce::dontSendNotification);
    const bool remote = separation::SeparationSettings::isRemoteServiceChosen (settings);
    remoteService.setToggleState (remote, juce::dontSendNotification);
    serviceUrl.setEnabled (remote);
    serviceToken.setEnabled (remote);
    if (remote && ! serviceUrl.hasKeyboardFocus (true))
        serviceUrl.setText (separation::SeparationSettings::getRemoteService (settings).baseUrl, false);
}

void SettingsComponent::applyService()
{
    auto result = separation::SeparationSettings::setRemoteService (settings, remoteService.getToggleState(),
                                                                    serviceUrl.getText(), serviceToken.getText());
    if (result.wasOk() && onServiceChanged != nullptr)
        result = onServiceChanged();
    status.setText (result.wasOk()
                        ? (remoteService.getToggleState() ? "Separations go to " + serviceUrl.getText().trim() + " from now on."
                                                          : juce::String ("Separations run on this machine."))
                        : result.getErrorMessage(),
                    juce::dontSendNotification);
}

void SettingsComponent::report (const juce::Result& result)
{
    status.setText (result.wasOk() ? juce::String()
                                   : "This change applies until you quit, but could not be saved: " + result.getErrorMessage(),
                    juce::dontSendNotification);
}

void SettingsComponent::resized()
{
    auto area = getLocalBounds().reduced (1); // inside the edge
    status.setBounds (area.removeFromBottom (statusHeight).reduced (margin, 0));
    pages.setBounds (area);
}

void SettingsComponent::paint (juce::Graphics& g)
{
    // A panel with an edge, so that the dialog stands apart from the main window even
    // where no window manager draws a frame.
    g.fillAll (Palette::panel);
    g.setColour (Palette::outline);
    g.drawRect (getLocalBounds());
}

} // namespace kalder
