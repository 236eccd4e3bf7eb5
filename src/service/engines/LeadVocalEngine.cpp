#include "LeadVocalEngine.h"
#include "AzimuthAnalyser.h"
#include "HarmonicCombMask.h"
#include "HarmonicPercussiveSplitter.h"
#include "MaskOperations.h"
#include "PitchTracker.h"
#include "RepetitionModel.h"
#include "WienerRefiner.h"

#include <cmath>

namespace kalder::service
{
namespace
{
    constexpr double melodyMinHz = 80.0, melodyMaxHz = 1000.0;
    constexpr int melodyHarmonics = 10;
    constexpr double melodyAnalysisHz = 5000.0;
    constexpr double combTopHz = 10000.0; // voice partials above this are weak and noisy
    constexpr double toothCents = 25.0;   // pitch movement within a frame and tracking error
    constexpr double toothMinBins = 1.5;  // a Hann main lobe is +-2 bins
    constexpr float margin = 2.0f;        // HPSS separation factor for snare reduction
    constexpr double activitySmoothingSeconds = 0.25;
    constexpr float activityScale = 0.5f;                 // sensitivity s: the comb must be at least s / 2 foreground
    constexpr float activityFade = 0.05f;                 // share over which the mask fades out
    constexpr float narrowWidth = 0.1f, wideWidth = 0.3f; // Gaussian sigma on the 0..1 pan range
    constexpr double reverbSeconds = 0.3;                 // energy envelope time constant of the tail
    constexpr float reverbLevel = 0.316f;                 // -10 dB below the direct vocal's envelope
    constexpr double voiceLowHz = 150.0, voiceHighHz = 8000.0;
    constexpr double backgroundSeconds = 1.0; // the steady background's median span
} // namespace

LeadVocalEngine::LeadVocalEngine (Settings s) : settings (std::move (s)) {}

juce::StringArray LeadVocalEngine::getStemNames() const
{
    juce::StringArray names { "vocals" };
    if (settings.backingTrack)
        names.add ("remainder");
    if (settings.reverb == Reverb::separateTrack)
        names.add ("VocalReverb");
    return names;
}

int LeadVocalEngine::getResidualStem() const
{
    return settings.backingTrack ? 1 : -1;
}

int LeadVocalEngine::getContextFrames (const FrameGeometry& geometry, double sampleRate) const
{
    const auto frameRate = sampleRate / geometry.getHop();
    return std::max ({ RepetitionModel::getContextFrames (frameRate), PitchTracker::getContextFrames (frameRate),
                       HarmonicPercussiveSplitter::getContextFrames (frameRate) });
}

juce::String LeadVocalEngine::getStageName() const
{
    return settings.guided ? "Separating the guided melody" : "Tracking the melody";
}

std::vector<float> LeadVocalEngine::guidePitch (const SegmentSpectra& segment) const
{
    std::vector<float> f0 ((size_t) segment.getNumFrames(), 0.0f);
    if (settings.guideStepSamples <= 0)
        return f0;
    const auto hop = segment.geometry.getHop();
    for (int t = 0; t < segment.getNumFrames(); ++t)
    {
        // Frame f analyses [(f - 3) hop, (f + 1) hop): its centre is (f - 1) hop.
        const auto centre = (segment.firstFrame + t - 1) * (juce::int64) hop;
        const auto step = centre / settings.guideStepSamples;
        if (centre < 0 || step >= (juce::int64) settings.pitchGuide.size())
            continue;
        const auto midi = settings.pitchGuide[(size_t) step];
        if (midi > 0.0f)
            f0[(size_t) t] = (float) (440.0 * std::pow (2.0, (midi - 69.0) / 12.0));
    }
    return f0;
}

MaskMatrix LeadVocalEngine::vocalMask (const SegmentSpectra& segment, const MaskMatrix& magnitude, std::vector<float>& f0,
                                       bool trackPitch) const
{
    const auto rows = (int) magnitude.rows();
    const auto cols = (int) magnitude.cols();
    const MaskMatrix foreground = RepetitionModel().estimateForeground (magnitude, segment, 1.0f);

    MaskMatrix notPercussive = MaskMatrix::Ones (rows, cols);
    if (settings.snareReduction)
        notPercussive = (1.0f - HarmonicPercussiveSplitter (margin).split (magnitude, segment).percussive.array()).matrix();

    const PitchTracker tracker (melodyMinHz, melodyMaxHz, melodyHarmonics, melodyAnalysisHz);
    const MaskMatrix foregroundMagnitude = magnitude.cwiseProduct (foreground).cwiseProduct (notPercussive);
    if (trackPitch)
        f0 = tracker.track (foregroundMagnitude, segment).f0;

    // The comb alone says where the voice is. The foreground has done its work in
    // steering the tracker; weighting the comb by it as well only takes partials
    // from the voice where the accompaniment is loud (measured: 2 to 3 dB worse).
    MaskMatrix mask = HarmonicCombMask::build (f0, segment, combTopHz, toothCents, toothMinBins).cwiseProduct (notPercussive);
    // Inside the comb, the voice is what stands above the steady background there.
    mask = mask.cwiseProduct (MaskOperations::shareAboveBackground (
        magnitude, mask, MaskOperations::oddLength (backgroundSeconds, segment.getFrameRate()) / 2));

    if (! settings.guided && settings.vocalActivity > 0.0f)
    {
        // Voicing: how much of the comb's energy is non-repeating foreground. A sung
        // line is; an instrument the tracker fell on during a rest repeats.
        const auto share = MaskOperations::foregroundShare (
            mask, foreground, magnitude, MaskOperations::oddLength (activitySmoothingSeconds, segment.getFrameRate()));
        const auto threshold = settings.vocalActivity * activityScale;
        for (int t = 0; t < cols; ++t)
            mask.col (t) *= juce::jlimit (0.0f, 1.0f, (share[(size_t) t] - threshold) / activityFade + 1.0f);
    }

    if (segment.getNumChannels() >= 2)
    {
        const auto positions = AzimuthAnalyser::positions (segment);
        const auto target = 0.5f * (float) settings.sourcePosition;
        const auto sigma = settings.narrow ? narrowWidth : wideWidth;
        mask.array() *= (-(positions.array() - target).square() / (2.0f * sigma * sigma)).exp();
    }
    const auto band = MaskOperations::bandWeights (segment, voiceLowHz, voiceHighHz);
    for (int b = 0; b < rows; ++b)
        if (segment.getBinFrequency (b) < voiceLowHz)
            mask.row (b) *= band[(size_t) b]; // nothing of the voice lies below its lowest partial
    return mask;
}

MaskMatrix LeadVocalEngine::reverbMask (const SegmentSpectra& segment, const MaskMatrix& magnitude, const MaskMatrix& vocal) const
{
    const auto cols = (int) magnitude.cols();
    const auto decay = (float) std::exp (-1.0 / (reverbSeconds * segment.getFrameRate()));
    MaskMatrix reverb (magnitude.rows(), cols);
    Eigen::VectorXf envelope = Eigen::VectorXf::Zero (magnitude.rows());
    for (int t = 0; t < cols; ++t)
    {
        // The tail: what the vocal's envelope, decaying, still covers in this frame.
        envelope *= decay;
        const Eigen::VectorXf direct = vocal.col (t).cwiseProduct (magnitude.col (t));
        const Eigen::ArrayXf tail = reverbLevel * envelope.array() / (magnitude.col (t).array() + 1.0e-20f);
        reverb.col (t) = tail.min (1.0f - vocal.col (t).array()).max (0.0f).matrix();
        envelope = envelope.cwiseMax (direct);
    }
    return reverb;
}

void LeadVocalEngine::separate (const SegmentSpectra& segment, StemSpectra& stems)
{
    const auto numChannels = segment.getNumChannels();
    const auto names = getStemNames();
    const auto reverbStem = names.indexOf ("VocalReverb");
    const auto remainderStem = names.indexOf ("remainder");

    std::vector<float> f0;
    if (settings.guided)
        f0 = guidePitch (segment);

    // Masks per magnitude: one shared set (stereo smoothing), or one per channel.
    const auto perChannel = ! settings.stereoSmoothing && numChannels > 1;
    const auto numSets = perChannel ? numChannels : 1;
    std::vector<std::vector<MaskMatrix>> sets ((size_t) numSets);
    for (int set = 0; set < numSets; ++set)
    {
        const auto& magnitude = perChannel ? segment.channelMagnitudes[(size_t) set] : segment.magnitude;
        // The melody is tracked once (on the first set) and shared by every channel.
        auto vocal = vocalMask (segment, magnitude, f0, ! settings.guided && set == 0);
        MaskMatrix reverb = settings.reverb == Reverb::withTrack ? MaskMatrix::Zero (vocal.rows(), vocal.cols())
                                                                 : reverbMask (segment, magnitude, vocal);
        if (settings.reverb == Reverb::withVocal)
        {
            vocal += reverb;
            reverb.setZero();
        }
        MaskMatrix accompaniment = (1.0f - vocal.array() - reverb.array()).max (0.0f).matrix();
        sets[(size_t) set] = { std::move (vocal), std::move (reverb), std::move (accompaniment) };
    }

    // Sources: 0 vocal, 1 reverb, 2 accompaniment.
    StemSpectra sources;
    if (settings.advancedFiltering && ! perChannel)
    {
        WienerRefiner::refine (segment, sets[0], sources);
    }
    else
    {
        sources.assign (3, std::vector<CspecMatrix> ((size_t) numChannels));
        for (int c = 0; c < numChannels; ++c)
        {
            const auto& masks = sets[perChannel ? (size_t) c : 0];
            std::vector<MaskMatrix> gains = masks;
            if (settings.advancedFiltering)
            {
                // Per-channel masks: scalar Wiener gains from the masked powers.
                MaskMatrix total = MaskMatrix::Constant (masks[0].rows(), masks[0].cols(), 1.0e-20f);
                for (auto& g : gains)
                {
                    g = g.array().square().matrix();
                    total += g;
                }
                for (auto& g : gains)
                    g = g.cwiseQuotient (total);
            }
            for (int j = 0; j < 3; ++j)
                sources[(size_t) j][(size_t) c] = segment.channels[(size_t) c]
                                                      .middleCols (segment.coreBegin, segment.getNumCoreFrames())
                                                      .cwiseProduct (
                                                          gains[(size_t) j]
                                                              .middleCols (segment.coreBegin, segment.getNumCoreFrames())
                                                              .cast<std::complex<float>>());
        }
    }

    stems.assign ((size_t) names.size(), std::vector<CspecMatrix> ((size_t) numChannels));
    stems[0] = std::move (sources[0]);
    if (reverbStem >= 0)
        stems[(size_t) reverbStem] = std::move (sources[1]);
    juce::ignoreUnused (remainderStem); // the residual: the separator writes input minus the others
}

} // namespace kalder::service
