#pragma once

#include "JobManager.h"
#include "UrlSigner.h"

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace httplib
{
class Server;
struct Request;
struct Response;
class ContentReader;
} // namespace httplib

namespace kalder::service
{

/**
    The separation service's HTTP front: routes every request of the protocol
    (docs/separation-protocol.md) to the JobManager, checks the access token and the
    signed URLs, bounds what it reads, and answers in JSON.

    Security rules kept here: every request except the signed-URL transfers needs
    the token; request files are streamed to disk and refused with 413 before
    anything is read when they announce more than the limit; JSON bodies are limited
    in size and depth; signed URLs are bound to their job and file and expire.

    The server owns its listening thread and a pool of connection threads large
    enough that idle or slow connections (each holds a thread until its read timeout)
    do not starve the others.

    Threading: start() and stop() from one controlling thread; the handlers run on
    the connection threads and only touch thread-safe objects.
*/
class SeparationServer
{
public:
    struct Settings
    {
        std::string host = "127.0.0.1";
        int port = 0;
        juce::int64 maxUploadBytes = juce::int64 (2048) << 20;
        int urlLifetimeSeconds = 900;
        int readTimeoutSeconds = 10;
        int connectionThreads = 128;
        juce::File releaseDirectory;
        std::function<void (const juce::String&)> log; // one line per request; may be empty
        std::shared_ptr<const ServiceClock> clock = ServiceClock::real();
    };

    /** The largest JSON body accepted, and how deep it may nest. */
    static constexpr int maxJsonBytes = 64 * 1024;
    static constexpr int maxJsonDepth = 8;

    SeparationServer (const Settings& settings, JobManager& jobs, std::string token);
    ~SeparationServer();

    /** Binds and starts listening on a thread of its own; fails when the address cannot be bound. */
    juce::Result start();
    void stop();

    int getPort() const noexcept { return boundPort; }
    /** "http://host:port/", what clients append the protocol's paths to. */
    juce::String getBaseUrl() const;

private:
    void registerRoutes();
    bool isSignedTransfer (const std::string& path) const;
    juce::String getBaseUrlFor (const httplib::Request& request) const;

    void handleCreate (const httplib::Request&, httplib::Response&);
    void handleUpload (const httplib::Request&, httplib::Response&, const httplib::ContentReader&);
    void handleStart (const httplib::Request&, httplib::Response&, const httplib::ContentReader&);
    void handleProgress (const httplib::Request&, httplib::Response&);
    void handleOutputFiles (const httplib::Request&, httplib::Response&);
    void handleDownload (const httplib::Request&, httplib::Response&);
    void handleCancel (const httplib::Request&, httplib::Response&);
    void handleLatestVersion (const httplib::Request&, httplib::Response&);
    void handleVersionDownload (const httplib::Request&, httplib::Response&);
    void handleReleaseFile (const httplib::Request&, httplib::Response&);

    bool checkSignature (const httplib::Request&, httplib::Response&, const std::string& method, const std::string& scope) const;

    const Settings settings;
    JobManager& jobs;
    const std::string token;
    UrlSigner signer;

    std::unique_ptr<httplib::Server> server;
    std::thread listener;
    int boundPort = 0;

    JUCE_DECLARE_NON_COPYABLE (SeparationServer)
};

} // namespace kalder::service
