#pragma once

#include <juce_core/juce_core.h>

namespace kalder::service
{

/**
    The command line of kalder-separationd: every option, its default and its
    bounds. Options are given as "--name value" or "--name=value".

    Threading: a plain value.
*/
struct ServiceOptions
{
    juce::String host = "127.0.0.1";
    int port = 0; // 0 picks a free port
    juce::File dataDirectory;
    juce::File tokenFile;        // default: <data directory>/token
    juce::File releaseDirectory; // default: <data directory>/releases
    int workers = 1;
    int maxQueued = 16;
    int maxJobs = 256;
    int maxUploadMb = 2048;
    int jobTtlSeconds = 3600;
    int urlLifetimeSeconds = 900;
    bool showHelp = false;
    /** Whether a non-loopback --host was explicitly accepted (plain HTTP on the network). */
    bool allowClearTextNetwork = false;

    /** Reads the arguments (without the program name); fails with a message naming
        the first unknown option or out-of-range value. */
    static juce::Result parse (const juce::StringArray& arguments, ServiceOptions& options);

    /** The folder used when --data-dir is not given: $KALDER_HOME/service, or the
        user's application data folder. */
    static juce::File getDefaultDataDirectory();

    static juce::String getUsage();

    static bool isLoopbackAddress (const juce::String& host);
};

} // namespace kalder::service
