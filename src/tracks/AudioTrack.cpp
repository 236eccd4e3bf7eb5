#include "AudioTrack.h"

#include "WavParsedAudio.h"

#include "appcore/SettingsManager.h"

#include "editing/ManualEditManager.h"
#include "melody/PitchEditManager.h"
#include "melody/PitchogramHelper.h"

namespace kalder
{

namespace
{
    /** Pan of p (0 = left, 1 = right) by the constant-power law. */
    AudioTrack::PanGains panLaw (float p)
    {
        const auto angle = (double) juce::jlimit (0.0f, 1.0f, p) * juce::MathConstants<double>::halfPi;
        // Snap the rounding residue of cos (pi / 2) to silence: hard pans are hard.
        auto snap = [] (double g) { return (float) (std::abs (g) < 1.0e-9 ? 0.0 : g); };
        return { snap (std::cos (angle)), snap (std::sin (angle)) };
    }

    /** Constant power scaled to unity in the centre, clipped at unity: a mono source in
        the middle plays as it is on both sides. */
    AudioTrack::PanGains monoPanLaw (float p)
    {
        const auto g = panLaw (p);
        constexpr auto root2 = juce::MathConstants<float>::sqrt2;
        // Unity exactly where the rounding of cos and sin falls a step short of it.
        auto scaled = [] (float gain) { return gain * root2 > 1.0f - 1.0e-6f ? 1.0f : gain * root2; };
        return { scaled (g.left), scaled (g.right) };
    }

    /** Rewrites a track's rendered WAV file with samples [silent) set to zero, through a
        temporary file that replaces it only when complete. audio is the file's content. */
    juce::Result rewriteSilenced (const juce::File& rendered, const ParsedAudio& audio, juce::Range<juce::int64> silent)
    {
        juce::WavAudioFormat wav;
        int bits = 32;
        if (std::unique_ptr<juce::AudioFormatReader> header {
                wav.createReaderFor (rendered.createInputStream().release(), true) })
            bits = (int) header->bitsPerSample;

        juce::TemporaryFile temp (rendered);
        auto stream = std::make_unique<juce::FileOutputStream> (temp.getFile());
        if (stream->failedToOpen())
            return juce::Result::fail ("Cannot write to " + rendered.getParentDirectory().getFullPathName());
        std::unique_ptr<juce::AudioFormatWriter> writer (
            wav.createWriterFor (stream.get(), audio.getSampleRate(), (unsigned int) audio.getNumChannels(), bits, {}, 0));
        if (writer == nullptr)
            return juce::Result::fail ("Cannot write " + rendered.getFullPathName());
        stream.release(); // the writer owns it now

        constexpr int samplesPerPass = 1 << 16;
        juce::AudioBuffer<float> buffer (audio.getNumChannels(), samplesPerPass);
        for (juce::int64 start = 0; start < audio.getNumSamples(); start += samplesPerPass)
        {
            const auto n = (int) juce::jmin ((juce::int64) samplesPerPass, audio.getNumSamples() - start);
            for (int c = 0; c < audio.getNumChannels(); ++c)
                audio.readFrames (c, start, n, buffer.getWritePointer (c));
            const auto quiet = silent.getIntersectionWith ({ start, start + n });
            if (! quiet.isEmpty())
                for (int c = 0; c < audio.getNumChannels(); ++c)
                    buffer.clear (c, (int) (quiet.getStart() - start), (int) quiet.getLength());
            if (! writer->writeFromAudioSampleBuffer (buffer, 0, n))
                return juce::Result::fail ("Cannot write " + rendered.getFullPathName() + " (is the disk full?)");
        }

        writer.reset(); // flushes and closes the file
        if (! temp.overwriteTargetFileWithTemporary())
            return juce::Result::fail ("Cannot replace " + rendered.getFullPathName());
        return juce::Result::ok();
    }

    /** A colour of its own for a new track (0xAARRGGBB), the same for the same name. */
    juce::uint32 getDefaultColour (const juce::String& name)
    {
        // Distinct hues, bright enough for the track list's dark rows.
        static const juce::uint32 palette[] = { 0xff4f9dde, 0xffe0883a, 0xff5cbf6a, 0xffd65a78,
                                                0xff9a7ad8, 0xffd6c24a, 0xff4cc3c0, 0xffc77dbb };
        return palette[(size_t) name.hashCode64() % std::size (palette)];
    }

    /** juce::Colour::toString()'s form of an ARGB value. */
    juce::String colourToString (juce::uint32 argb)
    {
        return juce::String::toHexString ((int) argb);
    }

    constexpr int generationStopTimeoutMs = 10000; // the analysis checks at every progress report

    /** Runs f on the message thread: at once when called there, else posted with the
        track held until then. */
    template <typename Fn>
    bool runOnMessageThread (AudioTrack& track, Fn&& f)
    {
        if (juce::MessageManager::existsAndIsCurrentThread())
            return false;
        juce::MessageManager::callAsync ([t = AudioTrack::Ptr (&track), f] { f (*t); });
        return true;
    }
} // namespace

/** One of a track's jobs on its pool ("Generate Spectrogram", "Generate Pitchogram"): runs
    the track's step with a progress that is cancelled when the pool asks the job to stop. */
class AudioTrack::GenerationJob : public juce::ThreadPoolJob, private Progress::Listener
{
public:
    GenerationJob (AudioTrack& t, const juce::String& name, std::function<void (AudioTrack&, Progress::Ptr)> s)
        : juce::ThreadPoolJob (name), track (t), step (std::move (s))
    {}

    JobStatus runJob() override
    {
        Progress::Ptr progress (new Progress());
        progress->addListener (this);
        step (track, progress);
        progress->removeListener (this);
        return jobHasFinished;
    }

private:
    void progressChanged (float, Progress::Ptr source) override
    {
        if (shouldExit())
            source->cancel();
    }

    AudioTrack& track; // the track owns the pool and ends the job before it goes
    std::function<void (AudioTrack&, Progress::Ptr)> step;
};

AudioTrack::AudioTrack (const juce::String& name, OriginId o) : origin (o), tree (TrackIds::track), content (new Content())
{
    tree.setProperty (TrackIds::name, name, nullptr);
    tree.setProperty (TrackIds::volume, 1.0f, nullptr);
    tree.setProperty (TrackIds::panL, 0.0f, nullptr);
    tree.setProperty (TrackIds::panR, 1.0f, nullptr);
    tree.setProperty (TrackIds::solo, false, nullptr);
    tree.setProperty (TrackIds::mute, false, nullptr);
    tree.setProperty (TrackIds::colour, colourToString (getDefaultColour (name)), nullptr);
    tree.setProperty (TrackIds::editor, (int) Editor::Type::none, nullptr);
    tree.setProperty (TrackIds::previewPitchEdits, false, nullptr);
    tree.setProperty (TrackIds::asigProgress, 0.0, nullptr);
    tree.setProperty (TrackIds::pgramProgress, 0.0, nullptr);
    for (const auto* id : { &TrackIds::volume, &TrackIds::panL, &TrackIds::panR, &TrackIds::solo, &TrackIds::mute })
        updateMirrors (*id);
    tree.addListener (this);
}

AudioTrack::~AudioTrack()
{
    generationPool.reset(); // ends a running analysis first
    stopTimer();
    tree.removeListener (this);
    cancelPendingUpdate();
    if (asigProgress != nullptr)
        asigProgress->removeListener (this);
}

double AudioTrack::getLengthInSeconds() const noexcept
{
    return getSampleRate() > 0 ? (double) getNumSamples() / getSampleRate() : 0.0;
}

juce::Result AudioTrack::setAudio (std::unique_ptr<ParsedAudio> newAudio, const juce::File& folder, const juce::String& name,
                                   int bits, const juce::File& rendered)
{
    if (newAudio == nullptr)
        return juce::Result::fail ("No audio");

    auto store = std::make_unique<Asig>();
    if (auto r = store->setAudioFile (*newAudio, folder, name); r.failed())
        return r;

    storeReady = false;
    geometry = store->getGeometry();
    numChannels = newAudio->getNumChannels();
    sampleRate = newAudio->getSampleRate();
    numSamples = newAudio->getNumSamples();
    Content::Ptr c = new Content();
    c->audio = std::move (newAudio);
    c->asig = std::move (store);
    setContent (c);
    ++storeSerial;
    dataFolder = folder;
    dataName = name;
    bitsPerSample = bits;
    renderedFile = rendered;

    // A mono track sits in the centre of a stereo mix.
    if (numChannels.load() == 1)
        tree.setProperty (TrackIds::panL, 0.5f, nullptr);
    updateMirrors (TrackIds::panL); // the pan law depends on the channel count
    ++settingsGeneration;
    return juce::Result::ok();
}

AudioTrack::Content::Ptr AudioTrack::getContent() const
{
    const juce::SpinLock::ScopedLockType sl (contentLock);
    return content;
}

void AudioTrack::setContent (Content::Ptr newContent)
{
    {
        const juce::SpinLock::ScopedLockType sl (contentLock);
        std::swap (content, newContent);
    }
    // The old content is released here, outside the lock (unless a renderer holds it).
}

juce::Result AudioTrack::generateAsig (Progress::Ptr progress)
{
    // Not while silenceFrames() rewrites the audio: the analysis would read the old one.
    const juce::ScopedLock sl (rewriteLock);
    const auto c = getContent();
    auto* asig = c->asig.get();
    if (asig == nullptr || c->audio == nullptr)
        return juce::Result::fail ("The track has no audio");

    struct Analysing
    {
        explicit Analysing (std::atomic<bool>& f) : flag (f) { flag = true; }
        ~Analysing() { flag = false; }
        std::atomic<bool>& flag;
    } analysingNow (analysing);
    if (progress == nullptr)
        progress = new Progress();
    if (asigProgress != nullptr)
        asigProgress->removeListener (this);
    asigProgress = progress;
    asigProgress->addListener (this);

    auto result = asig->readAudio (*c->audio, progress->addChild ({ 0.0f, 1.0f }));
    ++storeSerial; // new data files: an earlier history no longer applies
    storeReady = result.wasOk() && asig->isReady();
    ++settingsGeneration;
    if (result.wasOk())
    {
        progress->finish();
        if (storeReady.load())
        {
            pendingAsigProgress = 1.0f;
            triggerAsyncUpdate();
        }
    }
    return result;
}

juce::Result AudioTrack::setAsig (std::unique_ptr<Asig> newStore)
{
    // An analysis of the store being replaced is of no use any more.
    if (generationPool != nullptr)
        generationPool->removeAllJobs (true, generationStopTimeoutMs);

    const auto old = getContent();
    if (old->audio == nullptr)
        return juce::Result::fail ("The track has no audio");
    if (newStore != nullptr && newStore->isReady()
        && (newStore->getGeometry().nfft != geometry.nfft || newStore->getNumChannels() != getNumChannels()
            || newStore->getNumFrames() != getnFrames()))
    {
        jassertfalse; // a store of other audio
        return juce::Result::fail ("The store does not belong to the audio of " + getName());
    }

    const bool ready = newStore != nullptr && newStore->isReady();
    // The render generation must never return to a value it had: the new store counts
    // its edits from its own start.
    const auto oldEdits = old->asig != nullptr ? old->asig->getEditGeneration() : 0;
    Content::Ptr c = new Content();
    c->audio = old->audio;
    c->asig = std::move (newStore);
    storeReady = false; // renderers that look now play the decoded audio until the swap
    setContent (c);
    storeReady = ready;
    settingsGeneration += oldEdits + 1;
    ++storeSerial;
    if (manualEdits != nullptr)
        replaceManualEdits(); // the old store's history goes with it

    if (ready && (double) tree[TrackIds::asigProgress] < 1.0)
        tree.setProperty (TrackIds::asigProgress, 1.0, nullptr);
    return juce::Result::ok();
}

juce::Result AudioTrack::silenceFrames (juce::Range<int> blocks)
{
    const juce::ScopedLock sl (rewriteLock);
    const auto old = getContent();
    if (old->audio == nullptr || ! renderedFile.existsAsFile())
        return juce::Result::fail ("The audio of " + getName() + " is missing");

    const auto hop = (juce::int64) geometry.getHop();
    const auto silent = juce::Range<juce::int64> ((juce::int64) blocks.getStart() * hop, (juce::int64) blocks.getEnd() * hop)
                            .getIntersectionWith ({ 0, getNumSamples() });
    if (silent.isEmpty())
        return juce::Result::ok();

    if (auto r = rewriteSilenced (renderedFile, *old->audio, silent); r.failed())
        return r;

    juce::String error;
    std::shared_ptr<const ParsedAudio> rewritten = WavParsedAudio::open (renderedFile, error);
    if (rewritten == nullptr)
        return juce::Result::fail (error);

    // The frames that hear the silenced samples: frame f covers blocks f - 3 .. f.
    if (old->asig != nullptr && storeReady.load())
    {
        const juce::Range<int> frames (blocks.getStart(), blocks.getEnd() + FrameGeometry::overlap - 1);
        if (auto r = old->asig->reanalyseFrames (*rewritten, frames); r.failed())
            return r;
    }

    Content::Ptr c = new Content();
    c->audio = std::move (rewritten);
    c->asig = old->asig;
    setContent (c);
    ++settingsGeneration;
    return juce::Result::ok();
}

bool AudioTrack::isPlayable() const
{
    return getContent()->audio != nullptr && renderedFile.existsAsFile();
}

void AudioTrack::setSeparationTracker (RunningSeparation tracker)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (tracker == separationTracker)
        return;
    separationTracker = std::move (tracker);
    if (separationTracker != nullptr)
        listeners.call ([this] (Listener& l) { l.audioTrackSeparationStarted (this, separationTracker); });
}

AudioTrack::RunningSeparation AudioTrack::getSeparationTracker() const
{
    return separationTracker;
}

bool AudioTrack::hasEdits() const
{
    return storeReady.load() && ! getAsig()->getEditedFrameRange().isEmpty();
}

//==============================================================================
void AudioTrack::setVolume (float gain)
{
    JUCE_ASSERT_MESSAGE_THREAD
    tree.setProperty (TrackIds::volume, juce::jmax (0.0f, gain), nullptr);
}

void AudioTrack::setPan (int channel, float pan)
{
    JUCE_ASSERT_MESSAGE_THREAD
    tree.setProperty (channel == 0 ? TrackIds::panL : TrackIds::panR, juce::jlimit (0.0f, 1.0f, pan), nullptr);
}

void AudioTrack::setSolo (bool shouldSolo)
{
    JUCE_ASSERT_MESSAGE_THREAD
    tree.setProperty (TrackIds::solo, shouldSolo, nullptr);
}

void AudioTrack::setMute (bool shouldMute)
{
    JUCE_ASSERT_MESSAGE_THREAD
    tree.setProperty (TrackIds::mute, shouldMute, nullptr);
}

void AudioTrack::flip (bool shouldFlip)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (auto* asig = getAsig())
        asig->setFlip (shouldFlip);
}

AudioTrack::PanGains AudioTrack::getPanGains (int channel) const noexcept
{
    const auto c = juce::jlimit (0, 1, channel);
    return { panGains[c][0].load(), panGains[c][1].load() };
}

juce::uint64 AudioTrack::getRenderGeneration() const noexcept
{
    const auto* asig = getAsig();
    // The lines' changes count too: a track previewing its melody plays them.
    return settingsGeneration.load() + (asig != nullptr ? asig->getEditGeneration() : 0) + pgram.getChangeCount();
}

void AudioTrack::updateMirrors (const juce::Identifier& property)
{
    if (property == TrackIds::volume)
        volume = (float) tree[TrackIds::volume];
    else if (property == TrackIds::solo)
        soloed = (bool) tree[TrackIds::solo];
    else if (property == TrackIds::mute)
        muted = (bool) tree[TrackIds::mute];
    else if (property == TrackIds::previewPitchEdits)
        previewingPitch = (bool) tree[TrackIds::previewPitchEdits];
    else if (property == TrackIds::panL || (property == TrackIds::panR && getNumChannels() != 1))
    {
        // A mono track has only the first channel's pair: its second pan changes nothing.
        const auto channel = property == TrackIds::panL ? 0 : 1;
        const auto gains = getNumChannels() == 1 ? monoPanLaw ((float) tree[property]) : panLaw ((float) tree[property]);
        panGains[channel][0] = gains.left;
        panGains[channel][1] = gains.right;
    }
    else
        return;

    ++settingsGeneration;
}

void AudioTrack::valueTreePropertyChanged (juce::ValueTree&, const juce::Identifier& property)
{
    updateMirrors (property);
}

void AudioTrack::progressChanged (float value, Progress::Ptr)
{
    // "TrackAsigProgress" 1 says the store is ready: the analysis reports its end a
    // moment before generateAsig() has marked the store so, and publishes 1 itself.
    constexpr float lastReportBeforeReady = 0.999f;
    pendingAsigProgress = juce::jmin (value, lastReportBeforeReady);
    triggerAsyncUpdate();
}

namespace
{
    constexpr int meterIntervalMs = 50;
    // Ticks a fresh peak is held before it decays.
    constexpr int peakHoldTicks = 4;
    // Decay per tick once held, and where the meter stops.
    constexpr float peakDecay = 0.2f;
    constexpr float silentPeak = 0.001f;
    constexpr int ticksBeforeStopping = -11;
} // namespace

void AudioTrack::updatePeaks (const juce::AudioBuffer<float>& block) noexcept
{
    std::array<float, maxMeteredChannels> measured {};
    const auto channels = juce::jmin (maxMeteredChannels, block.getNumChannels());
    for (int c = 0; c < channels; ++c)
        measured[(size_t) c] = block.getMagnitude (c, 0, block.getNumSamples());
    updatePeaks (measured.data(), channels);
}

void AudioTrack::updatePeaks (const float* channelPeaks, int numChannels) noexcept
{
    const auto channels = juce::jlimit (0, maxMeteredChannels, numChannels);
    for (int c = 0; c < channels; ++c)
        peaks[(size_t) c] = juce::jmax (peaks[(size_t) c].load(), channelPeaks[c]);
    numPeaks = channels;
    peakCountdown = peakHoldTicks;
    if (! meterRunning.exchange (true))
        triggerAsyncUpdate();
}

std::vector<float> AudioTrack::getLastPeak() const
{
    std::vector<float> result ((size_t) numPeaks.load());
    for (size_t c = 0; c < result.size(); ++c)
        result[c] = peaks[c].load();
    return result;
}

void AudioTrack::timerCallback()
{
    if (peakCountdown-- > 0)
        return;

    float loudest = 0.0f;
    for (int c = 0; c < numPeaks.load(); ++c)
    {
        peaks[(size_t) c] = peaks[(size_t) c].load() * peakDecay;
        loudest = juce::jmax (loudest, peaks[(size_t) c].load());
    }

    if (loudest < silentPeak && peakCountdown.load() <= ticksBeforeStopping)
    {
        numPeaks = 0;
        for (auto& p : peaks)
            p = 0.0f;
        stopTimer();
        meterRunning = false;
    }
}

void AudioTrack::handleAsyncUpdate()
{
    if (meterRunning.load() && ! isTimerRunning())
        startTimer (meterIntervalMs);

    // Taken once: a later update (the meters') must not write an old report again.
    const auto value = (double) pendingAsigProgress.exchange (-1.0f);
    if (value >= 0.0 && (double) tree[TrackIds::asigProgress] != value)
        tree.setProperty (TrackIds::asigProgress, value, nullptr);
    const auto pitch = (double) pendingPgramProgress.exchange (-1.0f);
    if (pitch >= 0.0 && (double) tree[TrackIds::pgramProgress] != pitch)
        tree.setProperty (TrackIds::pgramProgress, pitch, nullptr);
}

void AudioTrack::separationProgressed (float progress)
{
    progress = juce::jlimit (0.0f, 1.0f, progress);
    separationProgress = progress;

    auto notify = [progress] (AudioTrack& track) {
        track.listeners.call ([&track, progress] (Listener& l) { l.audioTrackSeparationProgressed (progress, &track); });
    };
    if (juce::MessageManager::existsAndIsCurrentThread())
        notify (*this);
    else
        juce::MessageManager::callAsync ([self = Ptr (this), notify] { notify (*self); });
}

bool AudioTrack::tryClaimForJob (float progress) noexcept
{
    jassert (progress > 0.0f);
    float idle = 0.0f;
    return separationProgress.compare_exchange_strong (idle, juce::jlimit (0.0f, 1.0f, progress));
}

juce::String AudioTrack::cleanName (const juce::String& typed)
{
    // Line breaks and tabs become spaces: a name is one line wherever it is shown.
    auto name = typed.replaceCharacters ("\r\n\t", "   ").trim();
    return name.substring (0, maxNameLength).trimEnd();
}

bool AudioTrack::rename (const juce::String& newName)
{
    const auto name = cleanName (newName);
    if (name.isEmpty())
        return false;
    tree.setProperty (TrackIds::name, name, nullptr);
    return true;
}

bool AudioTrack::isDescendantOf (const AudioTrack* ancestor) const noexcept
{
    for (auto* t = parentTrack; t != nullptr; t = t->getParentTrack())
        if (t == ancestor)
            return true;
    return false;
}

//=======================================================================
void AudioTrack::setCustomColour (juce::uint32 argb)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (runOnMessageThread (*this, [argb] (AudioTrack& t) { t.setCustomColour (argb); }))
        return;
    tree.setProperty (TrackIds::colour, colourToString (argb), nullptr);
}

juce::uint32 AudioTrack::getCustomColour() const
{
    return (juce::uint32) tree[TrackIds::colour].toString().getHexValue64();
}

void AudioTrack::setEditor (Editor::Type type)
{
    if (runOnMessageThread (*this, [type] (AudioTrack& t) { t.setEditor (type); }))
        return;
    if (type == Editor::Type::spectral)
        startStoreGeneration();
    tree.setProperty (TrackIds::editor, (int) type, nullptr);
    if (type == Editor::Type::melody)
        updatePitchogram();
}

void AudioTrack::setEditorToDefault()
{
    if (runOnMessageThread (*this, [] (AudioTrack& t) { t.setEditorToDefault(); }))
        return;
    // The setting's choice number is the editor's number.
    const auto choice = SettingsIds::getDefaultEditorChoices().indexOf (SettingsManager::getInstance().getDefaultEditor());
    setEditor (Editor::toType (choice));
}

void AudioTrack::becameActive (bool isNowActive)
{
    JUCE_ASSERT_MESSAGE_THREAD
    active = isNowActive;
    if (isNowActive && getEditor() == Editor::Type::spectral)
        startStoreGeneration();
    if (isNowActive && getEditor() == Editor::Type::melody)
        updatePitchogram();
}

bool AudioTrack::isPoolRunning (const juce::String& jobName) const
{
    return generationPool != nullptr && generationPool->getNamesOfAllJobs (false).contains (jobName);
}

void AudioTrack::updatePitchogram()
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (getContent()->audio == nullptr || isPoolRunning (pitchogramJobName))
        return;
    const auto view = pgram.getView();
    auto* asig = getAsig();
    if (view != nullptr && asig != nullptr && isStoreReady() && pgramStore.load() == storeSerial.load()
        && view->getNumColumns() == asig->getNumFrames() && view->getStoreGeneration() == asig->getEditGeneration())
        return;
    startStoreGeneration(); // queued first: the pitchogram reads the analysed store
    if (generationPool == nullptr)
        generationPool = std::make_unique<juce::ThreadPool> (1);
    generationPool->addJob (
        new GenerationJob (*this, pitchogramJobName, [] (AudioTrack& t, Progress::Ptr p) { t.generatePitchogram (p); }), true);
}

void AudioTrack::generatePitchogram (Progress::Ptr progress)
{
    const auto c = getContent();
    if (c->asig == nullptr || ! isStoreReady())
        return;
    // A view of another store (a new analysis, a snapshot) counts its edits differently.
    const auto serial = storeSerial.load();
    auto previous = pgram.getView();
    if (previous != nullptr && (previous->getNumColumns() != c->asig->getNumFrames() || pgramStore.load() != serial))
        previous = nullptr;
    const auto first = previous == nullptr; // an update of the edited frames shows no progress
    struct Reporter : Progress::Listener
    {
        explicit Reporter (AudioTrack& t) : track (t) {}
        void progressChanged (float value, Progress::Ptr) override
        {
            track.pendingPgramProgress = juce::jmin (value, 0.999f);
            track.triggerAsyncUpdate();
        }
        AudioTrack& track;
    } reporter (*this);
    if (progress == nullptr)
        progress = new Progress();
    if (first)
        progress->addListener (&reporter);
    auto view = PitchogramHelper::generatePitchogramMatrix (*c->asig, progress, std::move (previous));
    progress->removeListener (&reporter);
    if (view == nullptr)
        return; // cancelled: the old picture stays
    pgram.setViewMatrix (std::move (view));
    pgramStore = serial;
    pendingPgramProgress = 1.0f;
    triggerAsyncUpdate();
}

void AudioTrack::setAnalysisFocus (int frame) noexcept
{
    if (auto c = getContent(); c->asig != nullptr)
        c->asig->setAnalysisFocus (frame);
}

void AudioTrack::startStoreGeneration()
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (isStoreReady() || analysing.load() || getContent()->audio == nullptr)
        return;
    tree.removeProperty (TrackIds::asigError, nullptr);
    if (generationPool == nullptr)
        generationPool = std::make_unique<juce::ThreadPool> (1);
    if (! isPoolRunning (spectrogramJobName))
        generationPool->addJob (
            new GenerationJob (*this, spectrogramJobName,
                               [] (AudioTrack& t, Progress::Ptr p) {
                                   const auto result = t.generateAsig (p);
                                   if (result.failed() && ! p->isCancelled())
                                       juce::MessageManager::callAsync ([self = Ptr (&t), message = result.getErrorMessage()] {
                                           self->getTree().setProperty (TrackIds::asigError, message, nullptr);
                                       });
                               }),
            true);
}

ManualEditManager& AudioTrack::getManualEditManager()
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (manualEdits == nullptr || manualEditsStore != storeSerial.load())
        replaceManualEdits();
    return *manualEdits;
}

void AudioTrack::replaceManualEdits()
{
    manualEditsStore = storeSerial.load();
    auto next = std::make_unique<ManualEditManager> (getContent()->asig);
    next->setTrackStateCheck ([this] {
        // A separation or a freeze reads the masks while it runs.
        if (isLocked() || isBusy())
            return ManualEditManager::TrackState::busy;
        return isStoreReady() ? ManualEditManager::TrackState::editable : ManualEditManager::TrackState::analysing;
    });
    if (manualEdits != nullptr)
        manualEdits->copyListenersTo (*next);
    manualEdits = std::move (next); // the old store's history goes here
}

PitchEditManager& AudioTrack::getPitchEditManager()
{
    JUCE_ASSERT_MESSAGE_THREAD
    auto& spectral = getManualEditManager();
    if (pitchEdits == nullptr || pitchEditsHistoryOwner != &spectral)
    {
        pitchEdits = std::make_unique<PitchEditManager> (pgram, spectral.getUndoManager());
        pitchEditsHistoryOwner = &spectral;
    }
    return *pitchEdits;
}

EditResult AudioTrack::resetManualEdits()
{
    return getManualEditManager().resetEdits();
}

void AudioTrack::deleteFiles()
{
    if (auto* asig = getAsig())
    {
        for (const auto& f : asig->getDataFiles())
            f.deleteFile();
    }
    renderedFile.deleteFile();
}

} // namespace kalder
