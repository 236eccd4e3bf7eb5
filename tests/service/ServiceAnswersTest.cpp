#include "separation/ServiceAnswers.h"
#include "separation/BoundedJson.h"

#include <gtest/gtest.h>

using kalder::separation::BoundedJson;
using kalder::separation::ServiceAnswers;

TEST (BoundedJson, RefusesDeepOrLargeTextBeforeParsing)
{
    juce::var v;
    EXPECT_TRUE (BoundedJson::parse ("{\"a\":[1,{\"b\":2}]}", v, 1000, 3).wasOk());
    EXPECT_TRUE (BoundedJson::parse ("{\"a\":[1,{\"b\":[2]}]}", v, 1000, 3).failed());

    // A million brackets would overflow the recursive parser's stack; the scan stops it first.
    const auto deep = juce::String::repeatedString ("[", 1000000);
    EXPECT_TRUE (BoundedJson::parse (deep, v, 2000000, 8).getErrorMessage().contains ("deeper"));
    EXPECT_TRUE (BoundedJson::parse ("[" + juce::String::repeatedString ("1,", 600) + "1]", v, 1000, 8)
                     .getErrorMessage()
                     .contains ("longer"));

    // Brackets inside strings, escaped quotes included, are text, not nesting.
    const char* quoted = "{\"x\":\"[[[\\\"{{{\"}";
    EXPECT_EQ (BoundedJson::getNestingDepth (quoted, std::strlen (quoted)), 1);
    EXPECT_TRUE (BoundedJson::parse ("{\"x\":\"[[[[[[[[[[\"}", v, 1000, 1).wasOk());

    EXPECT_TRUE (BoundedJson::parse ("{\"a\":", v, 1000, 8).failed());

    // Malformed UTF-8 is refused before anything decodes it: a lead byte promising
    // three more bytes at the very end would otherwise be followed past the buffer.
    const char truncated[] = { '{', '"', 'a', '"', ':', '"', 'x', '"', '}', static_cast<char> (0xf0) };
    EXPECT_TRUE (BoundedJson::parseBytes (truncated, sizeof (truncated), v, 1000, 8).getErrorMessage().contains ("UTF-8"));
    EXPECT_TRUE (BoundedJson::parseBytes (truncated, sizeof (truncated) - 1, v, 1000, 8).wasOk());
    const char withZero[] = { '{', '}', 0, '[' };
    EXPECT_TRUE (BoundedJson::parseBytes (withZero, sizeof (withZero), v, 1000, 8).failed());
    EXPECT_TRUE (BoundedJson::parseObject ("[1]", v, 1000, 8).failed());
    EXPECT_TRUE (BoundedJson::parseObject ("", v, 1000, 8).failed());
}

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
