#pragma once

#include "SeparationEngine.h"
#include "StemEngine.h"

namespace kalder::service
{

/**
    Streams an input file through a stem engine and writes the stems.

    The input is read with an AudioFormatReader one segment at a time (a core of about
    twenty seconds plus the engine's context on both sides), analysed into STFT frames
    (Hann window, hop N / 4, the track geometry of FrameGeometry), handed to the engine,
    and each stem's frames are resynthesised by weighted overlap-add and written with a
    WAV AudioFormatWriter as soon as they are complete. Memory therefore depends on the
    segment length, never on the input's length, and every input sample reaches every
    stem.

    Stems are written at the input's sample rate, channel count and bit depth (integer
    depths other than 8, 16 and 24 are written as 24-bit, floating point as 32-bit
    float). The residual stem is computed last, sample by sample, as the input minus
    the other stems after their quantisation, so the stems of a module add up to the
    input exactly.

    Files are written under temporary names and renamed when everything succeeded; on
    any failure or cancellation they are deleted and no stem is reported.

    Threading: one instance per job, used on the job's thread only.
*/
class BlockSeparator
{
public:
    BlockSeparator (StemEngine& engine, EngineProgress& progress);

    /** Core frames per segment, settable for tests of segment boundaries. */
    void setCoreSeconds (double seconds) noexcept { coreSeconds = seconds; }

    juce::Result run (const juce::File& input, const juce::File& outputDirectory, std::vector<StemFile>& stems);

private:
    StemEngine& engine;
    EngineProgress& progress;
    double coreSeconds = 20.0; // long enough for repetition and melody statistics

    JUCE_DECLARE_NON_COPYABLE (BlockSeparator)
};

} // namespace kalder::service
