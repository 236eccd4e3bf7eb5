#pragma once

#include "StemEngine.h"

namespace kalder::service
{

/**
    The drums module: "drums" and "remainder".

    Median-filter harmonic/percussive/residual decomposition with a margin of 2
    (FitzGerald 2010; Driedger, Mueller and Disch 2014). Drums take the percussive part
    and half of the residual (the noisy decay of cymbals and snares lives there; so do
    vibrato and note onsets of pitched instruments, hence only half), and below 150 Hz
    at least the share of each bin above its own time median (a kick drum is too
    narrow-band for the frequency median to see). Each channel gets the mask of its own
    magnitude: this is the drum module with Stereo Smoothing off (on, the module is the
    four-source model's drums, StemModelEngine).

    Threading: one per job, the job's thread.
*/
class DrumEngine : public StemEngine
{
public:
    DrumEngine() = default;

    juce::StringArray getStemNames() const override { return { "drums", "remainder" }; }
    int getResidualStem() const override { return 1; }
    int getContextFrames (const FrameGeometry&, double sampleRate) const override;
    void separate (const SegmentSpectra& segment, StemSpectra& stems) override;
    juce::String getStageName() const override { return "Separating harmonic and percussive parts"; }
};

} // namespace kalder::service
