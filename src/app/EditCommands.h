#pragma once

#include "appcore/AlertManager.h"
#include "appcore/CommandTable.h"

#include "tracks/Mixer.h"
#include "tracks/UndoManagerAccessor.h"

namespace kalder
{

/**
    The commands that edit the active track's spectrum: the "Selection" commands (Erase,
    Remove Foreground, Move to New Track, Expand, Shrink, Strengthen, Dim, Remove
    Percussive/Harmonic Elements, Deselect), Freeze Manual Edits, Flip Mask and Reset
    Spectral Edits, and Undo and Redo of the history UndoManagerAccessor chooses.

    The active track is the mixer's active track, or its master when none is active.
    The spectral commands are enabled while that track's spectrogram is ready; Undo and
    Redo while the current history can undo or redo. A command that cannot do what was
    asked (no selection, a busy track, a failed write) says why in an alert; nothing
    half-done stays behind.

    Deselect and Reset Spectral Edits ask first. Freeze Manual Edits asks one of two
    questions: with a selection, whether to send it to a new track; without, whether
    to freeze the edits into two new tracks. The track may have become busy while the
    question was open: that is checked again on the answer.

    Ownership: owned by the main component.

    Threading: message thread only.
*/
class EditCommands : private juce::ChangeListener
{
public:
    /** statusChanged is called whenever the enablement or the Undo and Redo labels may
        have changed (the command manager's commandStatusChanged()). */
    EditCommands (Mixer& mixer, AlertManager& alerts, UndoManagerAccessor& undo, std::function<void()> statusChanged);
    ~EditCommands() override;

    /** True for every command this class performs. */
    static bool handles (Command command) noexcept;

    /** Runs a command on the active track; false when it is not one of ours. */
    bool perform (Command command);

    /** Enables or disables the commands for the active track's state. */
    void updateEnablement();

    /** The track the commands act on, or null. */
    AudioTrack::Ptr getActiveTrack() const;

    /** Called when a freeze or a move has ended (tests wait for it). */
    std::function<void (const ManualSeparationJob::Outcome&)> onFreezeDone;

private:
    void changeListenerCallback (juce::ChangeBroadcaster*) override;
    void show (const EditResult& result);
    void edit (const std::function<EditResult (ManualEditManager&)>& operation);
    void askThenEdit (AlertManager::YesNoBoxType question, std::function<EditResult (AudioTrack&)> operation);
    void freeze (bool selectionOnly);
    void startFreeze (AudioTrack::Ptr track);

    Mixer& mixer;
    AlertManager& alerts;
    UndoManagerAccessor& undo;
    std::function<void()> statusChanged;

    JUCE_DECLARE_NON_COPYABLE (EditCommands)
    JUCE_DECLARE_WEAK_REFERENCEABLE (EditCommands)
};

} // namespace kalder
