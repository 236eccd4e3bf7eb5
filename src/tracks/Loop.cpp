#include "Loop.h"

#include "Playhead.h"

#include <cstring>

namespace kalder
{

//==============================================================================
Loop::Updater::~Updater()
{
    setLoop (nullptr);
}

void Loop::Updater::setLoop (Loop* newLoop)
{
    if (newLoop == loop)
        return;

    if (loop != nullptr)
        loop->removeUpdater (this);

    if (newLoop != nullptr)
        newLoop->addUpdater (this);
}

void Loop::Updater::setLoopEnabled (bool shouldBeEnabled)
{
    if (loop != nullptr)
        loop->setLoopEnabled (shouldBeEnabled);
}

void Loop::Updater::setLoopArea (juce::Range<float> normalisedArea)
{
    if (loop != nullptr)
        loop->setLoopArea (normalisedArea);
}

//==============================================================================
Loop::Loop() : packedArea (pack ({})) {}

Loop::~Loop()
{
    for (auto* updater : updaters)
        updater->loop = nullptr;
}

void Loop::setLoopArea (juce::Range<float> normalisedArea)
{
    JUCE_ASSERT_MESSAGE_THREAD

    const juce::Range<float> area { juce::jlimit (0.0f, 1.0f, normalisedArea.getStart()),
                                    juce::jlimit (0.0f, 1.0f, normalisedArea.getEnd()) };
    const auto newBits = pack (area);

    if (packedArea.exchange (newBits) != newBits)
        notifyListeners();
}

void Loop::setLoopEnabled (bool shouldBeEnabled)
{
    JUCE_ASSERT_MESSAGE_THREAD

    if (enabled.exchange (shouldBeEnabled) != shouldBeEnabled)
        notifyListeners();
}

void Loop::toggleLoop()
{
    JUCE_ASSERT_MESSAGE_THREAD
    setLoopEnabled (! enabled.load());
}

juce::Range<float> Loop::getLoopArea() const noexcept
{
    return unpack (packedArea.load());
}

juce::Range<juce::int64> Loop::getFrameRange (juce::int64 totalFrames) const noexcept
{
    const auto area = getLoopArea();
    return { Playhead::toFrame (area.getStart(), totalFrames), Playhead::toFrame (area.getEnd(), totalFrames) };
}

// ListenerList's iterator links itself into the list for the length of the call and
// unlinks itself on the way out; GCC 12 mistakes that for a dangling pointer.
#if defined(__GNUC__) && ! defined(__clang__) && __GNUC__ >= 12
    #pragma GCC diagnostic push
    #pragma GCC diagnostic ignored "-Wdangling-pointer"
#endif
void Loop::notifyListeners()
{
    JUCE_ASSERT_MESSAGE_THREAD
    listeners.call ([this] (Listener& listener) { listener.loopHasChanged (this); });
}
#if defined(__GNUC__) && ! defined(__clang__) && __GNUC__ >= 12
    #pragma GCC diagnostic pop
#endif

//==============================================================================
void Loop::addListener (Listener* listener)
{
    JUCE_ASSERT_MESSAGE_THREAD
    listeners.add (listener);
}

void Loop::removeListener (Listener* listener)
{
    JUCE_ASSERT_MESSAGE_THREAD
    listeners.remove (listener);
}

void Loop::addUpdater (Updater* updater)
{
    JUCE_ASSERT_MESSAGE_THREAD
    jassert (updater != nullptr);

    if (updater->loop != nullptr && updater->loop != this)
        updater->loop->removeUpdater (updater);

    updater->loop = this;
    updaters.addIfNotAlreadyThere (updater);
    listeners.add (updater);
}

void Loop::removeUpdater (Updater* updater)
{
    JUCE_ASSERT_MESSAGE_THREAD

    if (! updaters.contains (updater))
        return;

    updaters.removeFirstMatchingValue (updater);
    listeners.remove (updater);
    updater->loop = nullptr;
}

//==============================================================================
// Both ends in one 64-bit word, start in the low half, so that one atomic load
// gives a consistent area.
juce::uint64 Loop::pack (juce::Range<float> area) noexcept
{
    const auto start = area.getStart();
    const auto end = area.getEnd();
    juce::uint32 startBits, endBits;
    std::memcpy (&startBits, &start, sizeof (startBits));
    std::memcpy (&endBits, &end, sizeof (endBits));
    return ((juce::uint64) endBits << 32) | startBits;
}

juce::Range<float> Loop::unpack (juce::uint64 bits) noexcept
{
    const auto startBits = (juce::uint32) (bits & 0xffffffffu); // low 32 bits
    const auto endBits = (juce::uint32) (bits >> 32);
    float start, end;
    std::memcpy (&start, &startBits, sizeof (start));
    std::memcpy (&end, &endBits, sizeof (end));
    return { start, end };
}

} // namespace kalder
