#pragma once

#include <juce_events/juce_events.h>

#include <atomic>

namespace kalder
{

/**
    The shared loop region of the project: an area of normalised positions (0 = start
    of the project, 1 = its end) and whether looping is on.

    Views listen to it; an Updater (the time ruler) may also change it. Every change
    notifies all listeners, from the last registered to the first.

    Ownership: owned by the main component; listeners and updaters are not owned. An
    updater that outlives the loop is detached from it.

    Threading: changes and notifications on the message thread only. getLoopArea(),
    isLoopEnabled() and getFrameRange() may be called from any thread, the audio
    thread included: the area is held as one atomic word, so a reader never sees the
    start of one area with the end of another.
*/
class Loop
{
public:
    /** Told after every change of the area or the enabled flag. */
    class Listener
    {
    public:
        virtual ~Listener() = default;
        virtual void loopHasChanged (Loop* loop) = 0;
    };

    /** A listener that can also change the loop. */
    class Updater : public Listener
    {
    public:
        ~Updater() override;

        /** Attaches this updater to a loop (or detaches it, with nullptr). */
        void setLoop (Loop* newLoop);
        Loop* getLoop() const noexcept { return loop; }

        void setLoopEnabled (bool shouldBeEnabled);
        void setLoopArea (juce::Range<float> normalisedArea);

    private:
        friend class Loop;
        Loop* loop = nullptr;
    };

    Loop();
    ~Loop();

    //==============================================================================
    /** Sets the area, each end clamped to [0, 1]; notifies when it changed. */
    void setLoopArea (juce::Range<float> normalisedArea);

    /** Turns looping on or off; notifies when it changed. */
    void setLoopEnabled (bool shouldBeEnabled);

    /** Flips the enabled flag and notifies. */
    void toggleLoop();

    juce::Range<float> getLoopArea() const noexcept;
    bool isLoopEnabled() const noexcept { return enabled.load(); }

    /** The area as a half-open range of frames of a project totalFrames long; each end
        is the frame under its position (truncated toward zero). */
    juce::Range<juce::int64> getFrameRange (juce::int64 totalFrames) const noexcept;

    /** Calls loopHasChanged on every listener, last registered first. */
    void notifyListeners();

    //==============================================================================
    void addListener (Listener* listener);
    void removeListener (Listener* listener);

    /** Registers an updater as a listener and lets it change this loop. */
    void addUpdater (Updater* updater);
    void removeUpdater (Updater* updater);

private:
    static juce::uint64 pack (juce::Range<float> area) noexcept;
    static juce::Range<float> unpack (juce::uint64 bits) noexcept;

    std::atomic<juce::uint64> packedArea;
    std::atomic<bool> enabled { false };

    juce::ListenerList<Listener> listeners;
    juce::Array<Updater*> updaters;

    JUCE_DECLARE_NON_COPYABLE (Loop)
};

} // namespace kalder
