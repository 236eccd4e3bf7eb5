#include "SeparationContext.h"

#include "tracks/AudioTrack.h"

namespace kalder::separation
{

SeparationContext SeparationContext::forWholeTrack (const AudioTrack& track)
{
    SeparationContext c;
    c.frameRange = { 0, track.getNumBlocks() };
    c.samples = c.sent = { 0, track.getNumSamples() };
    return c;
}

SeparationContext SeparationContext::forBlocks (const AudioTrack& track, juce::Range<int> blocks)
{
    const auto numBlocks = track.getNumBlocks();
    blocks = blocks.getIntersectionWith ({ 0, numBlocks });
    if (blocks.isEmpty() || blocks == juce::Range<int> (0, numBlocks))
        return forWholeTrack (track);

    SeparationContext c;
    c.wholeTrack = false;
    c.frameRange = blocks;
    const auto hop = (juce::int64) track.getBufferSize();
    const auto n = track.getNumSamples();
    c.samples = { juce::jmin (n, blocks.getStart() * hop), juce::jmin (n, blocks.getEnd() * hop) };
    const auto pad = (juce::int64) std::round (paddingSeconds * track.getSampleRate());
    c.sent = { juce::jmax ((juce::int64) 0, c.samples.getStart() - pad), juce::jmin (n, c.samples.getEnd() + pad) };
    c.origin = (int) c.sent.getStart();
    c.padding = (int) (c.samples.getStart() - c.sent.getStart());
    return c;
}

} // namespace kalder::separation
