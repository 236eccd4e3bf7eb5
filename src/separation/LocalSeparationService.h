#pragma once

#include "ServiceEndpoint.h"

#include <juce_core/juce_core.h>

namespace kalder::separation
{

/**
    The separation service the application brings along: kalder-separationd,
    started on 127.0.0.1 with a free port and a fresh access token, in a data folder
    of its own, and stopped with its owner.

    The service's output (its base URL first, then one line per request) goes to
    "service.log" in its data folder; the token is in "token" there (mode 0600), made
    anew for every start. If the owner dies without stopping it, the service is told
    by the system (a parent-death signal) and stops too.

    Threading: start(), restart() and stop() on one long-lived thread (the message
    thread, or a command-line tool's main thread): the parent-death signal follows
    the thread that started the service. isRunning() and getEndpoint() from any thread.
*/
class LocalSeparationService
{
public:
    struct Options
    {
        juce::File executable; // default: findExecutable()
        juce::File dataFolder; // default: the user data folder's "service"
        int startTimeoutMs = 10000;
        juce::StringArray extraArguments;
    };

    LocalSeparationService();
    explicit LocalSeparationService (Options options);
    ~LocalSeparationService();

    /** The service binary: $KALDER_SEPARATIOND, else next to this program, else in the
        build tree this program was built in. A file that does not exist when none is found. */
    static juce::File findExecutable();

    /** Starts the service and waits until it says where it listens. */
    juce::Result start();

    /** Starts it again after it died; refuses after the first time (a service that
        keeps dying is not restarted in a loop). */
    juce::Result restart();

    /** Stops it: SIGTERM, then SIGKILL after three seconds. */
    void stop();

    bool isRunning() const;
    bool hasBeenRestarted() const noexcept { return restarts > 0; }
    /** The service's process id, or -1. */
    int getProcessId() const { return isRunning() ? pid : -1; }

    ServiceEndpoint getEndpoint() const;

    juce::File getLogFile() const { return options.dataFolder.getChildFile ("service.log"); }

private:
    Options options;
    mutable int pid = -1;
    int restarts = 0;
    mutable juce::CriticalSection lock;
    ServiceEndpoint endpoint;

    JUCE_DECLARE_NON_COPYABLE (LocalSeparationService)
};

} // namespace kalder::separation
