#include "TrackMerger.h"
#include "MixerBounce.h"
#include "TrackLoader.h"

namespace kalder
{

namespace
{
    // Samples read, summed and written at a time.
    constexpr int mergeBlockSize = 65536;

    /** Merges on the mixer's job pool, then swaps the tracks on the message thread. */
    class MergeJob : public juce::ThreadPoolJob
    {
    public:
        MergeJob (Mixer& m, juce::ReferenceCountedArray<AudioTrack> t, juce::String n, juce::File f,
                  std::function<void (AudioTrack::Ptr, juce::Result)> done)
            : juce::ThreadPoolJob ("Merge tracks"),
              mixer (&m),
              tracks (std::move (t)),
              name (std::move (n)),
              folder (std::move (f)),
              onDone (std::move (done))
        {}

        JobStatus runJob() override
        {
            auto result = juce::Result::ok();
            auto merged = TrackMerger::mergeAudio (tracks, name, folder, nullptr, result);
            if (merged != nullptr)
                merged->setParentTrack (tracks.getFirst()->getParentTrack());

            juce::MessageManager::callAsync ([weakMixer = mixer, tracks = tracks, merged, result, onDone = onDone] {
                if (auto* m = weakMixer.get(); m != nullptr && merged != nullptr)
                    m->replaceTracks (tracks, merged);
                if (onDone)
                    onDone (merged, result);
            });
            return jobHasFinished;
        }

    private:
        juce::WeakReference<Mixer> mixer;
        juce::ReferenceCountedArray<AudioTrack> tracks;
        juce::String name;
        juce::File folder;
        std::function<void (AudioTrack::Ptr, juce::Result)> onDone;
    };
} // namespace

std::optional<AlertManager::ErrorType> TrackMerger::checkRules (const Mixer& mixer,
                                                                const juce::ReferenceCountedArray<AudioTrack>& tracks)
{
    using E = AlertManager::ErrorType;
    if (tracks.size() < 2)
        return E::InvalidTrack;

    const auto target = tracks.getFirst();
    const auto master = mixer.getMasterTrack();
    for (int i = 1; i < tracks.size(); ++i)
        if (tracks[i] == target)
            return E::MergeWithItself;
    for (int i = 1; i < tracks.size(); ++i)
        if (tracks[i] == master)
            return E::MergeMaster;
    for (auto* t : tracks)
        if (t->isLocked())
            return E::MergeLockedTrack;
    for (int i = 1; i < tracks.size(); ++i)
        if (target->isDescendantOf (tracks[i].get()))
            return E::MergeIntoDescendant;
    if (! target->isStoreReady())
        return E::TargetNotGenerated;
    for (int i = 1; i < tracks.size(); ++i)
        if (tracks[i]->hasEdits())
            return E::MergeSourceUncommitted;
    if (target->hasEdits())
        return E::MergeTargetUncommitted;
    return std::nullopt;
}

AudioTrack::Ptr TrackMerger::mergeAudio (const juce::ReferenceCountedArray<AudioTrack>& tracks, const juce::String& name,
                                         const juce::File& dataFolder, Progress::Ptr progress, juce::Result& result)
{
    if (tracks.isEmpty())
    {
        result = juce::Result::fail ("Nothing to merge");
        return nullptr;
    }
    if (progress == nullptr)
        progress = new Progress();

    const auto target = tracks.getFirst();
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();

    std::vector<std::unique_ptr<juce::AudioFormatReader>> readers;
    juce::int64 length = 0;
    for (auto* t : tracks)
    {
        readers.emplace_back (formats.createReaderFor (t->getAudioFile()));
        if (readers.back() == nullptr)
        {
            result = juce::Result::fail ("The audio of " + t->getName() + " is missing");
            return nullptr;
        }
        if ((int) readers.back()->sampleRate != target->getSampleRate())
        {
            result = juce::Result::fail ("Tracks of different sample rates cannot be merged");
            return nullptr;
        }
        length = juce::jmax (length, readers.back()->lengthInSamples);
    }

    if (! dataFolder.createDirectory())
    {
        result = juce::Result::fail ("Cannot create the folder " + dataFolder.getFullPathName());
        return nullptr;
    }

    const auto dataName = juce::File::createLegalFileName (name).replaceCharacters (" *?", "___");
    const auto rendered = dataFolder.getChildFile (dataName + AudioTrack::renderedFileSuffix);
    const auto channels = juce::jmax (1, target->getNumChannels());
    const auto bits = target->getBitsPerSample() > 0 ? target->getBitsPerSample() : 32;
    {
        juce::TemporaryFile temp (rendered);
        auto stream = std::make_unique<juce::FileOutputStream> (temp.getFile());
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatWriter> writer (
            stream->failedToOpen()
                ? nullptr
                : wav.createWriterFor (stream.get(), target->getSampleRate(), (unsigned int) channels, bits, {}, 0));
        if (writer == nullptr)
        {
            result = juce::Result::fail ("Cannot write the merged audio in " + dataFolder.getFullPathName());
            return nullptr;
        }
        stream.release();

        progress->setNumSteps ((int) ((length + mergeBlockSize - 1) / mergeBlockSize));
        juce::AudioBuffer<float> sum (channels, mergeBlockSize), part (juce::jmax (channels, 8), mergeBlockSize);
        for (juce::int64 start = 0; start < length; start += mergeBlockSize)
        {
            const auto n = (int) juce::jmin ((juce::int64) mergeBlockSize, length - start);
            sum.clear();
            for (auto& reader : readers)
            {
                const auto readerChannels = (int) reader->numChannels;
                part.clear();
                reader->read (&part, 0, n, start, true, readerChannels > 1);
                // A track with fewer channels spreads its last channel over the rest.
                for (int c = 0; c < channels; ++c)
                    sum.addFrom (c, 0, part, juce::jmin (c, readerChannels - 1), 0, n);
            }
            MixerBounce::roundToIntegerGrid (sum, 0, n, writer->isFloatingPoint() ? 32 : bits);
            if (! writer->writeFromAudioSampleBuffer (sum, 0, n))
            {
                result = juce::Result::fail ("Cannot write the merged audio (is the disk full?)");
                return nullptr;
            }
            progress->advance();
        }
        writer.reset();
        if (! temp.overwriteTargetFileWithTemporary())
        {
            result = juce::Result::fail ("Cannot write " + rendered.getFullPathName());
            return nullptr;
        }
    }

    return TrackLoader::openRenderedFile (rendered, dataFolder, name, dataName, AudioTrack::OriginId::merge, bits, nullptr,
                                          result);
}

juce::Result TrackMerger::checkTracks (const juce::ReferenceCountedArray<AudioTrack>& tracks)
{
    for (auto* t : tracks)
        if (t->getSampleRate() != tracks.getFirst()->getSampleRate())
            return juce::Result::fail ("Tracks of different sample rates cannot be merged (" + juce::String (t->getSampleRate())
                                       + " Hz into " + juce::String (tracks.getFirst()->getSampleRate()) + " Hz).");
    for (auto* t : tracks)
        if (t->isBusy())
            return juce::Result::fail ("A separation or a freeze is still working on " + t->getName()
                                       + ". Merge it when that has finished.");
    return juce::Result::ok();
}

std::optional<AlertManager::ErrorType> TrackMerger::startMerge (Mixer& mixer,
                                                                const juce::ReferenceCountedArray<AudioTrack>& tracks,
                                                                const juce::String& name, const juce::File& dataFolder,
                                                                AlertManager* alerts,
                                                                std::function<void (AudioTrack::Ptr, juce::Result)> onDone)
{
    if (const auto refusal = checkRules (mixer, tracks))
    {
        if (alerts != nullptr)
            alerts->showPopupErrorMessage (*refusal);
        return refusal;
    }
    mixer.getJobPool().addJob (new MergeJob (mixer, tracks, name, dataFolder, std::move (onDone)), true);
    return std::nullopt;
}

} // namespace kalder
