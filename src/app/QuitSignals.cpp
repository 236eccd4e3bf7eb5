#include "QuitSignals.h"

#include <array>
#include <csignal>

namespace kalder
{

namespace
{
    volatile std::sig_atomic_t pending = 0;

    extern "C" void noteSignal (int signalNumber)
    {
        pending = signalNumber; // async-signal-safe: the message thread does the rest
    }

    constexpr std::array<int, 3> handled { SIGTERM, SIGINT, SIGHUP };
} // namespace

struct QuitSignals::Previous
{
    std::array<struct sigaction, handled.size()> actions {};
};

QuitSignals::QuitSignals (std::function<void (int)> callback) : onSignal (std::move (callback)), previous (new Previous())
{
    pending = 0;
    struct sigaction action
    {};
    action.sa_handler = noteSignal;
    sigemptyset (&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < handled.size(); ++i)
        sigaction (handled[i], &action, &previous->actions[i]);
    startTimer (pollMs);
}

QuitSignals::~QuitSignals()
{
    stopTimer();
    for (size_t i = 0; i < handled.size(); ++i)
        sigaction (handled[i], &previous->actions[i], nullptr);
}

void QuitSignals::timerCallback()
{
    const int signalNumber = pending;
    if (signalNumber == 0)
        return;
    pending = 0;
    if (onSignal)
        onSignal (signalNumber);
}

} // namespace kalder
