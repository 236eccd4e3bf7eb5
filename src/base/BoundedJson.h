#pragma once

#include <juce_core/juce_core.h>

namespace kalder
{

/**
    JSON parsing with bounds on size and nesting, for text that comes from the
    network or from files a user or a damaged disk may have changed. JUCE's parser
    recurses once per nesting level, so a deep document could exhaust the stack, and
    it adds up a number's digits in fixed-size integers, which overflow on an integer
    part of more than 18 digits or an exponent of more than 9, and after a minus sign it
    takes any character as a digit: all three are checked by a flat scan before the
    parser runs.

    Threading: stateless; any thread.
*/
class BoundedJson
{
public:
    /** Parses bytes received from elsewhere into result; fails when there are more than
        maxBytes, they are not valid UTF-8 (or hold a zero byte), they nest arrays and
        objects deeper than maxDepth, hold a number that cannot be read safely, or are not JSON. */
    static juce::Result parseBytes (const void* data, size_t numBytes, juce::var& result, int maxBytes, int maxDepth);

    /** The same for text already in a String. */
    static juce::Result parse (const juce::String& text, juce::var& result, int maxBytes, int maxDepth);

    /** Parses text that must be a JSON object (see parse). */
    static juce::Result parseObject (const juce::String& text, juce::var& result, int maxBytes, int maxDepth);

    /** The deepest nesting of arrays and objects in UTF-8 text, ignoring brackets inside
        strings; -1 when a number outside strings has an integer part of more than
        maxIntegerDigits digits or an exponent of more than maxExponentDigits, or a
        minus sign is not followed by a digit. */
    static int getNestingDepth (const char* utf8, size_t numBytes);
    static constexpr int maxIntegerDigits = 18, maxExponentDigits = 9;
};

} // namespace kalder
