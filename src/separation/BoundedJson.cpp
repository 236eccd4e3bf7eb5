#include "BoundedJson.h"

namespace kalder::separation
{

int BoundedJson::getNestingDepth (const juce::String& text)
{
    int depth = 0, deepest = 0;
    bool inString = false, escaped = false;

    for (auto p = text.getCharPointer(); ! p.isEmpty(); ++p)
    {
        const auto c = *p;
        if (inString)
        {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }

        if (c == '"')
            inString = true;
        else if (c == '[' || c == '{')
            deepest = juce::jmax (deepest, ++depth);
        else if (c == ']' || c == '}')
            depth = juce::jmax (0, depth - 1);
    }
    return deepest;
}

juce::Result BoundedJson::parse (const juce::String& text, juce::var& result, int maxBytes, int maxDepth)
{
    result = juce::var();
    if (static_cast<int> (text.getNumBytesAsUTF8()) > maxBytes)
        return juce::Result::fail ("The JSON body is longer than " + juce::String (maxBytes) + " bytes");
    if (getNestingDepth (text) > maxDepth)
        return juce::Result::fail ("The JSON body nests deeper than " + juce::String (maxDepth) + " levels");

    const auto parsed = juce::JSON::parse (text, result);
    if (parsed.failed())
    {
        result = juce::var();
        return juce::Result::fail ("The body is not valid JSON: " + parsed.getErrorMessage());
    }
    return juce::Result::ok();
}

juce::Result BoundedJson::parseObject (const juce::String& text, juce::var& result, int maxBytes, int maxDepth)
{
    if (auto r = parse (text, result, maxBytes, maxDepth); r.failed())
        return r;
    if (result.getDynamicObject() == nullptr)
    {
        result = juce::var();
        return juce::Result::fail ("The JSON body is not an object");
    }
    return juce::Result::ok();
}

} // namespace kalder::separation
