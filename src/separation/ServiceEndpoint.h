#pragma once

#include <juce_core/juce_core.h>

namespace kalder::separation
{

/**
    Where the separation service is and how to prove who we are: a base URL ending in
    "/" and the access token sent as "Authorization: <token>".

    The rules for URLs: the service's own base URL is HTTPS (any host, certificate
    verified) or plain HTTP to a loopback address only (the embedded service). A URL
    the service hands out (signed upload and download links) must use the same
    scheme as the base URL and, over plain HTTP, a loopback host too; the token goes
    only to the base URL's own origin, never to another host a link points at.

    Threading: a plain value.
*/
struct ServiceEndpoint
{
    juce::String baseUrl;
    juce::String token;
    /** How long an answer of the protocol (not a file transfer) may take, from the
        request to its last byte: a server that says nothing or trickles ends here. */
    int answerTimeoutMs = 30000;

    bool isValid() const { return check (baseUrl).wasOk(); }

    /** Whether a URL may serve as a service's base URL (see the class comment). */
    static juce::Result check (const juce::String& baseUrl);

    /** Whether a link the service handed out may be followed. */
    juce::Result checkLink (const juce::String& url) const;

    /** True when url has the scheme, host and port of the base URL. */
    bool isSameOrigin (const juce::String& url) const;

    static bool isLoopbackHost (const juce::String& host);

    /** baseUrl with a "/" at the end. */
    static juce::String normalise (const juce::String& baseUrl);
};

} // namespace kalder::separation
