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
    /** Parses text into result; fails when text has more than maxBytes UTF-8 bytes,
        nests arrays and objects deeper than maxDepth, or is not JSON. */
    static juce::Result parse (const juce::String& text, juce::var& result, int maxBytes, int maxDepth);

    /** Parses text that must be a JSON object (see parse). */
    static juce::Result parseObject (const juce::String& text, juce::var& result, int maxBytes, int maxDepth);

    /** The deepest nesting of arrays and objects in text, ignoring brackets inside strings. */
    static int getNestingDepth (const juce::String& text);
};

} // namespace kalder::separation
