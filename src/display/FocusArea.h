#pragma once

#include "tracks/ScrollTarget.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <map>
#include <optional>

namespace kalder
{

/**
    The part of the whole spectrogram (or pitchogram) image the editors show: a rectangle
    given by its centre and size in fractions of the image, x from the start of the track,
    y from the top of the image. The rectangle never leaves the image:
    w/2 <= centre x <= 1 - w/2 and h/2 <= centre y <= 1 - h/2, with 0 < w, h <= 1.

    Changes only set a flag; a 30 Hz timer turns them into notifications, so a burst of
    changes reaches the listeners at most once per tick, and one more notification
    follows a tick after the last change (for views that coalesce their own updates).

    Zoom amounts are in pixels of the view: an amount a changes a size by the factor
    2^(a / 200), so a positive amount zooms out and a negative one zooms in; the point
    given stays where it is. A size never goes below 16 image pixels (nor below 1e-6).

    Each track's editor keeps its own view: saveCurrentState(key) stores the rectangle as
    text under a key and loadState(key) restores it.

    Ownership: the application owns the one focus area; listeners and updaters are not
    owned, and an updater that outlives the area is detached from it.

    Threading: changes and notifications on the message thread. The centre and size may
    be read from any thread (the render thread does): each is atomic, so a reader at
    worst mixes two consecutive changes for one frame.
*/
class FocusArea : public juce::ReferenceCountedObject, public ScrollTarget, private juce::Timer
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<FocusArea>;

    /** A point in fractions of the image (the display's point type is not at hand here). */
    struct Point
    {
        double x = 0.5, y = 0.5;
    };

    struct Rect
    {
        double centreX = 0.5, centreY = 0.5, width = 1.0, height = 1.0;
        bool operator== (const Rect& o) const noexcept
        {
            return centreX == o.centreX && centreY == o.centreY && width == o.width && height == o.height;
        }
    };

    class Listener
    {
    public:
        virtual ~Listener() = default;
        virtual void focusAreaChanged (FocusArea* area) = 0;
    };

    /** A listener that may also move the area (zoom bars, rulers). */
    class Updater : public Listener
    {
    public:
        ~Updater() override;
        FocusArea* getFocusArea() const noexcept { return area; }

    private:
        friend class FocusArea;
        FocusArea* area = nullptr;
    };

    static constexpr int timerHz = 30;
    static constexpr double pixelsPerDoubling = 200.0;
    static constexpr double minimumImagePixels = 16.0;

    FocusArea();
    ~FocusArea() override;

    //==============================================================================
    double getCentreX() const noexcept override { return cx.load (std::memory_order_relaxed); }
    double getCentreY() const noexcept override { return cy.load (std::memory_order_relaxed); }
    double getWidth() const noexcept override { return w.load (std::memory_order_relaxed); }
    double getHeight() const noexcept override { return h.load (std::memory_order_relaxed); }
    Rect getRect() const noexcept { return { getCentreX(), getCentreY(), getWidth(), getHeight() }; }

    /** The visible ranges, x from the start and y from the top. */
    juce::Range<double> getVisibleX() const noexcept;
    juce::Range<double> getVisibleY() const noexcept;

    /** The whole image's size in pixels; the smallest sizes follow it. */
    void setSpectrogramDimensions (int widthInPixels, int heightInPixels);
    int getImageWidth() const noexcept { return imageWidth; }
    int getImageHeight() const noexcept { return imageHeight; }
    double getMinimumWidth() const noexcept;
    double getMinimumHeight() const noexcept;

    /** Sizes are clamped to [minimum, 1]; the centre is clamped to keep the invariant. */
    void setWidth (double newWidth);
    void setHeight (double newHeight);
    void setCentre (double newCentreX, double newCentreY) override;
    void setRect (Rect r);

    /** Shows the given visible ranges (x from the start, y from the top) as well as the
        limits allow. */
    void setVisibleRanges (juce::Range<double> x, juce::Range<double> yFromTop);

    /** Zooms around a point given in fractions of the image, which stays in place. */
    void zoomAroundPoint (Point point, double amountX, double amountY);
    void zoomHorizontally (double pointX, double amount);
    void zoomVertically (double pointY, double amount);

    /** Moves the centre by fractions of the visible size. */
    void scrollBy (double dxWidths, double dyHeights);

    //==============================================================================
    /** Marks the area changed (every change does); the next tick notifies. */
    void markChanged() noexcept override { changed = true; }

    /** Notifies every listener now. */
    void notifyListeners();

    /** One tick of the notification rule (the timer calls it; tests may too). */
    void timerTick();

    void addListener (Listener* l) { listeners.add (l); }
    void removeListener (Listener* l) { listeners.remove (l); }
    void addUpdater (Updater* u);
    void removeUpdater (Updater* u);

    //==============================================================================
    void saveCurrentState (const juce::String& key);

    /** Restores a saved rectangle and notifies at once; false (nothing changes) when the
        key has no valid state. */
    bool loadState (const juce::String& key);
    bool hasSavedState (const juce::String& key) const { return savedStates.count (key) > 0; }

    static juce::String rectToText (Rect r);
    static std::optional<Rect> textToRect (const juce::String& text);

private:
    void timerCallback() override { timerTick(); }
    Rect clamped (Rect r) const noexcept;
    void store (Rect r);

    std::atomic<double> cx { 0.5 }, cy { 0.5 }, w { 1.0 }, h { 1.0 };
    int imageWidth = 0, imageHeight = 0;
    bool changed = false, owed = false;
    juce::ListenerList<Listener> listeners;
    juce::Array<Updater*> updaters;
    std::map<juce::String, juce::String> savedStates;

    JUCE_DECLARE_NON_COPYABLE (FocusArea)
};

} // namespace kalder
