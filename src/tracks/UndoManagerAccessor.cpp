#include "UndoManagerAccessor.h"

#include "editing/ManualEditManager.h"
#include "tracks/TrackIds.h"

namespace kalder
{

namespace
{
    UndoManagerAccessor* installed = nullptr;
} // namespace

UndoManagerAccessor::UndoManagerAccessor() = default;

UndoManagerAccessor::~UndoManagerAccessor()
{
    jassert (installed != this);
    setMixer (nullptr);
    follow (nullptr);
}

UndoManagerAccessor& UndoManagerAccessor::getInstance()
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (installed != nullptr)
        return *installed;
    static UndoManagerAccessor fallback;
    return fallback;
}

UndoManagerAccessor::ScopedInstance::ScopedInstance (UndoManagerAccessor& instance) : previous (installed)
{
    JUCE_ASSERT_MESSAGE_THREAD
    installed = &instance;
}

UndoManagerAccessor::ScopedInstance::~ScopedInstance()
{
    JUCE_ASSERT_MESSAGE_THREAD
    installed = previous;
}

void UndoManagerAccessor::setMixer (Mixer* mixerToFollow)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (mixer == mixerToFollow)
        return;
    if (mixer != nullptr)
        mixer->removeListener (this);
    mixer = mixerToFollow;
    if (mixer != nullptr)
        mixer->addListener (this);
    updateTrackToListenTo();
}

void UndoManagerAccessor::updateTrackToListenTo()
{
    JUCE_ASSERT_MESSAGE_THREAD
    AudioTrack::Ptr next;
    if (mixer != nullptr)
    {
        next = mixer->getActiveTrack();
        if (next == nullptr)
            next = mixer->getMasterTrack();
    }
    if (next != track)
    {
        if (track != nullptr)
        {
            track->getTree().removeListener (this);
            track->removeListener (this);
        }
        track = next;
        if (track != nullptr)
        {
            track->getTree().addListener (this);
            track->addListener (this);
        }
    }
    getCurrentUndoManager(); // follows the history it chooses
    sendChangeMessage();
}

bool UndoManagerAccessor::addressesTrackEdits()
{
    // Both editors' edits are steps of the one history of the track's spectral edit
    // manager, so undo goes back in the order the user made them.
    return track != nullptr && ! track->isBusy()
           && (track->getEditor() == Editor::Type::spectral || track->getEditor() == Editor::Type::melody);
}

CustomUndoManager& UndoManagerAccessor::getCurrentUndoManager()
{
    JUCE_ASSERT_MESSAGE_THREAD
    auto* current = addressesTrackEdits() ? &track->getManualEditManager().getUndoManager() : &applicationHistory;
    if (current != followed.get())
        follow (current);
    return *current;
}

void UndoManagerAccessor::follow (CustomUndoManager* history)
{
    if (auto* old = followed.get())
        old->removeChangeListener (this);
    followed = history;
    if (history != nullptr)
        history->addChangeListener (this);
}

EditResult UndoManagerAccessor::undo()
{
    auto& history = getCurrentUndoManager();
    if (&history != &applicationHistory)
        return track->getManualEditManager().undo();
    return history.undo() ? EditResult::changed() : EditResult::unchanged();
}

EditResult UndoManagerAccessor::redo()
{
    auto& history = getCurrentUndoManager();
    if (&history != &applicationHistory)
        return track->getManualEditManager().redo();
    return history.redo() ? EditResult::changed() : EditResult::unchanged();
}

void UndoManagerAccessor::trackListChanged()
{
    updateTrackToListenTo();
}

void UndoManagerAccessor::valueTreePropertyChanged (juce::ValueTree&, const juce::Identifier& property)
{
    // The editor shown, or a new store (and with it a new history).
    if (property == TrackIds::editor || property == TrackIds::asigProgress)
        triggerAsyncUpdate();
}

void UndoManagerAccessor::audioTrackSeparationProgressed (float, AudioTrack::Ptr)
{
    triggerAsyncUpdate(); // busy or not any more
}

void UndoManagerAccessor::changeListenerCallback (juce::ChangeBroadcaster*)
{
    sendChangeMessage();
}

void UndoManagerAccessor::handleAsyncUpdate()
{
    updateTrackToListenTo();
}

} // namespace kalder
