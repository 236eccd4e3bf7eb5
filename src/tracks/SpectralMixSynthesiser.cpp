#include "SpectralMixSynthesiser.h"
#include "TrackRenderer.h"

namespace kalder
{

SpectralMixSynthesiser::SpectralMixSynthesiser (const FrameGeometry& g, int outputs)
    : geometry (g), numOutputs (juce::jmax (1, outputs)), block (numOutputs, juce::jmax (1, g.getHop()))
{
    for (int o = 0; o < numOutputs; ++o)
    {
        synthesisers.push_back (std::make_unique<OverlapAddSynthesiser> (geometry.nfft));
        summed.push_back (CspecMatrix::Zero (geometry.getNumFreqs(), framesPerStep));
    }
}

bool SpectralMixSynthesiser::canSum (const AudioTrack& track) const
{
    return track.isStoreReady() && track.getGeometry().nfft == geometry.nfft && track.getAsig() != nullptr;
}

void SpectralMixSynthesiser::sumFrames (int firstFrame, const juce::Array<AudioTrack*>& tracks)
{
    for (auto& s : summed)
        s.setZero();
    summedFrames = { firstFrame, firstFrame + framesPerStep };
    summedTracks = tracks;
    summedGenerations.clear();

    for (auto* track : tracks)
    {
        summedGenerations.push_back (track->getRenderGeneration());
        const auto content = track->getContent(); // held while its store is read
        auto* asig = content->asig.get();
        const auto frames = summedFrames.getIntersectionWith ({ 0, track->getnFrames() });
        if (asig == nullptr || frames.isEmpty())
            continue;

        const auto offset = frames.getStart() - firstFrame;
        for (int c = 0; c < track->getNumChannels(); ++c)
        {
            const auto spectra = asig->readMaskedFrames (c, frames);
            if (spectra.rows() != geometry.getNumFreqs() || spectra.cols() != frames.getLength())
                continue;
            for (int o = 0; o < numOutputs; ++o)
                if (const auto g = TrackRenderer::getOutputGain (*track, numOutputs, o, c); g != 0.0f)
                    summed[(size_t) o].middleCols (offset, frames.getLength()) += g * spectra;
        }
    }
}

void SpectralMixSynthesiser::pushFrame (int frame, const juce::Array<AudioTrack*>& tracks)
{
    bool current = summedFrames.contains (frame) && summedTracks == tracks;
    for (int i = 0; current && i < tracks.size(); ++i)
        current = summedGenerations[(size_t) i] == tracks.getUnchecked (i)->getRenderGeneration();
    if (! current)
        sumFrames (frame, tracks);

    const auto column = frame - summedFrames.getStart();
    for (int o = 0; o < numOutputs; ++o)
        synthesisers[(size_t) o]->pushFrame (summed[(size_t) o].col (column).data(), block.getWritePointer (o));
}

void SpectralMixSynthesiser::addBlock (int b, const juce::Array<AudioTrack*>& tracks, juce::AudioBuffer<float>& out)
{
    const auto hop = geometry.getHop();
    if (b < 0)
        return;
    constexpr auto lead = FrameGeometry::overlap - 1;

    if (b != nextBlock)
    {
        // Start the overlap again: frames b .. b + 2 carry the start of block b.
        for (auto& s : synthesisers)
            s->reset();
        for (int f = b; f < b + lead; ++f)
            pushFrame (f, tracks);
    }

    // Frame b + 3 completes block b.
    pushFrame (b + lead, tracks);
    nextBlock = b + 1;

    for (int o = 0; o < juce::jmin (numOutputs, out.getNumChannels()); ++o)
        out.addFrom (o, 0, block, o, 0, hop);
}

} // namespace kalder
