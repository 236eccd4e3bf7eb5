#pragma once

#include <juce_core/juce_core.h>

namespace kalder::separation
{

/**
    JSON parsing with bounds on size and nesting, for text that comes from the
    network. JUCE's parser recurses once per nesting level, so a deep document could
    exhaust the stack: the depth is checked by a flat scan before the parser runs.

    Threading: stateless; any thread.
*/
class BoundedJson
{
public:
    /** Parses bytes received from elsewhere into result; fails when there are more than
        maxBytes, they are not valid UTF-8 (or hold a zero byte), they nest arrays and
        objects deeper than maxDepth, or they are not JSON. */
    static juce::Result parseBytes (const void* data, size_t numBytes, juce::var& result, int maxBytes, int maxDepth);

    /** The same for text already in a String. */
    static juce::Result parse (const juce::String& text, juce::var& result, int maxBytes, int maxDepth);

    /** Parses text that must be a JSON object (see parse). */
    static juce::Result parseObject (const juce::String& text, juce::var& result, int maxBytes, int maxDepth);

    /** The deepest nesting of arrays and objects in UTF-8 text, ignoring brackets inside strings. */
    static int getNestingDepth (const char* utf8, size_t numBytes);
};

} // namespace kalder::separation
