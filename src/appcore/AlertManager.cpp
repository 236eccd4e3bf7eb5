#include "AlertManager.h"

namespace kalder
{

namespace
{
    struct ErrorText
    {
        AlertManager::ErrorType type;
        const char* title;
        const char* message;
    };

    // The wording is part of the product: users and support quote it, so it is kept
    // exactly as first published, spelling included.
    constexpr ErrorText errorTexts[] = {
        { AlertManager::ErrorType::FileNotFound, "File not found.", "The specified file could not be found." },
        { AlertManager::ErrorType::SettingsFileNotFound, "Settings file not loaded.", "Settings file could not be found." },
        { AlertManager::ErrorType::NoFileLoaded, "No file loaded.", "Please load a file and try again." },
        { AlertManager::ErrorType::TrackLocked, "Operation not permitted.", "The selected track is locked." },
        { AlertManager::ErrorType::InvalidTrack, "Invalid track.",
          "The selected track can't be separated because of an unexpected error." },
        { AlertManager::ErrorType::MergeMaster, "Merging Master into another track is not permitted",
          "Try merging a different track" },
        { AlertManager::ErrorType::MergeSourceUncommitted, "Uncommitted changes",
          "There are uncommitted changes on the mask of the track to be merged. Please commit the changes to a new track "
          "before merging." },
        { AlertManager::ErrorType::MergeTargetUncommitted, "Uncommitted changes",
          "There are uncommitted changes on the mask of the track that is being merged into. Please commit the changes to "
          "a new track before merging." },
        { AlertManager::ErrorType::MergeWithItself, "Operation not permitted",
          "It is not possible to merge a track with itself" },
        { AlertManager::ErrorType::MergeIntoDescendant, "Operation not permitted",
          "It is not possible to merge a track into one of it's decendants" },
        { AlertManager::ErrorType::MergeLockedTrack, "Operation not permitted",
          "It is not possible to merge a locked track with another track" },
        { AlertManager::ErrorType::TargetNotGenerated, "The target track is not fully generated yet",
          "Please wait until the target track is ready" },
        { AlertManager::ErrorType::SeparatingEditedTrack, "Track edits",
          "The track that is being separated has been edited. Please reset those changes or freeze your track before "
          "applying a separation." },
        { AlertManager::ErrorType::NoSelection, "No selection", "Please make a selection on the spectrogram first." },
        { AlertManager::ErrorType::SelectionTooLarge, "Selected area too large",
          "The selected area is too large to perform a Remove Foreground operation. Please select a smaller area on the "
          "spectrogram." },
        { AlertManager::ErrorType::FileTooShort, "File too short",
          "This audio file is too short to perform a Remove Foreground operation." },
        { AlertManager::ErrorType::NetworkError, "Network error", "An unexpected network error occurred. Please try again." },
        { AlertManager::ErrorType::NoPitchGuideEditorClosed, "No pitch guide",
          "A guided vocal separation was requested but there is no pitch guide for the selected track. Please open the "
          "track's pitch editor and draw some pitch lines before running a guided vocal separation." },
        { AlertManager::ErrorType::NoPitchGuide, "No pitch guide",
          "A guided vocal separation was requested but there is no pitch guide for the selected track. Please draw some "
          "pitch lines before running a guided vocal separation." },
        { AlertManager::ErrorType::SeparationRunning, "Separation Already Running",
          "A separation is already running, please wait for it to finish or cancel it before starting a new one." },
    };

    struct QuestionText
    {
        AlertManager::YesNoBoxType type;
        const char* title;
        const char* text;
        const char* yesLabel;
        const char* noLabel;
        const char* alternativeLabel;
    };

    constexpr QuestionText questionTexts[] = {
        { AlertManager::YesNoBoxType::SaveChanges, "Save changes?",
          "Your project may have unsaved changes, would you like to save them?", "Save", "Don't Save", "" },
        { AlertManager::YesNoBoxType::FreezeSelection, "Freeze Track?",
          "This will send the current selection to a new track. Are you sure you want to proceed?", "Yes", "No", "" },
        { AlertManager::YesNoBoxType::FreezeEdits, "Freeze Track?",
          "This will freeze the current changes made to the track and generate two new tracks. Are you sure you want to "
          "proceed?",
          "Yes", "No", "" },
        { AlertManager::YesNoBoxType::ApplySeparation, "Apply Separation?",
          "The selected track has a selection. It will be lost if a separation is applied. Are you sure you want to "
          "proceed?",
          "Yes", "No", "" },
        { AlertManager::YesNoBoxType::NewVersionAvailable, "New Version Available",
          "A new version of the software is available, would you like to download it?", "Download", "Not Now",
          "Never check for updates" },
        // Exporting ignores the edits either way, so the affirmative answer says so.
        { AlertManager::YesNoBoxType::ExportAllTracks, "A track is being edited",
          "When exporting all tracks, any spectral or melody edits are ignored. If you wish to export your edits please "
          "bounce the mixer output instead.",
          "Export without edits", "Cancel", "" },
        { AlertManager::YesNoBoxType::DiscardSelection, "Deselect?",
          "This will discard the current track's selection and revert it back to its original state. Are you sure you "
          "want to proceed?",
          "Yes", "No", "" },
        { AlertManager::YesNoBoxType::ResetSpectralEdits, "Reset Spectral Edits?",
          "This will discard the current track's edits and revert it back to its original state. Are your sure you want "
          "to proceed?",
          "Yes", "No", "" },
        { AlertManager::YesNoBoxType::ResetMelodyEdits, "Reset Melody Edits?",
          "This will discard the current track's melody edits and revert it back to its original state. Are your sure "
          "you want to proceed?",
          "Yes", "No", "" },
    };
} // namespace

//==============================================================================
AlertManager::AlertManager() = default;

AlertManager::~AlertManager()
{
    cancelPendingUpdate();
    delete pendingWarning.exchange (nullptr);
}

void AlertManager::setPresenter (Presenter* newPresenter)
{
    JUCE_ASSERT_MESSAGE_THREAD
    presenter = newPresenter;
}

std::optional<AlertManager::Warning> AlertManager::getWarningFor (ErrorType error)
{
    for (const auto& entry : errorTexts)
        if (entry.type == error)
            return Warning { entry.title, entry.message };

    return std::nullopt;
}

std::optional<AlertManager::Question> AlertManager::getQuestionFor (YesNoBoxType type)
{
    for (const auto& entry : questionTexts)
        if (entry.type == type)
            return Question { type, entry.title, entry.text, entry.yesLabel, entry.noLabel, entry.alternativeLabel };

    return std::nullopt;
}

//==============================================================================
void AlertManager::showPopupErrorMessage (ErrorType error)
{
    if (const auto warning = getWarningFor (error))
        displayWarningPopup (warning->title, warning->message);
}

void AlertManager::displayWarningPopup (const juce::String& title, const juce::String& message)
{
    setPendingWarning (std::make_unique<PendingWarning> (PendingWarning { title, message, {} }));
}

void AlertManager::displayWarningWithLink (const juce::String& title, const juce::String& message, const juce::String& link)
{
    setPendingWarning (std::make_unique<PendingWarning> (PendingWarning { title, message, link }));
}

void AlertManager::showYesNoBox (YesNoBoxType type, AnswerCallback answer)
{
    if (! isMessageLoopRunning())
        return;

    {
        const juce::ScopedLock sl (questionLock);
        pendingQuestions.push_back ({ type, std::move (answer) });
    }

    triggerAsyncUpdate();
}

//==============================================================================
bool AlertManager::isMessageLoopRunning() noexcept
{
    // Never create the message manager here: a background thread asking after
    // shutdown must not bring it back.
    const auto* mm = juce::MessageManager::getInstanceWithoutCreating();
    return mm != nullptr && ! mm->hasStopMessageBeenSent();
}

void AlertManager::setPendingWarning (std::unique_ptr<PendingWarning> warning)
{
    if (! isMessageLoopRunning())
        return;

    delete pendingWarning.exchange (warning.release());
    triggerAsyncUpdate();
}

void AlertManager::handleAsyncUpdate()
{
    const std::unique_ptr<PendingWarning> warning (pendingWarning.exchange (nullptr));

    std::vector<PendingQuestion> questions;
    {
        const juce::ScopedLock sl (questionLock);
        questions.swap (pendingQuestions);
    }

    if (warning != nullptr && presenter != nullptr)
    {
        // Closing open menus and dialogs touches components, so it happens here on
        // the message thread rather than on the thread that asked for the warning.
        presenter->dismissModals();
        presenter->showWarning (warning->title, warning->message, warning->link);
    }

    for (auto& question : questions)
    {
        const auto text = getQuestionFor (question.type);

        if (presenter != nullptr && text.has_value())
            presenter->askQuestion (*text, std::move (question.answer));
        else if (question.answer != nullptr)
            question.answer (Answer::dismissed);
    }
}

} // namespace kalder
