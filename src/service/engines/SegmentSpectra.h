#pragma once

#include "signal/FrameGeometry.h"
#include "signal/SpectralMatrices.h"

#include <vector>

namespace kalder::service
{

/**
    The STFT of one segment of the input, as the block separator hands it to a stem
    engine: every channel's complex frames over the segment's columns, which are the
    core frames (whose separation is written out) plus context frames on either side
    (which the engine may look at but whose separation is discarded).

    Column c is the global frame firstFrame + c (see FrameGeometry for where frames lie
    in time). Owned by the block separator; engines read it on the separator's thread.
*/
struct SegmentSpectra
{
    double sampleRate = 44100.0;
    FrameGeometry geometry;
    juce::int64 firstFrame = 0;

    /** Columns [coreBegin, coreEnd) are the frames written out for this segment. */
    int coreBegin = 0;
    int coreEnd = 0;

    /** One matrix per channel, nFreqs rows. */
    std::vector<CspecMatrix> channels;

    /** |X| per channel, and their mean over channels. */
    std::vector<MaskMatrix> channelMagnitudes;
    MaskMatrix magnitude;

    int getNumFrames() const noexcept { return (int) magnitude.cols(); }
    int getNumFreqs() const noexcept { return geometry.getNumFreqs(); }
    int getNumChannels() const noexcept { return (int) channels.size(); }
    int getNumCoreFrames() const noexcept { return coreEnd - coreBegin; }

    /** Centre frequency of bin b, in Hz. */
    double getBinFrequency (double bin) const noexcept { return bin * sampleRate / geometry.nfft; }

    /** The (fractional) bin of a frequency in Hz. */
    double getBinForFrequency (double hz) const noexcept { return hz * geometry.nfft / sampleRate; }

    /** Frames per second of this STFT. */
    double getFrameRate() const noexcept { return sampleRate / geometry.getHop(); }
};

/** The separated spectra of the core frames: [stem][channel], each nFreqs x core frames. */
using StemSpectra = std::vector<std::vector<CspecMatrix>>;

} // namespace kalder::service
