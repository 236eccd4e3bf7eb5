#include "AccessToken.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kalder::service
{

namespace
{
    constexpr int tokenBytes = 32;
    constexpr size_t minimumTokenLength = 16;
} // namespace

std::string AccessToken::makeRandomHex (int numBytes)
{
    std::vector<unsigned char> bytes (static_cast<size_t> (numBytes));
    if (RAND_bytes (bytes.data(), numBytes) != 1)
        return {}; // callers treat an empty token as a failure

    static const char* digits = "0123456789abcdef";
    std::string hex;
    hex.reserve (bytes.size() * 2);
    for (auto b : bytes)
    {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

juce::Result AccessToken::loadOrCreate (const juce::File& tokenFile, std::string& token)
{
    token.clear();

    if (tokenFile.existsAsFile())
    {
        if (tokenFile.getSize() > 4096)
            return juce::Result::fail ("The token file " + tokenFile.getFullPathName() + " is too large");

        token = tokenFile.loadFileAsString().trim().toStdString();
        if (token.size() < minimumTokenLength)
        {
            token.clear();
            return juce::Result::fail ("The token in " + tokenFile.getFullPathName() + " is shorter than 16 characters");
        }
        return juce::Result::ok();
    }

    if (! tokenFile.getParentDirectory().createDirectory())
        return juce::Result::fail ("Cannot create the folder of " + tokenFile.getFullPathName());

    const auto fresh = makeRandomHex (tokenBytes);
    if (fresh.empty())
        return juce::Result::fail ("No random bytes for the access token");

    const int fd = ::open (tokenFile.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return juce::Result::fail ("Cannot create the token file " + tokenFile.getFullPathName());

    const auto line = fresh + "\n";
    const auto written = ::write (fd, line.data(), line.size());
    ::close (fd);
    if (written != static_cast<ssize_t> (line.size()))
    {
        tokenFile.deleteFile();
        return juce::Result::fail ("Cannot write the token file " + tokenFile.getFullPathName());
    }

    token = fresh;
    return juce::Result::ok();
}

bool AccessToken::isAuthorised (const std::string& headerValue, const std::string& token)
{
    if (token.empty())
        return false;

    std::string presented = headerValue;
    static const std::string bearer = "Bearer ";
    if (presented.compare (0, bearer.size(), bearer) == 0)
        presented = presented.substr (bearer.size());

    if (presented.size() != token.size())
        return false;
    return CRYPTO_memcmp (presented.data(), token.data(), token.size()) == 0;
}

} // namespace kalder::service
