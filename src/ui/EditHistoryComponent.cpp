#include "EditHistoryComponent.h"

#include "editing/ManualEditManager.h"

namespace kalder
{

namespace
{
    constexpr int refreshHz = 10;
    constexpr int rowHeight = 22;
    const juce::Colour backgroundColour { 0xff202124 }, textColour { 0xffe0e0e0 }, futureColour { 0xff808080 },
        currentColour { 0xff3d5a80 };
} // namespace

EditHistoryComponent::EditHistoryComponent()
{
    list.setRowHeight (rowHeight);
    list.setTitle ("Edit history");
    list.setColour (juce::ListBox::backgroundColourId, backgroundColour);
    addAndMakeVisible (list);
    startTimerHz (refreshHz);
}

EditHistoryComponent::~EditHistoryComponent()
{
    stopTimer();
}

void EditHistoryComponent::setTrack (AudioTrack::Ptr newTrack)
{
    if (newTrack == track)
        return;
    track = std::move (newTrack);
    refresh();
}

int EditHistoryComponent::getNumRows()
{
    return track != nullptr ? track->getManualEditManager().getUndoManager().getNumTransactions() + 1 : 0;
}

juce::String EditHistoryComponent::getRowText (int row) const
{
    if (track == nullptr || row < 0)
        return {};
    if (row == 0)
        return originalRowText;
    const auto* set = track->getManualEditManager().getUndoManager().getSet (row - 1);
    return set != nullptr ? set->name : juce::String();
}

int EditHistoryComponent::getCurrentRow() const
{
    return track != nullptr ? track->getManualEditManager().getUndoManager().getNumUndos() : -1;
}

void EditHistoryComponent::goToRow (int row)
{
    if (track == nullptr)
        return;
    auto& edits = track->getManualEditManager();
    row = juce::jlimit (0, edits.getUndoManager().getNumTransactions(), row);
    while (getCurrentRow() != row)
    {
        const auto result = getCurrentRow() > row ? edits.undo() : edits.redo();
        if (! result.wasChanged())
        {
            if (onResult)
                onResult (result);
            break;
        }
    }
    refresh();
}

void EditHistoryComponent::resized()
{
    list.setBounds (getLocalBounds());
}

void EditHistoryComponent::paint (juce::Graphics& g)
{
    g.fillAll (backgroundColour);
}

void EditHistoryComponent::paintListBoxItem (int row, juce::Graphics& g, int width, int height, bool)
{
    const auto current = row == getCurrentRow();
    if (current)
        g.fillAll (currentColour);
    // Steps after the current state are the ones a redo would bring back.
    g.setColour (row > getCurrentRow() ? futureColour : textColour);
    g.setFont ((float) height * 0.6f);
    g.drawText (getRowText (row), 8, 0, width - 12, height, juce::Justification::centredLeft, true);
}

void EditHistoryComponent::listBoxItemClicked (int row, const juce::MouseEvent&)
{
    goToRow (row);
}

void EditHistoryComponent::timerCallback()
{
    if (getNumRows() != shownRows || getCurrentRow() != shownCurrent)
        refresh();
}

void EditHistoryComponent::refresh()
{
    shownRows = getNumRows();
    shownCurrent = getCurrentRow();
    list.updateContent();
    list.repaint();
    if (shownCurrent >= 0)
        list.scrollToEnsureRowIsOnscreen (shownCurrent);
}

} // namespace kalder
