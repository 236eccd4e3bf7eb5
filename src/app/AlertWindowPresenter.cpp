#include "AlertWindowPresenter.h"

#include "ui/WarningComponent.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

namespace
{
    // Return values of the alert window's buttons; 0 is what a cancelled window gives.
    enum ButtonResult
    {
        dismissedResult = 0,
        yesResult,
        noResult,
        alternativeResult
    };
} // namespace

void AlertWindowPresenter::dismissModals()
{
    JUCE_ASSERT_MESSAGE_THREAD
    juce::ModalComponentManager::getInstance()->cancelAllModalComponents();
}

void AlertWindowPresenter::showWarning (const juce::String& title, const juce::String& message, const juce::String& link)
{
    JUCE_ASSERT_MESSAGE_THREAD
    // Centred on the screen of the window the user is looking at.
    auto* around = juce::TopLevelWindow::getActiveTopLevelWindow();
    if (around == nullptr && juce::TopLevelWindow::getNumTopLevelWindows() > 0)
        around = juce::TopLevelWindow::getTopLevelWindow (0);
    WarningComponent::show (title, message, link, around);
}

void AlertWindowPresenter::askQuestion (const AlertManager::Question& question, AlertManager::AnswerCallback answer)
{
    JUCE_ASSERT_MESSAGE_THREAD
    auto* window = new juce::AlertWindow (question.title, question.text, juce::MessageBoxIconType::QuestionIcon);
    window->addButton (question.yesLabel, yesResult, juce::KeyPress (juce::KeyPress::returnKey));
    // Escape closes the question without an answer (dismissed), never as "no": "no" to
    // "Save changes?" discards the project.
    window->addButton (question.noLabel, noResult);
    window->setEscapeKeyCancels (true);
    if (question.alternativeLabel.isNotEmpty())
        window->addButton (question.alternativeLabel, alternativeResult);

    window->enterModalState (true, juce::ModalCallbackFunction::create ([answer = std::move (answer)] (int result) {
                                 if (! answer)
                                     return;
                                 switch (result)
                                 {
                                     case yesResult:
                                         answer (AlertManager::Answer::yes);
                                         break;
                                     case noResult:
                                         answer (AlertManager::Answer::no);
                                         break;
                                     case alternativeResult:
                                         answer (AlertManager::Answer::alternative);
                                         break;
                                     default:
                                         answer (AlertManager::Answer::dismissed);
                                         break;
                                 }
                             }),
                             true);
}

} // namespace kalder
