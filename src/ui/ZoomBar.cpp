#include "ZoomBar.h"
#include "KalderLookAndFeel.h"

namespace kalder
{

namespace
{
    using Palette = KalderLookAndFeel::Palette;

    /** A minus, or a plus: bars a fifth as thick as they are long. */
    juce::Path sign (bool plus)
    {
        juce::Path p;
        p.addRectangle (0.0f, 4.0f, 10.0f, 2.0f);
        if (plus)
            p.addRectangle (4.0f, 0.0f, 2.0f, 10.0f);
        return p;
    }
} // namespace

ZoomBar::ZoomBar (Orientation o)
    : orientation (o),
      zoomOut ("-", Palette::dimText, Palette::text, Palette::accent),
      zoomIn ("+", Palette::dimText, Palette::text, Palette::accent)
{
    setWantsKeyboardFocus (true);
    setMouseClickGrabsKeyboardFocus (false);
    for (auto [button, in] : { std::pair { &zoomOut, false }, std::pair { &zoomIn, true } })
    {
        button->setTooltip (juce::String (in ? "Zoom in " : "Zoom out ") + (isVertical() ? "frequency axis" : "time axis"));
        button->setTitle (button->getTooltip());
        button->setShape (sign (in), false, true, false);
        button->setBorderSize (juce::BorderSize<int> (4));
        KalderLookAndFeel::focusableByTabOnly (*button);
        button->onClick = [this, in = in] {
            if (onZoom)
                onZoom (in);
        };
        addAndMakeVisible (*button);
    }
    setTitle (isVertical() ? "Frequency zoom bar" : "Time zoom bar");
}

ZoomBar::~ZoomBar() = default;

void ZoomBar::setMinimumLength (double length)
{
    minimumLength = juce::jlimit (1.0e-9, 1.0, length);
}

juce::Range<double> ZoomBar::clamped (juce::Range<double> r) const
{
    if (! std::isfinite (r.getStart()) || ! std::isfinite (r.getEnd()))
        return shown;
    const auto length = juce::jlimit (minimumLength, 1.0, r.getLength());
    const auto start = juce::jlimit (0.0, 1.0 - length, r.getStart());
    return { start, start + length };
}

void ZoomBar::setShown (juce::Range<double> r)
{
    if (const auto c = clamped (r); c != shown)
    {
        shown = c;
        repaint();
        if (auto* handler = getAccessibilityHandler())
            handler->notifyAccessibilityEvent (juce::AccessibilityEvent::valueChanged);
    }
}

void ZoomBar::ask (juce::Range<double> r)
{
    setShown (r);
    if (onMoved)
        onMoved (shown);
}

juce::Rectangle<int> ZoomBar::getTrackBounds() const
{
    auto r = getLocalBounds();
    const auto buttons = 2 * (isVertical() ? getWidth() : getHeight());
    return isVertical() ? r.withTrimmedBottom (buttons) : r.withTrimmedRight (buttons);
}

juce::Rectangle<int> ZoomBar::getThumbBounds() const
{
    const auto track = getTrackBounds();
    const auto length = isVertical() ? track.getHeight() : track.getWidth();
    // At least twice the grips, so that the middle of a thumb can always be taken.
    const auto thumbLength = juce::jmin (length, juce::jmax (2 * endGrip + 4, juce::roundToInt (shown.getLength() * length)));
    const auto start = juce::roundToInt (shown.getStart() / juce::jmax (1.0e-12, 1.0 - shown.getLength())
                                         * (length - thumbLength));
    const auto first = juce::jlimit (0, juce::jmax (0, length - thumbLength), shown.getLength() >= 1.0 ? 0 : start);
    return isVertical() ? track.withY (track.getY() + first).withHeight (thumbLength)
                        : track.withX (track.getX() + first).withWidth (thumbLength);
}

double ZoomBar::along (juce::Point<int> p) const
{
    const auto track = getTrackBounds();
    const auto length = (double) juce::jmax (1, isVertical() ? track.getHeight() : track.getWidth());
    return isVertical() ? (p.y - track.getY()) / length : (p.x - track.getX()) / length;
}

ZoomBar::Part ZoomBar::partAt (juce::Point<int> p) const
{
    if (! getTrackBounds().contains (p))
        return Part::none;
    const auto thumb = getThumbBounds();
    const auto pos = isVertical() ? p.y : p.x;
    const auto first = isVertical() ? thumb.getY() : thumb.getX();
    const auto last = isVertical() ? thumb.getBottom() : thumb.getRight();
    if (pos < first - 1 || pos > last + 1)
        return Part::track;
    if (pos < first + endGrip)
        return Part::start;
    if (pos > last - endGrip)
        return Part::end;
    return Part::thumb;
}

void ZoomBar::paint (juce::Graphics& g)
{
    const auto track = getTrackBounds().toFloat();
    g.setColour (Palette::background);
    g.fillRect (track);
    const auto thumb = getThumbBounds().toFloat().reduced (isVertical() ? 2.0f : 0.0f, isVertical() ? 0.0f : 2.0f);
    g.setColour (Palette::dimText.withAlpha (dragging != Part::none ? 0.8f : 0.55f));
    g.fillRoundedRectangle (thumb, 3.0f);
    // Grip lines at both ends: they zoom.
    g.setColour (Palette::background.withAlpha (0.7f));
    for (auto atStart : { true, false })
    {
        const auto gap = (float) endGrip / 2.0f + 1.0f;
        if (isVertical())
        {
            const auto y = atStart ? thumb.getY() + gap : thumb.getBottom() - gap;
            g.drawLine (thumb.getX() + 2.0f, y, thumb.getRight() - 2.0f, y, 1.0f);
        }
        else
        {
            const auto x = atStart ? thumb.getX() + gap : thumb.getRight() - gap;
            g.drawLine (x, thumb.getY() + 2.0f, x, thumb.getBottom() - 2.0f, 1.0f);
        }
    }
    if (hasKeyboardFocus (false))
    {
        g.setColour (Palette::accent);
        g.drawRect (track, 1.0f);
    }
}

void ZoomBar::resized()
{
    auto r = getLocalBounds();
    if (isVertical())
    {
        zoomIn.setBounds (r.removeFromBottom (getWidth()));
        zoomOut.setBounds (r.removeFromBottom (getWidth()));
    }
    else
    {
        zoomIn.setBounds (r.removeFromRight (getHeight()));
        zoomOut.setBounds (r.removeFromRight (getHeight()));
    }
}

void ZoomBar::mouseMove (const juce::MouseEvent& e)
{
    const auto part = partAt (e.getPosition());
    const auto resize = isVertical() ? juce::MouseCursor::UpDownResizeCursor : juce::MouseCursor::LeftRightResizeCursor;
    setMouseCursor (part == Part::start || part == Part::end ? resize : juce::MouseCursor::NormalCursor);
}

void ZoomBar::mouseDown (const juce::MouseEvent& e)
{
    dragging = partAt (e.getPosition());
    dragStartRange = shown;
    dragStartAlong = along (e.getPosition());
    if (dragging == Part::track)
    {
        // Centre the thumb on the click, then drag it from there.
        const auto centre = dragStartAlong;
        ask (shown.movedToStartAt (centre - shown.getLength() / 2.0));
        dragStartRange = shown;
        dragging = Part::thumb;
    }
    repaint();
}

void ZoomBar::mouseDrag (const juce::MouseEvent& e)
{
    const auto delta = along (e.getPosition()) - dragStartAlong;
    const auto r = dragStartRange;
    switch (dragging)
    {
        case Part::thumb:
            ask (r.movedToStartAt (juce::jlimit (0.0, 1.0 - r.getLength(), r.getStart() + delta)));
            break;
        case Part::start:
        {
            const auto start = juce::jlimit (0.0, r.getEnd() - minimumLength, r.getStart() + delta);
            ask ({ start, r.getEnd() });
            break;
        }
        case Part::end:
        {
            const auto end = juce::jlimit (r.getStart() + minimumLength, 1.0, r.getEnd() + delta);
            ask ({ r.getStart(), end });
            break;
        }
        case Part::none:
        case Part::track:
            break;
    }
}

void ZoomBar::mouseUp (const juce::MouseEvent&)
{
    dragging = Part::none;
    repaint();
}

void ZoomBar::mouseDoubleClick (const juce::MouseEvent& e)
{
    dragging = Part::none; // the press before it started no drag
    if (getTrackBounds().contains (e.getPosition()))
        ask ({ 0.0, 1.0 });
}

void ZoomBar::mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails& wheel)
{
    const auto amount = std::abs (wheel.deltaX) > std::abs (wheel.deltaY) ? -wheel.deltaX : -wheel.deltaY;
    if (amount != 0.0f)
        ask (shown + (double) amount * shown.getLength() * 0.5);
}

bool ZoomBar::keyPressed (const juce::KeyPress& key)
{
    const auto back = isVertical() ? juce::KeyPress::upKey : juce::KeyPress::leftKey;
    const auto forward = isVertical() ? juce::KeyPress::downKey : juce::KeyPress::rightKey;
    const auto step = shown.getLength() * 0.1;
    if (key.isKeyCode (back))
        ask (shown - step);
    else if (key.isKeyCode (forward))
        ask (shown + step);
    else if (key.isKeyCode (juce::KeyPress::homeKey))
        ask (shown.movedToStartAt (0.0));
    else if (key.isKeyCode (juce::KeyPress::endKey))
        ask (shown.movedToEndAt (1.0));
    else if (key.getTextCharacter() == '+' || key.getTextCharacter() == '=' || key.getTextCharacter() == '-')
    {
        if (onZoom)
            onZoom (key.getTextCharacter() != '-');
    }
    else
        return false;
    return true;
}

std::unique_ptr<juce::AccessibilityHandler> ZoomBar::createAccessibilityHandler()
{
    // The value a screen reader reads and sets: where the shown part starts, in percent.
    class Position : public juce::AccessibilityRangedNumericValueInterface
    {
    public:
        explicit Position (ZoomBar& b) : bar (b) {}
        bool isReadOnly() const override { return false; }
        double getCurrentValue() const override { return bar.shown.getStart() * 100.0; }
        void setValue (double value) override { bar.ask (bar.shown.movedToStartAt (value / 100.0)); }
        AccessibleValueRange getRange() const override { return { { 0.0, 100.0 }, 1.0 }; }

    private:
        ZoomBar& bar;
    };
    return std::make_unique<juce::AccessibilityHandler> (
        *this, juce::AccessibilityRole::scrollBar, juce::AccessibilityActions(),
        juce::AccessibilityHandler::Interfaces { std::make_unique<Position> (*this) });
}

} // namespace kalder
