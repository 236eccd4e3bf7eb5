#include "ServiceTestHelpers.h"

#include "separation/ParameterCodes.h"
#include "service/AccessToken.h"
#include "service/engines/SeparationEngine.h"
#include "support/AudioTestFiles.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <gtest/gtest.h>

namespace kalder::test
{

juce::Result ScriptedEngine::operator() (const service::SeparationSpec& spec, const juce::File& input,
                                         const juce::File& outputDirectory, service::EngineProgress& progress,
                                         std::vector<service::StemFile>& stems)
{
    progress.report (0.25f, "Scripted stage"); // before it counts as started, so tests see it
    {
        std::unique_lock<std::mutex> guard (lock);
        lastSpec = spec;
        ++started;
        changed.notify_all();
    }

    {
        std::unique_lock<std::mutex> guard (lock);
        while (! released && ! progress.shouldStop())
            changed.wait_for (guard, std::chrono::milliseconds (10));
        if (progress.shouldStop())
            return juce::Result::fail ("stopped");
        if (failure.isNotEmpty())
            return juce::Result::fail (failure);
    }

    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (input));
    if (reader == nullptr)
        return juce::Result::fail ("Cannot read the input");

    juce::AudioBuffer<float> audio (static_cast<int> (reader->numChannels), static_cast<int> (reader->lengthInSamples));
    reader->read (&audio, 0, audio.getNumSamples(), 0, true, true);

    for (const auto& name : stemNames)
    {
        const auto file = outputDirectory.getChildFile (name + ".wav");
        if (! writeAudioFile (file, audio, reader->sampleRate, 16))
            return juce::Result::fail ("Cannot write " + name);
        stems.push_back ({ name, file });
    }
    return juce::Result::ok();
}

void ScriptedEngine::release()
{
    const std::lock_guard<std::mutex> guard (lock);
    released = true;
    changed.notify_all();
}

void ScriptedEngine::failWith (const juce::String& message)
{
    const std::lock_guard<std::mutex> guard (lock);
    failure = message;
    released = true;
    changed.notify_all();
}

int ScriptedEngine::getNumStarted() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return started;
}

bool ScriptedEngine::waitForStarted (int n, int timeoutMs) const
{
    std::unique_lock<std::mutex> guard (lock);
    return changed.wait_for (guard, std::chrono::milliseconds (timeoutMs), [&] { return started >= n; });
}

ServiceUnderTest::ServiceUnderTest() : ServiceUnderTest (Options()) {}

ServiceUnderTest::ServiceUnderTest (const Options& options) : engine (std::make_shared<ScriptedEngine>())
{
    token = service::AccessToken::makeRandomHex (16);

    service::JobManager::Settings settings;
    settings.dataDirectory = dataDirectory.get().getChildFile ("data");
    settings.workers = options.workers;
    settings.maxQueued = options.maxQueued;
    settings.maxJobs = options.maxJobs;
    settings.ttlSeconds = options.ttlSeconds;
    settings.clock = clock;
    settings.maxUploadBytes = options.maxUploadBytes;

    service::JobManager::Engine run;
    if (options.useRealEngine)
        run = &service::runSeparation;
    if (! run)
        run = [e = engine] (const service::SeparationSpec& spec, const juce::File& in, const juce::File& out,
                            service::EngineProgress& progress,
                            std::vector<service::StemFile>& stems) { return (*e) (spec, in, out, progress, stems); };
    jobs = std::make_unique<service::JobManager> (settings, run);

    service::SeparationServer::Settings serverSettings;
    serverSettings.maxUploadBytes = options.maxUploadBytes;
    serverSettings.urlLifetimeSeconds = options.urlLifetimeSeconds;
    serverSettings.clock = clock;
    serverSettings.readTimeoutSeconds = options.readTimeoutSeconds;
    serverSettings.releaseDirectory = dataDirectory.get().getChildFile ("releases");
    server = std::make_unique<service::SeparationServer> (serverSettings, *jobs, token);
    const auto started = server->start();
    EXPECT_TRUE (started.wasOk()) << started.getErrorMessage();
}

ServiceUnderTest::~ServiceUnderTest()
{
    engine->release();
    server->stop();
    jobs.reset();
}

std::unique_ptr<httplib::Client> ServiceUnderTest::makeClient (bool withToken) const
{
    auto client = std::make_unique<httplib::Client> ("127.0.0.1", getPort());
    client->set_connection_timeout (5, 0);
    client->set_read_timeout (30, 0);
    if (withToken)
        client->set_default_headers ({ { "Authorization", token } });
    return client;
}

separation::ServiceAnswers::CreateResult ServiceUnderTest::create (separation::ApiPath path) const
{
    separation::ServiceAnswers::CreateResult created;
    const auto res = makeClient()->Post (path == separation::ApiPath::legacy ? "/api/separation/legacy/create"
                                                                             : "/api/separation/create");
    EXPECT_TRUE (res) << "no answer";
    if (res)
    {
        EXPECT_EQ (res->status, 200) << res->body;
        const auto r = separation::ServiceAnswers::readCreateAnswer (res->body, created);
        EXPECT_TRUE (r.wasOk()) << r.getErrorMessage();
    }
    return created;
}

std::string ServiceUnderTest::pathOf (const juce::String& url)
{
    const auto afterScheme = url.fromFirstOccurrenceOf ("://", false, false);
    return afterScheme.fromFirstOccurrenceOf ("/", true, false).toStdString();
}

httplib::Result ServiceUnderTest::upload (const juce::String& signedUrl, const juce::File& requestFile) const
{
    juce::MemoryBlock bytes;
    requestFile.loadFileAsData (bytes);
    return uploadBytes (signedUrl, std::string (static_cast<const char*> (bytes.getData()), bytes.getSize()));
}

httplib::Result ServiceUnderTest::uploadBytes (const juce::String& signedUrl, const std::string& bytes) const
{
    return makeClient (false)->Put (pathOf (signedUrl), bytes, "text/plain");
}

httplib::Result ServiceUnderTest::start (const juce::String& id, const juce::String& algorithm, const juce::String& parameters,
                                         juce::int64 fileSize, separation::ApiPath path) const
{
    const auto body = "{\"separationId\":\"" + id + "\",\"separationAlgorithm\":\"" + algorithm
                      + "\",\"separationParameters\":" + parameters + ",\"fileSize\":" + juce::String (fileSize) + "}";
    return makeClient()->Put (path == separation::ApiPath::legacy ? "/api/separation/legacy/start" : "/api/separation/start",
                              body.toStdString(), "application/json");
}

httplib::Result ServiceUnderTest::get (const juce::String& pathAndQuery) const
{
    return makeClient()->Get (pathAndQuery.toStdString());
}

separation::ServiceAnswers::Progress ServiceUnderTest::waitUntilDone (const juce::String& id, int timeoutMs) const
{
    separation::ServiceAnswers::Progress progress;
    const auto end = juce::Time::getMillisecondCounter() + static_cast<juce::uint32> (timeoutMs);
    while (juce::Time::getMillisecondCounter() < end)
    {
        const auto res = get ("/api/separation/progress/" + id);
        if (! res || res->status != 200)
            break;
        separation::ServiceAnswers::readProgressAnswer (res->body, progress);
        if (progress.done)
            break;
        juce::Thread::sleep (20);
    }
    return progress;
}

bool ServiceUnderTest::waitForState (const juce::String& id, service::SeparationJob::State state, int timeoutMs) const
{
    const auto end = juce::Time::getMillisecondCounter() + static_cast<juce::uint32> (timeoutMs);
    while (juce::Time::getMillisecondCounter() < end)
    {
        if (auto job = jobs->findJob (id); job != nullptr && job->getState() == state)
            return true;
        juce::Thread::sleep (5);
    }
    return false;
}

juce::AudioBuffer<float> makeMixture (int sampleRate, double seconds)
{
    const auto n = static_cast<int> (sampleRate * seconds);
    auto mix = makeNoise (2, n, 7, 0.05f);
    double phase = 0.0;
    for (int i = 0; i < n; ++i)
    {
        const auto t = i / static_cast<double> (sampleRate);
        phase += juce::MathConstants<double>::twoPi * 220.0
                 * (1.0 + 0.01 * std::sin (juce::MathConstants<double>::twoPi * 5.0 * t)) / sampleRate;
        mix.addSample (0, i, 0.4f * static_cast<float> (std::sin (phase)));
        if ((i / (sampleRate / 8)) % 2 == 0)
            mix.addSample (1, i, 0.2f * static_cast<float> (std::sin (phase * 3.0)));
    }
    return mix;
}

juce::File writeRequestFile (const juce::File& directory, int module, double seconds, int sampleRate,
                             separation::SeparationRequest::AudioEncoding encoding)
{
    separation::RequestFileWriter writer (module, module);
    EXPECT_TRUE (writer.addParameters (separation::ParameterCodes::getDefaults (module)).wasOk());
    const auto file = directory.getNonexistentChildFile ("request", ".ksrq");
    const auto result = writer.writeWithAudio (file, makeMixture (sampleRate, seconds), sampleRate, 16, encoding);
    EXPECT_TRUE (result.wasOk()) << result.getErrorMessage();
    return file;
}

juce::var memberOf (const std::string& body, const char* name)
{
    const auto parsed = juce::JSON::parse (juce::String (body));
    return parsed.getProperty (name, {});
}

} // namespace kalder::test
