#include "LocalSeparationService.h"

#include "appcore/DirectoryManager.h"

#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kalder::separation
{

namespace
{
    juce::String readFirstLine (const juce::File& log)
    {
        const auto text = log.loadFileAsString();
        return text.containsChar ('\n') ? text.upToFirstOccurrenceOf ("\n", false, false).trim() : juce::String();
    }
} // namespace

LocalSeparationService::LocalSeparationService() : LocalSeparationService (Options {}) {}

LocalSeparationService::LocalSeparationService (Options o) : options (std::move (o))
{
    if (options.executable == juce::File())
        options.executable = findExecutable();
    if (options.dataFolder == juce::File())
        options.dataFolder = DirectoryManager::getUserAppDataDir().getChildFile ("service");
}

LocalSeparationService::~LocalSeparationService()
{
    stop();
}

juce::File LocalSeparationService::findExecutable()
{
    const char* const name = "kalder-separationd";
    if (const auto env = juce::SystemStats::getEnvironmentVariable ("KALDER_SEPARATIOND", {}); env.isNotEmpty())
        return juce::File (env);

    const auto self = juce::File::getSpecialLocation (juce::File::currentExecutableFile);
    juce::Array<juce::File> candidates { self.getSiblingFile (name) };
    // From the build tree: the application in build/KalderPro_artefacts/<config>/, the tools in build/src/...
    for (auto dir = self.getParentDirectory(); dir != dir.getParentDirectory(); dir = dir.getParentDirectory())
        candidates.add (dir.getChildFile ("src/service").getChildFile (name));
#ifdef KALDER_SERVICE_BUILD_PATH
    candidates.add (juce::File (KALDER_SERVICE_BUILD_PATH));
#endif
    for (const auto& f : candidates)
        if (f.existsAsFile())
            return f;
    return self.getSiblingFile (name);
}

juce::Result LocalSeparationService::start()
{
    const juce::ScopedLock sl (lock);
    if (pid > 0 && isRunning())
        return juce::Result::ok();

    if (! options.executable.existsAsFile())
        return juce::Result::fail ("The separation service (kalder-separationd) was not found next to the application ("
                                   + options.executable.getFullPathName() + ")");
    if (! options.dataFolder.createDirectory())
        return juce::Result::fail ("Cannot create the separation service's folder " + options.dataFolder.getFullPathName());

    // A fresh token for every start: the service makes one when the file is missing.
    const auto tokenFile = options.dataFolder.getChildFile ("token");
    tokenFile.deleteFile();
    const auto log = getLogFile();
    log.deleteFile();

    juce::StringArray args { options.executable.getFullPathName(),
                             "--host",
                             "127.0.0.1",
                             "--port",
                             "0",
                             "--data-dir",
                             options.dataFolder.getFullPathName(),
                             "--token-file",
                             tokenFile.getFullPathName() };
    args.addArray (options.extraArguments);
    std::vector<std::string> storage;
    for (const auto& a : args)
        storage.push_back (a.toStdString());
    std::vector<char*> argv;
    for (auto& s : storage)
        argv.push_back (s.data());
    argv.push_back (nullptr);
    const auto logPath = log.getFullPathName().toStdString();
    const auto parent = getpid();

    const auto child = fork();
    if (child < 0)
        return juce::Result::fail ("Cannot start the separation service");
    if (child == 0)
    {
        // Only async-signal-safe calls between fork and exec.
        prctl (PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit (127);
        const int fd = open (logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0)
        {
            dup2 (fd, 1);
            dup2 (fd, 2);
            close (fd);
        }
        const int devNull = open ("/dev/null", O_RDONLY);
        if (devNull >= 0)
            dup2 (devNull, 0);
        execv (argv[0], argv.data());
        _exit (127);
    }
    pid = child;

    // The first line is the base URL.
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) options.startTimeoutMs;
    juce::String url;
    while (juce::Time::getMillisecondCounter() < deadline)
    {
        url = readFirstLine (log);
        if (url.startsWith ("http") || ! isRunning())
            break;
        juce::Thread::sleep (20);
    }
    if (! url.startsWith ("http"))
    {
        const auto output = log.loadFileAsString().trim().substring (0, 400);
        stop();
        return juce::Result::fail ("The separation service did not start"
                                   + (output.isNotEmpty() ? ": " + output : juce::String()));
    }

    endpoint.baseUrl = ServiceEndpoint::normalise (url);
    endpoint.token = tokenFile.loadFileAsString().trim();
    if (endpoint.token.isEmpty())
    {
        stop();
        return juce::Result::fail ("The separation service gave no access token");
    }
    return juce::Result::ok();
}

juce::Result LocalSeparationService::restart()
{
    const juce::ScopedLock sl (lock);
    if (restarts > 0)
        return juce::Result::fail ("The separation service stopped again; it is not restarted a second time (see "
                                   + getLogFile().getFullPathName() + ")");
    ++restarts;
    stop();
    return start();
}

void LocalSeparationService::stop()
{
    const juce::ScopedLock sl (lock);
    if (pid <= 0)
        return;
    kill (pid, SIGTERM);
    for (int i = 0; i < 300; ++i)
    {
        if (waitpid (pid, nullptr, WNOHANG) == pid)
        {
            pid = -1;
            endpoint = {};
            return;
        }
        juce::Thread::sleep (10);
    }
    kill (pid, SIGKILL);
    waitpid (pid, nullptr, 0);
    pid = -1;
    endpoint = {};
}

bool LocalSeparationService::isRunning() const
{
    const juce::ScopedLock sl (lock);
    if (pid <= 0)
        return false;
    // A child that ended is a zombie until reaped; kill(pid, 0) would still find it.
    int status = 0;
    if (waitpid (pid, &status, WNOHANG) == pid)
    {
        pid = -1;
        return false;
    }
    return true;
}

ServiceEndpoint LocalSeparationService::getEndpoint() const
{
    const juce::ScopedLock sl (lock);
    return endpoint;
}

} // namespace kalder::separation
