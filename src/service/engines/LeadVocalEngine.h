#pragma once

#include "SeparationEngine.h"
#include "StemEngine.h"

namespace kalder::service
{

/**
    The lead-vocal module: "vocals" and "remainder", plus "VocalReverb" when the
    reverb is extracted to its own track; without a backing track only the vocal
    stems are written.

    The chain, per segment:
    1. Foreground: the non-repeating part after REPET-SIM (Rafii and Pardo 2012).
    2. Pitch: Automatic mode tracks the predominant melody (80 Hz to 1 kHz) by
       harmonic summation and dynamic programming on the foreground magnitude; Guided
       mode takes the user's pitch guide instead (no line: no vocal).
    3. A harmonic comb on the pitch (25-cent teeth, up to 10 kHz) is the vocal mask;
       with snare reduction, times one minus the percussive mask of a median-filter
       HPSS with margin 2 (Driedger, Mueller and Disch 2014).
    4. Vocal detection (Automatic, sensitivity s > 0): where less than s / 2 of the
       comb's energy (averaged over a quarter second) is non-repeating foreground, the
       tracked line is an instrument and the frame is not vocal; the mask fades out
       over 0.05 of that share.
    5. Position: the mask is weighted by a Gaussian around the source position
       (left, centre, right) of the bin's azimuth (ADRess; see AzimuthAnalyser), narrow
       (sigma 0.1 of the pan range) for a narrow vocal, wide (0.3) otherwise.
    6. Reverb: a decaying envelope (time constant 0.3 s) of the vocal's magnitude,
       at -10 dB, claims the non-vocal part of the bins it covers: added to the
       vocal ("WithVocal"), written as "VocalReverb" ("SeparateTrack"), or left with
       the track ("WithTrack").
    7. Advanced filtering: multichannel Wiener refinement (WienerRefiner) of vocal,
       reverb and accompaniment; otherwise the soft masks are applied as they are.
    Stereo smoothing on computes one mask from the channels' mean magnitude; off, the
    magnitude-dependent parts (foreground, percussive) are computed per channel.

    Threading: one per job, the job's thread.
*/
class LeadVocalEngine : public StemEngine
{
public:
    enum class Reverb
    {
        withTrack,
        withVocal,
        separateTrack
    };

    struct Settings
    {
        bool stereoSmoothing = true;
        int sourcePosition = 1; // 0 left, 1 centre, 2 right
        bool narrow = true;
        Reverb reverb = Reverb::withVocal;
        bool guided = false;
        float vocalActivity = 0.0f;
        bool snareReduction = false;
        bool advancedFiltering = true;
        bool backingTrack = true;
        std::vector<float> pitchGuide; // MIDI per step, -1 for none
        int guideStepSamples = 0;
    };

    explicit LeadVocalEngine (Settings settings);

    juce::StringArray getStemNames() const override;
    int getResidualStem() const override;
    int getContextFrames (const FrameGeometry& geometry, double sampleRate) const override;
    void separate (const SegmentSpectra& segment, StemSpectra& stems) override;
    juce::String getStageName() const override;

private:
    /** Per-column f0 in Hz from the guide (0 where the guide has no line). */
    std::vector<float> guidePitch (const SegmentSpectra& segment) const;

    /** The direct vocal mask for one magnitude (the mean, or one channel's). */
    MaskMatrix vocalMask (const SegmentSpectra& segment, const MaskMatrix& magnitude, std::vector<float>& f0,
                          bool trackPitch) const;

    MaskMatrix reverbMask (const SegmentSpectra& segment, const MaskMatrix& magnitude, const MaskMatrix& vocal) const;

    Settings settings;
};

} // namespace kalder::service
