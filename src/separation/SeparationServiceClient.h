#pragma once

#include "HttpClient.h"
#include "SeparationRequest.h"
#include "ServiceAnswers.h"
#include "ServiceEndpoint.h"

#include <functional>

namespace kalder::separation
{

/**
    The requests of the separation protocol (docs/separation-protocol.md), one call
    each: create, upload of the request file, start, progress, the output list, the
    downloads, cancel, and the version check and download.

    Every call returns a failed Result with the message the user reads (without the
    "Impossible to run separation: " prefix, which the separation job adds). The
    answers are bounded (ServiceAnswers::maxAnswerBytes, nesting depth) and must be
    JSON objects; an HTTP error status is a failure carrying the answer's message.
    Downloads go to a temporary file beside the target and are renamed over it only
    when complete, of the announced size and of the expected kind.

    Threading: every call blocks; call them on a worker thread. stop, when given, is
    polled during transfers and ends them.
*/
class SeparationServiceClient
{
public:
    using StopCheck = std::function<bool()>;
    /** Bytes done and bytes in all (0 when unknown); return false to stop. */
    using TransferProgress = std::function<bool (juce::int64 done, juce::int64 total)>;

    /** The most output files a separation may list. */
    static constexpr int maxOutputFiles = 64;
    /** The longest output name taken. */
    static constexpr int maxOutputNameLength = 100;
    /** A transfer slower than this many bytes a second for transferStallSeconds fails. */
    static constexpr int transferStallBytes = 1024, transferStallSeconds = 60;

    static constexpr const char* productCode = "KP";
    static constexpr const char* osName = "linux";

    /** The user's message for a failed download. */
    static constexpr const char* downloadFailedText =
        "An unexpected error occurred while communicating with our servers. Please try again later.";
    static constexpr const char* startFailedText = "Couldn't call server to start separation";

    explicit SeparationServiceClient (ServiceEndpoint endpoint);

    const ServiceEndpoint& getEndpoint() const noexcept { return endpoint; }

    /** POST api/separation/create (or legacy/create). progress gets 0..1 (the empty
        body's send progress, 1 at the end whatever the outcome). */
    juce::Result create (ApiPath path, ServiceAnswers::CreateResult& result, const std::function<void (double)>& progress = {},
                         StopCheck stop = {});

    /** Sends the request file to the signed URL with the given method. */
    juce::Result upload (const juce::String& signedUrl, const juce::String& method, const juce::File& requestFile,
                         const TransferProgress& progress, StopCheck stop = {});

    /** PUT api/separation/start (or legacy/start); the answer's id replaces separationId. */
    juce::Result start (juce::String& separationId, int algorithm, const juce::NamedValueSet* parameters, juce::int64 fileSize,
                        ApiPath path);

    juce::Result getProgress (const juce::String& separationId, ServiceAnswers::Progress& progress);

    /** The output list, each name checked (see checkOutputNames). */
    juce::Result getOutputFiles (const juce::String& separationId, juce::Array<ServiceAnswers::OutputFile>& files);

    /** Downloads a signed link into target (see the class comment). expectWav checks the
        RIFF/WAVE header. */
    juce::Result download (const juce::String& signedUrl, const juce::File& target, juce::int64 announcedSize, bool expectWav,
                           const TransferProgress& progress, StopCheck stop = {});

    /** Tells the service to drop a separation (best effort, short time-outs). */
    juce::Result cancel (const juce::String& separationId);

    struct VersionInfo
    {
        juce::String version;
        bool newer = false;
    };
    juce::Result getLatestVersion (const juce::String& currentVersion, VersionInfo& info);

    /** Downloads a release into a private folder made inside folder; target gets the
        archive ("tempVersion.zip" there). */
    juce::Result downloadVersion (const juce::String& version, const juce::File& folder, juce::File& target, StopCheck stop = {});

    /** Refuses a list whose names could escape the download folder or collide: every
        name must be a plain file name of letters, digits, spaces, '-', '_' and '.',
        not starting with '.', at most maxOutputNameLength long, ending in ".wav",
        ".mtx" or ".vtr", not a reserved device name, and unique (ignoring case). */
    static juce::Result checkOutputNames (const juce::Array<ServiceAnswers::OutputFile>& files);

private:
    HttpClient::Request makeRequest (const juce::String& method, const juce::String& path) const;
    /** The body of an answer with any HTTP or transport failure turned into a message
        (read under messageMember). */
    juce::Result readAnswer (const HttpClient::Response& response, const juce::String& messageMember, juce::String& body) const;

    ServiceEndpoint endpoint;
};

} // namespace kalder::separation
