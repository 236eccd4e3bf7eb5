#pragma once

#include "app/TarnApplication.h"
#include "appcore/CommandTable.h"
#include "support/TestSignals.h"

#include <cstdlib>
#include <functional>

namespace kalder::test
{

/** Pumps the message loop until condition holds or timeoutMs has passed; returns
    whether it held. */
bool waitUntil (const std::function<bool()>& condition, int timeoutMs);

/** The open modal window with the given name (an alert's title), or nullptr. */
juce::Component* findModalWindow (const juce::String& name);

/** The first component below parent (parent included, depth first) with the given
    component ID, or nullptr. */
juce::Component* findDescendant (juce::Component& parent, const juce::String& id);

/** The first component of type T below parent (parent included, depth first), or nullptr. */
template <typename T>
T* findDescendantOfType (juce::Component& parent)
{
    if (auto* found = dynamic_cast<T*> (&parent))
        return found;
    for (auto* child : parent.getChildren())
        if (auto* found = findDescendantOfType<T> (*child))
            return found;
    return nullptr;
}

/** Clicks the button with the given text in the open modal window named windowName;
    false when there is no such window or button. */
bool clickButtonInModal (const juce::String& windowName, const juce::String& buttonText);

/** Closes every modal window and waits until they have gone. */
bool closeAllModals();

/** Gives the home named by KALDER_HOME a settings file that skips the start-up
    tutorial, unless it has settings already. */
void skipTutorialForThisHome();

/** Saves a picture of a component (as it paints, at the display's scale) as
    screenshots/<name>.png beside the test program: the artifacts a reviewer looks at.
    Returns the file, or nothing when it could not be written. */
juce::File saveScreenshot (juce::Component& component, const juce::String& name);

/** The application object in this process, started like the real one, with its data
    folder in a temporary folder (or in home, when one is given, so that a second
    fixture starts from what the first left) and the null audio device. */
class ApplicationFixture
{
public:
    /** Whether the start-up tutorial shows: tests of other things start as a user who
        has seen it (a home without settings gets "tutorialSkip"). */
    enum class Tutorial
    {
        skipped,
        asForANewUser
    };

    explicit ApplicationFixture (const juce::String& commandLine = {}, const juce::File& home = {},
                                 Tutorial tutorial = Tutorial::skipped);
    ~ApplicationFixture();

    TarnApplication& app() { return *application; }
    MainWindow& window() { return *application->getMainWindow(); }
    MainContentComponent& content() { return window().getContent(); }
    const juce::File& folder() const { return home; }

    /** Runs a command through the command manager; false when it did not run. */
    bool invoke (Command command);

    /** Waits until the master track is named name and its store is analysed. */
    bool waitForMaster (const juce::String& name, int timeoutMs = 30000);

private:
    TemporaryDirectory dir;
    juce::File home;
    std::unique_ptr<TarnApplication> application;
};

/** Sets an environment variable for the lifetime of this object. */
struct ScopedEnvironment
{
    ScopedEnvironment (const char* n, const juce::String& value) : name (n)
    {
        if (const char* old = std::getenv (n))
            previous = old;
        hadValue = std::getenv (n) != nullptr;
        if (value.isEmpty())
            ::unsetenv (n);
        else
            ::setenv (n, value.toRawUTF8(), 1);
    }
    ~ScopedEnvironment()
    {
        if (hadValue)
            ::setenv (name, previous.toRawUTF8(), 1);
        else
            ::unsetenv (name);
    }
    const char* name;
    juce::String previous;
    bool hadValue = false;
};

} // namespace kalder::test
