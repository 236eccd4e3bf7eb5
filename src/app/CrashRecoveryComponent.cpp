#include "CrashRecoveryComponent.h"

namespace kalder
{

void CrashRecoveryComponent::show (std::function<void (bool)> answer)
{
    const auto options = juce::MessageBoxOptions()
                             .withIconType (juce::MessageBoxIconType::QuestionIcon)
                             .withTitle (title)
                             .withMessage (text)
                             .withButton (recoverButton)
                             .withButton (declineButton);
    juce::AlertWindow::showAsync (options, [answer = std::move (answer)] (int result) {
        if (answer)
            answer (result == 1); // the first button
    });
}

} // namespace kalder
