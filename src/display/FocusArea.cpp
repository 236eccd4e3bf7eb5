#include "FocusArea.h"

#include <cmath>

namespace kalder
{

FocusArea::Updater::~Updater()
{
    if (area != nullptr)
        area->removeUpdater (this);
}

FocusArea::FocusArea()
{
    startTimerHz (timerHz);
}

FocusArea::~FocusArea()
{
    stopTimer();
    for (auto* u : updaters)
        u->area = nullptr;
}

juce::Range<double> FocusArea::getVisibleX() const noexcept
{
    const auto c = getCentreX(), s = getWidth();
    return { c - s / 2.0, c + s / 2.0 };
}

juce::Range<double> FocusArea::getVisibleY() const noexcept
{
    const auto c = getCentreY(), s = getHeight();
    return { c - s / 2.0, c + s / 2.0 };
}

namespace
{
    double minimumSize (int pixels) noexcept
    {
        constexpr double floor = 1.0e-6;
        return pixels > 0 ? juce::jlimit (floor, 1.0, FocusArea::minimumImagePixels / pixels) : floor;
    }

    double finiteOr (double v, double fallback) noexcept
    {
        return std::isfinite (v) ? v : fallback;
    }
} // namespace

double FocusArea::getMinimumWidth() const noexcept
{
    return minimumSize (imageWidth);
}

double FocusArea::getMinimumHeight() const noexcept
{
    return minimumSize (imageHeight);
}

FocusArea::Rect FocusArea::clamped (Rect r) const noexcept
{
    r.width = juce::jlimit (getMinimumWidth(), 1.0, finiteOr (r.width, 1.0));
    r.height = juce::jlimit (getMinimumHeight(), 1.0, finiteOr (r.height, 1.0));
    r.centreX = juce::jlimit (r.width / 2.0, 1.0 - r.width / 2.0, finiteOr (r.centreX, 0.5));
    r.centreY = juce::jlimit (r.height / 2.0, 1.0 - r.height / 2.0, finiteOr (r.centreY, 0.5));
    return r;
}

void FocusArea::store (Rect r)
{
    r = clamped (r);
    if (r == getRect())
        return;
    cx.store (r.centreX, std::memory_order_relaxed);
    cy.store (r.centreY, std::memory_order_relaxed);
    w.store (r.width, std::memory_order_relaxed);
    h.store (r.height, std::memory_order_relaxed);
    changed = true;
}

void FocusArea::setSpectrogramDimensions (int widthInPixels, int heightInPixels)
{
    imageWidth = juce::jmax (0, widthInPixels);
    imageHeight = juce::jmax (0, heightInPixels);
    store (getRect());
}

void FocusArea::setWidth (double newWidth)
{
    auto r = getRect();
    r.width = newWidth;
    store (r);
}

void FocusArea::setHeight (double newHeight)
{
    auto r = getRect();
    r.height = newHeight;
    store (r);
}

void FocusArea::setCentre (double newCentreX, double newCentreY)
{
    auto r = getRect();
    r.centreX = newCentreX;
    r.centreY = newCentreY;
    store (r);
}

void FocusArea::setRect (Rect r)
{
    store (r);
}

void FocusArea::setVisibleRanges (juce::Range<double> x, juce::Range<double> yFromTop)
{
    store ({ x.getStart() + x.getLength() / 2.0, yFromTop.getStart() + yFromTop.getLength() / 2.0, x.getLength(),
             yFromTop.getLength() });
}

namespace
{
    /** The centre and size of one axis after zooming by amount around point (fractions). */
    std::pair<double, double> zoomAxis (double centre, double size, double point, double amount, double minSize)
    {
        if (! std::isfinite (amount) || ! std::isfinite (point))
            return { centre, size };
        const auto newSize = juce::jlimit (minSize, 1.0, size * std::exp2 (amount / FocusArea::pixelsPerDoubling));
        // The point keeps its place in the view: (point - start) / size stays the same.
        const auto start = centre - size / 2.0;
        const auto at = size > 0.0 ? (point - start) / size : 0.5;
        const auto newStart = point - at * newSize;
        return { newStart + newSize / 2.0, newSize };
    }
} // namespace

void FocusArea::zoomAroundPoint (Point point, double amountX, double amountY)
{
    auto r = getRect();
    std::tie (r.centreX, r.width) = zoomAxis (r.centreX, r.width, point.x, amountX, getMinimumWidth());
    std::tie (r.centreY, r.height) = zoomAxis (r.centreY, r.height, point.y, amountY, getMinimumHeight());
    store (r);
}

void FocusArea::zoomHorizontally (double pointX, double amount)
{
    zoomAroundPoint ({ pointX, getCentreY() }, amount, 0.0);
}

void FocusArea::zoomVertically (double pointY, double amount)
{
    zoomAroundPoint ({ getCentreX(), pointY }, 0.0, amount);
}

void FocusArea::scrollBy (double dxWidths, double dyHeights)
{
    auto r = getRect();
    r.centreX += finiteOr (dxWidths, 0.0) * r.width;
    r.centreY += finiteOr (dyHeights, 0.0) * r.height;
    store (r);
}

void FocusArea::notifyListeners()
{
    listeners.call ([this] (Listener& l) { l.focusAreaChanged (this); });
}

void FocusArea::timerTick()
{
    if (changed)
    {
        owed = true;
        changed = false; // cleared first: a listener that changes the area again is seen next tick
        notifyListeners();
    }
    else if (owed)
    {
        owed = false;
        notifyListeners();
    }
}

void FocusArea::addUpdater (Updater* u)
{
    if (u == nullptr || updaters.contains (u))
        return;
    if (u->area != nullptr)
        u->area->removeUpdater (u);
    u->area = this;
    updaters.add (u);
    addListener (u);
}

void FocusArea::removeUpdater (Updater* u)
{
    if (u == nullptr || ! updaters.contains (u))
        return;
    updaters.removeFirstMatchingValue (u);
    removeListener (u);
    u->area = nullptr;
}

juce::String FocusArea::rectToText (Rect r)
{
    return juce::String (r.centreX, 17) + " " + juce::String (r.centreY, 17) + " " + juce::String (r.width, 17) + " "
           + juce::String (r.height, 17);
}

std::optional<FocusArea::Rect> FocusArea::textToRect (const juce::String& text)
{
    auto tokens = juce::StringArray::fromTokens (text, " ", {});
    tokens.removeEmptyStrings();
    if (tokens.size() != 4)
        return std::nullopt;
    double v[4];
    for (int i = 0; i < 4; ++i)
    {
        const auto t = tokens[i].trim();
        if (! t.containsOnly ("0123456789.-+eE"))
            return std::nullopt;
        v[i] = t.getDoubleValue();
        if (! std::isfinite (v[i]))
            return std::nullopt;
    }
    if (v[2] <= 0.0 || v[3] <= 0.0)
        return std::nullopt;
    return Rect { v[0], v[1], v[2], v[3] };
}

void FocusArea::saveCurrentState (const juce::String& key)
{
    savedStates[key] = rectToText (getRect());
}

bool FocusArea::loadState (const juce::String& key)
{
    const auto it = savedStates.find (key);
    if (it == savedStates.end())
        return false;
    const auto r = textToRect (it->second);
    if (! r)
        return false;
    store (*r);
    changed = false;
    owed = true; // the views that coalesce still get their second notification
    notifyListeners();
    return true;
}

} // namespace kalder
