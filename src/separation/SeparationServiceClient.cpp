#include "SeparationServiceClient.h"

#include "base/BoundedJson.h"

#include <sys/stat.h>

namespace kalder::separation
{

namespace
{
    const char* const unreachableText = "The separation service could not be reached";

    juce::String quoted (const juce::String& name)
    {
        juce::String shown;
        for (auto c : name.substring (0, 60))
            shown << (c < 32 || c == 127 ? juce::String ("?") : juce::String::charToString (c));
        return "\"" + shown + (name.length() > 60 ? "...\"" : "\"");
    }

    bool isReservedDeviceName (const juce::String& name)
    {
        const auto base = name.upToFirstOccurrenceOf (".", false, false).trim().toUpperCase();
        static const juce::StringArray reserved { "CON", "PRN", "AUX", "NUL" };
        if (reserved.contains (base))
            return true;
        return (base.startsWith ("COM") || base.startsWith ("LPT")) && base.length() == 4 && base[3] >= '0' && base[3] <= '9';
    }

    /** Whether the first bytes of a file say RIFF/WAVE (or the 64-bit forms). */
    bool looksLikeWav (const juce::File& file)
    {
        juce::FileInputStream in (file);
        char head[12] = {};
        if (! in.openedOk() || in.read (head, 12) != 12)
            return false;
        const auto riff = juce::String (head, 4);
        return (riff == "RIFF" || riff == "RF64") && juce::String (head + 8, 4) == "WAVE";
    }
} // namespace

SeparationServiceClient::SeparationServiceClient (ServiceEndpoint e) : endpoint (std::move (e))
{
    endpoint.baseUrl = ServiceEndpoint::normalise (endpoint.baseUrl);
}

HttpClient::Request SeparationServiceClient::makeRequest (const juce::String& method, const juce::String& path) const
{
    HttpClient::Request r;
    r.method = method;
    r.url = endpoint.baseUrl + path;
    r.headers.add ("Authorization: " + endpoint.token);
    r.maxAnswerBytes = ServiceAnswers::maxAnswerBytes;
    r.connectTimeoutMs = 10000;
    r.totalTimeoutMs = endpoint.answerTimeoutMs; // an answer that trickles in ends here
    return r;
}

juce::Result SeparationServiceClient::readAnswer (const HttpClient::Response& response, const juce::String& messageMember,
                                                  juce::String& body) const
{
    body = response.body;
    if (response.stopped)
        return juce::Result::fail ("Cancelled");
    if (! response.completed())
        return juce::Result::fail (juce::String (response.status == 0 ? unreachableText : "The separation service failed") + " ("
                                   + response.transportError + ")");
    if (response.status == 401)
        return juce::Result::fail ("The separation service refused the access token (401). Check the token in the separation "
                                   "settings.");
    if (response.status >= 400)
    {
        // The service's own message when it gave one, else the status.
        juce::var answer;
        if (BoundedJson::parseObject (body, answer, ServiceAnswers::maxAnswerBytes, ServiceAnswers::maxAnswerDepth).wasOk())
            for (const auto* member : { messageMember.toRawUTF8(), "message", "Message" })
                if (const auto m = answer.getProperty (member, {}); m.isString() && m.toString().isNotEmpty())
                    return juce::Result::fail (m.toString().substring (0, 500) + " (" + juce::String (response.status) + ")");
        return juce::Result::fail ("The separation service answered with status " + juce::String (response.status));
    }
    return juce::Result::ok();
}

juce::Result SeparationServiceClient::create (ApiPath path, ServiceAnswers::CreateResult& result,
                                              const std::function<void (double)>& progress, StopCheck stop)
{
    auto request = makeRequest ("POST", path == ApiPath::legacy ? "api/separation/legacy/create" : "api/separation/create");
    request.connectTimeoutMs = 20000;
    request.progress = [&] (juce::int64 sent, juce::int64 total, juce::int64, juce::int64) {
        if (progress && total > 0)
            progress (juce::jlimit (0.0, 1.0, (double) sent * 0.95 / (double) total));
        return ! (stop && stop());
    };
    const auto response = HttpClient::perform (request);
    if (progress)
        progress (1.0);

    juce::String body;
    if (auto r = readAnswer (response, "Message", body); r.failed())
        return r;
    return ServiceAnswers::readCreateAnswer (body, result);
}

juce::Result SeparationServiceClient::upload (const juce::String& signedUrl, const juce::String& method,
                                              const juce::File& requestFile, const TransferProgress& progress, StopCheck stop)
{
    if (auto r = endpoint.checkLink (signedUrl); r.failed())
        return r;
    if (method != "PUT" && method != "POST")
        return juce::Result::fail ("The service asked for an upload with the method " + quoted (method));

    HttpClient::Request request;
    request.method = method;
    request.url = signedUrl; // the link is the permission: no token
    request.headers.add ("Content-Type: text/plain");
    request.bodyFile = requestFile;
    request.maxAnswerBytes = ServiceAnswers::maxAnswerBytes;
    request.totalTimeoutMs = 0; // a long song takes its time; a stall ends it instead
    request.lowSpeedBytes = transferStallBytes;
    request.lowSpeedSeconds = transferStallSeconds;
    request.progress = [&] (juce::int64 sent, juce::int64 total, juce::int64, juce::int64) {
        if (stop && stop())
            return false;
        return ! progress || progress (sent, total);
    };
    const auto response = HttpClient::perform (request);
    juce::String body;
    if (auto r = readAnswer (response, "message", body); r.failed())
        return juce::Result::fail ("The request could not be sent: " + r.getErrorMessage());
    return juce::Result::ok();
}

juce::Result SeparationServiceClient::start (juce::String& separationId, int algorithm, const juce::NamedValueSet* parameters,
                                             juce::int64 fileSize, ApiPath path)
{
    auto* body = new juce::DynamicObject();
    juce::var bodyVar (body);
    body->setProperty ("separationId", separationId);
    body->setProperty ("separationAlgorithm", juce::String (algorithm));
    if (parameters != nullptr)
    {
        auto* params = new juce::DynamicObject();
        for (const auto& p : *parameters)
            params->setProperty (p.name, p.value);
        body->setProperty ("separationParameters", juce::var (params));
    }
    body->setProperty ("fileSize", fileSize);

    auto request = makeRequest ("PUT", path == ApiPath::legacy ? "api/separation/legacy/start" : "api/separation/start");
    request.connectTimeoutMs = 10000;
    request.headers.add ("Content-Type: application/json");
    const auto json = juce::JSON::toString (bodyVar, true);
    request.body.append (json.toRawUTF8(), json.getNumBytesAsUTF8());

    const auto response = HttpClient::perform (request);
    if (! response.completed() || response.body.isEmpty())
        return juce::Result::fail (startFailedText);
    juce::String answer;
    if (auto r = readAnswer (response, "message", answer); r.failed())
        return r;
    juce::var parsed;
    if (BoundedJson::parseObject (answer, parsed, ServiceAnswers::maxAnswerBytes, ServiceAnswers::maxAnswerDepth).failed())
        return juce::Result::fail (startFailedText);

    juce::String newId;
    if (auto r = ServiceAnswers::readStartAnswer (answer, newId); r.failed())
        return r;
    if (newId.isNotEmpty())
        separationId = newId;
    return juce::Result::ok();
}

juce::Result SeparationServiceClient::getProgress (const juce::String& separationId, ServiceAnswers::Progress& progress)
{
    const auto response = HttpClient::perform (
        makeRequest ("GET", "api/separation/progress/" + juce::URL::addEscapeChars (separationId, false)));
    juce::String body;
    if (auto r = readAnswer (response, "message", body); r.failed())
        return r;
    return ServiceAnswers::readProgressAnswer (body, progress);
}

juce::Result SeparationServiceClient::checkOutputNames (const juce::Array<ServiceAnswers::OutputFile>& files)
{
    if (files.isEmpty())
        return juce::Result::fail ("The separation service returned no files");
    if (files.size() > maxOutputFiles)
        return juce::Result::fail ("The separation service listed " + juce::String (files.size()) + " files; at most "
                                   + juce::String (maxOutputFiles) + " are taken");

    juce::StringArray seen;
    for (const auto& f : files)
    {
        const auto& name = f.name;
        const bool plain = name.isNotEmpty() && name.length() <= maxOutputNameLength && ! name.startsWithChar ('.')
                           && name.containsOnly ("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 -_.")
                           && ! name.contains ("..") && name == name.trim();
        const auto extension = name.fromLastOccurrenceOf (".", true, false).toLowerCase();
        if (! plain || (extension != ".wav" && extension != ".mtx" && extension != ".vtr") || isReservedDeviceName (name))
            return juce::Result::fail ("The separation service returned a file name that is not safe to use: " + quoted (name));
        if (seen.contains (name, true))
            return juce::Result::fail ("The separation service returned the file " + quoted (name) + " twice");
        if (f.size < 0)
            return juce::Result::fail ("The separation service announced a negative size for " + quoted (name));
        seen.add (name);
    }
    return juce::Result::ok();
}

juce::Result SeparationServiceClient::getOutputFiles (const juce::String& separationId,
                                                      juce::Array<ServiceAnswers::OutputFile>& files)
{
    const auto response = HttpClient::perform (
        makeRequest ("GET", "api/separation/files/" + juce::URL::addEscapeChars (separationId, false)));
    juce::String body;
    if (auto r = readAnswer (response, "message", body); r.failed())
        return r;
    if (auto r = ServiceAnswers::readOutputFilesAnswer (body, files); r.failed())
        return r;
    if (auto r = checkOutputNames (files); r.failed())
        return r;
    for (const auto& f : files)
        if (auto r = endpoint.checkLink (f.signedUrl); r.failed())
            return r;
    return juce::Result::ok();
}

juce::Result SeparationServiceClient::download (const juce::String& signedUrl, const juce::File& target,
                                                juce::int64 announcedSize, bool expectWav, const TransferProgress& progress,
                                                StopCheck stop)
{
    if (auto r = endpoint.checkLink (signedUrl); r.failed())
        return r;

    juce::TemporaryFile temp (target);
    HttpClient::Request request;
    request.url = signedUrl;
    if (endpoint.isSameOrigin (signedUrl))
        request.headers.add ("Authorization: " + endpoint.token);
    request.answerFile = temp.getFile();
    // Never more than announced; without an announcement, a generous bound (a 2-hour 8-channel 32-bit file at 192 kHz).
    request.maxAnswerBytes = announcedSize > 0 ? announcedSize : (juce::int64) 48 << 30;
    request.totalTimeoutMs = 0;
    request.lowSpeedBytes = transferStallBytes;
    request.lowSpeedSeconds = transferStallSeconds;
    request.progress = [&] (juce::int64, juce::int64, juce::int64 received, juce::int64 total) {
        if (stop && stop())
            return false;
        return ! progress || progress (received, announcedSize > 0 ? announcedSize : total);
    };
    const auto response = HttpClient::perform (request);
    if (response.stopped)
        return juce::Result::fail ("Cancelled");
    if (! response.isSuccess())
    {
        juce::Logger::writeToLog ("Error when downloading from signed url: " + juce::String (response.status) + " "
                                  + response.transportError);
        return juce::Result::fail (
            juce::String (downloadFailedText) + " ("
            + (response.transportError.isNotEmpty() ? response.transportError : "status " + juce::String (response.status))
            + ")");
    }
    if (announcedSize > 0 && response.bytesReceived != announcedSize)
        return juce::Result::fail (juce::String (downloadFailedText) + " (" + target.getFileName() + " stopped at "
                                   + juce::String (response.bytesReceived) + " of " + juce::String (announcedSize) + " bytes)");
    if (expectWav && ! looksLikeWav (temp.getFile()))
        return juce::Result::fail ("The separation service sent " + target.getFileName() + ", which is not a WAV file");
    if (! temp.overwriteTargetFileWithTemporary())
        return juce::Result::fail ("Cannot write " + target.getFullPathName() + " (is the disk full?)");
    return juce::Result::ok();
}

juce::Result SeparationServiceClient::cancel (const juce::String& separationId)
{
    auto request = makeRequest ("POST", "api/separation/cancel/" + juce::URL::addEscapeChars (separationId, false));
    request.connectTimeoutMs = 3000;
    request.totalTimeoutMs = juce::jmin (5000, endpoint.answerTimeoutMs);
    const auto response = HttpClient::perform (request);
    juce::String body;
    return readAnswer (response, "message", body);
}

juce::Result SeparationServiceClient::getLatestVersion (const juce::String& currentVersion, VersionInfo& info)
{
    const auto response = HttpClient::perform (
        makeRequest ("GET", juce::String ("api/version/latest?code=") + productCode + "&os=" + osName
                                + "&version=" + juce::URL::addEscapeChars (currentVersion, true)));
    juce::String body;
    if (auto r = readAnswer (response, "message", body); r.failed())
        return r;
    juce::var object;
    if (auto r = ServiceAnswers::readObject (body, "message", object); r.failed())
        return r;
    info.version = object.getProperty ("version", {}).toString();
    info.newer = static_cast<bool> (object.getProperty ("newer", false));
    if (info.version.isEmpty())
        return juce::Result::fail ("Couldn't find latest available version for current software.");
    return juce::Result::ok();
}

juce::Result SeparationServiceClient::downloadVersion (const juce::String& version, const juce::File& folder, juce::File& target,
                                                       StopCheck stop)
{
    const auto response = HttpClient::perform (makeRequest ("GET", juce::String ("api/version/download?code=") + productCode
                                                                       + "&version=" + juce::URL::addEscapeChars (version, true)
                                                                       + "&os=" + osName));
    juce::String body;
    if (auto r = readAnswer (response, "message", body); r.failed())
        return r;
    juce::var answer;
    if (BoundedJson::parseObject (body, answer, ServiceAnswers::maxAnswerBytes, ServiceAnswers::maxAnswerDepth).failed())
        return juce::Result::fail ("Couldn't get download link for latest available version of current software.");
    if (ServiceAnswers::isErrorFlagSet (answer.getProperty ("error", {})))
    {
        const auto m = answer.getProperty ("message", {});
        return juce::Result::fail (m.isString() && m.toString().isNotEmpty() ? m.toString() : "An unexpected error occurred.");
    }
    const auto link = answer.getProperty ("object", {}).getProperty ("signedUrl", {}).toString();
    if (link.isEmpty())
        return juce::Result::fail ("Couldn't get download link for latest available version of current software.");
    juce::Logger::writeToLog ("Version download link received");

    // A folder of our own, never a fixed name in a shared folder.
    const auto privateFolder = folder.getNonexistentChildFile ("kalder-version", {}, false);
    if (! privateFolder.createDirectory())
        return juce::Result::fail ("Error when downloading file");
    ::chmod (privateFolder.getFullPathName().toRawUTF8(), 0700);
    target = privateFolder.getChildFile ("tempVersion.zip");
    if (auto r = download (link, target, 0, false, {}, std::move (stop)); r.failed())
    {
        privateFolder.deleteRecursively();
        return juce::Result::fail ("Error when downloading file");
    }
    return juce::Result::ok();
}

} // namespace kalder::separation
