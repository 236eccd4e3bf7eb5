#include "MixerBounce.h"

namespace kalder
{

namespace
{
    /** The wanted bit depth if the format offers it, else the nearest deeper one, else the
        deepest it has. */
    int chooseBitDepth (juce::AudioFormat& format, int wanted)
    {
        if (wanted <= 0)
            wanted = 32; // unknown: nothing is lost in floats
        const auto depths = format.getPossibleBitDepths();
        if (depths.contains (wanted))
            return wanted;
        int best = 0;
        for (auto d : depths)
            if (d > wanted && (best == 0 || d < best))
                best = d;
        if (best == 0)
            for (auto d : depths)
                best = juce::jmax (best, d);
        return best;
    }

    struct OpenWriter
    {
        std::unique_ptr<juce::TemporaryFile> temp;
        std::unique_ptr<juce::AudioFormatWriter> writer;
    };

    juce::Result openWriter (const juce::File& target, juce::AudioFormat& format, int sampleRate, int channels, int bits,
                             const juce::StringPairArray& metadata, OpenWriter& result)
    {
        if (! target.getParentDirectory().createDirectory())
            return juce::Result::fail ("Cannot create the folder " + target.getParentDirectory().getFullPathName());

        result.temp = std::make_unique<juce::TemporaryFile> (target);
        auto stream = std::make_unique<juce::FileOutputStream> (result.temp->getFile(), 16384);
        if (stream->failedToOpen())
            return juce::Result::fail ("Cannot write to " + target.getParentDirectory().getFullPathName());

        result.writer.reset (format.createWriterFor (stream.get(), sampleRate, (unsigned int) channels,
                                                     chooseBitDepth (format, bits), metadata, 0));
        if (result.writer == nullptr)
            return juce::Result::fail ("Cannot write " + juce::String (channels) + " channels at " + juce::String (sampleRate)
                                       + " Hz as " + format.getFormatName());
        stream.release(); // the writer owns it now
        return juce::Result::ok();
    }

    /** Writes samples [start, start + length) of block, rounded to the file's grid. */
    juce::Result writePart (OpenWriter& w, juce::AudioBuffer<float>& block, int start, int length, const juce::File& target)
    {
        if (! w.writer->isFloatingPoint())
            MixerBounce::roundToIntegerGrid (block, start, length, w.writer->getBitsPerSample());
        if (! w.writer->writeFromAudioSampleBuffer (block, start, length))
            return juce::Result::fail ("Cannot write " + target.getFullPathName() + " (is the disk full?)");
        return juce::Result::ok();
    }

    const juce::String cancelledMessage { "Cancelled" };

    /** The format of a file's extension among the basic formats, or nullptr. */
    juce::AudioFormat* findFormat (juce::AudioFormatManager& formats, const juce::File& target)
    {
        formats.registerBasicFormats();
        return formats.findFormatForFileExtension (target.getFileExtension());
    }

    juce::Result unknownFormat (const juce::File& target)
    {
        return juce::Result::fail ("Cannot write " + target.getFileExtension() + " files: use .wav, .aif, .aiff, .flac or .ogg");
    }

    /** Closes the file, puts it in the target's place and reports the work complete. */
    juce::Result finish (OpenWriter& w, const juce::File& target, Progress& progress)
    {
        w.writer.reset(); // flushes and closes the file
        if (! w.temp->overwriteTargetFileWithTemporary())
            return juce::Result::fail ("Cannot replace " + target.getFullPathName());
        progress.finish();
        return juce::Result::ok();
    }

    /** Writes a track's decoded audio, sample for sample, as WAV at its rate and depth. */
    juce::Result exportUnedited (AudioTrack& track, const juce::File& target, Progress& progress,
                                 const juce::StringPairArray& metadata)
    {
        const auto content = track.getContent();
        if (content->audio == nullptr || ! track.isPlayable())
            return juce::Result::fail ("The track " + track.getName() + " has no audio to export");
        const auto& audio = *content->audio;

        juce::WavAudioFormat wav;
        OpenWriter w;
        if (auto r = openWriter (target, wav, audio.getSampleRate(), audio.getNumChannels(), track.getBitsPerSample(), metadata,
                                 w);
            r.failed())
            return r;

        constexpr int samplesPerStep = 1 << 16;
        const auto total = audio.getNumSamples();
        progress.setNumSteps ((int) juce::jmax ((juce::int64) 1, (total + samplesPerStep - 1) / samplesPerStep));
        juce::AudioBuffer<float> block (audio.getNumChannels(), samplesPerStep);
        for (juce::int64 start = 0; start < total; start += samplesPerStep)
        {
            if (progress.isCancelled())
                return juce::Result::fail (cancelledMessage);
            const auto n = (int) juce::jmin ((juce::int64) samplesPerStep, total - start);
            for (int c = 0; c < audio.getNumChannels(); ++c)
                audio.readFrames (c, start, n, block.getWritePointer (c));
            if (auto r = writePart (w, block, 0, n, target); r.failed())
                return r;
            progress.advance();
        }
        return finish (w, target, progress);
    }
} // namespace

void MixerBounce::roundToIntegerGrid (juce::AudioBuffer<float>& block, int start, int length, int bitsPerSample)
{
    if (bitsPerSample <= 0 || bitsPerSample >= 32)
        return;
    const auto scale = (float) (1 << (bitsPerSample - 1));
    const auto top = (scale - 1.0f) / scale;
    for (int c = 0; c < block.getNumChannels(); ++c)
    {
        auto* d = block.getWritePointer (c, start);
        for (int i = 0; i < length; ++i)
            d[i] = juce::jlimit (-1.0f, top, std::round (d[i] * scale) / scale);
    }
}

juce::File MixerBounce::getOutputFile (const juce::File& target)
{
    return target.getFileExtension().isEmpty() ? target.withFileExtension (".wav") : target;
}

juce::Result MixerBounce::bounceMix (Mixer& mixer, const juce::File& requestedTarget, Progress::Ptr progress,
                                     const juce::StringPairArray& metadata, juce::Range<juce::int64> range)
{
    const auto master = mixer.getMasterTrack();
    if (master == nullptr)
        return juce::Result::fail ("There is no track to bounce");
    if (! master->isPlayable())
        return juce::Result::fail ("The audio of " + master->getName() + " is missing");
    if (! master->isStoreReady())
        return juce::Result::fail (master->getName() + " is still being analysed");

    const auto target = getOutputFile (requestedTarget);
    juce::AudioFormatManager formats;
    auto* format = findFormat (formats, target);
    if (format == nullptr)
        return unknownFormat (target);

    // A centred mono project mixes the same samples on both sides: its bounce is mono.
    const auto channels = mixer.getNumBounceChannels();
    const auto hop = mixer.getFrameLength();
    const auto numFrames = mixer.getNumFrames();
    const auto numSamples = master->getNumSamples();

    OpenWriter w;
    if (auto r = openWriter (target, *format, master->getSampleRate(), channels, master->getBitsPerSample(), metadata, w);
        r.failed())
        return r;

    const auto wanted = range.isEmpty() ? juce::Range<juce::int64> (0, numSamples)
                                        : range.getIntersectionWith ({ 0, numSamples });
    const auto firstFrame = (int) (wanted.getStart() / hop);
    const auto endFrame = juce::jmin (numFrames, (int) ((wanted.getEnd() + hop - 1) / hop));

    if (progress == nullptr)
        progress = new Progress();
    progress->setNumSteps (endFrame - firstFrame);

    Mixer::RenderSession session (mixer, Mixer::RenderSession::Synthesis::summedSpectra);
    juce::AudioBuffer<float> mixed (mixer.getNumOutputChannels(), hop);
    juce::AudioBuffer<float> block (mixed.getArrayOfWritePointers(), channels, hop); // the channels written

    for (int frame = firstFrame; frame < endFrame; ++frame)
    {
        // A cancelled bounce leaves no file: a shortened one would pass for the mix.
        if (progress->isCancelled())
            return juce::Result::fail (cancelledMessage);
        session.renderFrame (frame, mixed);
        // The part of this block inside the wanted samples: all of it but at the ends.
        const auto blockStart = (juce::int64) frame * hop;
        const auto part = wanted.getIntersectionWith ({ blockStart, blockStart + hop });
        if (auto r = writePart (w, block, (int) (part.getStart() - blockStart), (int) part.getLength(), target); r.failed())
            return r;
        progress->advance();
    }

    return finish (w, target, *progress);
}

juce::Array<juce::File> MixerBounce::getExportFiles (const juce::ReferenceCountedArray<AudioTrack>& tracks,
                                                     const juce::File& folder)
{
    juce::Array<juce::File> files;
    for (auto* track : tracks)
    {
        auto base = juce::File::createLegalFileName (track->getName()).trim();
        if (base.isEmpty())
            base = "Track";
        auto file = folder.getChildFile (base + ".wav");
        // Neither a file of an earlier export nor another track's file is replaced.
        for (int n = 2; file.exists() || files.contains (file); ++n)
            file = folder.getChildFile (base + " " + juce::String (n) + ".wav");
        files.add (file);
    }
    return files;
}

juce::Result MixerBounce::exportAllTracks (Mixer& mixer, const juce::File& folder, Progress::Ptr progress,
                                           const juce::StringPairArray& metadata)
{
    const auto tracks = mixer.getAllTracks();
    if (tracks.isEmpty())
        return juce::Result::fail ("There are no tracks to export");
    if (progress == nullptr)
        progress = new Progress();

    const auto files = getExportFiles (tracks, folder);
    for (int i = 0; i < tracks.size(); ++i)
    {
        auto part = progress->addChild ({ (float) i / (float) tracks.size(), (float) (i + 1) / (float) tracks.size() });
        if (auto r = exportUnedited (*tracks[i], files[i], *part, metadata); r.failed())
        {
            for (int k = 0; k < i; ++k)
                files[k].deleteFile();
            return r;
        }
    }
    progress->finish();
    return juce::Result::ok();
}

juce::Result MixerBounce::exportTrack (AudioTrack::Ptr track, const juce::File& requestedTarget, juce::Range<int> frames,
                                       int bits, Progress::Ptr progress, const juce::StringPairArray& metadata)
{
    if (track == nullptr || ! track->isPlayable())
        return juce::Result::fail ("The track has no audio to export");

    const auto target = getOutputFile (requestedTarget);
    juce::AudioFormatManager formats;
    auto* format = findFormat (formats, target);
    if (format == nullptr)
        return unknownFormat (target);

    const auto channels = track->getNumChannels();
    const auto hop = track->getBufferSize();
    const auto range = frames.getIntersectionWith ({ 0, track->getNumBlocks() });

    OpenWriter w;
    if (auto r = openWriter (target, *format, track->getSampleRate(), channels, bits, metadata, w); r.failed())
        return r;

    if (progress == nullptr)
        progress = new Progress();
    progress->setNumSteps (range.getLength());

    TrackRenderer renderer (track, channels);
    juce::AudioBuffer<float> block (channels, hop);
    for (int frame = range.getStart(); frame < range.getEnd(); ++frame)
    {
        if (progress->isCancelled())
            return juce::Result::fail (cancelledMessage);
        renderer.renderRawBlock (frame, block);
        // The last block of the track stops at its last sample.
        const auto n = (int) juce::jmin ((juce::int64) hop, track->getNumSamples() - (juce::int64) frame * hop);
        if (auto r = writePart (w, block, 0, n, target); r.failed())
            return r;
        progress->advance();
    }

    return finish (w, target, *progress);
}

} // namespace kalder
