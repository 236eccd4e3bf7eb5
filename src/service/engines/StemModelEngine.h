#pragma once

#include "SeparationEngine.h"
#include "StemEngine.h"

namespace kalder::service
{

/**
    The modules that cut the mixture into drums, bass, vocals and other: "four stems",
    "bass", "all vocals" and "other". They share one model and differ in which of its
    sources they write.

    The chain, per segment:
    1. Drums: median-filter harmonic/percussive/residual masks with margin 3
       (FitzGerald 2010; Driedger, Mueller and Disch 2014); drums are the percussive
       part, the residual shared by the plain soft mask P^2 / (P^2 + H^2) (except on
       the voice's partials), and below 150 Hz at least the transient share (the kick).
    2. Bass evidence: the bass line's pitch is tracked by harmonic summation on the
       harmonic part (30 to 300 Hz); a harmonic comb on that track up to 600 Hz, plus
       everything below 80 Hz, weighted towards the centre of the stereo field (ADRess
       azimuth, Gaussian of sigma 0.2 of the pan range: mixes keep the bass centred).
    3. Vocals, as the lead vocal chain finds them: the predominant melody is tracked
       (Klapuri 2006; Salamon and Gomez 2012) on the non-repeating foreground of
       REPET-SIM (Rafii and Pardo 2012) without the percussive part and the bass
       evidence, and a harmonic comb on it, without the percussive part and the bass
       evidence, weighted towards the centre (sigma 0.3) in the voice band (150 Hz to
       8 kHz), takes what the drums left.
    4. Bass: the bass evidence times what drums and vocals left.
    5. Other: the rest, so the four masks sum to one.
    6. Multichannel Wiener refinement of the four sources (WienerRefiner).
    7. Optional noise gate on the refined vocals: where their level (averaged over a
       quarter second) is more than 12 dB under the mixture's, or below -70 dBFS, the
       vocal part goes to other (held open about 90 ms after the level drops).

    Threading: one per job, the job's thread.
*/
class StemModelEngine : public StemEngine
{
public:
    /** Whether the noise gate (step 7) closes the vocals between phrases. */
    enum class VocalGate
    {
        off,
        on
    };

    /** module is bass, allVocals, fourStems, other or drums. */
    StemModelEngine (Module module, VocalGate gate);

    juce::StringArray getStemNames() const override;
    int getResidualStem() const override;
    int getContextFrames (const FrameGeometry& geometry, double sampleRate) const override;
    void separate (const SegmentSpectra& segment, StemSpectra& stems) override;
    juce::String getStageName() const override;

    /** The four masks (drums, bass, vocals, other) over all columns of a segment. */
    std::vector<MaskMatrix> computeMasks (const SegmentSpectra& segment) const;

private:
    Module module;
    bool gate;
};

} // namespace kalder::service
