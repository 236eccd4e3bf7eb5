#include "PanEngine.h"
#include "MaskOperations.h"

#include <cmath>

namespace kalder::service
{
namespace
{
    constexpr float sharpWidth = 1.0f / 6.0f; // Gaussian sigma as a share of the source spacing
    constexpr float smearWidth = 0.5f;
    constexpr int smearFrames = 3;
} // namespace

PanEngine::PanEngine (int n, bool equal, bool smearMasks)
    : numSources (n), equalSpacing (equal), smear (smearMasks), positions (AzimuthAnalyser::equallySpaced (n))
{}

juce::StringArray PanEngine::getStemNames() const
{
    juce::StringArray names;
    for (int k = 1; k <= numSources; ++k)
        names.add ("source-" + juce::String (k));
    return names;
}

void PanEngine::analyseSegment (const SegmentSpectra& segment)
{
    analyser.accumulate (segment, AzimuthAnalyser::positions (segment));
}

void PanEngine::finishAnalysis()
{
    positions = analyser.findSources (numSources);
}

void PanEngine::separate (const SegmentSpectra& segment, StemSpectra& stems)
{
    const auto p = AzimuthAnalyser::positions (segment);
    float spacing = 1.0f;
    for (int k = 1; k < numSources; ++k)
        spacing = std::min (spacing, std::max (0.02f, positions[(size_t) k] - positions[(size_t) k - 1]));
    const auto sigma = spacing * (smear ? smearWidth : sharpWidth);
    const auto inverseTwoSigma2 = 1.0f / (2.0f * sigma * sigma);

    std::vector<MaskMatrix> masks ((size_t) numSources, MaskMatrix (p.rows(), p.cols()));
    MaskMatrix total = MaskMatrix::Zero (p.rows(), p.cols());
    for (int k = 0; k < numSources; ++k)
    {
        const auto centre = positions[(size_t) k];
        masks[(size_t) k] = (-(p.array() - centre).square() * inverseTwoSigma2).exp().matrix();
        total += masks[(size_t) k];
    }
    // Bins far from every source (possible with data-driven positions) are shared by
    // the nearest sources' tails; the tiny constant splits exact ties evenly.
    total.array() += 1.0e-30f;
    for (auto& m : masks)
    {
        m = m.cwiseQuotient (total);
        if (smear)
            m = MaskOperations::averageAlongTime (m, smearFrames);
    }
    masks.back() = MaskMatrix(); // the residual stem
    MaskOperations::applySharedMasks (segment, masks, stems);
}

} // namespace kalder::service
