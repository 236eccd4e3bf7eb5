#pragma once

#include "ServiceClock.h"

#include <juce_core/juce_core.h>

#include <string>

namespace kalder::service
{

/**
    Signs and checks the URLs that need no Authorization header: the upload of a
    request file, the downloads of output files and of releases.

    A signature is an HMAC-SHA256, under a random key that lives only in this
    process, of the method, the scope (what the URL reaches: "upload/<id>",
    "download/<id>/<file>", "release/<file>") and the expiry time. A URL for one
    job's file therefore opens nothing else, and no URL outlives its expiry or the
    service.

    Threading: immutable after construction; any thread.
*/
class UrlSigner
{
public:
    enum class Check
    {
        valid,
        missing,
        expired,
        badSignature
    };

    /** lifetimeSeconds: how long a URL made now stays valid. */
    UrlSigner (int lifetimeSeconds, std::shared_ptr<const ServiceClock> clock);

    /** The query string ("expires=...&signature=...") for a URL to scope with method. */
    std::string makeQuery (const std::string& method, const std::string& scope) const;

    /** Checks the expires and signature query values of a request to scope with method. */
    Check check (const std::string& method, const std::string& scope, const std::string& expires,
                 const std::string& signature) const;

    int getLifetimeSeconds() const noexcept { return lifetimeSeconds; }

private:
    std::string sign (const std::string& method, const std::string& scope, const std::string& expires) const;

    std::string key;
    int lifetimeSeconds;
    std::shared_ptr<const ServiceClock> clock;
};

} // namespace kalder::service
