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

AudioTrack::Ptr TrackLoader::openRenderedFile (const juce::File& rendered, const juce::File& dataFolder, const juce::String& name,
                                               const juce::String& dataName, AudioTrack::OriginId origin, int bitsPerSample,
                                               Progress::Ptr progress, juce::Result& result, Analysis analysis)
{
    juce::String error;
    auto audio = WavParsedAudio::open (rendered, error);
    if (audio == nullptr)
    {
        rendered.deleteFile();
        result = juce::Result::fail (error);
        return nullptr;
    }

    AudioTrack::Ptr track = new AudioTrack (name, origin);
    result = track->setAudio (std::move (audio), dataFolder, dataName, bitsPerSample, rendered);
    if (result.wasOk() && analysis == Analysis::now)
        result = track->generateAsig (progress);

    if (result.failed())
    {
        track->deleteFiles();
        return nullptr;
    }
    return track;
}

AudioTrack::Ptr TrackLoader::openTrack (const juce::File& source, const juce::File& dataFolder, const juce::String& dataName,
                                        AudioTrack::OriginId origin, Progress::Ptr progress, juce::Result& result,
                                        DecodedAudioInfo* infoOut, Analysis analysis)
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
    const auto decoded = analysis == Analysis::now ? decodeShare : 1.0f; // the share of the progress
    result = AudioFileDecoder::decodeToWav (source, rendered, progress->addChild ({ 0.0f, decoded }), info);
    if (result.failed())
        return nullptr;
    if (infoOut != nullptr)
        *infoOut = info;

    auto track = openRenderedFile (rendered, dataFolder, source.getFileNameWithoutExtension(), dataName, origin,
                                   info.bitsPerSample, progress->addChild ({ decoded, 1.0f }), result, analysis);
    if (track == nullptr)
        return nullptr;
    progress->finish();
    return track;
}

} // namespace kalder
