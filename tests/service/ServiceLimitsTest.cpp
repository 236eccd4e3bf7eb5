#include "ServiceTestHelpers.h"

#include "service/AccessToken.h"
#include "service/ServiceOptions.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kalder;
using State = service::SeparationJob::State;

namespace
{
int getStatus (const httplib::Result& res)
{
    return res ? res->status : -1;
}

/** Sends raw bytes on a new connection and returns what comes back within timeoutMs. */
juce::String exchange (int port, const juce::String& request, int timeoutMs)
{
    juce::StreamingSocket socket;
    if (! socket.connect ("127.0.0.1", port, 2000))
        return {};
    socket.write (request.toRawUTF8(), static_cast<int> (request.getNumBytesAsUTF8()));

    juce::MemoryBlock received;
    const auto end = juce::Time::getMillisecondCounter() + static_cast<juce::uint32> (timeoutMs);
    char buffer[4096];
    while (juce::Time::getMillisecondCounter() < end)
    {
        const auto ready = socket.waitUntilReady (true, 50);
        if (ready < 0)
            break;
        if (ready == 0)
            continue;
        const auto n = socket.read (buffer, sizeof (buffer), false);
        if (n <= 0)
            break;
        received.append (buffer, static_cast<size_t> (n));

        // Stop at the end of the first complete answer; the connection may stay open.
        const auto text = received.toString();
        const auto headerEnd = text.indexOf ("\r\n\r\n");
        const auto length = text.fromFirstOccurrenceOf ("Content-Length:", false, true).getIntValue();
        if (headerEnd >= 0 && static_cast<int> (received.getSize()) >= headerEnd + 4 + length)
            break;
    }
    return received.toString();
}
} // namespace

TEST (ServiceLimits, OversizeUploadIsRefusedBeforeItsBodyIsRead)
{
    test::TemporaryDirectory dir;
    test::ServiceUnderTest::Options options;
    options.maxUploadBytes = 1 << 20;
    test::ServiceUnderTest service (options);

    // Announce 10 GB and send none of it: the answer must come at once.
    const auto created = service.create();
    const auto path = test::ServiceUnderTest::pathOf (created.signedUrl);
    const auto answer = exchange (service.getPort(),
                                  "PUT " + juce::String (path)
                                      + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/plain\r\n"
                                        "Content-Length: 10000000000\r\n\r\n",
                                  3000);
    EXPECT_TRUE (answer.startsWith ("HTTP/1.1 413")) << answer;
    EXPECT_EQ (test::memberOf (answer.fromFirstOccurrenceOf ("\r\n\r\n", false, false).toStdString(), "errorCode"), juce::var (1))
        << answer;
    EXPECT_EQ (service.getJobs().findJob (created.separationId)->getState(), State::failed);

    // A client that waits for "100 Continue" is refused before it sends anything.
    const auto other = service.create();
    const auto expect = exchange (service.getPort(),
                                  "PUT " + juce::String (test::ServiceUnderTest::pathOf (other.signedUrl))
                                      + " HTTP/1.1\r\nHost: 127.0.0.1\r\nExpect: 100-continue\r\nContent-Length: 2000000\r\n\r\n",
                                  3000);
    EXPECT_TRUE (expect.startsWith ("HTTP/1.1 413")) << expect;

    // A chunked body is counted as it arrives and cut off at the limit; nothing stays on disk.
    const auto chunked = service.create();
    size_t sent = 0;
    service.makeClient (false)->Put (
        test::ServiceUnderTest::pathOf (chunked.signedUrl),
        [&sent] (size_t, httplib::DataSink& sink) {
            const std::string block (64 * 1024, 'k');
            sent += block.size();
            return sent > (4u << 20) ? (sink.done(), true) : sink.write (block.data(), block.size());
        },
        "text/plain");
    const auto job = service.getJobs().findJob (chunked.separationId);
    EXPECT_EQ (job->getState(), State::failed);
    EXPECT_FALSE (job->getRequestFile().exists());

    // Under the limit all is well, and the service is still there.
    EXPECT_EQ (getStatus (service.upload (service.create().signedUrl, test::writeRequestFile (dir.get(), 5))), 200);
}

TEST (ServiceLimits, BrokenOffUploadCanBeRepeated)
{
    test::TemporaryDirectory dir;
    test::ServiceUnderTest service;
    const auto created = service.create();
    const auto path = juce::String (test::ServiceUnderTest::pathOf (created.signedUrl));

    {
        // Announce 100000 bytes, send 10 and hang up.
        juce::StreamingSocket socket;
        ASSERT_TRUE (socket.connect ("127.0.0.1", service.getPort(), 2000));
        const auto request = "PUT " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100000\r\n\r\nKSRQ012345";
        socket.write (request.toRawUTF8(), static_cast<int> (request.getNumBytesAsUTF8()));
        ASSERT_TRUE (service.waitForState (created.separationId, State::uploading));
    }

    ASSERT_TRUE (service.waitForState (created.separationId, State::awaitingUpload));
    const auto job = service.getJobs().findJob (created.separationId);
    EXPECT_FALSE (job->getRequestFile().exists());

    const auto file = test::writeRequestFile (dir.get(), 2);
    EXPECT_EQ (getStatus (service.upload (created.signedUrl, file)), 200);
    EXPECT_EQ (job->getState(), State::uploaded);
    EXPECT_EQ (job->getStatus().bytesReceived, file.getSize());
}

TEST (ServiceLimits, JsonBodiesAreBoundedInSizeAndDepth)
{
    test::ServiceUnderTest service;
    const auto client = service.makeClient();

    const auto large = client->Put ("/api/separation/start", std::string (70 * 1024, ' ') + "{}", "application/json");
    EXPECT_EQ (getStatus (large), 413);

    const auto deep = client->Put ("/api/separation/start", std::string (5000, '[') + std::string (5000, ']'),
                                   "application/json");
    EXPECT_EQ (getStatus (deep), 400);
    EXPECT_TRUE (test::memberOf (deep->body, "message").toString().contains ("deeper"));

    const auto notText = client->Put ("/api/separation/start", std::string ("{\"separationId\":\"\xf0\x9f"), "application/json");
    EXPECT_EQ (getStatus (notText), 400);
    EXPECT_TRUE (test::memberOf (notText->body, "message").toString().contains ("UTF-8"));

    const auto chunked = client->Put (
        "/api/separation/start",
        [] (size_t, httplib::DataSink& sink) {
            sink.done();
            return true;
        },
        "application/json");
    EXPECT_EQ (getStatus (chunked), 411);
}

TEST (ServiceLimits, FullQueueAndTooManyJobsAreClearRefusals)
{
    test::TemporaryDirectory dir;
    test::ServiceUnderTest::Options options;
    options.workers = 1;
    options.maxQueued = 1;
    options.maxJobs = 4;
    test::ServiceUnderTest service (options);
    const auto file = test::writeRequestFile (dir.get(), 7);

    std::vector<juce::String> ids;
    for (int i = 0; i < 3; ++i)
    {
        const auto created = service.create();
        ASSERT_EQ (getStatus (service.upload (created.signedUrl, file)), 200);
        ids.push_back (created.separationId);
    }

    ASSERT_EQ (getStatus (service.start (ids[0], "7")), 200);
    ASSERT_TRUE (service.getEngine().waitForStarted (1));     // running
    ASSERT_EQ (getStatus (service.start (ids[1], "7")), 200); // waiting
    const auto full = service.start (ids[2], "7");
    EXPECT_EQ (getStatus (full), 503);
    EXPECT_TRUE (test::memberOf (full->body, "message").toString().contains ("queue is full"));
    EXPECT_EQ (service.getJobs().findJob (ids[2])->getState(), State::uploaded); // still startable

    // The fourth job is the last one the service holds.
    ASSERT_EQ (getStatus (service.makeClient()->Post ("/api/separation/create")), 200);
    const auto tooMany = service.makeClient()->Post ("/api/separation/create");
    EXPECT_EQ (getStatus (tooMany), 503);
    EXPECT_TRUE (test::memberOf (tooMany->body, "Message").toString().contains ("separations already"));

    service.getEngine().release();
    ASSERT_TRUE (service.waitUntilDone (ids[0]).done);
    ASSERT_TRUE (service.waitUntilDone (ids[1]).done);
    EXPECT_EQ (getStatus (service.start (ids[2], "7")), 200);
    EXPECT_FALSE (service.waitUntilDone (ids[2]).error.has_value());
}

TEST (ServiceLimits, StaysResponsiveWith64SlowConnectionsOpen)
{
    test::ServiceUnderTest service;
    const auto created = service.create();

    // Half the connections say nothing, half start a request and stall in its headers.
    std::vector<std::unique_ptr<juce::StreamingSocket>> idle;
    for (int i = 0; i < 64; ++i)
    {
        auto socket = std::make_unique<juce::StreamingSocket>();
        ASSERT_TRUE (socket->connect ("127.0.0.1", service.getPort(), 2000));
        if (i % 2 == 1)
        {
            const juce::String partial ("GET /api/separation/progress/");
            socket->write (partial.toRawUTF8(), partial.length());
        }
        idle.push_back (std::move (socket));
    }
    juce::Thread::sleep (200); // let the service take them all

    for (int i = 0; i < 5; ++i)
    {
        const auto before = juce::Time::getMillisecondCounterHiRes();
        const auto res = service.get ("/api/separation/progress/" + created.separationId);
        const auto elapsed = juce::Time::getMillisecondCounterHiRes() - before;
        EXPECT_EQ (getStatus (res), 200);
        EXPECT_LT (elapsed, 1000.0);
    }
}

TEST (ServiceLimits, TokenFileIsCreatedPrivateAndKept)
{
    test::TemporaryDirectory dir;
    const auto file = dir.get().getChildFile ("sub").getChildFile ("token");

    std::string first, second;
    ASSERT_TRUE (service::AccessToken::loadOrCreate (file, first).wasOk());
    EXPECT_EQ (first.size(), 64u);
    struct stat info
    {};
    ASSERT_EQ (::stat (file.getFullPathName().toRawUTF8(), &info), 0);
    EXPECT_EQ (info.st_mode & 0777, 0600u);

    ASSERT_TRUE (service::AccessToken::loadOrCreate (file, second).wasOk());
    EXPECT_EQ (first, second);

    std::string other;
    ASSERT_TRUE (service::AccessToken::loadOrCreate (dir.get().getChildFile ("other"), other).wasOk());
    EXPECT_NE (first, other);

    file.replaceWithText ("short");
    EXPECT_TRUE (service::AccessToken::loadOrCreate (file, second).failed());
    EXPECT_TRUE (second.empty());
}

TEST (ServiceLimits, OptionsHaveSafeDefaultsAndBounds)
{
    service::ServiceOptions options;
    ASSERT_TRUE (service::ServiceOptions::parse ({}, options).wasOk());
    EXPECT_EQ (options.host, "127.0.0.1");
    EXPECT_EQ (options.port, 0);
    EXPECT_EQ (options.tokenFile, options.dataDirectory.getChildFile ("token"));

    ASSERT_TRUE (service::ServiceOptions::parse ({ "--port=8123", "--workers", "3", "--data-dir", "/tmp/kalder-x", "--job-ttl",
                                                   "60", "--max-upload-mb", "5" },
                                                 options)
                     .wasOk());
    EXPECT_EQ (options.port, 8123);
    EXPECT_EQ (options.workers, 3);
    EXPECT_EQ (options.jobTtlSeconds, 60);
    EXPECT_EQ (options.maxUploadMb, 5);
    EXPECT_EQ (options.tokenFile.getFullPathName(), "/tmp/kalder-x/token");

    for (const auto& bad : std::vector<juce::StringArray> { { "--port", "70000" },
                                                            { "--workers", "0" },
                                                            { "--workers", "two" },
                                                            { "--job-ttl", "-5" },
                                                            { "--port" },
                                                            { "--colour", "red" },
                                                            { "--host", "0.0.0.0" }, // clear text to the network, unasked
                                                            { "stray" } })
        EXPECT_TRUE (service::ServiceOptions::parse (bad, options).failed()) << bad.joinIntoString (" ");
    EXPECT_EQ (service::ServiceOptions::parse ({ "--colour" }, options).getErrorMessage(), "Unknown option --colour");
    EXPECT_TRUE (service::ServiceOptions::parse ({ "--host", "0.0.0.0", "--allow-clear-text-network" }, options).wasOk());
}
