#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

/**
    The "Crash Recovery" window: at start-up, when the last run left its autosave behind
    (it did not quit normally), asks whether to recover it.

    Threading: message thread.
*/
struct CrashRecoveryComponent
{
    static constexpr const char* title = "Crash Recovery";
    static constexpr const char* text =
        "An autosave file from a previous session has been found.\n\nWould you like to recover it?";
    static constexpr const char* recoverButton = "Recover Autosave";
    static constexpr const char* declineButton = "Don't Recover";

    /** Shows the window (not blocking); answer is told true for "Recover Autosave". */
    static void show (std::function<void (bool recover)> answer);
};

} // namespace kalder
