#include "MaskUpdater.h"

#include <algorithm>
#include <cmath>

namespace kalder
{

namespace
{
    float finiteOrZero (float v) noexcept
    {
        return std::isfinite (v) ? v : 0.0f;
    }

    // Frames read at a time for magnitudes.
    constexpr int readStep = 256;
} // namespace

MaskUpdate MaskUpdater::applyUpdateOnCurrentMask (const MaskUpdate& targets, const MaskMatrix& currentMask,
                                                  const MaskMatrix& weights)
{
    MaskUpdate result;
    result.channel = targets.channel;
    result.bins = targets.bins;
    result.frames = targets.frames;
    if (targets.values.rows() != currentMask.rows() || targets.values.cols() != currentMask.cols()
        || weights.rows() != currentMask.rows() || weights.cols() != currentMask.cols())
    {
        jassertfalse;
        return result;
    }

    result.values.resize (currentMask.rows(), currentMask.cols());
    for (Eigen::Index i = 0; i < currentMask.size(); ++i)
    {
        const auto w = juce::jlimit (0.0f, 1.0f, finiteOrZero (weights.data()[i]));
        const auto current = currentMask.data()[i];
        const auto target = juce::jlimit (0.0f, 1.0f, finiteOrZero (targets.values.data()[i]));
        // Exact at both ends: a weight of 0 keeps the current value bit for bit, 1 gives the target.
        result.values.data()[i] = w <= 0.0f   ? current
                                  : w >= 1.0f ? target
                                              : juce::jlimit (0.0f, 1.0f, current * (1.0f - w) + target * w);
    }
    return result;
}

MaskMatrix MaskUpdater::readMask (Asig& store, int channel, juce::Range<int> bins, juce::Range<int> frames,
                                  const MaskMatrix* given) const
{
    if (given != nullptr && given->rows() == bins.getLength() && given->cols() == frames.getLength())
        return *given;
    auto* memory = store.getMemoryManager();
    if (memory == nullptr)
        return {};
    const auto all = memory->getMaskFrames (channel, frames);
    if (all.rows() < bins.getEnd() || all.cols() != frames.getLength())
        return {};
    return all.middleRows (bins.getStart(), bins.getLength());
}

MaskUpdate MaskUpdater::setConstant (int channel, float value, juce::Range<int> bins, juce::Range<int> frames,
                                     const MaskMatrix& selection, SelectionWeighting weighting,
                                     const MaskMatrix* currentMask) const
{
    MaskUpdate targets;
    const auto store = asig.lock();
    if (store == nullptr || ! store->isReady() || selection.rows() != bins.getLength() || selection.cols() != frames.getLength())
        return targets;

    const auto current = readMask (*store, channel, bins, frames, currentMask);
    if (current.size() == 0)
        return targets;

    targets.channel = channel;
    targets.bins = bins;
    targets.frames = frames;
    targets.values = MaskMatrix::Constant (current.rows(), current.cols(), value);
    if (weighting == SelectionWeighting::anySelected)
        return applyUpdateOnCurrentMask (targets, current, (selection.array() > 0.0f).cast<float>().matrix());
    return applyUpdateOnCurrentMask (targets, current, selection);
}

MaskUpdate MaskUpdater::spotRemover (int channel, int x1, int y1, int x2, int y2, const MaskMatrix& selection,
                                     const MaskMatrix* currentMask) const
{
    const auto store = asig.lock();
    if (store == nullptr || ! store->isReady() || store->getNumFrames() < spotRemoverMinimumTrackFrames)
        return {};

    const juce::Range<int> frames (juce::jmin (x1, x2), juce::jmax (x1, x2) + 1),
        bins (juce::jmin (y1, y2), juce::jmax (y1, y2) + 1);
    if (frames.getStart() < 0 || frames.getEnd() > store->getNumFrames() || bins.getStart() < 0
        || bins.getEnd() > store->getNumFreqs() || frames.getLength() > spotRemoverMaxFrames
        || (juce::int64) frames.getLength() * bins.getLength() > spotRemoverMaxCells || selection.rows() != bins.getLength()
        || selection.cols() != frames.getLength())
        return {};

    const auto current = readMask (*store, channel, bins, frames, currentMask);
    if (current.size() == 0)
        return {};

    // The context: the box and as much again on each side (at least the minimum),
    // moved inside the track when it reaches an end.
    const auto side = juce::jmax (frames.getLength(), spotRemoverContextFrames);
    const auto length = juce::jmin (store->getNumFrames(), frames.getLength() + 2 * side);
    const auto first = juce::jlimit (0, store->getNumFrames() - length, frames.getStart() - side);
    const juce::Range<int> context (first, first + length);

    MaskMatrix magnitudes (bins.getLength(), length);
    for (int start = context.getStart(); start < context.getEnd(); start += readStep)
    {
        const juce::Range<int> part (start, juce::jmin (start + readStep, context.getEnd()));
        const auto spectrum = store->readFrames (channel, part, Asig::MaskUse::mask, Asig::SelectionGain::none);
        if (spectrum.cols() != part.getLength() || spectrum.rows() < bins.getEnd())
            return {};
        magnitudes.middleCols (start - context.getStart(),
                               part.getLength()) = spectrum.middleRows (bins.getStart(), bins.getLength()).cwiseAbs();
    }

    MaskUpdate targets;
    targets.channel = channel;
    targets.bins = bins;
    targets.frames = frames;
    targets.values = current;
    std::vector<float> row ((size_t) length);
    const auto boxOffset = frames.getStart() - context.getStart();
    for (int b = 0; b < bins.getLength(); ++b)
    {
        for (int f = 0; f < length; ++f)
            row[(size_t) f] = magnitudes (b, f);
        const auto middle = row.begin() + length / 2;
        std::nth_element (row.begin(), middle, row.end());
        const auto background = *middle;

        for (int f = 0; f < frames.getLength(); ++f)
        {
            const auto level = magnitudes (b, boxOffset + f);
            if (level > background)
                targets.values (b, f) = current (b, f) * (background / level);
        }
    }
    return applyUpdateOnCurrentMask (targets, current, selection);
}

std::pair<juce::Range<int>, juce::Range<int>> MaskUpdater::getStrokeBox (int x1, int y1, int x2, int y2, double radius,
                                                                         int numFreqs, int numFrames)
{
    if (! std::isfinite (radius) || radius <= 0.0)
        return {};
    const auto reach = (juce::int64) std::ceil (radius);
    const auto clip = [] (juce::int64 lo, juce::int64 hi, int size) {
        return juce::Range<int> ((int) juce::jlimit ((juce::int64) 0, (juce::int64) size, lo),
                                 (int) juce::jlimit ((juce::int64) 0, (juce::int64) size, hi));
    };
    const auto frames = clip ((juce::int64) juce::jmin (x1, x2) - reach, (juce::int64) juce::jmax (x1, x2) + reach + 1,
                              numFrames);
    const auto bins = clip ((juce::int64) juce::jmin (y1, y2) - reach, (juce::int64) juce::jmax (y1, y2) + reach + 1, numFreqs);
    if (frames.isEmpty() || bins.isEmpty())
        return {};
    return { bins, frames };
}

MaskMatrix MaskUpdater::getBrushFootprint (int x1, int y1, int x2, int y2, double radius, juce::Range<int> bins,
                                           juce::Range<int> frames)
{
    MaskMatrix w = MaskMatrix::Zero (bins.getLength(), frames.getLength());
    if (! std::isfinite (radius) || radius <= 0.0)
        return w;

    const double dx = (double) x2 - x1, dy = (double) y2 - y1, lengthSquared = dx * dx + dy * dy;
    const auto core = radius * 0.5;
    for (int f = 0; f < frames.getLength(); ++f)
    {
        for (int b = 0; b < bins.getLength(); ++b)
        {
            // Distance from the cell to the segment.
            const double px = (double) (frames.getStart() + f) - x1, py = (double) (bins.getStart() + b) - y1;
            const auto t = lengthSquared > 0.0 ? juce::jlimit (0.0, 1.0, (px * dx + py * dy) / lengthSquared) : 0.0;
            const auto d = std::hypot (px - t * dx, py - t * dy);
            w (b, f) = (float) (d <= core ? 1.0 : d >= radius ? 0.0 : (radius - d) / (radius - core));
        }
    }
    return w;
}

MaskUpdate MaskUpdater::eraserStroke (int channel, int x1, int y1, int x2, int y2, double radius, double strength,
                                      juce::Range<int> frames, const MaskMatrix* currentMask, bool restore) const
{
    const auto store = asig.lock();
    if (store == nullptr || ! store->isReady() || ! std::isfinite (strength))
        return {};

    const auto [bins, reach] = getStrokeBox (x1, y1, x2, y2, radius, store->getNumFreqs(), store->getNumFrames());
    const auto part = reach.getIntersectionWith (frames);
    if (bins.isEmpty() || part.isEmpty())
        return {};

    const auto current = readMask (*store, channel, bins, part, currentMask);
    if (current.size() == 0)
        return {};

    MaskUpdate targets;
    targets.channel = channel;
    targets.bins = bins;
    targets.frames = part;
    const auto s = (float) juce::jlimit (0.0, 1.0, strength);
    if (restore)
        targets.values = current.array() + (1.0f - current.array()) * s;
    else
        targets.values = current * (1.0f - s);
    return applyUpdateOnCurrentMask (targets, current, getBrushFootprint (x1, y1, x2, y2, radius, bins, part));
}

} // namespace kalder
