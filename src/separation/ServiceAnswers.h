#pragma once

#include <juce_core/juce_core.h>

#include <optional>

namespace kalder::separation
{

/**
    The JSON answers of the separation service: the service builds them with the
    make functions, the application reads them with the read functions, so both
    sides agree on every member name.

    Every error answer has the same shape whatever the request: "errorCode" 1,
    "error" true, and the message under both "message" and "Message" (the create
    answer is read under "Message", the others under "message"). A success answer
    has "errorCode" 0 and no "error" member: clients take any "error" member of the
    output-file list as a failure.

    Threading: stateless; any thread.
*/
class ServiceAnswers
{
public:
    /** The most a client reads of an answer, and how deep it lets it nest. */
    static constexpr int maxAnswerBytes = 1 << 20;
    static constexpr int maxAnswerDepth = 16;

    /** The message of a failed request whose answer names none (spelt as users have
        always read it). */
    static constexpr const char* unexpectedErrorText = "An unexpected error occured.";

    struct CreateResult
    {
        juce::String separationId, signedUrl, method;
    };

    struct Progress
    {
        float progress = 0.0f;
        juce::String event, state;
        bool done = false;
        std::optional<juce::String> error; // the failure's message when the separation failed
    };

    struct OutputFile
    {
        juce::String name; // a file name with its extension ("vocals.wav")
        juce::String signedUrl;
        juce::int64 size = 0;
    };

    static juce::var makeError (const juce::String& message);
    static juce::var makeCreateAnswer (const CreateResult& created);
    static juce::var makeStartAnswer (const juce::String& separationId, const juce::String& state);
    static juce::var makeProgressAnswer (const Progress& progress);
    static juce::var makeOutputFilesAnswer (const juce::Array<OutputFile>& files);
    static juce::var makeCancelAnswer (const juce::String& separationId);

    /** One line of JSON, as it goes on the wire. */
    static juce::String toJson (const juce::var& answer);

    /** The "object" of an answer that is not an error; a failed result carries the
        error's message (read from messageMember), or a fixed text when the answer is
        not JSON, has no message, or has no "object". */
    static juce::Result readObject (const juce::String& body, const juce::String& messageMember, juce::var& object);

    static juce::Result readCreateAnswer (const juce::String& body, CreateResult& result);
    static juce::Result readStartAnswer (const juce::String& body, juce::String& separationId);
    static juce::Result readProgressAnswer (const juce::String& body, Progress& result);
    static juce::Result readOutputFilesAnswer (const juce::String& body, juce::Array<OutputFile>& files);

    /** True for "errorCode" or "error" members that are true as booleans (true or a non-zero number). */
    static bool isErrorFlagSet (const juce::var& member);
};

} // namespace kalder::separation
