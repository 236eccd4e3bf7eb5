#include "StemModelEngine.h"
#include "AzimuthAnalyser.h"
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

    constexpr float margin = 3.0f; // Driedger et al.'s separation factor: a wide residual
    constexpr double bassMinHz = 30.0, bassMaxHz = 300.0;
    constexpr double bassAnalysisHz = 600.0; // the tracker hears partials up to here
    // The comb claims partials only up to here: above it the bass's partials are weak
    // and coincide with the chords' (consonance), so claiming them takes the chords.
    constexpr double bassCombTopHz = 300.0;
    constexpr int bassHarmonics = 6;
    constexpr double bassToothCents = 50.0; // half a semitone: bass vibrato is small
    constexpr double bassMinBins = 2.0;     // a Hann main lobe is +-2 bins, even for low partials
    constexpr double subBassHz = 150.0;     // below this (fading out by twice it) everything pitched is bass
    constexpr double bassPeakHz = 250.0, rollOffHz = 150.0;
    constexpr float bassCentreWidth = 0.2f;  // Gaussian sigma on the 0..1 pan range
    constexpr float voiceCentreWidth = 0.3f; // the lead vocal chain's Wide setting
    constexpr double voiceLowHz = 150.0, voiceHighHz = 8000.0;
    constexpr double backgroundSeconds = 1.0; // the steady background's median span
    constexpr double melodyMinHz = 80.0, melodyMaxHz = 1000.0, melodyAnalysisHz = 5000.0;
    constexpr int melodyHarmonics = 10;
    constexpr double toothCents = 25.0;       // pitch movement within a frame and tracking error
    constexpr double toothMinBins = 1.5;      // a Hann main lobe is +-2 bins
    constexpr float gateThresholdDb = -12.0f; // vocals this far under the mix are bleed
    constexpr float gateFloorDb = -70.0f;
} // namespace

StemModelEngine::StemModelEngine (Module m, VocalGate g) : module (m), gate (g == VocalGate::on) {}

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
        case Module::drums:
            return { "drums", "remainder" };
        case Module::fourStems:
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

    // The residual (cymbal and snare decays, but also vibrato, glides and note onsets)
    // is shared by the plain soft mask P^2 / (P^2 + H^2): its bins are decided by which
    // median is larger, without the margin that made them residual.
    const auto parts = HarmonicPercussiveSplitter (margin).split (magnitude, segment);
    HarmonicPercussiveSplitter::Masks shared = parts;
    shared.residual = parts.residual.cwiseProduct (parts.percussiveShare);
    masks[drums] = HarmonicPercussiveSplitter::drumMask (shared, 1.0f, segment);

    // Distance from the centre of the stereo field (ADRess azimuth): bass and lead
    // voice are mixed there.
    const auto stereo = segment.getNumChannels() >= 2;
    const MaskMatrix offCentre = stereo ? MaskMatrix ((AzimuthAnalyser::positions (segment).array() - 0.5f).square().matrix())
                                        : MaskMatrix();
    const auto centreWeight = [&] (float width) { return (-offCentre.array() / (2.0f * width * width)).exp(); };

    // Bass evidence: comb on the tracked bass line, and the sub-bass band. It comes
    // first because the vocal chain leaves the bass line out.
    const MaskMatrix harmonicMagnitude = magnitude.cwiseProduct (parts.harmonic);
    const auto bassTrack = PitchTracker (bassMinHz, bassMaxHz, bassHarmonics, bassAnalysisHz).track (harmonicMagnitude, segment);
    MaskMatrix bassEvidence = HarmonicCombMask::build (bassTrack.f0, segment, bassCombTopHz, bassToothCents, bassMinBins);
    const auto subBass = MaskOperations::bandWeights (segment, 1.0, subBassHz);
    for (int t = 0; t < cols; ++t)
        for (int b = 0; b < rows && segment.getBinFrequency (b) < subBassHz * 2.0; ++b)
            bassEvidence (b, t) = std::max (bassEvidence (b, t), subBass[(size_t) b]);
    // A bass's partials fall off above its lowest ones: where the chords are much
    // louder than the bass could be, the evidence claims only the bass's likely share,
    // at most the frame's low-band peak, 12 dB lower for each octave above rollOffHz.
    // (Development songs: bass 1.6 dB with 6 dB per octave above 200 Hz, 4.9 with
    // this; 4.8 above 125 Hz, 4.3 above 175 Hz, 4.9 with 18 dB per octave.)
    for (int t = 0; t < cols; ++t)
    {
        float peak = 0.0f;
        for (int b = 0; b < rows && segment.getBinFrequency (b) < bassPeakHz; ++b)
            peak = std::max (peak, harmonicMagnitude (b, t));
        for (int b = 0; b < rows; ++b)
        {
            const auto hz = segment.getBinFrequency (b);
            if (hz <= rollOffHz)
                continue;
            const auto cap = peak * (float) juce::square (rollOffHz / hz) / (magnitude (b, t) + 1.0e-20f);
            bassEvidence (b, t) = std::min (bassEvidence (b, t), cap);
        }
    }
    // Mixes keep the bass in the centre (low frequencies are mixed mono), so bins away
    // from it are chords and pads, not bass.
    if (stereo)
        bassEvidence.array() *= centreWeight (bassCentreWidth);

    // Vocals, as the lead vocal chain finds them: the predominant melody, tracked on the
    // non-repeating (REPET-SIM), non-percussive part, and a harmonic comb on it. The
    // bass line is left out of both: it is modelled already, and without it the
    // tracker has less to fall on while the voice rests. Bins far from the centre are
    // weighted down as the lead chain's Wide setting does (backing voices stand beside
    // the lead, chords and pads further out), which also keeps panned instruments the
    // tracker falls on out of the vocals, so that the noise gate can close.
    if (module != Module::bass)
    {
        const MaskMatrix foreground = RepetitionModel().estimateForeground (magnitude, segment, 1.0f);
        const MaskMatrix notPercussive = (1.0f - parts.percussive.array()).matrix();
        const MaskMatrix notBass = (1.0f - bassEvidence.array()).matrix();
        const auto melody = PitchTracker (melodyMinHz, melodyMaxHz, melodyHarmonics, melodyAnalysisHz)
                                .track (magnitude.cwiseProduct (foreground).cwiseProduct (notPercussive).cwiseProduct (notBass),
                                        segment);
        MaskMatrix voice = HarmonicCombMask::build (melody.f0, segment, voiceHighHz, toothCents, toothMinBins)
                               .cwiseProduct (notPercussive)
                               .cwiseProduct (notBass);
        // Inside the comb, the voice is what stands above the steady background there.
        voice = voice.cwiseProduct (MaskOperations::shareAboveBackground (
            magnitude, voice, MaskOperations::oddLength (backgroundSeconds, segment.getFrameRate()) / 2));
        if (stereo)
            voice.array() *= centreWeight (voiceCentreWidth);
        const auto band = MaskOperations::bandWeights (segment, voiceLowHz, voiceHighHz);
        voice.array().colwise() *= Eigen::Map<const Eigen::ArrayXf> (band.data(), rows);

        // The residual on the voice's partials is its vibrato and glides, not drums.
        shared.residual = shared.residual.cwiseProduct ((1.0f - voice.array()).matrix());
        masks[drums] = HarmonicPercussiveSplitter::drumMask (shared, 1.0f, segment);
        masks[vocals] = (1.0f - masks[drums].array()).matrix().cwiseProduct (voice);
    }
    else
    {
        masks[vocals] = MaskMatrix::Zero (rows, cols);
    }

    // Bass from what drums and vocals left; other is the rest.
    masks[bass] = (1.0f - masks[drums].array() - masks[vocals].array()).max (0.0f).matrix().cwiseProduct (bassEvidence);

    masks[other] = (1.0f - masks[drums].array() - masks[bass].array() - masks[vocals].array()).max (0.0f).matrix();
    return masks;
}

void StemModelEngine::separate (const SegmentSpectra& segment, StemSpectra& stems)
{
    StemSpectra sources;
    WienerRefiner::refine (segment, computeMasks (segment), sources);

    if (gate && module != Module::bass)
    {
        // The gate acts on the refined vocals, whose level between phrases is the
        // bleed it is meant to remove; what it closes goes to other.
        std::vector<CspecMatrix> mixture;
        for (const auto& x : segment.channels)
            mixture.push_back (x.middleCols (segment.coreBegin, segment.getNumCoreFrames()));
        const auto open = MaskOperations::gateFrames (MaskOperations::frameEnergies (sources[vocals]),
                                                      MaskOperations::frameEnergies (mixture), gateThresholdDb, gateFloorDb,
                                                      segment.geometry.nfft);
        for (size_t c = 0; c < sources[vocals].size(); ++c)
            for (int t = 0; t < segment.getNumCoreFrames(); ++t)
            {
                const auto closed = 1.0f - open[(size_t) t];
                sources[other][c].col (t) += closed * sources[vocals][c].col (t);
                sources[vocals][c].col (t) *= open[(size_t) t];
            }
    }

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
        case Module::drums:
            stems[0] = std::move (sources[drums]);
            break;
        case Module::fourStems:
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
