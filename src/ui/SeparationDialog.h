#pragma once

#include "separation/SeparatorSettings.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

/**
    The separation dialog: which track, which part of it (the whole track, the loop,
    the time span of the selection), the module's parameters and, for vocals, which
    kind of vocal separation. "Separate" hands the choice over and closes; "Cancel",
    Escape and the window's close button close with nothing started.

    The parameters start from the stored settings and edit a copy: the choice made
    here is also stored as the module's settings when the separation starts, so the
    next one starts from it.

    Controls carry component IDs: "track", "range", "allVocals", "leadVocal",
    "automatic", "guided", one combo box per parameter named by its internal name,
    "start" and "cancel".

    Threading: message thread.
*/
class SeparationDialog : public juce::Component
{
public:
    enum class Range
    {
        wholeTrack,
        loop,
        selection
    };

    struct Choice
    {
        separation::Module module = separation::Module::vocals;
        separation::SeparatorSettings::Ptr settings;
        int trackIndex = 0;
        Range range = Range::wholeTrack;
    };

    static constexpr const char* heading = "This will start a separation on the chosen track";
    static constexpr const char* vocalQuestion = "Which type of vocal separation would you like to apply?";
    static constexpr const char* allVocalsText = "Separate all vocals from the song into one Vocal track.";
    static constexpr const char* leadVocalText = "Separate the lead vocal of the song (leaving backing vocals with the music).";
    static constexpr const char* automaticText =
        "Apply a fully automatic vocal separation and download the separated tracks directly.";
    static constexpr const char* guidedText =
        "Manually select which vocal melody lines should be separated. This is done using our \"Melody\" editor. Once the "
        "melody lines are drawn, please press the \"Vocals\" button again.";
    static constexpr const char* disabledForGuided = "Disabled for guided separations";
    static constexpr const char* noMelodyNote =
        "This track has no melody lines yet: a guided separation takes the voice that follows them.";
    static constexpr const char* trackLoopText = "Track the melody over the loop";
    static constexpr const char* trackWholeText = "Track the melody over the whole track";

    /** trackNames: the tracks in list order; loopAvailable / selectionAvailable offer those ranges. */
    SeparationDialog (separation::Module module, separation::SeparatorSettings::Ptr settings, const juce::StringArray& trackNames,
                      int activeTrack, bool loopAvailable, bool selectionAvailable);
    ~SeparationDialog() override;

    std::function<void (const Choice&)> onStart;

    /** Whether the track at an index has melody lines (a guided separation needs them);
        without the answer every track is taken to have them. */
    std::function<bool (int trackIndex)> hasMelodyLines;
    /** Tracks the melody of the track at an index over the loop (or the whole track):
        offered beside the note when guided mode meets a track without lines. The
        dialog asks hasMelodyLines again when refreshMelodyNote() is called. */
    std::function<void (int trackIndex)> onTrackMelody;
    void refreshMelodyNote();

    /** The choice as the controls stand. */
    Choice getChoice() const;

    void resized() override;
    void paint (juce::Graphics&) override;
    bool keyPressed (const juce::KeyPress&) override;

private:
    void buildParameters();
    void updateVocalMode();
    void close (int result);
    bool loopOffered = false;

    const separation::Module requestedModule;
    separation::SeparatorSettings::Ptr vocalSettings, allVocalSettings, settings;
    juce::Label headingLabel, questionLabel;
    juce::Rectangle<int> iconArea; // the module's icon, left of the heading
    juce::ComboBox trackBox, rangeBox;
    juce::ToggleButton allVocals { allVocalsText }, leadVocal { leadVocalText }, automatic { automaticText },
        guided { guidedText };
    juce::OwnedArray<juce::Label> paramLabels;
    juce::OwnedArray<juce::ComboBox> paramBoxes;
    juce::Array<int> rangeIds;
    juce::TextButton startButton { "Separate" }, cancelButton { "Cancel" };
    juce::Label melodyNote;
    juce::TextButton trackMelodyButton;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SeparationDialog)
};

} // namespace kalder
