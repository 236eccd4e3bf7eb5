#include "PitchLine.h"

#include <algorithm>
#include <cmath>

namespace kalder
{

namespace
{
    /** Why node i cannot follow the nodes before it, or nullptr when it can. */
    const char* nodeProblem (const std::vector<PitchLine::Node>& nodes, size_t i)
    {
        const auto& n = nodes[i];
        if (! std::isfinite (n.x) || ! std::isfinite (n.y))
            return "a node that is not a number";
        if (n.x < 0.0f || n.x > 1.0f)
            return "a node beyond the track's length";
        if (n.y < 0.0f || n.y > 1.0f)
            return "a pitch outside MIDI 33 to 112";
        if (i > 0 && ! (n.x > nodes[i - 1].x))
            return "nodes out of time order";
        return nullptr;
    }
} // namespace

bool PitchLine::isValidChain (const std::vector<Node>& nodes, juce::String* problem)
{
    if (nodes.empty())
    {
        if (problem != nullptr)
            *problem = "a line without nodes";
        return false;
    }
    for (size_t i = 0; i < nodes.size(); ++i)
        if (const auto* why = nodeProblem (nodes, i))
        {
            if (problem != nullptr)
                *problem = why;
            return false;
        }
    return true;
}

PitchLine::PitchLine (std::vector<Node> n) : nodes (std::move (n))
{
    size_t valid = 0;
    while (valid < nodes.size() && nodeProblem (nodes, valid) == nullptr)
        ++valid;
    nodes.resize (valid);
    if (nodes.empty())
        nodes.push_back ({ 0.0f, 0.5f });
}

float PitchLine::getYAt (float x) const noexcept
{
    if (! covers (x))
        return -1.0f;
    // the first node whose x is beyond x; the line covers x, so it is neither the first
    // node nor past the end
    const auto after = std::upper_bound (nodes.begin(), nodes.end(), x, [] (float v, const Node& n) { return v < n.x; });
    const auto& p1 = *after;
    const auto& p0 = *(after - 1);
    // strictly increasing x: the span is never zero
    return p0.y + (x - p0.x) * (p1.y - p0.y) / (p1.x - p0.x);
}

} // namespace kalder
