#include "TrackLoader.h"
#include "AudioFileDecoder.h"
#include "WavParsedAudio.h"

namespace kalder
{

namespace
{
    // Decoding writes the samples once; the analysis transforms and writes them four
    // times over: its share of the progress is the larger.
    constexpr float decodeShare = 0.2f;
} // namespace

AudioTrack::Ptr TrackLoader::openTrack (const juce::File& source, const juce::File& dataFolder, const juce::String& dataName,
                                        AudioTrack::OriginId origin, Progress::Ptr progress, juce::Result& result,
                                        DecodedAudioInfo* infoOut)
{
    if (progress == nullptr)
        progress = new Progress();

    if (! dataFolder.createDirectory())
    {
        result = juce::Result::fail ("Cannot create the folder " + dataFolder.getFullPathName());
        return nullptr;
    }

    const auto rendered = dataFolder.getChildFile (dataName + AudioTrack::renderedFileSuffix);
    DecodedAudioInfo info;
    result = AudioFileDecoder::decodeToWav (source, rendered, progress->addChild ({ 0.0f, decodeShare }), info);
    if (result.failed())
        return nullptr;
    if (infoOut != nullptr)
        *infoOut = info;

    juce::String error;
    auto audio = WavParsedAudio::open (rendered, error);
    if (audio == nullptr)
    {
        rendered.deleteFile();
        result = juce::Result::fail (error);
        return nullptr;
    }

    AudioTrack::Ptr track = new AudioTrack (source.getFileNameWithoutExtension(), origin);
    result = track->setAudio (std::move (audio), dataFolder, dataName, info.bitsPerSample, rendered);
    if (result.wasOk())
        result = track->generateAsig (progress->addChild ({ decodeShare, 1.0f }));

    if (result.failed())
    {
        track->deleteFiles();
        return nullptr;
    }
    progress->finish();
    return track;
}

} // namespace kalder
