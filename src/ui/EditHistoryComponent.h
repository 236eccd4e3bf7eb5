#pragma once

#include "tracks/AudioTrack.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

/**
    The active track's spectral edits by name, oldest first, under a first row "Opened"
    (the track before any edit); the row of the current state is selected. Clicking a
    row undoes or redoes, one step at a time, until the track is in that state; a step
    that is refused (a busy track) or fails stops there and its warning is shown by the
    caller through onResult.

    Threading: message thread; a timer follows the track's history.
*/
class EditHistoryComponent : public juce::Component, private juce::ListBoxModel, private juce::Timer
{
public:
    static constexpr const char* originalRowText = "Opened";

    EditHistoryComponent();
    ~EditHistoryComponent() override;

    void setTrack (AudioTrack::Ptr track);

    /** Rows: the original state, then every transaction. */
    int getNumRows() override;
    juce::String getRowText (int row) const;

    /** The row of the track's current state (the number of undoable steps). */
    int getCurrentRow() const;

    /** Undoes or redoes until the track is in the state of row. */
    void goToRow (int row);

    /** Called with the first step that did not go through. */
    std::function<void (const EditResult&)> onResult;

    void resized() override;
    void paint (juce::Graphics&) override;

private:
    void paintListBoxItem (int row, juce::Graphics&, int width, int height, bool selected) override;
    void listBoxItemClicked (int row, const juce::MouseEvent&) override;
    void timerCallback() override;
    void refresh();

    AudioTrack::Ptr track;
    juce::ListBox list { "Edit History", this };
    int shownRows = -1, shownCurrent = -1;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (EditHistoryComponent)
};

} // namespace kalder
