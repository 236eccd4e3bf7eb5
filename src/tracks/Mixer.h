#pragma once

#include "AudioTrack.h"
#include "ManualSeparationJob.h"
#include "SpectralMixSynthesiser.h"
#include "TrackRenderer.h"

#include <juce_events/juce_events.h>

#include <map>

namespace kalder
{

/**
    The owner of a project's tracks, and the place where they are summed.

    Mixing follows these rules, block by block (a block is one hop of output samples):
    with no tracks besides the master, or while the master is the active track, the
    master plays alone; otherwise, when any track is soloed exactly the soloed tracks
    play (a muted track that is soloed plays too), else every track that is not muted.
    A track plays only while it is playable (its audio and rendered file exist). The
    sum is scaled by the master gain ("MixerVolume").

    The mix has the master track's channel count, at least two: a mono project plays in
    stereo, so that the pan of its tracks is heard. A bounce keeps the source's format: a
    mono project whose tracks all sit in the centre (both sides the same) bounces in
    mono, one with a track panned off the centre in stereo (getNumBounceChannels()).

    Playback: a pre-render thread keeps a ring of the next blocks after the play position
    mixed ahead. The audio callback only copies a finished block out of the ring
    (readPlaybackBlock()): no lock, no allocation, no file access. Any change that alters
    the sound (a mask, the selection volume, volume, pan, solo, mute, the track list, the
    master gain) changes the mix generation, and the pre-render thread mixes again the
    blocks it had mixed under an older one, nearest first. When only stores were edited,
    only the blocks made of the edited frames are mixed again; the others stay current.
    Before playback starts or jumps, prime() has the first blocks mixed, so that Play and
    a seek are heard at once.

    The loop is kept here and nowhere else: the transport and the pre-render thread follow
    getNextFrameInPlayOrder().

    Bounces and exports mix through a RenderSession of their own, so they never wait for
    playback and playback never leaves a track out of a bounced block.

    Application flags: the mixer keeps the projectOpen, pitchEdits and spectralEdits
    bits of the ApplicationTree, and with them the commands "Show Melody Editor" (only
    while no spectral edit or selection is shown) and "Show Spectrogram Editor" (only
    while no pitch edit is shown). They are worked out again on the message thread when
    the active track changes, when its editor or analysis progress changes, and when its
    store is edited (the store's edit generation, looked at by the mixer's timer).

    Threading: the track list, the tree and the settings on the message thread (asserted
    in debug builds); readPlaybackBlock() on the audio thread; prime() and setLoop() on
    any one thread; RenderSession on any one thread each.
*/
class Mixer : private juce::ValueTree::Listener, private juce::Timer, private juce::AsyncUpdater
{
public:
    /** Blocks mixed ahead of the play position. */
    static constexpr int ringSize = 16;

    /** Blocks prime() has mixed before playback starts or jumps. */
    static constexpr int primeBlocks = 3;

    class Listener
    {
    public:
        virtual ~Listener() = default;
        virtual void trackListChanged() = 0;
    };

    Mixer();
    ~Mixer() override;

    juce::ValueTree& getTree() noexcept { return tree; }

    //==============================================================================
    /** Replaces the project: the track becomes the master, the only track and the
        active one. */
    void setMasterTrack (AudioTrack::Ptr track);
    AudioTrack::Ptr getMasterTrack() const;

    void addTrack (AudioTrack::Ptr track);

    /** Takes a track out; its children become children of its parent. */
    void removeTrack (AudioTrack::Ptr track);

    /** Puts added where the first of removed was and takes every track of removed out,
        in one change of the track list. The children of the removed tracks become
        children of added. */
    void replaceTracks (const juce::ReferenceCountedArray<AudioTrack>& removed, AudioTrack::Ptr added);

    /** The pool for jobs that change the track list (merges, freezes, imports). */
    juce::ThreadPool& getJobPool() noexcept { return jobPool; }

    /** Freezes the track's spectral edits into new tracks, or moves its selection to a new
        track, on the job pool (ManualSeparationJob says what it makes and how it reports).
        A busy or locked track, or one with nothing to freeze, is refused and nothing
        starts. Message thread. */
    ManualSeparationJob::Refusal freezeTrack (AudioTrack::Ptr track, ManualSeparationJob::Options options = {})
    {
        return ManualSeparationJob::start (*this, std::move (track), std::move (options));
    }

    /** Moves a track to index, clamped to the list. */
    void setTrackPosition (AudioTrack::Ptr track, int index);

    juce::ReferenceCountedArray<AudioTrack> getAllTracks() const;

    /** The tracks as a tree, in the order the panels show them: each root (a track
        whose parent is not in the list) in the list's order, followed by its
        descendants, children in the list's order. */
    static juce::ReferenceCountedArray<AudioTrack> inTreeOrder (const juce::ReferenceCountedArray<AudioTrack>& tracks);
    AudioTrack::Ptr getTrack (const juce::String& name) const;
    void unsoloAllTracks();

    void setActiveTrack (AudioTrack::Ptr track);
    AudioTrack::Ptr getActiveTrack() const;

    /** Works the editor flags out again soon, on the message thread (any thread: for
        edits the mixer cannot see, such as pitch edits). */
    void refreshEditorFlags() { triggerAsyncUpdate(); }

    void setMasterGain (float gain);
    float getMasterGain() const noexcept { return masterGain.load(); }

    void addListener (Listener* l) { listeners.add (l); }
    void removeListener (Listener* l) { listeners.remove (l); }

    //==============================================================================
    /** Output blocks of the project (ceil (samples / hop) of the master). */
    int getNumFrames() const noexcept { return numFrames.load(); }
    int getFrameLength() const noexcept { return frameLength.load(); }
    int getNumOutputChannels() const noexcept { return numOutputs.load(); }

    /** The channels a bounce of the mix writes: one for a mono project whose tracks all
        sit in the centre, else the mix's own. */
    int getNumBounceChannels() const;
    int getSampleRate() const noexcept { return sampleRate.load(); }

    /** Per-channel peaks of the last mixed blocks. Once no block has come for a few
        ticks of the mixer's timer they fall by a factor of five a tick. */
    std::vector<float> getLastPeak() const;

    /** Message thread: hands the tracks' peaks of the block playback last played to their
        meters (a timer calls it while a message loop runs). Blocks are mixed ahead of the
        sound; their tracks' peaks wait in the ring until the block is heard, so track
        meters move with the sound, not ahead of it. */
    void publishTrackPeaks();

    //==============================================================================
    /** A mix of its own, for one thread (a bounce, an export, a test). */
    class RenderSession
    {
    public:
        enum class Synthesis
        {
            /** Each track is synthesised on its own and feeds its meters (playback). */
            perTrack,
            /** Tracks' spectra are summed and synthesised once per output channel: the
                same sound, much faster, best read in order, no per-track meters (bounces). */
            summedSpectra
        };

        explicit RenderSession (Mixer& mixer, Synthesis synthesis = Synthesis::perTrack);

        /** Mixes block frame into out (output channels x hop; with fewer channels, the
            mix's first ones). Blocks before 0 or after the end are silent. */
        void renderFrame (int frame, juce::AudioBuffer<float>& out);

    private:
        friend class Mixer;
        Mixer& mixer;
        const Synthesis synthesis;
        std::map<AudioTrack*, std::unique_ptr<TrackRenderer>> renderers;
        std::unique_ptr<SpectralMixSynthesiser> spectralMix;
        juce::AudioBuffer<float> trackBlock, narrowed;
        /** Tracks rendered one by one for the last block and their peaks, when the session
            keeps them for later (playback) instead of feeding the meters at once. */
        bool deferTrackMeters = false;
        std::vector<std::pair<AudioTrack*, std::array<float, 2>>> trackPeaks;
    };

    /** Audio thread: copies block frame from the ring into out (channels x hop at least)
        and returns true, or clears out and returns false when that block is not mixed
        yet. Tells the pre-render thread where playback is. Real-time safe. */
    bool readPlaybackBlock (int frame, juce::AudioBuffer<float>& out) noexcept;

    /** Where the pre-render thread should work (the next block playback will need), while
        playback is stopped; while it plays, the audio thread says it. */
    void setPlayPosition (int frame) noexcept { wantedFrame = frame; }

    /** Has the pre-render thread mix the first primeBlocks blocks from frame (besides the
        blocks ahead of playback) and waits until they are current, for at most timeoutMs.
        False when they were not ready in time (playback then starts with a gap). Not on
        the audio thread. */
    bool prime (int frame, int timeoutMs);

    /** The loop playback follows, in blocks [start, end). Any thread. */
    void setLoop (juce::Range<int> frames, bool enabled) noexcept;
    juce::Range<int> getLoop() const noexcept;
    bool isLoopEnabled() const noexcept;

    /** The block that follows frame in playback order: the loop's start after the loop's
        last block, when the loop is on and frame lies inside it or before it; else
        frame + 1. A position after the loop plays on to the end. */
    int getNextFrameInPlayOrder (int frame) const noexcept;

    /** Waits (for tests and tools) until the ring holds count blocks from frame on, mixed
        with the current settings; false after the timeout. */
    bool waitForRing (int frame, int timeoutMs, int count = ringSize);

    /** Blocks the pre-render thread has mixed so far (for tests and benchmarks). */
    juce::int64 getNumBlocksMixedAhead() const noexcept { return blocksMixedAhead.load(); }

    /** The mix generation the pre-render thread last saw. */
    juce::uint64 getMixGeneration() const noexcept { return publishedGeneration.load(); }

private:
    class PreRenderThread;

    /** Tracks whose meters follow playback; more are not metered while playing. */
    static constexpr int maxMeteredTracks = 64;

    /** Everything the mixing threads need, replaced as a whole on the message thread. */
    struct State : juce::ReferenceCountedObject
    {
        using Ptr = juce::ReferenceCountedObjectPtr<State>;
        AudioTrack::Ptr master, active;
        juce::ReferenceCountedArray<AudioTrack> tracks;
        juce::uint64 listGeneration = 0;
    };

    /** Gives the children of removed (no longer in s) to newParent, or to its nearest
        ancestor still in s. */
    static void adoptChildren (State& s, const AudioTrack& removed, AudioTrack* newParent);

    /** Tracks and their peaks, under a sequence count (odd while written): written by
        one thread, read by another that tries again when the count moved. */
    struct TrackPeaks
    {
        std::atomic<juce::uint32> sequence { 0 };
        std::atomic<int> frame { -1 };
        std::atomic<int> count { 0 };
        std::array<std::atomic<AudioTrack*>, maxMeteredTracks> tracks {};
        std::array<std::array<std::atomic<float>, 2>, maxMeteredTracks> values {};

        void copyFrom (const TrackPeaks& other, int frameNumber) noexcept;
    };

    struct Slot
    {
        enum Status
        {
            empty,
            writing,
            ready,
            reading
        };
        std::atomic<int> status { empty };
        std::atomic<int> frame { -1 };
        std::atomic<juce::uint64> generation { 0 };
        juce::AudioBuffer<float> buffer;

        TrackPeaks peaks; // of the block's tracks
    };

    void valueTreePropertyChanged (juce::ValueTree&, const juce::Identifier&) override;
    void timerCallback() override;
    void handleAsyncUpdate() override;
    void updateEditorFlags();
    void followActiveTrack (const State& oldState);
    void storeTrackPeaks (Slot& slot, const RenderSession& session) noexcept;
    void publish (State::Ptr newState);
    State::Ptr getState() const;
    void mix (RenderSession& session, const State& state, int frame, juce::AudioBuffer<float>& out);
    juce::uint64 computeGeneration (const State& state) const;
    /** Whether the count blocks from frame on are in the ring, current. */
    bool ringHolds (int frame, int count) const;
    void updatePeaks (const juce::AudioBuffer<float>& block) noexcept;
    void resetRing();
    /** The slot that holds (or is being written with) frame, or -1. Real-time safe. */
    int findSlot (int frame) const noexcept;

    juce::ValueTree tree;
    std::atomic<float> masterGain { 1.0f };
    std::atomic<juce::uint64> settingsGeneration { 0 };

    mutable juce::SpinLock stateLock;
    State::Ptr state;

    std::atomic<int> numFrames { 0 }, frameLength { 0 }, numOutputs { 0 }, sampleRate { 0 };

    std::array<Slot, ringSize> ring;
    std::atomic<int> wantedFrame { 0 };
    std::atomic<int> primeFrame { -1 };
    std::atomic<juce::int64> blocksMixedAhead { 0 };
    /** The loop as one word (start, end, enabled), so that no reader sees a torn loop. */
    std::atomic<juce::uint64> loop { 0 };
    std::atomic<juce::uint64> publishedGeneration { 0 };
    // The peaks of the block last played, copied by the audio thread as it takes the block
    // (its slot is refilled with a later block at once), for the meters.
    TrackPeaks playedPeaks;
    int lastPublishedFrame = -1;
    std::unique_ptr<PreRenderThread> preRenderer;

    /** Peaks of what was last played or rendered by a session (not of blocks mixed
        ahead), per output channel. */
    static constexpr int maxMeteredChannels = 8;
    std::array<std::atomic<float>, maxMeteredChannels> peaks {};
    std::atomic<int> peakHoldCountdown { 0 }; // timer ticks before the peaks start to fall

    juce::ListenerList<Listener> listeners;
    juce::ThreadPool jobPool { 1 };

    AudioTrack::Ptr flagsTrack;           // the track whose tree the flags follow
    juce::uint64 flagsEditGeneration = 0; // its store's edit generation then

    JUCE_DECLARE_NON_COPYABLE (Mixer)
    JUCE_DECLARE_WEAK_REFERENCEABLE (Mixer)
};

} // namespace kalder
