#include "SeparationServer.h"

#include "AccessToken.h"
#include "base/BoundedJson.h"
#include "separation/ServiceAnswers.h"

#include <httplib.h>

namespace kalder::service
{

using separation::ServiceAnswers;

namespace
{
    const std::string jsonType = "application/json";
    const std::string uploadPrefix = "/api/separation/upload/";
    const std::string downloadPrefix = "/api/separation/download/";
    const std::string releasePrefix = "/api/version/file/";
    constexpr size_t transferChunkBytes = 64 * 1024;

    /** Text from the request, which may hold any bytes once httplib has decoded %-escapes.
        JUCE walks UTF-8 by its lead bytes, so malformed text could make it read past the
        end: such text keeps its ASCII and has every other byte replaced by '?'. */
    juce::String fromWire (const std::string& text)
    {
        const auto size = static_cast<int> (juce::jmin (text.size(), static_cast<size_t> (1 << 20)));
        if (std::memchr (text.data(), 0, static_cast<size_t> (size)) == nullptr
            && juce::CharPointer_UTF8::isValidString (text.data(), size))
            return juce::String::fromUTF8 (text.data(), size);

        std::string ascii (text.data(), static_cast<size_t> (size));
        for (auto& c : ascii)
            if (static_cast<unsigned char> (c) >= 0x80 || c == 0)
                c = '?';
        return juce::String (ascii);
    }

    void answer (httplib::Response& res, int status, const juce::var& body)
    {
        res.status = status;
        res.set_content (ServiceAnswers::toJson (body).toStdString(), jsonType);
    }

    void answerError (httplib::Response& res, int status, const juce::String& message)
    {
        answer (res, status, ServiceAnswers::makeError (message));
    }

    /** Refuses a request without reading its body. The answer asks the client to close the
        connection; httplib itself keeps it open, so whatever the client still sends is read
        as the next request line (at most 8 KiB) and refused. */
    void refuseUnread (httplib::Response& res, int status, const juce::String& message)
    {
        answerError (res, status, message);
        res.set_header ("Connection", "close");
    }

    std::optional<juce::int64> getContentLength (const httplib::Request& req)
    {
        if (! req.has_header ("Content-Length"))
            return std::nullopt;
        const auto text = req.get_header_value ("Content-Length");
        if (text.empty() || text.size() > 18 || text.find_first_not_of ("0123456789") != std::string::npos)
            return juce::int64 (-1);
        return static_cast<juce::int64> (std::stoll (text));
    }

    bool isChunked (const httplib::Request& req)
    {
        return fromWire (req.get_header_value ("Transfer-Encoding")).containsIgnoreCase ("chunked");
    }

    /** Reads and drops a small body the request does not use (the pre-routing check has
        bounded it), so that a kept-alive connection starts its next request in the right place.
        A body-less POST without Content-Length, as curl -X POST sends it, is accepted. */
    void discardBody (const httplib::Request& req, const httplib::ContentReader& reader)
    {
        const auto length = getContentLength (req);
        if (length.has_value() && *length > 0)
            reader ([] (const char*, size_t) { return true; });
    }

    /** Serves a file in chunks from disk, never whole in memory. */
    void serveFile (httplib::Response& res, const juce::File& file, const std::string& contentType,
                    const juce::String& downloadName)
    {
        auto stream = std::make_shared<juce::FileInputStream> (file);
        if (stream->failedToOpen())
        {
            answerError (res, 404, "The file is no longer available");
            return;
        }

        res.status = 200;
        res.set_header ("Content-Disposition", ("attachment; filename=\"" + downloadName + "\"").toStdString());
        res.set_content_provider (static_cast<size_t> (stream->getTotalLength()), contentType,
                                  [stream] (size_t offset, size_t length, httplib::DataSink& sink) {
                                      if (! stream->setPosition (static_cast<juce::int64> (offset)))
                                          return false;
                                      std::vector<char> buffer (juce::jmin (length, transferChunkBytes));
                                      const auto n = stream->read (buffer.data(), static_cast<int> (buffer.size()));
                                      return n > 0 && sink.write (buffer.data(), static_cast<size_t> (n));
                                  });
    }

    /** Versions compare by their numeric fields: 1.10.0 > 1.9.2. */
    bool isNewerVersion (const juce::String& a, const juce::String& b)
    {
        juce::StringArray fa, fb;
        fa.addTokens (a, ".", {});
        fb.addTokens (b, ".", {});
        for (int i = 0; i < juce::jmax (fa.size(), fb.size()); ++i)
        {
            const auto x = fa[i].getIntValue(), y = fb[i].getIntValue();
            if (x != y)
                return x > y;
        }
        return false;
    }

    bool isSafeToken (const juce::String& s, int maxLength)
    {
        return s.isNotEmpty() && s.length() <= maxLength
               && s.containsOnly ("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.-") && ! s.startsWith (".");
    }

    /** The releases offered: files "<code>-<version>-<os>.zip" in the release folder. */
    struct Release
    {
        juce::String code, version, os;
        juce::File file;
    };

    std::vector<Release> findReleases (const juce::File& folder, const juce::String& code, const juce::String& os)
    {
        std::vector<Release> releases;
        if (! folder.isDirectory())
            return releases;

        for (const auto& entry : juce::RangedDirectoryIterator (folder, false, "*.zip", juce::File::findFiles))
        {
            juce::StringArray parts;
            parts.addTokens (entry.getFile().getFileNameWithoutExtension(), "-", {});
            if (parts.size() != 3 || ! parts[1].containsOnly ("0123456789."))
                continue;
            if (parts[0] == code && parts[2] == os)
                releases.push_back ({ parts[0], parts[1], parts[2], entry.getFile() });
        }
        return releases;
    }

    juce::String nowText()
    {
        return juce::Time::getCurrentTime().toISO8601 (true);
    }
} // namespace

SeparationServer::SeparationServer (const Settings& s, JobManager& jobManager, std::string accessToken)
    : settings (s),
      jobs (jobManager),
      token (std::move (accessToken)),
      signer (s.urlLifetimeSeconds, s.clock),
      server (std::make_unique<httplib::Server>())
{
    const auto threads = static_cast<size_t> (juce::jmax (8, settings.connectionThreads));
    server->new_task_queue = [threads] { return new httplib::ThreadPool (threads); };
    server->set_read_timeout (settings.readTimeoutSeconds, 0);
    server->set_write_timeout (settings.readTimeoutSeconds, 0);
    server->set_keep_alive_timeout (5);
    server->set_keep_alive_max_count (100);
    server->set_payload_max_length (static_cast<size_t> (settings.maxUploadBytes));
    registerRoutes();
}

SeparationServer::~SeparationServer()
{
    stop();
}

juce::Result SeparationServer::start()
{
    if (settings.port == 0)
    {
        boundPort = server->bind_to_any_port (settings.host);
        if (boundPort <= 0)
            return juce::Result::fail ("Cannot listen on " + juce::String (settings.host));
    }
    else
    {
        if (! server->bind_to_port (settings.host, settings.port))
            return juce::Result::fail ("Cannot listen on " + juce::String (settings.host) + ":" + juce::String (settings.port));
        boundPort = settings.port;
    }

    listener = std::thread ([this] { server->listen_after_bind(); });
    return juce::Result::ok();
}

void SeparationServer::stop()
{
    if (listener.joinable())
    {
        server->stop();
        listener.join();
    }
}

juce::String SeparationServer::getBaseUrl() const
{
    auto host = juce::String (settings.host);
    if (host.containsChar (':'))
        host = "[" + host + "]"; // an IPv6 address
    return "http://" + host + ":" + juce::String (boundPort) + "/";
}

juce::String SeparationServer::getBaseUrlFor (const httplib::Request& req) const
{
    // Signed URLs point back at the address the client reached us by, which matters
    // when the service listens on all interfaces.
    const juce::String host (req.get_header_value ("Host"));
    if (host.isNotEmpty() && host.length() <= 255
        && host.containsOnly ("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-:[]"))
        return "http://" + host + "/";
    return getBaseUrl();
}

bool SeparationServer::isSignedTransfer (const std::string& path) const
{
    return path.compare (0, uploadPrefix.size(), uploadPrefix) == 0
           || path.compare (0, downloadPrefix.size(), downloadPrefix) == 0
           || path.compare (0, releasePrefix.size(), releasePrefix) == 0;
}

bool SeparationServer::checkSignature (const httplib::Request& req, httplib::Response& res, const std::string& method,
                                       const std::string& scope) const
{
    switch (signer.check (method, scope, req.get_param_value ("expires"), req.get_param_value ("signature")))
    {
        case UrlSigner::Check::valid:
            return true;
        case UrlSigner::Check::missing:
            answerError (res, 403, "The URL is not signed");
            break;
        case UrlSigner::Check::expired:
            answerError (res, 403, "The signed URL has expired");
            break;
        case UrlSigner::Check::badSignature:
            answerError (res, 403, "The URL's signature is not valid for this file");
            break;
    }
    res.set_header ("Connection", "close");
    return false;
}

void SeparationServer::registerRoutes()
{
    server->set_expect_100_continue_handler ([this] (const httplib::Request& req, httplib::Response& res) {
        const auto length = getContentLength (req);
        const auto limit = isSignedTransfer (req.path) ? settings.maxUploadBytes : juce::int64 (maxJsonBytes);
        if (length.has_value() && *length > limit)
        {
            refuseUnread (res, 413, "The body is larger than the limit of " + juce::String (limit) + " bytes");
            return 413;
        }
        return 100;
    });

    server->set_pre_routing_handler ([this] (const httplib::Request& req, httplib::Response& res) {
        if (isSignedTransfer (req.path))
            return httplib::Server::HandlerResponse::Unhandled;

        if (! AccessToken::isAuthorised (req.get_header_value ("Authorization"), token))
        {
            refuseUnread (res, 401, "Missing or wrong access token in the Authorization header");
            return httplib::Server::HandlerResponse::Handled;
        }

        const auto length = getContentLength (req);
        if (length.has_value() && (*length < 0 || *length > maxJsonBytes))
        {
            refuseUnread (res, 413, "The body is larger than the limit of " + juce::String (maxJsonBytes) + " bytes");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (isChunked (req))
        {
            refuseUnread (res, 411, "Send the body with a Content-Length");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });

    server->set_error_handler ([] (const httplib::Request&, httplib::Response& res) {
        if (! res.body.empty())
            return;
        if (res.status == 404)
            answerError (res, 404, "There is no such request in the protocol");
        else if (res.status == 413)
            answerError (res, 413, "The body is larger than the limit");
        else
            answerError (res, res.status, "The request could not be served (HTTP " + juce::String (res.status) + ")");
    });

    server->set_exception_handler ([] (const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        answerError (res, 500, "The service failed to handle the request");
    });

    server->set_logger ([this] (const httplib::Request& req, const httplib::Response& res) {
        if (! settings.log)
            return;
        // A request line httplib could not parse (for example the rest of a body refused
        // unread on a kept-alive connection) has no method or path.
        const auto what = req.method.empty() ? juce::String ("(unreadable request)")
                                             : fromWire (req.method) + " " + fromWire (req.path);
        settings.log (nowText() + " " + (req.remote_addr.empty() ? juce::String ("-") : fromWire (req.remote_addr)) + " " + what
                      + " " + juce::String (res.status));
    });

    using Req = const httplib::Request&;
    using Res = httplib::Response&;
    using Reader = const httplib::ContentReader&;

    server->Post (R"(/api/separation(/legacy)?/create)", [this] (Req q, Res s, Reader r) {
        discardBody (q, r);
        handleCreate (q, s);
    });
    server->Put (R"(/api/separation/upload/([^/]+))", [this] (Req q, Res s, Reader r) { handleUpload (q, s, r); });
    server->Put (R"(/api/separation(/legacy)?/start)", [this] (Req q, Res s, Reader r) { handleStart (q, s, r); });
    server->Get (R"(/api/separation/progress/([^/]+))", [this] (Req q, Res s) { handleProgress (q, s); });
    server->Get (R"(/api/separation/files/([^/]+))", [this] (Req q, Res s) { handleOutputFiles (q, s); });
    server->Get (R"(/api/separation/download/([^/]+)/([^/]+))", [this] (Req q, Res s) { handleDownload (q, s); });
    server->Post (R"(/api/separation/cancel/([^/]+))", [this] (Req q, Res s, Reader r) {
        discardBody (q, r);
        handleCancel (q, s);
    });
    server->Get ("/api/version/latest", [this] (Req q, Res s) { handleLatestVersion (q, s); });
    server->Get ("/api/version/download", [this] (Req q, Res s) { handleVersionDownload (q, s); });
    server->Get (R"(/api/version/file/([^/]+))", [this] (Req q, Res s) { handleReleaseFile (q, s); });

    // The upload URL takes its signed method only.
    const auto wrongMethod = [] (Req, Res s) {
        refuseUnread (s, 405, "Upload the request file with the method the create answer named (PUT)");
    };
    server->Post (R"(/api/separation/upload/([^/]+))", wrongMethod);
    server->Get (R"(/api/separation/upload/([^/]+))", wrongMethod);
}

void SeparationServer::handleCreate (const httplib::Request& req, httplib::Response& res)
{
    const auto path = req.matches[1].matched ? separation::ApiPath::legacy : separation::ApiPath::current;
    juce::String error;
    const auto job = jobs.createJob (path, error);
    if (job == nullptr)
    {
        answerError (res, 503, error);
        return;
    }

    const auto scope = "upload/" + job->getId().toStdString();
    ServiceAnswers::CreateResult created;
    created.separationId = job->getId();
    created.signedUrl = getBaseUrlFor (req) + "api/separation/upload/" + job->getId() + "?" + signer.makeQuery ("PUT", scope);
    created.method = "PUT";
    answer (res, 200, ServiceAnswers::makeCreateAnswer (created));
}

void SeparationServer::handleUpload (const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader)
{
    const auto id = fromWire (req.matches[1].str());
    if (! checkSignature (req, res, "PUT", "upload/" + id.toStdString()))
        return;

    const auto job = jobs.findJob (id);
    if (job == nullptr)
    {
        refuseUnread (res, 404, "Unknown or expired separation id");
        return;
    }

    const auto length = getContentLength (req);
    if (length.has_value() && *length < 0)
    {
        refuseUnread (res, 400, "The Content-Length is not a number");
        return;
    }
    if (length.has_value() && *length > settings.maxUploadBytes)
    {
        refuseUnread (res, 413,
                      "The request file is larger than the limit of " + juce::String (settings.maxUploadBytes) + " bytes");
        if (job->moveState (SeparationJob::State::awaitingUpload, SeparationJob::State::uploading))
            job->fail ("The request file was larger than the limit");
        return;
    }
    if (! length.has_value() && ! isChunked (req))
    {
        refuseUnread (res, 411, "Send the request file with a Content-Length");
        return;
    }

    if (! job->moveState (SeparationJob::State::awaitingUpload, SeparationJob::State::uploading))
    {
        const auto status = job->getStatus();
        refuseUnread (res, 409,
                      status.state == SeparationJob::State::failed
                          ? "The separation has failed: " + status.error
                          : juce::String ("The request file of this separation has already been uploaded"));
        return;
    }

    juce::int64 received = 0;
    bool tooLarge = false, writeFailed = false;
    bool readOk = false;
    {
        job->getRequestFile().deleteFile(); // FileOutputStream appends; start from nothing
        juce::FileOutputStream out (job->getRequestFile());
        writeFailed = out.failedToOpen();
        if (! writeFailed)
        {
            readOk = reader ([&] (const char* data, size_t size) {
                received += static_cast<juce::int64> (size);
                if (received > settings.maxUploadBytes)
                {
                    tooLarge = true;
                    return false;
                }
                if (! out.write (data, size))
                {
                    writeFailed = true;
                    return false;
                }
                return true;
            });
            out.flush();
            writeFailed = writeFailed || out.getStatus().failed();
        }
    }

    if (tooLarge)
    {
        job->getRequestFile().deleteFile();
        job->fail ("The request file was larger than the limit");
        refuseUnread (res, 413,
                      "The request file is larger than the limit of " + juce::String (settings.maxUploadBytes) + " bytes");
        return;
    }
    if (writeFailed)
    {
        job->getRequestFile().deleteFile();
        job->fail ("The service could not store the request file");
        refuseUnread (res, 507, "The service could not store the request file");
        return;
    }
    if (! readOk || (length.has_value() && received != *length))
    {
        // The client went away mid-upload: let it try again with the same URL.
        job->getRequestFile().deleteFile();
        job->moveState (SeparationJob::State::uploading, SeparationJob::State::awaitingUpload);
        refuseUnread (res, 400, "The upload was incomplete");
        return;
    }

    const auto decoded = jobs.acceptUpload (*job, received);
    if (decoded.failed())
    {
        answerError (res, 400, decoded.getErrorMessage());
        return;
    }

    auto object = juce::var (new juce::DynamicObject());
    object.getDynamicObject()->setProperty ("separationId", id);
    object.getDynamicObject()->setProperty ("bytesReceived", received);
    auto body = juce::var (new juce::DynamicObject());
    body.getDynamicObject()->setProperty ("errorCode", 0);
    body.getDynamicObject()->setProperty ("object", object);
    answer (res, 200, body);
}

void SeparationServer::handleStart (const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader)
{
    const auto path = req.matches[1].matched ? separation::ApiPath::legacy : separation::ApiPath::current;

    std::string text;
    bool tooLarge = false;
    reader ([&] (const char* data, size_t size) {
        if (text.size() + size > static_cast<size_t> (maxJsonBytes))
        {
            tooLarge = true;
            return false;
        }
        text.append (data, size);
        return true;
    });
    if (tooLarge)
    {
        refuseUnread (res, 413, "The body is larger than the limit of " + juce::String (maxJsonBytes) + " bytes");
        return;
    }

    juce::var body;
    auto parsed = BoundedJson::parseBytes (text.data(), text.size(), body, maxJsonBytes, maxJsonDepth);
    if (parsed.wasOk() && body.getDynamicObject() == nullptr)
        parsed = juce::Result::fail ("The JSON body is not an object");
    if (parsed.failed())
    {
        answerError (res, 400, parsed.getErrorMessage());
        return;
    }

    const auto idValue = body.getProperty ("separationId", {});
    if (! idValue.isString())
    {
        answerError (res, 400, "\"separationId\" is missing");
        return;
    }
    const auto job = jobs.findJob (idValue.toString());
    if (job == nullptr)
    {
        answerError (res, 404, "Unknown or expired separation id");
        return;
    }

    JobManager::StartRequest start;
    const auto algorithm = body.getProperty ("separationAlgorithm", {});
    start.algorithm = algorithm.isString() || algorithm.isInt() || algorithm.isInt64() ? algorithm.toString()
                                                                                       : juce::String ("?");
    start.parameters = body.getProperty ("separationParameters", {});
    start.path = path;

    const auto fileSize = body.getProperty ("fileSize", 0);
    if (! (fileSize.isInt() || fileSize.isInt64()) || static_cast<juce::int64> (fileSize) < 0)
    {
        answerError (res, 400, "\"fileSize\" must be a whole number of bytes");
        return;
    }
    start.fileSize = static_cast<juce::int64> (fileSize);

    juce::String error;
    switch (jobs.start (*job, start, error))
    {
        case JobManager::StartOutcome::started:
            answer (res, 200, ServiceAnswers::makeStartAnswer (job->getId(), "queued"));
            break;
        case JobManager::StartOutcome::refused:
            answerError (res, error.startsWith ("The separation queue is full") ? 503 : 409, error);
            break;
        case JobManager::StartOutcome::jobFailed:
            answerError (res, 400, error);
            break;
    }
}

void SeparationServer::handleProgress (const httplib::Request& req, httplib::Response& res)
{
    const auto job = jobs.findJob (fromWire (req.matches[1].str()));
    if (job == nullptr)
    {
        answerError (res, 404, "Unknown or expired separation id");
        return;
    }

    const auto status = job->getStatus();
    ServiceAnswers::Progress progress;
    progress.progress = status.progress;
    progress.event = status.event;
    progress.state = SeparationJob::getStateName (status.state);
    progress.done = status.state == SeparationJob::State::done || status.state == SeparationJob::State::failed;
    if (status.state == SeparationJob::State::failed)
        progress.error = status.error;
    answer (res, 200, ServiceAnswers::makeProgressAnswer (progress));
}

void SeparationServer::handleOutputFiles (const httplib::Request& req, httplib::Response& res)
{
    const auto job = jobs.findJob (fromWire (req.matches[1].str()));
    if (job == nullptr)
    {
        answerError (res, 404, "Unknown or expired separation id");
        return;
    }

    const auto status = job->getStatus();
    if (status.state == SeparationJob::State::failed)
    {
        answerError (res, 409, "The separation failed: " + status.error);
        return;
    }
    if (status.state != SeparationJob::State::done)
    {
        answerError (res, 409, "The separation is not finished yet (it is " + SeparationJob::getStateName (status.state) + ")");
        return;
    }

    const auto base = getBaseUrlFor (req);
    juce::Array<ServiceAnswers::OutputFile> files;
    for (const auto& stem : status.outputs)
    {
        ServiceAnswers::OutputFile f;
        f.name = stem.file.getFileName();
        f.size = stem.file.getSize();
        const auto scope = "download/" + job->getId().toStdString() + "/" + f.name.toStdString();
        f.signedUrl = base + "api/separation/download/" + job->getId() + "/" + juce::URL::addEscapeChars (f.name, false) + "?"
                      + signer.makeQuery ("GET", scope);
        files.add (f);
    }
    answer (res, 200, ServiceAnswers::makeOutputFilesAnswer (files));
}

void SeparationServer::handleDownload (const httplib::Request& req, httplib::Response& res)
{
    const auto id = fromWire (req.matches[1].str());
    const auto name = fromWire (req.matches[2].str()); // httplib has decoded the path
    if (! checkSignature (req, res, "GET", "download/" + id.toStdString() + "/" + name.toStdString()))
        return;

    const auto job = jobs.findJob (id);
    if (job == nullptr)
    {
        answerError (res, 404, "Unknown or expired separation id");
        return;
    }

    const auto status = job->getStatus();
    for (const auto& stem : status.outputs)
        if (stem.file.getFileName() == name)
            return serveFile (res, stem.file, "audio/wav", name);

    answerError (res, 404, "The separation has no output file \"" + name + "\"");
}

void SeparationServer::handleCancel (const httplib::Request& req, httplib::Response& res)
{
    const auto id = fromWire (req.matches[1].str());
    if (! jobs.cancel (id))
    {
        answerError (res, 404, "Unknown or expired separation id");
        return;
    }
    answer (res, 200, ServiceAnswers::makeCancelAnswer (id));
}

void SeparationServer::handleLatestVersion (const httplib::Request& req, httplib::Response& res)
{
    const auto code = fromWire (req.get_param_value ("code"));
    const auto os = req.has_param ("os") ? fromWire (req.get_param_value ("os")) : juce::String ("linux");
    const auto current = fromWire (req.get_param_value ("version"));
    if (! isSafeToken (code, 32) || ! isSafeToken (os, 16))
    {
        answerError (res, 400, "Give the product \"code\" (and optionally \"os\" and \"version\")");
        return;
    }

    juce::String latest;
    for (const auto& r : findReleases (settings.releaseDirectory, code, os))
        if (latest.isEmpty() || isNewerVersion (r.version, latest))
            latest = r.version;

    if (latest.isEmpty())
    {
        answerError (res, 404, "No release of " + code + " for " + os + " is known");
        return;
    }

    auto object = juce::var (new juce::DynamicObject());
    object.getDynamicObject()->setProperty ("code", code);
    object.getDynamicObject()->setProperty ("os", os);
    object.getDynamicObject()->setProperty ("version", latest);
    object.getDynamicObject()->setProperty ("newer", current.isEmpty() || isNewerVersion (latest, current));

    auto body = juce::var (new juce::DynamicObject());
    body.getDynamicObject()->setProperty ("errorCode", 0);
    body.getDynamicObject()->setProperty ("object", object);
    answer (res, 200, body);
}

void SeparationServer::handleVersionDownload (const httplib::Request& req, httplib::Response& res)
{
    const auto code = fromWire (req.get_param_value ("code"));
    const auto version = fromWire (req.get_param_value ("version"));
    const auto os = fromWire (req.get_param_value ("os"));
    if (! isSafeToken (code, 32) || ! isSafeToken (version, 32) || ! isSafeToken (os, 16))
    {
        answerError (res, 400, "Give the product \"code\", the \"version\" and the \"os\"");
        return;
    }

    for (const auto& r : findReleases (settings.releaseDirectory, code, os))
    {
        if (r.version != version)
            continue;

        const auto name = r.file.getFileName();
        auto object = juce::var (new juce::DynamicObject());
        object.getDynamicObject()->setProperty ("signedUrl", getBaseUrlFor (req) + "api/version/file/" + name + "?"
                                                                 + signer.makeQuery ("GET", "release/" + name.toStdString()));
        auto body = juce::var (new juce::DynamicObject());
        body.getDynamicObject()->setProperty ("errorCode", 0);
        body.getDynamicObject()->setProperty ("object", object);
        answer (res, 200, body);
        return;
    }
    answerError (res, 404, "There is no release " + version + " of " + code + " for " + os);
}

void SeparationServer::handleReleaseFile (const httplib::Request& req, httplib::Response& res)
{
    const auto name = fromWire (req.matches[1].str());
    if (! checkSignature (req, res, "GET", "release/" + name.toStdString()))
        return;

    const auto file = settings.releaseDirectory.getChildFile (name);
    if (! isSafeToken (name, 128) || ! file.isAChildOf (settings.releaseDirectory) || ! file.existsAsFile())
    {
        answerError (res, 404, "The release file is no longer available");
        return;
    }
    serveFile (res, file, "application/zip", name);
}

} // namespace kalder::service
