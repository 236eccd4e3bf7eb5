#pragma once

#include <juce_core/juce_core.h>

#include <string>

namespace kalder::service
{

/**
    The service's access token: the secret that every request except the signed-URL
    transfers carries in its Authorization header.

    The token lives in a file readable by its owner only. When the file does not
    exist a random token is made and written with mode 0600, created exclusively so
    that no other process can slip a file of its own in between.

    Threading: stateless; any thread.
*/
class AccessToken
{
public:
    /** Reads the token from tokenFile, or creates the file with a new random token. */
    static juce::Result loadOrCreate (const juce::File& tokenFile, std::string& token);

    /** numBytes of cryptographically random data, as lower-case hex. */
    static std::string makeRandomHex (int numBytes);

    /** True when an Authorization header value ("<token>" or "Bearer <token>")
        carries the token; the comparison takes the same time wherever they differ. */
    static bool isAuthorised (const std::string& headerValue, const std::string& token);
};

} // namespace kalder::service
