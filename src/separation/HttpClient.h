#pragma once

#include <juce_core/juce_core.h>

#include <functional>

namespace kalder::separation
{

/**
    One HTTP request, as the separation client makes them: a body from memory or
    streamed from a file, an answer read into memory (bounded) or streamed into a
    file (bounded), and time limits that catch a server that says nothing or
    trickles.

    It never follows a redirect (a redirect is a failure that names where it
    pointed), speaks only HTTP and HTTPS, and verifies certificates. Which URLs may be
    used at all is the caller's rule (ServiceEndpoint).

    Built on libcurl rather than juce::URL: a request file of an hour-long song is
    hundreds of megabytes, and juce::URL holds a request body in memory.

    Threading: perform() blocks; call it on a worker thread. Any number at once.
*/
class HttpClient
{
public:
    struct Request
    {
        juce::String method { "GET" };
        juce::String url;
        juce::StringArray headers; // "Name: value"

        /** The body: the file when set (streamed), else these bytes. */
        juce::MemoryBlock body;
        juce::File bodyFile;

        /** Into a file when set (streamed), else into Response::body. */
        juce::File answerFile;
        /** The most an answer may hold; more ends the request. */
        juce::int64 maxAnswerBytes = 1 << 20;

        int connectTimeoutMs = 20000;
        /** The whole request must end within this time (0: no limit). */
        int totalTimeoutMs = 30000;
        /** A transfer slower than lowSpeedBytes per second for lowSpeedSeconds fails (0: off). */
        int lowSpeedBytes = 0, lowSpeedSeconds = 0;

        /** Told how the transfer goes (bytes sent or received so far, and the total
            when known); return false to stop it. Called on the performing thread. */
        std::function<bool (juce::int64 sent, juce::int64 sendTotal, juce::int64 received, juce::int64 receiveTotal)> progress;
    };

    struct Response
    {
        /** The HTTP status, 0 when no answer came. */
        int status = 0;
        juce::String body;
        juce::int64 bytesReceived = 0;
        /** Empty when the exchange completed (whatever the status); otherwise what broke. */
        juce::String transportError;
        /** True when the progress callback stopped the request. */
        bool stopped = false;

        bool completed() const noexcept { return transportError.isEmpty(); }
        bool isSuccess() const noexcept { return completed() && status >= 200 && status < 300; }
    };

    static Response perform (const Request& request);

    /** The host of a URL (without brackets for IPv6), its scheme in lower case, and
        whether it parses at all. */
    struct UrlParts
    {
        bool valid = false;
        juce::String scheme, host;
        int port = 0;
    };
    static UrlParts parseUrl (const juce::String& url);
};

} // namespace kalder::separation
