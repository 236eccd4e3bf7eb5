#pragma once

#include "SegmentSpectra.h"

#include <juce_core/juce_core.h>

namespace kalder::service
{

/**
    One separation module's DSP chain, seen by the block separator.

    The separator streams the input segment by segment; for each segment it calls
    separate() with the segment's STFT and writes the returned stem spectra. An engine
    that needs a statistic of the whole input (the pan module's source positions) asks
    for an analysis pass: analyseSegment() is then called for every segment first, and
    finishAnalysis() once, before any separate() call. Engines keep only bounded state
    between segments.

    Owned by runSeparation for one job; all calls come from the job's thread.
*/
class StemEngine
{
public:
    virtual ~StemEngine() = default;

    /** The stems' names, in the order separate() fills them. */
    virtual juce::StringArray getStemNames() const = 0;

    /** The stem that receives whatever the others leave (so that the stems add up to
        the input exactly, after quantisation too), or -1 when the stems are not meant
        to add up to the input. */
    virtual int getResidualStem() const = 0;

    /** Frames of context the engine wants on each side of a segment's core. */
    virtual int getContextFrames (const FrameGeometry& geometry, double sampleRate) const = 0;

    virtual bool wantsAnalysisPass() const { return false; }
    virtual void analyseSegment (const SegmentSpectra&) {}
    virtual void finishAnalysis() {}

    /** Fills stems[stem][channel] with the core frames of each stem. The residual stem
        may be left empty: the separator sets it to the input minus the other stems. */
    virtual void separate (const SegmentSpectra& segment, StemSpectra& stems) = 0;

    /** What separate() is doing, for progress reports ("Tracking the melody", ...). */
    virtual juce::String getStageName() const = 0;
};

} // namespace kalder::service
