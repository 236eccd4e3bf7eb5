#pragma once

#include "AsigMemoryManager.h"
#include "FrameGeometry.h"
#include "ParsedAudio.h"
#include "RealFFT.h"

#include "base/Progress.h"

#include <juce_events/juce_events.h>

#include <array>
#include <limits>

namespace kalder
{

/**
    The frame store of one track: the complex STFT frames of every channel, the mask
    of every channel and the selection, on disk with a window of frames in memory.

    A new track binds its decoded audio (the constructor or setAudioFile()) and then
    analyses it (readAudio(), on a background thread). A saved track reopens its files
    (openAsig()). The data files of a store are named after its data name and live in
    its data directory:

        <name>.asig            properties (JSON)
        <name>-<i>.frames      complex frames of chunk i (written once, by the analysis)
        <name>-<i>.mask        mask of chunk i (sparse: grows only where written)
        <name>-<i>.selection   selection of chunk i (sparse)

    Every reader goes through readFrames(); a store that is not ready reads as zero
    frames and unit masks, and reads never fail or wait.

    Threading: readers on any thread. Writes (masks, selection, flags, requested
    range) from the message thread, or from one job at a time when no user interface
    runs. readAudio() and openAsig() run before the store is shared with readers.
    The store's timer (message thread) starts the caching job when the requested
    range changes.
*/
class Asig : private juce::Timer
{
public:
    /** Frames the analysis transforms and writes at a time: few enough (1 MB) to stay in
        cache between the transform and the write. */
    static constexpr int framesPerAnalysisStep = 64;

    /** An empty store; openAsig() or setAudioFile() gives it data. */
    Asig();

    /** A store for new audio, bound with setAudioFile(): properties are written, data
        files are created by readAudio(). */
    Asig (const ParsedAudio& audio, const juce::File& dataDirectory, const juce::String& dataName);

    ~Asig() override;

    //==============================================================================
    /** Rebinds the store to new audio: deletes the store's existing data files, takes the
        geometry from the audio and writes the properties file. */
    juce::Result setAudioFile (const ParsedAudio& audio, const juce::File& dataDirectory, const juce::String& dataName);

    /** Analyses the bound audio into the data files (Hann window, real FFT), reporting
        through progress, and computes the average log spectrum. A cancelled progress
        stops it: the data files are deleted and the result says "Cancelled". */
    juce::Result readAudio (const ParsedAudio& audio, Progress::Ptr progress = nullptr);

    /** Where readAudio() goes next: it analyses the chunks from the one holding this
        frame to the end, then the ones before it, and follows a focus that moves while it
        runs (a seek). Each chunk, once written, counts as an edit of its frames, so views
        made while the store was being analysed are made again there. Any thread. */
    void setAnalysisFocus (int frame) noexcept { analysisFocus = frame; }

    /** Analyses frames of audio again (audio that changed under them, such as samples
        that were silenced), keeping masks and selections. The audio must have the bound
        geometry and length. Readers may run meanwhile; they see each frame old or new. */
    juce::Result reanalyseFrames (const ParsedAudio& audio, juce::Range<int> frames);

    /** Reopens a saved store from its data directory. With no name, the directory must
        hold exactly one store. */
    juce::Result openAsig (const juce::File& dataDirectory, const juce::String& dataName = {});

    /** Writes the properties (geometry, source, average spectrum) to file, through a
        temporary file. */
    juce::Result saveProperties (const juce::File& file) const;

    /** Computes the average log spectrum from the data files (used when a saved store
        lacks it). */
    void calcAvLogSpec (Progress::Ptr progress = nullptr);

    //==============================================================================
    bool isReady() const noexcept { return manager != nullptr && manager->isReady(); }

    int getNumChannels() const noexcept { return numChannels; }
    int getNumFreqs() const noexcept { return geometry.getNumFreqs(); }
    int getNumFrames() const noexcept { return numFrames; }
    int getSampleRate() const noexcept { return sampleRate; }
    juce::int64 getNumSamples() const noexcept { return numSamples; }
    const FrameGeometry& getGeometry() const noexcept { return geometry; }

    /** The store's transform, ready once the store has data. */
    const RealFFT* getFFT() const noexcept { return fft.get(); }

    /** Mean power of every bin over all frames and channels, in dB (nFreqs values). */
    const std::vector<float>& getAverageLogSpectrum() const noexcept { return averageLogSpectrum; }

    /** While readAudio() runs: the loudest bin's mean power over the frames analysed so
        far, in dB (minus infinity before the first chunk); what a view shows the
        analysed frames with until the average spectrum is there. Any thread. */
    float getLoudestAnalysedLevel() const noexcept { return loudestAnalysedLevel.load(); }

    juce::File getPropertiesFile() const;
    std::vector<juce::File> getDataFiles() const;
    /** Whether the store's frames files hold every frame (see AsigMemoryManager). */
    bool hasAllFrames() const { return manager != nullptr && manager->hasAllFrames(); }

    AsigMemoryManager* getMemoryManager() noexcept { return manager.get(); }

    //==============================================================================
    /** How a read applies the mask. */
    enum class MaskUse
    {
        none,       // the unedited frames
        mask,       // times the mask
        flippedMask // times 1 - mask
    };

    /** Whether a read applies the selection's playback gain. */
    enum class SelectionGain
    {
        none,
        applied // with a selection anywhere: selected bins at the selection volume v, the others at 1 - v
    };

    /** The channel's frames over frames (clamped to the store), multiplied bin by bin by
        the mask as maskUse says and by the selection gain as gain says. Playback reads
        through readMaskedFrames(). */
    CspecMatrix readFrames (int channel, juce::Range<int> frames, MaskUse maskUse = MaskUse::mask,
                            SelectionGain gain = SelectionGain::applied);

    /** The mask use of this store's own flip setting. */
    MaskUse getMaskUse() const noexcept { return isFlipped() ? MaskUse::flippedMask : MaskUse::mask; }

    /** readFrames() with this store's own flip setting and the selection gain: what
        playback hears. */
    CspecMatrix readMaskedFrames (int channel, juce::Range<int> frames);

    MaskMatrix getSelection (juce::Range<int> frames);
    AsigMemoryManager::SelectionBlock getSelection();

    /** Whether any bin is selected (the argument has no effect). */
    bool hasSelection (int unused = 0) const noexcept;

    /** The frames that hold mask edits (empty when the mask is all ones). */
    juce::Range<int> getEditedFrameRange() const;

    /** The frames that hold a selected bin (empty when nothing is selected). */
    juce::Range<int> getSelectedFrameRange() const;

    bool setMask (int channel, juce::Range<int> bins, juce::Range<int> frames, const MaskMatrix& block);
    bool setSelection (juce::Range<int> bins, juce::Range<int> frames, const MaskMatrix& block, bool clearRestFirst);
    bool addToSelection (juce::Range<int> bins, juce::Range<int> frames, const MaskMatrix& block);
    void resetMaskAndSelection();

    /** Every channel's mask back to all ones (unedited: nothing on disk). */
    void resetMask();

    /** Empties the selection (its files are emptied too). */
    void clearSelection();

    void setFlip (bool shouldFlip) noexcept
    {
        if (flip.exchange (shouldFlip) != shouldFlip)
            noteEdit (allFrames);
    }
    bool isFlipped() const noexcept { return flip.load(); }

    /** 0..1: the playback gain of selected bins (the others play at 1 - v). */
    void setSelectionVolume (float v) noexcept
    {
        selectionVolume = juce::jlimit (0.0f, 1.0f, v);
        noteEdit (allFrames, {}); // no stored value changes
    }
    float getSelectionVolume() const noexcept { return selectionVolume.load(); }

    /** Changes whenever something that readFrames() returns may have changed (masks,
        selection, flip, selection volume, new data): renderers compare it to drop what
        they rendered before. It moves after the change is written, never before. */
    juce::uint64 getEditGeneration() const noexcept { return editGeneration.load(); }

    /** The frames whose readFrames() may have changed since generation was current: the
        union of the edits after it, or every frame when it lies further back than the
        recent edits remembered. Empty when nothing changed. Any thread. */
    juce::Range<int> getFramesEditedSince (juce::uint64 generation) const noexcept;

    /** The same for the stored data alone (frames, masks, selection values): a selection
        that appears or goes changes what every frame plays (the selection volume) but
        the stored values of its own frames only. For displays of the stored values. */
    juce::Range<int> getFramesWrittenSince (juce::uint64 generation) const noexcept;

    /** Every frame, as getFramesEditedSince() says it. */
    static constexpr juce::Range<int> allFrames { 0, std::numeric_limits<int>::max() };

    /** The frames the user interface wants in memory; the store's timer caches them. */
    void setRequestedRange (juce::Range<int> frames);
    juce::Range<int> getRequestedRange() const;

private:
    class MemoryCachingThread;

    void timerCallback() override;
    juce::Result allocateMemoryManager (const juce::File& dataDirectory, const juce::String& dataName);
    void initFFT();

    std::unique_ptr<AsigMemoryManager> manager;
    juce::File dataDirectory;
    juce::String dataName;

    FrameGeometry geometry;
    int numChannels = 0;
    int numFrames = 0;
    int sampleRate = 0;
    juce::int64 numSamples = 0;
    std::unique_ptr<RealFFT> fft;
    std::vector<float> averageLogSpectrum;
    std::atomic<float> loudestAnalysedLevel { -std::numeric_limits<float>::infinity() };

    std::atomic<bool> flip { false };
    std::atomic<int> analysisFocus { 0 };
    /** Counts one edit after it was written: the frames whose playback changed, and
        those whose stored values changed (the same unless given). */
    void noteEdit (juce::Range<int> frames) noexcept { noteEdit (frames, frames); }
    void noteEdit (juce::Range<int> played, juce::Range<int> written) noexcept;
    juce::Range<int> unionSince (juce::uint64 generation, bool written) const noexcept;

    std::atomic<juce::uint64> editGeneration { 0 };
    /** The frames of the last edits, by generation (entry g % size holds generation g). */
    static constexpr int editLogSize = 64;
    struct LoggedEdit
    {
        juce::uint64 generation = 0;
        juce::Range<int> frames, written;
    };
    std::array<LoggedEdit, editLogSize> editLog {};
    mutable juce::SpinLock editLogLock;
    std::atomic<float> selectionVolume { 0.5f };

    mutable juce::SpinLock requestedRangeLock;
    juce::Range<int> requestedRange;

    juce::ThreadPool cachingPool { 1 };

    JUCE_DECLARE_NON_COPYABLE (Asig)
    JUCE_DECLARE_WEAK_REFERENCEABLE (Asig)
};

} // namespace kalder
