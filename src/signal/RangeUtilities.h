#pragma once

#include <juce_core/juce_core.h>

namespace kalder
{

/** The smallest range holding both; an empty range counts as nothing (juce::Range's own
    union would stretch to an empty range's position). */
template <typename Type>
juce::Range<Type> unionOf (juce::Range<Type> a, juce::Range<Type> b) noexcept
{
    if (a.isEmpty())
        return b;
    if (b.isEmpty())
        return a;
    return a.getUnionWith (b);
}

} // namespace kalder
