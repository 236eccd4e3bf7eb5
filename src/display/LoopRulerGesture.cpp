#include "LoopRulerGesture.h"

#include <cmath>

namespace kalder
{

double LoopRulerGesture::timeAt (float x) const noexcept
{
    return width > 0.0f ? (double) x / width * range.getLength() + range.getStart() : range.getStart();
}

float LoopRulerGesture::xOf (double time) const noexcept
{
    return range.getLength() > 0.0 ? (float) ((time - range.getStart()) / range.getLength() * width) : 0.0f;
}

namespace
{
    float fraction (double t) noexcept
    {
        return (float) juce::jlimit (0.0, 1.0, std::isfinite (t) ? t : 0.0);
    }

    juce::Range<float> ordered (float a, float b) noexcept
    {
        return { juce::jmin (a, b), juce::jmax (a, b) };
    }
} // namespace

void LoopRulerGesture::press (float x, bool shift, juce::Range<float> loop, bool loopEnabled)
{
    atPress = pending = loop;
    pressX = x;
    furthest = 0.0f;
    pressTime = timeAt (x);
    const auto s = xOf (loop.getStart()), e = juce::jmax (s, xOf (loop.getEnd()));
    const bool shown = loopEnabled && loop.getLength() > 0.0f;
    if (shown && std::abs (x - s) < grabTolerance)
        mode = Mode::startEdge;
    else if (shown && std::abs (x - e) < grabTolerance)
        mode = Mode::endEdge;
    else if (shown && shift && s <= x && x < e)
        mode = Mode::move;
    else
    {
        mode = Mode::create;
        pending = { fraction (pressTime), fraction (pressTime) };
    }
}

void LoopRulerGesture::drag (float x)
{
    furthest = juce::jmax (furthest, std::abs (x - pressX));
    const auto t = fraction (timeAt (x));
    switch (mode)
    {
        case Mode::none:
            break;
        case Mode::startEdge:
        case Mode::endEdge:
        {
            // The edge held follows the mouse; past the other edge the two swap roles.
            const auto other = mode == Mode::startEdge ? atPress.getEnd() : atPress.getStart();
            pending = ordered (t, other);
            break;
        }
        case Mode::move:
        {
            const auto length = atPress.getLength();
            const auto shift = timeAt (x) - pressTime;
            const auto start = juce::jlimit (0.0, 1.0 - (double) length, (double) atPress.getStart() + shift);
            pending = { (float) start, (float) start + length };
            break;
        }
        case Mode::create:
            if (furthest >= createDistance)
                pending = ordered (fraction (pressTime), t);
            break;
    }
}

bool LoopRulerGesture::isShowingPending() const noexcept
{
    return mode != Mode::none && (mode != Mode::create || furthest >= createDistance);
}

LoopRulerGesture::Outcome LoopRulerGesture::release (float x)
{
    drag (x);
    const auto wasMode = mode;
    mode = Mode::none;
    if (wasMode == Mode::none || furthest < createDistance && (wasMode == Mode::create || wasMode == Mode::move))
        return {};
    // A drag that ended entirely off the track turns looping off.
    const auto rawStart = timeAt (juce::jmin (pressX, x)), rawEnd = timeAt (juce::jmax (pressX, x));
    if (wasMode == Mode::create && (rawEnd <= 0.0 || rawStart >= 1.0))
        return { Outcome::Kind::disabled, {} };
    if (pending.getLength() <= 0.0f)
        return {};
    return { Outcome::Kind::set, pending };
}

} // namespace kalder
