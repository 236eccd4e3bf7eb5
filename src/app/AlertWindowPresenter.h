#pragma once

#include "appcore/AlertManager.h"

namespace kalder
{

/**
    Shows the AlertManager's warnings and questions as modal alert windows.

    Every window is asynchronous: showing one never blocks the message loop, and a
    question's answer arrives through the callback when the window closes (dismissed
    when it was closed by dismissModals() or the Escape key).

    Ownership: owned by the application object, registered with its AlertManager for
    the application's lifetime.

    Threading: message thread only, as the Presenter contract says.
*/
class AlertWindowPresenter : public AlertManager::Presenter
{
public:
    void dismissModals() override;
    void showWarning (const juce::String& title, const juce::String& message, const juce::String& link) override;
    void askQuestion (const AlertManager::Question& question, AlertManager::AnswerCallback answer) override;
};

} // namespace kalder
