#include "PitchEditManager.h"

#include "PitchogramHelper.h"

#include <algorithm>

namespace kalder
{

PitchEditAction::PitchEditAction (Pgram& p, Pgram::Lines before, Pgram::Lines after)
    : pgram (p), previous (std::move (before)), next (std::move (after))
{}

void PitchEditAction::swap (Pgram& pgram, const Pgram::Lines& out, const Pgram::Lines& in)
{
    for (const auto& l : out)
        pgram.removeLine (l.get());
    for (const auto& l : in)
        pgram.addLine (l);
}

bool PitchEditAction::perform()
{
    swap (pgram, previous, next);
    return true;
}

bool PitchEditAction::undo()
{
    swap (pgram, next, previous);
    return true;
}

int PitchEditAction::getSizeInUnits()
{
    size_t nodes = 0;
    for (const auto* lines : { &previous, &next })
        for (const auto& l : *lines)
            nodes += l->getNodePositions().size();
    return (int) std::max<size_t> (1, nodes);
}

namespace
{
    /** The chains of `nodes` that `keep` accepts, each at least two nodes long (a single
        node gives no pitch). */
    template <typename Keep>
    Pgram::Lines split (const std::vector<PitchLine::Node>& nodes, Keep keep)
    {
        Pgram::Lines parts;
        std::vector<PitchLine::Node> run;
        const auto flush = [&] {
            if (run.size() >= 2)
                parts.push_back (std::make_shared<const PitchLine> (run));
            run.clear();
        };
        for (const auto& n : nodes)
        {
            if (keep (n))
                run.push_back (n);
            else
                flush();
        }
        flush();
        return parts;
    }
} // namespace

PitchEditManager::PitchEditManager (Pgram& p, CustomUndoManager& h) : pgram (p), history (h) {}

void PitchEditManager::lineTo (PitchLine::Node point)
{
    point.x = juce::jlimit (0.0f, 1.0f, point.x);
    point.y = juce::jlimit (0.0f, 1.0f, point.y);
    if (! std::isfinite (point.x) || ! std::isfinite (point.y))
        return;
    stroke.push_back (point);
}

bool PitchEditManager::commitCurrentEdit()
{
    auto nodes = std::move (stroke);
    stroke.clear();
    // Drawn either way in time: the chain runs in increasing x, one node per x.
    std::stable_sort (nodes.begin(), nodes.end(), [] (const auto& a, const auto& b) { return a.x < b.x; });
    nodes.erase (std::unique (nodes.begin(), nodes.end(), [] (const auto& a, const auto& b) { return a.x == b.x; }), nodes.end());
    if (nodes.size() < 2)
        return false;
    auto [previous, next] = cutOut ({ nodes.front().x, nodes.back().x });
    next.push_back (std::make_shared<const PitchLine> (std::move (nodes)));
    return enter ("Draw melody", previous, next);
}

std::pair<Pgram::Lines, Pgram::Lines> PitchEditManager::cutOut (juce::Range<float> span) const
{
    // Each line under the span keeps its parts before and after it, ending and starting
    // where the span does, at the pitch it had there.
    const auto from = span.getStart(), to = span.getEnd();
    auto previous = pgram.getLinesCoveringRange (span);
    Pgram::Lines next;
    for (const auto& l : previous)
    {
        std::vector<PitchLine::Node> before, after;
        for (const auto& n : l->getNodePositions())
            if (n.x < from)
                before.push_back (n);
        if (! before.empty() && l->covers (from))
            before.push_back ({ from, l->getYAt (from) });
        if (l->covers (to))
            after.push_back ({ to, l->getYAt (to) });
        for (const auto& n : l->getNodePositions())
            if (n.x > to)
                after.push_back (n);
        for (auto* part : { &before, &after })
            if (part->size() >= 2)
                next.push_back (std::make_shared<const PitchLine> (std::move (*part)));
    }
    return { std::move (previous), std::move (next) };
}

bool PitchEditManager::eraseNodesWithinRectangle (juce::Range<float> xRange, juce::Range<float> yRange)
{
    const auto inside = [=] (const PitchLine::Node& n) {
        return n.x >= xRange.getStart() && n.x <= xRange.getEnd() && n.y >= yRange.getStart() && n.y <= yRange.getEnd();
    };
    Pgram::Lines previous, next;
    for (const auto& l : pgram.getLinesCoveringRange (xRange))
    {
        const auto& nodes = l->getNodePositions();
        if (std::none_of (nodes.begin(), nodes.end(), inside))
            continue;
        previous.push_back (l);
        for (auto& part : split (nodes, [&] (const PitchLine::Node& n) { return ! inside (n); }))
            next.push_back (std::move (part));
    }
    return ! previous.empty() && enter ("Erase melody", previous, next);
}

bool PitchEditManager::shiftNodesWithinRectangle (juce::Range<float> xRange, juce::Range<float> yRange, float semitones)
{
    if (semitones == 0.0f || ! std::isfinite (semitones))
        return false;
    const auto inside = [=] (const PitchLine::Node& n) {
        return n.x >= xRange.getStart() && n.x < xRange.getEnd() && n.y >= yRange.getStart() && n.y <= yRange.getEnd();
    };
    Pgram::Lines previous, next;
    for (const auto& l : pgram.getLinesCoveringRange (xRange))
    {
        auto nodes = l->getNodePositions();
        if (std::none_of (nodes.begin(), nodes.end(), inside))
            continue;
        for (auto& n : nodes)
            if (inside (n))
                n.y = juce::jlimit (0.0f, 1.0f, n.y - semitones / 79.0f); // never off the pitch axis
        previous.push_back (l);
        next.push_back (std::make_shared<const PitchLine> (std::move (nodes)));
    }
    return ! previous.empty() && enter ("Shift line", previous, next);
}

bool PitchEditManager::findMelodyWithinRectangle (juce::Range<float> xRange, juce::Range<float> yRange)
{
    const auto view = pgram.getView();
    if (view == nullptr)
        return false;
    const auto frames = view->getNumColumns();
    const juce::Range<int> columns (PitchLine::xToFrame (xRange.getStart(), frames),
                                    PitchLine::xToFrame (xRange.getEnd(), frames) + 1);
    // y runs down the pitch axis: the rectangle's top is its highest pitch
    const auto lowRow = (int) std::floor (PitchogramView::midiToRow (PitchLine::yToMidi (yRange.getEnd())));
    const auto highRow = (int) std::ceil (PitchogramView::midiToRow (PitchLine::yToMidi (yRange.getStart())));
    const auto tracked = PitchogramHelper::trackMelody (*view, columns, { lowRow, highRow + 1 });
    if (tracked.empty())
        return false;

    Pgram::Lines lines;
    for (const auto& run : tracked)
    {
        std::vector<PitchLine::Node> nodes;
        for (const auto& n : run)
            nodes.push_back ({ PitchLine::frameToX (n.column, frames), PitchLine::midiToY (n.midi) });
        // the line covers its last column too
        if (run.back().column + 1 < frames)
            nodes.push_back ({ PitchLine::frameToX (run.back().column + 1, frames), nodes.back().y });
        lines.push_back (std::make_shared<const PitchLine> (std::move (nodes)));
    }
    auto [previous, next] = cutOut ({ lines.front()->getStartX(), lines.back()->getEndX() });
    next.insert (next.end(), lines.begin(), lines.end());
    return enter ("Local melody tracking", previous, next);
}

bool PitchEditManager::replaceAllLines (const juce::String& name, Pgram::Lines lines)
{
    auto previous = pgram.getPitchLines();
    if (previous.empty() && lines.empty())
        return false;
    return enter (name, std::move (previous), std::move (lines));
}

bool PitchEditManager::enter (const juce::String& name, Pgram::Lines previous, Pgram::Lines next)
{
    history.beginNewTransaction (name);
    if (! history.perform (new PitchEditAction (pgram, std::move (previous), std::move (next))))
        return false;
    notifyEditsChanged();
    return true;
}

void PitchEditManager::notifyEditsChanged()
{
    listeners.call ([] (Listener& l) { l.pitchEditsChanged(); });
}

} // namespace kalder
