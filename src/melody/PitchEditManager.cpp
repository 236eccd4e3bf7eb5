#include "PitchEditManager.h"

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
    const auto from = nodes.front().x, to = nodes.back().x;

    // Each line under the stroke keeps its parts before and after it, ending and starting
    // where the stroke does, at the pitch it had there.
    const auto previous = pgram.getLinesCoveringRange ({ from, to });
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
    next.push_back (std::make_shared<const PitchLine> (std::move (nodes)));
    return enter ("Draw melody", previous, next);
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

bool PitchEditManager::shiftLines (juce::Range<float> xRange, float semitones)
{
    const auto previous = pgram.getLinesCoveringRange (xRange);
    if (previous.empty() || semitones == 0.0f || ! std::isfinite (semitones))
        return false;
    Pgram::Lines next;
    for (const auto& l : previous)
    {
        auto nodes = l->getNodePositions();
        for (auto& n : nodes)
            n.y = juce::jlimit (0.0f, 1.0f, n.y - semitones / 79.0f);
        next.push_back (std::make_shared<const PitchLine> (std::move (nodes)));
    }
    return enter ("Shift line", previous, next);
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
