#include "StemModelEngine.h"
#include "HarmonicCombMask.h"
#include "HarmonicPercussiveSplitter.h"
#include "MaskOperations.h"
#include "PitchTracker.h"
#include "RepetitionModel.h"
#include "WienerRefiner.h"

namespace kalder::service
{
namespace
{
    enum Source
    {
        drums,
        bass,
        vocals,
        other,
        numSources
    };

    constexpr float margin = 2.0f;        // Driedger et al.'s separation factor
    constexpr float residualShare = 0.7f; // of the HPSS residual: cymbal and snare decays live there
    constexpr double bassMinHz = 30.0, bassMaxHz = 300.0, bassTopHz = 1000.0;
    constexpr int bassHarmonics = 6;
    constexpr double bassToothCents = 50.0; // half a semitone: bass vibrato is small
    constexpr double bassMinBins = 1.0;     // low partials lie only a few bins apart
    constexpr double subBassHz = 80.0;      // below this everything pitched is bass
    constexpr double voiceLowHz = 150.0, voiceHighHz = 8000.0;
    constexpr float gateThresholdDb = -8.0f; // below the vocal's median frame: bleed between phrases
    constexpr float gateFloorDb = -70.0f;
    constexpr int wienerIterations = 1;
} // namespace

StemModelEngine::StemModelEngine (Module m, bool g) : module (m), gate (g) {}

juce::StringArray StemModelEngine::getStemNames() const
{
    switch (module)
    {
        case Module::bass:
            return { "bass", "remainder" };
        case Module::allVocals:
            return { "vocals", "remainder" };
        case Module::other:
            return { "other", "remainder" };
        case Module::fourStems:
        case Module::drums:
        case Module::vocals:
        case Module::pan:
        default:
            return { "vocals", "bass", "drums", "other" };
    }
}

int StemModelEngine::getResidualStem() const
{
    return module == Module::fourStems ? 3 : 1;
}

int StemModelEngine::getContextFrames (const FrameGeometry& geometry, double sampleRate) const
{
    const auto frameRate = sampleRate / geometry.getHop();
    auto context = std::max (HarmonicPercussiveSplitter::getContextFrames (frameRate),
                             PitchTracker::getContextFrames (frameRate));
    if (module != Module::bass)
        context = std::max (context, RepetitionModel::getContextFrames (frameRate));
    return context;
}

juce::String StemModelEngine::getStageName() const
{
    return module == Module::bass ? "Tracking the bass line" : "Modelling drums, bass and repeating accompaniment";
}

std::vector<MaskMatrix> StemModelEngine::computeMasks (const SegmentSpectra& segment) const
{
    const auto& magnitude = segment.magnitude;
    const auto rows = (int) magnitude.rows();
    const auto cols = (int) magnitude.cols();
    std::vector<MaskMatrix> masks ((size_t) numSources);

    const auto parts = HarmonicPercussiveSplitter (margin).split (magnitude, segment);
    masks[drums] = parts.percussive + residualShare * parts.residual;

    // Vocals: the non-repeating foreground in the voice band, from what the drums left.
    if (module != Module::bass)
    {
        const auto background = RepetitionModel().estimateBackground (magnitude, segment);
        const MaskMatrix foreground = (1.0f - background.array() / (magnitude.array() + 1.0e-20f)).max (0.0f).matrix();
        const auto band = MaskOperations::bandWeights (segment, voiceLowHz, voiceHighHz);
        const Eigen::Map<const Eigen::VectorXf> bandVector (band.data(), rows);
        masks[vocals] = (1.0f - masks[drums].array()).matrix().cwiseProduct (foreground);
        masks[vocals].array().colwise() *= bandVector.array();
        if (gate)
        {
            const auto open = MaskOperations::gateFrames (masks[vocals], magnitude, gateThresholdDb, gateFloorDb,
                                                          segment.geometry.nfft);
            for (int t = 0; t < cols; ++t)
                masks[vocals].col (t) *= open[(size_t) t];
        }
    }
    else
    {
        masks[vocals] = MaskMatrix::Zero (rows, cols);
    }

    // Bass: comb on the tracked bass line, and the sub-bass band, from what is left.
    const MaskMatrix harmonicMagnitude = magnitude.cwiseProduct (parts.harmonic);
    const auto bassTrack = PitchTracker (bassMinHz, bassMaxHz, bassHarmonics, bassTopHz).track (harmonicMagnitude, segment);
    MaskMatrix bassEvidence = HarmonicCombMask::build (bassTrack.f0, segment, bassTopHz, bassToothCents, bassMinBins);
    const auto subBass = MaskOperations::bandWeights (segment, 1.0, subBassHz);
    for (int t = 0; t < cols; ++t)
        for (int b = 0; b < rows && segment.getBinFrequency (b) < subBassHz * 2.0; ++b)
            bassEvidence (b, t) = std::max (bassEvidence (b, t), subBass[(size_t) b]);
    masks[bass] = (1.0f - masks[drums].array() - masks[vocals].array()).max (0.0f).matrix().cwiseProduct (bassEvidence);

    masks[other] = (1.0f - masks[drums].array() - masks[bass].array() - masks[vocals].array()).max (0.0f).matrix();
    return masks;
}

void StemModelEngine::separate (const SegmentSpectra& segment, StemSpectra& stems)
{
    StemSpectra sources;
    WienerRefiner::refine (segment, computeMasks (segment), wienerIterations, sources);

    stems.assign (2, {});
    switch (module)
    {
        case Module::bass:
            stems[0] = std::move (sources[bass]);
            break;
        case Module::allVocals:
            stems[0] = std::move (sources[vocals]);
            break;
        case Module::other:
            stems[0] = std::move (sources[other]);
            break;
        case Module::fourStems:
        case Module::drums:
        case Module::vocals:
        case Module::pan:
        default:
            stems = { std::move (sources[vocals]), std::move (sources[bass]), std::move (sources[drums]), {} };
            break;
    }
    // The residual stem stays empty: the separator writes the input minus the others.
    stems[(size_t) getResidualStem()].assign ((size_t) segment.getNumChannels(), CspecMatrix());
}

} // namespace kalder::service
