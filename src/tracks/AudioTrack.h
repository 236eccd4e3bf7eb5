#pragma once

#include "EditorType.h"
#include "TrackIds.h"

#include "base/Progress.h"
#include "melody/Pgram.h"
#include "signal/Asig.h"
#include "signal/ParsedAudio.h"

#include <juce_events/juce_events.h>

#include <atomic>

namespace kalder
{

class EditResult;
class ManualEditManager;
class PitchEditManager;

/**
    One layer of a project: decoded audio, its frame store (Asig) and the mixer
    settings of the layer, which live in a "TRACK" value tree.

    Tracks are reference-counted: the mixer, jobs and views hold them. The tree is
    written on the message thread; everything that renders (playback, bounce) reads
    the settings through atomic mirrors of the tree (getVolume(), getPanGains(), ...),
    never the tree itself.

    Sound is rendered by TrackRenderer objects, one per consumer thread, so that
    playback and a bounce never wait for each other.

    Threading: setters and the tree on the message thread (asserted in debug builds); the atomic getters and the
    content (getContent()) from any thread once the track is playable.
    generateAsig() runs on a background thread before the track is shared with
    renderers.
*/
class AudioTrack :
    public juce::ReferenceCountedObject,
    private juce::ValueTree::Listener,
    private juce::AsyncUpdater,
    private juce::Timer,
    private Progress::Listener
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<AudioTrack>;

    /** Where a track came from. */
    enum class OriginId
    {
        master,
        separation,
        merge,
        freeze,
        selection
    };

    /** Output gains of one input channel. */
    struct PanGains
    {
        float left = 1.0f, right = 1.0f;
    };

    /** What the track sounds like: its decoded audio and its store, replaced as a whole
        (setAsig(), silenceFrames()). Renderers hold the content they started a block
        with, so a replacement never pulls the audio or the store from under them; the
        old content goes when its last holder lets it go. */
    struct Content : juce::ReferenceCountedObject
    {
        using Ptr = juce::ReferenceCountedObjectPtr<Content>;
        std::shared_ptr<const ParsedAudio> audio;
        std::shared_ptr<Asig> asig;
    };

    /** The suffix of a track's rendered audio file. */
    static constexpr const char* renderedFileSuffix = "-thumbnail.wav";

    AudioTrack (const juce::String& name, OriginId origin);
    ~AudioTrack() override;

    //==============================================================================
    /** Binds decoded audio to the track: the audio, the folder and name under which the
        track keeps its data files, the bit depth of the source, and the rendered audio
        file (a WAV holding the track's audio). The store is created but not analysed:
        call generateAsig(). Until then the track plays from its decoded audio. */
    juce::Result setAudio (std::unique_ptr<ParsedAudio> audio, const juce::File& dataFolder, const juce::String& dataName,
                           int bitsPerSample, const juce::File& renderedAudioFile);

    /** Analyses the audio into the store, reporting through progress. Call off the message
        thread; "TrackAsigProgress" follows on the message thread. */
    juce::Result generateAsig (Progress::Ptr progress = nullptr);

    /** Installs another store for the same audio (an edit history's snapshot, a store
        reopened from its files): the geometry and channel count must match. A ready
        store makes the track editable at once ("TrackAsigProgress" becomes 1); a store
        that is not ready leaves the progress as it was and the track plays its decoded
        audio. Message thread. */
    juce::Result setAsig (std::unique_ptr<Asig> newStore);

    /** Silences output blocks [blocks.start, blocks.end) (hops of samples): the rendered
        audio file is rewritten through a temporary file that replaces it only when
        complete, and the frames that hear those samples are analysed again; masks and
        selections stay. Renderers already running finish their block with the old
        sound. Waits for an analysis that is running (generateAsig()). Any thread but
        the audio thread. */
    juce::Result silenceFrames (juce::Range<int> blocks);

    //==============================================================================
    juce::ValueTree& getTree() noexcept { return tree; }
    juce::String getName() const { return tree[TrackIds::name].toString(); }

    /** The longest name a track takes; a longer one is cut there. */
    static constexpr int maxNameLength = 200;

    /** Renames the track: the name loses its surrounding white space and line breaks and
        is cut at maxNameLength characters. A name with nothing left is refused (false)
        and the track keeps its name. Message thread. */
    bool rename (const juce::String& newName);

    /** The name as rename() would store it, empty when it would be refused. */
    static juce::String cleanName (const juce::String& typed);
    OriginId getOrigin() const noexcept { return origin; }

    /** The current content (any thread but the audio thread: it takes a spin lock). */
    Content::Ptr getContent() const;

    /** The current store. On the message thread, where contents are replaced, it stays
        valid until the next replacement; other threads hold getContent() instead. */
    Asig* getAsig() const noexcept { return getContent()->asig.get(); }
    juce::File getAudioFile() const { return renderedFile; }
    /** The stem of the track's data files and the folder they live in (set with the audio). */
    const juce::String& getDataName() const noexcept { return dataName; }
    const juce::File& getDataFolder() const noexcept { return dataFolder; }

    int getNumChannels() const noexcept { return numChannels.load(); }
    int getSampleRate() const noexcept { return sampleRate.load(); }
    int getBitsPerSample() const noexcept { return bitsPerSample; }
    juce::int64 getNumSamples() const noexcept { return numSamples.load(); }
    const FrameGeometry& getGeometry() const noexcept { return geometry; }
    int getBufferSize() const noexcept { return geometry.getHop(); }
    int getnFrames() const noexcept { return geometry.getNumFramesForSamples (getNumSamples()); }
    int getNumBlocks() const noexcept { return geometry.getNumBlocksForSamples (getNumSamples()); }
    double getLengthInSeconds() const noexcept;

    /** True once the store has been analysed. */
    bool isStoreReady() const noexcept { return storeReady.load(); }

    /** Analyses the store on the track's own pool, unless it is analysed or being
        analysed. Until it is ready the track plays its decoded audio; the progress goes
        to "TrackAsigProgress", a failure's reason to "TrackAsigError". Message thread. */
    void startStoreGeneration();

    /** Where the analysis that runs should go next: the frames around this one first
        (a playhead, a seek). Any thread. */
    void setAnalysisFocus (int frame) noexcept;

    /** True while the track has anything to play: decoded audio and its rendered file. */
    bool isPlayable() const;

    /** True when a mask of the store was edited. */
    bool hasEdits() const;

    //==============================================================================
    // Settings. Setters write the tree (message thread); getters read atomic mirrors.

    void setVolume (float gain);
    void setPan (int channel, float pan);
    void setSolo (bool shouldSolo);
    void setMute (bool shouldMute);
    void flip (bool shouldFlip);

    float getVolume() const noexcept { return volume.load(); }
    bool isSoloed() const noexcept { return soloed.load(); }
    bool isMuted() const noexcept { return muted.load(); }

    /** The output gains of input channel 0 or 1: constant power for the two channels of
        a stereo track; a mono track plays at full level on both sides in the centre and
        on one side only at either end, so that a centred mono project sounds as its file. */
    PanGains getPanGains (int channel) const noexcept;

    /** Changes whenever anything that changes the track's sound changes: renderers and
        the mixer's pre-rendered frames compare it to know when to render again. */
    juce::uint64 getRenderGeneration() const noexcept;

    /** The part of the render generation that is not the store's edits (volume, pan,
        solo, mute, a new store): when only the store's edit generation moved, the store
        says which frames changed. */
    juce::uint64 getSettingsGeneration() const noexcept { return settingsGeneration.load(); }

    /** Per-channel peaks of the track's latest rendered output, for meters: they rise
        at once and, once rendering stops feeding them, fall by a factor of five a tick. */
    std::vector<float> getLastPeak() const;

    /** Called by renderers with each block they render (any thread, no allocation). */
    void updatePeaks (const juce::AudioBuffer<float>& block) noexcept;

    /** The same with the block's per-channel peaks already measured. */
    void updatePeaks (const float* channelPeaks, int numChannels) noexcept;

    /** The track this one was separated, frozen or moved from (null for the master). The
        parent is not owned: the mixer keeps both alive. */
    void setParentTrack (AudioTrack* parent) noexcept { parentTrack = parent; }
    AudioTrack* getParentTrack() const noexcept { return parentTrack; }

    /** True when ancestor is this track's parent, its parent's parent, and so on. */
    bool isDescendantOf (const AudioTrack* ancestor) const noexcept;

    /** A locked track cannot be merged or frozen. */
    void setLocked (bool shouldLock) noexcept { locked = shouldLock; }
    bool isLocked() const noexcept { return locked.load(); }

    /** The progress, 0..1, of a job that works on the track (a separation, a freeze).
        While it is above 0 the track is busy and no other such job starts on it; the job
        that claimed the track sets it back to 0 when it ends, whatever the outcome.
        The listeners hear of it on the message thread: at once when called there, else
        soon after. Any thread but the audio thread. */
    void separationProgressed (float progress);
    float getSeparationProgress() const noexcept { return separationProgress.load(); }
    bool isBusy() const noexcept { return getSeparationProgress() > 0.0f; }

    /** Claims the track for a job: sets the progress to progress (above 0) and returns
        true, or returns false and changes nothing when the track is busy already. */
    bool tryClaimForJob (float progress) noexcept;

    /** Deletes the track's data files and rendered audio file. */
    void deleteFiles();

    //==============================================================================
    // Colour, editor and activity (message thread; from another thread the change is
    // posted to the message thread).

    /** The track's colour as 0xAARRGGBB (juce::Colour's ARGB value: the core has no
        graphics module), stored in "TrackColour" in juce::Colour::toString()'s form. */
    void setCustomColour (juce::uint32 argb);
    juce::uint32 getCustomColour() const;

    /** Shows the track in an editor ("TrackEditor"), first starting what the editor
        needs: the spectral editor a store, analysed on the track's "Generate
        Spectrogram" pool when it is not analysed or being analysed yet. */
    void setEditor (Editor::Type type);
    Editor::Type getEditor() const { return Editor::toType (tree[TrackIds::editor]); }

    /** setEditor() with the view of the "defaultEditor" setting. */
    void setEditorToDefault();

    /** Told by the mixer when the track becomes, or stops being, the active track. The
        active track is the one the editors show: becoming active starts what its editor
        needs. */
    void becameActive (bool isNowActive);
    bool isActive() const noexcept { return active.load(); }

    /** Computes the pitchogram of the analysed store (all of it the first time, then the
        frames edited since) and gives it to the track's Pgram; "TrackPgramProgress"
        rises to 1 on the message thread while a first pitchogram is made. Off the
        message thread. */
    void generatePitchogram (Progress::Ptr progress = nullptr);

    /** Starts "Generate Pitchogram" on the track's pool (after the store's analysis, if
        that is still to run) unless the pitchogram shows the store as it is. Message
        thread. */
    void updatePitchogram();

    /** "TrackPreviewPitchEdits": playback passes only the harmonics of the melody lines'
        pitch in each frame (silence where no line is), so the user hears what the lines
        follow. Any thread. */
    bool isPreviewingPitchEdits() const noexcept { return previewingPitch.load(); }

    /** True when the track's melody has pitch lines. */
    bool hasPitchEdits() const { return ! pgram.isEmpty(); }
    /** The track's melody: its pitch lines (the guide of a guided vocal separation). */
    Pgram& getPgram() noexcept { return pgram; }
    const Pgram& getPgram() const noexcept { return pgram; }

    /** A separation running on the track, as the track holds it. */
    using RunningSeparation = juce::ReferenceCountedObjectPtr<juce::ReferenceCountedObject>;

    /** Is told how separations of the track advance (called on the message thread, last
        registered first). */
    class Listener
    {
    public:
        virtual ~Listener() = default;
        virtual void audioTrackSeparationStarted (Ptr track, const RunningSeparation& separation) = 0;
        virtual void audioTrackSeparationProgressed (float progress, Ptr track) = 0;
    };

    /** Attaches the separation that works on the track (null detaches it); the
        listeners hear audioTrackSeparationStarted() for a new one. Message thread. The
        track holds it without knowing its type (the separation layer's tracker:
        separation::SeparationTracker::of()). */
    void setSeparationTracker (RunningSeparation tracker);
    RunningSeparation getSeparationTracker() const;

    void addListener (Listener* l) { listeners.add (l); }
    void removeListener (Listener* l) { listeners.remove (l); }

    /** The spectral edits of the current store, with their undo history. A manager and
        its history belong to one store: after setAudio(), generateAsig() or setAsig()
        the track has a new manager with an empty history, which keeps the listeners of
        the one before. silenceFrames() keeps the store with its masks and selection,
        and so the history. Edits are refused while the track is locked or its store is
        not analysed. Message thread. */
    ManualEditManager& getManualEditManager();

    /** Every mask back to all ones and the selection empty: one undo step of the
        manager's history ("Reset spectral edits"). Message thread. */
    EditResult resetManualEdits();

    /** The melody edits, each a step of the spectral edit manager's own history, so undo
        takes back the user's edits in the order made whichever editor made them. Follows
        the spectral manager: a new store gives it a new history. Message thread. */
    PitchEditManager& getPitchEditManager();

private:
    void valueTreePropertyChanged (juce::ValueTree&, const juce::Identifier&) override;
    void handleAsyncUpdate() override;
    void timerCallback() override;
    void progressChanged (float value, Progress::Ptr source) override;
    void updateMirrors (const juce::Identifier& property);
    void replaceManualEdits();

    const OriginId origin;
    juce::ValueTree tree;

    void setContent (Content::Ptr newContent);

    mutable juce::SpinLock contentLock;
    Content::Ptr content;
    std::atomic<int> numChannels { 0 }, sampleRate { 0 };
    std::atomic<juce::int64> numSamples { 0 };
    juce::CriticalSection rewriteLock; // one silenceFrames() or generateAsig() at a time
    juce::File dataFolder, renderedFile;
    juce::String dataName;
    int bitsPerSample = 0;
    FrameGeometry geometry;
    Pgram pgram;

    std::atomic<bool> storeReady { false };
    std::atomic<bool> locked { false };
    std::atomic<float> separationProgress { 0.0f };
    RunningSeparation separationTracker;
    AudioTrack* parentTrack = nullptr;
    std::atomic<float> volume { 1.0f };
    std::atomic<bool> soloed { false }, muted { false }, previewingPitch { false };
    std::atomic<float> panGains[2][2];
    std::atomic<juce::uint64> settingsGeneration { 0 };

    std::atomic<float> pendingAsigProgress { -1.0f };

    static constexpr int maxMeteredChannels = 8;
    std::array<std::atomic<float>, maxMeteredChannels> peaks {};
    std::atomic<int> numPeaks { 0 };
    std::atomic<int> peakCountdown { 0 };
    std::atomic<bool> meterRunning { false };
    Progress::Ptr asigProgress;

    class GenerationJob;
    static constexpr const char* spectrogramJobName = "Generate Spectrogram";
    static constexpr const char* pitchogramJobName = "Generate Pitchogram";
    bool isPoolRunning (const juce::String& jobName) const;
    std::atomic<float> pendingPgramProgress { -1.0f };
    std::atomic<juce::uint32> pgramStore { 0 };       // the storeSerial the pitchogram was made from
    std::unique_ptr<juce::ThreadPool> generationPool; // made when first needed
    std::atomic<bool> analysing { false }, active { false };
    juce::ListenerList<Listener> listeners;

    std::unique_ptr<ManualEditManager> manualEdits;
    std::unique_ptr<PitchEditManager> pitchEdits;
    const ManualEditManager* pitchEditsHistoryOwner = nullptr;
    juce::uint32 manualEditsStore = 0;           // the storeSerial the manager was made for
    std::atomic<juce::uint32> storeSerial { 1 }; // changes with every new or reanalysed store

    JUCE_DECLARE_NON_COPYABLE (AudioTrack)
};

} // namespace kalder
