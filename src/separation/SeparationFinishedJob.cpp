#include "SeparationFinishedJob.h"

#include "editing/ManualEditManager.h"
#include "tracks/Mixer.h"
#include "tracks/MixerBounce.h"
#include "tracks/UndoManagerAccessor.h"
#include "tracks/WavParsedAudio.h"

#include <juce_audio_formats/juce_audio_formats.h>

namespace kalder::separation
{

namespace
{
    constexpr int blockSamples = 1 << 16;
    /** The most a mask or vector output may weigh. */
    constexpr juce::int64 maxDataOutputBytes = (juce::int64) 4 << 30;

    juce::String stemOf (const juce::String& outputName)
    {
        return outputName.upToLastOccurrenceOf (".", false, false);
    }

    /** Puts the children back after their track (volume and pan its), or takes them out. */
    class SeparationImportAction : public juce::UndoableAction
    {
    public:
        SeparationImportAction (Mixer& m, AudioTrack::Ptr t, juce::ReferenceCountedArray<AudioTrack> c, bool mute)
            : mixer (&m), track (std::move (t)), children (std::move (c)), muteTrack (mute), wasMuted (track->isMuted())
        {}

        bool perform() override
        {
            auto* m = mixer.get();
            if (m == nullptr || ! m->getAllTracks().contains (track.get()))
                return false;
            auto index = m->getAllTracks().indexOf (track.get());
            for (auto* child : children)
            {
                child->setVolume (track->getVolume());
                child->setPan (0, (float) track->getTree()[TrackIds::panL]);
                child->setPan (1, (float) track->getTree()[TrackIds::panR]);
                m->addTrack (child);
                m->setTrackPosition (child, ++index);
            }
            if (muteTrack)
                track->setMute (true);
            return true;
        }

        bool undo() override
        {
            auto* m = mixer.get();
            if (m == nullptr)
                return false;
            for (auto* child : children)
                m->removeTrack (child);
            if (muteTrack)
                track->setMute (wasMuted);
            return true;
        }

        int getSizeInUnits() override { return 1; }

    private:
        juce::WeakReference<Mixer> mixer;
        AudioTrack::Ptr track;
        juce::ReferenceCountedArray<AudioTrack> children;
        const bool muteTrack, wasMuted;
    };
} // namespace

/** What the job hands to the message thread. Dropped unused, it deletes the children's folders. */
struct SeparationFinishedJob::Result
{
    juce::ReferenceCountedArray<AudioTrack> children;
    juce::Array<juce::File> folders;
    juce::Result outcome = juce::Result::ok();

    ~Result() { discard(); }

    void discard()
    {
        children.clear();
        for (const auto& f : folders)
            f.deleteRecursively();
        folders.clear();
    }
};

juce::String SeparationFinishedJob::getTrackName (Module module, const juce::String& outputName)
{
    const auto stem = stemOf (outputName);
    if (stem.equalsIgnoreCase ("vocals"))
        return "Vocals";
    if (stem.equalsIgnoreCase ("drums"))
        return "Drums";
    if (stem.equalsIgnoreCase ("bass"))
        return "Bass";
    if (stem.equalsIgnoreCase ("other"))
        return "Other";
    if (stem.containsIgnoreCase ("VocalReverb"))
        return "Vocal Reverb";
    if (stem.startsWithIgnoreCase ("source-"))
        return "Source " + stem.fromFirstOccurrenceOf ("-", false, false);
    if (stem.equalsIgnoreCase ("remainder"))
    {
        switch (module)
        {
            case Module::drums:
                return "Pitched"; // everything but the drums
            case Module::vocals:
            case Module::allVocals:
                return "Track"; // the backing track
            default:
                return "Not Separated";
        }
    }
    return stem;
}

juce::uint32 SeparationFinishedJob::getStemColour (const juce::String& outputName)
{
    const auto stem = stemOf (outputName).toLowerCase();
    if (stem == "vocals")
        return 0xffe8a13a;
    if (stem == "drums")
        return 0xff3a8fe8;
    if (stem == "bass")
        return 0xff9b5de5;
    if (stem == "other")
        return 0xff43b581;
    if (stem.contains ("vocalreverb"))
        return 0xfff2c879;
    if (stem.startsWith ("source-"))
    {
        // Left to right, from cool to warm.
        const auto k = stem.fromFirstOccurrenceOf ("-", false, false).getIntValue();
        const auto hue = juce::jlimit (0.0f, 1.0f, 0.55f - 0.09f * (float) (k - 1));
        const float h = hue * 6.0f;
        const int sector = (int) h % 6;
        const float f = h - std::floor (h), v = 0.85f, s = 0.6f;
        const float p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
        float r = v, g = t, b = p;
        switch (sector)
        {
            case 1:
                r = q;
                g = v;
                b = p;
                break;
            case 2:
                r = p;
                g = v;
                b = t;
                break;
            case 3:
                r = p;
                g = q;
                b = v;
                break;
            case 4:
                r = t;
                g = p;
                b = v;
                break;
            case 5:
                r = v;
                g = p;
                b = q;
                break;
            default:
                break;
        }
        auto byte = [] (float x) { return (juce::uint32) juce::jlimit (0, 255, juce::roundToInt (x * 255.0f)); };
        return 0xff000000u | (byte (r) << 16) | (byte (g) << 8) | byte (b);
    }
    return 0xff8a8f98; // what remains
}

bool SeparationFinishedJob::stemsAddUp (const SeparationTracker& tracker)
{
    if (tracker.getModule() != Module::vocals)
        return true;
    auto settings = tracker.getSettings();
    return settings == nullptr || settings->getParameterValues()["backingTrack"].toString() != "Off";
}

//==============================================================================
void SeparationFinishedJob::start (Mixer& mixer, SeparationTracker::Ptr tracker, AudioTrack::Ptr track, DoneCallback onDone,
                                   bool analyseChildren)
{
    JUCE_ASSERT_MESSAGE_THREAD
    auto* job = new SeparationFinishedJob (mixer, std::move (tracker), std::move (track), std::move (onDone));
    job->analyseChildren = analyseChildren;
    mixer.getJobPool().addJob (job, true);
}

SeparationFinishedJob::SeparationFinishedJob (Mixer& m, SeparationTracker::Ptr t, AudioTrack::Ptr tr, DoneCallback done)
    : juce::ThreadPoolJob ("Separation Finished"),
      mixer (&m),
      tracker (std::move (t)),
      track (std::move (tr)),
      onDone (std::move (done))
{
    dataRoot = track->getAudioFile().getParentDirectory().getParentDirectory();
}

SeparationFinishedJob::~SeparationFinishedJob() = default;

void SeparationFinishedJob::progressChanged (float value, Progress::Ptr)
{
    // The import is the last tenth of the separation's progress on the track.
    track->separationProgressed (0.9f + 0.1f * ((float) stemIndex + value) / (float) numStems);
}

juce::Result SeparationFinishedJob::importStem (const juce::String& name, const juce::File& file, Result& result)
{
    const auto& context = tracker->getContext();
    const auto channels = track->getNumChannels();
    const auto rate = track->getSampleRate();
    const auto numSamples = track->getNumSamples();
    const auto keep = context.getSampleRange();
    const auto origin = context.getSentSampleRange().getStart();
    const auto bits = juce::jlimit (16, 32, track->getBitsPerSample() > 0 ? track->getBitsPerSample() : 24);

    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatReader> reader (wav.createReaderFor (new juce::FileInputStream (file), true));
    if (reader == nullptr)
        return juce::Result::fail (name + " from the separation service is not a WAV file");
    if ((int) reader->numChannels != channels || juce::roundToInt (reader->sampleRate) != rate)
        return juce::Result::fail (name + " from the separation service has " + juce::String ((int) reader->numChannels)
                                   + " channels at " + juce::String (reader->sampleRate) + " Hz; the track has "
                                   + juce::String (channels) + " at " + juce::String (rate) + " Hz");

    const auto trackName = getTrackName (tracker->getModule(), name);
    const auto dataName = juce::File::createLegalFileName (trackName).replaceCharacters (" *?", "___");
    const auto folder = dataRoot.getNonexistentChildFile (dataName, {}, false);
    if (! folder.createDirectory())
        return juce::Result::fail ("Cannot create the folder " + folder.getFullPathName());
    result.folders.add (folder);
    const auto rendered = folder.getChildFile (dataName + AudioTrack::renderedFileSuffix);

    // A stem of the whole track that is already in the track's format is taken as it is.
    const bool asItIs = context.isWholeTrack() && reader->lengthInSamples == numSamples && (int) reader->bitsPerSample == bits
                        && reader->usesFloatingPointData == (bits == 32);
    if (asItIs)
    {
        reader.reset();
        if (! file.moveFileTo (rendered))
            return juce::Result::fail ("Cannot write " + rendered.getFullPathName() + " (is the disk full?)");
        progressChanged (1.0f, nullptr);
    }
    else
    {
        juce::TemporaryFile temp (rendered);
        auto stream = std::make_unique<juce::FileOutputStream> (temp.getFile());
        std::unique_ptr<juce::AudioFormatWriter> writer;
        if (! stream->failedToOpen())
            writer.reset (wav.createWriterFor (stream.get(), rate, (unsigned int) channels, bits, {}, 0));
        if (writer == nullptr)
            return juce::Result::fail ("Cannot write in " + folder.getFullPathName());
        stream.release();

        juce::AudioBuffer<float> block (channels, blockSamples);
        for (juce::int64 start = 0; start < numSamples; start += blockSamples)
        {
            if (shouldExit())
                return juce::Result::fail ("Cancelled");
            const auto n = (int) juce::jmin ((juce::int64) blockSamples, numSamples - start);
            block.clear();
            // Track samples [start, start + n) that the stem covers and the range keeps.
            const auto wanted = juce::Range<juce::int64> (start, start + n).getIntersectionWith (keep);
            if (! wanted.isEmpty())
            {
                const auto from = wanted.getStart() - origin; // in the stem
                const auto available = juce::jmax ((juce::int64) 0,
                                                   juce::jmin (wanted.getLength(), reader->lengthInSamples - from));
                if (available > 0)
                    reader->read (&block, (int) (wanted.getStart() - start), (int) available, from, true, true);
            }
            MixerBounce::roundToIntegerGrid (block, 0, n, writer->isFloatingPoint() ? 32 : bits);
            progressChanged ((float) (start + n) / (float) juce::jmax ((juce::int64) 1, numSamples), nullptr);
            if (! writer->writeFromAudioSampleBuffer (block, 0, n))
                return juce::Result::fail ("Cannot write " + rendered.getFullPathName() + " (is the disk full?)");
        }
        writer.reset();
        if (! temp.overwriteTargetFileWithTemporary())
            return juce::Result::fail ("Cannot write " + rendered.getFullPathName() + " (is the disk full?)");
    }

    juce::String error;
    auto parsed = WavParsedAudio::open (rendered, error);
    if (parsed == nullptr)
        return juce::Result::fail (error);
    AudioTrack::Ptr child = new AudioTrack (trackName, AudioTrack::OriginId::separation);
    result.children.add (child);
    // It plays from its audio at once; its store is analysed afterwards, in the background.
    auto r = child->setAudio (std::move (parsed), folder, dataName, bits, rendered);
    if (r.failed())
        return r;
    child->setParentTrack (track.get());
    child->setCustomColour (getStemColour (name));
    return juce::Result::ok();
}

juce::ThreadPoolJob::JobStatus SeparationFinishedJob::runJob()
{
    auto result = std::make_shared<Result>();
    juce::StringArray stems;
    for (const auto& name : tracker->getOutputOrder())
    {
        const auto file = tracker->getOutputFiles()[name];
        if (file.hasFileExtension ("wav"))
            stems.add (name);
        else if (file.getSize() > maxDataOutputBytes)
            result->outcome = juce::Result::fail (name + " from the separation service is too large");
    }
    if (result->outcome.wasOk() && stems.isEmpty())
        result->outcome = juce::Result::fail ("The separation service returned no audio");

    numStems = juce::jmax (1, stems.size());
    for (stemIndex = 0; stemIndex < stems.size() && result->outcome.wasOk(); ++stemIndex)
        result->outcome = importStem (stems[stemIndex], tracker->getOutputFiles()[stems[stemIndex]], *result);

    // The request and the downloads are no longer needed; hundreds of megabytes go here, not on the message thread.
    tracker->removeFiles();

    juce::MessageManager::callAsync (
        [result, weakMixer = mixer, t = tracker, track = track, done = onDone, analyse = analyseChildren] {
            auto* m = weakMixer.get();
            if (result->outcome.wasOk() && (m == nullptr || ! m->getAllTracks().contains (track.get())))
                result->outcome = juce::Result::fail ("The separated track is no longer in the project");
            juce::ReferenceCountedArray<AudioTrack> children;
            if (result->outcome.wasOk())
            {
                const bool mute = t->getContext().isWholeTrack() && stemsAddUp (*t);
                // The separated track's own history, so that Undo on that track takes the separation back
                // in the order of its edits; the application's while the track has no store yet.
                auto& history = track->isStoreReady() ? track->getManualEditManager().getUndoManager()
                                                      : UndoManagerAccessor::getInstance().getApplicationUndoManager();
                history.beginNewTransaction ("Separation");
                if (history.perform (new SeparationImportAction (*m, track, result->children, mute)))
                {
                    if (analyse)
                        for (auto* child : result->children)
                            child->setEditorToDefault(); // starts its analysis when the editor needs one
                    children = result->children;
                    result->children.clear();
                    result->folders.clear(); // the children own them now
                }
                else
                {
                    result->outcome = juce::Result::fail ("The separated tracks could not be added");
                }
            }
            result->discard();
            if (done != nullptr)
                done (result->outcome, children);
        });
    return jobHasFinished;
}

} // namespace kalder::separation
