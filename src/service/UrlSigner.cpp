#include "UrlSigner.h"

#include "AccessToken.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace kalder::service
{

namespace
{
    constexpr int keyBytes = 32;
} // namespace

UrlSigner::UrlSigner (int lifetime, std::shared_ptr<const ServiceClock> c)
    : key (AccessToken::makeRandomHex (keyBytes)), lifetimeSeconds (lifetime), clock (std::move (c))
{
    jassert (! key.empty());
}

std::string UrlSigner::sign (const std::string& method, const std::string& scope, const std::string& expires) const
{
    const auto message = method + "\n" + scope + "\n" + expires;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (HMAC (EVP_sha256(), key.data(), static_cast<int> (key.size()), reinterpret_cast<const unsigned char*> (message.data()),
              message.size(), digest, &digestLength)
        == nullptr)
        return {};

    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < digestLength; ++i)
    {
        hex += digits[digest[i] >> 4];
        hex += digits[digest[i] & 15];
    }
    return hex;
}

std::string UrlSigner::makeQuery (const std::string& method, const std::string& scope) const
{
    const auto expires = std::to_string (clock->wallSeconds() + lifetimeSeconds);
    return "expires=" + expires + "&signature=" + sign (method, scope, expires);
}

UrlSigner::Check UrlSigner::check (const std::string& method, const std::string& scope, const std::string& expires,
                                   const std::string& signature) const
{
    if (expires.empty() || signature.empty() || expires.size() > 18
        || expires.find_first_not_of ("0123456789") != std::string::npos)
        return Check::missing;

    const auto expected = sign (method, scope, expires);
    if (expected.empty() || signature.size() != expected.size()
        || CRYPTO_memcmp (signature.data(), expected.data(), expected.size()) != 0)
        return Check::badSignature;

    if (std::stoll (expires) < clock->wallSeconds())
        return Check::expired;
    return Check::valid;
}

} // namespace kalder::service
