#include "ManualSeparationJob.h"
#include "Mixer.h"
#include "MixerBounce.h"
#include "WavParsedAudio.h"

#include "signal/OverlapAddSynthesiser.h"

namespace kalder
{

namespace
{
    using Kind = ManualSeparationJob::Kind;

    // Blocks rendered and written at a time.
    constexpr int blocksPerPass = 64;
    // Frames read from the store at a time, for every channel at once.
    constexpr int framesPerRead = 32;
    // Frames of the mask rewritten at a time when a selection leaves its track.
    constexpr int framesPerMaskWrite = 256;
    // The part of the work that rendering takes; the new tracks' analyses share the rest.
    constexpr float renderShare = 0.4f;
    // Where the track's progress stands when the work is done, before the hand-over.
    constexpr float lastBusyProgress = 0.95f;

    // The switches of Asig::readFrames(), named.

    juce::Result cancelled()
    {
        return juce::Result::fail ("Cancelled");
    }

    /** One new track while its audio is written. */
    struct Output
    {
        juce::String name, dataName;
        AudioTrack::OriginId origin;
        bool copiesSource = false; // outside the rendered blocks: the track's audio, else silence
        juce::File folder, rendered;
        std::unique_ptr<juce::TemporaryFile> temp;
        std::unique_ptr<juce::AudioFormatWriter> writer;
        std::vector<std::unique_ptr<OverlapAddSynthesiser>> synthesisers; // one per channel
        juce::AudioBuffer<float> pass;
    };

    /** The spectra of the new tracks, read from the store a few frames at a time for every
        channel: what playback hears and the rest (a freeze), or the selected share (a move). */
    class OutputSpectra
    {
    public:
        OutputSpectra (Asig& a, Kind k, bool flip) : asig (a), kind (k), flipped (flip)
        {
            const auto outputs = kind == Kind::freezeEdits ? 2 : 1;
            spectra.resize ((size_t) outputs, std::vector<CspecMatrix> ((size_t) asig.getNumChannels()));
        }

        /** Frame f of an output's channel: nFreqs values, bin 0 first. */
        const std::complex<float>* get (int output, int channel, int frame)
        {
            if (! loaded.contains (frame))
                load (frame);
            return spectra[(size_t) output][(size_t) channel].col (frame - loaded.getStart()).data();
        }

    private:
        void load (int first)
        {
            const auto nFreqs = asig.getNumFreqs();
            loaded = juce::Range<int> (first, first + framesPerRead).getIntersectionWith ({ 0, asig.getNumFrames() });
            const auto length = loaded.getLength();
            auto fits = [&] (const auto& m) { return m.rows() == nFreqs && m.cols() == length; };

            const auto selection = kind == Kind::moveSelection ? asig.getSelection (loaded) : MaskMatrix();
            for (int c = 0; c < asig.getNumChannels(); ++c)
            {
                if (kind == Kind::freezeEdits)
                {
                    auto heard = asig.readFrames (c, loaded, maskUse(), Asig::SelectionGain::applied);
                    auto rest = asig.readFrames (c, loaded, Asig::MaskUse::none, Asig::SelectionGain::none);
                    if (! fits (heard) || ! fits (rest))
                        heard = rest = CspecMatrix::Zero (nFreqs, length);
                    // The rest is taken from the very frames that were heard: the two add up
                    // to the unedited frames whatever gains playback applies.
                    rest -= heard;
                    spectra[0][(size_t) c] = std::move (heard);
                    spectra[1][(size_t) c] = std::move (rest);
                }
                else
                {
                    auto masked = asig.readFrames (c, loaded, maskUse(), Asig::SelectionGain::none);
                    if (! fits (masked) || ! fits (selection))
                        masked = CspecMatrix::Zero (nFreqs, length);
                    else
                        masked.array() *= selection.cast<std::complex<float>>().array();
                    spectra[0][(size_t) c] = std::move (masked);
                }
            }
        }

        Asig& asig;
        const Kind kind;
        const bool flipped;

        Asig::MaskUse maskUse() const noexcept { return flipped ? Asig::MaskUse::flippedMask : Asig::MaskUse::mask; }
        juce::Range<int> loaded;
        std::vector<std::vector<CspecMatrix>> spectra; // [output][channel], nFreqs x loaded
    };

    /** Message thread: what the track plays over frames loses its selected share (the mask
        becomes mask * (1 - selection), or the same through a flipped mask). */
    juce::Result keepUnselectedShare (Asig& asig, juce::Range<int> frames)
    {
        const auto nFreqs = asig.getNumFreqs();
        const bool flipped = asig.isFlipped();
        auto* manager = asig.getMemoryManager();
        for (auto start = frames.getStart(); start < frames.getEnd(); start += framesPerMaskWrite)
        {
            const juce::Range<int> r (start, juce::jmin (frames.getEnd(), start + framesPerMaskWrite));
            const auto selection = asig.getSelection (r);
            if (selection.rows() != nFreqs || selection.cols() != r.getLength() || selection.maxCoeff() <= 0.0f)
                continue;
            const MaskMatrix unselected = (1.0f - selection.array()).matrix();

            for (int c = 0; c < asig.getNumChannels(); ++c)
            {
                const auto mask = manager->getMaskFrames (c, r);
                if (mask.rows() != nFreqs || mask.cols() != r.getLength())
                    return juce::Result::fail ("Cannot read the mask");
                // Playback hears the mask (or 1 - mask when flipped); it keeps the unselected share.
                const MaskMatrix kept = flipped ? MaskMatrix (1.0f - (1.0f - mask.array()) * unselected.array())
                                                : MaskMatrix (mask.cwiseProduct (unselected));
                if (! asig.setMask (c, { 0, nFreqs }, r, kept))
                    return juce::Result::fail ("Cannot write the mask (is the disk full?)");
            }
        }
        return juce::Result::ok();
    }

    /** Message thread: puts tracks right after track, in order, with its volume and pan. */
    void insertAfter (Mixer& mixer, AudioTrack& track, const juce::ReferenceCountedArray<AudioTrack>& tracks)
    {
        auto index = mixer.getAllTracks().indexOf (&track);
        for (auto* t : tracks)
        {
            t->setVolume (track.getVolume());
            t->setPan (0, (float) track.getTree()[TrackIds::panL]);
            t->setPan (1, (float) track.getTree()[TrackIds::panR]);
            mixer.addTrack (t);
            mixer.setTrackPosition (t, ++index);
        }
    }
} // namespace

//==============================================================================
/** What a job hands to the message thread. Until the result is committed it owns the
    track's claim and the new tracks' folders: dropped unused (a failure, or a message
    loop that never delivered it), it frees the track and deletes the folders. */
struct ManualSeparationJob::Handover
{
    explicit Handover (AudioTrack::Ptr t) : track (std::move (t)) {}

    ~Handover()
    {
        discard();
        releaseClaim();
    }

    void discard()
    {
        newTracks.clear(); // unmaps the files before they go
        for (const auto& folder : folders)
            folder.deleteRecursively();
        folders.clear();
    }

    void releaseClaim()
    {
        if (ownsClaim)
            track->separationProgressed (0.0f);
        ownsClaim = false;
    }

    AudioTrack::Ptr track;
    bool ownsClaim = true;
    juce::Result result = juce::Result::ok();
    AudioTrack::Content::Ptr content;
    juce::uint64 editGeneration = 0;
    juce::Range<int> frames;
    juce::ReferenceCountedArray<AudioTrack> newTracks;
    juce::Array<juce::File> folders;
};

namespace
{
    /** The reason the job's result no longer fits the project, if any. */
    juce::Result checkCurrent (Mixer* mixer, const AudioTrack& track, const AudioTrack::Content* content,
                               juce::uint64 editGeneration, const Progress* progress)
    {
        if (progress != nullptr && progress->isCancelled())
            return cancelled();
        if (mixer == nullptr)
            return juce::Result::fail ("The project was closed");
        if (! mixer->getAllTracks().contains (&track))
            return juce::Result::fail (track.getName() + " is no longer in the project");
        const auto now = track.getContent();
        if (now.get() != content || now->asig == nullptr || now->asig->getEditGeneration() != editGeneration)
            return juce::Result::fail (track.getName() + " changed while its edits were being frozen: nothing was changed");
        return juce::Result::ok();
    }
} // namespace

//==============================================================================
ManualSeparationJob::Refusal ManualSeparationJob::start (Mixer& mixer, AudioTrack::Ptr track, Options options)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (track == nullptr || ! mixer.getAllTracks().contains (track.get()))
        return Refusal::nothingToFreeze;
    if (track->isBusy() || track->isLocked())
        return Refusal::trackLocked;

    auto* asig = track->getAsig();
    if (! track->isStoreReady() || asig == nullptr)
        return Refusal::nothingToFreeze;
    const auto kind = asig->hasSelection() ? Kind::moveSelection : Kind::freezeEdits;
    if (kind == Kind::freezeEdits && ! track->hasEdits())
        return Refusal::nothingToFreeze;

    // Claimed in one step: a job that claimed it since the check above wins.
    if (! track->tryClaimForJob (startProgress))
        return Refusal::trackLocked;

    mixer.getJobPool().addJob (new ManualSeparationJob (mixer, track, kind, std::move (options)), true);
    return Refusal::none;
}

ManualSeparationJob::ManualSeparationJob (Mixer& m, AudioTrack::Ptr t, Kind k, Options o)
    : juce::ThreadPoolJob ("Manual separation thread"),
      mixer (&m),
      track (std::move (t)),
      trackName (track->getName()),
      kind (k),
      options (std::move (o)),
      work (new Progress())
{
    if (options.dataRoot == juce::File())
        options.dataRoot = track->getAudioFile().getParentDirectory().getParentDirectory();
    work->addListener (this);
}

ManualSeparationJob::~ManualSeparationJob()
{
    // Removed from the pool before it ran: the track is freed and the caller told.
    if (! handedOver)
    {
        auto handover = std::make_unique<Handover> (track);
        handover->result = cancelled();
        handOver (std::move (handover));
    }
}

bool ManualSeparationJob::isStopping() const
{
    return shouldExit() || work->isCancelled() || (options.progress != nullptr && options.progress->isCancelled());
}

void ManualSeparationJob::progressChanged (float value, Progress::Ptr source)
{
    if (source == analysis)
    {
        work->setProgress (analysisRange.getStart() + value * analysisRange.getLength());
        if (isStopping())
            analysis->cancel();
        return;
    }

    track->separationProgressed (startProgress + (lastBusyProgress - startProgress) * value);
    if (options.progress != nullptr)
    {
        const auto range = options.progress->getRange();
        options.progress->setProgress (range.getStart() + value * range.getLength());
    }
    if (isStopping())
        work->cancel();
}

juce::ThreadPoolJob::JobStatus ManualSeparationJob::runJob()
{
    auto handover = std::make_unique<Handover> (track);
    handover->content = track->getContent();
    handover->result = isStopping() ? cancelled() : render (*handover);
    handOver (std::move (handover));
    return jobHasFinished;
}

juce::Result ManualSeparationJob::render (Handover& h)
{
    auto* asig = h.content->asig.get();
    if (asig == nullptr || h.content->audio == nullptr || ! asig->isReady() || ! track->isStoreReady())
        return juce::Result::fail (trackName + " is not analysed yet");
    const auto& audio = *h.content->audio;

    h.editGeneration = asig->getEditGeneration();
    const bool flipped = asig->isFlipped();
    h.frames = kind == Kind::freezeEdits ? asig->getEditedFrameRange() : asig->getSelectedFrameRange();
    if (h.frames.isEmpty())
        return juce::Result::fail (kind == Kind::freezeEdits ? nothingToFreezeMessage : "The selection is empty");

    const auto hop = asig->getGeometry().getHop();
    const auto channels = audio.getNumChannels();
    const auto numSamples = audio.getNumSamples();
    const auto numBlocks = track->getNumBlocks();
    const auto bits = track->getBitsPerSample() > 0 ? track->getBitsPerSample() : 32;
    // Frame f is heard in blocks f - 3 .. f.
    const auto blocks = juce::Range<int> (h.frames.getStart() - (FrameGeometry::overlap - 1), h.frames.getEnd())
                            .getIntersectionWith ({ 0, numBlocks });

    std::vector<Output> outputs ((size_t) (kind == Kind::freezeEdits ? 2 : 1));
    if (kind == Kind::freezeEdits)
    {
        // Unedited frames play as they are, or not at all through a flipped mask.
        outputs[0].name = trackName + " Frozen";
        outputs[0].copiesSource = ! flipped;
        outputs[1].name = complementName;
        outputs[1].copiesSource = flipped;
        outputs[0].origin = outputs[1].origin = AudioTrack::OriginId::freeze;
    }
    else
    {
        outputs[0].name = trackName + " Selection";
        outputs[0].origin = AudioTrack::OriginId::selection;
    }

    juce::WavAudioFormat wav;
    for (auto& out : outputs)
    {
        out.dataName = juce::File::createLegalFileName (out.name).replaceCharacters (" *?", "___");
        out.folder = options.dataRoot.getNonexistentChildFile (out.dataName, {}, false);
        if (! out.folder.createDirectory())
            return juce::Result::fail ("Cannot create the folder " + out.folder.getFullPathName());
        h.folders.add (out.folder);

        out.rendered = out.folder.getChildFile (out.dataName + AudioTrack::renderedFileSuffix);
        out.temp = std::make_unique<juce::TemporaryFile> (out.rendered);
        auto stream = std::make_unique<juce::FileOutputStream> (out.temp->getFile());
        if (! stream->failedToOpen())
            out.writer.reset (wav.createWriterFor (stream.get(), audio.getSampleRate(), (unsigned int) channels, bits, {}, 0));
        if (out.writer == nullptr)
            return juce::Result::fail ("Cannot write in " + out.folder.getFullPathName());
        stream.release(); // the writer owns it now

        for (int c = 0; c < channels; ++c)
            out.synthesisers.push_back (std::make_unique<OverlapAddSynthesiser> (asig->getGeometry().nfft));
        out.pass.setSize (channels, blocksPerPass * hop);
    }

    OutputSpectra spectra (*asig, kind, flipped);
    std::vector<float> discarded ((size_t) hop);
    // The three frames before the first rendered block's last one only fill the overlap.
    for (auto f = blocks.getStart(); f < blocks.getStart() + FrameGeometry::overlap - 1; ++f)
        for (size_t o = 0; o < outputs.size(); ++o)
            for (int c = 0; c < channels; ++c)
                outputs[o].synthesisers[(size_t) c]->pushFrame (spectra.get ((int) o, c, f), discarded.data());

    auto rendering = work->addChild ({ 0.0f, renderShare });
    rendering->setNumSteps ((numBlocks + blocksPerPass - 1) / blocksPerPass);
    for (int first = 0; first < numBlocks; first += blocksPerPass)
    {
        if (isStopping())
            return cancelled();

        const auto passBlocks = juce::Range<int> (first, juce::jmin (numBlocks, first + blocksPerPass));
        const auto firstSample = (juce::int64) first * hop;
        const auto n = (int) (juce::jmin (numSamples, (juce::int64) passBlocks.getEnd() * hop) - firstSample);

        for (auto& out : outputs)
        {
            out.pass.clear();
            if (out.copiesSource)
                for (int c = 0; c < channels; ++c)
                    audio.readFrames (c, firstSample, n, out.pass.getWritePointer (c));
        }

        const auto rendered = passBlocks.getIntersectionWith (blocks);
        for (auto b = rendered.getStart(); b < rendered.getEnd(); ++b)
            for (size_t o = 0; o < outputs.size(); ++o)
                for (int c = 0; c < channels; ++c)
                    outputs[o].synthesisers[(size_t) c]->pushFrame (spectra.get ((int) o, c, b + FrameGeometry::overlap - 1),
                                                                    outputs[o].pass.getWritePointer (c, (b - first) * hop));

        for (auto& out : outputs)
        {
            MixerBounce::roundToIntegerGrid (out.pass, 0, n, out.writer->isFloatingPoint() ? 32 : bits);
            if (! out.writer->writeFromAudioSampleBuffer (out.pass, 0, n))
                return juce::Result::fail ("Cannot write " + out.rendered.getFullPathName() + " (is the disk full?)");
        }
        rendering->advance();
    }

    for (auto& out : outputs)
    {
        out.writer.reset(); // flushes and closes the file
        if (! out.temp->overwriteTargetFileWithTemporary())
            return juce::Result::fail ("Cannot write " + out.rendered.getFullPathName());
    }

    const auto analysisShare = (1.0f - renderShare) / (float) outputs.size();
    for (size_t i = 0; i < outputs.size(); ++i)
    {
        const auto& out = outputs[i];
        juce::String error;
        auto parsed = WavParsedAudio::open (out.rendered, error);
        if (parsed == nullptr)
            return juce::Result::fail (error);

        AudioTrack::Ptr t = new AudioTrack (out.name, out.origin);
        h.newTracks.add (t);
        auto r = t->setAudio (std::move (parsed), out.folder, out.dataName, bits, out.rendered);
        if (r.wasOk())
        {
            // A root of its own, which the track follows too ("TrackAsigProgress").
            analysis = new Progress();
            analysisRange = { renderShare + analysisShare * (float) i, renderShare + analysisShare * (float) (i + 1) };
            analysis->addListener (this);
            r = t->generateAsig (analysis);
            analysis->removeListener (this);
            analysis = nullptr;
        }
        if (r.failed())
            return isStopping() ? cancelled() : r;
        t->setParentTrack (track.get());
    }
    if (isStopping())
        return cancelled();
    work->finish();
    return juce::Result::ok();
}

void ManualSeparationJob::handOver (std::unique_ptr<Handover> handover)
{
    handedOver = true;
    work->removeListener (this);

    std::shared_ptr<Handover> h (std::move (handover));
    auto commit = [h, kind = kind, weakMixer = mixer, progress = options.progress, onDone = options.onDone] {
        auto& track = *h->track;
        Outcome outcome { h->track, kind, h->result, {} };
        if (outcome.result.wasOk())
            outcome.result = checkCurrent (weakMixer.get(), track, h->content.get(), h->editGeneration, progress.get());

        if (outcome.result.wasOk())
        {
            auto& m = *weakMixer.get();
            auto* asig = track.getAsig();
            if (kind == Kind::freezeEdits)
            {
                const bool wasActive = m.getActiveTrack() == h->track;
                insertAfter (m, track, h->newTracks);
                // Its two parts play in its place from now on.
                asig->resetMaskAndSelection();
                asig->setFlip (false);
                h->track->setMute (true);
                if (wasActive)
                    m.setActiveTrack (h->newTracks.getFirst());
            }
            else
            {
                // The new track goes in even when the mask cannot be written: the selected
                // sound then plays twice rather than not at all, and the user is told.
                outcome.result = keepUnselectedShare (*asig, h->frames);
                if (outcome.result.wasOk())
                    asig->clearSelection();
                else
                    outcome.result = juce::Result::fail ("The selection was copied to " + h->newTracks[0]->getName()
                                                         + ", but it could not be taken out of " + track.getName() + ": "
                                                         + outcome.result.getErrorMessage());
                insertAfter (m, track, h->newTracks);
            }
            outcome.newTracks = h->newTracks;
            h->newTracks.clear();
            h->folders.clear(); // they belong to the new tracks now
        }
        else
        {
            h->discard();
        }

        h->releaseClaim();
        if (onDone)
            onDone (outcome);
    };

    // Without a message loop the hand-over is dropped, and the hand-over frees the track.
    juce::MessageManager::callAsync (std::move (commit));
}

} // namespace kalder
