#pragma once

#include "AzimuthAnalyser.h"
#include "StemEngine.h"

namespace kalder::service
{

/**
    The pan module: "source-1" .. "source-N", left to right.

    Every time-frequency bin gets a stereo position by azimuth discrimination (see
    AzimuthAnalyser). With equal spacing the N sources sit at 0, 1/(N-1), ..., 1 of the
    pan range; without it a first pass over the whole input collects the
    energy-weighted histogram of positions and places the sources at its N weighted
    k-means centres. Each bin is shared among the sources by Gaussian weights around
    their positions, normalised to sum to one. Smear widens the Gaussians (half the
    spacing instead of a sixth) and averages the masks over three frames, trading
    isolation for fewer musical-noise artefacts.

    Threading: one per job, the job's thread.
*/
class PanEngine : public StemEngine
{
public:
    /** Where the sources sit, and whether the masks are smeared. */
    enum class Spacing
    {
        equal,   // evenly across the stereo field
        analysed // at the weighted centres of the song's positions (an analysis pass first)
    };
    enum class Masks
    {
        sharp,
        smeared // wider and averaged over three frames
    };

    PanEngine (int numSources, Spacing spacing, Masks masks);

    juce::StringArray getStemNames() const override;
    int getResidualStem() const override { return numSources - 1; }
    int getContextFrames (const FrameGeometry&, double) const override { return smear ? 2 : 0; }
    bool wantsAnalysisPass() const override { return ! equalSpacing; }
    void analyseSegment (const SegmentSpectra& segment) override;
    void finishAnalysis() override;
    void separate (const SegmentSpectra& segment, StemSpectra& stems) override;
    juce::String getStageName() const override { return "Separating by stereo position"; }

    const std::vector<float>& getSourcePositions() const noexcept { return positions; }

private:
    void separateSpatially (const SegmentSpectra& segment, StemSpectra& stems) const;

    int numSources;
    bool equalSpacing, smear;
    AzimuthAnalyser analyser;
    std::vector<float> positions;
};

} // namespace kalder::service
