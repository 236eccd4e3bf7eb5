#include "AudioFormats.h"

#include "FFmpegAudioFormat.h"

namespace kalder
{

void AudioFormats::registerFormats (juce::AudioFormatManager& manager)
{
    // JUCE's lossless and Vorbis readers first: exact and quick.
    manager.registerFormat (new juce::WavAudioFormat(), true);
    manager.registerFormat (new juce::AiffAudioFormat(), false);
    manager.registerFormat (new juce::FlacAudioFormat(), false);
    manager.registerFormat (new juce::OggVorbisAudioFormat(), false);
    // FFmpeg before JUCE's MP3 reader: it drops the encoder's delay and padding, so the
    // audio starts on its first sample, decodes MPEG-2 files too, and is about twice as
    // fast. JUCE's reader stays as the last resort.
    manager.registerFormat (new FFmpegAudioFormat(), false);
    manager.registerFormat (new juce::MP3AudioFormat(), false);
}

std::unique_ptr<juce::AudioFormatManager> AudioFormats::createManager()
{
    auto manager = std::make_unique<juce::AudioFormatManager>();
    registerFormats (*manager);
    return manager;
}

} // namespace kalder
