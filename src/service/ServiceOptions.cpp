#include "ServiceOptions.h"

namespace kalder::service
{

namespace
{
    bool parseInt (const juce::String& text, int minimum, int maximum, int& value)
    {
        const auto t = text.trim();
        if (t.isEmpty() || t.length() > 9 || ! t.containsOnly ("0123456789"))
            return false;
        value = t.getIntValue();
        return value >= minimum && value <= maximum;
    }
} // namespace

juce::File ServiceOptions::getDefaultDataDirectory()
{
    const auto home = juce::SystemStats::getEnvironmentVariable ("KALDER_HOME", {});
    if (home.isNotEmpty())
        return juce::File (home).getChildFile ("service");
    return juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
        .getChildFile ("KalderPro")
        .getChildFile ("service");
}

bool ServiceOptions::isLoopbackAddress (const juce::String& host)
{
    const auto h = host.trim().toLowerCase();
    return h == "localhost" || h == "::1" || h.startsWith ("127.");
}

juce::String ServiceOptions::getUsage()
{
    return "usage: kalder-separationd [options]\n"
           "\n"
           "  --host ADDRESS        address to listen on (default 127.0.0.1; only loopback unless given)\n"
           "  --port N              port to listen on, 0 for a free one (default 0)\n"
           "  --data-dir DIR        folder for jobs (default $KALDER_HOME/service or the user's data folder)\n"
           "  --token-file FILE     access token; created with a random token, mode 0600, when missing\n"
           "                        (default DATA-DIR/token)\n"
           "  --release-dir DIR     release archives offered by api/version (default DATA-DIR/releases)\n"
           "  --workers N           separations run at once (default 1)\n"
           "  --max-queue N         started separations that may wait for a worker (default 16)\n"
           "  --max-jobs N          separations held at once, in any state (default 256)\n"
           "  --max-upload-mb N     largest request file accepted, in MiB (default 2048)\n"
           "  --job-ttl SECONDS     a separation is removed this long after its last change (default 3600)\n"
           "  --url-lifetime SECONDS  how long signed URLs stay valid (default 900)\n"
           "  --allow-clear-text-network\n"
           "                        listen on a --host that is not loopback (plain HTTP: use an HTTPS proxy)\n"
           "  --help                show this text\n"
           "\n"
           "The first line printed is the service's base URL.\n";
}

juce::Result ServiceOptions::parse (const juce::StringArray& arguments, ServiceOptions& options)
{
    options = ServiceOptions();
    options.dataDirectory = getDefaultDataDirectory();
    bool tokenGiven = false, releasesGiven = false;

    for (int i = 0; i < arguments.size(); ++i)
    {
        auto name = arguments[i];
        juce::String value;
        bool hasValue = false;

        if (name == "--help" || name == "-h")
        {
            options.showHelp = true;
            continue;
        }
        if (name == "--allow-clear-text-network")
        {
            options.allowClearTextNetwork = true;
            continue;
        }
        if (! name.startsWith ("--"))
            return juce::Result::fail ("Unexpected argument \"" + name + "\"");
        if (name.containsChar ('='))
        {
            value = name.fromFirstOccurrenceOf ("=", false, false);
            name = name.upToFirstOccurrenceOf ("=", false, false);
            hasValue = true;
        }
        else if (i + 1 < arguments.size())
        {
            value = arguments[++i];
            hasValue = true;
        }
        static const juce::StringArray known { "--host",          "--port",    "--data-dir",    "--token-file",
                                               "--release-dir",   "--workers", "--max-queue",   "--max-jobs",
                                               "--max-upload-mb", "--job-ttl", "--url-lifetime" };
        if (! known.contains (name))
            return juce::Result::fail ("Unknown option " + name);
        if (! hasValue)
            return juce::Result::fail ("The option " + name + " needs a value");

        const auto badValue = [&] (const juce::String& bounds) {
            return juce::Result::fail ("The option " + name + " takes " + bounds + ", not \"" + value + "\"");
        };

        if (name == "--host")
        {
            if (value.isEmpty())
                return badValue ("an address");
            options.host = value;
        }
        else if (name == "--port")
        {
            if (! parseInt (value, 0, 65535, options.port))
                return badValue ("a port number 0 to 65535");
        }
        else if (name == "--data-dir")
        {
            options.dataDirectory = juce::File::getCurrentWorkingDirectory().getChildFile (value);
        }
        else if (name == "--token-file")
        {
            options.tokenFile = juce::File::getCurrentWorkingDirectory().getChildFile (value);
            tokenGiven = true;
        }
        else if (name == "--release-dir")
        {
            options.releaseDirectory = juce::File::getCurrentWorkingDirectory().getChildFile (value);
            releasesGiven = true;
        }
        else if (name == "--workers")
        {
            if (! parseInt (value, 1, 64, options.workers))
                return badValue ("1 to 64");
        }
        else if (name == "--max-queue")
        {
            if (! parseInt (value, 1, 10000, options.maxQueued))
                return badValue ("1 to 10000");
        }
        else if (name == "--max-jobs")
        {
            if (! parseInt (value, 1, 100000, options.maxJobs))
                return badValue ("1 to 100000");
        }
        else if (name == "--max-upload-mb")
        {
            if (! parseInt (value, 1, 1 << 20, options.maxUploadMb))
                return badValue ("1 to 1048576");
        }
        else if (name == "--job-ttl")
        {
            if (! parseInt (value, 1, 30 * 24 * 3600, options.jobTtlSeconds))
                return badValue ("1 to 2592000 seconds");
        }
        else if (name == "--url-lifetime")
        {
            if (! parseInt (value, 1, 7 * 24 * 3600, options.urlLifetimeSeconds))
                return badValue ("1 to 604800 seconds");
        }
        else
        {
            return juce::Result::fail ("Unknown option " + name);
        }
    }

    // Plain HTTP carries the token and the audio in clear text: off this machine only when asked.
    if (! isLoopbackAddress (options.host) && ! options.allowClearTextNetwork)
        return juce::Result::fail ("--host " + options.host
                                   + " would serve the token and the audio in clear text to the network; the service speaks "
                                     "plain HTTP, so put it behind an HTTPS proxy and give --allow-clear-text-network to listen "
                                     "beyond this machine");

    if (! tokenGiven)
        options.tokenFile = options.dataDirectory.getChildFile ("token");
    if (! releasesGiven)
        options.releaseDirectory = options.dataDirectory.getChildFile ("releases");
    return juce::Result::ok();
}

} // namespace kalder::service
