#pragma once

#include <juce_core/juce_core.h>

/**
    The names and fixed values of the application settings, shared by the settings
    file, the settings pages and the code that acts on a setting.

    Choice values are stored in "settings.json" as their text, so a stored value
    compares equal to the constant of its choice. The texts are user-visible and
    stored in users' files: they never change.
*/
namespace kalder::SettingsIds
{

//==============================================================================
// Keys of "settings.json": top level
inline const juce::Identifier version { "Version" };
inline const juce::Identifier tutorialSkip { "tutorialSkip" };
inline const juce::Identifier lowQualityWarning { "lowQualityWarning" };
inline const juce::Identifier spectrogram { "spectrogram" };
inline const juce::Identifier pitchEditor { "pitchEditor" };
inline const juce::Identifier separation { "separation" };
inline const juce::Identifier editor { "editor" };
inline const juce::Identifier transport { "transport" };
inline const juce::Identifier windowState { "windowState" };
/** The user's changes to the commands' keys: the key-mapping set's XML of what differs
    from the defaults, empty for none. */
inline const juce::Identifier keyMappings { "keyMappings" };
inline const juce::Identifier recentProjects { "recentProjects" };

// "editor" and "transport"
inline const juce::Identifier defaultEditor { "defaultEditor" };
inline const juce::Identifier playbackMode { "playbackMode" };
inline const juce::Identifier autoScroll { "autoScroll" };

// "spectrogram" and "pitchEditor" (the melody editor has no dynamic range)
inline const juce::Identifier startHue { "startHue" };
inline const juce::Identifier endHue { "endHue" };
inline const juce::Identifier brightness { "brightness" };
inline const juce::Identifier contrast { "contrast" };
inline const juce::Identifier dynamicRange { "dynamicRange" };

// "separation": one object per separation module
inline const juce::Identifier vocalModule { "vocal" };
inline const juce::Identifier panModule { "pan" };
inline const juce::Identifier drumModule { "drum" };
inline const juce::Identifier bassModule { "bass" };
inline const juce::Identifier allVocalsModule { "allVocals" };
inline const juce::Identifier fourStemModule { "fourStem" };

//==============================================================================
// "defaultEditor": the view shown for a newly opened track, in choice order
inline const juce::String mixerView { "Mixer" };
inline const juce::String melodyEditorView { "Melody editor" };
inline const juce::String spectralEditorView { "Spectral editor" };

// "playbackMode", in choice order
inline const juce::String autoReturnPlayback { "Auto Return" };
inline const juce::String persistentPlayback { "Persistent" };

/** The values of "defaultEditor"; a value's index is its choice number. */
inline juce::StringArray getDefaultEditorChoices()
{
    return { mixerView, melodyEditorView, spectralEditorView };
}

/** The values of "playbackMode"; a value's index is its choice number. */
inline juce::StringArray getPlaybackModeChoices()
{
    return { autoReturnPlayback, persistentPlayback };
}

//==============================================================================
// Texts of the settings pages
inline const juce::String defaultViewLabel { "Default view:" };
inline const juce::String playbackModeLabel { "Playback mode: " };
inline const juce::String autoScrollLabel { "Automatic scrolling during playback:" };
inline const juce::String resetToFactoryDefaultsText { "Reset to factory defaults" };

/** Shown before a compressed audio file is loaded, while "lowQualityWarning" is on. */
inline const juce::String lowQualityWarningText {
    "You are about to load a compressed audio file. To achieve better separation results we recommend using lossless "
    "audio formats such as WAV, AIFF or FLAC."
};

} // namespace kalder::SettingsIds
