#include "MixerBounce.h"

namespace kalder
{

namespace
{
    /** The wanted bit depth if the format offers it, else the nearest deeper one, else the
        deepest it has. */
    int chooseBitDepth (juce::AudioFormat& format, int wanted)
    {
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

    /** Closes the file, puts it in the target's place and reports the work complete. */
    juce::Result finish (OpenWriter& w, const juce::File& target, Progress& progress)
    {
        w.writer.reset(); // flushes and closes the file
        if (! w.temp->overwriteTargetFileWithTemporary())
            return juce::Result::fail ("Cannot replace " + target.getFullPathName());
        progress.finish();
        return juce::Result::ok();
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
    formats.registerBasicFormats();
    auto* format = formats.findFormatForFileExtension (target.getFileExtension());
    if (format == nullptr)
        return juce::Result::fail ("Cannot write " + target.getFileExtension() + " files: use .wav, .aif, .aiff, .flac or .ogg");

    const auto channels = mixer.getNumOutputChannels();
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
    juce::AudioBuffer<float> block (channels, hop);

    for (int frame = firstFrame; frame < endFrame && ! progress->isCancelled(); ++frame)
    {
        session.renderFrame (frame, block);
        // The part of this block inside the wanted samples: all of it but at the ends.
        const auto blockStart = (juce::int64) frame * hop;
        const auto part = wanted.getIntersectionWith ({ blockStart, blockStart + hop });
        if (auto r = writePart (w, block, (int) (part.getStart() - blockStart), (int) part.getLength(), target); r.failed())
            return r;
        progress->advance();
    }

    return finish (w, target, *progress);
}

juce::Result MixerBounce::exportAllTracks (Mixer& mixer, const juce::File& folder, int bitsPerSample, Progress::Ptr progress)
{
    const auto tracks = mixer.getAllTracks();
    if (tracks.isEmpty())
        return juce::Result::fail ("There are no tracks to export");
    if (progress == nullptr)
        progress = new Progress();

    juce::StringArray used;
    for (int i = 0; i < tracks.size(); ++i)
    {
        auto base = juce::File::createLegalFileName (tracks[i]->getName()).trim();
        if (base.isEmpty())
            base = "Track";
        auto name = base;
        for (int n = 2; used.contains (name, true); ++n)
            name = base + " " + juce::String (n);
        used.add (name);

        auto part = progress->addChild ({ (float) i / (float) tracks.size(), (float) (i + 1) / (float) tracks.size() });
        if (auto r = exportTrack (tracks[i], folder.getChildFile (name + ".wav"), { 0, tracks[i]->getNumBlocks() }, bitsPerSample,
                                  part);
            r.failed())
            return r;
    }
    progress->finish();
    return juce::Result::ok();
}

juce::Result MixerBounce::exportTrack (AudioTrack::Ptr track, const juce::File& target, juce::Range<int> frames, int bits,
                                       Progress::Ptr progress, const juce::StringPairArray& metadata)
{
    if (track == nullptr || ! track->isPlayable())
        return juce::Result::fail ("The track has no audio to export");

    juce::WavAudioFormat wav;
    const auto channels = track->getNumChannels();
    const auto hop = track->getBufferSize();
    const auto range = frames.getIntersectionWith ({ 0, track->getNumBlocks() });

    OpenWriter w;
    if (auto r = openWriter (target, wav, track->getSampleRate(), channels, bits, metadata, w); r.failed())
        return r;

    if (progress == nullptr)
        progress = new Progress();
    progress->setNumSteps (range.getLength());

    TrackRenderer renderer (track, channels);
    juce::AudioBuffer<float> block (channels, hop);
    for (int frame = range.getStart(); frame < range.getEnd(); ++frame)
    {
        if (progress->isCancelled())
            return juce::Result::fail ("Cancelled");
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
