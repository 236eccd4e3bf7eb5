#pragma once

#include <juce_events/juce_events.h>

#include <functional>

namespace kalder
{

/**
    Turns SIGTERM, SIGINT and SIGHUP (a logout, a service manager stopping the session,
    Ctrl+C in the terminal that started the application) into a clean quit on the
    message thread: the handler only notes the signal, and a timer of the message thread
    calls onSignal, so the quit runs as any other (files finished, the service stopped).
    The handlers that were installed before come back when the object goes.

    Threading: construct and destroy on the message thread; one instance at a time.
*/
class QuitSignals : private juce::Timer
{
public:
    explicit QuitSignals (std::function<void (int signalNumber)> onSignal);
    ~QuitSignals() override;

    static constexpr int pollMs = 50;

private:
    void timerCallback() override;

    std::function<void (int)> onSignal;
    struct Previous;
    std::unique_ptr<Previous> previous;

    JUCE_DECLARE_NON_COPYABLE (QuitSignals)
};

} // namespace kalder
