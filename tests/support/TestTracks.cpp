#include "TestTracks.h"

#include <juce_audio_formats/juce_audio_formats.h>

namespace kalder::test
{

bool writeWav (const juce::File& file, const juce::AudioBuffer<float>& audio, int sampleRate, int bitsPerSample)
{
    file.deleteFile();
    std::unique_ptr<juce::OutputStream> stream = std::make_unique<juce::FileOutputStream> (file);
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer (
        wav.createWriterFor (stream.get(), sampleRate, (unsigned int) audio.getNumChannels(), bitsPerSample, {}, 0));
    if (writer == nullptr)
        return false;
    stream.release();
    return writer->writeFromAudioSampleBuffer (audio, 0, audio.getNumSamples());
}

AudioTrack::Ptr makeTrack (const juce::File& folder, const juce::String& name, const juce::AudioBuffer<float>& audio,
                           int sampleRate, bool analyse)
{
    folder.createDirectory();
    const auto rendered = folder.getChildFile (name + AudioTrack::renderedFileSuffix);
    if (! writeWav (rendered, audio, sampleRate))
        return nullptr;

    AudioTrack::Ptr track = new AudioTrack (name, AudioTrack::OriginId::master);
    if (track->setAudio (std::make_unique<ParsedAudioBuffer> (audio, sampleRate), folder, name, 32, rendered).failed())
        return nullptr;
    if (analyse && track->generateAsig().failed())
        return nullptr;
    return track;
}

} // namespace kalder::test
