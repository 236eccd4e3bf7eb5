#include "support/TestSignals.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
/** kalder-separationd started as a child process, its standard output on a pipe. */
class ServiceProcess
{
public:
    explicit ServiceProcess (const std::vector<std::string>& arguments)
    {
        int fds[2];
        if (::pipe (fds) != 0)
            return;
        pid = ::fork();
        if (pid == 0)
        {
            ::dup2 (fds[1], STDOUT_FILENO);
            ::close (fds[0]);
            ::close (fds[1]);
            std::vector<char*> argv { const_cast<char*> (KALDER_SERVICE_BINARY) };
            for (const auto& a : arguments)
                argv.push_back (const_cast<char*> (a.c_str()));
            argv.push_back (nullptr);
            ::execv (KALDER_SERVICE_BINARY, argv.data());
            ::_exit (127);
        }
        ::close (fds[1]);
        output = fds[0];
    }

    ~ServiceProcess()
    {
        if (pid > 0 && ! exited)
        {
            ::kill (pid, SIGKILL);
            ::waitpid (pid, nullptr, 0);
        }
        if (output >= 0)
            ::close (output);
    }

    /** The next line of output, or an empty string after timeoutMs. */
    std::string readLine (int timeoutMs)
    {
        std::string line;
        char c = 0;
        while (true)
        {
            pollfd p { output, POLLIN, 0 };
            if (::poll (&p, 1, timeoutMs) <= 0 || ::read (output, &c, 1) != 1)
                return {};
            if (c == '\n')
                return line;
            line += c;
        }
    }

    /** Sends a signal and waits for the exit; the exit status, or -1 after timeoutMs. */
    int stop (int signal, int timeoutMs)
    {
        ::kill (pid, signal);
        for (int waited = 0; waited < timeoutMs; waited += 10)
        {
            int status = 0;
            if (::waitpid (pid, &status, WNOHANG) == pid)
            {
                exited = true;
                return WIFEXITED (status) ? WEXITSTATUS (status) : -1;
            }
            ::usleep (10000);
        }
        return -1;
    }

private:
    pid_t pid = -1;
    int output = -1;
    bool exited = false;
};
} // namespace

TEST (ServiceProcess, PrintsItsUrlFirstMakesItsTokenAndStopsOnSigterm)
{
    kalder::test::TemporaryDirectory dir;
    const auto data = dir.get().getChildFile ("data");
    ServiceProcess service ({ "--port", "0", "--data-dir", data.getFullPathName().toStdString() });

    const auto url = service.readLine (20000);
    ASSERT_EQ (url.rfind ("http://127.0.0.1:", 0), 0u) << url;
    const auto port = std::stoi (url.substr (std::string ("http://127.0.0.1:").size()));

    const auto tokenFile = data.getChildFile ("token");
    struct stat info
    {};
    ASSERT_EQ (::stat (tokenFile.getFullPathName().toRawUTF8(), &info), 0);
    EXPECT_EQ (info.st_mode & 0777, 0600u);
    const auto token = tokenFile.loadFileAsString().trim().toStdString();

    httplib::Client client ("127.0.0.1", port);
    client.set_default_headers ({ { "Authorization", token } });
    const auto created = client.Post ("/api/separation/create");
    ASSERT_TRUE (created);
    EXPECT_EQ (created->status, 200);
    EXPECT_EQ (service.readLine (5000).find ("POST /api/separation/create 200") != std::string::npos, true);

    EXPECT_EQ (service.stop (SIGTERM, 10000), 0);
}

TEST (ServiceProcess, RefusesBadOptionsKeepsAnExistingTokenAndItsDataFolder)
{
    kalder::test::TemporaryDirectory dir;
    {
        ServiceProcess bad ({ "--workers", "0" });
        EXPECT_EQ (bad.readLine (10000), "");
        EXPECT_EQ (bad.stop (0, 10000), 2);
    }

    const auto tokenFile = dir.get().getChildFile ("my-token");
    tokenFile.replaceWithText ("0123456789abcdef0123456789abcdef\n");
    ServiceProcess service (
        { "--data-dir", dir.get().getFullPathName().toStdString(), "--token-file", tokenFile.getFullPathName().toStdString() });
    const auto url = service.readLine (20000);
    ASSERT_FALSE (url.empty());
    httplib::Client client ("127.0.0.1", std::stoi (url.substr (std::string ("http://127.0.0.1:").size())));
    client.set_default_headers ({ { "Authorization", "0123456789abcdef0123456789abcdef" } });
    EXPECT_EQ (client.Get ("/api/separation/progress/" + std::string (32, 'a'))->status, 404); // past the token check

    // A second service on the same data folder would take the first one's jobs for leftovers.
    ServiceProcess second ({ "--data-dir", dir.get().getFullPathName().toStdString() });
    EXPECT_EQ (second.readLine (10000), "");
    EXPECT_EQ (second.stop (0, 10000), 1);
    EXPECT_EQ (service.stop (SIGINT, 10000), 0);
}
