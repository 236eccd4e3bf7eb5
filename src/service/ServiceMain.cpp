// kalder-separationd: the separation service. Prints its base URL as the first line of
// output, logs one line per request, and runs until SIGINT or SIGTERM.

#include "AccessToken.h"
#include "DataDirectoryLock.h"
#include "JobManager.h"
#include "SeparationServer.h"
#include "ServiceOptions.h"
#include "engines/SeparationEngine.h"

#include <csignal>
#include <iostream>
#include <mutex>
#include <pthread.h>

namespace
{
std::mutex outputLock;

void printLine (std::ostream& stream, const juce::String& line)
{
    const std::lock_guard<std::mutex> guard (outputLock);
    stream << line << std::endl; // flushes: whoever started us reads the output line by line
}
} // namespace

int main (int argc, char** argv)
{
    using namespace kalder::service;

    juce::StringArray arguments;
    for (int i = 1; i < argc; ++i)
        arguments.add (juce::String::fromUTF8 (argv[i]));

    ServiceOptions options;
    if (auto r = ServiceOptions::parse (arguments, options); r.failed())
    {
        printLine (std::cerr, "kalder-separationd: " + r.getErrorMessage());
        std::cerr << ServiceOptions::getUsage();
        return 2;
    }
    if (options.showHelp)
    {
        std::cout << ServiceOptions::getUsage();
        return 0;
    }

    // Signals are taken by sigwait below; every thread started from here on inherits the mask.
    sigset_t signals;
    sigemptyset (&signals);
    sigaddset (&signals, SIGINT);
    sigaddset (&signals, SIGTERM);
    pthread_sigmask (SIG_BLOCK, &signals, nullptr);
    std::signal (SIGPIPE, SIG_IGN); // a client that hangs up must not end the service

    if (! options.dataDirectory.createDirectory())
    {
        printLine (std::cerr, "kalder-separationd: cannot create " + options.dataDirectory.getFullPathName());
        return 1;
    }

    const DataDirectoryLock claim (options.dataDirectory);
    if (! claim.isHeld())
    {
        printLine (std::cerr, "kalder-separationd: another service is using " + options.dataDirectory.getFullPathName());
        return 1;
    }

    std::string token;
    if (auto r = AccessToken::loadOrCreate (options.tokenFile, token); r.failed())
    {
        printLine (std::cerr, "kalder-separationd: " + r.getErrorMessage());
        return 1;
    }

    JobManager::Settings jobSettings;
    jobSettings.dataDirectory = options.dataDirectory;
    jobSettings.workers = options.workers;
    jobSettings.maxQueued = options.maxQueued;
    jobSettings.maxJobs = options.maxJobs;
    jobSettings.ttlSeconds = options.jobTtlSeconds;
    jobSettings.maxUploadBytes = static_cast<juce::int64> (options.maxUploadMb) << 20;
    JobManager jobs (jobSettings, &runSeparation);

    SeparationServer::Settings serverSettings;
    serverSettings.host = options.host.toStdString();
    serverSettings.port = options.port;
    serverSettings.maxUploadBytes = jobSettings.maxUploadBytes;
    serverSettings.urlLifetimeSeconds = options.urlLifetimeSeconds;
    serverSettings.releaseDirectory = options.releaseDirectory;
    serverSettings.log = [] (const juce::String& line) { printLine (std::cout, line); };

    SeparationServer server (serverSettings, jobs, token);
    if (auto r = server.start(); r.failed())
    {
        printLine (std::cerr, "kalder-separationd: " + r.getErrorMessage());
        return 1;
    }

    printLine (std::cout, server.getBaseUrl());
    if (! ServiceOptions::isLoopbackAddress (options.host))
        printLine (std::cerr, "kalder-separationd: WARNING: listening on " + options.host
                                  + " over plain HTTP: the access token and the audio travel in clear text");
    printLine (std::cerr, "kalder-separationd " KALDER_SERVICE_VERSION ": data in " + options.dataDirectory.getFullPathName()
                              + ", token in " + options.tokenFile.getFullPathName());

    int received = 0;
    sigwait (&signals, &received);
    printLine (std::cerr, "kalder-separationd: stopping");
    server.stop();
    return 0;
}
