#pragma once

#include <juce_events/juce_events.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kalder
{

/**
    The one place through which the user is told about refusals and errors, and
    asked to confirm.

    Code that detects a condition names it by an ErrorType; this class owns the
    wording, so the same condition always reads the same way. It also shows
    free-text warnings, warnings carrying a web link, and the application's
    confirmation questions.

    The manager never builds a window itself: it hands each alert to a Presenter,
    which the application implements with real windows (and tests with a recorder).
    Without a presenter, warnings are dropped and questions are answered
    Answer::dismissed.

    Only one warning is pending at a time: a warning requested before the previous
    one was presented replaces it, so a burst of warnings shows the last one. Open
    modal windows are closed before a warning is presented. Questions are queued and
    each is presented once, in the order asked.

    Ownership: one instance, owned by the application object for the whole run. The
    presenter is not owned and must outlive its registration.

    Threading: the four alert functions may be called from any thread except the
    audio thread (they allocate). A warning is handed over lock-free (the whole
    pending alert is swapped with one atomic exchange, so a title never meets
    another warning's message); questions go through a short lock. Presentation
    always happens later, on the message thread; when the message loop is not
    running (no message manager, or the loop has been told to stop), the request
    is dropped and nothing is shown. setPresenter() is message-thread only.
*/
class AlertManager : private juce::AsyncUpdater
{
public:
    /** Conditions with a fixed title and message, shown as plain warnings. */
    enum class ErrorType
    {
        FileNotFound = 0,
        SettingsFileNotFound,
        NoFileLoaded,
        TrackLocked,
        InvalidTrack,
        MergeMaster,
        MergeSourceUncommitted,
        MergeTargetUncommitted,
        MergeWithItself,
        MergeIntoDescendant,
        MergeLockedTrack,
        TargetNotGenerated,
        SeparatingEditedTrack,
        NoSelection,
        SelectionTooLarge,
        FileTooShort,
        NetworkError,
        NoPitchGuideEditorClosed,
        NoPitchGuide,
        SeparationRunning
    };

    /** The confirmation questions of the application. */
    enum class YesNoBoxType
    {
        SaveChanges = 0,     // before a project with changes is closed
        FreezeSelection,     // before a selection is moved to a new track
        FreezeEdits,         // before spectral edits are frozen into new tracks
        ApplySeparation,     // before a separation discards a track's selection
        NewVersionAvailable, // alternative answer: never check for updates
        ExportAllTracks,     // before all tracks are exported without their edits
        DiscardSelection,    // before "Deselect" clears a track's selection
        ResetSpectralEdits,  // before a track's masks and selection are reset
        ResetMelodyEdits     // before a track's pitch lines are removed
    };

    /** What the user chose. */
    enum class Answer
    {
        yes,
        no,
        alternative, // the question's third answer, when it has one
        dismissed    // closed without a choice, cancelled, or never shown
    };

    /** The title and message of a plain warning. */
    struct Warning
    {
        juce::String title, message;
    };

    /** Everything a window needs to ask one question. The labels of the yes and no
        buttons are ours to choose; an empty alternativeLabel means two answers. */
    struct Question
    {
        YesNoBoxType type;
        juce::String title, text;
        juce::String yesLabel, noLabel, alternativeLabel;
    };

    using AnswerCallback = std::function<void (Answer)>;

    /** Shows alerts for the manager; the application implements it with windows.

        Threading: every call arrives on the message thread.
    */
    class Presenter
    {
    public:
        virtual ~Presenter() = default;

        /** Closes every open modal component (menus, dialogs, earlier alerts). An open
            question closed this way must be answered Answer::dismissed. */
        virtual void dismissModals() = 0;

        /** Shows a warning window; link is empty for a plain warning. */
        virtual void showWarning (const juce::String& title, const juce::String& message, const juce::String& link) = 0;

        /** Shows a question and calls answer exactly once, on the message thread, when
            the user has chosen or the question was closed. */
        virtual void askQuestion (const Question& question, AnswerCallback answer) = 0;
    };

    AlertManager();
    ~AlertManager() override;

    /** Sets the presenter that shows the alerts, or nullptr for none. */
    void setPresenter (Presenter* newPresenter);

    //==============================================================================
    /** Shows the fixed title and message of an error; a value outside the table shows nothing. */
    void showPopupErrorMessage (ErrorType error);

    /** Shows a plain warning with free text. */
    void displayWarningPopup (const juce::String& title, const juce::String& message);

    /** Shows a warning whose content holds the message and a clickable link. */
    void displayWarningWithLink (const juce::String& title, const juce::String& message, const juce::String& link);

    /** Asks a question; answer is called later on the message thread with the user's
        choice (Answer::dismissed for a value outside the enumeration). It is never
        called when the message loop is not running, nor when the manager is destroyed
        before the question was presented. */
    void showYesNoBox (YesNoBoxType type, AnswerCallback answer);

    //==============================================================================
    /** The title and message of an error, or nothing for a value outside the table. */
    static std::optional<Warning> getWarningFor (ErrorType error);

    /** The title, text and answers of a question, or nothing for a value outside
        the enumeration. */
    static std::optional<Question> getQuestionFor (YesNoBoxType type);

private:
    struct PendingWarning
    {
        juce::String title, message, link;
    };

    struct PendingQuestion
    {
        YesNoBoxType type;
        AnswerCallback answer;
    };

    static bool isMessageLoopRunning() noexcept;
    void setPendingWarning (std::unique_ptr<PendingWarning> warning);
    void handleAsyncUpdate() override;

    // Owned by whoever holds it: the writer that swaps a newer one in deletes the
    // older, and the message thread takes it out with an exchange for nullptr.
    std::atomic<PendingWarning*> pendingWarning { nullptr };

    juce::CriticalSection questionLock;
    std::vector<PendingQuestion> pendingQuestions;

    Presenter* presenter = nullptr;

    JUCE_DECLARE_NON_COPYABLE (AlertManager)
};

} // namespace kalder
