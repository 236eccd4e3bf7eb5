#include "ServiceEndpoint.h"

#include "HttpClient.h"

namespace kalder::separation
{

bool ServiceEndpoint::isLoopbackHost (const juce::String& host)
{
    const auto h = host.toLowerCase();
    if (h == "localhost" || h == "::1")
        return true;
    // 127.0.0.0/8, written as four decimal numbers.
    juce::StringArray parts;
    parts.addTokens (h, ".", {});
    if (parts.size() != 4 || parts[0] != "127")
        return false;
    for (const auto& p : parts)
        if (p.isEmpty() || ! p.containsOnly ("0123456789") || p.length() > 3 || p.getIntValue() > 255)
            return false;
    return true;
}

juce::String ServiceEndpoint::normalise (const juce::String& baseUrl)
{
    const auto url = baseUrl.trim();
    return url.endsWithChar ('/') ? url : url + "/";
}

juce::Result ServiceEndpoint::check (const juce::String& baseUrl)
{
    const auto parts = HttpClient::parseUrl (baseUrl);
    if (! parts.valid)
        return juce::Result::fail ("\"" + baseUrl + "\" is not a URL");
    if (parts.scheme == "https")
        return juce::Result::ok();
    if (parts.scheme == "http")
        return isLoopbackHost (parts.host)
                   ? juce::Result::ok()
                   : juce::Result::fail ("A separation service on another machine must be reached over HTTPS (\"" + baseUrl
                                         + "\" would send the token and the audio in clear text)");
    return juce::Result::fail ("\"" + baseUrl + "\" is neither an HTTPS nor a local HTTP address");
}

juce::Result ServiceEndpoint::checkLink (const juce::String& url) const
{
    const auto base = HttpClient::parseUrl (baseUrl);
    const auto link = HttpClient::parseUrl (url);
    if (! link.valid || (link.scheme != "http" && link.scheme != "https"))
        return juce::Result::fail ("The service gave a link that is not a web address");
    if (link.scheme != base.scheme)
        return juce::Result::fail ("The service gave a link that leaves " + base.scheme.toUpperCase() + " (" + link.scheme + ")");
    if (link.scheme == "http" && ! isLoopbackHost (link.host))
        return juce::Result::fail ("The service gave a plain HTTP link to another machine (" + link.host + ")");
    return juce::Result::ok();
}

bool ServiceEndpoint::isSameOrigin (const juce::String& url) const
{
    const auto a = HttpClient::parseUrl (baseUrl);
    const auto b = HttpClient::parseUrl (url);
    return a.valid && b.valid && a.scheme == b.scheme && a.host == b.host && a.port == b.port;
}

} // namespace kalder::separation
