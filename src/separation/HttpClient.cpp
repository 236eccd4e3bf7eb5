#include "HttpClient.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace kalder::separation
{

namespace
{
    void initialiseCurlOnce()
    {
        static std::once_flag once;
        std::call_once (once, [] { curl_global_init (CURL_GLOBAL_DEFAULT); });
    }

    struct Transfer
    {
        const HttpClient::Request& request;
        HttpClient::Response& response;
        std::string answer;
        std::unique_ptr<juce::InputStream> bodyIn;
        std::unique_ptr<juce::FileOutputStream> answerOut;
        size_t bodyOffset = 0;
        bool tooLarge = false, writeFailed = false;
    };

    size_t writeAnswer (char* data, size_t size, size_t count, void* user)
    {
        auto& t = *static_cast<Transfer*> (user);
        const auto n = size * count;
        if (t.response.bytesReceived + (juce::int64) n > t.request.maxAnswerBytes)
        {
            t.tooLarge = true;
            return 0; // ends the transfer
        }
        t.response.bytesReceived += (juce::int64) n;
        if (t.answerOut != nullptr)
        {
            if (! t.answerOut->write (data, n))
            {
                t.writeFailed = true;
                return 0;
            }
        }
        else
        {
            t.answer.append (data, n);
        }
        return n;
    }

    size_t readBody (char* buffer, size_t size, size_t count, void* user)
    {
        auto& t = *static_cast<Transfer*> (user);
        const auto wanted = size * count;
        if (t.bodyIn != nullptr)
        {
            const auto got = t.bodyIn->read (buffer, (int) juce::jmin<size_t> (wanted, 1 << 20));
            return got < 0 ? CURL_READFUNC_ABORT : (size_t) got;
        }
        const auto left = t.request.body.getSize() - t.bodyOffset;
        const auto n = juce::jmin (left, wanted);
        if (n > 0)
            memcpy (buffer, static_cast<const char*> (t.request.body.getData()) + t.bodyOffset, n);
        t.bodyOffset += n;
        return n;
    }

    int onProgress (void* user, curl_off_t downTotal, curl_off_t downNow, curl_off_t upTotal, curl_off_t upNow)
    {
        auto& t = *static_cast<Transfer*> (user);
        if (t.request.progress != nullptr
            && ! t.request.progress ((juce::int64) upNow, (juce::int64) upTotal, (juce::int64) downNow, (juce::int64) downTotal))
        {
            t.response.stopped = true;
            return 1; // aborts
        }
        return 0;
    }
} // namespace

HttpClient::Response HttpClient::perform (const Request& request)
{
    initialiseCurlOnce();
    Response response;
    Transfer t { request, response, {}, {}, {}, 0, false, false };

    std::unique_ptr<CURL, decltype (&curl_easy_cleanup)> curl (curl_easy_init(), &curl_easy_cleanup);
    if (curl == nullptr)
    {
        response.transportError = "The network library could not start a request";
        return response;
    }
    auto* c = curl.get();

    const auto url = request.url.toStdString();
    curl_easy_setopt (c, CURLOPT_URL, url.c_str());
    curl_easy_setopt (c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt (c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt (c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt (c, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024L);
    curl_easy_setopt (c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt (c, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt (c, CURLOPT_CONNECTTIMEOUT_MS, (long) request.connectTimeoutMs);
    if (request.totalTimeoutMs > 0)
        curl_easy_setopt (c, CURLOPT_TIMEOUT_MS, (long) request.totalTimeoutMs);
    if (request.lowSpeedBytes > 0 && request.lowSpeedSeconds > 0)
    {
        curl_easy_setopt (c, CURLOPT_LOW_SPEED_LIMIT, (long) request.lowSpeedBytes);
        curl_easy_setopt (c, CURLOPT_LOW_SPEED_TIME, (long) request.lowSpeedSeconds);
    }
    curl_easy_setopt (c, CURLOPT_WRITEFUNCTION, &writeAnswer);
    curl_easy_setopt (c, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt (c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt (c, CURLOPT_XFERINFOFUNCTION, &onProgress);
    curl_easy_setopt (c, CURLOPT_XFERINFODATA, &t);

    const auto method = request.method.toUpperCase().toStdString();
    const bool hasBody = request.bodyFile != juce::File() || request.body.getSize() > 0 || method == "POST" || method == "PUT";
    if (hasBody)
    {
        juce::int64 size = (juce::int64) request.body.getSize();
        if (request.bodyFile != juce::File())
        {
            t.bodyIn = std::make_unique<juce::BufferedInputStream> (new juce::FileInputStream (request.bodyFile), 1 << 20, true);
            if (! request.bodyFile.existsAsFile())
            {
                response.transportError = "Cannot read " + request.bodyFile.getFullPathName();
                return response;
            }
            size = t.bodyIn->getTotalLength();
        }
        curl_easy_setopt (c, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt (c, CURLOPT_READFUNCTION, &readBody);
        curl_easy_setopt (c, CURLOPT_READDATA, &t);
        curl_easy_setopt (c, CURLOPT_INFILESIZE_LARGE, (curl_off_t) size);
    }
    curl_easy_setopt (c, CURLOPT_CUSTOMREQUEST, method.c_str());

    curl_slist* headers = nullptr;
    for (const auto& h : request.headers)
        headers = curl_slist_append (headers, h.toRawUTF8());
    if (hasBody)
        headers = curl_slist_append (headers, "Expect:"); // no 100-continue round trip
    std::unique_ptr<curl_slist, decltype (&curl_slist_free_all)> headerList (headers, &curl_slist_free_all);
    curl_easy_setopt (c, CURLOPT_HTTPHEADER, headers);

    if (request.answerFile != juce::File())
    {
        t.answerOut = std::make_unique<juce::FileOutputStream> (request.answerFile, 1 << 20);
        curl_easy_setopt (c, CURLOPT_BUFFERSIZE, 512L * 1024L); // large files: fewer, larger writes
        if (! t.answerOut->openedOk() || ! t.answerOut->setPosition (0) || ! t.answerOut->truncate().wasOk())
        {
            response.transportError = "Cannot write " + request.answerFile.getFullPathName();
            return response;
        }
    }

    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt (c, CURLOPT_ERRORBUFFER, errorText);
    const auto code = curl_easy_perform (c);

    long status = 0;
    curl_easy_getinfo (c, CURLINFO_RESPONSE_CODE, &status);
    response.status = (int) status;

    if (t.answerOut != nullptr)
    {
        t.answerOut->flush();
        if (t.answerOut->getStatus().failed())
            t.writeFailed = true;
        t.answerOut.reset();
    }

    if (t.tooLarge)
        response.transportError = "The answer is larger than " + juce::String (request.maxAnswerBytes) + " bytes";
    else if (t.writeFailed)
        response.transportError = "Cannot write " + request.answerFile.getFullPathName() + " (is the disk full?)";
    else if (response.stopped)
        response.transportError = "Stopped";
    else if (code == CURLE_OPERATION_TIMEDOUT)
        response.transportError = "The server did not answer in time";
    else if (code != CURLE_OK)
        response.transportError = juce::String (errorText[0] != 0 ? errorText : curl_easy_strerror (code));
    else if (status >= 300 && status < 400)
    {
        char* location = nullptr;
        curl_easy_getinfo (c, CURLINFO_REDIRECT_URL, &location);
        response.transportError = "The server redirected the request"
                                  + (location != nullptr ? " to " + juce::String (location) : juce::String())
                                  + "; redirects are not followed";
    }

    if (t.answerOut == nullptr && request.answerFile == juce::File())
        response.body = juce::String::fromUTF8 (t.answer.data(), (int) t.answer.size());
    return response;
}

HttpClient::UrlParts HttpClient::parseUrl (const juce::String& url)
{
    UrlParts parts;
    std::unique_ptr<CURLU, decltype (&curl_url_cleanup)> u (curl_url(), &curl_url_cleanup);
    if (u == nullptr || curl_url_set (u.get(), CURLUPART_URL, url.toRawUTF8(), 0) != CURLUE_OK)
        return parts;

    auto get = [&u] (CURLUPart part, juce::String& out) {
        char* text = nullptr;
        if (curl_url_get (u.get(), part, &text, 0) != CURLUE_OK || text == nullptr)
            return false;
        out = juce::String::fromUTF8 (text);
        curl_free (text);
        return true;
    };
    juce::String port;
    if (! get (CURLUPART_SCHEME, parts.scheme) || ! get (CURLUPART_HOST, parts.host))
        return parts;
    parts.scheme = parts.scheme.toLowerCase();
    parts.host = parts.host.toLowerCase().unquoted().removeCharacters ("[]");
    char* portText = nullptr;
    if (curl_url_get (u.get(), CURLUPART_PORT, &portText, CURLU_DEFAULT_PORT) == CURLUE_OK && portText != nullptr)
    {
        parts.port = juce::String (portText).getIntValue();
        curl_free (portText);
    }
    parts.valid = parts.host.isNotEmpty();
    return parts;
}

} // namespace kalder::separation
