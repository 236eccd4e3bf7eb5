#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

#include <vector>

namespace kalder::service
{

/** The module numbers that requests carry (the application's Module values). */
enum class Module
{
    drums = 0,
    vocals = 1, // lead vocal, automatic or guided
    pan = 2,    // sources by stereo position
    other = 3,  // everything but vocals, bass and drums
    bass = 5,
    allVocals = 6,
    fourStems = 7
};

/** What one separation asks for, decoded from the request file and the start request. */
struct SeparationSpec
{
    Module module = Module::vocals;
    int algorithm = 0;

    /** Module parameters by internal name ("nSources", "mode", "reverbProcess", ...),
        holding the values the application stores: strings such as "On", "Guided",
        "0.5", or an int for "nSources" and "sourcePosition". */
    juce::NamedValueSet parameters;

    /** Guided vocals: the MIDI pitch (fractional) of the melody at each step of the
        guide, -1 where no line is drawn. Step i covers the input samples
        [i * guideStepSamples, (i + 1) * guideStepSamples). Empty when not guided. */
    std::vector<float> pitchGuide;
    int guideStepSamples = 0;
};

/** Receives an engine's advance; the engine polls shouldStop() and gives up early. */
class EngineProgress
{
public:
    virtual ~EngineProgress() = default;

    /** fraction 0..1 of the whole separation, and a short description of the stage. */
    virtual void report (float fraction, const juce::String& stage) = 0;
    virtual bool shouldStop() const = 0;
};

/** One output file of a separation. */
struct StemFile
{
    juce::String name; // "vocals", "drums", ... (file name without extension)
    juce::File file;
};

/**
    Separates input (any lossless file JUCE's basic formats read) into WAV stems in
    outputDirectory, at the input's sample rate, bit depth and channel count.

    Works block by block with overlap, so memory stays bounded whatever the input's
    length; nothing is truncated. Returns a failed result (and writes no stems) when
    the input cannot be read, `spec` is invalid, a write fails or progress asks to
    stop.
*/
juce::Result runSeparation (const SeparationSpec& spec, const juce::File& input, const juce::File& outputDirectory,
                            EngineProgress& progress, std::vector<StemFile>& stems);

} // namespace kalder::service
