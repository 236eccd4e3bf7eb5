#include "ApplicationTree.h"

#include <juce_events/juce_events.h>

namespace kalder
{

namespace
{
    ApplicationTree* installed = nullptr;
} // namespace

ApplicationTree::ApplicationTree()
{
    tree.setProperty (ApplicationIds::flags, 0, nullptr);
}

ApplicationTree::~ApplicationTree()
{
    // An instance must not be destroyed while it is installed.
    jassert (installed != this);
}

ApplicationTree& ApplicationTree::getInstance()
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (installed != nullptr)
        return *installed;
    static ApplicationTree fallback;
    return fallback;
}

ApplicationTree::ScopedInstance::ScopedInstance (ApplicationTree& instance) : previous (installed)
{
    JUCE_ASSERT_MESSAGE_THREAD
    installed = &instance;
}

ApplicationTree::ScopedInstance::~ScopedInstance()
{
    installed = previous;
}

void ApplicationTree::enableFlags (int mask)
{
    updateFlags (mask, mask);
}

void ApplicationTree::disableFlags (int mask)
{
    updateFlags (mask, 0);
}

void ApplicationTree::updateFlags (int mask, int values)
{
    JUCE_ASSERT_MESSAGE_THREAD
    // Listeners hear only real changes: setProperty skips an equal value.
    tree.setProperty (ApplicationIds::flags, (getFlags() & ~mask) | (values & mask), nullptr);
}

bool ApplicationTree::canSeparate (int unavailableBit) const
{
    const auto flags = getFlags();
    return (flags & projectOpen) != 0 && (flags & (separationRunning | unavailableBit)) == 0;
}

} // namespace kalder
