#pragma once

#include <juce_events/juce_events.h>

#include <atomic>

namespace kalder
{

class ScrollTarget;

/**
    The shared play position of the project.

    The position is a frame index in [0, total]; listeners see it normalised to
    [0, 1] of the project length (1 when the project is empty). Every change reaches
    the listeners from the last registered to the first, with a source pointer saying
    who made it; the listener that made the change is not called back, so a view that
    moves the playhead does not receive its own move as an echo.

    With auto-scroll on and a scroll target set, a move that leaves the playhead
    outside the inner part of the visible window scrolls the window so that the
    playhead sits just inside its left margin; moving backwards inside the right
    margin never scrolls.

    Ownership: owned by the main component; listeners, updaters and the scroll
    target are not owned. An updater that outlives the playhead is detached from it.

    Threading: everything is message-thread only, except the getters (any thread)
    and publishPosition(), which is the audio thread's lock-free, allocation-free way
    to report where playback is; a timer on the message thread picks the published
    position up and applies it as setPosition() would.
*/
class Playhead : private juce::Timer
{
public:
    /** Receives every move of the playhead. */
    class Listener
    {
    public:
        virtual ~Listener() = default;

        /** normalisedPosition is in [0, 1]; source is the Listener that moved the
            playhead, or any other tag the mover chose (nullptr for none). */
        virtual void playheadMoved (double normalisedPosition, void* source) = 0;
    };

    /** A listener that can also move the playhead (a ruler, an overview strip). */
    class Updater : public Listener
    {
    public:
        ~Updater() override;

        /** Moves the playhead to a normalised position; this updater is not called back. */
        void setPlayheadPosition (double normalisedPosition);

        Playhead* getPlayhead() const noexcept { return playhead; }

    private:
        friend class Playhead;
        Playhead* playhead = nullptr;
    };

    Playhead();
    ~Playhead() override;

    //==============================================================================
    /** Moves the playhead to a frame, clamped to [0, total]. Nothing happens when the
        frame equals the current position. The window is auto-scrolled whatever the
        notification type; any type other than dontSendNotification calls the
        listeners synchronously. source is passed on to the listeners, and a listener
        whose Listener* equals source is not called. */
    void setPosition (juce::int64 frame, juce::NotificationType notification = juce::sendNotification, void* source = nullptr);

    /** Sets the project length in frames (negative counts as 0); the position is
        clamped to it. Listeners are told when the normalised position changes. */
    void setTotalLength (juce::int64 totalFrames, juce::NotificationType notification = juce::sendNotification);

    /** Audio thread: reports the playback position for the message thread to apply.
        Only the newest published position is applied; one publisher at a time.
        source should be the publisher's Listener*, so it gets no echo. */
    void publishPosition (juce::int64 frame, void* source) noexcept;

    juce::int64 getPosition() const noexcept { return position.load(); }
    juce::int64 getPreviousPosition() const noexcept { return previousPosition.load(); }
    juce::int64 getTotalLength() const noexcept { return totalLength.load(); }
    double getNormalisedPosition() const noexcept { return toNormalised (position.load(), totalLength.load()); }

    //==============================================================================
    /** Turns following the playhead with the scroll target on or off. */
    void setAutoScroll (bool shouldAutoScroll);
    bool isAutoScrollOn() const noexcept { return autoScrollEnabled; }

    /** The window that auto-scroll moves; nullptr for none. */
    void setScrollTarget (ScrollTarget* target);

    //==============================================================================
    void addListener (Listener* listener);
    void removeListener (Listener* listener);

    /** Registers an updater as a listener and lets it move this playhead. */
    void addUpdater (Updater* updater);
    void removeUpdater (Updater* updater);

    //==============================================================================
    /** frame / total, in [0, 1]; 1 when the total is not positive. */
    static double toNormalised (juce::int64 frame, juce::int64 totalFrames) noexcept;

    /** The frame under a normalised position: truncated toward zero, in [0, total].
        A value that lands within rounding error of a frame gives that frame, so
        toFrame (toNormalised (f, total), total) == f for every frame. */
    static juce::int64 toFrame (double normalisedPosition, juce::int64 totalFrames) noexcept;

    /** Moves target so that it follows a playhead that went from previous to
        position (normalised). Returns true when the window moved. */
    static bool followPlayhead (ScrollTarget& target, double position, double previous);

private:
    void timerCallback() override;
    void notifyListeners (void* source);

    std::atomic<juce::int64> position { 0 }, previousPosition { 0 }, totalLength { 0 };
    bool autoScrollEnabled = false;
    ScrollTarget* scrollTarget = nullptr;

    juce::ListenerList<Listener> listeners;
    juce::Array<Updater*> updaters;

    // Filled by the audio thread; -1 means nothing new was published.
    std::atomic<juce::int64> publishedPosition { -1 };
    std::atomic<void*> publishedSource { nullptr };

    JUCE_DECLARE_NON_COPYABLE (Playhead)
};

} // namespace kalder
