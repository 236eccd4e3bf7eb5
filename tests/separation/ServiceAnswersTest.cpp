#include "separation/ServiceAnswers.h"

#include <gtest/gtest.h>

using kalder::separation::ServiceAnswers;

TEST (ServiceAnswers, ClientReadsErrorsAndObjectsByTheProtocolsRules)
{
    ServiceAnswers::CreateResult created;
    EXPECT_TRUE (
        ServiceAnswers::readCreateAnswer (
            "{\"errorCode\":0,\"object\":{\"separationId\":\"a\",\"signedUrl\":\"http://x/u\",\"method\":\"PUT\"}}", created)
            .wasOk());
    EXPECT_EQ (created.method, "PUT");

    // An error's message is "Message" for create, "message" for the others.
    EXPECT_EQ (ServiceAnswers::readCreateAnswer ("{\"errorCode\":3,\"Message\":\"no\"}", created).getErrorMessage(), "no");
    EXPECT_EQ (ServiceAnswers::readCreateAnswer ("{\"errorCode\":true,\"message\":\"no\"}", created).getErrorMessage(),
               "An unexpected error occured.");
    juce::String id;
    EXPECT_EQ (ServiceAnswers::readStartAnswer ("{\"errorCode\":1,\"message\":\"late\"}", id).getErrorMessage(), "late");

    // Valid JSON without "object" (and no error flag) is still a failure; errorCode 0 or false is not an error.
    EXPECT_TRUE (ServiceAnswers::readStartAnswer ("{\"errorCode\":0}", id).failed());
    EXPECT_TRUE (ServiceAnswers::readStartAnswer ("{\"errorCode\":false,\"object\":{\"separationId\":\"b\"}}", id).wasOk());
    EXPECT_EQ (id, "b");
    EXPECT_TRUE (ServiceAnswers::readStartAnswer ("not json", id).failed());

    // What the service makes, the client reads back.
    const auto error = ServiceAnswers::toJson (ServiceAnswers::makeError ("Boom"));
    EXPECT_EQ (ServiceAnswers::readCreateAnswer (error, created).getErrorMessage(), "Boom");
    EXPECT_EQ (ServiceAnswers::readStartAnswer (error, id).getErrorMessage(), "Boom");
    EXPECT_FALSE (error.containsChar ('\n'));

    ServiceAnswers::Progress failed;
    failed.progress = 0.4f;
    failed.done = true;
    failed.error = "engine broke";
    ServiceAnswers::Progress read;
    ASSERT_TRUE (
        ServiceAnswers::readProgressAnswer (ServiceAnswers::toJson (ServiceAnswers::makeProgressAnswer (failed)), read).wasOk());
    EXPECT_FLOAT_EQ (read.progress, 0.4f);
    EXPECT_TRUE (read.done);
    EXPECT_EQ (read.error.value_or (""), "engine broke");

    juce::Array<ServiceAnswers::OutputFile> files;
    EXPECT_TRUE (
        ServiceAnswers::readOutputFilesAnswer ("{\"outputFiles\":[{\"name\":\"\",\"signedUrl\":\"u\"}]}", files).failed());
    EXPECT_EQ (ServiceAnswers::readOutputFilesAnswer (error, files).getErrorMessage(), "Boom");

    // Successes carry no "error" member, since the client fails a list on any "error" member.
    ServiceAnswers::OutputFile vocals { "vocals.wav", "http://x/d", 4 };
    const auto list = ServiceAnswers::toJson (ServiceAnswers::makeOutputFilesAnswer ({ vocals }));
    const auto running = ServiceAnswers::toJson (ServiceAnswers::makeProgressAnswer ({}));
    EXPECT_FALSE (list.contains ("\"error\"") || running.contains ("\"error\""));
    ASSERT_TRUE (ServiceAnswers::readOutputFilesAnswer (list, files).wasOk());
    EXPECT_EQ (files.size(), 1);
    EXPECT_TRUE (ServiceAnswers::readOutputFilesAnswer (list.replace ("{", "{\"error\":false,"), files).failed());
    ASSERT_TRUE (ServiceAnswers::readProgressAnswer (running, read).wasOk());
    EXPECT_FALSE (read.error.has_value());
}
