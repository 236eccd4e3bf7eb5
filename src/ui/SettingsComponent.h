#pragma once

#include "appcore/SettingsManager.h"

#include <juce_gui_basics/juce_gui_basics.h>
#include <juce_gui_extra/juce_gui_extra.h>

namespace kalder
{

/**
    The settings window's content: one page per group of settings, each control
    writing its setting through the SettingsManager, which stores it at once.

    Pages and controls (component IDs in brackets, for tests and accessibility):
      "General":  "Default view:" [defaultEditor], the warning before opening a
                  compressed file [lowQualityWarning];
      "Playback": "Playback mode: " [playbackMode], "Automatic scrolling during
                  playback:" [autoScroll];
      "Separation": the service [remoteService, serviceUrl, serviceToken,
                  applyService] and [resetSeparation];
      "Modules":  a module [module] and a choice per parameter, by internal name;
      "Keys":     every command's keys, by category [keys].
    The pages sit in a tabbed component [pages]. A setting that could not be written
    to the settings file stays in force for this run, and the window says so
    [status].

    The controls follow the settings: a change made elsewhere (a menu command, a
    question's "Don't show again") shows here at once.

    Ownership: owned by the settings window; the SettingsManager outlives it.

    Threading: message thread only.
*/
class SettingsComponent : public juce::Component, private SettingsManager::Listener
{
public:
    /** With keys, a "Keys" page [keys] edits the commands' key mappings (JUCE's editor:
        add, change or remove any command's keys, or reset them all). */
    explicit SettingsComponent (SettingsManager& settings, juce::KeyPressMappingSet* keys = nullptr);
    ~SettingsComponent() override;

    /** Told when the user chose another separation service (the settings already hold
        it); the result is shown. */
    std::function<juce::Result()> onServiceChanged;

    /** The status line's text: empty while every change was stored. */
    juce::String getStatusText() const { return status.getText(); }

    void resized() override;
    void paint (juce::Graphics&) override;

private:
    class Page;
    class ModulesPage;

    void settingChanged (const juce::Identifier& group, const juce::Identifier& key) override;
    void updateFromSettings();
    void report (const juce::Result& result);
    void applyService();

    SettingsManager& settings;

    juce::ComboBox defaultEditor, playbackMode;
    juce::ToggleButton lowQualityWarning, autoScroll;
    juce::Label status;

    juce::ToggleButton remoteService;
    juce::TextEditor serviceUrl, serviceToken;
    juce::TextButton applyServiceButton, resetSeparation;

    std::unique_ptr<Page> generalPage, playbackPage, separationPage;
    std::unique_ptr<ModulesPage> modulesPage;
    std::unique_ptr<juce::KeyMappingEditorComponent> keysPage;
    juce::TabbedComponent pages { juce::TabbedButtonBar::TabsAtTop };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SettingsComponent)
};

} // namespace kalder
