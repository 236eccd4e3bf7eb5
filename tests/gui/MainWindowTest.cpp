#include "GuiTestSupport.h"

#include "app/CrashRecoveryComponent.h"
#include "appcore/CommandIDs.h"
#include "appcore/DirectoryManager.h"
#include "appcore/MenuModel.h"
#include "appcore/SettingsManager.h"
#include "support/TestTracks.h"
#include "tracks/TrackIds.h"
#include "ui/MixerComponent.h"
#include "ui/ResourceManager.h"
#include "ui/TrackControls.h"

#include <gtest/gtest.h>

#include <future>

using namespace kalder;
using namespace kalder::test;

namespace
{
constexpr int rate = 44100;

/** Two seconds of stereo: a loud first second (peak 0.8), a quiet second (peak 0.1). */
juce::AudioBuffer<float> makeTwoLevelSong()
{
    auto audio = makeSine (2, 2 * rate, rate, 441.0, 0.8f);
    for (int c = 0; c < 2; ++c)
        audio.applyGain (c, rate, rate, 0.125f);
    return audio;
}

juce::File writeSong (const juce::File& folder, const juce::String& name, const juce::AudioBuffer<float>& audio)
{
    const auto file = folder.getChildFile (name);
    EXPECT_TRUE (writeAudioFile (file, audio, rate));
    return file;
}

juce::Component* findChild (juce::Component& parent, const juce::String& id)
{
    return parent.findChildWithID (id);
}

/** Waits for an alert titled title, then closes it. */
bool waitForAlert (const juce::String& title)
{
    const auto shown = waitUntil ([&] { return findModalWindow (title) != nullptr; }, 10000);
    juce::ModalComponentManager::getInstance()->cancelAllModalComponents();
    waitUntil ([] { return juce::ModalComponentManager::getInstance()->getNumModalComponents() == 0; }, 5000);
    return shown;
}
} // namespace

TEST (MainWindow, EmptyWindowInvitesADropAndOnlyOpeningCanRun)
{
    ApplicationFixture fixture;
    ASSERT_NE (fixture.app().getMainWindow(), nullptr);
    EXPECT_TRUE (fixture.window().isVisible());
    EXPECT_EQ (fixture.window().getName(), "Kalder Pro");
    EXPECT_TRUE (fixture.content().getOverview().isShowingDropHint());
    EXPECT_EQ (fixture.content().getTrackList().getNumRows(), 0);

    // Nothing to play: the transport commands are disabled and do nothing.
    EXPECT_FALSE (fixture.invoke (Command::playPause));
    EXPECT_FALSE (fixture.content().isPlaying());

    // The keys of the table reach the commands: Space plays, Ctrl+Shift+N opens.
    auto* keys = fixture.app().getCommandManager().getKeyMappings();
    EXPECT_EQ (keys->findCommandForKeyPress (juce::KeyPress (juce::KeyPress::spaceKey)),
               CommandIDs::getInstance().getId (Command::playPause));
    EXPECT_EQ (keys->findCommandForKeyPress (
                   juce::KeyPress ('n', juce::ModifierKeys::commandModifier | juce::ModifierKeys::shiftModifier, 0)),
               CommandIDs::getInstance().getId (Command::openAudioFile));
    EXPECT_TRUE (CommandIDs::getInstance().isEnabled (Command::openAudioFile));
}

TEST (MainWindow, FileOnTheCommandLineBecomesThePlayableMaster)
{
    TemporaryDirectory songs;
    const auto audio = makeTwoLevelSong();
    const auto song = writeSong (songs.get(), "song.wav", audio);
    ApplicationFixture fixture ("\"" + song.getFullPathName() + "\"");
    ASSERT_TRUE (fixture.waitForMaster ("song"));

    auto& content = fixture.content();
    auto master = fixture.app().getMixer().getMasterTrack();
    EXPECT_EQ (master->getNumSamples(), audio.getNumSamples());
    EXPECT_TRUE (master->isStoreReady());
    EXPECT_EQ (fixture.window().getName(), "Kalder Pro - song");

    // The panels show the track.
    ASSERT_EQ (content.getTrackList().getNumRows(), 1);
    auto* name = dynamic_cast<juce::Label*> (findChild (*content.getTrackList().getRow (0), "name"));
    ASSERT_NE (name, nullptr);
    EXPECT_EQ (name->getText(), "song");
    EXPECT_FALSE (content.getOverview().isShowingDropHint());
    EXPECT_EQ (content.getTransportBar().getTimeText(), "0:00.0 / 0:02.0");
    // The spectral editor's OpenGL context never runs beside the start-up's warm-up one
    // (the software driver crashed when one was shut down while the other drew).
    ASSERT_TRUE (waitUntil ([&] { return content.getEditorArea().isVisible(); }, 10000));
    EXPECT_TRUE (content.getOpenGLWarmUp().isDone());
    EXPECT_EQ (content.getLoop().getLoopArea(), juce::Range<float> (0.0f, 1.0f));

    // The overview outlines the file: loud first half, quiet second half.
    ASSERT_TRUE (waitUntil ([&] { return ! content.getOverview().getSummary().isEmpty(); }, 10000));
    const auto& summary = content.getOverview().getSummary();
    const auto n = summary.getNumBuckets();
    auto outline = [&] (int from, int to) {
        auto range = summary.getBucket (from);
        for (int b = from + 1; b < to; ++b)
            range = range.getUnionWith (summary.getBucket (b));
        return range;
    };
    const auto loud = outline (n / 8, 3 * n / 8), quiet = outline (5 * n / 8, 7 * n / 8);
    EXPECT_NEAR (loud.getEnd(), 0.8f, 0.01f);
    EXPECT_NEAR (loud.getStart(), -0.8f, 0.01f);
    EXPECT_NEAR (quiet.getEnd(), 0.1f, 0.01f);
    EXPECT_NEAR (quiet.getStart(), -0.1f, 0.01f);

    // Play through the command manager: the transport runs and the bar follows. (In
    // the persistent mode, so that a pause keeps the position.)
    ASSERT_TRUE (SettingsManager::getInstance().setPlaybackMode (SettingsIds::persistentPlayback).wasOk());
    ASSERT_TRUE (fixture.invoke (Command::playPause));
    ASSERT_TRUE (waitUntil ([&] { return content.getTransport().getPosition() > 4; }, 10000));
    EXPECT_TRUE (content.isPlaying());
    EXPECT_TRUE (waitUntil ([&] { return content.getTransportBar().isShowingPlaying(); }, 2000));
    EXPECT_TRUE (waitUntil ([&] { return content.getTransportBar().getTimeText() != "0:00.0 / 0:02.0"; }, 2000));

    // Pause keeps the position.
    ASSERT_TRUE (fixture.invoke (Command::playPause));
    EXPECT_FALSE (content.isPlaying());
    const auto paused = content.getTransport().getPosition();
    juce::MessageManager::getInstance()->runDispatchLoopUntil (100); // ms: some audio callbacks
    EXPECT_EQ (content.getTransport().getPosition(), paused);
    EXPECT_TRUE (waitUntil ([&] { return ! content.getTransportBar().isShowingPlaying(); }, 2000));

    // Space, as the window's key listener receives it, resumes.
    EXPECT_TRUE (
        fixture.app().getCommandManager().getKeyMappings()->keyPressed (juce::KeyPress (juce::KeyPress::spaceKey), &content));
    EXPECT_TRUE (waitUntil ([&] { return content.isPlaying(); }, 2000));

    // Stop returns to the start; End goes to the last block.
    ASSERT_TRUE (fixture.invoke (Command::stop));
    EXPECT_FALSE (content.isPlaying());
    EXPECT_EQ (content.getTransport().getPosition(), 0);
    ASSERT_TRUE (fixture.invoke (Command::movePlayheadToEnd));
    EXPECT_EQ (content.getTransport().getPosition(), fixture.app().getMixer().getNumFrames() - 1);
    EXPECT_GT (content.getPlayhead().getNormalisedPosition(), 0.98);

    // The loop command turns looping on over the whole file.
    ASSERT_TRUE (fixture.invoke (Command::toggleLoop));
    EXPECT_TRUE (content.getLoop().isLoopEnabled());
    EXPECT_TRUE (content.getTransport().isLooping());
}

TEST (MainWindow, BadInputGivesAnAlertAndKeepsTheProject)
{
    TemporaryDirectory songs;
    const auto song = writeSong (songs.get(), "keep.wav", makeTwoLevelSong());
    ApplicationFixture fixture ("\"" + song.getFullPathName() + "\"");
    ASSERT_TRUE (fixture.waitForMaster ("keep"));
    auto& content = fixture.content();
    const auto master = fixture.app().getMixer().getMasterTrack();
    const auto workingFolders = DirectoryManager::getTempDir().getNumberOfChildFiles (juce::File::findDirectories);

    // Not audio at all: the opening fails off the message thread, then an alert says so.
    const auto text = songs.get().getChildFile ("notes.wav");
    ASSERT_TRUE (text.replaceWithText ("these are not samples"));
    EXPECT_TRUE (content.loadAudioFile (text));
    EXPECT_TRUE (waitForAlert ("Cannot open audio file"));
    EXPECT_TRUE (waitUntil ([&] { return ! content.isOpeningFile(); }, 10000));

    // A folder, a missing file and two files at once are refused with an alert.
    EXPECT_FALSE (content.loadAudioFile (songs.get()));
    EXPECT_TRUE (waitForAlert ("Cannot open audio file"));
    EXPECT_FALSE (content.loadAudioFile (songs.get().getChildFile ("missing.wav")));
    EXPECT_TRUE (waitForAlert ("File not found."));
    content.filesDropped ({ song.getFullPathName(), text.getFullPathName() }, 10, 10);
    EXPECT_TRUE (waitForAlert ("Cannot open audio file"));

    // The project is untouched, and the failed attempt left no working folder behind.
    EXPECT_EQ (fixture.app().getMixer().getMasterTrack(), master);
    EXPECT_TRUE (master->isPlayable());
    EXPECT_EQ (content.getTrackList().getNumRows(), 1);
    EXPECT_EQ (DirectoryManager::getTempDir().getNumberOfChildFiles (juce::File::findDirectories), workingFolders);
    ASSERT_TRUE (fixture.invoke (Command::playPause));
    EXPECT_TRUE (content.isPlaying());
}

TEST (MainWindow, DroppedFileOpensWithoutBlockingAndReplacesTheMaster)
{
    TemporaryDirectory songs;
    const auto first = writeSong (songs.get(), "first.wav", makeTwoLevelSong());
    constexpr int longSeconds = 30; // long enough that opening takes a while
    const auto second = writeSong (songs.get(), "second.wav", makeNoise (2, longSeconds * rate, 5, 0.3f));
    ApplicationFixture fixture ("\"" + first.getFullPathName() + "\"");
    ASSERT_TRUE (fixture.waitForMaster ("first"));
    auto& content = fixture.content();
    const auto firstFolder = fixture.app().getMixer().getMasterTrack()->getAudioFile().getParentDirectory();
    ASSERT_TRUE (firstFolder.isDirectory());

    content.filesDropped ({ second.getFullPathName() }, 10, 10);
    ASSERT_TRUE (content.isOpeningFile());
    // The progress window shows at once (the decode alone is quick: it may soon be gone).
    EXPECT_NE (findModalWindow ("Opening audio file"), nullptr);

    // While it opens the message loop keeps running.
    bool messageHandled = false;
    juce::MessageManager::callAsync ([&] { messageHandled = true; });
    ASSERT_TRUE (waitUntil ([&] { return messageHandled; }, 2000));
    if (content.isOpeningFile())
        EXPECT_EQ (fixture.app().getMixer().getMasterTrack()->getName(), "first");

    ASSERT_TRUE (fixture.waitForMaster ("second"));
    EXPECT_EQ (fixture.app().getMixer().getMasterTrack()->getNumSamples(), longSeconds * rate);
    ASSERT_EQ (content.getTrackList().getNumRows(), 1);
    EXPECT_EQ (dynamic_cast<juce::Label*> (findChild (*content.getTrackList().getRow (0), "name"))->getText(), "second");
    EXPECT_EQ (fixture.window().getName(), "Kalder Pro - second");
    EXPECT_EQ (content.getTransportBar().getTimeText(), "0:00.0 / 0:30.0");

    // The replaced track's working files go once nothing holds it any more.
    EXPECT_TRUE (waitUntil ([&] { return ! firstFolder.exists(); }, 10000));
}

TEST (MainWindow, TrackRowControlsWriteTheTrackAndFollowIt)
{
    TemporaryDirectory songs;
    const auto song = writeSong (songs.get(), "row.wav", makeTwoLevelSong());
    ApplicationFixture fixture ("\"" + song.getFullPathName() + "\"");
    ASSERT_TRUE (fixture.waitForMaster ("row"));
    auto track = fixture.app().getMixer().getMasterTrack();
    auto& row = *fixture.content().getTrackList().getRow (0);
    auto* volume = dynamic_cast<juce::Slider*> (findChild (row, "volume"));
    auto* pan = dynamic_cast<juce::Slider*> (findChild (row, "pan"));
    auto* solo = dynamic_cast<juce::Button*> (findChild (row, "solo"));
    auto* mute = dynamic_cast<juce::Button*> (findChild (row, "mute"));
    ASSERT_TRUE (volume != nullptr && pan != nullptr && solo != nullptr && mute != nullptr);

    volume->setValue (-6.0, juce::sendNotificationSync);
    EXPECT_NEAR (track->getVolume(), juce::Decibels::decibelsToGain (-6.0f), 1.0e-4f);
    volume->setValue (TrackControls::minVolumeDb, juce::sendNotificationSync);
    EXPECT_EQ (track->getVolume(), 0.0f);

    // Hard left: both channels of the stereo track end up on the left.
    pan->setValue (-1.0, juce::sendNotificationSync);
    EXPECT_NEAR (track->getPanGains (0).right, 0.0f, 1.0e-6f);
    EXPECT_NEAR (track->getPanGains (1).right, 0.0f, 1.0e-6f);
    EXPECT_NEAR (track->getPanGains (1).left, 1.0f, 1.0e-6f);

    solo->triggerClick();
    EXPECT_TRUE (waitUntil ([&] { return track->isSoloed(); }, 2000));
    mute->triggerClick();
    EXPECT_TRUE (waitUntil ([&] { return track->isMuted(); }, 2000));

    // A change made elsewhere shows in the row.
    track->setMute (false);
    track->setVolume (1.0f);
    EXPECT_FALSE (mute->getToggleState());
    EXPECT_NEAR (volume->getValue(), 0.0, 1.0e-9);
    track->setSolo (false);
    pan->setValue (0.0, juce::sendNotificationSync);

    // Tab reaches every control, top to bottom, and each has a name a screen reader says.
    const auto reached = juce::KeyboardFocusTraverser().getAllComponents (&fixture.window());
    auto position = [&] (juce::Component* c) { return (int) (std::find (reached.begin(), reached.end(), c) - reached.begin()); };
    juce::Component* play = nullptr;
    for (auto* c : fixture.content().getTransportBar().getChildren())
        if (c->getName() == "Play")
            play = c;
    ASSERT_NE (play, nullptr);
    for (auto* c : { (juce::Component*) play, (juce::Component*) volume, (juce::Component*) pan, (juce::Component*) solo,
                     (juce::Component*) mute })
        EXPECT_LT (position (c), (int) reached.size()) << c->getComponentID() << " is not reached by Tab";
    EXPECT_LT (position (play), position (volume)) << "the transport comes before the rows";
    for (auto* c : reached)
        if (c->isShowing()
            && dynamic_cast<juce::Slider*> (c->getParentComponent()) == nullptr) // a value box speaks for its slider
            if (auto* handler = c->getAccessibilityHandler(); handler != nullptr)
                EXPECT_TRUE (handler->getTitle().isNotEmpty() || handler->getHelp().isNotEmpty())
                    << "unnamed " << typeid (*c).name() << " " << c->getComponentID();

    // The mixer window: a strip per track beside the mix's, in step with the rows.
    auto& mixer = fixture.app().getMixer();
    auto child = makeTrack (songs.get().getChildFile ("child"), "child", makeSine (2, 2 * rate, rate, 880.0, 0.5f), rate);
    ASSERT_NE (child, nullptr);
    child->setParentTrack (track.get());
    mixer.addTrack (child);
    mixer.setActiveTrack (child); // the master alone plays while it is active
    ASSERT_TRUE (fixture.invoke (Command::showMixerWindow));
    auto* window = fixture.window().getMixerWindow();
    ASSERT_TRUE (window != nullptr && window->isShowing());
    auto* strips = dynamic_cast<MixerComponent*> (window->getContentComponent());
    ASSERT_NE (strips, nullptr);
    ASSERT_EQ (strips->getNumStrips(), 2);
    auto* fader = dynamic_cast<juce::Slider*> (findChild (*strips->getStrip (1), "volume"));
    auto* stripMute = dynamic_cast<juce::Button*> (findChild (*strips->getStrip (0), "mute"));
    ASSERT_TRUE (fader != nullptr && stripMute != nullptr);

    // A fader move is the track's volume, in its tree, in the layers panel and in the bounce.
    auto bouncedPeak = [&] {
        Mixer::RenderSession bounce (mixer, Mixer::RenderSession::Synthesis::summedSpectra);
        juce::AudioBuffer<float> block (mixer.getNumOutputChannels(), mixer.getFrameLength());
        float peak = 0.0f;
        for (int frame = 20; frame < 40; ++frame)
        {
            bounce.renderFrame (frame, block);
            peak = juce::jmax (peak, block.getMagnitude (0, 0, block.getNumSamples()));
        }
        return peak;
    };
    stripMute->triggerClick(); // the master is muted: only the child is heard
    ASSERT_TRUE (waitUntil ([&] { return track->isMuted(); }, 2000));
    const auto before = bouncedPeak();
    fader->setValue (-12.0, juce::sendNotificationSync);
    EXPECT_NEAR ((float) child->getTree()[TrackIds::volume], juce::Decibels::decibelsToGain (-12.0f), 1.0e-4f);
    EXPECT_NEAR (bouncedPeak() / before, juce::Decibels::decibelsToGain (-12.0f), 0.01f);
    auto* childRow = fixture.content().getTrackList().getRow (1);
    EXPECT_NEAR (dynamic_cast<juce::Slider*> (findChild (*childRow, "volume"))->getValue(), -12.0, 1.0e-9);
    EXPECT_TRUE (
        dynamic_cast<juce::Button*> (findChild (*fixture.content().getTrackList().getRow (0), "mute"))->getToggleState());
    child->setVolume (1.0f); // and back from the tree to the strip
    EXPECT_NEAR (fader->getValue(), 0.0, 1.0e-9);

    EXPECT_NE (saveScreenshot (*window, "mixer-window"), juce::File());

    // The meters follow what is heard.
    auto loudest = [] (const std::vector<float>& peaks) {
        float l = 0.0f;
        for (auto p : peaks)
            l = juce::jmax (l, p);
        return l;
    };
    fixture.content().playButtonClicked();
    EXPECT_TRUE (waitUntil ([&] { return loudest (strips->getShownPeaks (1)) > 0.1f; }, 5000));
    EXPECT_LT (loudest (strips->getShownPeaks (0)), 1.0e-3f) << "the muted master shows no level";
    fixture.content().stopButtonClicked();

    auto* masterFader = dynamic_cast<juce::Slider*> (findDescendant (strips->getMasterStrip(), "masterVolume"));
    ASSERT_NE (masterFader, nullptr);
    masterFader->setValue (TrackControls::minVolumeDb, juce::sendNotificationSync);
    EXPECT_EQ (mixer.getMasterGain(), 0.0f);
    masterFader->setValue (0.0, juce::sendNotificationSync);

    // The strips follow the track list; closing hides the window, the command brings it back.
    mixer.removeTrack (child);
    EXPECT_EQ (strips->getNumStrips(), 1);
    window->closeButtonPressed();
    EXPECT_FALSE (window->isVisible());
    ASSERT_TRUE (fixture.invoke (Command::showMixerWindow));
    EXPECT_EQ (fixture.window().getMixerWindow(), window);
    EXPECT_TRUE (window->isVisible());
}

TEST (MainWindow, TheLayersPanelShowsTheTreeAndReordersMergesRenamesAndCollapses)
{
    TemporaryDirectory songs;
    const auto song = writeSong (songs.get(), "tree.wav", makeTwoLevelSong());
    ApplicationFixture fixture ("\"" + song.getFullPathName() + "\"");
    ASSERT_TRUE (fixture.waitForMaster ("tree"));
    auto& mixer = fixture.app().getMixer();
    auto& list = fixture.content().getTrackList();
    const auto master = mixer.getMasterTrack();
    auto add = [&] (const juce::String& name, AudioTrack* parent, int sampleRate = rate) {
        auto t = makeTrack (songs.get().getChildFile (name), name, makeSine (2, sampleRate, sampleRate, 300.0, 0.2f), sampleRate);
        EXPECT_NE (t, nullptr);
        t->setParentTrack (parent);
        mixer.addTrack (t);
        return t;
    };
    const auto a = add ("a", master.get()), b = add ("b", master.get()), c = add ("c", a.get());
    const auto otherRate = add ("other rate", master.get(), 2 * rate);
    auto shown = [&] {
        juce::StringArray rows;
        for (int i = 0; i < list.getNumRows(); ++i)
            rows.add (juce::String (list.getDepthOfRow (i)) + list.getTrackOfRow (i)->getName());
        return rows.joinIntoString (",");
    };
    EXPECT_EQ (shown(), "0tree,1a,2c,1b,1other rate") << "children under their parents, indented";
    EXPECT_TRUE (waitUntil ([&] { return list.hasThumbnail (0) && list.hasThumbnail (4); }, 5000)) << "each row's waveform";
    fixture.window().setSize (1000, 640);
    EXPECT_NE (saveScreenshot (fixture.window(), "layers-panel"), juce::File());

    // Collapse and expand with the row's button.
    auto* collapse = dynamic_cast<juce::Button*> (findChild (*list.getRow (1), "collapse"));
    ASSERT_TRUE (collapse != nullptr && collapse->isVisible());
    EXPECT_FALSE (findChild (*list.getRow (2), "collapse")->isVisible()) << "c has no children";
    collapse->triggerClick();
    ASSERT_TRUE (waitUntil ([&] { return list.getNumRows() == 4; }, 2000));
    EXPECT_EQ (shown(), "0tree,1a,1b,1other rate");
    dynamic_cast<juce::Button*> (findChild (*list.getRow (1), "collapse"))->triggerClick();
    ASSERT_TRUE (waitUntil ([&] { return list.getNumRows() == 5; }, 2000));

    // Rename: the name editor takes what is typed; nothing but spaces keeps the old name,
    // a very long name is cut.
    auto rename = [&] (const AudioTrack& track, const juce::String& typed) {
        list.startRenaming (track);
        auto* label = dynamic_cast<juce::Label*> (findChild (*list.getRow (list.getRowOfTrack (&track)), "name"));
        auto* editor = label != nullptr ? label->getCurrentTextEditor() : nullptr;
        if (editor == nullptr)
            return false;
        editor->setText (typed);
        editor->keyPressed (juce::KeyPress (juce::KeyPress::returnKey)); // answered by a message
        return waitUntil ([&] { return ! label->isBeingEdited(); }, 2000);
    };
    ASSERT_TRUE (rename (*a, "  Lead vocal "));
    EXPECT_EQ (a->getName(), "Lead vocal");
    ASSERT_TRUE (rename (*a, "   "));
    EXPECT_EQ (a->getName(), "Lead vocal");
    EXPECT_EQ (dynamic_cast<juce::Label*> (findChild (*list.getRow (1), "name"))->getText(), "Lead vocal");
    ASSERT_TRUE (rename (*b, juce::String::repeatedString ("b", 10000)));
    EXPECT_EQ (b->getName().length(), AudioTrack::maxNameLength);
    b->rename ("b");

    // Drops: the upper edge of a sibling's row moves before it; onto itself, or onto an
    // edge of a row of another parent, nothing happens.
    auto pointIn = [&] (const AudioTrack& track, float fraction) {
        const auto row = list.getLocalArea (list.getRow (list.getRowOfTrack (&track))->getParentComponent(),
                                            list.getRow (list.getRowOfTrack (&track))->getBounds());
        return juce::Point<int> (row.getCentreX(), row.getY() + juce::roundToInt (fraction * (float) (row.getHeight() - 1)));
    };
    using Kind = TrackListComponent::Drop::Kind;
    EXPECT_EQ (list.getDropAt (*b, pointIn (*b, 0.5f)).kind, Kind::nothing);
    EXPECT_EQ (list.getDropAt (*b, pointIn (*c, 0.1f)).kind, Kind::nothing);
    const auto before = list.getDropAt (*b, pointIn (*a, 0.1f));
    ASSERT_EQ (before.kind, Kind::moveBefore);
    list.performDrop (b, before);
    EXPECT_EQ (shown(), "0tree,1b,1Lead vocal,2c,1other rate");
    list.performDrop (b, list.getDropAt (*b, pointIn (*otherRate, 0.9f)));
    EXPECT_EQ (shown(), "0tree,1Lead vocal,2c,1other rate,1b");

    // The middle of another row merges into it, unless the rules refuse.
    const struct
    {
        AudioTrack::Ptr dragged, target;
        const char* alert;
    } refused[] = { { a, c, "Operation not permitted" }, // into its own child
                    { master, b, "Merging Master into another track is not permitted" },
                    { otherRate, b, "Operation not permitted" } }; // another sample rate
    for (const auto& r : refused)
    {
        const auto drop = list.getDropAt (*r.dragged, pointIn (*r.target, 0.5f));
        ASSERT_EQ (drop.kind, Kind::mergeInto) << r.dragged->getName();
        list.performDrop (r.dragged, drop);
        EXPECT_TRUE (waitForAlert (r.alert)) << r.dragged->getName() << " into " << r.target->getName();
        EXPECT_EQ (mixer.getAllTracks().size(), 5);
    }

    list.performDrop (c, list.getDropAt (*c, pointIn (*b, 0.5f)));
    ASSERT_TRUE (waitUntil ([&] { return mixer.getTrack ("b + c") != nullptr; }, 30000));
    const auto merged = mixer.getTrack ("b + c");
    EXPECT_EQ (merged->getParentTrack(), master.get());
    EXPECT_EQ (mixer.getActiveTrack(), merged);
    EXPECT_EQ (shown(), "0tree,1Lead vocal,1b + c,1other rate"); // where the first of the two was

    // Several rows chosen (Ctrl-click adds or takes away, Shift-click takes the rows from
    // the last plain click) merge with Track > Merge Selected Tracks.
    using M = juce::ModifierKeys;
    auto clickRow = [&] (const AudioTrack& track, M mods) {
        auto* row = list.getRow (list.getRowOfTrack (&track));
        const auto now = juce::Time::getCurrentTime();
        row->mouseDown (juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), { 2.0f, 2.0f },
                                          mods.withFlags (M::leftButtonModifier), 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, row, row, now,
                                          { 2.0f, 2.0f }, now, 1, false));
    };
    auto chosen = [&] {
        juce::StringArray names;
        for (auto* t : list.getSelectedTracks())
            names.add (t->getName());
        return names.joinIntoString (",");
    };
    const auto merge = Command::mergeSelectedTracks;
    clickRow (*a, {});
    EXPECT_FALSE (CommandIDs::getInstance().isEnabled (merge)) << "one track";
    clickRow (*otherRate, M::shiftModifier);
    EXPECT_EQ (chosen(), "Lead vocal,b + c,other rate");
    EXPECT_EQ (mixer.getActiveTrack(), otherRate);
    clickRow (*otherRate, M::commandModifier);
    EXPECT_EQ (chosen(), "Lead vocal,b + c");
    EXPECT_TRUE (CommandIDs::getInstance().isEnabled (merge));
    ASSERT_TRUE (fixture.invoke (merge));
    ASSERT_TRUE (waitUntil ([&] { return mixer.getTrack ("Lead vocal + b + c") != nullptr; }, 30000));
    EXPECT_EQ (shown(), "0tree,1Lead vocal + b + c,1other rate");
    EXPECT_EQ (chosen(), "Lead vocal + b + c") << "the merged tracks left the selection";
    EXPECT_FALSE (CommandIDs::getInstance().isEnabled (merge));
}

TEST (MainWindow, CompressedFileAsksFirstAndDontShowAgainSilencesTheQuestion)
{
    ApplicationFixture fixture;
    auto& content = fixture.content();
    TemporaryDirectory songs;
    // Not a real MP3: the question comes before any decoding, and the failure after it
    // shows that the file was (or was not) opened.
    const auto mp3 = songs.get().getChildFile ("lossy.mp3");
    ASSERT_TRUE (mp3.replaceWithText ("not an mp3 either"));

    auto clickButton = [] (const juce::String& text) {
        auto* window = dynamic_cast<juce::AlertWindow*> (findModalWindow (MainContentComponent::lowQualityTitle));
        if (window == nullptr)
            return false;
        for (auto* child : window->getChildren())
            if (auto* button = dynamic_cast<juce::Button*> (child); button != nullptr && button->getButtonText() == text)
            {
                button->triggerClick();
                return true;
            }
        return false;
    };

    // Cancel: nothing is opened.
    ASSERT_TRUE (content.loadAudioFile (mp3));
    ASSERT_TRUE (waitUntil ([] { return findModalWindow (MainContentComponent::lowQualityTitle) != nullptr; }, 5000));
    EXPECT_FALSE (content.isOpeningFile());
    ASSERT_TRUE (clickButton ("Cancel"));
    ASSERT_TRUE (waitUntil ([] { return findModalWindow (MainContentComponent::lowQualityTitle) == nullptr; }, 5000));
    EXPECT_FALSE (content.isOpeningFile());
    EXPECT_TRUE (SettingsManager::getInstance().getLowQualityWarning());

    // "Don't show again": the file is opened (and fails), and the setting is stored off.
    ASSERT_TRUE (content.loadAudioFile (mp3));
    ASSERT_TRUE (waitUntil ([] { return findModalWindow (MainContentComponent::lowQualityTitle) != nullptr; }, 5000));
    ASSERT_TRUE (clickButton (MainContentComponent::dontShowAgainText));
    EXPECT_TRUE (waitUntil ([] { return findModalWindow ("Cannot open audio file") != nullptr; }, 10000));
    EXPECT_FALSE (SettingsManager::getInstance().getLowQualityWarning());
    const auto stored = juce::JSON::parse (DirectoryManager::getSettingsFile());
    EXPECT_FALSE ((bool) stored["lowQualityWarning"]);
    juce::ModalComponentManager::getInstance()->cancelAllModalComponents();
    ASSERT_TRUE (waitUntil ([] { return juce::ModalComponentManager::getInstance()->getNumModalComponents() == 0; }, 5000));

    // The next MP3 opens at once.
    ASSERT_TRUE (content.loadAudioFile (mp3));
    EXPECT_TRUE (content.isOpeningFile());
    EXPECT_EQ (findModalWindow (MainContentComponent::lowQualityTitle), nullptr);
    EXPECT_TRUE (waitUntil ([&] { return ! content.isOpeningFile(); }, 10000));
}

namespace
{
/** Keeps a screenshot in build/tests/artifacts for a person to look at. */
void saveArtifact (const juce::Image& shot, const juce::String& name)
{
    auto artifacts = juce::File::getCurrentWorkingDirectory().getChildFile ("artifacts");
    artifacts.createDirectory();
    juce::PNGImageFormat png;
    juce::FileOutputStream out (artifacts.getChildFile (name));
    if (out.openedOk())
    {
        out.setPosition (0);
        out.truncate();
        png.writeImageToStream (shot, out);
    }
}
/** The window as a person sees it (a snapshot leaves the OpenGL-drawn view blank: it is
    drawn in from the view's own snapshot). */
juce::Image windowPicture (ApplicationFixture& fixture)
{
    auto& content = fixture.content();
    auto& view = content.getSpectrogramView();
    auto window = content.createComponentSnapshot (content.getLocalBounds());
    const auto at = content.getLocalPoint (&view, juce::Point<int>());
    juce::Graphics (window).drawImageAt (view.createComponentSnapshot (view.getLocalBounds()), at.x, at.y);
    return window;
}
} // namespace

TEST (MainWindow, ASteadyToneIsABrightLineAtItsHeightInTheSpectralEditor)
{
    TemporaryDirectory songs;
    constexpr int rate = 44100;
    constexpr double hz = 2000.0;
    const auto song = writeSong (songs.get(), "tone.wav", makeSine (2, rate * 3, rate, hz, 0.5f));
    ApplicationFixture fixture ("\"" + song.getFullPathName() + "\"");
    ASSERT_TRUE (fixture.waitForMaster ("tone"));

    // The song opens in the spectral editor; the chunks under it are made.
    auto& view = fixture.content().getSpectrogramView();
    ASSERT_TRUE (waitUntil ([&] { return view.isShowing() && view.getSpectrogram().getImageWidth() > 0; }, 20000));
    auto& image = view.getSpectrogram();
    ASSERT_TRUE (waitUntil (
        [&] {
            for (auto i : image.getChunksCovering ({ 0, image.getImageWidth() }, { 0, image.getImageHeight() }))
                if (! image.isChunkCurrent (i))
                    return false;
            return true;
        },
        20000));
    juce::MessageManager::getInstance()->runDispatchLoopUntil (100); // ms: the repaint
    EXPECT_GT (view.getHeight(), 100);

    const auto shot = view.createComponentSnapshot (view.getLocalBounds());
    saveArtifact (shot, "spectral-editor-tone.png");

    // In the middle of the view, the brightest pixel lies where the scale puts 2 kHz.
    const auto bin = hz * 4096.0 / rate;
    const auto expectedY = view.imageToView ({ 0.0, bin + 0.5 }).y;
    for (const auto x : { view.getWidth() / 4, view.getWidth() / 2, 3 * view.getWidth() / 4 })
    {
        int brightest = -1;
        float best = -1.0f;
        for (int y = 0; y < shot.getHeight(); ++y)
            if (const auto b = shot.getPixelAt (x, y).getBrightness(); b > best)
                best = b, brightest = y;
        EXPECT_NEAR ((float) brightest, expectedY, 2.0f + (float) view.getHeight() / (float) image.getImageHeight()) << x;
        EXPECT_GT (best, 0.8f) << x;
        // Far from the tone the image is dark.
        EXPECT_LT (
            shot.getPixelAt (x, juce::jlimit (0, shot.getHeight() - 1, (int) expectedY - view.getHeight() / 4)).getBrightness(),
            0.5f)
            << x;
    }

    // The shader drew it (Mesa's OpenGL under the virtual display): all five chunk rows,
    // uploaded a few milliseconds a frame, the rest by the frames that followed.
    const auto covering = (int) image.getChunksCovering ({ 0, image.getImageWidth() }, { 0, image.getImageHeight() }).size();
    EXPECT_TRUE (waitUntil (
        [&] {
            const auto& gl = view.getOpenGLHelper();
            return view.isUsingOpenGL() && gl.getChunksDrawn() == covering && ! gl.hasPendingUploads();
        },
        10000));

    // The shader's picture has the software picture's colours: read back from the view's
    // context, drawn into a frame buffer of its own. (The job holds nothing of this
    // scope but the spectrogram, which the view keeps while its context runs.)
    auto drawn = std::make_shared<std::promise<juce::Image>>();
    auto drawnFuture = drawn->get_future();
    const auto vw = view.getWidth(), vh = view.getHeight();
    OpenGLHelper::Frame frame;
    frame.focus = view.getFocusArea().getRect();
    frame.viewWidth = vw;
    frame.viewHeight = vh;
    ASSERT_NE (view.getOpenGLContext(), nullptr);
    view.getOpenGLContext()->executeOnGLThread (
        [drawn, frame, vw, vh, &image] (juce::OpenGLContext& context) {
            juce::Image result (juce::Image::ARGB, vw, vh, true);
            OpenGLHelper probe;
            juce::OpenGLFrameBuffer buffer;
            if (probe.newContext (context) && buffer.initialise (context, vw, vh) && buffer.makeCurrentRenderingTarget())
            {
                for (int k = 0; k < 100 && (k == 0 || probe.hasPendingUploads()); ++k)
                    probe.render (context, image, frame);
                const juce::Image::BitmapData data (result, juce::Image::BitmapData::writeOnly);
                std::vector<juce::PixelARGB> pixels ((size_t) (vw * vh));
                buffer.readPixels (pixels.data(), { 0, 0, vw, vh });
                for (int y = 0; y < vh; ++y)
                    for (int x = 0; x < vw; ++x)
                        data.setPixelColour (x, y, juce::Colour (pixels[(size_t) (y * vw + x)]));
                buffer.releaseAsRenderingTarget();
            }
            probe.release (context);
            drawn->set_value (result);
        },
        false);
    ASSERT_TRUE (waitUntil ([&] { return drawnFuture.wait_for (std::chrono::seconds (0)) == std::future_status::ready; }, 10000));
    const auto shader = drawnFuture.get();
    // The mean colour of the coloured pixels (the line: position free, as the two may
    // round its row differently, and the card's filter blends it with its dark
    // neighbours), red and blue far enough apart that a swap would show.
    auto colourOfLine = [] (const juce::Image& picture) {
        std::array<double, 3> sum {};
        int count = 0;
        for (int y = 0; y < picture.getHeight(); ++y)
            for (int x = 0; x < picture.getWidth(); ++x)
                if (const auto c = picture.getPixelAt (x, y); std::abs (c.getRed() - c.getBlue()) >= 60)
                {
                    sum[0] += c.getRed(), sum[1] += c.getGreen(), sum[2] += c.getBlue();
                    ++count;
                }
        for (auto& v : sum)
            v /= juce::jmax (1, count);
        return std::pair (sum, count);
    };
    const auto [software, softwareCount] = colourOfLine (shot);
    const auto [shaded, shadedCount] = colourOfLine (shader);
    ASSERT_GT (softwareCount, vw / 2);
    EXPECT_NEAR (shadedCount, softwareCount, softwareCount / 2);
    const auto redOverBlue = software[0] - software[2];
    ASSERT_GT (std::abs (redOverBlue), 40.0);
    EXPECT_GT ((shaded[0] - shaded[2]) / redOverBlue, 0.4) << shaded[0] << " " << shaded[1] << " " << shaded[2] << " beside "
                                                           << software[0] << " " << software[1] << " " << software[2];

    // Without OpenGL (some remote desktops) a view draws the same in software and says
    // so once.
    {
        ScopedEnvironment noOpenGL ("KALDER_NO_OPENGL", "1");
        SpectrogramComponent software;
        int told = 0;
        software.onStatus = [&told] (const juce::String& text) { told += text == SpectrogramComponent::softwareDrawingNotice; };
        software.setSize (view.getWidth(), view.getHeight());
        software.setTrack (view.getTrack());
        ASSERT_TRUE (software.getSpectrogram().waitUntilCurrent (20000));
        juce::MessageManager::getInstance()->runDispatchLoopUntil (100); // ms: the notice
        EXPECT_EQ (told, 1);
        EXPECT_FALSE (software.isUsingOpenGL());
        const auto picture = software.createComponentSnapshot (software.getLocalBounds());
        const auto x = software.getWidth() / 2;
        int brightest = -1;
        float best = -1.0f;
        for (int y = 0; y < picture.getHeight(); ++y)
            if (const auto b = picture.getPixelAt (x, y).getBrightness(); b > best)
                best = b, brightest = y;
        EXPECT_NEAR ((float) brightest, software.imageToView ({ 0.0, bin + 0.5 }).y,
                     2.0f + (float) software.getHeight() / image.getImageHeight());
    }

    // The frequency ruler puts 2 kHz where the image has it; bars and rulers follow the
    // focus area, the bar moves it, and a drag on the time ruler makes a loop.
    auto& area = fixture.content().getEditorArea();
    auto& ruler = area.getFrequencyScale();
    EXPECT_NEAR (ruler.getY() + ruler.yOf (hz * 4096.0 / rate * rate / 4096.0 + rate / 8192.0), view.getY() + expectedY, 1.5f);
    view.zoomAroundPoint ({ view.getWidth() / 2.0f, view.getHeight() / 2.0f }, -400.0, 0.0);
    ASSERT_TRUE (waitUntil ([&] { return area.getZoomBar (true).getShown() == view.getVisibleX(); }, 2000));
    EXPECT_EQ (area.getTimeScale().getRange(), view.getVisibleX());
    EXPECT_NEAR (view.getVisibleX().getLength(), 0.25, 1e-9);
    // The zoom buttons: one click in and one out on each axis leave the view as it was.
    const auto before = view.getFocusArea().getRect();
    for (auto time : { true, false })
    {
        area.getZoomButton (time, true).triggerClick();
        juce::MessageManager::getInstance()->runDispatchLoopUntil (20); // ms: the click is posted
        EXPECT_NEAR (time ? view.getVisibleX().getLength() : view.getVisibleY().getLength(),
                     (time ? before.width : before.height) / std::sqrt (2.0), 1e-9);
        area.getZoomButton (time, false).triggerClick();
        juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
    }
    EXPECT_NEAR (view.getFocusArea().getWidth(), before.width, 1e-9);
    EXPECT_NEAR (view.getFocusArea().getHeight(), before.height, 1e-9);
    // The time zoom bar: dragging its thumb's end zooms, a double-click shows the whole
    // song, dragging its middle scrolls (pinned at the end).
    auto& bar = area.getZoomBar (true);
    auto drag = [&bar] (int from, int to) {
        auto at = [&bar, clicks = to == from ? 2 : 1] (int x) {
            const juce::Point<float> p ((float) x, bar.getHeight() / 2.0f);
            return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), p, juce::ModifierKeys::leftButtonModifier,
                                     0.0f, 0.0f, 0.0f, 0.0f, 0.0f, &bar, &bar, juce::Time::getCurrentTime(), p,
                                     juce::Time::getCurrentTime(), clicks, false);
        };
        bar.mouseDown (at (from));
        if (to == from)
            bar.mouseDoubleClick (at (to));
        else
            bar.mouseDrag (at (to));
        bar.mouseUp (at (to));
    };
    const auto thumb = bar.getThumbBounds();
    const auto shownBefore = view.getVisibleX();
    drag (thumb.getRight() - 2, thumb.getRight() - 2 - thumb.getWidth() / 2);
    EXPECT_TRUE (waitUntil (
        [&] {
            return std::abs (view.getVisibleX().getLength() - shownBefore.getLength() / 2.0) < 0.01
                   && view.getVisibleX().getStart() == shownBefore.getStart() && bar.getShown() == view.getVisibleX();
        },
        2000))
        << view.getVisibleX().getStart() << " " << view.getVisibleX().getLength();
    drag (bar.getThumbBounds().getCentreX(), bar.getThumbBounds().getCentreX());
    EXPECT_TRUE (waitUntil ([&] { return view.getVisibleX() == juce::Range<double> (0.0, 1.0); }, 2000));
    for (int i = 0; i < 4; ++i) // back to a quarter of the song, two doublings
        area.getZoomButton (true, true).triggerClick();
    ASSERT_TRUE (waitUntil (
        [&] { return std::abs (view.getVisibleX().getLength() - 0.25) < 1e-9 && bar.getShown() == view.getVisibleX(); }, 2000));
    drag (bar.getThumbBounds().getCentreX(), bar.getWidth() * 2); // past the end: pinned
    EXPECT_TRUE (waitUntil (
        [&] { return view.getVisibleX().getEnd() == 1.0 && area.getTimeScale().getRange().getStart() == 0.75; }, 2000));
    auto& timeRuler = area.getTimeScale();
    auto rulerEvent = [&] (float x) {
        const juce::Point<float> p (x, timeRuler.getHeight() / 2.0f);
        return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), p, juce::ModifierKeys::leftButtonModifier,
                                 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, &timeRuler, &timeRuler, juce::Time::getCurrentTime(), p,
                                 juce::Time::getCurrentTime(), 1, false);
    };
    auto& loop = fixture.content().getLoop();
    const auto loopBefore = loop.getLoopArea();
    const auto w = (float) timeRuler.getWidth();
    timeRuler.mouseDown (rulerEvent (0.2f * w));
    timeRuler.mouseUp (rulerEvent (0.2f * w)); // a click: nothing changes
    EXPECT_EQ (loop.getLoopArea(), loopBefore);
    timeRuler.mouseDown (rulerEvent (0.2f * w));
    timeRuler.mouseDrag (rulerEvent (0.5f * w));
    timeRuler.mouseUp (rulerEvent (0.6f * w));
    EXPECT_TRUE (loop.isLoopEnabled());
    EXPECT_NEAR (loop.getLoopArea().getStart(), 0.75 + 0.25 * 0.2, 1e-4);
    EXPECT_NEAR (loop.getLoopArea().getEnd(), 0.75 + 0.25 * 0.6, 1e-4);
    juce::MessageManager::getInstance()->runDispatchLoopUntil (100); // ms: the repaint
    saveArtifact (windowPicture (fixture), "main-window-spectral-editor.png");
    // With auto-scroll on, a playhead that leaves the view brings the view along.
    auto& playhead = fixture.content().getPlayhead();
    playhead.setAutoScroll (true);
    view.setVisibleArea ({ 0.0, 0.25 }, { 0.0, 1.0 });
    playhead.setPosition (playhead.getTotalLength() / 2);
    EXPECT_TRUE (view.getFocusArea().getVisibleX().contains (0.5)) << view.getFocusArea().getVisibleX().getStart();
    playhead.setAutoScroll (false);
    playhead.setPosition (0);
    EXPECT_TRUE (view.getFocusArea().getVisibleX().contains (0.5));
}

TEST (MainWindow, TheWandPreviewsSelectsAndErasesAndTheHistoryPanelGoesBackAndForth)
{
    TemporaryDirectory songs;
    constexpr int rate = 44100;
    const auto song = writeSong (songs.get(), "note.wav", makeSine (2, rate * 3, rate, 2000.0, 0.5f));
    ApplicationFixture fixture ("\"" + song.getFullPathName() + "\"");
    ASSERT_TRUE (fixture.waitForMaster ("note"));
    auto& view = fixture.content().getSpectrogramView();
    ASSERT_TRUE (waitUntil ([&] { return view.isShowing() && view.getSpectrogram().getImageWidth() > 0; }, 20000));
    auto track = fixture.app().getMixer().getMasterTrack();
    auto& edits = track->getManualEditManager();

    // Zoomed in on the note, so that one image cell spans several pixels.
    const auto bin = 2000.0 * 4096.0 / rate;
    const auto h = (double) view.getSpectrogram().getImageHeight();
    view.setVisibleArea ({ 0.3, 0.7 }, { 1.0 - (bin + 40) / h, 1.0 - (bin - 40) / h });
    ASSERT_TRUE (fixture.content().getToolPanel().selectTool (EditorTool::Type::wand));
    auto& wand = dynamic_cast<WandTool&> (view.getActiveTool());
    const auto at = view.imageToView ({ view.getSpectrogram().getImageWidth() * 0.5, bin + 0.5 });

    auto event = [&] (juce::Point<float> p, juce::ModifierKeys mods) {
        return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), p, mods, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, &view,
                                 &view, juce::Time::getCurrentTime(), p, juce::Time::getCurrentTime(), 1, false);
    };

    // Hover: the outline of what a click would select, off the message thread.
    const auto before = wand.getOverlayVersion();
    view.mouseMove (event (at, {}));
    ASSERT_TRUE (wand.waitForPreview (5000));
    const auto preview = wand.getPreview();
    ASSERT_FALSE (preview.isEmpty());
    EXPECT_TRUE (preview.getBins().contains ((int) bin));
    EXPECT_GT (wand.getOverlayVersion(), before);
    EXPECT_EQ (edits.getUndoManager().getUndoDescription(), juce::String()); // nothing recorded by hovering
    juce::MessageManager::getInstance()->runDispatchLoopUntil (100);         // ms: the repaint
    const auto shot = view.createComponentSnapshot (view.getLocalBounds());
    saveArtifact (shot, "spectral-editor-wand.png");
    int white = 0;
    for (int y = 0; y < shot.getHeight(); ++y)
        for (int x = 10; x < shot.getWidth(); ++x)
        {
            // The image's colours are saturated hues or black; the outline is white.
            const auto c = shot.getPixelAt (x, y);
            white += c.getBrightness() > 0.3f && c.getSaturation() < 0.15f ? 1 : 0;
        }
    EXPECT_GT (white, 20) << "the outline is drawn";

    // The click records one "Wand selection" with the preview's cells.
    view.mouseUp (event (at, juce::ModifierKeys::leftButtonModifier));
    EXPECT_EQ (edits.getUndoManager().getUndoDescription(), "Wand selection");
    auto* asig = track->getAsig();
    const auto frame = (int) (view.getSpectrogram().getImageWidth() * 0.5);
    ASSERT_TRUE (waitUntil ([&] { return view.getSpectrogram().getNumQueued() == 0; }, 10000));
    juce::MessageManager::getInstance()->runDispatchLoopUntil (200); // ms: the shaded chunks
    saveArtifact (view.createComponentSnapshot (view.getLocalBounds()), "spectral-editor-selection.png");
    saveArtifact (windowPicture (fixture), "main-window-selection.png");
    const auto selected = asig->getSelection ({ frame, frame + 1 });
    EXPECT_GT (selected ((int) bin, 0), 0.5f);
    // The selection's outline goes round the note, not round the view.
    ASSERT_TRUE (waitUntil ([&] { return ! view.getSelectionOutline().getPath().isEmpty(); }, 5000));
    const auto around = view.getSelectionOutline().getPath().getBounds();
    EXPECT_TRUE (around.contains (at)) << around.toString();
    EXPECT_LT (around.getHeight(), view.getHeight() / 2.0f);
    // A block of cells: its outline is its perimeter, merged into runs.
    std::vector<bool> block (5 * 4, false);
    for (auto i : { 6, 7, 8, 11, 12, 13 })
        block[(size_t) i] = true;
    const auto blockOutline = SelectionOutline::outlineOf (block, 5, 4);
    EXPECT_EQ (blockOutline.getBounds(), juce::Rectangle<float> (1.0f, 1.0f, 3.0f, 2.0f));
    EXPECT_NEAR (blockOutline.getLength(), 10.0f, 1e-3f);
    EXPECT_EQ (selected ((int) bin + 60, 0), 0.0f);

    // Erase takes it out of the mask, as much as it is selected.
    ASSERT_TRUE (fixture.invoke (Command::erase));
    const auto mask = asig->getMemoryManager()->getMaskFrames (0, { frame, frame + 1 }, AsigMemoryManager::Source::files);
    EXPECT_NEAR (mask ((int) bin, 0), 1.0f - selected ((int) bin, 0), 1e-4f);
    EXPECT_EQ (mask ((int) bin + 60, 0), 1.0f);

    // The history panel lists the steps; a click on a row goes back or forward to it.
    auto& history = fixture.content().getEditHistory();
    ASSERT_TRUE (history.isVisible());
    ASSERT_EQ (history.getNumRows(), 3);
    EXPECT_EQ (history.getRowText (0), EditHistoryComponent::originalRowText);
    EXPECT_EQ (history.getRowText (1), "Wand selection");
    EXPECT_EQ (history.getRowText (2), "Selection erase");
    EXPECT_EQ (history.getCurrentRow(), 2);
    auto maskAtNote = [&] {
        return asig->getMemoryManager()->getMaskFrames (0, { frame, frame + 1 }, AsigMemoryManager::Source::files) ((int) bin, 0);
    };
    history.goToRow (0);
    EXPECT_EQ (maskAtNote(), 1.0f);
    EXPECT_FALSE (asig->hasSelection());
    history.goToRow (2);
    EXPECT_NEAR (maskAtNote(), 1.0f - selected ((int) bin, 0), 1e-4f);

    // The tool commands: "A" cycles the active position's alternates, a position keeps
    // its current alternate, and the parameter bar shows the active tool's parameters.
    auto toolCommand = [] (int position) {
        return static_cast<Command> (static_cast<int> (Command::firstEditorTool) + position);
    };
    ASSERT_TRUE (fixture.invoke (Command::nextAlternate));
    EXPECT_EQ (view.getActiveTool().getType(), EditorTool::Type::harmonicWand);
    auto& bar = fixture.content().getParamsBar();
    ASSERT_EQ (bar.getNumParamComponents(), 5);
    for (int i = 0; i < 5; ++i) // wrapped onto a second row rather than left out
        EXPECT_TRUE (bar.getParamComponent (i)->isVisible()
                     && bar.getLocalBounds().contains (bar.getParamComponent (i)->getBounds()))
            << bar.getParamComponent (i)->getParam().getName();
    saveArtifact (windowPicture (fixture), "main-window-harmonic-wand.png");
    ASSERT_TRUE (fixture.invoke (toolCommand (2)));
    EXPECT_EQ (view.getActiveTool().getType(), EditorTool::Type::rectangleSelect);
    EXPECT_EQ (fixture.content().getParamsBar().getParamComponent (0)->getParam().getName(), juce::String ("Frequency snap"));
    ASSERT_TRUE (fixture.invoke (toolCommand (3)));
    EXPECT_EQ (view.getActiveTool().getType(), EditorTool::Type::harmonicWand);
    EXPECT_FALSE (fixture.invoke (toolCommand (8))); // kept for the melody editor

    // Zoom keeps the point under the mouse in place and stops at 16 cells; scrolling
    // stops at the image's edges.
    const juce::Point<float> mouse (view.getWidth() * 0.3f, view.getHeight() * 0.6f);
    const auto under = view.viewToImage (mouse);
    view.zoomAroundPoint (mouse, -200.0, -200.0);
    EXPECT_NEAR (view.viewToImage (mouse).x, under.x, 1e-6);
    EXPECT_NEAR (view.viewToImage (mouse).y, under.y, 1e-6);
    for (int i = 0; i < 40; ++i)
        view.zoomAroundPoint (mouse, -200.0, -200.0);
    EXPECT_NEAR (view.getVisibleX().getLength() * view.getSpectrogram().getImageWidth(), 16.0, 1e-6);
    view.scrollBy (1000.0, -1000.0);
    EXPECT_DOUBLE_EQ (view.getVisibleX().getEnd(), 1.0);
    EXPECT_DOUBLE_EQ (view.getVisibleY().getStart(), 0.0);
    view.zoomAroundPoint (mouse, 1.0e9, 1.0e9);
    EXPECT_EQ (view.getVisibleX(), juce::Range<double> (0.0, 1.0));

    // Modifier keys and modes.
    using M = juce::ModifierKeys;
    EXPECT_EQ (EditorTool::modeFor ({}, true), SelectionMode::replace);
    EXPECT_EQ (EditorTool::modeFor (M::shiftModifier, true), SelectionMode::addPoint);
    EXPECT_EQ (EditorTool::modeFor (M::shiftModifier, false), SelectionMode::addArea);
    EXPECT_EQ (EditorTool::modeFor (M::shiftModifier | M::altModifier, true), SelectionMode::subtract);
}

TEST (MainWindow, EveryToolOfThePanelWorksThroughTheView)
{
    // A 2 kHz tone with one click at 1.5 s.
    TemporaryDirectory songs;
    auto audio = makeSine (2, rate * 3, rate, 2000.0, 0.3f);
    for (int c = 0; c < 2; ++c)
        audio.setSample (c, rate * 3 / 2, 0.95f);
    const auto song = writeSong (songs.get(), "tools.wav", audio);
    ApplicationFixture fixture ("\"" + song.getFullPathName() + "\"");
    ASSERT_TRUE (fixture.waitForMaster ("tools"));
    auto& view = fixture.content().getSpectrogramView();
    auto& panel = fixture.content().getToolPanel();
    ASSERT_TRUE (waitUntil ([&] { return view.isShowing() && view.getSpectrogram().getImageWidth() > 0; }, 20000));
    auto track = fixture.app().getMixer().getMasterTrack();
    auto& undo = track->getManualEditManager().getUndoManager();
    auto* asig = track->getAsig();
    const auto iw = view.getSpectrogram().getImageWidth(), ih = view.getSpectrogram().getImageHeight();
    const auto bin = (int) (2000.0 * 4096.0 / rate + 0.5);
    const auto clickFrame = view.getSpectrogram().getTrack()->getGeometry().getFrameCentredAt (rate * 1.5);

    using M = juce::ModifierKeys;
    const M left (M::leftButtonModifier);
    auto event = [&] (juce::Point<float> p, M mods, juce::Point<float> down) {
        return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), p, mods, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, &view,
                                 &view, juce::Time::getCurrentTime(), down, juce::Time::getCurrentTime(), 1, p != down);
    };
    auto drag = [&] (juce::Point<float> from, juce::Point<float> to, M mods) {
        view.mouseDown (event (from, mods, from));
        view.mouseDrag (event ((from + to) / 2.0f, mods, from));
        view.mouseDrag (event (to, mods, from));
        view.mouseUp (event (to, mods, from));
    };
    auto at = [&] (double frame, double row) { return view.imageToView ({ frame + 0.5, row + 0.5 }); };
    auto wheel = [&] (M mods, float dy) {
        juce::MouseWheelDetails w { 0.0f, dy, false, false, false };
        view.mouseWheelMove (event (at (iw * 0.5, bin), mods, at (iw * 0.5, bin)), w);
    };
    auto selectionAt = [&] (int frame, int row) { return asig->getSelection ({ frame, frame + 1 }) (row, 0); };
    auto maskAt = [&] (int frame, int row) {
        return asig->getMemoryManager()->getMaskFrames (0, { frame, frame + 1 }, AsigMemoryManager::Source::files) (row, 0);
    };

    // Threshold above: the rectangle in the colour of its level; only the tone is taken.
    // Alt + wheel moves the threshold by exactly the wheel's delta.
    ASSERT_TRUE (panel.selectTool (EditorTool::Type::thresholdAbove));
    auto& threshold = dynamic_cast<ThresholdSelectTool&> (view.getActiveTool());
    threshold.findParam ("Threshold (dB)")->setValue (-40.0);
    wheel (M::altModifier, 0.5f);
    EXPECT_DOUBLE_EQ (threshold.findParam ("Threshold (dB)")->getDouble(), -39.5);
    drag (at (iw * 0.2, bin + 100), at (iw * 0.4, bin - 100), left);
    const auto p = view.getSpectrogram().getColourMapping().thresholdColour (-39.5f);
    EXPECT_EQ (threshold.getOverlayColour(), juce::Colour (p.r, p.g, p.b));
    EXPECT_EQ (undo.getUndoDescription(), juce::String ("Threshold selection"));
    EXPECT_EQ (selectionAt ((int) (iw * 0.3), bin), 1.0f);
    EXPECT_EQ (selectionAt ((int) (iw * 0.3), bin + 60), 0.0f);

    // A right drag zooms whatever the tool, and never selects.
    const auto transactions = undo.getNumUndos();
    const auto widthBefore = view.getVisibleX().getLength();
    drag (at (iw * 0.5, bin), at (iw * 0.5, bin) + juce::Point<float> (80.0f, -40.0f), M (M::rightButtonModifier));
    EXPECT_LT (view.getVisibleX().getLength(), widthBefore);
    EXPECT_EQ (undo.getNumUndos(), transactions);

    // Zoom: a click halves the view around the point, zoom out doubles it back, a
    // dragged rectangle fills the view; move drags the image along.
    view.setVisibleArea ({ 0.0, 1.0 }, { 0.0, 1.0 });
    ASSERT_TRUE (panel.selectTool (EditorTool::Type::zoomIn));
    const juce::Point<float> middle (view.getWidth() / 2.0f, view.getHeight() / 2.0f);
    drag (middle, middle, left);
    EXPECT_NEAR (view.getVisibleX().getLength(), 0.5, 1e-9);
    ASSERT_TRUE (fixture.invoke (Command::nextAlternate));
    EXPECT_EQ (view.getActiveTool().getType(), EditorTool::Type::zoomOut);
    drag (middle, middle, left);
    EXPECT_NEAR (view.getVisibleX().getLength(), 1.0, 1e-9);
    ASSERT_TRUE (panel.selectTool (EditorTool::Type::zoomIn));
    const auto a = juce::Point<float> (view.getWidth() * 0.25f, view.getHeight() * 0.1f),
               b = juce::Point<float> (view.getWidth() * 0.5f, view.getHeight() * 0.6f);
    drag (a, b, left);
    EXPECT_NEAR (view.getVisibleX().getStart(), 0.25, 1e-6);
    EXPECT_NEAR (view.getVisibleX().getLength(), 0.25, 1e-6);
    EXPECT_NEAR (view.getVisibleY().getLength(), 0.5, 1e-6);
    ASSERT_TRUE (panel.setActiveTool (0));
    const auto centre = view.getFocusArea().getCentreX();
    drag (middle, middle - juce::Point<float> (view.getWidth() / 10.0f, 0.0f), left);
    EXPECT_NEAR (view.getFocusArea().getCentreX(), centre + 0.025, 1e-6);

    // Transient select: hovering finds the click; a click selects it.
    view.setVisibleArea ({ 0.0, 1.0 }, { 0.0, 1.0 });
    ASSERT_TRUE (panel.selectTool (EditorTool::Type::transientSelect));
    auto& transient = dynamic_cast<TransientSelectTool&> (view.getActiveTool());
    const auto onClick = at (clickFrame, ih * 0.7);
    view.mouseMove (event (onClick, {}, onClick));
    ASSERT_TRUE (transient.waitForPreview (5000));
    ASSERT_FALSE (transient.getPreview().isEmpty());
    EXPECT_TRUE (
        juce::Range<int> (transient.getPreview().x1, transient.getPreview().x1 + (int) transient.getPreview().values.cols())
            .contains (clickFrame));
    drag (onClick, onClick, left);
    EXPECT_EQ (undo.getUndoDescription(), juce::String ("Transient selection"));
    EXPECT_GT (selectionAt (clickFrame, (int) (ih * 0.7)), 0.0f);
    EXPECT_EQ (selectionAt (clickFrame - 40, (int) (ih * 0.7)), 0.0f);

    // The eraser lowers the mask along a stroke (one undo step), Alt gives it back.
    ASSERT_TRUE (panel.selectTool (EditorTool::Type::eraser));
    const auto from = at (iw * 0.6, bin), to = at (iw * 0.7, bin);
    drag (from, to, left);
    EXPECT_EQ (undo.getUndoDescription(), juce::String ("Eraser stroke"));
    const auto frameUnder = (int) (iw * 0.65);
    EXPECT_LT (maskAt (frameUnder, bin), 0.01f);
    EXPECT_EQ (maskAt (frameUnder, bin + 200), 1.0f);
    drag (from, to, M (M::leftButtonModifier | M::altModifier));
    EXPECT_GT (maskAt (frameUnder, bin), 0.99f);
    undo.undo();
    EXPECT_LT (maskAt (frameUnder, bin), 0.01f);

    // The harmonic wand steps "Sel. harmonic" once a second however fast the wheel
    // turns; a pause lets the next turn step at once.
    ASSERT_TRUE (panel.selectTool (EditorTool::Type::harmonicWand));
    auto* harmonic = view.getActiveTool().findParam ("Sel. harmonic");
    for (int i = 0; i < 5; ++i)
        wheel (M::altModifier, 0.2f);
    EXPECT_EQ (harmonic->getInt(), 2);
    wheel (M::altModifier, 0.0f);
    wheel (M::altModifier, -0.2f);
    EXPECT_EQ (harmonic->getInt(), 1);

    // Every tool's cursors exist, with Shift and Alt as the selection modes show them, as
    // do the separations' icons, and each at 200 % is the same drawing with twice the pixels.
    auto& resources = ResourceManager::getInstance();
    constexpr int size = ResourceManager::imageSize;
    juce::StringArray drawings { "VocalSeparation", "BassSeparation",     "DrumSeparation",
                                 "OtherSeparation", "FourstemSeparation", "PanSeparation" };
    for (int position = 0; position < EditorToolsComponent::numPositions; ++position)
        for (auto type : EditorToolsComponent::getAlternates (position))
            for (auto mods : { M(), M (M::shiftModifier), M (M::shiftModifier | M::altModifier) })
                if (const auto name = view.getTool (type).getCursorName (mods); name.isNotEmpty())
                    drawings.addIfNotAlreadyThere (name);
    for (const auto& name : drawings)
    {
        const auto normal = resources.getImage (name), twice = resources.getImage (name, 2 * size);
        ASSERT_TRUE (normal.isValid()) << name;
        ASSERT_EQ (twice.getWidth(), 2 * size) << name;
        const auto reduced = twice.rescaled (size, size, juce::Graphics::highResamplingQuality);
        double difference = 0.0, ink = 0.0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
            {
                difference += std::abs (normal.getPixelAt (x, y).getFloatAlpha() - reduced.getPixelAt (x, y).getFloatAlpha());
                ink += normal.getPixelAt (x, y).getFloatAlpha();
            }
        EXPECT_GT (ink, size * 2.0) << name;
        EXPECT_LT (difference, ink * 0.2) << name;
    }
    EXPECT_EQ (view.getTool (EditorTool::Type::wand).getCursorName (M::shiftModifier), juce::String ("magicWandCursorPlus"));
}

TEST (MainWindow, TheSeparationDialogStartsASeparationTheRowFollowsItAndCancelLeavesNothing)
{
    TemporaryDirectory songs;
    const auto song = writeSong (songs.get(), "song.wav", makeTwoLevelSong());
    ApplicationFixture fixture ("\"" + song.getFullPathName() + "\"");
    ASSERT_TRUE (fixture.waitForMaster ("song"));
    auto& mixer = fixture.app().getMixer();
    auto& list = fixture.content().getTrackList();
    auto* commands = fixture.app().getSeparationCommands();
    ASSERT_NE (commands, nullptr);
    std::optional<separation::SeparationLauncher::Outcome> outcome;
    commands->onEnded = [&outcome] (const separation::SeparationLauncher::Outcome& o) { outcome = o; };

    auto startFromTheDialog = [&] (Command command) {
        outcome.reset();
        if (! fixture.invoke (command) || ! waitUntil ([&] { return commands->getDialog() != nullptr; }, 5000))
            return false;
        auto* start = dynamic_cast<juce::Button*> (findDescendant (*commands->getDialog(), "start"));
        if (start == nullptr)
            return false;
        start->triggerClick();
        return waitUntil ([&] { return commands->getDialog() == nullptr; }, 5000);
    };

    // The drum dialog, as it opens, on the active track: the service the application brings along does the work.
    ASSERT_TRUE (startFromTheDialog (Command::drumSeparation));
    ASSERT_TRUE (waitUntil ([&] { return list.getShownSeparation (0).startsWith ("Separation: "); }, 5000));
    ASSERT_TRUE (waitUntil ([&] { return outcome.has_value(); }, 60000));
    ASSERT_TRUE (outcome->result.wasOk()) << outcome->getMessage();
    ASSERT_EQ (list.getNumRows(), 3);
    EXPECT_EQ (mixer.getAllTracks()[1]->getName(), "Drums");
    EXPECT_EQ (mixer.getAllTracks()[2]->getName(), "Pitched");
    EXPECT_TRUE (waitUntil ([&] { return list.getShownSeparation (0).isEmpty(); }, 2000)) << "the row lets go when it ends";

    // Edit > Undo on the separated track takes the whole separation back; Redo brings it again.
    ASSERT_TRUE (fixture.invoke (Command::undo));
    EXPECT_EQ (list.getNumRows(), 1);
    ASSERT_TRUE (fixture.invoke (Command::redo));
    EXPECT_EQ (list.getNumRows(), 3);

    // A second one, cancelled from its row: nothing it made stays, the track is free again.
    const auto work = DirectoryManager::getWorkingSubDir ("separations");
    ASSERT_TRUE (startFromTheDialog (Command::bassSeparation));
    auto* cancel = dynamic_cast<juce::Button*> (findDescendant (*list.getRow (0), "cancelSeparation"));
    ASSERT_NE (cancel, nullptr);
    ASSERT_TRUE (waitUntil ([&] { return cancel->isShowing() || outcome.has_value(); }, 5000));
    cancel->triggerClick();
    ASSERT_TRUE (waitUntil ([&] { return outcome.has_value(); }, 30000));
    EXPECT_TRUE (outcome->wasCancelled()) << outcome->getMessage();
    EXPECT_EQ (list.getNumRows(), 3);
    EXPECT_FALSE (mixer.getMasterTrack()->isBusy());
    EXPECT_TRUE (work.findChildFiles (juce::File::findFilesAndDirectories, false).isEmpty());
    EXPECT_EQ (findModalWindow ("Separation"), nullptr) << "a cancel is not an error";
}

TEST (MainWindow, TheMelodyEditorShowsTheSungPitchTracksItTakesADrawnLineAndGuidesTravelBetweenTracks)
{
    // A harmonic tone at MIDI 57 (220 Hz) for three seconds.
    TemporaryDirectory songs;
    auto audio = makeSine (2, rate * 3, rate, 220.0, 0.3f);
    for (int h = 2; h <= 6; ++h)
    {
        const auto partial = makeSine (2, rate * 3, rate, 220.0 * h, 0.3f / (float) h);
        for (int c = 0; c < 2; ++c)
            audio.addFrom (c, 0, partial, c, 0, audio.getNumSamples());
    }
    const auto song = writeSong (songs.get(), "sung.wav", audio);
    ApplicationFixture fixture ("\"" + song.getFullPathName() + "\"");
    ASSERT_TRUE (fixture.waitForMaster ("sung"));
    auto track = fixture.app().getMixer().getMasterTrack();
    auto& content = fixture.content();
    ASSERT_TRUE (waitUntil ([&] { return content.getSpectrogramView().isShowing(); }, 20000));
    content.getFocusArea().setVisibleRanges ({ 0.1, 0.9 }, { 0.0, 1.0 });

    // Switching editors keeps what is shown in time; the picture comes from the track's pool.
    ASSERT_TRUE (waitUntil ([&] { return fixture.invoke (Command::showMelodyEditor); }, 5000));
    auto& editor = content.getPitchEditor();
    ASSERT_TRUE (waitUntil ([&] { return editor.isShowing() && editor.isShowingPicture(); }, 20000));
    EXPECT_FALSE (content.getSpectrogramView().isShowing());
    EXPECT_NEAR (content.getFocusArea().getVisibleX().getStart(), 0.1, 1e-6);
    juce::MessageManager::getInstance()->runDispatchLoopUntil (100); // ms: the repaint
    const auto shot = editor.createComponentSnapshot (editor.getLocalBounds());
    saveArtifact (shot, "melody-editor-tone.png");
    const auto area = editor.getImageArea();
    const auto expectedY = editor.nodeToView ({ 0.5f, PitchLine::midiToY (57.0f) }).y;
    // the loudest colour of the picture lies at the sung pitch
    const auto loudest = editor.getLoudestColour();
    int loudestRow = -1;
    float nearest = 1.0e9f;
    for (int y = area.getY(); y < area.getBottom(); ++y)
    {
        const auto c = shot.getPixelAt (area.getCentreX(), y);
        const auto d = (float) (std::abs (c.getRed() - loudest.getRed()) + std::abs (c.getGreen() - loudest.getGreen())
                                + std::abs (c.getBlue() - loudest.getBlue()));
        if (d < nearest)
            nearest = d, loudestRow = y;
    }
    EXPECT_NEAR ((float) loudestRow, expectedY, 4.0f);

    using M = juce::ModifierKeys;
    auto event = [&] (juce::Point<float> p, juce::Point<float> down) {
        return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), p, M (M::leftButtonModifier), 0.0f, 0.0f,
                                 0.0f, 0.0f, 0.0f, &editor, &editor, juce::Time::getCurrentTime(), down,
                                 juce::Time::getCurrentTime(), 1, p != down);
    };
    auto drag = [&] (juce::Point<float> from, juce::Point<float> to) {
        editor.mouseDown (event (from, from));
        editor.mouseDrag (event ((from + to) / 2.0f, from));
        editor.mouseDrag (event (to, from));
        editor.mouseUp (event (to, from));
    };
    auto at = [&] (float x, float midi) { return editor.nodeToView ({ x, PitchLine::midiToY (midi) }); };
    auto& pgram = track->getPgram();
    auto& undo = track->getManualEditManager().getUndoManager();

    // Tracking over the tone finds it.
    editor.setActiveTool (PitchEditorComponent::Tool::tracker);
    drag (at (0.2f, 70.0f), at (0.8f, 45.0f));
    EXPECT_EQ (undo.getUndoDescription(), juce::String ("Local melody tracking"));
    EXPECT_NEAR (pgram.getMidiPitchAt (0.5f), 57.0f, 0.25f);

    // A line drawn over the middle takes its place there, sounds while drawn, and undoes.
    editor.setActiveTool (PitchEditorComponent::Tool::freeDraw);
    const auto from = at (0.4f, 64.0f), to = at (0.6f, 64.0f);
    editor.mouseDown (event (from, from));
    editor.mouseDrag (event ((from + to) / 2.0f, from));
    EXPECT_NEAR (content.getTransport().getPreviewTone().getPitch(), 64.0f, 0.5f) << "the pitch under the pen sounds";
    editor.mouseDrag (event (to, from));
    editor.mouseUp (event (to, from));
    EXPECT_LT (content.getTransport().getPreviewTone().getPitch(), 0.0f);
    EXPECT_EQ (undo.getUndoDescription(), juce::String ("Draw melody"));
    EXPECT_NEAR (pgram.getMidiPitchAt (0.5f), 64.0f, 0.5f);
    EXPECT_NEAR (pgram.getMidiPitchAt (0.3f), 57.0f, 0.25f);
    EXPECT_GE (editor.getNumDrawnLines(), 3);
    ASSERT_TRUE (waitUntil ([&] { return fixture.invoke (Command::undo); }, 5000));
    EXPECT_NEAR (pgram.getMidiPitchAt (0.5f), 57.0f, 0.25f);

    // Export, then import into a second track: the same melody, and that track shows it.
    const auto guide = fixture.folder().getChildFile ("phrase.melody");
    content.setFileRequestHandler ([&] (const FileRequest& request, FileRequest::Answer answer) {
        EXPECT_TRUE (request.title == "Export melody guide..." || request.title == "Import melody guide...");
        answer (guide);
    });
    ASSERT_TRUE (fixture.invoke (Command::exportMelodyGuide));
    ASSERT_TRUE (guide.existsAsFile());
    auto other = test::makeTrack (fixture.folder(), "other", audio, rate);
    fixture.app().getMixer().addTrack (other);
    fixture.app().getMixer().setActiveTrack (other);
    ASSERT_TRUE (fixture.invoke (Command::importMelodyGuide));
    EXPECT_EQ (other->getEditor(), Editor::Type::melody);
    for (const auto x : { 0.25f, 0.5f, 0.75f })
        EXPECT_EQ (other->getPgram().getMidiPitchAt (x), pgram.getMidiPitchAt (x));

    // Guided vocals on a track without lines: the dialog says so and tracks the melody first.
    ASSERT_TRUE (other->getPitchEditManager().replaceAllLines ("Reset melody edits", {}));
    auto* separations = fixture.app().getSeparationCommands();
    ASSERT_TRUE (fixture.invoke (Command::vocalSeparation));
    ASSERT_TRUE (waitUntil ([&] { return separations->getDialog() != nullptr; }, 5000));
    juce::Component::SafePointer<juce::Component> dialog (separations->getDialog());
    dynamic_cast<juce::Button*> (findDescendant (*dialog, "guided"))->triggerClick();
    juce::Component::SafePointer<juce::Component> note (findDescendant (*dialog, "noMelodyNote"));
    ASSERT_NE (note, nullptr);
    EXPECT_TRUE (waitUntil ([&] { return note != nullptr && note->isVisible(); }, 5000));
    ASSERT_NE (dialog, nullptr);
    dynamic_cast<juce::Button*> (findDescendant (*dialog, "trackMelody"))->triggerClick();
    ASSERT_TRUE (waitUntil ([&] { return other->hasPitchEdits(); }, 20000));
    EXPECT_NEAR (other->getPgram().getMidiPitchAt (0.5f), 57.0f, 0.25f);
    EXPECT_TRUE (waitUntil ([&] { return note != nullptr && ! note->isVisible(); }, 5000));
    EXPECT_TRUE (closeAllModals());

    // A damaged guide changes nothing and says why.
    guide.replaceWithText ("[\n[\n0.1 nan\n");
    ASSERT_TRUE (fixture.invoke (Command::importMelodyGuide));
    EXPECT_NEAR (other->getPgram().getMidiPitchAt (0.5f), 57.0f, 0.25f);

    EXPECT_TRUE (closeAllModals());
}

TEST (MainWindow, ASavedProjectReopensAsSavedAndABadOneLeavesTheOpenProjectAlone)
{
    TemporaryDirectory songs;
    const auto song = writeSong (songs.get(), "tosave.wav", makeNoise (2, rate * 2, 9, 0.3f));
    ApplicationFixture fixture ("\"" + song.getFullPathName() + "\"");
    ASSERT_TRUE (fixture.waitForMaster ("tosave"));
    auto& content = fixture.content();
    auto& projects = content.getProjects();
    auto master = fixture.app().getMixer().getMasterTrack();
    EXPECT_FALSE (projects.hasUnsavedChanges()) << "a song just opened has nothing to lose";
    ASSERT_TRUE (master->getManualEditManager().erase (0, 30, 20, 300, 3.0, 1.0).wasChanged());
    master->setVolume (0.6f);
    EXPECT_TRUE (projects.hasUnsavedChanges());

    const auto file = fixture.folder().getChildFile ("projects/tosave.orv");
    content.setFileRequestHandler ([&] (const FileRequest& request, FileRequest::Answer answer) {
        EXPECT_TRUE (request.title == ProjectSession::saveAsTitle || request.title == ProjectSession::openTitle) << request.title;
        answer (file);
    });
    ASSERT_TRUE (waitUntil ([&] { return fixture.invoke (Command::save); }, 5000)); // no file yet: "Save project as..."
    ASSERT_TRUE (file.existsAsFile());
    EXPECT_FALSE (projects.hasUnsavedChanges());
    EXPECT_EQ (projects.getProjectFile(), file);

    // changed after the save, then the saved project opened again from the recent
    // projects: first the question, and the change let go
    master->setVolume (0.2f);
    std::optional<juce::Result> opened;
    projects.onOpened = [&opened] (const juce::Result& r) { opened = r; };
    ASSERT_EQ (SettingsManager::getInstance().getRecentProjects(), juce::StringArray { file.getFullPathName() });
    fixture.window().menuItemSelected (MainWindow::firstRecentProjectItem, MenuModel::fileMenu);
    ASSERT_TRUE (waitUntil ([] { return findModalWindow ("Save changes?") != nullptr; }, 5000))
        << "unsaved work was not asked for";
    EXPECT_FALSE (opened.has_value());
    ASSERT_TRUE (clickButtonInModal ("Save changes?", "Don't Save"));
    ASSERT_TRUE (waitUntil ([&] { return opened.has_value(); }, 30000));
    ASSERT_TRUE (opened->wasOk()) << opened->getErrorMessage();
    auto reopened = fixture.app().getMixer().getMasterTrack();
    ASSERT_NE (reopened, master);
    EXPECT_EQ (reopened->getName(), "tosave");
    EXPECT_FLOAT_EQ (reopened->getVolume(), 0.6f);
    const auto masked = reopened->getAsig()->readFrames (0, { 10, 11 }, Asig::MaskUse::mask, Asig::SelectionGain::none);
    const auto plain = reopened->getAsig()->readFrames (0, { 10, 11 }, Asig::MaskUse::none, Asig::SelectionGain::none);
    ASSERT_GT (masked.rows(), 165);
    EXPECT_LT (std::abs (masked (165, 0)), 0.5f * std::abs (plain (165, 0))) << "the erase is back";
    EXPECT_FALSE (projects.hasUnsavedChanges());

    // a damaged project: an alert, and the open project stays
    ASSERT_TRUE (file.replaceWithText ("Kalder Pro project"));
    opened.reset();
    ASSERT_TRUE (fixture.invoke (Command::openProject));
    ASSERT_TRUE (waitUntil ([&] { return opened.has_value(); }, 30000));
    EXPECT_TRUE (opened->failed());
    EXPECT_TRUE (opened->getErrorMessage().contains (file.getFullPathName()));
    EXPECT_EQ (fixture.app().getMixer().getMasterTrack(), reopened);
    EXPECT_TRUE (closeAllModals());
}

TEST (MainWindow, AnAutosaveLeftByACrashIsOfferedAtTheNextStartAndRecoversTheEdits)
{
    TemporaryDirectory songs, home;
    const auto song = writeSong (songs.get(), "crashy.wav", makeNoise (2, rate * 2, 11, 0.3f));
    const auto autosave = home.get().getChildFile ("autosave-left-by-a-crash");
    juce::File file; // the application's autosave, under its home
    {
        ApplicationFixture fixture ("\"" + song.getFullPathName() + "\"", home.get());
        ASSERT_TRUE (fixture.waitForMaster ("crashy"));
        auto& projects = fixture.content().getProjects();
        projects.autosaveNow();
        EXPECT_FALSE (projects.isAutosaving()) << "nothing to keep yet: no autosave";
        ASSERT_TRUE (
            fixture.app().getMixer().getMasterTrack()->getManualEditManager().erase (0, 30, 20, 300, 3.0, 1.0).wasChanged());
        // an edit is autosaved by itself soon after (not only at the interval)
        std::optional<juce::Result> written;
        projects.onAutosaved = [&written] (const juce::Result& r) { written = r; };
        ASSERT_TRUE (waitUntil ([&] { return written.has_value(); }, ProjectSession::autosaveIntervalMs / 2));
        ASSERT_TRUE (written->wasOk()) << written->getErrorMessage();
        file = DirectoryManager::getAutosaveFile();
        ASSERT_TRUE (file.isAChildOf (home.get()));
        ASSERT_TRUE (file.existsAsFile());
        // what a crash would leave behind; the normal quit below removes the autosave
        ASSERT_TRUE (file.getParentDirectory().copyDirectoryTo (autosave));
    }
    EXPECT_FALSE (file.exists()) << "a normal quit leaves no autosave behind";
    {
        ApplicationFixture fixture ({}, home.get());
        EXPECT_TRUE (waitUntil ([] { return findModalWindow (CrashRecoveryComponent::title) == nullptr; }, 2000))
            << "no offer after a normal quit";
    }
    ASSERT_TRUE (autosave.copyDirectoryTo (file.getParentDirectory()));
    ApplicationFixture fixture ({}, home.get());
    ASSERT_TRUE (waitUntil ([] { return findModalWindow (CrashRecoveryComponent::title) != nullptr; }, 10000));
    ASSERT_TRUE (clickButtonInModal (CrashRecoveryComponent::title, CrashRecoveryComponent::recoverButton));
    ASSERT_TRUE (fixture.waitForMaster ("crashy"));
    auto master = fixture.app().getMixer().getMasterTrack();
    const auto masked = master->getAsig()->readFrames (0, { 10, 11 }, Asig::MaskUse::mask, Asig::SelectionGain::none);
    const auto plain = master->getAsig()->readFrames (0, { 10, 11 }, Asig::MaskUse::none, Asig::SelectionGain::none);
    ASSERT_GT (masked.rows(), 165);
    EXPECT_LT (std::abs (masked (165, 0)), 0.5f * std::abs (plain (165, 0))) << "the edit came back";
    auto& projects = fixture.content().getProjects();
    EXPECT_TRUE (projects.hasUnsavedChanges()) << "recovered work is not saved work";
    EXPECT_EQ (projects.getProjectFile(), juce::File()) << "a save must not go over the autosave";
}
