#pragma once

#include "editing/CustomUndoManager.h"
#include "editing/EditResult.h"
#include "tracks/Mixer.h"

#include <juce_events/juce_events.h>

namespace kalder
{

/**
    Decides which undo history the Edit menu, the Undo and Redo commands and the edit
    history panel address: the histories of the track the editors show (the mixer's
    active track, or its master when none is active) or the application's own.

    For that track:
      1. while it is busy (a separation or a freeze works on it), the application's;
      2. in the melody editor or the spectral editor, the history of its edits (its
         melody edits are steps of its spectral edit manager's history);
      3. otherwise the application's.

    Switching the active track or its editor switches the history at once; the other
    histories keep their contents. Whenever the current history may have changed (the
    track, its editor, its busy state, its store, or the history's own contents) the
    accessor sends a change message, so menus and panels refresh.

    Ownership: the application installs its instance with ScopedInstance and owns the
    application's history through it; code without one gets a process-wide instance,
    created on first use.

    Threading: message thread only.
*/
class UndoManagerAccessor :
    public juce::ChangeBroadcaster,
    private Mixer::Listener,
    private juce::ValueTree::Listener,
    private juce::ChangeListener,
    private AudioTrack::Listener,
    private juce::AsyncUpdater
{
public:
    /** Limits of the application's own history: its actions are small tree changes. */
    static constexpr int applicationUnits = 30000, applicationMinimumTransactions = 30;

    UndoManagerAccessor();
    ~UndoManagerAccessor() override;

    static UndoManagerAccessor& getInstance();

    class ScopedInstance
    {
    public:
        explicit ScopedInstance (UndoManagerAccessor& instance);
        ~ScopedInstance();

    private:
        UndoManagerAccessor* previous;
        JUCE_DECLARE_NON_COPYABLE (ScopedInstance)
    };

    /** Follows the mixer's active and master tracks (null: follows nothing). */
    void setMixer (Mixer* mixerToFollow);

    /** The track whose histories are followed, or null. */
    AudioTrack::Ptr getTrack() const { return track; }

    /** The history the Edit menu addresses now. */
    CustomUndoManager& getCurrentUndoManager();

    CustomUndoManager& getApplicationUndoManager() noexcept { return applicationHistory; }

    /** Undoes (or redoes) one step of the current history. A track's spectral history
        goes through its edit manager, which refuses while the track cannot be edited;
        the result says what happened. */
    EditResult undo();
    EditResult redo();

private:
    void trackListChanged() override;
    void valueTreePropertyChanged (juce::ValueTree&, const juce::Identifier&) override;
    void changeListenerCallback (juce::ChangeBroadcaster*) override;
    void audioTrackSeparationStarted (AudioTrack::Ptr, const AudioTrack::RunningSeparation&) override {}
    void audioTrackSeparationProgressed (float, AudioTrack::Ptr) override;
    void handleAsyncUpdate() override;

    void updateTrackToListenTo();
    bool addressesTrackEdits();
    void follow (CustomUndoManager* history);

    CustomUndoManager applicationHistory { applicationUnits, applicationMinimumTransactions };
    Mixer* mixer = nullptr;
    AudioTrack::Ptr track;
    juce::WeakReference<CustomUndoManager> followed;

    JUCE_DECLARE_NON_COPYABLE (UndoManagerAccessor)
};

} // namespace kalder
