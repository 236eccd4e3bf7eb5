#include "Mixer.h"

#include "appcore/ApplicationTree.h"
#include "appcore/CommandIDs.h"

namespace kalder
{

namespace
{
    // The pre-render thread rests this long when the ring is full and current.
    constexpr int idleWaitMs = 1;
    constexpr int threadStopTimeoutMs = 5000;
    // How often heard blocks hand their tracks' peaks to the meters.
    constexpr int peakPublishingHz = 30;
    // Ticks a peak is held once blocks stop coming, and its fall per tick after that.
    constexpr int peakHoldTicks = 4;
    constexpr float peakDecay = 0.2f;

    /** The spectral editor's test: an analysed store with a selection or an edited mask
        in some chunk. */
    bool showsSpectralEdits (AudioTrack& track)
    {
        auto* asig = track.getAsig();
        return asig != nullptr && track.isStoreReady() && (double) track.getTree()[TrackIds::asigProgress] >= 1.0
               && (asig->hasSelection() || ! asig->getEditedFrameRange().isEmpty());
    }
} // namespace

/** Keeps the ring of blocks after the play position mixed with the current settings. */
class Mixer::PreRenderThread : public juce::Thread
{
public:
    explicit PreRenderThread (Mixer& m) : juce::Thread ("Audio Frame Rendering"), mixer (m), session (m)
    {
        session.deferTrackMeters = true;
    }

    void run() override
    {
        while (! threadShouldExit())
        {
            if (! renderNextStaleBlock())
                wait (idleWaitMs);
        }
    }

private:
    /** Mixes the nearest block ahead of the play position whose slot is missing or stale;
        false when there was nothing to do. */
    bool renderNextStaleBlock()
    {
        const auto state = mixer.getState();
        const auto generation = mixer.computeGeneration (*state);
        if (generation != seenGeneration)
            keepBlocksNoEditReached (*state, generation);
        mixer.publishedGeneration = generation;

        const auto total = mixer.getNumFrames();
        if (state->master == nullptr || total <= 0)
            return false;

        // The blocks a jump is about to play first, then the next blocks in play order;
        // with a short loop they may repeat.
        std::array<int, ringSize> window;
        int count = 0;
        auto addFrom = [&] (int first, int limit) {
            const auto begin = count;
            auto frame = juce::jlimit (0, total, first);
            for (int step = 0; step < ringSize && count < limit && frame < total;
                 ++step, frame = mixer.getNextFrameInPlayOrder (frame))
            {
                if (std::find (window.begin() + begin, window.begin() + count, frame) != window.begin() + count)
                    break; // a short loop came round
                if (std::find (window.begin(), window.begin() + begin, frame) == window.begin() + begin)
                    window[(size_t) count++] = frame;
            }
        };
        if (const auto jump = mixer.primeFrame.load(); jump >= 0)
            addFrom (jump, primeBlocks);
        addFrom (mixer.wantedFrame.load(), ringSize);

        for (int k = 0; k < count; ++k)
        {
            const auto frame = window[(size_t) k];
            auto index = mixer.findSlot (frame);
            if (index >= 0 && mixer.ring[(size_t) index].generation.load() == generation)
                continue;

            // A stale copy of this block is replaced; otherwise a slot holding no block of
            // the window is taken.
            if (index < 0)
            {
                for (int i = 0; i < ringSize && index < 0; ++i)
                {
                    const auto held = mixer.ring[(size_t) i].frame.load();
                    if (std::find (window.begin(), window.begin() + count, held) == window.begin() + count)
                        index = i;
                }
            }
            if (index < 0)
                continue;

            auto& slot = mixer.ring[(size_t) index];
            int expected = slot.status.load();
            if (expected == Slot::writing || expected == Slot::reading
                || ! slot.status.compare_exchange_strong (expected, Slot::writing))
                continue;

            slot.frame = -1;
            mixer.mix (session, *state, frame, slot.buffer);
            mixer.storeTrackPeaks (slot, session);
            slot.generation = generation;
            slot.frame = frame;
            slot.status = Slot::ready;
            ++mixer.blocksMixedAhead;
            return true;
        }
        return false;
    }

    /** What each track's sound depended on when the ring was last current. */
    struct SeenTrack
    {
        AudioTrack* track;
        const Asig* asig;
        juce::uint64 settings, edits;
        bool storeReady;
    };

    /** When the generation moved only because stores were edited, relabels the blocks
        mixed under the last generation that no edited frame reaches as current, so that
        only the edited part of the ring is mixed again. Any other change leaves every
        block stale. */
    void keepBlocksNoEditReached (const State& state, juce::uint64 generation)
    {
        std::vector<SeenTrack> now;
        now.reserve ((size_t) state.tracks.size() + 1);
        auto note = [&] (AudioTrack* t) {
            const auto content = t->getContent();
            const auto* asig = content->asig.get();
            now.push_back (
                { t, asig, t->getSettingsGeneration(), asig != nullptr ? asig->getEditGeneration() : 0, t->isStoreReady() });
        };
        for (auto* t : state.tracks)
            note (t);
        if (state.master != nullptr && ! state.tracks.contains (state.master.get()))
            note (state.master.get());

        bool onlyEdits = state.listGeneration == seenListGeneration && mixer.settingsGeneration.load() == seenMixerSettings
                         && now.size() == seen.size();
        juce::Range<int> edited;
        for (size_t i = 0; onlyEdits && i < now.size(); ++i)
        {
            const auto& a = seen[i];
            const auto& b = now[i];
            onlyEdits = a.track == b.track && a.asig == b.asig && a.settings == b.settings && a.storeReady == b.storeReady;
            if (onlyEdits && a.edits != b.edits && b.asig != nullptr)
            {
                const auto frames = b.asig->getFramesEditedSince (a.edits);
                edited = edited.isEmpty() ? frames : edited.getUnionWith (frames);
            }
        }

        if (onlyEdits)
        {
            // Block b is made of frames b .. b + overlap - 1.
            const auto first = edited.isEmpty() ? 0 : (juce::int64) edited.getStart() - (FrameGeometry::overlap - 1);
            const juce::Range<juce::int64> reached (first, edited.getEnd());
            for (auto& slot : mixer.ring)
            {
                int expected = Slot::ready;
                if (slot.generation.load() != seenGeneration || ! slot.status.compare_exchange_strong (expected, Slot::writing))
                    continue;
                if (edited.isEmpty() || ! reached.contains ((juce::int64) slot.frame.load()))
                    slot.generation = generation;
                slot.status = Slot::ready;
            }
        }

        seen = std::move (now);
        seenGeneration = generation;
        seenListGeneration = state.listGeneration;
        seenMixerSettings = mixer.settingsGeneration.load();
    }

    Mixer& mixer;
    RenderSession session;
    std::vector<SeenTrack> seen;
    juce::uint64 seenGeneration = 0, seenListGeneration = 0, seenMixerSettings = 0;
};

//==============================================================================
Mixer::RenderSession::RenderSession (Mixer& m, Synthesis how) : mixer (m), synthesis (how) {}

void Mixer::RenderSession::renderFrame (int frame, juce::AudioBuffer<float>& out)
{
    const auto state = mixer.getState();
    const auto channels = mixer.getNumOutputChannels();
    if (out.getNumChannels() >= channels)
    {
        mixer.mix (*this, *state, frame, out);
        mixer.updatePeaks (out);
        return;
    }
    // Fewer channels than the mix (a mono bounce of a centred mono project): its first ones.
    if (narrowed.getNumChannels() != channels || narrowed.getNumSamples() != mixer.getFrameLength())
        narrowed.setSize (channels, juce::jmax (1, mixer.getFrameLength()));
    mixer.mix (*this, *state, frame, narrowed);
    mixer.updatePeaks (narrowed);
    for (int c = 0; c < out.getNumChannels(); ++c)
        out.copyFrom (c, 0, narrowed, c, 0, juce::jmin (out.getNumSamples(), narrowed.getNumSamples()));
}

//==============================================================================
Mixer::Mixer() : tree (MixerIds::mixer), state (new State())
{
    tree.setProperty (MixerIds::volume, 1.0f, nullptr);
    tree.addListener (this);
    preRenderer = std::make_unique<PreRenderThread> (*this);
    preRenderer->startThread();
    if (juce::MessageManager::getInstanceWithoutCreating() != nullptr)
        startTimerHz (peakPublishingHz);
}

Mixer::~Mixer()
{
    stopTimer();
    cancelPendingUpdate();
    if (flagsTrack != nullptr)
        flagsTrack->getTree().removeListener (this);
    jobPool.removeAllJobs (true, threadStopTimeoutMs);
    preRenderer->stopThread (threadStopTimeoutMs);
    tree.removeListener (this);
}

Mixer::State::Ptr Mixer::getState() const
{
    const juce::SpinLock::ScopedLockType sl (stateLock);
    return state;
}

void Mixer::publish (State::Ptr newState)
{
    newState->listGeneration = getState()->listGeneration + 1;
    {
        const juce::SpinLock::ScopedLockType sl (stateLock);
        std::swap (state, newState);
    }
    followActiveTrack (*newState); // newState is the previous state now
    listeners.call ([] (Listener& l) { l.trackListChanged(); });
}

void Mixer::followActiveTrack (const State& previous)
{
    JUCE_ASSERT_MESSAGE_THREAD
    const auto now = getState();
    if (previous.active != now->active)
    {
        if (previous.active != nullptr)
            previous.active->becameActive (false);
        if (now->active != nullptr)
            now->active->becameActive (true);
    }

    // The flags follow the active track, or the master when none is active.
    const auto track = now->active != nullptr ? now->active : now->master;
    if (track != flagsTrack)
    {
        if (flagsTrack != nullptr)
            flagsTrack->getTree().removeListener (this);
        flagsTrack = track;
        if (flagsTrack != nullptr)
            flagsTrack->getTree().addListener (this);
    }
    triggerAsyncUpdate();
}

void Mixer::resetRing()
{
    const auto channels = juce::jmax (1, numOutputs.load());
    const auto hop = juce::jmax (1, frameLength.load());
    for (auto& slot : ring)
    {
        // Take the slot from whoever holds it: the audio thread reads for a moment only,
        // the pre-render thread mixes one block.
        for (;;)
        {
            int expected = slot.status.load();
            if (expected != Slot::writing && expected != Slot::reading
                && slot.status.compare_exchange_strong (expected, Slot::writing))
                break;
            std::this_thread::yield();
        }
        slot.buffer.setSize (channels, hop);
        slot.buffer.clear();
        slot.frame = -1;
        slot.status = Slot::empty;
    }
}

//==============================================================================
void Mixer::setMasterTrack (AudioTrack::Ptr track)
{
    JUCE_ASSERT_MESSAGE_THREAD
    State::Ptr s = new State();
    s->master = track;
    s->active = track;
    if (track != nullptr)
        s->tracks.add (track);

    // The old mix stops before the geometry changes under it.
    numFrames = 0;
    publish (s);

    // A mono project plays in stereo: its tracks' pan is heard.
    numOutputs = track != nullptr ? juce::jmax (2, track->getNumChannels()) : 0;
    frameLength = track != nullptr ? track->getBufferSize() : 0;
    sampleRate = track != nullptr ? track->getSampleRate() : 0;
    for (auto& p : peaks)
        p = 0.0f;
    resetRing();
    wantedFrame = 0;
    numFrames = track != nullptr ? track->getNumBlocks() : 0;

    ApplicationTree::getInstance().updateFlags (ApplicationTree::projectOpen,
                                                track != nullptr ? ApplicationTree::projectOpen : 0);
}

AudioTrack::Ptr Mixer::getMasterTrack() const
{
    return getState()->master;
}

void Mixer::addTrack (AudioTrack::Ptr track)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (track == nullptr)
        return;
    State::Ptr s = new State (*getState());
    s->tracks.addIfNotAlreadyThere (track);
    publish (s);
}

void Mixer::removeTrack (AudioTrack::Ptr track)
{
    JUCE_ASSERT_MESSAGE_THREAD
    State::Ptr s = new State (*getState());
    if (! s->tracks.contains (track.get()))
        return;
    s->tracks.removeObject (track);
    if (s->active == track)
        s->active = s->master;
    adoptChildren (*s, *track, track->getParentTrack());
    publish (s);
}

void Mixer::replaceTracks (const juce::ReferenceCountedArray<AudioTrack>& removed, AudioTrack::Ptr added)
{
    JUCE_ASSERT_MESSAGE_THREAD
    State::Ptr s = new State (*getState());
    auto index = s->tracks.size();
    for (auto* t : removed)
        index = juce::jmin (index, juce::jmax (0, s->tracks.indexOf (t)));
    for (auto* t : removed)
    {
        s->tracks.removeObject (t);
        if (s->active.get() == t)
            s->active = added != nullptr ? added : s->master;
    }
    if (added != nullptr)
        s->tracks.insert (juce::jmin (index, s->tracks.size()), added);
    // The children of a replaced track now descend from what replaced it.
    for (auto* t : removed)
        adoptChildren (*s, *t, added != nullptr ? added.get() : t->getParentTrack());
    publish (s);
}

void Mixer::adoptChildren (State& s, const AudioTrack& removed, AudioTrack* newParent)
{
    // A track's parent is a plain pointer: none may be left pointing at a track the
    // list no longer keeps alive.
    while (newParent != nullptr && ! s.tracks.contains (newParent))
        newParent = newParent->getParentTrack();
    for (auto* t : s.tracks)
        if (t->getParentTrack() == &removed)
            t->setParentTrack (newParent != t ? newParent : nullptr);
}

void Mixer::setTrackPosition (AudioTrack::Ptr track, int index)
{
    JUCE_ASSERT_MESSAGE_THREAD
    State::Ptr s = new State (*getState());
    const auto from = s->tracks.indexOf (track);
    if (from < 0)
        return;
    s->tracks.move (from, juce::jlimit (0, s->tracks.size() - 1, index));
    publish (s);
}

juce::ReferenceCountedArray<AudioTrack> Mixer::inTreeOrder (const juce::ReferenceCountedArray<AudioTrack>& tracks)
{
    juce::ReferenceCountedArray<AudioTrack> order;
    // A track whose parent is not in the list is a root.
    std::function<void (AudioTrack*)> addWithChildren = [&] (AudioTrack* t) {
        if (order.contains (t)) // a loop of parents would otherwise never end
            return;
        order.add (t);
        for (auto* child : tracks)
            if (child->getParentTrack() == t)
                addWithChildren (child);
    };
    for (auto* t : tracks)
        if (! tracks.contains (t->getParentTrack()))
            addWithChildren (t);
    for (auto* t : tracks) // tracks caught in a loop of parents still show
        if (! order.contains (t))
            order.add (t);
    return order;
}

juce::ReferenceCountedArray<AudioTrack> Mixer::getAllTracks() const
{
    return getState()->tracks;
}

AudioTrack::Ptr Mixer::getTrack (const juce::String& name) const
{
    for (auto* t : getState()->tracks)
        if (t->getName() == name)
            return t;
    return nullptr;
}

void Mixer::unsoloAllTracks()
{
    JUCE_ASSERT_MESSAGE_THREAD
    for (auto* t : getState()->tracks)
        t->setSolo (false);
}

void Mixer::setActiveTrack (AudioTrack::Ptr track)
{
    JUCE_ASSERT_MESSAGE_THREAD
    State::Ptr s = new State (*getState());
    s->active = track;
    publish (s);
}

AudioTrack::Ptr Mixer::getActiveTrack() const
{
    return getState()->active;
}

void Mixer::setMasterGain (float gain)
{
    JUCE_ASSERT_MESSAGE_THREAD
    tree.setProperty (MixerIds::volume, juce::jmax (0.0f, gain), nullptr);
}

void Mixer::valueTreePropertyChanged (juce::ValueTree& changed, const juce::Identifier& property)
{
    if (changed != tree)
    {
        // The tree of the track the editor flags follow.
        if (property == TrackIds::editor || property == TrackIds::asigProgress)
            triggerAsyncUpdate();
        return;
    }
    if (property == MixerIds::volume)
    {
        masterGain = (float) tree[MixerIds::volume];
        ++settingsGeneration;
    }
}

void Mixer::timerCallback()
{
    publishTrackPeaks();
    // The mixer's meter falls once playback (or a bounce) stops feeding it. A block
    // mixed meanwhile on another thread may be scaled once: a meter, not a measurement.
    if (peakHoldCountdown.load() > 0)
        --peakHoldCountdown;
    else
        for (auto& p : peaks)
            p = p.load() * peakDecay;

    // Edits of the store come with no notification: its edit generation tells.
    if (auto* asig = flagsTrack != nullptr ? flagsTrack->getAsig() : nullptr)
        if (asig->getEditGeneration() != flagsEditGeneration)
            triggerAsyncUpdate();
}

void Mixer::handleAsyncUpdate()
{
    updateEditorFlags();
}

void Mixer::updateEditorFlags()
{
    JUCE_ASSERT_MESSAGE_THREAD
    int flags = 0;
    if (flagsTrack != nullptr)
    {
        auto* asig = flagsTrack->getAsig();
        flagsEditGeneration = asig != nullptr ? asig->getEditGeneration() : 0;
        switch (flagsTrack->getEditor())
        {
            case Editor::Type::melody:
                flags = flagsTrack->hasPitchEdits() ? ApplicationTree::pitchEdits : 0;
                break;
            case Editor::Type::spectral:
                flags = showsSpectralEdits (*flagsTrack) ? ApplicationTree::spectralEdits : 0;
                break;
            case Editor::Type::none:
                break;
        }
    }
    ApplicationTree::getInstance().updateFlags (ApplicationTree::pitchEdits | ApplicationTree::spectralEdits, flags);

    // A track with a selection or spectral edits cannot switch to the melody editor, nor
    // one with pitch edits to the spectral editor. Set every time, not only on a change
    // of the flags, so that a refilled registry comes back right.
    auto& commands = CommandIDs::getInstance();
    const auto hasTrack = flagsTrack != nullptr;
    commands.enableCommand (Command::showMelodyEditor, hasTrack && (flags & ApplicationTree::spectralEdits) == 0);
    commands.enableCommand (Command::showSpectrogramEditor, hasTrack && (flags & ApplicationTree::pitchEdits) == 0);
}

//==============================================================================
int Mixer::getNumBounceChannels() const
{
    const auto s = getState();
    if (s->master == nullptr || s->master->getNumChannels() != 1)
        return getNumOutputChannels();
    // A bounce may ask from any thread: the pan's atomic mirror, not the tree. A centred
    // mono track plays at the same gain on both sides.
    for (auto* t : s->tracks)
        if (const auto pan = t->getPanGains (0); t->getNumChannels() != 1 || pan.left != pan.right)
            return getNumOutputChannels();
    return 1;
}

juce::uint64 Mixer::computeGeneration (const State& s) const
{
    // Every part only grows while the list stays the same, and a new list (which also
    // comes with a change of the active track) raises the high half: the result never
    // comes back to an earlier value, even when a track with a high count leaves.
    constexpr int listShift = 32;
    auto generation = (s.listGeneration << listShift) + settingsGeneration.load();
    for (auto* t : s.tracks)
        generation += t->getRenderGeneration();
    if (! s.tracks.contains (s.master.get()) && s.master != nullptr)
        generation += s.master->getRenderGeneration();
    return generation;
}

void Mixer::mix (RenderSession& session, const State& s, int frame, juce::AudioBuffer<float>& out)
{
    const auto channels = getNumOutputChannels();
    const auto hop = getFrameLength();
    out.clear();
    if (s.master == nullptr || channels <= 0 || hop <= 0 || frame < 0 || frame >= getNumFrames())
        return;

    if (session.trackBlock.getNumChannels() != channels || session.trackBlock.getNumSamples() != hop)
        session.trackBlock.setSize (channels, hop);
    session.trackPeaks.clear();

    // The tracks heard in this block.
    juce::Array<AudioTrack*> playing;
    const bool masterAlone = s.tracks.size() <= 1 || s.active == s.master;
    if (masterAlone)
    {
        if (s.master->isPlayable())
            playing.add (s.master.get());
    }
    else
    {
        bool anySolo = false;
        for (auto* t : s.tracks)
            anySolo = anySolo || t->isSoloed();

        for (auto* t : s.tracks)
        {
            const bool plays = anySolo ? t->isSoloed() : ! t->isMuted();
            if (plays && t->isPlayable() && t->getBufferSize() == hop)
                playing.add (t);
        }
    }

    // Summed before synthesis where the session allows it, else one by one.
    juce::Array<AudioTrack*> summed;
    if (session.synthesis == RenderSession::Synthesis::summedSpectra && ! playing.isEmpty())
    {
        if (session.spectralMix == nullptr)
            session.spectralMix = std::make_unique<SpectralMixSynthesiser> (s.master->getGeometry(), channels);
        for (auto* t : playing)
            if (session.spectralMix->canSum (*t))
                summed.add (t);
    }

    for (auto* t : playing)
    {
        if (summed.contains (t))
            continue;
        auto& renderer = session.renderers[t];
        if (renderer == nullptr)
        {
            renderer = std::make_unique<TrackRenderer> (t, channels);
            renderer->setFeedsMeters (! session.deferTrackMeters);
        }
        renderer->renderBlock (frame, session.trackBlock);
        if (session.deferTrackMeters)
        {
            std::array<float, 2> peak {};
            for (int c = 0; c < juce::jmin (2, channels); ++c)
                peak[(size_t) c] = session.trackBlock.getMagnitude (c, 0, hop);
            session.trackPeaks.emplace_back (t, peak);
        }
        for (int c = 0; c < channels; ++c)
            out.addFrom (c, 0, session.trackBlock, c, 0, hop);
    }
    if (! summed.isEmpty())
        session.spectralMix->addBlock (frame, summed, out);

    const auto gain = masterGain.load();
    if (gain != 1.0f)
        out.applyGain (gain);

    // Forget renderers of tracks that left the mix.
    for (auto it = session.renderers.begin(); it != session.renderers.end();)
        it = s.tracks.contains (it->first) || it->first == s.master.get() ? std::next (it) : session.renderers.erase (it);
}

void Mixer::updatePeaks (const juce::AudioBuffer<float>& block) noexcept
{
    for (int c = 0; c < juce::jmin (maxMeteredChannels, block.getNumChannels()); ++c)
    {
        const auto peak = block.getMagnitude (c, 0, block.getNumSamples());
        const auto stored = peaks[(size_t) c].load();
        // A lower peak only halves the way down: meters fall smoothly.
        peaks[(size_t) c] = peak < stored ? (peak + stored) * 0.5f : peak;
    }
    peakHoldCountdown = peakHoldTicks;
}

void Mixer::storeTrackPeaks (Slot& slot, const RenderSession& session) noexcept
{
    auto& peaks = slot.peaks;
    const auto n = juce::jmin (maxMeteredTracks, (int) session.trackPeaks.size());
    peaks.sequence.fetch_add (1); // odd: being written
    for (int i = 0; i < n; ++i)
    {
        peaks.tracks[(size_t) i].store (session.trackPeaks[(size_t) i].first, std::memory_order_relaxed);
        for (size_t c = 0; c < 2; ++c)
            peaks.values[(size_t) i][c].store (session.trackPeaks[(size_t) i].second[c], std::memory_order_relaxed);
    }
    peaks.count.store (n, std::memory_order_relaxed);
    peaks.sequence.fetch_add (1); // even: complete
}

void Mixer::TrackPeaks::copyFrom (const TrackPeaks& other, int frameNumber) noexcept
{
    // other is not being written (its slot is held for reading).
    const auto n = juce::jlimit (0, maxMeteredTracks, other.count.load (std::memory_order_relaxed));
    sequence.fetch_add (1);
    for (int i = 0; i < n; ++i)
    {
        tracks[(size_t) i].store (other.tracks[(size_t) i].load (std::memory_order_relaxed), std::memory_order_relaxed);
        for (size_t c = 0; c < 2; ++c)
            values[(size_t) i][c].store (other.values[(size_t) i][c].load (std::memory_order_relaxed), std::memory_order_relaxed);
    }
    count.store (n, std::memory_order_relaxed);
    frame.store (frameNumber, std::memory_order_relaxed);
    sequence.fetch_add (1);
}

void Mixer::publishTrackPeaks()
{
    std::array<std::pair<AudioTrack*, std::array<float, 2>>, maxMeteredTracks> read;
    int n = 0, frame = -1;
    bool consistent = false;
    for (int attempt = 0; attempt < 4 && ! consistent; ++attempt)
    {
        const auto before = playedPeaks.sequence.load();
        if ((before & 1) != 0)
            continue;
        frame = playedPeaks.frame.load (std::memory_order_relaxed);
        n = playedPeaks.count.load (std::memory_order_relaxed);
        for (int i = 0; i < n; ++i)
            read[(size_t) i] = { playedPeaks.tracks[(size_t) i].load (std::memory_order_relaxed),
                                 { playedPeaks.values[(size_t) i][0].load (std::memory_order_relaxed),
                                   playedPeaks.values[(size_t) i][1].load (std::memory_order_relaxed) } };
        consistent = playedPeaks.sequence.load() == before;
    }
    if (! consistent || frame < 0 || frame == lastPublishedFrame)
        return;

    lastPublishedFrame = frame;
    // Only tracks still in the project: a pointer of a removed track is never followed.
    const auto s = getState();
    for (int i = 0; i < n; ++i)
        for (auto* t : s->tracks)
            if (t == read[(size_t) i].first)
                t->updatePeaks (read[(size_t) i].second.data(), juce::jlimit (1, 2, getNumOutputChannels()));
}

std::vector<float> Mixer::getLastPeak() const
{
    std::vector<float> result ((size_t) juce::jlimit (0, maxMeteredChannels, numOutputs.load()));
    for (size_t c = 0; c < result.size(); ++c)
        result[c] = peaks[c].load();
    return result;
}

//==============================================================================
int Mixer::findSlot (int frame) const noexcept
{
    for (int i = 0; i < ringSize; ++i)
        if (ring[(size_t) i].frame.load() == frame)
            return i;
    return -1;
}

bool Mixer::readPlaybackBlock (int frame, juce::AudioBuffer<float>& out) noexcept
{
    // Playback reached the blocks a jump asked for: they are the ring's first ones now.
    if (auto jump = frame; frame >= 0)
        primeFrame.compare_exchange_strong (jump, -1);

    const auto hop = frameLength.load();
    const auto index = frame >= 0 ? findSlot (frame) : -1;

    int expected = Slot::ready;
    if (index >= 0 && ring[(size_t) index].status.compare_exchange_strong (expected, Slot::reading))
    {
        auto& slot = ring[(size_t) index];
        if (slot.frame.load() == frame)
        {
            const auto channels = juce::jmin (out.getNumChannels(), slot.buffer.getNumChannels());
            for (int c = 0; c < channels; ++c)
                out.copyFrom (c, 0, slot.buffer, c, 0, juce::jmin (hop, out.getNumSamples()));
            for (int c = channels; c < out.getNumChannels(); ++c)
                out.clear (c, 0, out.getNumSamples());
            playedPeaks.copyFrom (slot.peaks, frame);
            slot.status = Slot::ready;
            wantedFrame = getNextFrameInPlayOrder (frame);
            updatePeaks (out);
            return true;
        }
        slot.status = Slot::ready;
    }

    out.clear();
    wantedFrame = frame;
    return false;
}

namespace
{
    constexpr int loopFieldBits = 31;
    constexpr juce::uint64 loopFieldMask = (juce::uint64 { 1 } << loopFieldBits) - 1;
} // namespace

void Mixer::setLoop (juce::Range<int> frames, bool enabled) noexcept
{
    const auto start = (juce::uint64) juce::jmax (0, frames.getStart()) & loopFieldMask;
    const auto end = (juce::uint64) juce::jmax (0, frames.getEnd()) & loopFieldMask;
    const auto on = enabled && ! frames.isEmpty() ? juce::uint64 { 1 } : juce::uint64 { 0 };
    loop = (on << (2 * loopFieldBits)) | (start << loopFieldBits) | end;
}

juce::Range<int> Mixer::getLoop() const noexcept
{
    const auto bits = loop.load();
    return { (int) ((bits >> loopFieldBits) & loopFieldMask), (int) (bits & loopFieldMask) };
}

bool Mixer::isLoopEnabled() const noexcept
{
    return (loop.load() >> (2 * loopFieldBits)) != 0;
}

int Mixer::getNextFrameInPlayOrder (int frame) const noexcept
{
    const auto bits = loop.load();
    const auto next = frame + 1;
    if ((bits >> (2 * loopFieldBits)) != 0)
    {
        const auto start = (int) ((bits >> loopFieldBits) & loopFieldMask), end = (int) (bits & loopFieldMask);
        if (next >= end && frame < end)
            return juce::jlimit (0, juce::jmax (0, getNumFrames() - 1), start);
    }
    return next;
}

bool Mixer::ringHolds (int frame, int count) const
{
    const auto generation = computeGeneration (*getState());
    if (publishedGeneration.load() != generation)
        return false;
    auto f = frame;
    for (int k = 0; k < count && f < getNumFrames(); ++k, f = getNextFrameInPlayOrder (f))
    {
        const auto index = findSlot (f);
        if (index < 0 || ring[(size_t) index].status.load() == Slot::writing
            || ring[(size_t) index].generation.load() != generation)
            return false;
    }
    return true;
}

bool Mixer::prime (int frame, int timeoutMs)
{
    if (frame < 0 || frame >= getNumFrames())
        return true;
    primeFrame = frame;
    preRenderer->notify(); // it may be resting
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
    // Done when the blocks are ready, or when playback already played the first of them
    // (or a newer jump took the prime over).
    while (primeFrame.load() == frame && ! ringHolds (frame, primeBlocks))
    {
        if (juce::Time::getMillisecondCounter() >= deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

bool Mixer::waitForRing (int frame, int timeoutMs, int count)
{
    setPlayPosition (frame);
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
    while (juce::Time::getMillisecondCounter() < deadline)
    {
        if (ringHolds (frame, count))
            return true;
        juce::Thread::sleep (1);
    }
    return false;
}

} // namespace kalder
