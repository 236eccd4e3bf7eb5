#include "BoundedJson.h"

namespace kalder
{

int BoundedJson::getNestingDepth (const char* utf8, size_t numBytes)
{
    // Byte by byte: every character that matters here is ASCII, and UTF-8 never uses
    // ASCII bytes inside a multi-byte sequence, so no decoding is needed (or trusted).
    int depth = 0, deepest = 0;
    bool inString = false, escaped = false;
    int digits = 0;        // of the run of digits ending here
    bool exponent = false; // that run follows an e or E (and a sign)
    char before = 0;       // the byte before the run
    bool minus = false;    // a minus sign outside an exponent, not yet followed by a digit

    for (size_t i = 0; i < numBytes; ++i)
    {
        const auto c = utf8[i];
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

        // after a minus the parser takes whatever comes (past spaces) as the first digit
        const auto space = c == ' ' || c == '\t' || c == '\r' || c == '\n';
        if (minus && ! space && (c < '0' || c > '9'))
            return -1;
        if (c >= '0' && c <= '9')
        {
            minus = false;
            if (digits++ == 0)
                exponent = before == 'e' || before == 'E'
                           || ((before == '+' || before == '-') && i >= 2 && (utf8[i - 2] == 'e' || utf8[i - 2] == 'E'));
            // a fraction's digits are read safely; the integer part and the exponent are not
            if (before != '.' && digits > (exponent ? maxExponentDigits : maxIntegerDigits))
                return -1;
            continue;
        }
        if (c == '-' && before != 'e' && before != 'E')
            minus = true;
        digits = 0;
        before = c;

        if (c == '"')
            inString = true;
        else if (c == '[' || c == '{')
            deepest = juce::jmax (deepest, ++depth);
        else if (c == ']' || c == '}')
            depth = juce::jmax (0, depth - 1);
    }
    return deepest;
}

juce::Result BoundedJson::parseBytes (const void* data, size_t numBytes, juce::var& result, int maxBytes, int maxDepth)
{
    result = juce::var();
    const auto* utf8 = static_cast<const char*> (data);
    if (numBytes > static_cast<size_t> (maxBytes))
        return juce::Result::fail ("The JSON body is longer than " + juce::String (maxBytes) + " bytes");
    if (std::memchr (utf8, 0, numBytes) != nullptr || ! juce::CharPointer_UTF8::isValidString (utf8, static_cast<int> (numBytes)))
        return juce::Result::fail ("The JSON body is not UTF-8 text");
    const auto depth = getNestingDepth (utf8, numBytes);
    if (depth < 0)
        return juce::Result::fail ("The JSON body holds a number that cannot be read safely");
    if (depth > maxDepth)
        return juce::Result::fail ("The JSON body nests deeper than " + juce::String (maxDepth) + " levels");

    // Only now is the text safe to decode: JUCE walks UTF-8 by its lead bytes, and a
    // malformed sequence would walk past the end.
    const auto parsed = juce::JSON::parse (juce::String::fromUTF8 (utf8, static_cast<int> (numBytes)), result);
    if (parsed.failed())
    {
        result = juce::var();
        return juce::Result::fail ("The body is not valid JSON: " + parsed.getErrorMessage());
    }
    return juce::Result::ok();
}

juce::Result BoundedJson::parse (const juce::String& text, juce::var& result, int maxBytes, int maxDepth)
{
    const auto* utf8 = text.toRawUTF8();
    return parseBytes (utf8, std::strlen (utf8), result, maxBytes, maxDepth);
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

} // namespace kalder
