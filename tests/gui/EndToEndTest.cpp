#include "GuiTestSupport.h"

#include "app/CrashRecoveryComponent.h"
#include "appcore/DirectoryManager.h"
#include "appcore/HelpPages.h"
#include "project/ProjectLoader.h"
#include "support/AudioTestFiles.h"
#include "support/TestTracks.h"
#include "tracks/TrackIds.h"
#include "ui/MixerComponent.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

using namespace kalder;
using namespace kalder::test;

namespace
{
constexpr int rate = 44100;
constexpr int bytesPerCapturedFrame = 2 * 4; // the capture is stereo 32-bit float

/** Runs a tool to the end and returns its output. */
juce::String runTool (const juce::StringArray& command)
{
    juce::ChildProcess process;
    if (! process.start (command))
        return {};
    auto output = process.readAllProcessOutput();
    process.waitForProcessToFinish (10000);
    return output;
}

/** Waits for a window whose title contains name; returns its X window id, or empty. */
juce::String waitForWindow (const juce::String& name, int timeoutMs)
{
    juce::String id;
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
    while (id.isEmpty() && juce::Time::getMillisecondCounter() < deadline)
    {
        // Only a number is a window: on a busy machine the tool may print an error
        // instead (it could not reach the server for a moment), which is not an answer.
        id = runTool ({ "xdotool", "search", "--name", name }).trim().upToFirstOccurrenceOf ("\n", false, false).trim();
        if (! id.containsOnly ("0123456789"))
            id = {};
        if (id.isEmpty())
            juce::Thread::sleep (50); // between polls of the X server
    }
    return id;
}

/** The window's bounds on the screen, from the window tool. */
juce::Rectangle<int> windowBounds (const juce::String& window)
{
    const auto text = runTool ({ "xdotool", "getwindowgeometry", window });
    const auto position = text.fromFirstOccurrenceOf ("Position:", false, false).trim().upToFirstOccurrenceOf (" ", false, false);
    const auto size = text.fromFirstOccurrenceOf ("Geometry:", false, false).trim().upToFirstOccurrenceOf ("\n", false, false);
    return { position.upToFirstOccurrenceOf (",", false, false).getIntValue(),
             position.fromFirstOccurrenceOf (",", false, false).getIntValue(),
             size.upToFirstOccurrenceOf ("x", false, false).getIntValue(),
             size.fromFirstOccurrenceOf ("x", false, false).getIntValue() };
}

/** The spectral editor in a screenshot of the window: its largest run of dark or
    saturated pixels (silence is black, sound is coloured, the panels around it are
    grey), or nothing when no editor is seen; what was seen goes to seen. */
std::optional<juce::Rectangle<int>> editorIn (const juce::Image& shot, juce::Rectangle<int> window, juce::String& seen)
{
    auto inEditor = [&] (int x, int y) {
        const auto c = shot.getPixelAt (x, y);
        return c.getBrightness() < 0.08f || c.getSaturation() > 0.5f;
    };
    auto longestRun = [] (int from, int to, const std::function<bool (int)>& in) {
        juce::Range<int> best, run (from, from);
        for (int i = from; i < to; ++i)
        {
            run = in (i) ? run.withEnd (i + 1) : juce::Range<int> (i + 1, i + 1);
            if (run.getLength() > best.getLength())
                best = run;
        }
        return best;
    };
    window = window.getIntersection (shot.getBounds());
    seen = "window " + window.toString();
    const auto columns = longestRun (window.getX(), window.getRight(), [&] (int x) { return inEditor (x, window.getCentreY()); });
    if (columns.getLength() < 100)
        return std::nullopt;
    const auto x = columns.getStart() + columns.getLength() / 3;
    const auto rows = longestRun (window.getY(), window.getBottom(), [&] (int y) { return inEditor (x, y); });
    seen << ", editor columns " << columns.getStart() << ".." << columns.getEnd() << " rows " << rows.getStart() << ".."
         << rows.getEnd();
    if (rows.getLength() < 100)
        return std::nullopt;
    return juce::Rectangle<int> (columns.getStart(), rows.getStart(), columns.getLength(), rows.getLength());
}

/** How long a screenshot may wait for the spectral editor: the song is analysed after it
    opens, on a machine that may be running other tests. */
constexpr double editorTimeoutMs = 20000.0;

/** The editor in the window, from screenshots (the chunks under the view may still be
    coming: a few tries); shot is the file the last screenshot went to. */
std::optional<juce::Rectangle<int>> waitForEditor (const juce::String& window, const juce::File& shot, juce::String& seen)
{
    // The song opens playable and its analysis (then the editor) follows: a bounded wait.
    const auto deadline = juce::Time::getMillisecondCounterHiRes() + editorTimeoutMs;
    for (int attempt = 0; attempt == 0 || juce::Time::getMillisecondCounterHiRes() < deadline; ++attempt)
    {
        if (attempt > 0)
            juce::Thread::sleep (300); // ms: between screenshots
        shot.deleteFile();
        runTool ({ "import", "-window", "root", shot.getFullPathName() });
        if (auto editor = editorIn (juce::ImageFileFormat::loadFrom (shot), windowBounds (window), seen))
            return editor;
    }
    return std::nullopt;
}

/** Where a 2 kHz line of a 44.1 kHz song lies in a screenshot of the window, and where
    it should: (brightest row, predicted row) of a column a third into the editor, or
    nothing when no line is seen; what was seen goes to seen. */
std::optional<std::pair<int, int>> toneRowInEditor (const juce::Image& shot, juce::Rectangle<int> window, double hz,
                                                    juce::String& seen)
{
    const auto editor = editorIn (shot, window, seen);
    if (! editor)
        return std::nullopt;
    const auto x = editor->getX() + editor->getWidth() / 3;
    const auto rows = editor->getVerticalRange();
    // The image's top is the highest bin: 2049 bins of 44100 / 4096 Hz.
    const auto top = 2049.0 * rate / 4096.0;
    const auto predicted = rows.getStart() + (int) std::lround ((1.0 - hz / top) * rows.getLength());
    int brightest = -1;
    float best = -1.0f;
    for (int y = juce::jmax (rows.getStart(), predicted - 12); y < juce::jmin (rows.getEnd(), predicted + 12); ++y)
        if (const auto b = shot.getPixelAt (x, y).getBrightness(); b > best)
            best = b, brightest = y;
    seen << ", brightest " << brightest << " (" << best << ") predicted " << predicted;
    // A line: clearly brighter than the image a little above it.
    const auto above = shot.getPixelAt (x, juce::jmax (rows.getStart(), brightest - 12)).getBrightness();
    return best > 0.3f && above < best * 0.5f ? std::optional (std::pair { brightest, predicted }) : std::nullopt;
}

/** Waits (polling) until file is at least size bytes long. */
bool waitForFileSize (const juce::File& file, juce::int64 size, int timeoutMs)
{
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
    while (file.getSize() < size)
    {
        if (juce::Time::getMillisecondCounter() > deadline)
            return false;
        juce::Thread::sleep (20); // between polls of the file
    }
    return true;
}

/** The highest normalised correlation of reference with recorded shifted by up to
    maxLag samples after start. */
double bestCorrelation (const float* reference, int length, const float* recorded, int recordedLength, int start, int maxLag)
{
    double best = 0.0;
    for (int lag = -maxLag; lag <= maxLag; ++lag)
    {
        const auto offset = start + lag;
        if (offset < 0 || offset + length > recordedLength)
            continue;
        double xy = 0.0, xx = 0.0, yy = 0.0;
        for (int i = 0; i < length; ++i)
        {
            xy += (double) reference[i] * recorded[offset + i];
            xx += (double) reference[i] * reference[i];
            yy += (double) recorded[offset + i] * recorded[offset + i];
        }
        if (xx > 0.0 && yy > 0.0)
            best = juce::jmax (best, xy / std::sqrt (xx * yy));
    }
    return best;
}

/** A one-second tone named songName in a folder of its own, and the environment of an
    application run that keeps its data in that folder and plays into the null device. */
struct ToneAndQuietHome
{
    explicit ToneAndQuietHome (const juce::String& songName)
        : song (dir.get().getChildFile (songName)),
          written (writeAudioFile (song, makeSine (2, rate, rate, 440.0), rate)),
          home ("KALDER_HOME", dir.get().getChildFile ("home").getFullPathName()),
          device ("KALDER_AUDIO_DEVICE", "null")
    {
        skipTutorialForThisHome();
    }

    TemporaryDirectory dir;
    const juce::File song;
    const bool written;
    ScopedEnvironment home, device;
};
} // namespace

TEST (EndToEnd, WithoutADisplaySaysHowToRunAndFails)
{
    ScopedEnvironment noDisplay ("DISPLAY", {});
    juce::ChildProcess process;
    ASSERT_TRUE (process.start (juce::StringArray { KALDER_APP_PATH }));
    const auto output = process.readAllProcessOutput();
    ASSERT_TRUE (process.waitForProcessToFinish (10000));
    EXPECT_NE (process.getExitCode(), 0u);
    EXPECT_TRUE (output.contains ("xvfb-run ./kalder run")) << output;
    EXPECT_EQ (output.trim().indexOfChar ('\n'), -1) << "one line: " << output;
}

TEST (EndToEnd, SongOnTheCommandLinePlaysWithSpace)
{
    TemporaryDirectory dir;
    const auto capture = dir.get().getChildFile ("capture.wav");
    const auto song = dir.get().getChildFile ("e2esong.wav");
    // Two seconds: a sweep (unique to correlate with) and a steady 2 kHz tone, to be seen
    // in the editor.
    auto source = makeSweep (2, 2 * rate, rate, 200.0, 4000.0);
    const auto tone = makeSine (2, 2 * rate, rate, 2000.0, 0.25f);
    for (int c = 0; c < 2; ++c)
        source.addFrom (c, 0, tone, c, 0, 2 * rate);
    ASSERT_TRUE (writeAudioFile (song, source, rate));

    ScopedEnvironment home ("KALDER_HOME", dir.get().getChildFile ("home").getFullPathName());

    skipTutorialForThisHome();
    ScopedEnvironment device ("KALDER_AUDIO_DEVICE", "null");
    ScopedEnvironment captureTo ("KALDER_AUDIO_CAPTURE", capture.getFullPathName());

    juce::ChildProcess app;
    ASSERT_TRUE (app.start (juce::StringArray { KALDER_APP_PATH, song.getFullPathName() }, 0));

    // The title names the song once it is open and playable.
    const auto window = waitForWindow ("Kalder Pro - e2esong", 30000);
    ASSERT_TRUE (window.isNotEmpty()) << "the window never showed the opened song";
    ASSERT_TRUE (waitForFileSize (capture, 1, 30000));

    // Before playing (no playhead crossing the picture): the tone is a bright line where
    // the frequency scale puts 2 kHz (the chunks under the view may still be coming: a
    // few tries).
    const juce::File artifacts (KALDER_GUI_ARTIFACTS_DIR);
    artifacts.createDirectory();
    const auto still = artifacts.getChildFile ("main-window-tone.png");
    std::optional<std::pair<int, int>> line;
    juce::String seen;
    const auto deadline = juce::Time::getMillisecondCounterHiRes() + editorTimeoutMs;
    for (int attempt = 0; ! line && (attempt == 0 || juce::Time::getMillisecondCounterHiRes() < deadline); ++attempt)
    {
        if (attempt > 0)
            juce::Thread::sleep (300); // ms: between screenshots
        still.deleteFile();
        runTool ({ "import", "-window", "root", still.getFullPathName() });
        line = toneRowInEditor (juce::ImageFileFormat::loadFrom (still), windowBounds (window), 2000.0, seen);
    }
    ASSERT_TRUE (line.has_value()) << "no bright line in the editor of " << still.getFullPathName() << ": " << seen;
    EXPECT_NEAR (line->first, line->second, 3) << "the 2 kHz line is not where the scale puts it";

    const auto sizeAtSpace = capture.getSize();
    // As a user would: bring the window to the front, then press Space.
    runTool ({ "xdotool", "windowfocus", "--sync", window });
    runTool ({ "xdotool", "key", "space" });

    // Half-way through, keep a picture of the window as the test's artifact.
    const auto perSecond = (juce::int64) rate * bytesPerCapturedFrame;
    ASSERT_TRUE (waitForFileSize (capture, sizeAtSpace + perSecond, 30000));
    const auto screenshot = artifacts.getChildFile ("main-window.png");
    screenshot.deleteFile();
    runTool ({ "import", "-window", "root", screenshot.getFullPathName() });
    EXPECT_GT (screenshot.getSize(), 0);

    // Past the end of the song (plus slack for the resampler), then quit with Ctrl+Q.
    ASSERT_TRUE (waitForFileSize (capture, sizeAtSpace + perSecond * 5 / 2, 30000));
    // A key press can be lost while X focus moves; ask again while the process runs.
    bool exited = false;
    constexpr int quitAttempts = 5, quitWaitMs = 3000;
    for (int attempt = 0; attempt < quitAttempts && ! exited; ++attempt)
    {
        runTool ({ "xdotool", "windowfocus", "--sync", window });
        runTool ({ "xdotool", "key", "ctrl+q" });
        exited = app.waitForProcessToFinish (quitWaitMs);
    }
    if (! exited)
        app.kill();
    ASSERT_TRUE (exited) << "the application did not quit";
    EXPECT_EQ (app.getExitCode(), 0u);

    // The capture holds the song, from its first sound on.
    const auto recorded = readAudioFile (capture);
    ASSERT_EQ (recorded.getNumChannels(), 2);
    int first = 0;
    while (first < recorded.getNumSamples() && std::abs (recorded.getSample (0, first)) < 1.0e-4f)
        ++first;
    ASSERT_GE (recorded.getNumSamples() - first, source.getNumSamples()) << "the song did not play to the end";
    for (int c = 0; c < 2; ++c)
        EXPECT_GT (bestCorrelation (source.getReadPointer (c), source.getNumSamples(), recorded.getReadPointer (c),
                                    recorded.getNumSamples(), first, 64), // 64: samples of slack around the first sound
                   0.99)
            << "channel " << c;
}

TEST (EndToEnd, DesktopEntryHandsTheChosenFileToTheApplication)
{
    const juce::File source (KALDER_SOURCE_DIR);
    juce::StringPairArray entry;
    juce::StringArray lines;
    lines.addLines (source.getChildFile ("packaging/kalder-pro.desktop").loadFileAsString());
    ASSERT_EQ (lines[0], "[Desktop Entry]");
    for (const auto& line : lines)
        if (line.containsChar ('=') && ! line.startsWithChar ('#'))
            entry.set (line.upToFirstOccurrenceOf ("=", false, false), line.fromFirstOccurrenceOf ("=", false, false));

    EXPECT_EQ (entry["Type"], "Application");
    EXPECT_EQ (entry["Name"], "Kalder Pro");
    EXPECT_EQ (entry["Terminal"], "false");
    // The icon the entry names is the one we ship, and it is a drawable SVG.
    EXPECT_EQ (entry["Icon"], "kalder-pro");
    const auto icon = juce::parseXML (source.getChildFile ("resources/kalder-pro.svg"));
    ASSERT_NE (icon, nullptr);
    EXPECT_NE (juce::Drawable::createFromSVG (*icon), nullptr);
    // Every format the application opens is offered to file managers.
    for (const auto* type : { "audio/x-wav", "audio/x-aiff", "audio/flac", "audio/ogg", "audio/mpeg", "audio/mp4" })
        EXPECT_TRUE (entry["MimeType"].contains (juce::String (type) + ";")) << type;

    // Run the Exec line as a desktop does: %F becomes the chosen files, each one
    // argument, with no quoting or escaping of spaces.
    juce::StringArray exec;
    exec.addTokens (entry["Exec"], " ", "");
    ASSERT_EQ (exec.size(), 2);
    EXPECT_EQ (exec[0], "KalderPro");
    EXPECT_EQ (exec[1], "%F");

    const ToneAndQuietHome run ("song from the file manager.wav");
    ASSERT_TRUE (run.written);
    const auto& song = run.song;

    juce::ChildProcess app;
    ASSERT_TRUE (app.start (juce::StringArray { KALDER_APP_PATH, song.getFullPathName() }, 0));
    const auto window = waitForWindow ("Kalder Pro - song from the file manager", 30000);
    app.kill();
    EXPECT_TRUE (window.isNotEmpty()) << "the file named by the desktop entry's %F was not opened";
}

TEST (EndToEnd, ASecondStartHandsItsFileToTheRunningWindow)
{
    const ToneAndQuietHome run ("second start.wav");
    ASSERT_TRUE (run.written);
    const auto& song = run.song;
    const auto& dir = run.dir;

    juce::ChildProcess first;
    ASSERT_TRUE (first.start (juce::StringArray { KALDER_APP_PATH }, 0));
    const auto window = waitForWindow ("Kalder Pro", 30000);
    ASSERT_TRUE (window.isNotEmpty());
    // The running instance listens once its window is up.
    const auto fifo = dir.get().getChildFile ("home/instance.fifo");
    const auto deadline = juce::Time::getMillisecondCounter() + 10000u;
    while (! fifo.exists() && juce::Time::getMillisecondCounter() < deadline)
        juce::Thread::sleep (20); // between polls of the folder
    ASSERT_TRUE (fifo.exists());

    // The second start ends at once, successfully, and the first window opens the song.
    juce::ChildProcess second;
    ASSERT_TRUE (second.start (juce::StringArray { KALDER_APP_PATH, song.getFullPathName() }, 0));
    EXPECT_TRUE (second.waitForProcessToFinish (10000));
    EXPECT_EQ (second.getExitCode(), 0u);
    // The window as it is now (the id found at start-up may have been a first, short-lived one).
    const auto opened = waitForWindow ("Kalder Pro - second start", 30000);
    EXPECT_TRUE (opened.isNotEmpty());

    // Quit the first as a user would; it removes its FIFO on the way out.
    bool exited = false;
    for (int attempt = 0; attempt < 5 && ! exited; ++attempt) // a key press can be lost while focus moves
    {
        runTool ({ "xdotool", "windowfocus", "--sync", opened });
        runTool ({ "xdotool", "key", "ctrl+q" });
        exited = first.waitForProcessToFinish (3000);
    }
    if (! exited)
        first.kill();
    EXPECT_TRUE (exited);
    EXPECT_FALSE (fifo.exists());

    // With nobody listening, a start is an instance of its own again.
    juce::ChildProcess third;
    ASSERT_TRUE (third.start (juce::StringArray { KALDER_APP_PATH, song.getFullPathName() }, 0));
    EXPECT_TRUE (waitForWindow ("Kalder Pro - second start", 30000).isNotEmpty());
    third.kill();
}

TEST (EndToEnd, TerminateInterruptAndHangUpQuitCleanlyAndFinishTheCapture)
{
    for (const auto* signalName : { "TERM", "INT", "HUP" })
    {
        SCOPED_TRACE (signalName);
        TemporaryDirectory dir;
        const auto capture = dir.get().getChildFile ("capture.wav");
        const auto song = dir.get().getChildFile (juce::String ("signal-") + signalName + ".wav");
        ASSERT_TRUE (writeAudioFile (song, makeSine (2, rate, rate, 440.0, 0.2f), rate));
        ScopedEnvironment home ("KALDER_HOME", dir.get().getChildFile ("home").getFullPathName());
        skipTutorialForThisHome();
        ScopedEnvironment device ("KALDER_AUDIO_DEVICE", "null");
        ScopedEnvironment captureTo ("KALDER_AUDIO_CAPTURE", capture.getFullPathName());

        juce::ChildProcess app;
        ASSERT_TRUE (app.start (juce::StringArray { KALDER_APP_PATH, song.getFullPathName() }, 0));
        ASSERT_TRUE (waitForWindow ("Kalder Pro - signal-" + juce::String (signalName), 30000).isNotEmpty());
        ASSERT_TRUE (waitForFileSize (capture, 64 * 1024, 30000)); // the device has run a while

        runTool ({ "pkill", "-" + juce::String (signalName), "-f", song.getFullPathName() });
        const auto exited = app.waitForProcessToFinish (5000);
        if (! exited)
            app.kill();
        ASSERT_TRUE (exited) << "still running 5 s after SIG" << signalName;
        EXPECT_EQ (app.getExitCode(), 0u);

        // The capture's header was written at the end: it holds every sample in the file.
        juce::AudioFormatManager formats;
        formats.registerBasicFormats();
        std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (capture));
        ASSERT_NE (reader, nullptr);
        EXPECT_GT (reader->lengthInSamples, 0);
        EXPECT_GE (reader->lengthInSamples * bytesPerCapturedFrame, capture.getSize() - 4096);
    }
}

TEST (EndToEnd, AKilledRunIsOfferedForRecoveryAtTheNextStartAndRecoversItsEdit)
{
    TemporaryDirectory dir;
    const auto song = dir.get().getChildFile ("killed-edit.wav");
    ASSERT_TRUE (writeAudioFile (song, makeNoise (2, 2 * rate, 7, 0.3f), rate));
    ScopedEnvironment home ("KALDER_HOME", dir.get().getChildFile ("home").getFullPathName());
    skipTutorialForThisHome();
    ScopedEnvironment device ("KALDER_AUDIO_DEVICE", "null");
    const auto autosave = DirectoryManager::getAutosaveFile(); // under this run's home
    const juce::File artifacts (KALDER_GUI_ARTIFACTS_DIR);
    artifacts.createDirectory();

    // An edit as a user makes it: the rectangle tool (key 3) dragged over the middle of
    // the editor, then Delete. The edit is autosaved soon after; then the run is killed.
    juce::ChildProcess first;
    ASSERT_TRUE (first.start (juce::StringArray { KALDER_APP_PATH, song.getFullPathName() }, 0));
    const auto window = waitForWindow ("Kalder Pro - killed-edit", 30000);
    ASSERT_TRUE (window.isNotEmpty());
    juce::String seen;
    const auto editor = waitForEditor (window, artifacts.getChildFile ("killed-edit.png"), seen);
    ASSERT_TRUE (editor.has_value()) << seen;
    const auto from = editor->getRelativePoint (0.3f, 0.3f), to = editor->getRelativePoint (0.7f, 0.7f);
    bool autosaved = false;
    for (int attempt = 0; attempt < 3 && ! autosaved; ++attempt) // a key or a drag can be lost while X focus moves
    {
        runTool ({ "xdotool", "windowfocus", "--sync", window });
        runTool ({ "xdotool", "key", "3" });
        runTool ({ "xdotool", "mousemove", "--sync", juce::String (from.x), juce::String (from.y), "mousedown", "1" });
        for (int step = 1; step <= 10; ++step)
        {
            const auto p = from + (to - from) * step / 10;
            runTool ({ "xdotool", "mousemove", "--sync", juce::String (p.x), juce::String (p.y) });
        }
        runTool ({ "xdotool", "mouseup", "1" });
        runTool ({ "xdotool", "key", "Delete" });
        autosaved = waitForFileSize (autosave, 1, 10000);
    }
    ASSERT_TRUE (autosaved) << "no autosave after the edit";
    first.kill(); // SIGKILL: nothing of a quit runs
    ASSERT_TRUE (first.waitForProcessToFinish (5000));
    juce::MemoryBlock leftByTheKill; // the recovered work goes in under new data names
    autosave.loadFileAsData (leftByTheKill);

    // The next start offers the autosave; Return answers "Recover Autosave".
    juce::ChildProcess second;
    ASSERT_TRUE (second.start (juce::StringArray { KALDER_APP_PATH }, 0));
    const auto offer = waitForWindow (CrashRecoveryComponent::title, 30000);
    ASSERT_TRUE (offer.isNotEmpty()) << "no recovery offered after a kill";
    bool recovered = false;
    for (int attempt = 0; attempt < 5 && ! recovered; ++attempt)
    {
        runTool ({ "xdotool", "windowfocus", "--sync", offer });
        runTool ({ "xdotool", "key", "Return" });
        recovered = waitForWindow ("Kalder Pro - killed-edit", 3000).isNotEmpty(); // only the autosave names the song
    }
    ASSERT_TRUE (recovered) << "the recovered project never showed";

    // Recovered work is unsaved: a quit by signal writes it to the autosave again, with the edit.
    const auto pid = runTool ({ "xdotool", "search", "--name", "Kalder Pro - killed-edit", "getwindowpid" }).trim();
    ASSERT_TRUE (pid.containsOnly ("0123456789") && pid.isNotEmpty()) << pid;
    ::kill (pid.getIntValue(), SIGTERM);
    const auto exited = second.waitForProcessToFinish (10000);
    if (! exited)
        second.kill();
    ASSERT_TRUE (exited);
    ASSERT_TRUE (autosave.existsAsFile());
    juce::MemoryBlock afterQuit;
    autosave.loadFileAsData (afterQuit);
    EXPECT_NE (afterQuit, leftByTheKill) << "the quit did not autosave the recovered work";
    LoadedProject project;
    ASSERT_TRUE (ProjectLoader::open (autosave, dir.get().getChildFile ("opened"), project).wasOk());
    auto* asig = project.tracks[0]->getAsig();
    const auto frames = juce::Range<int> (0, asig->getNumFrames());
    const auto masked = asig->readFrames (0, frames, Asig::MaskUse::mask, Asig::SelectionGain::none);
    const auto plain = asig->readFrames (0, frames, Asig::MaskUse::none, Asig::SelectionGain::none);
    int erased = 0;
    for (int f = 0; f < (int) plain.cols(); ++f)
        for (int b = 0; b < (int) plain.rows(); ++b)
            erased += std::abs (masked (b, f)) < 0.5f * std::abs (plain (b, f)) ? 1 : 0;
    EXPECT_GT (erased, 1000) << "the recovered project lost the erase";
}

namespace
{
/** Eight seconds of a band at 120 beats a minute: a kick on each beat, a hi-hat on each
    half beat, a melody of harmonic notes and a bass line. */
juce::AudioBuffer<float> makeGroove()
{
    constexpr int beat = rate / 2;
    const int n = 8 * rate;
    const double notes[] = { 220.0, 261.6, 329.6, 392.0, 329.6, 261.6, 293.7, 246.9 };
    juce::AudioBuffer<float> audio (2, n);
    juce::Random noise (7);
    for (int i = 0; i < n; ++i)
    {
        const auto t = (double) i / rate;
        const int b = i / beat;
        const auto sinceBeat = (double) (i % beat), sinceHalf = (double) (i % (beat / 2));
        const auto kick = 0.45 * std::exp (-sinceBeat / (0.06 * rate)) * std::sin (juce::MathConstants<double>::twoPi * 55.0 * t);
        const auto hat = 0.12 * std::exp (-sinceHalf / (0.012 * rate)) * (noise.nextDouble() * 2.0 - 1.0);
        double melody = 0.0;
        for (int h = 1; h <= 4; ++h)
            melody += 0.09 / h * std::sin (juce::MathConstants<double>::twoPi * notes[b % 8] * h * t);
        const auto bass = 0.18 * std::sin (juce::MathConstants<double>::twoPi * notes[(b / 4) % 8] / 4.0 * t);
        audio.setSample (0, i, (float) (kick + hat + 0.8 * melody + bass));
        audio.setSample (1, i, (float) (kick + 0.7 * hat + melody + bass));
    }
    return audio;
}

/** Chooses the item shown as text in the window's menu menuName (its submenus too), as
    a click on it would; false when the menu has no such enabled item. */
bool chooseFromMenu (MainWindow& window, const juce::String& menuName, const juce::String& text)
{
    const auto index = window.getMenuBarNames().indexOf (menuName);
    if (index < 0)
        return false;
    const auto menu = window.getMenuForIndex (index, menuName);
    for (juce::PopupMenu::MenuItemIterator it (menu, true); it.next();)
        if (const auto& item = it.getItem(); item.text == text && item.isEnabled && item.commandManager != nullptr)
            return item.commandManager->invokeDirectly (item.itemID, false);
    return false;
}

/** A picture of part of the screen as it shows (the spectral editor's OpenGL frames
    too), saved beside the other screenshots; nothing when none could be taken. */
juce::File shootScreen (juce::Rectangle<int> area, const juce::String& name)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (500); // ms: the views' next frames
    const auto folder = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getSiblingFile ("screenshots");
    const auto file = folder.getChildFile (name + ".png");
    folder.createDirectory();
    file.deleteFile();
    runTool ({ "import", "-window", "root", "-crop",
               juce::String (area.getWidth()) + "x" + juce::String (area.getHeight()) + "+" + juce::String (area.getX()) + "+"
                   + juce::String (area.getY()),
               "+repage", file.getFullPathName() });
    return file.getSize() > 0 ? file : juce::File();
}
} // namespace

// What a new user does, in the window alone: greeted by the tutorial, opens a song from
// the File menu, separates it from the Track menu, arranges the children in the layers
// panel, mixes them in the mixer window, edits one on the spectrogram, bounces the mix
// and finds the spectrogram's help in the Help menu. The pictures it takes are the README's.
TEST (EndToEnd, ANewUserDoesAWholeJobInTheWindowAlone)
{
    TemporaryDirectory work;
    const auto song = work.get().getChildFile ("groove.wav");
    ASSERT_TRUE (writeAudioFile (song, makeGroove(), rate, 24));
    ApplicationFixture fixture ({}, {}, ApplicationFixture::Tutorial::asForANewUser);
    auto& window = fixture.window();
    auto& content = fixture.content();
    auto& mixer = fixture.app().getMixer();
    window.setBounds (40, 40, 1200, 760);

    // The tutorial's first page says how to open a song; they close it.
    auto& help = content.getQuickHelp();
    ASSERT_EQ (help.getShownTitle(), HelpPages::getTutorial()[0].title);
    dynamic_cast<juce::Button*> (findDescendant (help, "helpClose"))->triggerClick();
    ASSERT_TRUE (waitUntil ([&] { return help.getShownTitle().isEmpty(); }, 2000));

    // File > Open Audio File, the song chosen in the file chooser.
    juce::File chosen = song;
    content.setFileRequestHandler ([&chosen] (const FileRequest&, FileRequest::Answer answer) { answer (chosen); });
    ASSERT_TRUE (chooseFromMenu (window, "File", "Open Audio File"));
    ASSERT_TRUE (fixture.waitForMaster ("groove"));
    // The help's pictures are taken from the window as the job goes on.
    ASSERT_TRUE (waitUntil ([&] { return content.getSpectrogramView().isShowing(); }, 20000));
    const auto windowTop = window.getScreenBounds().withWidth (640);
    EXPECT_NE (shootScreen (windowTop.withBottom (content.getOverview().getScreenBounds().getBottom()), "help-open"),
               juce::File());

    // Track > Drum Separation, started from its dialog as it opens.
    auto* separations = fixture.app().getSeparationCommands();
    std::optional<separation::SeparationLauncher::Outcome> outcome;
    separations->onEnded = [&outcome] (const separation::SeparationLauncher::Outcome& o) { outcome = o; };
    ASSERT_TRUE (chooseFromMenu (window, "Track", "Drum Separation"));
    ASSERT_TRUE (waitUntil ([&] { return separations->getDialog() != nullptr; }, 5000));
    auto* start = dynamic_cast<juce::Button*> (findDescendant (*separations->getDialog(), "start"));
    ASSERT_NE (start, nullptr);
    saveScreenshot (*separations->getDialog(), "separation-dialog");
    start->triggerClick();
    ASSERT_TRUE (waitUntil ([&] { return outcome.has_value(); }, 120000));
    ASSERT_TRUE (outcome->result.wasOk()) << outcome->getMessage();
    auto drums = mixer.getTrack ("Drums"), pitched = mixer.getTrack ("Pitched");
    ASSERT_TRUE (drums != nullptr && pitched != nullptr);
    auto& list = content.getTrackList();
    EXPECT_TRUE (waitUntil ([&] { return list.getNumRows() == 3 && list.getHeight() >= 3 * list.getRow (0)->getHeight(); }, 2000))
        << "the layers panel grows to show the children";

    // In the layers panel: the pitched part renamed by typing over its name, and dragged
    // above the drums.
    list.startRenaming (*pitched);
    auto* name = dynamic_cast<juce::Label*> (findDescendant (*list.getRow (list.getRowOfTrack (pitched.get())), "name"));
    ASSERT_TRUE (name != nullptr && name->getCurrentTextEditor() != nullptr);
    name->getCurrentTextEditor()->setText ("Keys and bass");
    name->getCurrentTextEditor()->keyPressed (juce::KeyPress (juce::KeyPress::returnKey));
    ASSERT_TRUE (waitUntil ([&] { return pitched->getName() == "Keys and bass"; }, 2000));
    auto* drumsRow = list.getRow (list.getRowOfTrack (drums.get()));
    const auto top = list.getLocalArea (drumsRow->getParentComponent(), drumsRow->getBounds());
    const auto drop = list.getDropAt (*pitched, { top.getCentreX(), top.getY() + 2 });
    ASSERT_EQ (drop.kind, TrackListComponent::Drop::Kind::moveBefore);
    list.performDrop (pitched, drop);
    ASSERT_TRUE (
        waitUntil ([&] { return list.getRowOfTrack (pitched.get()) == 1 && list.getRowOfTrack (drums.get()) == 2; }, 2000));

    // A click on its row makes it the track they work on (and the children the mix).
    auto* pitchedRow = list.getRow (list.getRowOfTrack (pitched.get()));
    const auto now = juce::Time::getCurrentTime();
    pitchedRow->mouseDown (juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), { 2.0f, 2.0f }, {}, 0.0f, 0.0f,
                                             0.0f, 0.0f, 0.0f, pitchedRow, pitchedRow, now, { 2.0f, 2.0f }, now, 1, false));
    ASSERT_EQ (mixer.getActiveTrack(), pitched);
    EXPECT_TRUE (waitUntil ([&] { return content.getOverview().getAudioFile() == pitched->getAudioFile(); }, 2000))
        << "the waveform strip shows the track worked on";
    EXPECT_NE (shootScreen (list.getScreenBounds().withWidth (720), "help-layers"), juce::File());

    // View > Show Mixer Window: the master was muted by the separation, so the children
    // are what plays; the drums go down 6 dB on their fader, the keys a little left.
    ASSERT_TRUE (chooseFromMenu (window, "View", "Show Mixer Window"));
    auto* mixerWindow = window.getMixerWindow();
    ASSERT_TRUE (mixerWindow != nullptr && mixerWindow->isShowing());
    mixerWindow->setBounds (window.getRight() - 420, window.getY() + 80, 400, 420);
    auto* strips = dynamic_cast<MixerComponent*> (mixerWindow->getContentComponent());
    ASSERT_TRUE (strips != nullptr && strips->getNumStrips() == 3);
    auto* masterMute = dynamic_cast<juce::Button*> (findDescendant (*strips->getStrip (0), "mute"));
    auto* keysPan = dynamic_cast<juce::Slider*> (findDescendant (*strips->getStrip (1), "pan"));
    auto* drumsFader = dynamic_cast<juce::Slider*> (findDescendant (*strips->getStrip (2), "volume"));
    ASSERT_TRUE (masterMute != nullptr && keysPan != nullptr && drumsFader != nullptr);
    EXPECT_TRUE (mixer.getMasterTrack()->isMuted() && masterMute->getToggleState());
    drumsFader->setValue (-6.0, juce::sendNotificationSync);
    keysPan->setValue (-0.3, juce::sendNotificationSync);
    EXPECT_NEAR (drums->getVolume(), juce::Decibels::decibelsToGain (-6.0f), 1.0e-4f);
    EXPECT_LT ((float) pitched->getTree()[TrackIds::panR], 1.0f);
    content.playButtonClicked();
    EXPECT_TRUE (waitUntil ([&] { return strips->getShownPeaks (2).size() > 0 && strips->getShownPeaks (2)[0] > 0.01f; }, 5000));
    EXPECT_NE (shootScreen (mixerWindow->getScreenBounds(), "readme-mixer-window"), juce::File());
    for (int strip : { 1, 2 }) // still moving half a second on, while the song plays
        EXPECT_TRUE (! strips->getShownPeaks (strip).empty() && strips->getShownPeaks (strip)[0] > 0.01f) << strip;
    content.stopButtonClicked();
    mixerWindow->setVisible (false);

    // The pitched part edited in the spectral editor: a rectangle over its highest
    // notes, then Selection > Erase.
    auto& view = content.getSpectrogramView();
    ASSERT_TRUE (waitUntil ([&] { return view.isShowing() && view.getSpectrogram().getTrack() == pitched.get(); }, 20000));
    ASSERT_TRUE (content.getToolPanel().selectTool (EditorTool::Type::rectangleSelect));
    const auto ih = (double) view.getSpectrogram().getImageHeight(), iw = (double) view.getSpectrogram().getImageWidth();
    const auto binOf = [] (double hz) { return hz * 4096.0 / rate; };
    view.setVisibleArea ({ 0.0, 1.0 }, { 1.0 - 2500.0 * 4096.0 / rate / ih, 1.0 });
    auto event = [&view] (juce::Point<float> p, juce::Point<float> down) {
        return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), p, juce::ModifierKeys::leftButtonModifier,
                                 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, &view, &view, juce::Time::getCurrentTime(), down,
                                 juce::Time::getCurrentTime(), 1, p != down);
    };
    const auto from = view.imageToView ({ iw * 0.25, binOf (1400.0) }), to = view.imageToView ({ iw * 0.75, binOf (700.0) });
    view.mouseDown (event (from, from));
    view.mouseDrag (event ((from + to) / 2.0f, from));
    view.mouseDrag (event (to, from));
    view.mouseUp (event (to, from));
    auto& undo = pitched->getManualEditManager().getUndoManager();
    ASSERT_TRUE (undo.canUndo());
    EXPECT_TRUE (waitUntil ([&] { return ! view.getSelectionOutline().isEmpty(); }, 5000)) << "the selection shows";
    EXPECT_NE (shootScreen (window.getScreenBounds(), "readme-separated-song"), juce::File());
    const auto tools = content.getToolPanel().getScreenBounds();
    EXPECT_NE (
        shootScreen (tools.withRight (tools.getX() + 720).withBottom (view.getScreenBounds().getBottom()), "help-spectrogram"),
        juce::File());
    const auto undoBefore = undo.getUndoDescription();
    ASSERT_TRUE (chooseFromMenu (window, "Selection", "Erase"));
    EXPECT_TRUE (waitUntil ([&] { return undo.getUndoDescription() != undoBefore; }, 5000)) << undoBefore;
    auto* asig = pitched->getAsig();
    const juce::Range<int> frames ((int) (iw * 0.3), (int) (iw * 0.7));
    const auto masked = asig->readFrames (0, frames, Asig::MaskUse::mask, Asig::SelectionGain::none);
    const auto plain = asig->readFrames (0, frames, Asig::MaskUse::none, Asig::SelectionGain::none);
    double inside = 0.0, kept = 0.0;
    for (int f = 0; f < (int) plain.cols(); ++f)
        for (int b = (int) binOf (800.0); b < (int) binOf (1300.0); ++b)
            inside += std::abs (plain (b, f)), kept += std::abs (masked (b, f));
    EXPECT_LT (kept, 0.1 * inside) << "the notes under the rectangle are erased";

    // File > Bounce Mixer Output: the mix of what is heard, in the song's format.
    const auto mixFile = work.get().getChildFile ("mix.wav");
    chosen = mixFile;
    ASSERT_TRUE (chooseFromMenu (window, "File", "Bounce Mixer Output"));
    ASSERT_TRUE (waitUntil ([&] { return ! content.getExports().isExporting() && mixFile.existsAsFile(); }, 60000));
    double mixRate = 0.0;
    int bits = 0;
    const auto mix = readAudioFile (mixFile, &mixRate, &bits);
    EXPECT_EQ (mixRate, rate);
    EXPECT_EQ (bits, 24);
    ASSERT_EQ (mix.getNumSamples(), 8 * rate);
    EXPECT_GT (mix.getRMSLevel (0, 0, mix.getNumSamples()), 0.02f) << "the children are heard";

    // Help > Show Spectrogram Help: the page about the editor.
    ASSERT_TRUE (chooseFromMenu (window, "Help", "Show Spectrogram Help"));
    EXPECT_EQ (help.getShownTitle(), HelpPages::getSpectrogramHelp().title);
    content.setFileRequestHandler (nullptr);
}
