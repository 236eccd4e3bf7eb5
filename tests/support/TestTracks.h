#pragma once

#include "AudioTestFiles.h"
#include "tracks/AudioTrack.h"

namespace kalder::test
{

/** A track made from a buffer: its rendered audio file is written as a 32-bit float WAV
    in folder, and its store is analysed unless analyse is false. */
AudioTrack::Ptr makeTrack (const juce::File& folder, const juce::String& name, const juce::AudioBuffer<float>& audio,
                           int sampleRate, bool analyse = true);

} // namespace kalder::test
