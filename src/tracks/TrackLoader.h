#pragma once

#include "AudioTrack.h"
#include "DecodedAudioInfo.h"

namespace kalder
{

/**
    Opens an audio file as a track: decodes it into the track's rendered audio file
    (<dataName>-thumbnail.wav in the data folder, at the source's rate and bit depth),
    maps that file as the track's audio and analyses it into the track's store.

    Progress: decoding takes the first fifth, the analysis the rest; cancelling stops
    either and leaves no files.

    Threading: any thread but the message thread for real files; the track is not
    shared until it is returned.
*/
struct TrackLoader
{
    /** Whether a track is opened with its store analysed, or playable at once from its
        audio with the analysis left to the track (AudioTrack::startStoreGeneration()). */
    enum class Analysis
    {
        now,
        later
    };

    /** Opens a rendered audio file that is already in place (a WAV in dataFolder named
        <dataName>-thumbnail.wav) as a new track. */
    static AudioTrack::Ptr openRenderedFile (const juce::File& rendered, const juce::File& dataFolder, const juce::String& name,
                                             const juce::String& dataName, AudioTrack::OriginId origin, int bitsPerSample,
                                             Progress::Ptr progress, juce::Result& result, Analysis analysis = Analysis::now);

    static AudioTrack::Ptr openTrack (const juce::File& source, const juce::File& dataFolder, const juce::String& dataName,
                                      AudioTrack::OriginId origin, Progress::Ptr progress, juce::Result& result,
                                      DecodedAudioInfo* info = nullptr, Analysis analysis = Analysis::now);
};

} // namespace kalder
