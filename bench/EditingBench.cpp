// The spectral edit history beside its bounds, in one run:
//   UndoWholeTrackMaskChange   undo of an erase of a whole 5-minute stereo track whose mask
//                              did not compress (its blocks come back from the scratch file)
//   WriteWholeTrackMaskBound   writing the same mask blocks into the store from memory: what
//                              any undo of that change has to do at least
//   HistoryAfterWandEdits      200 wand-sized soft selections (61 x 61, a soft blob): the history's memory and
//                              scratch bytes beside the uncompressed blocks (counters)
//   EraseHeard                 playback at 2:30 of the 5-minute song, the ring mixed ahead:
//                              erase a 10 s full-band selection around it, until the block
//                              playback plays next is mixed with the erase
//   EraseAlone                 the same selection and erase with nothing playing: the bound
//   SpectrogramFirstPixels     a spectrogram of the 5-minute song, 30 s of it on screen: the
//                              first chunk (the one under the view's centre) ready, beside
//   VisibleFramesRead          the bound: reading the masked frames of that chunk column
//   SpectrogramWholeView       all chunks of that view ready
//   SpectrogramAfterErase      a 10 s full-band erase in that view until every visible
//                              chunk shows it
//   SpectrogramScrollResident/5, /60  scrolling the whole song view by view: the chunks'
//                              memory (counter) beside the whole image's, and RSS growth
//   EditsResident/5, /60       a session of edits (whole-track select, erase, undo, redo, dim,
//                              50 wand blobs, grow, five undos) on a 5- and a 60-minute
//                              stereo song: the growth of the resident memory (anonymous
//                              and all) over the opened song, the long song's beside the
//                              short one's
#include "display/Spectrogram.h"
#include "editing/ManualEditManager.h"
#include "signal/AsigMemoryChunk.h"
#include "tracks/Mixer.h"
#include "tracks/TrackLoader.h"

#include <benchmark/benchmark.h>

#include <juce_audio_formats/juce_audio_formats.h>

#include <fstream>
#include <thread>

using namespace kalder;

namespace
{
constexpr int rate = 44100;
constexpr int songSeconds = 300;

juce::File benchFolder()
{
    auto dir = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("kalder-bench-editing");
    dir.createDirectory();
    return dir;
}

MaskMatrix softValues (int rows, int cols, int seed)
{
    juce::Random r (seed);
    MaskMatrix m (rows, cols);
    for (Eigen::Index i = 0; i < m.size(); ++i)
        m.data()[i] = 0.05f + 0.95f * r.nextFloat();
    return m;
}

/** A 5-minute stereo song with a soft mask over all of it. */
struct Song
{
    Song()
    {
        const auto wav = benchFolder().getChildFile ("song.wav");
        if (! wav.existsAsFile())
        {
            juce::AudioBuffer<float> audio (2, rate * songSeconds);
            juce::Random r (3);
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < audio.getNumSamples(); ++i)
                    audio.setSample (c, i, r.nextFloat() - 0.5f);
            auto stream = std::make_unique<juce::FileOutputStream> (wav);
            juce::WavAudioFormat format;
            std::unique_ptr<juce::AudioFormatWriter> writer (format.createWriterFor (stream.get(), rate, 2, 16, {}, 0));
            stream.release();
            writer->writeFromAudioSampleBuffer (audio, 0, audio.getNumSamples());
        }
        const auto folder = benchFolder().getChildFile ("song");
        folder.deleteRecursively();
        auto result = juce::Result::ok();
        track = TrackLoader::openTrack (wav, folder, "song", AudioTrack::OriginId::master, nullptr, result);
        auto* asig = track->getAsig();
        for (int c = 0; c < asig->getNumChannels(); ++c)
            for (int start = 0; start < asig->getNumFrames(); start += AsigMemoryChunk::framesPerChunk)
            {
                const juce::Range<int> part (start, juce::jmin (start + AsigMemoryChunk::framesPerChunk, asig->getNumFrames()));
                asig->setMask (c, { 0, asig->getNumFreqs() }, part,
                               softValues (asig->getNumFreqs(), part.getLength(), start + c));
            }
    }

    AudioTrack::Ptr track;
};

Song& song()
{
    static Song s;
    return s;
}

// 30 s of the song on screen from 2:00, the whole height.
constexpr int viewSeconds = 30, viewFrom = 120;

juce::Range<int> viewFrames (const AudioTrack& track)
{
    const auto hop = track.getGeometry().getHop();
    return { viewFrom * rate / hop, (viewFrom + viewSeconds) * rate / hop };
}

/** Runs a spectrogram's timer work until chunk index is current. */
bool waitForChunk (Spectrogram& s, int index, int timeoutMs)
{
    const auto deadline = juce::Time::getMillisecondCounterHiRes() + timeoutMs;
    while (! s.isChunkCurrent (index))
    {
        if (juce::Time::getMillisecondCounterHiRes() > deadline)
            return false;
        s.scheduleRecache();
        std::this_thread::yield();
    }
    return true;
}

void SpectrogramFirstPixels (benchmark::State& state)
{
    auto track = song().track;
    const auto frames = viewFrames (*track);
    for (auto _ : state)
    {
        auto owned = std::make_unique<Spectrogram>();
        auto& s = *owned;
        s.setTrack (track);
        s.setVisibleArea (frames, { 0, s.getImageHeight() });
        const auto centre = s.getChunksCovering (
            { (frames.getStart() + frames.getEnd()) / 2, (frames.getStart() + frames.getEnd()) / 2 + 1 },
            { s.getImageHeight() / 2, s.getImageHeight() / 2 + 1 });
        if (centre.empty() || ! waitForChunk (s, centre.front(), 60000))
            state.SkipWithError ("no first chunk");
        state.PauseTiming(); // the spectrogram's teardown is not the first pixels
        owned.reset();
        state.ResumeTiming();
    }
}

void VisibleFramesRead (benchmark::State& state)
{
    auto track = song().track;
    auto* asig = track->getAsig();
    const auto centre = (viewFrames (*track).getStart() + viewFrames (*track).getEnd()) / 2;
    const juce::Range<int> column (centre / Spectrogram::chunkSize * Spectrogram::chunkSize,
                                   (centre / Spectrogram::chunkSize + 1) * Spectrogram::chunkSize);
    for (auto _ : state)
        for (int c = 0; c < asig->getNumChannels(); ++c)
            benchmark::DoNotOptimize (asig->readFrames (c, column, Asig::MaskUse::mask, Asig::SelectionGain::none));
}

void SpectrogramWholeView (benchmark::State& state)
{
    auto track = song().track;
    for (auto _ : state)
    {
        auto owned = std::make_unique<Spectrogram>();
        auto& s = *owned;
        s.setTrack (track);
        s.setVisibleArea (viewFrames (*track), { 0, s.getImageHeight() });
        if (! s.waitUntilCurrent (60000))
            state.SkipWithError ("the view was not made");
        state.PauseTiming();
        owned.reset();
        state.ResumeTiming();
    }
}

void SpectrogramAfterErase (benchmark::State& state)
{
    auto track = song().track;
    auto& edits = track->getManualEditManager();
    const auto frames = viewFrames (*track);
    Spectrogram s;
    s.setTrack (track);
    s.setVisibleArea (frames, { 0, s.getImageHeight() });
    if (! s.waitUntilCurrent (60000))
        state.SkipWithError ("the view was not made");
    const auto hop = track->getGeometry().getHop();
    const auto middle = (frames.getStart() + frames.getEnd()) / 2;
    for (auto _ : state)
    {
        const bool ok = edits
                            .rectangleSelect (middle - 5 * rate / hop, 0, middle + 5 * rate / hop, 1 << 30,
                                              SelectionMode::replace)
                            .wasChanged()
                        && edits.setConstant (0.0f).wasChanged();
        if (! ok || ! s.waitUntilCurrent (10000))
            state.SkipWithError ("the erase was not shown");
        state.PauseTiming();
        edits.undo();
        edits.undo();
        s.waitUntilCurrent (10000);
        state.ResumeTiming();
    }
    edits.getUndoManager().clearUndoHistory();
}

void UndoWholeTrackMaskChange (benchmark::State& state)
{
    auto& edits = song().track->getManualEditManager();
    edits.getUndoManager().clearUndoHistory();
    edits.clearSelection (false);
    if (! edits.rectangleSelect (0, 0, 1 << 30, 1 << 30, SelectionMode::replace).wasChanged()
        || ! edits.setConstant (0.0f).wasChanged())
        state.SkipWithError ("the erase failed");

    for (auto _ : state)
    {
        if (! edits.undo().wasChanged())
            state.SkipWithError ("undo failed");
        state.PauseTiming();
        edits.redo();
        state.ResumeTiming();
    }
    const auto usage = edits.getHistoryUsage();
    state.counters["memory_MB"] = (double) usage.memoryBytes / (1 << 20);
    state.counters["scratch_MB"] = (double) usage.scratchBytes / (1 << 20);
    edits.undo();
    edits.getUndoManager().clearUndoHistory();
}

void WriteWholeTrackMaskBound (benchmark::State& state)
{
    auto* asig = song().track->getAsig();
    std::vector<std::pair<juce::Range<int>, MaskMatrix>> blocks;
    for (int start = 0; start < asig->getNumFrames(); start += AsigMemoryChunk::framesPerChunk)
    {
        const juce::Range<int> part (start, juce::jmin (start + AsigMemoryChunk::framesPerChunk, asig->getNumFrames()));
        blocks.emplace_back (part, asig->getMemoryManager()->getMaskFrames (0, part));
    }
    for (auto _ : state)
        for (int c = 0; c < asig->getNumChannels(); ++c)
            for (const auto& [part, values] : blocks)
                asig->setMask (c, { 0, asig->getNumFreqs() }, part, values);
}

/** Selects 10 s of every bin around 2:30 and erases it; false when an edit failed. */
bool eraseTenSeconds (ManualEditManager& edits, int playFrame, int hop)
{
    const auto half = 5 * rate / hop;
    return edits.rectangleSelect (playFrame - half, 0, playFrame + half, 1 << 30, SelectionMode::replace).wasChanged()
           && edits.setConstant (0.0f).wasChanged();
}

void EraseTimed (benchmark::State& state, bool playing)
{
    auto track = song().track;
    auto& edits = track->getManualEditManager();
    const auto hop = track->getGeometry().getHop();
    const auto playFrame = 150 * rate / hop;
    Mixer mixer;
    if (playing)
        mixer.setMasterTrack (track);
    for (auto _ : state)
    {
        state.PauseTiming();
        if (playing && ! mixer.waitForRing (playFrame, 60000))
            state.SkipWithError ("the ring did not fill");
        state.ResumeTiming();

        if (! eraseTenSeconds (edits, playFrame, hop))
            state.SkipWithError ("the erase failed");
        if (playing && ! mixer.waitForRing (playFrame, 10000, 1))
            state.SkipWithError ("the erase was not heard");

        state.PauseTiming();
        edits.undo();
        edits.undo();
        state.ResumeTiming();
    }
    edits.getUndoManager().clearUndoHistory();
}

void EraseHeard (benchmark::State& state)
{
    EraseTimed (state, true);
}

void EraseAlone (benchmark::State& state)
{
    EraseTimed (state, false);
}

/** A wand's result: a blob whose core is fully selected, with a soft, uneven edge. */
MaskMatrix wandBlob (int size, int seed)
{
    juce::Random r (seed);
    MaskMatrix m (size, size);
    const auto centre = (size - 1) * 0.5, radius = size * (0.3 + 0.15 * r.nextDouble());
    for (int f = 0; f < size; ++f)
        for (int b = 0; b < size; ++b)
        {
            const auto d = std::hypot (b - centre, f - centre) / radius;
            m (b, f) = (float) juce::jlimit (0.0, 1.0, 1.6 - d + 0.3 * (r.nextDouble() - 0.5));
        }
    return m;
}

void HistoryAfterWandEdits (benchmark::State& state)
{
    auto content = song().track->getContent();
    auto* asig = content->asig.get();
    constexpr int edits = 200, size = 61;
    size_t memory = 0;
    juce::int64 scratch = 0;
    for (auto _ : state)
    {
        ManualEditManager manager (content->asig);
        juce::Random r (5);
        for (int i = 0; i < edits; ++i)
        {
            SelectionUpdate u;
            u.x1 = r.nextInt (asig->getNumFrames() - size);
            u.y1 = r.nextInt (asig->getNumFreqs() - size);
            u.x2 = u.x1 + size - 1;
            u.y2 = u.y1 + size - 1;
            u.values = wandBlob (size, i);
            SelectionHelper::setSelectionMode (i % 3 == 0 ? SelectionMode::replace : SelectionMode::addPoint, u);
            manager.applySelectionUpdate (u, "Wand selection");
        }
        memory = manager.getHistoryUsage().memoryBytes;
        scratch = manager.getHistoryUsage().scratchBytes;
        state.PauseTiming();
        while (manager.getUndoManager().canUndo())
            manager.getUndoManager().undo();
        state.ResumeTiming();
    }
    // Every edit stores its block before and after, uncompressed.
    const auto raw = (double) edits * 2.0 * size * size * sizeof (float);
    state.counters["memory_KB"] = (double) memory / 1024.0;
    state.counters["scratch_KB"] = (double) scratch / 1024.0;
    state.counters["raw_KB"] = raw / 1024.0;
    state.counters["raw_over_held"] = raw / (double) juce::jmax ((size_t) 1, memory + (size_t) scratch);
}

/** kB of the process's resident memory: {anonymous, all}, from /proc/self/status. */
std::pair<double, double> residentKb()
{
    std::ifstream status ("/proc/self/status");
    double anonymous = 0, all = 0;
    for (std::string line; std::getline (status, line);)
    {
        if (line.rfind ("RssAnon:", 0) == 0)
            anonymous = std::stod (line.substr (8));
        else if (line.rfind ("VmRSS:", 0) == 0)
            all = std::stod (line.substr (6));
    }
    return { anonymous, all };
}

/** A stereo noise song of the given length, written block by block. */
juce::File writeLongSong (int minutes)
{
    const auto wav = benchFolder().getChildFile ("long" + juce::String (minutes) + ".wav");
    if (wav.existsAsFile())
        return wav;
    auto stream = std::make_unique<juce::FileOutputStream> (wav);
    juce::WavAudioFormat format;
    std::unique_ptr<juce::AudioFormatWriter> writer (format.createWriterFor (stream.get(), rate, 2, 16, {}, 0));
    stream.release();
    juce::AudioBuffer<float> block (2, rate);
    juce::Random r (11);
    for (int second = 0; second < minutes * 60; ++second)
    {
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < block.getNumSamples(); ++i)
                block.setSample (c, i, 0.5f * (r.nextFloat() - 0.5f));
        writer->writeFromAudioSampleBuffer (block, 0, block.getNumSamples());
    }
    return wav;
}

/** The long song of minutes, freshly analysed; nullptr (and the benchmark skipped) when it fails. */
AudioTrack::Ptr openLongSong (benchmark::State& state, int minutes)
{
    const auto wav = writeLongSong (minutes);
    const auto folder = benchFolder().getChildFile ("long" + juce::String (minutes));
    folder.deleteRecursively();
    auto result = juce::Result::ok();
    auto track = TrackLoader::openTrack (wav, folder, "long", AudioTrack::OriginId::master, nullptr, result);
    if (track == nullptr)
        state.SkipWithError (result.getErrorMessage().toRawUTF8());
    return track;
}

void EditsResident (benchmark::State& state)
{
    const auto minutes = (int) state.range (0);
    double peakAnonymous = 0, peakAll = 0, baseAnonymous = 0, baseAll = 0;
    for (auto _ : state)
    {
        state.PauseTiming();
        auto track = openLongSong (state, minutes);
        if (track == nullptr)
            return;
        auto* asig = track->getAsig();
        std::tie (baseAnonymous, baseAll) = residentKb();
        peakAnonymous = baseAnonymous, peakAll = baseAll;
        auto sample = [&] {
            const auto [anonymous, all] = residentKb();
            peakAnonymous = std::max (peakAnonymous, anonymous);
            peakAll = std::max (peakAll, all);
        };
        auto& edits = track->getManualEditManager();
        state.ResumeTiming();

        bool ok = edits.rectangleSelect (0, 0, 1 << 30, 1 << 30, SelectionMode::replace).wasChanged();
        sample();
        ok = ok && edits.setConstant (0.0f).wasChanged();
        sample();
        ok = ok && edits.undo().wasChanged();
        sample();
        ok = ok && edits.redo().wasChanged();
        sample();
        ok = ok && edits.multiplySelection (0.5f).wasChanged();
        sample();
        juce::Random r (9);
        constexpr int size = 61;
        for (int i = 0; i < 50 && ok; ++i)
        {
            SelectionUpdate u;
            u.x1 = r.nextInt (asig->getNumFrames() - size);
            u.y1 = r.nextInt (asig->getNumFreqs() - size);
            u.x2 = u.x1 + size - 1;
            u.y2 = u.y1 + size - 1;
            u.values = wandBlob (size, i);
            SelectionHelper::setSelectionMode (i == 0 ? SelectionMode::replace : SelectionMode::addPoint, u);
            ok = edits.applySelectionUpdate (u, "Wand selection").wasChanged();
        }
        sample();
        ok = ok && edits.growSelection (3, 2).wasChanged();
        sample();
        for (int i = 0; i < 5 && ok; ++i)
            ok = edits.undo().wasChanged();
        sample();
        if (! ok)
            state.SkipWithError ("an edit failed");

        state.PauseTiming();
        state.counters["history_scratch_MB"] = (double) edits.getHistoryUsage().scratchBytes / (1 << 20);
        state.counters["history_memory_MB"] = (double) edits.getHistoryUsage().memoryBytes / (1 << 20);
        track = nullptr;
        benchFolder().getChildFile ("long" + juce::String (minutes)).deleteRecursively();
        state.ResumeTiming();
    }
    state.counters["opened_anon_MB"] = baseAnonymous / 1024.0;
    state.counters["opened_rss_MB"] = baseAll / 1024.0;
    state.counters["edits_anon_growth_MB"] = (peakAnonymous - baseAnonymous) / 1024.0;
    state.counters["edits_rss_growth_MB"] = (peakAll - baseAll) / 1024.0;
}
} // namespace

void SpectrogramScrollResident (benchmark::State& state)
{
    const auto minutes = (int) state.range (0);
    for (auto _ : state)
    {
        state.PauseTiming();
        auto track = openLongSong (state, minutes);
        if (track == nullptr)
            return;
        const auto [baseAnonymous, baseAll] = residentKb();
        double peakAnonymous = baseAnonymous;
        size_t peakCache = 0;
        state.ResumeTiming();

        // A view of 30 s at a time, from the start to the end.
        Spectrogram s;
        s.setTrack (track);
        const auto step = 30 * rate / track->getGeometry().getHop();
        int views = 0;
        for (int first = 0; first < s.getImageWidth(); first += step, ++views)
        {
            s.setVisibleArea ({ first, first + step }, { 0, s.getImageHeight() });
            if (! s.waitUntilCurrent (60000))
                state.SkipWithError ("a view was not made");
            peakCache = std::max (peakCache, s.getCachedBytes());
            peakAnonymous = std::max (peakAnonymous, residentKb().first);
        }
        state.PauseTiming();
        state.counters["views"] = views;
        state.counters["chunks_peak_MB"] = (double) peakCache / (1 << 20);
        state.counters["whole_image_MB"] = (double) s.getNumChunks() * Spectrogram::bytesPerChunk / (1 << 20);
        state.counters["anon_growth_MB"] = (peakAnonymous - baseAnonymous) / 1024.0;
        state.counters["s_per_view"] = benchmark::Counter (views, benchmark::Counter::kIsIterationInvariantRate
                                                                      | benchmark::Counter::kInvert);
        state.ResumeTiming();
    }
}

BENCHMARK (UndoWholeTrackMaskChange)->Unit (benchmark::kMillisecond)->Iterations (5)->UseRealTime();
BENCHMARK (WriteWholeTrackMaskBound)->Unit (benchmark::kMillisecond)->Iterations (5)->UseRealTime();
BENCHMARK (HistoryAfterWandEdits)->Unit (benchmark::kMillisecond)->Iterations (3)->UseRealTime();
BENCHMARK (SpectrogramFirstPixels)->Unit (benchmark::kMillisecond)->Iterations (10)->UseRealTime();
BENCHMARK (VisibleFramesRead)->Unit (benchmark::kMillisecond)->Iterations (10)->UseRealTime();
BENCHMARK (SpectrogramWholeView)->Unit (benchmark::kMillisecond)->Iterations (10)->UseRealTime();
BENCHMARK (SpectrogramAfterErase)->Unit (benchmark::kMillisecond)->Iterations (10)->UseRealTime();
BENCHMARK (SpectrogramScrollResident)->Arg (5)->Arg (60)->Unit (benchmark::kMillisecond)->Iterations (1)->UseRealTime();
BENCHMARK (EraseHeard)->Unit (benchmark::kMillisecond)->Iterations (20)->UseRealTime();
BENCHMARK (EraseAlone)->Unit (benchmark::kMillisecond)->Iterations (20)->UseRealTime();
BENCHMARK (EditsResident)->Arg (5)->Arg (60)->Unit (benchmark::kMillisecond)->Iterations (1)->UseRealTime();
