#pragma once

#include "service/JobManager.h"
#include "service/SeparationServer.h"

#include "separation/RequestFileWriter.h"
#include "separation/ServiceAnswers.h"

#include "support/TestSignals.h"

#include <httplib.h>

#include <condition_variable>

namespace kalder::test
{

/** A stand-in for the separation engine, for protocol tests that must control when
    a separation ends: it reports a stage, waits until released (or told to stop),
    then writes the input's audio as the stems it is told to make. The real engines
    are exercised by the whole-flow test and by their own tests. */
class ScriptedEngine
{
public:
    juce::Result operator() (const service::SeparationSpec& spec, const juce::File& input, const juce::File& outputDirectory,
                             service::EngineProgress& progress, std::vector<service::StemFile>& stems);

    /** Lets every waiting and future separation finish. */
    void release();
    /** Makes every separation fail with this message. */
    void failWith (const juce::String& message);

    int getNumStarted() const;
    /** Waits until n separations have entered the engine; false after timeoutMs. */
    bool waitForStarted (int n, int timeoutMs = 5000) const;

    juce::StringArray stemNames { "vocals", "remainder" };
    service::SeparationSpec lastSpec;

private:
    mutable std::mutex lock;
    mutable std::condition_variable changed;
    bool released = false;
    juce::String failure;
    int started = 0;
};

/** A service running in this process on a free loopback port, with its own data
    folder, token and engine. */
class ServiceUnderTest
{
public:
    struct Options
    {
        int workers = 1;
        int maxQueued = 16;
        int maxJobs = 256;
        int ttlSeconds = 3600;
        juce::int64 maxUploadBytes = juce::int64 (64) << 20;
        int urlLifetimeSeconds = 900;
        int readTimeoutSeconds = 10;
        bool useRealEngine = false;
    };

    ServiceUnderTest();
    explicit ServiceUnderTest (const Options& options);
    ~ServiceUnderTest();

    std::unique_ptr<httplib::Client> makeClient (bool withToken = true) const;

    int getPort() const { return server->getPort(); }
    const std::string& getToken() const { return token; }
    const juce::File& getDataDirectory() const { return dataDirectory.get(); }
    service::JobManager& getJobs() { return *jobs; }
    /** The service's clock: advance() it instead of waiting a lifetime out. */
    service::ServiceClock& getClock() { return *clock; }
    ScriptedEngine& getEngine() { return *engine; }

    /** The create answer for a new separation (fails the test when the service refuses). */
    separation::ServiceAnswers::CreateResult create (separation::ApiPath path = separation::ApiPath::current) const;

    /** Sends a file to a signed URL with PUT. */
    httplib::Result upload (const juce::String& signedUrl, const juce::File& requestFile) const;
    httplib::Result uploadBytes (const juce::String& signedUrl, const std::string& bytes) const;

    /** A start request; parameters is a JSON object text. */
    httplib::Result start (const juce::String& id, const juce::String& algorithm, const juce::String& parameters = "{}",
                           juce::int64 fileSize = 0, separation::ApiPath path = separation::ApiPath::current) const;

    httplib::Result get (const juce::String& pathAndQuery) const;

    /** Polls the progress until "done" (or a timeout); returns the last answer. */
    separation::ServiceAnswers::Progress waitUntilDone (const juce::String& id, int timeoutMs = 60000) const;

    /** Waits until the job reaches a state; false after timeoutMs. */
    bool waitForState (const juce::String& id, service::SeparationJob::State state, int timeoutMs = 5000) const;

    /** The path and query of an absolute URL the service made. */
    static std::string pathOf (const juce::String& url);

private:
    TemporaryDirectory dataDirectory;
    std::string token;
    std::shared_ptr<ScriptedEngine> engine;
    std::shared_ptr<service::ServiceClock> clock = service::ServiceClock::real();
    std::unique_ptr<service::JobManager> jobs;
    std::unique_ptr<service::SeparationServer> server;
};

/** A short stereo test mixture: a tone with vibrato on the left, noise bursts on the right. */
juce::AudioBuffer<float> makeMixture (int sampleRate, double seconds);

/** Writes a valid request file for a module, with its parameters at their defaults. */
juce::File
    writeRequestFile (const juce::File& directory, int module, double seconds = 0.5, int sampleRate = 22050,
                      separation::SeparationRequest::AudioEncoding encoding = separation::SeparationRequest::AudioEncoding::flac);

/** A JSON body's member, or a void var when the body is not JSON. */
juce::var memberOf (const std::string& body, const char* name);

} // namespace kalder::test
