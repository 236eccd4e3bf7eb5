#include "TestTracks.h"

#include <juce_audio_formats/juce_audio_formats.h>

namespace kalder::test
{

AudioTrack::Ptr makeTrack (const juce::File& folder, const juce::String& name, const juce::AudioBuffer<float>& audio,
                           int sampleRate, bool analyse)
{
    folder.createDirectory();
    const auto rendered = folder.getChildFile (name + AudioTrack::renderedFileSuffix);
    if (! writeAudioFile (rendered, audio, sampleRate))
        return nullptr;

    AudioTrack::Ptr track = new AudioTrack (name, AudioTrack::OriginId::master);
    if (track->setAudio (std::make_unique<ParsedAudioBuffer> (audio, sampleRate), folder, name, 32, rendered).failed())
        return nullptr;
    if (analyse && track->generateAsig().failed())
        return nullptr;
    return track;
}

} // namespace kalder::test
