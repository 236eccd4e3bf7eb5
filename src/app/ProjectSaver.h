#pragma once

#include <juce_core/juce_core.h>

namespace kalder
{

/**
    What quitting needs from project persistence: whether the open project has changes
    that a save would keep, and the save itself.

    The project subsystem implements it and installs it on the main content component
    (MainContentComponent::setProjectSaver()). Without one there is nothing a save could
    keep, and quitting asks no question.

    Threading: message thread only.
*/
class ProjectSaver
{
public:
    virtual ~ProjectSaver() = default;

    /** True when the open project differs from what was last saved or opened. */
    virtual bool hasUnsavedChanges() const = 0;

    /** Saves the open project to its file (a project never saved goes to the saved
        projects folder); a failure names the reason. */
    virtual juce::Result saveCurrentProject() = 0;
};

} // namespace kalder
