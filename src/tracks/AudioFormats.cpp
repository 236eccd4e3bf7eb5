#include "AudioFormats.h"

#include "FFmpegAudioFormat.h"

namespace kalder
{

void AudioFormats::registerFormats (juce::AudioFormatManager& manager)
{
    manager.registerBasicFormats();
    manager.registerFormat (new FFmpegAudioFormat(), false);
}

std::unique_ptr<juce::AudioFormatManager> AudioFormats::createManager()
{
    auto manager = std::make_unique<juce::AudioFormatManager>();
    registerFormats (*manager);
    return manager;
}

} // namespace kalder
