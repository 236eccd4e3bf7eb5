#include "ServiceAnswers.h"

#include "base/BoundedJson.h"

namespace kalder::separation
{

namespace
{
    // The texts the user reads, as they have always been worded.
    const char* const unexpectedError = ServiceAnswers::unexpectedErrorText;

    juce::var makeObject()
    {
        return juce::var (new juce::DynamicObject());
    }

    juce::var makeSuccess (const juce::var& object)
    {
        auto answer = makeObject();
        answer.getDynamicObject()->setProperty ("errorCode", 0);
        answer.getDynamicObject()->setProperty ("object", object);
        return answer;
    }

    juce::Result parseAnswer (const juce::String& body, juce::var& answer)
    {
        if (BoundedJson::parseObject (body, answer, ServiceAnswers::maxAnswerBytes, ServiceAnswers::maxAnswerDepth).failed())
            return juce::Result::fail ("The service's answer could not be read");
        return juce::Result::ok();
    }

    juce::String messageOf (const juce::var& answer, const juce::String& member)
    {
        const auto message = answer.getProperty (member, {});
        return message.isString() && message.toString().isNotEmpty() ? message.toString() : juce::String (unexpectedError);
    }
} // namespace

bool ServiceAnswers::isErrorFlagSet (const juce::var& member)
{
    if (member.isBool() || member.isInt() || member.isInt64() || member.isDouble())
        return static_cast<bool> (member);
    return false;
}

juce::var ServiceAnswers::makeError (const juce::String& message)
{
    auto answer = makeObject();
    auto* o = answer.getDynamicObject();
    o->setProperty ("errorCode", 1);
    o->setProperty ("error", true);
    o->setProperty ("message", message);
    o->setProperty ("Message", message);
    return answer;
}

juce::var ServiceAnswers::makeCreateAnswer (const CreateResult& created)
{
    auto object = makeObject();
    object.getDynamicObject()->setProperty ("separationId", created.separationId);
    object.getDynamicObject()->setProperty ("signedUrl", created.signedUrl);
    object.getDynamicObject()->setProperty ("method", created.method);
    return makeSuccess (object);
}

juce::var ServiceAnswers::makeStartAnswer (const juce::String& separationId, const juce::String& state)
{
    auto object = makeObject();
    object.getDynamicObject()->setProperty ("separationId", separationId);
    object.getDynamicObject()->setProperty ("state", state);
    return makeSuccess (object);
}

juce::var ServiceAnswers::makeProgressAnswer (const Progress& progress)
{
    auto answer = makeObject();
    auto* o = answer.getDynamicObject();
    o->setProperty ("errorCode", 0);
    o->setProperty ("progress", progress.progress);
    o->setProperty ("event", progress.event);
    o->setProperty ("state", progress.state);
    o->setProperty ("done", progress.done);
    // "error" appears only on a failure: a client takes any "error" member as one.
    if (progress.error.has_value())
    {
        o->setProperty ("error", true);
        o->setProperty ("message", *progress.error);
    }
    return answer;
}

juce::var ServiceAnswers::makeOutputFilesAnswer (const juce::Array<OutputFile>& files)
{
    juce::Array<juce::var> list;
    for (const auto& f : files)
    {
        auto entry = makeObject();
        entry.getDynamicObject()->setProperty ("name", f.name);
        entry.getDynamicObject()->setProperty ("signedUrl", f.signedUrl);
        entry.getDynamicObject()->setProperty ("size", f.size);
        list.add (entry);
    }

    auto answer = makeObject();
    answer.getDynamicObject()->setProperty ("errorCode", 0);
    answer.getDynamicObject()->setProperty ("outputFiles", list);
    return answer;
}

juce::var ServiceAnswers::makeCancelAnswer (const juce::String& separationId)
{
    return makeStartAnswer (separationId, "cancelled");
}

juce::String ServiceAnswers::toJson (const juce::var& answer)
{
    return juce::JSON::toString (answer, true);
}

juce::Result ServiceAnswers::readObject (const juce::String& body, const juce::String& messageMember, juce::var& object)
{
    object = juce::var();
    juce::var answer;
    if (auto r = parseAnswer (body, answer); r.failed())
        return r;
    if (isErrorFlagSet (answer.getProperty ("errorCode", {})) || isErrorFlagSet (answer.getProperty ("error", {})))
        return juce::Result::fail (messageOf (answer, messageMember));

    object = answer.getProperty ("object", {});
    if (object.getDynamicObject() == nullptr)
        return juce::Result::fail (unexpectedError);
    return juce::Result::ok();
}

juce::Result ServiceAnswers::readCreateAnswer (const juce::String& body, CreateResult& result)
{
    juce::var object;
    if (auto r = readObject (body, "Message", object); r.failed())
        return r;

    result.separationId = object.getProperty ("separationId", {}).toString();
    result.signedUrl = object.getProperty ("signedUrl", {}).toString();
    result.method = object.getProperty ("method", {}).toString();
    if (result.separationId.isEmpty() || result.signedUrl.isEmpty() || result.method.isEmpty())
        return juce::Result::fail (unexpectedError);
    return juce::Result::ok();
}

juce::Result ServiceAnswers::readStartAnswer (const juce::String& body, juce::String& separationId)
{
    juce::var object;
    if (auto r = readObject (body, "message", object); r.failed())
        return r;
    separationId = object.getProperty ("separationId", {}).toString();
    return juce::Result::ok();
}

juce::Result ServiceAnswers::readProgressAnswer (const juce::String& body, Progress& result)
{
    juce::var answer;
    if (auto r = parseAnswer (body, answer); r.failed())
        return r;

    result = Progress();
    result.progress = juce::jlimit (0.0f, 1.0f, static_cast<float> (answer.getProperty ("progress", 0.0)));
    result.event = answer.getProperty ("event", {}).toString();
    result.state = answer.getProperty ("state", {}).toString();
    result.done = static_cast<bool> (answer.getProperty ("done", false));
    if (isErrorFlagSet (answer.getProperty ("errorCode", {})) || isErrorFlagSet (answer.getProperty ("error", {})))
        result.error = messageOf (answer, "message");
    return juce::Result::ok();
}

juce::Result ServiceAnswers::readOutputFilesAnswer (const juce::String& body, juce::Array<OutputFile>& files)
{
    files.clear();
    juce::var answer;
    if (auto r = parseAnswer (body, answer); r.failed())
        return r;
    // Any "error" member fails the list, whatever its value.
    if (isErrorFlagSet (answer.getProperty ("errorCode", {})) || answer.hasProperty ("error"))
        return juce::Result::fail (messageOf (answer, "message"));

    const auto* list = answer.getProperty ("outputFiles", {}).getArray();
    if (list == nullptr)
        return juce::Result::fail (unexpectedError);

    for (const auto& entry : *list)
    {
        OutputFile f;
        f.name = entry.getProperty ("name", {}).toString();
        f.signedUrl = entry.getProperty ("signedUrl", {}).toString();
        f.size = static_cast<juce::int64> (entry.getProperty ("size", 0));
        if (f.name.isEmpty() || f.signedUrl.isEmpty())
            return juce::Result::fail (unexpectedError);
        files.add (f);
    }
    return juce::Result::ok();
}

} // namespace kalder::separation
