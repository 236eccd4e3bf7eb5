#include "TrackRenderer.h"

#include "melody/PitchogramHelper.h"
#include "signal/AsigUtilities.h"

namespace kalder
{

TrackRenderer::TrackRenderer (AudioTrack::Ptr t, int outputs)
    : track (std::move (t)),
      numOutputs (juce::jmax (1, outputs)),
      geometry (track->getGeometry()),
      fft (juce::jmax (FrameGeometry::overlap, geometry.nfft)),
      synthesisWindow (AsigUtilities::getSynthesisWindow (geometry.nfft)),
      ccs ((size_t) geometry.nfft + 2),
      time ((size_t) geometry.nfft),
      cache ((size_t) track->getNumChannels(), std::vector<CachedFrame> ((size_t) cacheSize)),
      raw (juce::jmax (1, track->getNumChannels()), juce::jmax (1, geometry.getHop()))
{
    // The inverse transform is unscaled: fold its 1 / N into the synthesis window.
    juce::FloatVectorOperations::multiply (synthesisWindow.data(), 1.0f / (float) geometry.nfft, geometry.nfft);
    for (auto& channel : cache)
        for (auto& slot : channel)
            slot.samples.resize ((size_t) geometry.nfft);
}

void TrackRenderer::fillCache (int channel, int firstFrame)
{
    auto* asig = content->asig.get();
    const auto frames = juce::Range<int> (firstFrame, firstFrame + readAhead).getIntersectionWith ({ 0, track->getnFrames() });
    auto masked = asig->readMaskedFrames (channel, frames);
    const auto nFreqs = geometry.getNumFreqs();
    if (track->isPreviewingPitchEdits() && masked.rows() == nFreqs)
    {
        comb.resize ((size_t) nFreqs);
        for (int i = 0; i < (int) masked.cols(); ++i)
        {
            const auto x = PitchLine::frameToX (frames.getStart() + i, track->getnFrames());
            PitchogramHelper::harmonicComb (track->getPgram().getMidiPitchAt (x), nFreqs, track->getSampleRate(), comb.data());
            for (int k = 0; k < nFreqs; ++k)
                masked (k, i) *= comb[(size_t) k];
        }
    }

    for (int i = 0; i < frames.getLength(); ++i)
    {
        auto& slot = cache[(size_t) channel][(size_t) ((frames.getStart() + i) % cacheSize)];
        slot.frame = frames.getStart() + i;
        if (masked.cols() == frames.getLength() && masked.rows() == nFreqs)
        {
            std::memcpy (ccs.data(), masked.col (i).data(), sizeof (float) * (size_t) (2 * nFreqs));
            fft.inverse (ccs.data(), time.data());
            juce::FloatVectorOperations::multiply (slot.samples.data(), time.data(), synthesisWindow.data(), geometry.nfft);
        }
        else
        {
            std::fill (slot.samples.begin(), slot.samples.end(), 0.0f);
        }
    }
}

const float* TrackRenderer::getInverseFrame (int channel, int frame)
{
    auto& slot = cache[(size_t) channel][(size_t) (frame % cacheSize)];
    if (slot.frame != frame)
        fillCache (channel, frame);
    return slot.samples.data();
}

void TrackRenderer::renderChannels (int block, juce::AudioBuffer<float>& out)
{
    const auto hop = geometry.getHop();
    const auto channels = track->getNumChannels();
    out.clear();

    if (block < 0 || block >= track->getNumBlocks())
        return;

    // The content this block is made of, held until the next block.
    content = track->getContent();
    if (! track->isStoreReady() || content->asig == nullptr)
    {
        // Not analysed yet: the decoded audio is the unedited track.
        if (content->audio != nullptr)
            for (int c = 0; c < channels; ++c)
                content->audio->readFrames (c, (juce::int64) block * hop, hop, out.getWritePointer (c));
        cachedFromStore = false;
        return;
    }

    const auto generation = track->getRenderGeneration();
    if (generation != cachedGeneration || ! cachedFromStore)
    {
        for (auto& channel : cache)
            for (auto& slot : channel)
                slot.frame = std::numeric_limits<int>::min();
        cachedGeneration = generation;
        cachedFromStore = true;
    }

    // Block b lies in frames b .. b + 3, at offsets 3, 2, 1 and 0 hops into them.
    const auto numFrames = track->getnFrames();
    for (int c = 0; c < channels; ++c)
    {
        auto* dest = out.getWritePointer (c);
        for (int k = 0; k < FrameGeometry::overlap; ++k)
        {
            const auto frame = block + k;
            if (frame >= numFrames)
                break;
            const auto* samples = getInverseFrame (c, frame);
            juce::FloatVectorOperations::add (dest, samples + (FrameGeometry::overlap - 1 - k) * hop, hop);
        }
    }
}

void TrackRenderer::renderRawBlock (int block, juce::AudioBuffer<float>& dest)
{
    renderChannels (block, raw);
    for (int c = 0; c < juce::jmin (dest.getNumChannels(), raw.getNumChannels()); ++c)
        dest.copyFrom (c, 0, raw, c, 0, geometry.getHop());
}

float TrackRenderer::getOutputGain (const AudioTrack& track, int numOutputs, int output, int channel) noexcept
{
    const auto channels = track.getNumChannels();
    if (! juce::isPositiveAndBelow (channel, channels) || ! juce::isPositiveAndBelow (output, juce::jmax (1, numOutputs)))
        return 0.0f;

    const auto gain = track.getVolume();
    // A mono mix has nothing to pan: the channels' average.
    if (numOutputs <= 1)
        return gain / (float) channels;

    // Channels 0 and 1 go through their pan gains; any further channels pass straight.
    if (output < 2)
    {
        if (channel >= 2)
            return 0.0f;
        const auto pan = track.getPanGains (channel);
        return gain * (output == 0 ? pan.left : pan.right);
    }
    return output == channel ? gain : 0.0f;
}

void TrackRenderer::renderBlock (int block, juce::AudioBuffer<float>& dest)
{
    const auto hop = geometry.getHop();
    renderChannels (block, raw);

    for (int o = 0; o < numOutputs; ++o)
    {
        dest.clear (o, 0, hop);
        for (int c = 0; c < track->getNumChannels(); ++c)
            if (const auto g = getOutputGain (*track, numOutputs, o, c); g != 0.0f)
                dest.addFrom (o, 0, raw, c, 0, hop, g);
    }
    if (feedsMeters)
        track->updatePeaks (dest);
}

} // namespace kalder
