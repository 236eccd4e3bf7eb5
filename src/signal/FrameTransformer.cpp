#include "FrameTransformer.h"
#include "AsigUtilities.h"

namespace kalder
{

FrameTransformer::FrameTransformer (const FrameGeometry& g, const RealFFT& f)
    : geometry (g), fft (f), window (AsigUtilities::getHanningWindow (g.nfft)), time ((size_t) g.nfft), ccs ((size_t) g.nfft + 2)
{}

void FrameTransformer::transform (const ParsedAudio& audio, int channel, juce::Range<int> frames, CspecMatrix& block)
{
    const auto nfft = geometry.nfft;
    const auto hop = geometry.getHop();
    const auto nFreqs = geometry.getNumFreqs();

    // The samples under frames [f0, f1) run from the first sample of f0 to the last of f1 - 1.
    const auto first = geometry.getFirstSampleOfFrame (frames.getStart());
    const auto length = (frames.getLength() - 1) * hop + nfft;
    samples.resize ((size_t) length);
    block.resize (nFreqs, frames.getLength());
    audio.readFrames (channel, first, length, samples.data());

    for (int f = 0; f < frames.getLength(); ++f)
    {
        // Copy and window in one pass.
        juce::FloatVectorOperations::multiply (time.data(), samples.data() + (size_t) f * (size_t) hop, window.data(), nfft);
        fft.forward (time.data(), ccs.data());
        std::memcpy (static_cast<void*> (block.col (f).data()), ccs.data(), sizeof (float) * (size_t) (2 * nFreqs));
    }
}

} // namespace kalder
