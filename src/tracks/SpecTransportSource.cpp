#include "SpecTransportSource.h"

namespace kalder
{

SpecTransportSource::SpecTransportSource (Mixer& m) : mixer (m)
{
    setParameters();
}

void SpecTransportSource::setParameters()
{
    block.setSize (juce::jmax (1, mixer.getNumOutputChannels()), juce::jmax (1, mixer.getFrameLength()));
    block.clear();
    blockRead = blockLength = 0;
    position = 0;
    positionRequest = -1;
}

void SpecTransportSource::prepareToPlay (int, double)
{
    if (block.getNumChannels() != juce::jmax (1, mixer.getNumOutputChannels())
        || block.getNumSamples() != juce::jmax (1, mixer.getFrameLength()))
        setParameters();
}

void SpecTransportSource::start()
{
    const auto from = getPosition();
    mixer.setPlayPosition (from);
    mixer.prime (from, primeTimeoutMs);
    playing = true;
}

void SpecTransportSource::stop() noexcept
{
    playing = false;
}

void SpecTransportSource::setPosition (int frame)
{
    const auto clamped = juce::jlimit (0, juce::jmax (0, mixer.getNumFrames() - 1), frame);
    if (playing.load())
        mixer.prime (clamped, primeTimeoutMs); // playback goes on where it is meanwhile
    else
        mixer.setPlayPosition (clamped);
    positionRequest = clamped;
}

int SpecTransportSource::getPosition() const noexcept
{
    const auto request = positionRequest.load();
    return request >= 0 ? request : position.load();
}

void SpecTransportSource::getNextAudioBlock (const juce::AudioSourceChannelInfo& info)
{
    readMix (info);
    tone.addTo (*info.buffer, info.startSample, info.numSamples, (double) mixer.getSampleRate());
}

void SpecTransportSource::readMix (const juce::AudioSourceChannelInfo& info)
{
    auto& out = *info.buffer;

    // A jump asked for by another thread: drop what is left of the current block. Only
    // this thread writes the position, so the jump cannot be lost to playback moving on.
    if (const auto request = positionRequest.exchange (-1); request >= 0)
    {
        position = request;
        blockRead = blockLength = 0;
    }

    if (! playing.load() || block.getNumSamples() != mixer.getFrameLength() || mixer.getNumFrames() <= 0)
    {
        info.clearActiveBufferRegion();
        return;
    }

    const auto mixChannels = block.getNumChannels();
    int written = 0;
    while (written < info.numSamples)
    {
        if (blockRead >= blockLength)
        {
            const auto next = position.load();
            if (next >= mixer.getNumFrames())
            {
                // The end: stop, back at the start.
                playing = false;
                position = 0;
                break;
            }
            if (! mixer.readPlaybackBlock (next, block))
            {
                underrunSamples += info.numSamples - written;
                position = next;
                break;
            }
            position = mixer.getNextFrameInPlayOrder (next);
            blockRead = 0;
            blockLength = block.getNumSamples();
        }

        const auto n = juce::jmin (info.numSamples - written, blockLength - blockRead);
        for (int c = 0; c < out.getNumChannels(); ++c)
            out.copyFrom (c, info.startSample + written, block, juce::jmin (c, mixChannels - 1), blockRead, n);
        blockRead += n;
        written += n;
    }

    if (written < info.numSamples)
        for (int c = 0; c < out.getNumChannels(); ++c)
            out.clear (c, info.startSample + written, info.numSamples - written);
}

} // namespace kalder
