#pragma once

#include "appcore/AlertManager.h"

#include <optional>

namespace kalder
{

/**
    What an edit did, for the caller to show: the data changed (one undo step was
    recorded), nothing was to be done (no step), or the edit was refused or failed and
    nothing changed (the reason to show the user).

    The edit managers never show alerts themselves: the command that called them passes
    the result to showIn() (or reads the title and message for another channel, such as
    the command line).
*/
class EditResult
{
public:
    enum class Outcome
    {
        changed,   // the store changed; one undo step was recorded
        unchanged, // nothing to do: no store write, no undo step
        refused,   // not allowed now or bad input: nothing changed
        failed     // the store or the history could not be written: nothing changed
    };

    static EditResult changed() { return EditResult (Outcome::changed); }
    static EditResult unchanged() { return EditResult (Outcome::unchanged); }

    /** A refusal with one of the application's fixed warnings. */
    static EditResult refused (AlertManager::ErrorType error)
    {
        EditResult r (Outcome::refused);
        r.error = error;
        return r;
    }

    /** A refusal or failure with a warning of its own. */
    static EditResult refused (juce::String title, juce::String message, Outcome outcome = Outcome::refused)
    {
        EditResult r (outcome);
        r.title = std::move (title);
        r.message = std::move (message);
        return r;
    }

    Outcome getOutcome() const noexcept { return outcome; }
    bool wasChanged() const noexcept { return outcome == Outcome::changed; }
    bool wasRefusedOrFailed() const noexcept { return outcome == Outcome::refused || outcome == Outcome::failed; }

    /** The fixed warning of a refusal, if it has one. */
    std::optional<AlertManager::ErrorType> getError() const noexcept { return error; }

    /** The warning's title and message (those of the fixed warning when there is one);
        empty unless the edit was refused or failed. */
    juce::String getTitle() const
    {
        if (error.has_value())
            if (auto w = AlertManager::getWarningFor (*error))
                return w->title;
        return title;
    }

    juce::String getMessage() const
    {
        if (error.has_value())
            if (auto w = AlertManager::getWarningFor (*error))
                return w->message;
        return message;
    }

    /** Shows a refusal or failure through alerts; does nothing otherwise. */
    void showIn (AlertManager& alerts) const
    {
        if (! wasRefusedOrFailed())
            return;
        if (error.has_value())
            alerts.showPopupErrorMessage (*error);
        else
            alerts.displayWarningPopup (title, message);
    }

private:
    explicit EditResult (Outcome o) : outcome (o) {}

    Outcome outcome;
    std::optional<AlertManager::ErrorType> error;
    juce::String title, message;
};

} // namespace kalder
