#pragma once

#include <juce_core/juce_core.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace kalder
{

/**
    One drawn stretch of melody: nodes in increasing x, each a point of the pitch axes
    (x a fraction of the track's frame range, y a fraction from the top of the pitch
    axis, MIDI pitch = (1 - y) * 79 + 33).

    A line never changes once made: an edit makes a new line and swaps it in, so any
    thread holding a line (playback, the guide builder, the editor's renderer) reads a
    consistent chain without locks.

    Threading: immutable, so any thread.
*/
class PitchLine
{
public:
    using Ptr = std::shared_ptr<const PitchLine>;
    struct Node
    {
        float x = 0.0f, y = 0.0f;
    };

    /** Nodes must be non-empty, finite, inside [0, 1] x [0, 1] and strictly increasing in x
        (isValidChain tells); otherwise the line is made from the valid prefix. */
    explicit PitchLine (std::vector<Node> nodes);

    static bool isValidChain (const std::vector<Node>& nodes, juce::String* problem = nullptr);

    const std::vector<Node>& getNodePositions() const noexcept { return nodes; }
    float getStartX() const noexcept { return nodes.front().x; }
    float getEndX() const noexcept { return nodes.back().x; }

    /** A line covers x when start x <= x < end x (a one-node line covers nothing). */
    bool covers (float x) const noexcept { return getStartX() <= x && x < getEndX(); }

    /** y at x by linear interpolation between the nodes around it; -1 where the line
        does not cover x. */
    float getYAt (float x) const noexcept;

    static float yToMidi (float y) noexcept { return (1.0f - y) * 79.0f + 33.0f; }
    static float midiToY (float midi) noexcept { return 1.0f - (midi - 33.0f) / 79.0f; }

    /** x of frame f of a track of numFrames frames (x = 0 the first frame, 1 the last),
        and the frame at x (truncated, inside the track). A one-frame track has x = 0. */
    static float frameToX (double frame, int numFrames) noexcept { return (float) (frame / std::max (1, numFrames - 1)); }
    static int xToFrame (float x, int numFrames) noexcept
    {
        if (! (x > 0.0f) || numFrames <= 1)
            return 0;
        return std::min (numFrames - 1, (int) ((double) x * (numFrames - 1)));
    }

private:
    std::vector<Node> nodes;
};

} // namespace kalder
