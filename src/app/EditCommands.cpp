#include "EditCommands.h"

#include "appcore/CommandIDs.h"
#include "editing/ManualEditManager.h"

namespace kalder
{

namespace
{
    constexpr Command spectralCommands[] = {
        Command::deselect,
        Command::expand,
        Command::shrink,
        Command::strengthen,
        Command::dim,
        Command::removePercussiveElements,
        Command::removeHarmonicElements,
        Command::moveToNewTrack,
        Command::erase,
        Command::removeForeground,
        Command::freezeManualEdits,
        Command::flipMask,
        Command::resetSpectralEdits,
    };

    bool hasSelection (const AudioTrack& track)
    {
        auto* store = track.getAsig();
        return store != nullptr && track.isStoreReady() && store->hasSelection();
    }
} // namespace

EditCommands::EditCommands (Mixer& m, AlertManager& a, UndoManagerAccessor& u, std::function<void()> changed)
    : mixer (m), alerts (a), undo (u), statusChanged (std::move (changed))
{
    undo.addChangeListener (this);
    updateEnablement();
}

EditCommands::~EditCommands()
{
    undo.removeChangeListener (this);
}

bool EditCommands::handles (Command command) noexcept
{
    if (command == Command::undo || command == Command::redo)
        return true;
    for (auto c : spectralCommands)
        if (c == command)
            return true;
    return false;
}

AudioTrack::Ptr EditCommands::getActiveTrack() const
{
    auto track = mixer.getActiveTrack();
    return track != nullptr ? track : mixer.getMasterTrack();
}

void EditCommands::updateEnablement()
{
    JUCE_ASSERT_MESSAGE_THREAD
    auto& registry = CommandIDs::getInstance();
    const auto track = getActiveTrack();
    const bool ready = track != nullptr && track->isStoreReady();
    for (auto command : spectralCommands)
        registry.enableCommand (command, ready);
    // Whether they can act is the current history's to say (the command's info).
    registry.enableCommand (Command::undo, true);
    registry.enableCommand (Command::redo, true);
    if (statusChanged)
        statusChanged();
}

void EditCommands::changeListenerCallback (juce::ChangeBroadcaster*)
{
    updateEnablement();
}

void EditCommands::show (const EditResult& result)
{
    result.showIn (alerts);
}

void EditCommands::edit (const std::function<EditResult (ManualEditManager&)>& operation)
{
    if (auto track = getActiveTrack())
        show (operation (track->getManualEditManager()));
}

void EditCommands::askThenEdit (AlertManager::YesNoBoxType question, std::function<EditResult (AudioTrack&)> operation)
{
    auto track = getActiveTrack();
    if (track == nullptr)
        return;
    juce::WeakReference<EditCommands> self (this);
    alerts.showYesNoBox (question, [self, track, operation = std::move (operation)] (AlertManager::Answer answer) {
        if (self == nullptr || answer != AlertManager::Answer::yes)
            return;
        self->show (operation (*track));
    });
}

bool EditCommands::perform (Command command)
{
    JUCE_ASSERT_MESSAGE_THREAD
    switch (command)
    {
        case Command::undo:
            show (undo.undo());
            return true;
        case Command::redo:
            show (undo.redo());
            return true;
        case Command::erase:
            edit ([] (ManualEditManager& m) { return m.setConstant (0.0f); });
            return true;
        case Command::removeForeground:
            edit ([] (ManualEditManager& m) { return m.spotRemover(); });
            return true;
        case Command::expand:
            edit ([] (ManualEditManager& m) {
                return m.growSelection (ManualEditManager::commandMorphBins, ManualEditManager::commandMorphFrames);
            });
            return true;
        case Command::shrink:
            edit ([] (ManualEditManager& m) {
                return m.shrinkSelection (ManualEditManager::commandMorphBins, ManualEditManager::commandMorphFrames);
            });
            return true;
        case Command::strengthen:
            edit ([] (ManualEditManager& m) { return m.multiplySelection (ManualEditManager::strengthenFactor); });
            return true;
        case Command::dim:
            edit ([] (ManualEditManager& m) { return m.multiplySelection (ManualEditManager::dimFactor); });
            return true;
        case Command::removePercussiveElements:
            edit ([] (ManualEditManager& m) { return m.removePercussiveHarmonic (false); });
            return true;
        case Command::removeHarmonicElements:
            edit ([] (ManualEditManager& m) { return m.removePercussiveHarmonic (true); });
            return true;
        case Command::deselect:
            // Nothing selected: nothing to discard and nothing to ask.
            if (auto track = getActiveTrack(); track != nullptr && hasSelection (*track))
                askThenEdit (AlertManager::YesNoBoxType::DiscardSelection,
                             [] (AudioTrack& t) { return t.getManualEditManager().clearSelection (true); });
            return true;
        case Command::resetSpectralEdits:
            askThenEdit (AlertManager::YesNoBoxType::ResetSpectralEdits, [] (AudioTrack& t) { return t.resetManualEdits(); });
            return true;
        case Command::flipMask:
            if (auto track = getActiveTrack(); track != nullptr && track->getAsig() != nullptr)
                track->flip (! track->getAsig()->isFlipped());
            return true;
        case Command::moveToNewTrack:
            freeze (true);
            return true;
        case Command::freezeManualEdits:
            freeze (false);
            return true;
        default:
            return false;
    }
}

void EditCommands::freeze (bool selectionOnly)
{
    auto track = getActiveTrack();
    if (track == nullptr)
        return;
    const bool selected = hasSelection (*track);
    if (selectionOnly && ! selected)
    {
        alerts.showPopupErrorMessage (AlertManager::ErrorType::NoSelection);
        return;
    }
    juce::WeakReference<EditCommands> self (this);
    alerts.showYesNoBox (selected ? AlertManager::YesNoBoxType::FreezeSelection : AlertManager::YesNoBoxType::FreezeEdits,
                         [self, track] (AlertManager::Answer answer) {
                             if (self != nullptr && answer == AlertManager::Answer::yes)
                                 self->startFreeze (track);
                         });
}

void EditCommands::startFreeze (AudioTrack::Ptr track)
{
    // The question was open for a while: a separation may have started meanwhile.
    if (track->isBusy() || track->isLocked())
    {
        alerts.showPopupErrorMessage (AlertManager::ErrorType::TrackLocked);
        return;
    }
    ManualSeparationJob::Options options;
    juce::WeakReference<EditCommands> self (this);
    options.onDone = [self] (const ManualSeparationJob::Outcome& outcome) {
        if (self == nullptr)
            return;
        if (outcome.result.failed() && outcome.result.getErrorMessage() != "Cancelled")
            self->alerts.displayWarningPopup ("Freeze failed", "The track " + outcome.track->getName()
                                                                   + " could not be frozen: " + outcome.result.getErrorMessage());
        if (self->onFreezeDone)
            self->onFreezeDone (outcome);
    };
    switch (mixer.freezeTrack (track, std::move (options)))
    {
        case ManualSeparationJob::Refusal::none:
            break;
        case ManualSeparationJob::Refusal::trackLocked:
            alerts.showPopupErrorMessage (AlertManager::ErrorType::TrackLocked);
            break;
        case ManualSeparationJob::Refusal::nothingToFreeze:
            alerts.displayWarningPopup (ManualSeparationJob::nothingToFreezeTitle, ManualSeparationJob::nothingToFreezeMessage);
            break;
    }
}

} // namespace kalder
