#include "DrumEngine.h"
#include "HarmonicPercussiveSplitter.h"
#include "MaskOperations.h"

namespace kalder::service
{
namespace
{
    constexpr float margin = 2.0f; // Driedger et al.'s separation factor
} // namespace

int DrumEngine::getContextFrames (const FrameGeometry& geometry, double sampleRate) const
{
    return HarmonicPercussiveSplitter::getContextFrames (sampleRate / geometry.getHop());
}

void DrumEngine::separate (const SegmentSpectra& segment, StemSpectra& stems)
{
    const HarmonicPercussiveSplitter splitter (margin);
    const auto drumMask = [&] (const MaskMatrix& magnitude) {
        // The residual (decays, but also the pitched parts' onsets, glides and vibrato)
        // is shared by the plain soft mask P^2 / (P^2 + H^2), as in the stem model.
        const auto parts = splitter.split (magnitude, segment);
        HarmonicPercussiveSplitter::Masks shared = parts;
        shared.residual = parts.residual.cwiseProduct (parts.percussiveShare);
        return HarmonicPercussiveSplitter::drumMask (shared, 1.0f, segment);
    };

    stems.assign (2, std::vector<CspecMatrix> ((size_t) segment.getNumChannels()));
    for (int c = 0; c < segment.getNumChannels(); ++c)
    {
        const auto mask = drumMask (segment.channelMagnitudes[(size_t) c]);
        stems[0][(size_t) c] = segment.channels[(size_t) c]
                                   .middleCols (segment.coreBegin, segment.getNumCoreFrames())
                                   .cwiseProduct (mask.middleCols (segment.coreBegin, segment.getNumCoreFrames())
                                                      .cast<std::complex<float>>());
    }
}

} // namespace kalder::service
