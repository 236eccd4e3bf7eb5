#include "SeparationLauncher.h"

#include "RequestFileWriter.h"
#include "SeparationFinishedJob.h"
#include "appcore/ApplicationTree.h"
#include "appcore/DirectoryManager.h"
#include "appcore/SettingsManager.h"
#include "tracks/Mixer.h"

#include <juce_audio_formats/juce_audio_formats.h>

namespace kalder::separation
{

namespace
{
    constexpr int writeBlock = 1 << 16;

    /** Writes samples [range) of the audio as a lossless file, a block at a time: FLAC
        (16 or 24 bits) or WAV (16, 24 or 32-bit float). */
    juce::Result writeAudio (const ParsedAudio& audio, juce::Range<juce::int64> range, int bits, bool flac,
                             const juce::File& target, const SeparationServiceClient::StopCheck& stop)
    {
        bits = bits <= 16 ? 16 : (bits <= 24 ? 24 : 32);
        flac = flac && bits <= 24;
        juce::FlacAudioFormat flacFormat;
        juce::WavAudioFormat wavFormat;
        juce::AudioFormat& format = flac ? static_cast<juce::AudioFormat&> (flacFormat) : wavFormat;
        auto stream = std::make_unique<juce::FileOutputStream> (target);
        if (stream->failedToOpen())
            return juce::Result::fail ("Cannot write " + target.getFullPathName());
        std::unique_ptr<juce::AudioFormatWriter> writer (
            format.createWriterFor (stream.get(), audio.getSampleRate(), (unsigned int) audio.getNumChannels(), bits, {}, 0));
        if (writer == nullptr)
            return juce::Result::fail ("Cannot encode the audio of the track");
        stream.release();

        juce::AudioBuffer<float> block (audio.getNumChannels(), writeBlock);
        for (auto start = range.getStart(); start < range.getEnd(); start += writeBlock)
        {
            if (stop && stop())
                return juce::Result::fail ("Cancelled");
            const auto n = (int) juce::jmin ((juce::int64) writeBlock, range.getEnd() - start);
            for (int c = 0; c < audio.getNumChannels(); ++c)
                audio.readFrames (c, start, n, block.getWritePointer (c));
            if (! writer->writeFromAudioSampleBuffer (block, 0, n))
                return juce::Result::fail ("Cannot write " + target.getFullPathName() + " (is the disk full?)");
        }
        writer.reset();
        return juce::Result::ok();
    }
} // namespace

juce::String SeparationLauncher::Outcome::getMessage() const
{
    return result.wasOk() ? juce::String() : juce::String (failurePrefix) + result.getErrorMessage();
}

SeparationLauncher::SeparationLauncher (Mixer& m, NetworkManager& n) : mixer (m), network (n) {}

SeparationLauncher::~SeparationLauncher()
{
    stopTimer();
}

SeparationLauncher::Refusal SeparationLauncher::check (const Request& request) const
{
    const auto& track = request.track;
    if (track == nullptr || mixer.getMasterTrack() == nullptr || ! mixer.getAllTracks().contains (track.get()))
        return Refusal::noFileLoaded;
    if (track->isLocked() || track->isBusy())
        return Refusal::trackLocked;
    if (track->hasEdits())
        return Refusal::separatingEditedTrack;
    int waiting = 0;
    for (auto* t : network.getSeparations())
        waiting += t->getStatus() == SeparationTracker::Status::waiting ? 1 : 0;
    if (waiting >= NetworkManager::maxWaiting)
        return Refusal::separationRunning;
    if (request.module == Module::vocals)
    {
        auto settings = request.settings != nullptr ? request.settings
                                                    : SeparationSettings::get (SettingsManager::getInstance(), Module::vocals);
        if (settings->getParameterValues()["mode"].toString() == SeparatorValues::guided && ! track->hasPitchEdits())
            return request.melodyEditorOpen ? Refusal::noPitchGuide : Refusal::noPitchGuideEditorClosed;
    }
    if (! track->isPlayable() || track->getNumSamples() <= 0 || track->getSampleRate() <= 0)
        return Refusal::invalidTrack;
    if (request.module == Module::pan && track->getNumChannels() != 2)
        return Refusal::notStereo;
    return Refusal::none;
}

SeparationLauncher::Refusal SeparationLauncher::start (const Request& request, EndedCallback onEnded, juce::String* failure)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (const auto refusal = check (request); refusal != Refusal::none)
        return refusal;

    auto track = request.track;
    SeparatorSettings::Ptr settings;
    if (request.module != Module::other)
    {
        auto stored = request.settings != nullptr ? request.settings
                                                  : SeparationSettings::get (SettingsManager::getInstance(), request.module);
        settings = stored->makeCopy(); // later changes in the settings do not reach a running separation
    }

    if (workFolder == juce::File())
        workFolder = DirectoryManager::getWorkingSubDir ("separations");
    // A name never used before: a finished job's folder is removed from another thread
    // a little later, and must not take a new job's folder of the same name with it.
    const auto folder = workFolder.getChildFile ("separation-" + juce::Uuid().toString());
    if (! folder.createDirectory())
    {
        if (failure != nullptr)
            *failure = "Cannot create " + folder.getFullPathName();
        return Refusal::invalidTrack;
    }

    SeparationTracker::Ptr tracker = new SeparationTracker (folder.getChildFile ("request.ksrq"), settings);
    tracker->setModule (request.module);
    tracker->setAlgorithm ((int) request.module);
    tracker->setTrack (track.get());
    tracker->getContext() = request.blocks.has_value() ? SeparationContext::forBlocks (*track, *request.blocks)
                                                       : SeparationContext::forWholeTrack (*track);

    if (! track->tryClaimForJob (0.01f))
    {
        folder.deleteRecursively();
        return Refusal::trackLocked;
    }

    // The request is written on the job's thread from the track's content as it is now.
    auto content = track->getContent();
    const auto range = tracker->getContext().getSentSampleRange();
    const auto bits = track->getBitsPerSample();
    const auto module = (int) request.module;
    const auto values = settings != nullptr ? settings->getParameterValues() : juce::NamedValueSet();
    const auto requestFile = tracker->getRequestFile();
    // A guided vocal separation carries the track's melody, one pitch per hop of the audio sent.
    std::vector<float> guide;
    const auto guideStep = track->getGeometry().getHop();
    if (values["mode"].toString() == SeparatorValues::guided)
        guide = track->getPgram().makeGuide (range.getStart(), (int) ((range.getLength() + guideStep - 1) / guideStep), guideStep,
                                             guideStep, track->getnFrames());
    // FLAC halves what goes over a network; to the service on this machine WAV costs nothing to encode.
    const bool compress = ! network.isUsingEmbeddedService() && bits <= 24;
    // The whole track, uncompressed: its own audio file goes as it is.
    const auto ownFile = ! compress && tracker->getContext().isWholeTrack() ? track->getAudioFile() : juce::File();
    auto writer = [content, range, bits, module, values, requestFile, compress, ownFile, guide,
                   guideStep] (const SeparationServiceClient::StopCheck& stop) {
        if (content == nullptr || content->audio == nullptr)
            return juce::Result::fail ("The track has no audio");
        if (ownFile.existsAsFile())
        {
            RequestFileWriter request (module, module);
            if (auto r = request.addParameters (values); r.failed())
                return r;
            if (! guide.empty())
                if (auto r = request.setPitchGuide (guide, guideStep); r.failed())
                    return r;
            if (request.writeWithAudioFile (requestFile, ownFile).wasOk())
                return juce::Result::ok();
            // Not a file the request can carry as it is: encoded below instead.
        }
        const auto audioFile = requestFile.getSiblingFile ("audio").withFileExtension (compress ? "flac" : "wav");
        if (auto r = writeAudio (*content->audio, range, bits, compress, audioFile, stop); r.failed())
            return r;
        RequestFileWriter request (module, module);
        if (auto r = request.addParameters (values); r.failed())
            return r;
        if (! guide.empty())
            if (auto r = request.setPitchGuide (guide, guideStep); r.failed())
                return r;
        auto r = request.writeWithAudioFile (requestFile, audioFile);
        audioFile.deleteFile();
        return r;
    };

    juce::WeakReference<SeparationLauncher> self (this);
    auto ended = [self, track, onEnded] (SeparationTracker::Ptr t, juce::Result result) {
        auto* launcher = self.get();
        if (launcher == nullptr)
        {
            track->separationProgressed (0.0f);
            return;
        }
        if (result.failed())
        {
            launcher->finish ({ t, track, result, {} }, onEnded);
            return;
        }
        track->separationProgressed (0.9f);
        SeparationFinishedJob::start (
            launcher->mixer, t, track,
            [self, t, track, onEnded] (juce::Result imported, juce::ReferenceCountedArray<AudioTrack> children) {
                if (auto* l = self.get())
                    l->finish ({ t, track, imported, children }, onEnded);
                else
                    track->separationProgressed (0.0f);
            },
            launcher->analyseChildren);
    };

    if (auto r = network.separate (tracker, ApiPath::current, writer, ended); r.failed())
    {
        track->separationProgressed (0.0f);
        folder.deleteRecursively();
        if (failure != nullptr)
            *failure = r.getErrorMessage();
        return r.getErrorMessage() == "Too many separations are waiting" ? Refusal::separationRunning : Refusal::invalidTrack;
    }

    track->setSeparationTracker (tracker);
    mixer.getTree().setProperty (MixerIds::separation, track->getName(), nullptr);
    following.add (tracker);
    ApplicationTree::getInstance().enableFlags (ApplicationTree::separationRunning);
    startTimerHz (5);
    return Refusal::none;
}

void SeparationLauncher::finish (Outcome outcome, EndedCallback onEnded)
{
    following.removeObject (outcome.tracker.get());
    // Released however it ended: a failed or cancelled separation never keeps the track busy.
    outcome.track->separationProgressed (0.0f);
    if (outcome.track->getSeparationTracker().get() == outcome.tracker.get())
        outcome.track->setSeparationTracker (nullptr);
    if (following.isEmpty())
    {
        mixer.getTree().setProperty (MixerIds::separation, juce::String(), nullptr);
        ApplicationTree::getInstance().disableFlags (ApplicationTree::separationRunning);
    }
    outcome.tracker->removeFiles();
    if (onEnded != nullptr)
        onEnded (outcome);
    if (onAnyEnded != nullptr)
        onAnyEnded (outcome);
}

void SeparationLauncher::timerCallback()
{
    for (auto* t : following)
        if (auto track = t->getTrack(); track != nullptr && t->getStatus() == SeparationTracker::Status::running)
            track->separationProgressed (juce::jmax (0.01f, 0.9f * t->getOverallProgress()));
    if (following.isEmpty())
        stopTimer();
}

} // namespace kalder::separation
