#include "Playhead.h"

#include "ScrollTarget.h"

#include <cmath>

namespace kalder
{

namespace
{
    // Part of the visible width, at each side, that the playhead may not enter
    // before the window scrolls.
    constexpr double scrollMarginFraction = 0.1;

    // How often published audio-thread positions are applied: about one display frame.
    constexpr int publishedPositionPollMs = 16;

    constexpr juce::int64 nothingPublished = -1;

    // In frames: far above the rounding error of a normalised round trip (about
    // 1e-16 of the total), far below any position anyone can ask for.
    constexpr double roundTripTolerance = 1.0e-6;
} // namespace

//==============================================================================
Playhead::Updater::~Updater()
{
    if (playhead != nullptr)
        playhead->removeUpdater (this);
}

void Playhead::Updater::setPlayheadPosition (double normalisedPosition)
{
    if (playhead == nullptr)
        return;

    playhead->setPosition (toFrame (normalisedPosition, playhead->getTotalLength()), juce::sendNotification,
                           static_cast<Listener*> (this));
}

//==============================================================================
Playhead::Playhead()
{
    startTimer (publishedPositionPollMs);
}

Playhead::~Playhead()
{
    stopTimer();

    for (auto* updater : updaters)
        updater->playhead = nullptr;
}

void Playhead::setPosition (juce::int64 frame, juce::NotificationType notification, void* source)
{
    JUCE_ASSERT_MESSAGE_THREAD

    const auto total = totalLength.load();
    frame = juce::jlimit ((juce::int64) 0, total, frame);

    const auto current = position.load();
    if (frame == current)
        return;

    previousPosition = current;
    position = frame;

    if (autoScrollEnabled && scrollTarget != nullptr && total > 0)
        followPlayhead (*scrollTarget, toNormalised (frame, total), toNormalised (current, total));

    if (notification != juce::dontSendNotification)
        notifyListeners (source);
}

void Playhead::setTotalLength (juce::int64 totalFrames, juce::NotificationType notification)
{
    JUCE_ASSERT_MESSAGE_THREAD

    const auto before = getNormalisedPosition();
    totalLength = juce::jmax ((juce::int64) 0, totalFrames);

    const auto current = position.load();
    if (current > totalLength.load())
    {
        previousPosition = current;
        position = totalLength.load();
    }

    if (notification != juce::dontSendNotification && getNormalisedPosition() != before)
        notifyListeners (nullptr);
}

void Playhead::publishPosition (juce::int64 frame, void* source) noexcept
{
    publishedSource.store (source, std::memory_order_relaxed);
    publishedPosition.store (juce::jmax ((juce::int64) 0, frame), std::memory_order_release);
}

void Playhead::timerCallback()
{
    const auto frame = publishedPosition.exchange (nothingPublished, std::memory_order_acquire);

    if (frame != nothingPublished)
        setPosition (frame, juce::sendNotification, publishedSource.load (std::memory_order_relaxed));
}

//==============================================================================
void Playhead::setAutoScroll (bool shouldAutoScroll)
{
    JUCE_ASSERT_MESSAGE_THREAD
    autoScrollEnabled = shouldAutoScroll;
}

void Playhead::setScrollTarget (ScrollTarget* target)
{
    JUCE_ASSERT_MESSAGE_THREAD
    scrollTarget = target;
}

bool Playhead::followPlayhead (ScrollTarget& target, double p, double previous)
{
    const auto w = juce::jlimit (0.0, 1.0, target.getWidth());
    const auto h = juce::jlimit (0.0, 1.0, target.getHeight());
    const auto x = target.getCentreX();
    const auto y = target.getCentreY();

    const auto margin = scrollMarginFraction * w;
    const auto left = x - w / 2.0;
    const auto right = x + w / 2.0;
    const auto movingForward = p > previous;

    // Moving back while still right of the left margin keeps the view still, so
    // that a short jump back does not make the picture jump.
    if (! (p < left + margin || (movingForward && p > right - margin)))
        return false;

    // The playhead lands just inside the left margin; the window never leaves the image.
    const auto newX = juce::jlimit (w / 2.0, 1.0 - w / 2.0, juce::jmin (1.0 - w, p - margin) + w / 2.0);
    const auto newY = juce::jlimit (h / 2.0, 1.0 - h / 2.0, y);

    // At either end of the track the window may already be where it can go.
    if (newX == x && newY == y)
        return false;

    target.setCentre (newX, newY);
    target.markChanged();
    return true;
}

//==============================================================================
void Playhead::addListener (Listener* listener)
{
    JUCE_ASSERT_MESSAGE_THREAD
    listeners.add (listener);
}

void Playhead::removeListener (Listener* listener)
{
    JUCE_ASSERT_MESSAGE_THREAD
    listeners.remove (listener);
}

void Playhead::addUpdater (Updater* updater)
{
    JUCE_ASSERT_MESSAGE_THREAD
    jassert (updater != nullptr);

    if (updater->playhead != nullptr && updater->playhead != this)
        updater->playhead->removeUpdater (updater);

    updater->playhead = this;
    updaters.addIfNotAlreadyThere (updater);
    listeners.add (updater);
}

void Playhead::removeUpdater (Updater* updater)
{
    JUCE_ASSERT_MESSAGE_THREAD

    if (! updaters.contains (updater))
        return;

    updaters.removeFirstMatchingValue (updater);
    listeners.remove (updater);
    updater->playhead = nullptr;
}

// ListenerList's iterator links itself into the list for the length of the call and
// unlinks itself on the way out; GCC 12 mistakes that for a dangling pointer.
#if defined(__GNUC__) && ! defined(__clang__) && __GNUC__ >= 12
    #pragma GCC diagnostic push
    #pragma GCC diagnostic ignored "-Wdangling-pointer"
#endif
void Playhead::notifyListeners (void* source)
{
    const auto p = getNormalisedPosition();

    // ListenerList calls the last registered listener first.
    listeners.call ([p, source] (Listener& listener) {
        if (static_cast<void*> (&listener) != source)
            listener.playheadMoved (p, source);
    });
}
#if defined(__GNUC__) && ! defined(__clang__) && __GNUC__ >= 12
    #pragma GCC diagnostic pop
#endif

//==============================================================================
double Playhead::toNormalised (juce::int64 frame, juce::int64 totalFrames) noexcept
{
    if (totalFrames <= 0)
        return 1.0;

    return juce::jlimit (0.0, 1.0, (double) frame / (double) totalFrames);
}

juce::int64 Playhead::toFrame (double normalisedPosition, juce::int64 totalFrames) noexcept
{
    if (totalFrames <= 0)
        return 0;

    // frame / total * total can come back a hair below the frame, and truncating
    // that would move a view's playhead back by one frame on every round trip.
    const auto exact = juce::jlimit (0.0, 1.0, normalisedPosition) * (double) totalFrames;
    const auto nearest = std::round (exact);

    if (std::abs (exact - nearest) < roundTripTolerance)
        return (juce::int64) nearest;

    return (juce::int64) exact;
}

} // namespace kalder
