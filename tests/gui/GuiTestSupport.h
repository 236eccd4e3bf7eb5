#pragma once

#include "app/CommandTable.h"
#include "app/TarnApplication.h"
#include "support/TestSignals.h"

#include <functional>

namespace kalder::test
{

/** Pumps the message loop until condition holds or timeoutMs has passed; returns
    whether it held. */
bool waitUntil (const std::function<bool()>& condition, int timeoutMs);

/** The open modal window with the given name (an alert's title), or nullptr. */
juce::Component* findModalWindow (const juce::String& name);

/** The application object in this process, started like the real one, with its data
    folder in a temporary folder and the null audio device. */
class ApplicationFixture
{
public:
    explicit ApplicationFixture (const juce::String& commandLine = {});
    ~ApplicationFixture();

    TarnApplication& app() { return *application; }
    MainWindow& window() { return *application->getMainWindow(); }
    MainContentComponent& content() { return window().getContent(); }
    const juce::File& folder() const { return dir.get(); }

    /** Runs a command through the command manager; false when it did not run. */
    bool invoke (Command command);

    /** Waits until the master track is named name. */
    bool waitForMaster (const juce::String& name, int timeoutMs = 30000);

private:
    TemporaryDirectory dir;
    std::unique_ptr<TarnApplication> application;
};

} // namespace kalder::test
