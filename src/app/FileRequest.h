#pragma once

#include <juce_core/juce_core.h>

#include <functional>

namespace kalder
{

/**
    A question for a file or a folder, as the window's commands ask it: what a file
    chooser shows, and where the answer goes.

    The main component answers requests with a file chooser; tests install a handler
    that answers in the user's place (MainContentComponent::setFileRequestHandler()).

    A plain value; answers arrive on the message thread.
*/
struct FileRequest
{
    enum class Kind
    {
        openFile,
        saveFile, // the chooser warns before an existing file is replaced
        chooseFolder
    };

    /** Receives the chosen file or folder, or juce::File() when the user cancelled. */
    using Answer = std::function<void (const juce::File&)>;

    /** Asks the user and answers later. */
    using Handler = std::function<void (const FileRequest&, Answer)>;

    Kind kind = Kind::openFile;
    juce::String title;
    juce::String patterns;   // "*.wav;*.aif" (files only)
    juce::File startingFile; // a folder, or a file whose name is proposed
};

} // namespace kalder
