// The application's own speed, beside bounds measured in the same run. A plain program
// rather than a Google Benchmark: each figure is a whole user-visible event.
//
//   startup [runs]  process start to the first painted main window of KalderPro, beside
//                   the same for a bare JUCE window (this program with --plain-window)
//   open [runs] [minutes]  a stereo 44.1 kHz WAV (5 minutes unless told) dropped on the
//                   window: time until it is the playable master, from pressing Play
//                   then to its first sound, and until it is fully analysed; the longest
//                   stall of the message thread meanwhile; beside TrackLoader::openTrack
//                   of the same file with its analysis, with no window (what the modal
//                   open took before the song was playable)
//   scroll [steps]  the same song in the spectral editor: the time from a scroll or zoom
//                   step to its OpenGL frame drawn (p50, p99, max), beside the same for a
//                   frame that changes nothing (the bound), and the first drawn frame
//                   after opening
//   project [runs]  the same song as a 3-track project (the master and two children,
//                   each with an erase): the first save, a resave of the unchanged
//                   project beside writing its project file alone (the bound), a reopen
//                   beside reading its bytes with a plain loop (the bound; each from a
//                   cold page cache when run as root) and copying them (an open copies
//                   the data files into its working folder), and
//                   the longest message-thread stall while an autosave is written
//
// Needs a display: run under xvfb-run (see docs/PERFORMANCE.md).
#include "app/DisplayCheck.h"
#include "app/TarnApplication.h"
#include "appcore/SettingsManager.h"
#include "base/DurableFile.h"
#include "editing/ManualEditManager.h"
#include "project/ProjectLoader.h"
#include "tracks/TrackLoader.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace kalder;

namespace
{
constexpr int rate = 44100;
constexpr int songSeconds = 300;
constexpr const char* plainWindowFlag = "--plain-window";

double now()
{
    return juce::Time::getMillisecondCounterHiRes();
}

juce::String loadAverage()
{
    return juce::File ("/proc/loadavg").loadFileAsString().upToFirstOccurrenceOf (" ", false, false) + " (1-minute load average)";
}

struct Summary
{
    double median = 0, min = 0, max = 0;
};

Summary summarise (std::vector<double> values)
{
    if (values.empty())
        return {};
    std::sort (values.begin(), values.end());
    const auto n = values.size();
    const auto median = n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
    return { median, values.front(), values.back() };
}

void print (const char* what, const Summary& s)
{
    std::printf ("  %-44s median %8.1f ms   min %8.1f   max %8.1f\n", what, s.median, s.min, s.max);
}

//==============================================================================
// The peer of the start-up figure: a bare JUCE application whose window has the main
// window's size and reports its first paint the way KalderPro does.
class PlainWindowApplication : public juce::JUCEApplication
{
public:
    const juce::String getApplicationName() override { return "Plain window"; }
    const juce::String getApplicationVersion() override { return "1.0"; }
    bool moreThanOneInstanceAllowed() override { return true; }

    void initialise (const juce::String&) override
    {
        const juce::File report (getCommandLineParameterArray()[1]);
        window = std::make_unique<juce::DocumentWindow> ("Plain window", juce::Colours::black, juce::DocumentWindow::allButtons);
        window->setUsingNativeTitleBar (true);
        window->setContentOwned (new Content (report), true);
        window->centreWithSize (window->getWidth(), window->getHeight());
        window->setVisible (true);
    }

    void shutdown() override { window = nullptr; }

private:
    struct Content : juce::Component
    {
        explicit Content (juce::File f) : file (std::move (f)) { setSize (1000, 640); } // the main window's first size
        void paint (juce::Graphics& g) override
        {
            g.fillAll (juce::Colours::darkgrey);
            if (! reported)
            {
                reported = true;
                juce::MessageManager::callAsync ([f = file] { f.create(); });
            }
        }
        juce::File file;
        bool reported = false;
    };

    std::unique_ptr<juce::DocumentWindow> window;
};

juce::JUCEApplicationBase* createPlainWindowApplication()
{
    return new PlainWindowApplication();
}

/** Milliseconds from starting command until report exists, or a negative number. */
double timeToFirstPaint (const juce::StringArray& command, const juce::File& report)
{
    constexpr double timeoutMs = 30000.0;
    report.deleteFile();
    juce::ChildProcess process;
    const auto start = now();
    if (! process.start (command, 0))
        return -1.0;
    while (! report.exists())
    {
        if (now() - start > timeoutMs || ! process.isRunning())
        {
            process.kill();
            return -1.0;
        }
        std::this_thread::sleep_for (std::chrono::microseconds (200)); // the figure's resolution
    }
    const auto elapsed = now() - start;
    process.kill();
    process.waitForProcessToFinish (5000);
    return elapsed;
}

int benchStartup (int runs, const juce::File& work)
{
    const auto self = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getFullPathName();
    const auto report = work.getChildFile ("first-paint");
    ::setenv (MainContentComponent::firstPaintFileVariable, report.getFullPathName().toRawUTF8(), 1);
    ::setenv ("KALDER_AUDIO_DEVICE", "null", 1);

    std::vector<double> app, plain;
    for (int i = 0; i < runs; ++i)
    {
        // A fresh data folder each time: the start of a new install, settings written.
        const auto home = work.getChildFile ("home" + juce::String (i));
        ::setenv ("KALDER_HOME", home.getFullPathName().toRawUTF8(), 1);
        const auto a = timeToFirstPaint ({ KALDER_APP_PATH }, report);
        const auto p = timeToFirstPaint ({ self, plainWindowFlag, report.getFullPathName() }, report);
        if (a < 0 || p < 0)
        {
            std::fprintf (stderr, "startup: a window never painted (run %d)\n", i);
            return 1;
        }
        app.push_back (a);
        plain.push_back (p);
    }
    const auto a = summarise (app), p = summarise (plain);
    std::printf ("startup: process start to first painted window, %d runs each, interleaved\n", runs);
    print ("KalderPro", a);
    print ("bare JUCE window (bound)", p);
    std::printf ("  ratio of medians: %.2f\n", a.median / p.median);
    return 0;
}

//==============================================================================
/** Measures how long the message thread takes to run a message posted from another
    thread, one message at a time: the longest wait is the longest stall. */
class StallProbe
{
public:
    StallProbe()
    {
        thread = std::thread ([this] {
            while (! stopping.load())
            {
                const auto posted = now();
                juce::MessageManager::callAsync ([this, posted] {
                    record (posted, now());
                    handled.signal();
                });
                handled.wait (-1);
                std::this_thread::sleep_for (std::chrono::milliseconds (1)); // between probes
            }
            finished = true;
        });
    }

    /** Message thread: runs the loop until the last probe has been answered. */
    ~StallProbe()
    {
        stopping = true;
        while (! finished.load())
            juce::MessageManager::getInstance()->runDispatchLoopUntil (1);
        thread.join();
    }

    /** Forgets what was measured; the next stalls count from here. */
    void reset()
    {
        const juce::ScopedLock sl (lock);
        longest = 0.0;
        longestAt = 0.0;
        origin = now();
        probes = 0;
    }

    double getLongest() const
    {
        const juce::ScopedLock sl (lock);
        return longest;
    }

    double getLongestAt() const
    {
        const juce::ScopedLock sl (lock);
        return longestAt;
    }

    int getProbes() const
    {
        const juce::ScopedLock sl (lock);
        return probes;
    }

private:
    void record (double posted, double ran)
    {
        const juce::ScopedLock sl (lock);
        ++probes;
        if (ran - posted > longest)
        {
            longest = ran - posted;
            longestAt = posted - origin;
        }
    }

    std::thread thread;
    std::atomic<bool> stopping { false }, finished { false };
    juce::WaitableEvent handled;
    juce::CriticalSection lock;
    double longest = 0.0, longestAt = 0.0, origin = 0.0;
    int probes = 0;
};

double percentile (std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort (values.begin(), values.end());
    return values[(size_t) juce::jlimit (0.0, (double) values.size() - 1, std::ceil (p * (double) values.size()) - 1)];
}

juce::JUCEApplicationBase* noApplication()
{
    return nullptr;
}

bool writeSong (const juce::File& file, int seconds = songSeconds)
{
    // Noise with a slow swell: every bin has energy, like a dense mix. Written a minute
    // at a time, so that an hour needs no hour of samples in memory.
    file.deleteFile();
    auto stream = std::make_unique<juce::FileOutputStream> (file);
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (stream.get(), rate, 2, 16, {}, 0));
    if (writer == nullptr)
        return false;
    stream.release();
    juce::Random random (7);
    juce::AudioBuffer<float> audio (2, 60 * rate);
    for (juce::int64 start = 0; start < (juce::int64) seconds * rate; start += audio.getNumSamples())
    {
        const auto n = (int) juce::jmin ((juce::int64) audio.getNumSamples(), (juce::int64) seconds * rate - start);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < n; ++i)
                audio.setSample (c, i, (random.nextFloat() - 0.5f) * (0.3f + 0.2f * std::sin ((float) (start + i) * 1.0e-5f)));
        if (! writer->writeFromAudioSampleBuffer (audio, 0, n))
            return false;
    }
    return true;
}

bool pumpUntil (const std::function<bool()>& condition, double timeoutMs)
{
    const auto deadline = now() + timeoutMs;
    while (! condition())
    {
        if (now() > deadline)
            return false;
        juce::MessageManager::getInstance()->runDispatchLoopUntil (1);
    }
    return true;
}

/** Starts the application with its window; nullptr when it never showed. */
std::unique_ptr<TarnApplication> startApplication (const juce::File& work)
{
    ::setenv ("KALDER_HOME", work.getChildFile ("home").getFullPathName().toRawUTF8(), 1);
    ::setenv ("KALDER_AUDIO_DEVICE", "null", 1);
    juce::JUCEApplicationBase::createInstance = &noApplication;
    auto app = std::make_unique<TarnApplication>();
    app->initialise ({});
    if (! pumpUntil ([&] { return app->getMainWindow() != nullptr; }, 10000))
        return nullptr;
    pumpUntil ([] { return false; }, 500); // ms: the window settles
    return app;
}

int benchOpen (int runs, int minutes, const juce::File& work)
{
    const auto song = work.getChildFile ("song.wav");
    if (! writeSong (song, minutes * 60))
    {
        std::fprintf (stderr, "open: the test song could not be written\n");
        return 1;
    }

    const juce::ScopedJuceInitialiser_GUI juce;

    // Beside: the same file opened and analysed by the engine alone, on a thread of its
    // own, as the window's modal open did. The first open (FFT plans, the file into the
    // page cache) is a warm-up for both.
    std::vector<double> engine;
    for (int i = -1; i < runs; ++i)
    {
        const auto folder = work.getChildFile ("engine" + juce::String (i + 1));
        auto result = juce::Result::ok();
        AudioTrack::Ptr track;
        const auto start = now();
        std::thread ([&] {
            track = TrackLoader::openTrack (song, folder, "song", AudioTrack::OriginId::master, nullptr, result);
        }).join();
        if (i >= 0)
            engine.push_back (now() - start);
        if (track == nullptr)
        {
            std::fprintf (stderr, "open: %s\n", result.getErrorMessage().toRawUTF8());
            return 1;
        }
        track->deleteFiles();
        track = nullptr;
        folder.deleteRecursively();
    }
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50); // ms: the tracks' posted updates

    auto app = startApplication (work);
    if (app == nullptr)
        return 1;
    auto& content = app->getMainWindow()->getContent();
    auto& mixer = app->getMixer();
    if (const auto view = juce::SystemStats::getEnvironmentVariable ("KALDER_BENCH_VIEW", {}); view.isNotEmpty())
        SettingsManager::getInstance().setDefaultEditor (view); // to tell the views' share of the stalls

    double playableAt = 0.0;
    content.onMasterTrackChanged = [&, previous = content.onMasterTrackChanged] {
        playableAt = now();
        if (previous)
            previous();
    };
    auto heard = [&] {
        for (auto p : mixer.getLastPeak())
            if (p > 0.01f)
                return true;
        return false;
    };

    std::vector<double> playable, sound, analysed, stalls;
    int soundWhileAnalysing = 0;
    {
        StallProbe probe;
        for (int i = 0; i < runs; ++i)
        {
            pumpUntil ([] { return false; }, 300); // ms: the previous track's files are let go
            probe.reset();
            playableAt = 0.0;
            const auto start = now();
            content.filesDropped ({ song.getFullPathName() }, 10, 10); // as the user drops it
            const auto ok = pumpUntil (
                [&] {
                    auto master = mixer.getMasterTrack();
                    return playableAt > 0.0 && ! content.isOpeningFile() && master != nullptr && master->isPlayable();
                },
                120000);
            if (! ok)
            {
                std::fprintf (stderr, "open: the song never became playable\n");
                return 1;
            }
            const auto master = mixer.getMasterTrack();
            const auto analysingAtPlay = ! master->isStoreReady();
            const auto pressed = now();
            content.playButtonClicked();
            if (! pumpUntil (heard, 10000))
            {
                std::fprintf (stderr, "open: no sound after Play\n");
                return 1;
            }
            const auto firstSound = now() - pressed;
            content.stopButtonClicked();
            soundWhileAnalysing += analysingAtPlay && ! master->isStoreReady() ? 1 : 0;
            if (! pumpUntil ([&] { return master->isStoreReady(); }, 600000))
            {
                std::fprintf (stderr, "open: the analysis never finished\n");
                return 1;
            }
            const auto done = now() - start;
            pumpUntil ([] { return false; }, 200); // ms: the overview's outline and the first repaint
            playable.push_back (playableAt - start);
            sound.push_back (firstSound);
            analysed.push_back (done);
            stalls.push_back (probe.getLongest());
            std::printf ("  run %d: playable after %.1f ms, sound %.1f ms after Play%s, analysed after %.1f ms; "
                         "longest stall %.2f ms at %.0f ms; %d probes\n",
                         i, playableAt - start, firstSound, analysingAtPlay ? " (still analysing)" : "", done, probe.getLongest(),
                         juce::jmax (0.0, probe.getLongestAt()), probe.getProbes());
        }
    }

    juce::ModalComponentManager::getInstance()->cancelAllModalComponents();
    app->shutdown();
    app.reset();

    const auto p = summarise (playable), f = summarise (sound), a = summarise (analysed), e = summarise (engine),
               s = summarise (stalls);
    std::printf ("open: a %d-minute stereo 44.1 kHz 16-bit WAV dropped on the window, %d runs\n", minutes, runs);
    print ("drop to playable master (window)", p);
    print ("Play to first sound (window)", f);
    std::printf ("  first sound came while the song was still being analysed in %d of %d runs\n", soundWhileAnalysing, runs);
    print ("drop to fully analysed (window)", a);
    print ("TrackLoader::openTrack with its analysis (the modal open)", e);
    std::printf ("  drop to first sound / the modal open: %.3f\n", (p.median + f.median) / e.median);
    std::printf ("  drop to fully analysed / the modal open: %.2f\n", a.median / e.median);
    std::printf ("  longest message-thread stall: median %.2f ms, max %.2f ms (target 50 ms)\n", s.median, s.max);
    return 0;
}
/** Writes dirty pages out and empties the page cache, so that what follows reads from
    the disk; false when this user may not (then every figure is from the cache). */
bool dropCaches()
{
    ::sync();
    auto* f = std::fopen ("/proc/sys/vm/drop_caches", "w");
    const auto ok = f != nullptr && std::fputs ("3", f) >= 0;
    return f != nullptr && std::fclose (f) == 0 && ok;
}

/** Milliseconds a plain loop takes to copy (or, to == File(), only read) the files. */
double plainCopy (const juce::Array<juce::File>& files, const juce::File& to, juce::int64& bytes)
{
    bytes = 0;
    std::vector<char> buffer (1 << 20);
    const auto start = now();
    for (const auto& f : files)
    {
        juce::FileInputStream in (f);
        std::unique_ptr<juce::FileOutputStream> out;
        if (to != juce::File())
            out = std::make_unique<juce::FileOutputStream> (to.getChildFile (f.getFileName()));
        for (int n; (n = in.read (buffer.data(), (int) buffer.size())) > 0;)
        {
            bytes += n;
            if (out != nullptr)
                out->write (buffer.data(), (size_t) n);
        }
    }
    return now() - start;
}

int benchProject (int runs, const juce::File& work)
{
    const auto song = work.getChildFile ("five-minutes.wav");
    if (! song.existsAsFile() && ! writeSong (song))
        return 1;
    const juce::ScopedJuceInitialiser_GUI juce;
    auto app = startApplication (work);
    if (app == nullptr)
        return 1;
    auto& content = app->getMainWindow()->getContent();
    auto& mixer = app->getMixer();
    if (const auto view = juce::SystemStats::getEnvironmentVariable ("KALDER_BENCH_VIEW", {}); view.isNotEmpty())
        SettingsManager::getInstance().setDefaultEditor (view); // to tell the views' share of the stalls
    auto& projects = content.getProjects();
    content.filesDropped ({ song.getFullPathName() }, 10, 10);
    if (! pumpUntil (
            [&] {
                return ! content.isOpeningFile() && mixer.getMasterTrack() != nullptr && mixer.getMasterTrack()->isStoreReady();
            },
            120000))
        return 1;
    auto master = mixer.getMasterTrack();
    for (const auto* name : { "child one", "child two" })
    {
        auto result = juce::Result::ok();
        AudioTrack::Ptr child;
        std::thread ([&] {
            child = TrackLoader::openTrack (song, work.getChildFile (name), name, AudioTrack::OriginId::separation, nullptr,
                                            result);
        }).join();
        if (child == nullptr)
            return 1;
        child->setParentTrack (master.get());
        mixer.addTrack (child);
    }
    int edits = 0;
    const auto editEveryTrack = [&] {
        for (auto* t : mixer.getAllTracks())
            t->getManualEditManager().erase (100 + 50 * edits, 10, 400 + 50 * edits, 900, 3.0, 1.0);
        ++edits;
    };
    editEveryTrack();
    const auto file = work.getChildFile ("project/song.orv");
    file.getParentDirectory().createDirectory();

    auto start = now();
    if (projects.saveTo (file).failed())
        return 1;
    const auto firstSave = now() - start;

    // Resave of the unchanged project, beside writing its project file alone.
    std::vector<double> resave, bound;
    juce::MemoryBlock orv;
    file.loadFileAsData (orv);
    for (int i = 0; i < runs; ++i)
    {
        start = now();
        if (projects.saveTo (file).failed())
            return 1;
        resave.push_back (now() - start);
        start = now();
        if (DurableFile::replaceWithData (work.getChildFile ("bound.orv"), orv.getData(), orv.getSize()).failed())
            return 1;
        bound.push_back (now() - start);
    }

    // Reopen, beside copying and reading the same files with a plain loop.
    juce::Array<juce::File> files;
    for (const auto& e : juce::RangedDirectoryIterator (file.getSiblingFile (ProjectLoader::dataFolderName), false))
        files.add (e.getFile());
    files.add (file);
    // Each from a cold page cache: the disk's own bandwidth is the bound.
    std::vector<double> reopen, copied, read;
    juce::int64 bytes = 0;
    bool cold = true;
    for (int i = 0; i < runs; ++i)
    {
        std::optional<juce::Result> opened;
        projects.onOpened = [&opened] (const juce::Result& r) { opened = r; };
        cold = dropCaches() && cold;
        start = now();
        projects.open (file);
        if (! pumpUntil ([&] { return opened.has_value(); }, 300000) || opened->failed())
            return 1;
        reopen.push_back (now() - start);
        pumpUntil ([] { return false; }, 300); // ms: the replaced tracks' files are let go
        const auto copyFolder = work.getChildFile ("copy");
        copyFolder.deleteRecursively();
        copyFolder.createDirectory();
        cold = dropCaches() && cold;
        copied.push_back (plainCopy (files, copyFolder, bytes));
        cold = dropCaches() && cold;
        read.push_back (plainCopy (files, {}, bytes));
        copyFolder.deleteRecursively();
    }

    // Autosaves of an edited project, with the message thread probed meanwhile.
    // The peer: the same probe over half a second after the same edit, without an autosave.
    std::vector<double> stalls, autosaves, quiet;
    {
        StallProbe probe;
        for (int i = 0; i < runs; ++i)
        {
            editEveryTrack();
            pumpUntil ([] { return false; }, 100); // ms: the edit's own updates settle
            probe.reset();
            pumpUntil ([] { return false; }, 500); // ms: well before the autosave after an edit
            quiet.push_back (probe.getLongest());
            std::optional<juce::Result> written;
            projects.onAutosaved = [&written] (const juce::Result& r) { written = r; };
            probe.reset();
            start = now();
            projects.autosaveNow();
            if (! pumpUntil ([&] { return written.has_value(); }, 300000) || written->failed())
                return 1;
            autosaves.push_back (now() - start);
            stalls.push_back (probe.getLongest());
        }
    }
    projects.discardAutosave();
    juce::ModalComponentManager::getInstance()->cancelAllModalComponents();
    app->shutdown();
    app.reset();

    std::printf ("project: a %d-second stereo song as master and two children, each with an erase (%.0f MB on disk), %d runs\n",
                 songSeconds, (double) bytes / 1.0e6, runs);
    std::printf ("  first save: %.0f ms\n", firstSave);
    const auto r = summarise (resave), b = summarise (bound);
    print ("resave unchanged (target 200 ms)", r);
    print ("the project file alone, synced (bound)", b);
    std::printf ("  ratio of medians: %.2f\n", r.median / b.median);
    const auto o = summarise (reopen), c = summarise (copied), rd = summarise (read);
    std::printf ("  reopen, copy and read each from %s\n",
                 cold ? "a cold page cache (dropped before each)" : "the page cache (it could not be dropped: not root)");
    print ("reopen", o);
    print ("plain read of its files (bound)", rd);
    print ("plain copy of its files", c);
    std::printf ("  ratio of medians: %.2f over the read (target 1.5), %.2f over the copy; read bandwidth %.0f MB/s\n",
                 o.median / rd.median, o.median / c.median, (double) bytes / 1.0e3 / rd.median);
    const auto a = summarise (autosaves), st = summarise (stalls);
    print ("autosave after an edit of every track", a);
    std::printf ("  longest message-thread stall: median %.2f ms, max %.2f ms (target 50 ms)\n", st.median, st.max);
    const auto q = summarise (quiet);
    std::printf ("  the same after an edit without an autosave (peer): median %.2f ms, max %.2f ms\n", q.median, q.max);
    return 0;
}

int benchScroll (int steps, const juce::File& work)
{
    const auto song = work.getChildFile ("five-minutes.wav");
    if (! song.existsAsFile() && ! writeSong (song))
        return 1;
    const juce::ScopedJuceInitialiser_GUI juce;
    auto app = startApplication (work);
    if (app == nullptr)
        return 1;
    auto& content = app->getMainWindow()->getContent();
    auto& view = content.getSpectrogramView();
    const auto dropped = now();
    content.filesDropped ({ song.getFullPathName() }, 10, 10);
    auto& gl = view.getOpenGLHelper();
    gl.setFinishFrames (true);
    // The first frame that draws a chunk of the new song, and when the song was open.
    double openedAt = 0.0;
    auto analysed = [&] {
        auto master = app->getMixer().getMasterTrack();
        return master != nullptr && master->isStoreReady();
    };
    if (! pumpUntil (
            [&] {
                if (openedAt == 0.0 && analysed())
                    openedAt = now();
                return view.isShowing() && view.isUsingOpenGL() && gl.getChunksDrawn() > 0;
            },
            120000))
    {
        std::fprintf (stderr, "scroll: the spectral editor never drew with OpenGL\n");
        return 1;
    }
    const auto firstPixels = now() - dropped;
    // The steps start on an analysed song: the analysis would share the cores with them.
    if (! pumpUntil (analysed, 120000))
    {
        std::fprintf (stderr, "scroll: the song was never analysed\n");
        return 1;
    }
    view.getSpectrogram().waitUntilCurrent (60000);

    // Each step: a change, then the time until the frame after it has been drawn.
    auto frameAfter = [&] (const std::function<void()>& change) {
        const auto before = gl.getNumFrames();
        const auto start = now();
        change();
        view.repaint();
        pumpUntil ([&] { return gl.getNumFrames() > before; }, 5000);
        return now() - start;
    };
    // Two passes over the song: in the first the view's chunks are made as it reaches
    // them (the whole song was drawn from a coarser image), in the second they are all
    // made already.
    struct Pass
    {
        std::vector<double> still, moving;
        int chunksMade = 0;
    };
    std::array<Pass, 2> passes;
    auto& area = view.getFocusArea();
    view.setVisibleArea ({ 0.0, 0.05 }, { 0.0, 1.0 }); // 15 seconds on screen
    pumpUntil ([] { return false; }, 300);
    for (auto& pass : passes)
    {
        const auto versions = view.getSpectrogram().getImageVersion();
        for (int i = 0; i < steps; ++i)
        {
            pass.still.push_back (frameAfter ([] {}));
            pass.moving.push_back (frameAfter ([&] {
                if (i % 4 == 3)
                    view.zoomAroundPoint ({ view.getWidth() * 0.5f, view.getHeight() * 0.5f }, (i / 4) % 2 == 0 ? -40.0 : 40.0,
                                          0.0);
                else
                    view.scrollBy (0.05, 0.0); // a twentieth of the view per step
                if (area.getVisibleX().getEnd() >= 1.0)
                    view.setVisibleArea ({ 0.0, area.getWidth() }, { 0.0, 1.0 });
            }));
        }
        pass.chunksMade = (int) (view.getSpectrogram().getImageVersion() - versions);
        view.getSpectrogram().waitUntilCurrent (60000);
    }
    // An erase over the whole view: until its chunks are made again and drawn.
    auto track = app->getMixer().getMasterTrack();
    auto& edits = track->getManualEditManager();
    const auto iw = (double) view.getSpectrogram().getImageWidth();
    const juce::Range<int> frames ((int) (area.getVisibleX().getStart() * iw), (int) (area.getVisibleX().getEnd() * iw));
    std::vector<double> eraseAlone, eraseShown;
    for (int i = 0; i < 5; ++i)
    {
        edits.rectangleSelect (frames.getStart(), 0, frames.getEnd() - 1, view.getSpectrogram().getImageHeight() - 1,
                               SelectionMode::replace);
        view.getSpectrogram().waitUntilCurrent (10000);
        pumpUntil ([] { return false; }, 100);
        const auto start = now();
        edits.setConstant (i % 2 == 0 ? 0.0f : 1.0f); // erase, then give it back
        eraseAlone.push_back (now() - start);
        // Until the chunks are current, then until a frame has been drawn after that.
        juce::uint64 framesWhenCurrent = 0;
        pumpUntil (
            [&] {
                if (framesWhenCurrent == 0)
                {
                    auto& s = view.getSpectrogram();
                    for (auto index : s.getChunksCovering (frames, { 0, s.getImageHeight() }))
                        if (! s.isChunkCurrent (index))
                            return false;
                    framesWhenCurrent = gl.getNumFrames() + 1;
                }
                return gl.getNumFrames() > framesWhenCurrent;
            },
            10000);
        eraseShown.push_back (now() - start);
    }
    app->shutdown();
    app.reset();

    std::printf ("scroll: a %d-second song in the spectral editor, %d steps (scroll by 1/20 of the view, every fourth a zoom)\n",
                 songSeconds, steps);
    // The editor shows the song while it is analysed: its first frame may come first.
    if (openedAt == 0.0)
        std::printf ("  drop to first drawn spectrogram frame: %.1f ms, while the song was still analysed\n", firstPixels);
    else
        std::printf ("  drop to first drawn spectrogram frame: %.1f ms, of which %.1f ms after the song was analysed\n",
                     firstPixels, dropped + firstPixels - openedAt);
    for (size_t p = 0; p < passes.size(); ++p)
    {
        auto& [still, moving, made] = passes[p];
        std::printf ("  pass %d, %d chunks made during it:\n", (int) p + 1, made);
        std::printf ("    frame after a step:   p50 %6.2f ms   p99 %6.2f ms   max %6.2f ms (target p99 16.7 ms)\n",
                     percentile (moving, 0.5), percentile (moving, 0.99), percentile (moving, 1.0));
        std::printf ("    frame changing nothing (bound): p50 %6.2f ms   p99 %6.2f ms\n", percentile (still, 0.5),
                     percentile (still, 0.99));
        std::printf ("    ratio of p99s: %.2f\n", percentile (moving, 0.99) / juce::jmax (0.001, percentile (still, 0.99)));
    }
    std::printf ("  erase of the whole view to its frame drawn: median %.1f ms (target 100 ms), the erase alone %.1f ms\n",
                 summarise (eraseShown).median, summarise (eraseAlone).median);
    return 0;
}
} // namespace

int main (int argc, char* argv[])
{
    std::setvbuf (stdout, nullptr, _IOLBF, 0); // each figure as soon as it is known

    if (argc == 3 && juce::String (argv[1]) == plainWindowFlag)
    {
        juce::JUCEApplicationBase::createInstance = &createPlainWindowApplication;
        return juce::JUCEApplicationBase::main (argc, (const char**) argv);
    }

    if (! DisplayCheck::isDisplayAvailable())
    {
        std::fprintf (stderr, "kalder_ui_bench needs a display: run it under xvfb-run -a\n");
        return 1;
    }

    const juce::String which = argc > 1 ? argv[1] : "all";
    const auto runs = argc > 2 ? juce::jmax (1, juce::String (argv[2]).getIntValue()) : 0;
    const auto work = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("kalder-ui-bench", {});
    work.createDirectory();

    std::printf ("load before: %s\n", loadAverage().toRawUTF8());
    int result = 0;
    if (which == "startup" || which == "all")
        result |= benchStartup (runs > 0 ? runs : 10, work);
    if (which == "open" || which == "all")
        result |= benchOpen (runs > 0 ? runs : 3, argc > 3 ? juce::jmax (1, juce::String (argv[3]).getIntValue()) : 5, work);
    if (which == "project" || which == "all")
        result |= benchProject (runs > 0 ? runs : 3, work);
    if (which == "scroll" || which == "all")
        result |= benchScroll (runs > 0 ? runs : 400, work);
    std::printf ("load after: %s\n", loadAverage().toRawUTF8());

    work.deleteRecursively();
    return result;
}
