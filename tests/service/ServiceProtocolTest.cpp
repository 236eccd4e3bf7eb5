#include "ServiceTestHelpers.h"

#include "separation/ParameterCodes.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <gtest/gtest.h>

using namespace kalder;
using separation::ServiceAnswers;
using State = service::SeparationJob::State;

namespace
{
const juce::String allVocalParameters = R"({"stereoSmoothing":"Off","sourcePosition":"2","panPreProcess":"On",)"
                                        R"("reverbProcess":"SeparateTrack","mode":"Automatic","vocalActivity":"0.5",)"
                                        R"("snareRemoval":"On","advancedFiltering":"On","backingTrack":"Off"})";

/** Creates, uploads and starts a separation of a module; returns its id. */
juce::String startJob (const test::ServiceUnderTest& service, const juce::File& dir, int module,
                       separation::ApiPath path = separation::ApiPath::current)
{
    const auto created = service.create (path);
    const auto file = test::writeRequestFile (dir, module);
    const auto up = service.upload (created.signedUrl, file);
    EXPECT_TRUE (up && up->status == 200) << (up ? up->body : "no answer");
    const auto started = service.start (created.separationId, juce::String (module), "{}", file.getSize(), path);
    EXPECT_TRUE (started && started->status == 200) << (started ? started->body : "no answer");
    return created.separationId;
}

juce::Array<ServiceAnswers::OutputFile> getOutputFiles (const test::ServiceUnderTest& service, const juce::String& id)
{
    juce::Array<ServiceAnswers::OutputFile> files;
    const auto res = service.get ("/api/separation/files/" + id);
    EXPECT_TRUE (res && res->status == 200) << (res ? res->body : "no answer");
    if (res)
    {
        EXPECT_TRUE (ServiceAnswers::readOutputFilesAnswer (res->body, files).wasOk()) << res->body;
    }
    return files;
}

int getStatus (const httplib::Result& res)
{
    return res ? res->status : -1;
}

juce::String getMessage (const httplib::Result& res)
{
    return res ? test::memberOf (res->body, "message").toString() : juce::String ("no answer");
}
} // namespace

TEST (ServiceProtocol, WholeFlowFromCreateToDownload)
{
    test::TemporaryDirectory dir;
    test::ServiceUnderTest service;

    const auto created = service.create();
    EXPECT_EQ (created.method, "PUT");
    EXPECT_TRUE (created.signedUrl.startsWith ("http://127.0.0.1:" + juce::String (service.getPort()) + "/"));

    const auto file = test::writeRequestFile (dir.get(), 1);
    const auto uploaded = service.upload (created.signedUrl, file);
    ASSERT_EQ (getStatus (uploaded), 200) << uploaded->body;
    EXPECT_EQ (static_cast<juce::int64> (test::memberOf (uploaded->body, "object").getProperty ("bytesReceived", 0)),
               file.getSize());

    const auto started = service.start (created.separationId, "1", allVocalParameters, file.getSize());
    ASSERT_EQ (getStatus (started), 200) << started->body;
    juce::String startedId;
    EXPECT_TRUE (ServiceAnswers::readStartAnswer (started->body, startedId).wasOk());
    EXPECT_EQ (startedId, created.separationId);

    // While the engine works, progress reports its stage.
    ASSERT_TRUE (service.getEngine().waitForStarted (1));
    ServiceAnswers::Progress progress;
    ASSERT_TRUE (
        ServiceAnswers::readProgressAnswer (service.get ("/api/separation/progress/" + startedId)->body, progress).wasOk());
    EXPECT_FALSE (progress.done);
    EXPECT_FALSE (progress.error.has_value());
    EXPECT_FLOAT_EQ (progress.progress, 0.25f);
    EXPECT_EQ (progress.event, "Scripted stage");
    EXPECT_EQ (getStatus (service.get ("/api/separation/files/" + startedId)), 409); // not finished

    // The engine got the start request's values, normalised, over the file's defaults.
    const auto spec = service.getEngine().lastSpec;
    EXPECT_EQ (spec.module, service::Module::vocals);
    EXPECT_EQ (static_cast<int> (spec.parameters["sourcePosition"]), 2);
    EXPECT_EQ (spec.parameters["reverbProcess"].toString(), "SeparateTrack");
    EXPECT_EQ (spec.parameters["vocalActivity"].toString(), "0.5");
    EXPECT_EQ (spec.parameters.size(), 9);

    service.getEngine().release();
    progress = service.waitUntilDone (startedId);
    EXPECT_TRUE (progress.done);
    EXPECT_FALSE (progress.error.has_value());
    EXPECT_FLOAT_EQ (progress.progress, 1.0f);

    const auto files = getOutputFiles (service, startedId);
    ASSERT_EQ (files.size(), 2);
    EXPECT_EQ (files[0].name, "vocals.wav");
    EXPECT_EQ (files[1].name, "remainder.wav");

    for (const auto& f : files)
    {
        // Downloads need no token: the signature is the permission.
        const auto res = service.makeClient (false)->Get (test::ServiceUnderTest::pathOf (f.signedUrl));
        ASSERT_EQ (getStatus (res), 200);
        EXPECT_EQ (static_cast<juce::int64> (res->body.size()), f.size);

        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatReader> reader (
            wav.createReaderFor (new juce::MemoryInputStream (res->body.data(), res->body.size(), false), true));
        ASSERT_NE (reader, nullptr);
        EXPECT_EQ (reader->lengthInSamples, 11025); // 0.5 s at 22050 Hz, nothing lost
        EXPECT_EQ (reader->sampleRate, 22050.0);
    }
}

TEST (ServiceProtocol, LegacyPathsAreTwinsThatMustNotBeMixed)
{
    test::TemporaryDirectory dir;
    test::ServiceUnderTest service;
    service.getEngine().release();

    const auto legacyId = startJob (service, dir.get(), 6, separation::ApiPath::legacy);
    EXPECT_TRUE (service.waitUntilDone (legacyId).done);
    EXPECT_EQ (getOutputFiles (service, legacyId).size(), 2);

    const auto legacy = service.create (separation::ApiPath::legacy);
    const auto current = service.create (separation::ApiPath::current);
    const auto file = test::writeRequestFile (dir.get(), 6);
    ASSERT_EQ (getStatus (service.upload (legacy.signedUrl, file)), 200);
    ASSERT_EQ (getStatus (service.upload (current.signedUrl, file)), 200);

    const auto wrong1 = service.start (legacy.separationId, "6", "{}", 0, separation::ApiPath::current);
    EXPECT_EQ (getStatus (wrong1), 409);
    EXPECT_TRUE (getMessage (wrong1).contains ("legacy/start"));
    EXPECT_EQ (getStatus (service.start (current.separationId, "6", "{}", 0, separation::ApiPath::legacy)), 409);

    // A refused start leaves the job startable on its own path.
    EXPECT_EQ (getStatus (service.start (legacy.separationId, "6", "{}", 0, separation::ApiPath::legacy)), 200);
    EXPECT_EQ (getStatus (service.start (current.separationId, "6", "{}", 0, separation::ApiPath::current)), 200);
}

TEST (ServiceProtocol, EveryRequestButSignedTransfersNeedsTheToken)
{
    test::TemporaryDirectory dir;
    test::ServiceUnderTest service;
    const auto created = service.create();
    const auto id = created.separationId.toStdString();

    const auto check = [&] (const httplib::Headers& headers, int expected) {
        httplib::Client client ("127.0.0.1", service.getPort());
        client.set_default_headers (headers);
        std::vector<httplib::Result> results;
        results.push_back (client.Post ("/api/separation/create"));
        results.push_back (client.Post ("/api/separation/legacy/create"));
        results.push_back (client.Put ("/api/separation/start", "{\"separationId\":\"" + id + "\"}", "application/json"));
        results.push_back (client.Put ("/api/separation/legacy/start", "{}", "application/json"));
        results.push_back (client.Get ("/api/separation/progress/" + id));
        results.push_back (client.Get ("/api/separation/files/" + id));
        results.push_back (client.Post ("/api/separation/cancel/" + id));
        results.push_back (client.Get ("/api/version/latest?code=KP"));
        results.push_back (client.Get ("/api/version/download?code=KP&version=1.0&os=linux"));
        results.push_back (client.Get ("/api/no/such/path"));
        for (size_t i = 0; i < results.size(); ++i)
        {
            ASSERT_TRUE (results[i]) << "request " << i;
            EXPECT_EQ (results[i]->status, expected) << "request " << i << ": " << results[i]->body;
            if (expected == 401)
            {
                EXPECT_EQ (test::memberOf (results[i]->body, "errorCode"), juce::var (1));
            }
        }
    };

    check ({}, 401);
    check ({ { "Authorization", "wrong" } }, 401);
    check ({ { "Authorization", service.getToken().substr (1) } }, 401);
    check ({ { "Authorization", service.getToken() + "x" } }, 401);
    EXPECT_NE (service.getJobs().findJob (created.separationId), nullptr); // the refused cancel did nothing

    // With the token (bare or as a bearer token) nothing is refused for want of it.
    httplib::Client client ("127.0.0.1", service.getPort());
    client.set_default_headers ({ { "Authorization", "Bearer " + service.getToken() } });
    EXPECT_EQ (getStatus (client.Get ("/api/separation/progress/" + id)), 200);
    EXPECT_EQ (getStatus (client.Post ("/api/separation/create")), 200);
}

TEST (ServiceProtocol, ErrorAnswersAreClearAndFailOnlyTheirJob)
{
    test::TemporaryDirectory dir;
    test::ServiceUnderTest service;
    const auto file = test::writeRequestFile (dir.get(), 1);
    const auto unknown = juce::String::repeatedString ("ab", 16);

    // Unknown and malformed ids.
    for (const auto& path : { "/api/separation/progress/" + unknown, "/api/separation/files/" + unknown,
                              juce::String ("/api/separation/progress/ABC") })
    {
        const auto res = service.get (path);
        EXPECT_EQ (getStatus (res), 404) << path;
        EXPECT_TRUE (getMessage (res).contains ("Unknown")) << path;
    }
    const auto traversal = service.get ("/api/separation/progress/..%2F..%2Fetc");
    EXPECT_EQ (getStatus (traversal), 404);
    EXPECT_EQ (test::memberOf (traversal->body, "errorCode"), juce::var (1));
    EXPECT_EQ (getStatus (service.makeClient()->Post (("/api/separation/cancel/" + unknown).toStdString())), 404);
    EXPECT_EQ (getStatus (service.start (unknown, "1")), 404);

    // Bodies that are not what start expects.
    const auto client = service.makeClient();
    EXPECT_EQ (getStatus (client->Put ("/api/separation/start", "{\"separationId\":", "application/json")), 400);
    EXPECT_EQ (getStatus (client->Put ("/api/separation/start", "[1,2]", "application/json")), 400);
    EXPECT_EQ (getStatus (client->Put ("/api/separation/start", "{\"separationId\":7}", "application/json")), 400);

    // A start before the upload is refused and leaves the job waiting for it.
    const auto early = service.create();
    const auto tooEarly = service.start (early.separationId, "1");
    EXPECT_EQ (getStatus (tooEarly), 409);
    EXPECT_TRUE (getMessage (tooEarly).contains ("not been uploaded"));
    EXPECT_EQ (getStatus (service.upload (early.signedUrl, file)), 200);
    EXPECT_EQ (getStatus (service.upload (early.signedUrl, file)), 409); // a second upload
    EXPECT_EQ (getStatus (service.makeClient (false)->Post (test::ServiceUnderTest::pathOf (early.signedUrl), "x", "text/plain")),
               405);
    EXPECT_EQ (getStatus (service.start (early.separationId, "1", "{}", file.getSize())), 200);
    const auto twice = service.start (early.separationId, "1", "{}", file.getSize());
    EXPECT_EQ (getStatus (twice), 409);
    EXPECT_TRUE (getMessage (twice).contains ("queued") || getMessage (twice).contains ("running"));

    // Start requests whose content is wrong fail their job, with the reason.
    const std::vector<std::tuple<juce::String, juce::String, juce::int64, juce::String>> invalid {
        { "x1", "{}", 0, "decimal" },
        { "5", "{}", 0, "does not match" },
        { "1", R"({"nSources":3})", 0, "no parameter" },
        { "1", R"({"mode":"Sometimes"})", 0, "not accepted" },
        { "1", R"({"sourcePosition":7})", 0, "not accepted" },
        { "1", "[]", 0, "must be an object" },
        { "1", "{}", 12345, "fileSize" },
        { "1", R"({"mode":"Guided"})", 0, "pitch guide" },
    };
    for (const auto& [algorithm, parameters, fileSize, reason] : invalid)
    {
        const auto created = service.create();
        ASSERT_EQ (getStatus (service.upload (created.signedUrl, file)), 200);
        const auto res = service.start (created.separationId, algorithm, parameters, fileSize);
        EXPECT_EQ (getStatus (res), 400) << parameters;
        EXPECT_TRUE (getMessage (res).contains (reason)) << getMessage (res);

        const auto progress = service.waitUntilDone (created.separationId, 1000);
        EXPECT_TRUE (progress.done);
        EXPECT_TRUE (getMessage (res) == progress.error.value_or (""));
        EXPECT_EQ (getStatus (service.start (created.separationId, "1")), 409); // failed for good
    }

    // None of that touched the job that was started properly.
    service.getEngine().release();
    const auto progress = service.waitUntilDone (early.separationId);
    EXPECT_TRUE (progress.done);
    EXPECT_FALSE (progress.error.has_value());
}

TEST (ServiceProtocol, AnInvalidSecondStartNeverFailsAStartedJob)
{
    test::TemporaryDirectory dir;
    test::ServiceUnderTest::Options options;
    options.maxQueued = 1000;
    test::ServiceUnderTest service (options);
    service.getEngine().release();
    const auto file = test::writeRequestFile (dir.get(), 2);

    // A valid and an invalid start race for each job: exactly one of them may win, and
    // the invalid one may fail the job only when it came first.
    for (int round = 0; round < 200; ++round)
    {
        const auto created = service.create();
        ASSERT_EQ (getStatus (service.upload (created.signedUrl, file)), 200);

        int statuses[2] = {};
        test::runConcurrently (2, [&] (int i) {
            statuses[i] = getStatus (service.start (created.separationId, "2", i == 0 ? "{}" : R"({"nSources":99})"));
        });

        const auto progress = service.waitUntilDone (created.separationId, 10000);
        if (statuses[0] == 200)
        {
            EXPECT_EQ (statuses[1], 409) << "round " << round;
            EXPECT_FALSE (progress.error.has_value()) << "round " << round << ": " << progress.error.value_or ("");
        }
        else
        {
            EXPECT_EQ (statuses[1], 400) << "round " << round;
            EXPECT_TRUE (progress.error.has_value()) << "round " << round;
        }
    }
}

TEST (ServiceProtocol, CorruptRequestFileFailsItsJobOnly)
{
    test::TemporaryDirectory dir;
    test::ServiceUnderTest service;
    const auto running = startJob (service, dir.get(), 0);
    ASSERT_TRUE (service.getEngine().waitForStarted (1));

    juce::MemoryBlock block;
    test::writeRequestFile (dir.get(), 0).loadFileAsData (block);
    const std::string valid (static_cast<const char*> (block.getData()), block.getSize());
    auto damagedStream = valid;
    damagedStream[damagedStream.find ("fLaC")] = 'X';

    const std::vector<std::pair<std::string, juce::String>> corrupt {
        { "hello, this is not a request file", "KSRQ" },
        { valid.substr (0, valid.size() - 10), "length" },
        { damagedStream, "not a readable" },
    };
    for (const auto& [body, reason] : corrupt)
    {
        const auto created = service.create();
        const auto res = service.uploadBytes (created.signedUrl, body);
        EXPECT_EQ (getStatus (res), 400);
        EXPECT_TRUE (getMessage (res).startsWith ("Invalid request file")) << getMessage (res);
        EXPECT_TRUE (getMessage (res).contains (reason)) << getMessage (res);

        const auto progress = service.waitUntilDone (created.separationId, 1000);
        EXPECT_TRUE (progress.done);
        EXPECT_EQ (progress.state, "failed");
        EXPECT_EQ (getStatus (service.start (created.separationId, "0")), 409);
        EXPECT_EQ (getStatus (service.get ("/api/separation/files/" + created.separationId)), 409);
        const auto folder = service.getJobs().findJob (created.separationId)->getFolder();
        EXPECT_EQ (folder.findChildFiles (juce::File::findFiles, true).size(), 0); // no upload kept
    }

    service.getEngine().release();
    EXPECT_FALSE (service.waitUntilDone (running).error.has_value());
    EXPECT_EQ (getOutputFiles (service, running).size(), 2);
}

TEST (ServiceProtocol, EngineFailureIsReportedAndLeavesNoOutputs)
{
    test::TemporaryDirectory dir;
    test::ServiceUnderTest service;
    const auto id = startJob (service, dir.get(), 5);
    service.getEngine().failWith ("The input could not be read");

    const auto progress = service.waitUntilDone (id);
    EXPECT_TRUE (progress.done);
    EXPECT_EQ (progress.error.value_or (""), "The input could not be read");
    const auto files = service.get ("/api/separation/files/" + id);
    EXPECT_EQ (getStatus (files), 409);
    EXPECT_TRUE (getMessage (files).contains ("could not be read"));
    EXPECT_EQ (service.getJobs().findJob (id)->getFolder().findChildFiles (juce::File::findFiles, true).size(), 0);
}

TEST (ServiceProtocol, SignedUrlsAreBoundToTheirJobAndFile)
{
    test::TemporaryDirectory dir;
    test::ServiceUnderTest service;
    service.getEngine().release();

    const auto a = startJob (service, dir.get(), 0);
    const auto b = startJob (service, dir.get(), 0);
    ASSERT_TRUE (service.waitUntilDone (a).done);
    ASSERT_TRUE (service.waitUntilDone (b).done);
    const auto filesA = getOutputFiles (service, a);
    ASSERT_EQ (filesA.size(), 2);

    const auto urlA = filesA[0].signedUrl; // .../download/<a>/vocals.wav?expires=..&signature=..
    const auto fetch = [&] (const juce::String& url) {
        return getStatus (service.makeClient (false)->Get (test::ServiceUnderTest::pathOf (url)));
    };

    EXPECT_EQ (fetch (urlA), 200);
    EXPECT_EQ (fetch (urlA.replace (a, b)), 403);                          // another job's file
    EXPECT_EQ (fetch (urlA.replace ("vocals.wav", "remainder.wav")), 403); // another file of the job
    EXPECT_EQ (fetch (urlA.upToFirstOccurrenceOf ("?", false, false)), 403);
    const auto expires = urlA.fromFirstOccurrenceOf ("expires=", false, false).upToFirstOccurrenceOf ("&", false, false);
    EXPECT_EQ (fetch (urlA.replace ("expires=" + expires, "expires=" + juce::String (expires.getLargeIntValue() + 3600))), 403);
    const auto sig = urlA.fromFirstOccurrenceOf ("signature=", false, false);
    EXPECT_EQ (fetch (urlA.replace (sig, sig.substring (0, 10) + (sig[10] == 'a' ? "b" : "a") + sig.substring (11))), 403);

    // An upload URL opens only its own job's upload.
    const auto c = service.create();
    const auto d = service.create();
    const auto file = test::writeRequestFile (dir.get(), 0);
    EXPECT_EQ (getStatus (service.upload (c.signedUrl.replace (c.separationId, d.separationId), file)), 403);
    EXPECT_EQ (service.getJobs().findJob (d.separationId)->getState(), State::awaitingUpload);
}

TEST (ServiceProtocol, SignedUrlsExpire)
{
    test::TemporaryDirectory dir;
    test::ServiceUnderTest::Options options;
    options.urlLifetimeSeconds = 1;
    test::ServiceUnderTest service (options);
    service.getEngine().release();

    const auto waiting = service.create();
    const auto done = startJob (service, dir.get(), 0);
    ASSERT_TRUE (service.waitUntilDone (done).done);
    const auto files = getOutputFiles (service, done);
    ASSERT_FALSE (files.isEmpty());

    service.getClock().advance (2100); // ms: past the URLs' second
    const auto file = test::writeRequestFile (dir.get(), 0);
    const auto upload = service.upload (waiting.signedUrl, file);
    EXPECT_EQ (getStatus (upload), 403);
    EXPECT_TRUE (getMessage (upload).contains ("expired"));
    EXPECT_EQ (getStatus (service.makeClient (false)->Get (test::ServiceUnderTest::pathOf (files[0].signedUrl))), 403);

    // Asking for the list again gives fresh URLs.
    const auto fresh = getOutputFiles (service, done);
    EXPECT_EQ (getStatus (service.makeClient (false)->Get (test::ServiceUnderTest::pathOf (fresh[0].signedUrl))), 200);
}

TEST (ServiceProtocol, CancelStopsTheEngineAndRemovesTheJob)
{
    test::TemporaryDirectory dir;
    test::ServiceUnderTest service;

    const auto running = startJob (service, dir.get(), 1);
    const auto queued = startJob (service, dir.get(), 1);
    const auto waiting = service.create();
    ASSERT_TRUE (service.getEngine().waitForStarted (1));
    ASSERT_TRUE (service.waitForState (queued, State::queued));

    const auto runningFolder = service.getJobs().findJob (running)->getFolder();
    const auto queuedFolder = service.getJobs().findJob (queued)->getFolder();
    const auto waitingFolder = service.getJobs().findJob (waiting.separationId)->getFolder();
    ASSERT_TRUE (runningFolder.isDirectory());

    // The queued job goes first: cancelling the running one frees the worker, which then rightly
    // takes whatever is still queued.
    for (const auto& id : { queued, waiting.separationId, running })
    {
        const auto res = service.makeClient()->Post (("/api/separation/cancel/" + id).toStdString());
        EXPECT_EQ (getStatus (res), 200);
        EXPECT_EQ (test::memberOf (res->body, "object").getProperty ("state", {}).toString(), "cancelled");
        EXPECT_EQ (getStatus (service.get ("/api/separation/progress/" + id)), 404);
        EXPECT_EQ (getStatus (service.makeClient()->Post (("/api/separation/cancel/" + id).toStdString())), 404);
    }

    // The engine saw the stop request and the worker removed the running job's folder.
    for (int i = 0; i < 500 && runningFolder.exists(); ++i)
        juce::Thread::sleep (10);
    EXPECT_FALSE (runningFolder.exists());
    EXPECT_FALSE (queuedFolder.exists());
    EXPECT_FALSE (waitingFolder.exists());
    EXPECT_EQ (service.getEngine().getNumStarted(), 1); // the queued job never ran
    EXPECT_EQ (getStatus (service.upload (waiting.signedUrl, test::writeRequestFile (dir.get(), 1))), 404);

    // The worker is free again, and the next job it runs is the new one: the cancelled queued job is gone for good.
    service.getEngine().release();
    EXPECT_FALSE (service.waitUntilDone (startJob (service, dir.get(), 1)).error.has_value());
    EXPECT_EQ (service.getEngine().getNumStarted(), 2);
}

TEST (ServiceProtocol, JobsAreRemovedWithTheirFoldersAfterTheirTimeToLive)
{
    test::TemporaryDirectory dir;
    test::ServiceUnderTest::Options options;
    options.ttlSeconds = 1;
    test::ServiceUnderTest service (options);

    const auto idle = service.create();
    const auto busy = startJob (service, dir.get(), 2);
    ASSERT_TRUE (service.getEngine().waitForStarted (1));
    const auto idleFolder = service.getJobs().findJob (idle.separationId)->getFolder();

    // The idle job goes; the running one stays however long it runs. The housekeeper (or
    // the call here) drops the job first and removes its folder just after, outside the
    // lock, so the wait covers both.
    const auto waitForRemoval = [&] (const juce::File& folder) {
        for (int i = 0; i < 400 && folder.exists(); ++i)
            juce::Thread::sleep (10);
    };
    service.getClock().advance (1100); // ms: past the idle job's time to live
    service.getJobs().removeExpiredJobs();
    waitForRemoval (idleFolder);
    EXPECT_EQ (service.getJobs().findJob (idle.separationId), nullptr);
    EXPECT_FALSE (idleFolder.exists());
    service.getClock().advance (1200);
    service.getJobs().removeExpiredJobs();
    ASSERT_NE (service.getJobs().findJob (busy), nullptr);

    // Once done, it lives one more time to live for its downloads, then goes with its files.
    service.getEngine().release();
    ASSERT_TRUE (service.waitUntilDone (busy).done);
    const auto busyFolder = service.getJobs().findJob (busy)->getFolder();
    EXPECT_TRUE (busyFolder.getChildFile ("output").getChildFile ("vocals.wav").existsAsFile());
    service.getClock().advance (1100);
    service.getJobs().removeExpiredJobs();
    waitForRemoval (busyFolder);
    EXPECT_FALSE (busyFolder.exists());
    EXPECT_EQ (service.getJobs().getNumJobs(), 0);
    EXPECT_EQ (service.getJobs().getJobsDirectory().findChildFiles (juce::File::findFilesAndDirectories, true).size(), 0);
}

TEST (ServiceProtocol, VersionRequestsOfferSignedReleaseDownloads)
{
    test::ServiceUnderTest service;
    const auto releases = service.getDataDirectory().getChildFile ("releases");
    ASSERT_TRUE (releases.createDirectory());
    for (auto name : { "KP-1.2.0-linux.zip", "KP-1.10.0-linux.zip", "KP-2.0.0-mac.zip", "XX-9.0.0-linux.zip" })
        releases.getChildFile (name).replaceWithText (name);

    const auto latest = service.get ("/api/version/latest?code=KP&os=linux&version=1.9.9");
    ASSERT_EQ (getStatus (latest), 200);
    const auto object = test::memberOf (latest->body, "object");
    EXPECT_EQ (object.getProperty ("version", {}).toString(), "1.10.0");
    EXPECT_TRUE (static_cast<bool> (object.getProperty ("newer", false)));
    EXPECT_FALSE (
        static_cast<bool> (test::memberOf (service.get ("/api/version/latest?code=KP&os=linux&version=1.10.0")->body, "object")
                               .getProperty ("newer", true)));
    EXPECT_EQ (getStatus (service.get ("/api/version/latest?code=ZZ&os=linux")), 404);

    const auto link = service.get ("/api/version/download?code=KP&version=1.2.0&os=linux");
    ASSERT_EQ (getStatus (link), 200);
    EXPECT_TRUE (test::memberOf (link->body, "error").isVoid()); // a success carries no "error" member
    const auto url = test::memberOf (link->body, "object").getProperty ("signedUrl", {}).toString();
    const auto file = service.makeClient (false)->Get (test::ServiceUnderTest::pathOf (url));
    ASSERT_EQ (getStatus (file), 200);
    EXPECT_EQ (file->body, "KP-1.2.0-linux.zip");
    EXPECT_EQ (getStatus (service.makeClient (false)->Get (test::ServiceUnderTest::pathOf (url.replace ("1.2.0", "1.10.0")))),
               403);

    const auto missing = service.get ("/api/version/download?code=KP&version=3.0.0&os=linux");
    EXPECT_EQ (getStatus (missing), 404);
    EXPECT_TRUE (static_cast<bool> (test::memberOf (missing->body, "error")));
    EXPECT_EQ (getStatus (service.get ("/api/version/download?code=..&version=1.2.0&os=linux")), 400);
}

TEST (ServiceProtocol, RealEnginesMakeTheDocumentedStems)
{
    test::TemporaryDirectory dir;
    test::ServiceUnderTest::Options options;
    options.useRealEngine = true;
    options.workers = 2;
    test::ServiceUnderTest service (options);

    struct Case
    {
        int module;
        juce::String parameters;
        juce::StringArray stems;
    };
    const std::vector<Case> cases {
        { 0, "{}", { "drums", "remainder" } },
        { 1, allVocalParameters, { "vocals", "VocalReverb" } }, // "backingTrack" is "Off": no remainder
        { 1, "{}", { "vocals", "remainder" } },
        { 2, R"({"nSources":4,"equalSpacing":"On","smear":"Off"})", { "source-1", "source-2", "source-3", "source-4" } },
        { 3, "{}", { "other", "remainder" } },
        { 5, "{}", { "bass", "remainder" } },
        { 6, R"({"gate":"false"})", { "vocals", "remainder" } },
        { 7, R"({"gate":"true"})", { "vocals", "bass", "drums", "other" } },
    };

    for (const auto& c : cases)
    {
        const auto created = service.create();
        const auto file = test::writeRequestFile (dir.get(), c.module, 2.0, 22050);
        ASSERT_EQ (getStatus (service.upload (created.signedUrl, file)), 200);
        ASSERT_EQ (getStatus (service.start (created.separationId, juce::String (c.module), c.parameters, file.getSize())), 200);

        const auto progress = service.waitUntilDone (created.separationId, 300000);
        ASSERT_TRUE (progress.done) << "module " << c.module;
        ASSERT_FALSE (progress.error.has_value()) << *progress.error;

        juce::StringArray names;
        for (const auto& f : getOutputFiles (service, created.separationId))
        {
            names.add (f.name.upToLastOccurrenceOf (".wav", false, false));
            const auto res = service.makeClient (false)->Get (test::ServiceUnderTest::pathOf (f.signedUrl));
            ASSERT_EQ (getStatus (res), 200);
            juce::WavAudioFormat wav;
            std::unique_ptr<juce::AudioFormatReader> reader (
                wav.createReaderFor (new juce::MemoryInputStream (res->body.data(), res->body.size(), false), true));
            ASSERT_NE (reader, nullptr) << f.name;
            EXPECT_EQ (reader->lengthInSamples, 44100) << f.name;
            EXPECT_EQ (reader->sampleRate, 22050.0);
        }
        names.sort (false);
        auto expected = c.stems;
        expected.sort (false);
        EXPECT_EQ (names.joinIntoString (","), expected.joinIntoString (",")) << "module " << c.module;
    }

    // A guided vocal separation follows the pitch guide the request file carries
    // (the mixture's voice sits at 220 Hz, MIDI 57).
    separation::RequestFileWriter writer (1, 1);
    ASSERT_TRUE (writer.addParameter ("mode", "Guided").wasOk());
    ASSERT_TRUE (writer.setPitchGuide (std::vector<float> (86, 57.0f), 512).wasOk());
    const auto guided = dir.get().getChildFile ("guided.ksrq");
    ASSERT_TRUE (
        writer
            .writeWithAudio (guided, test::makeMixture (22050, 2.0), 22050, 16, separation::SeparationRequest::AudioEncoding::wav)
            .wasOk());

    const auto created = service.create();
    ASSERT_EQ (getStatus (service.upload (created.signedUrl, guided)), 200);
    ASSERT_EQ (getStatus (service.start (created.separationId, "1", R"({"mode":"Guided"})", guided.getSize())), 200);
    const auto progress = service.waitUntilDone (created.separationId, 300000);
    ASSERT_TRUE (progress.done);
    EXPECT_FALSE (progress.error.has_value()) << progress.error.value_or ("");
    EXPECT_EQ (getOutputFiles (service, created.separationId).size(), 2);
}
