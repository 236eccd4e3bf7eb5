#include "app/DisplayCheck.h"

#include <gtest/gtest.h>

#include <juce_events/juce_events.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
/** Starts a virtual display of our own and points DISPLAY at it. Xvfb picks a free
    display number itself and reports it through a pipe, so test programs that start
    at the same moment never race for a number. Returns the server's process id, or -1. */
pid_t startVirtualDisplay()
{
    int fds[2];
    if (::pipe (fds) != 0)
        return -1;

    const pid_t pid = ::fork();
    if (pid == 0)
    {
        // The server goes with the tests even when they end abruptly (Xlib exits the
        // process on an X error), and never holds the tests' output open: ctest waits
        // for that output to close.
        ::prctl (PR_SET_PDEATHSIG, SIGTERM);
        // -noreset: by default the server resets whenever its last client leaves, and
        // refuses connections while it does; the end-to-end tests connect and leave
        // many times (each xdotool call, each application start).
        if (const auto devNull = ::open ("/dev/null", O_WRONLY); devNull >= 0)
        {
            ::dup2 (devNull, STDOUT_FILENO);
            ::dup2 (devNull, STDERR_FILENO);
            ::close (devNull);
        }
        ::close (fds[0]);
        const auto fd = std::to_string (fds[1]);
        ::execlp ("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset",
                  (char*) nullptr);
        ::_exit (127); // 127: the shell's "command not found"
    }
    ::close (fds[1]);

    std::string number;
    char c;
    while (::read (fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close (fds[0]);

    if (pid < 0 || number.empty())
        return -1;
    ::setenv ("DISPLAY", (":" + number).c_str(), 1);

    // On a busy machine the server names its display before it answers there: a program
    // started at once would find no display. Wait until a connection succeeds.
    for (int attempt = 0; attempt < 400 && ! kalder::DisplayCheck::isDisplayAvailable(); ++attempt)
        ::usleep (50000); // 50 ms between attempts: 20 s at most
    return pid;
}
} // namespace

// The GUI tests need a display. Without one they start a virtual display of their own,
// so that ctest works the same on a desktop and on a server. Listing the tests (at build
// time) needs no display.
int main (int argc, char** argv)
{
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strncmp (argv[i], "--gtest_list_tests", 18) == 0; // 18: the flag's length

    pid_t server = -1;
    if (! listing && ! kalder::DisplayCheck::isDisplayAvailable())
    {
        server = startVirtualDisplay();
        if (server < 0)
        {
            std::fprintf (stderr, "kalder_gui_tests: no display, and Xvfb could not be started\n");
            return 1;
        }
    }

    ::testing::InitGoogleTest (&argc, argv);
    int result = 0;
    {
        const juce::ScopedJuceInitialiser_GUI juce;
        result = RUN_ALL_TESTS();
    }

    if (server > 0)
    {
        ::kill (server, SIGTERM);
        ::waitpid (server, nullptr, 0);
    }
    return result;
}
