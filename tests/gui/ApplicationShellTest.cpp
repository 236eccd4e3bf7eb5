#include "GuiTestSupport.h"

#include "appcore/CommandIDs.h"
#include "appcore/DirectoryManager.h"
#include "appcore/HelpPages.h"
#include "appcore/MenuModel.h"
#include "appcore/SettingsManager.h"
#include "editing/ManualEditManager.h"
#include "support/TestTracks.h"
#include "ui/AboutComponent.h"
#include "ui/KalderLogo.h"
#include "ui/WarningComponent.h"

#include <gtest/gtest.h>

#include <thread>

using namespace kalder;
using namespace kalder::test;

namespace
{
constexpr int rate = 44100;

juce::var readSettingsFile (const juce::File& home)
{
    return juce::JSON::parse (home.getChildFile ("settings.json"));
}

juce::Rectangle<int> getScreenArea (const juce::Component& c)
{
    return juce::Desktop::getInstance().getDisplays().getDisplayForRect (c.getScreenBounds())->userArea;
}

/** Stands in for project persistence: says whether there are changes, and records saves. */
struct RecordingSaver : ProjectSaver
{
    bool hasUnsavedChanges() const override { return changed; }
    juce::Result saveCurrentProject() override
    {
        ++saves;
        if (nextSave.wasOk())
            changed = false;
        return nextSave;
    }

    bool changed = true;
    int saves = 0;
    juce::Result nextSave = juce::Result::ok();
};

/** The text of the item of a menu whose command is command. */
juce::String getMenuItemText (MainWindow& window, int menuIndex, Command command)
{
    const auto menu = window.getMenuForIndex (menuIndex, {});
    for (juce::PopupMenu::MenuItemIterator it (menu, true); it.next();)
        if (it.getItem().itemID == CommandIDs::getInstance().getId (command))
            return it.getItem().text;
    return {};
}

/** Selects the page of the settings window that holds the control with the given ID
    and returns the control. */
template <typename Control>
Control* showSettingsControl (const juce::String& id)
{
    auto* window = findModalWindow (MainWindow::settingsWindowTitle);
    if (window == nullptr)
        return nullptr;
    auto* pages = dynamic_cast<juce::TabbedComponent*> (findDescendant (*window, "pages"));
    if (pages == nullptr)
        return nullptr;
    for (int i = 0; i < pages->getNumTabs(); ++i)
    {
        pages->setCurrentTabIndex (i);
        if (auto* control = dynamic_cast<Control*> (findDescendant (*pages, id)))
            return control;
    }
    return nullptr;
}

/** Selects a choice of a combo box as a user would, by its text. */
bool chooseItem (juce::ComboBox& box, const juce::String& text)
{
    for (int i = 0; i < box.getNumItems(); ++i)
        if (box.getItemText (i) == text)
        {
            box.setSelectedItemIndex (i, juce::sendNotificationSync);
            return true;
        }
    return false;
}

/** Blocks an analysis at its first progress report at or above a value until released. */
struct AnalysisGate : Progress::Listener
{
    explicit AnalysisGate (float v) : holdAt (v) {}

    void progressChanged (float value, Progress::Ptr) override
    {
        if (value >= holdAt && ! held.exchange (true))
        {
            reached.signal();
            release.wait (30000); // ms: the test releases it long before
        }
    }

    const float holdAt;
    std::atomic<bool> held { false };
    juce::WaitableEvent reached, release;
};

/** Expects the visible children of parent, and theirs, to lie inside their parents,
    not to overlap each other, and every label's text to fit its label unsqueezed. */
void expectTidyLayout (juce::Component& parent, const juce::String& path)
{
    // A tab bar stacks a component behind its front tab on purpose, and a viewport's
    // content is scrolled, not laid out.
    if (dynamic_cast<juce::TabbedButtonBar*> (&parent) != nullptr || dynamic_cast<juce::Viewport*> (&parent) != nullptr)
        return;

    juce::Array<juce::Component*> visible;
    for (auto* child : parent.getChildren())
        if (child->isVisible() && ! child->getBounds().isEmpty())
            visible.add (child);

    for (int i = 0; i < visible.size(); ++i)
    {
        auto* child = visible[i];
        const auto name = path + "/" + (child->getComponentID().isNotEmpty() ? child->getComponentID() : child->getName());
        EXPECT_TRUE (parent.getLocalBounds().contains (child->getBounds()))
            << name.toStdString() << " " << child->getBounds().toString() << " sticks out of "
            << parent.getLocalBounds().toString();
        for (int j = i + 1; j < visible.size(); ++j)
            EXPECT_FALSE (child->getBounds().intersects (visible[j]->getBounds()))
                << name.toStdString() << " overlaps " << visible[j]->getComponentID() << visible[j]->getName();

        if (auto* label = dynamic_cast<juce::Label*> (child); label != nullptr && label->getText().isNotEmpty())
        {
            const auto area = label->getBorderSize().subtractedFrom (label->getLocalBounds());
            const auto font = label->getFont();
            juce::AttributedString text (label->getText());
            text.setFont (font);
            juce::TextLayout layout;
            layout.createLayout (text, (float) area.getWidth());
            const auto maxLines = juce::jmax (1, (int) ((float) area.getHeight() / font.getHeight()));
            EXPECT_LE (layout.getNumLines(), maxLines) << name.toStdString() << ": \"" << label->getText() << "\" needs "
                                                       << layout.getNumLines() << " lines in " << area.toString();
        }
        expectTidyLayout (*child, name);
    }
}

/** An audio file read back whole, with its format. */
struct AudioFileContent
{
    juce::AudioBuffer<float> audio;
    double sampleRate = 0;
    int bits = 0;
    juce::String format;
};

AudioFileContent readWithFormat (const juce::File& file)
{
    AudioFileContent content;
    content.audio = readAudioFile (file, &content.sampleRate, &content.bits, &content.format);
    return content;
}

/** Holds the first writing that reports a value at or above holdAt until its thread is
    asked to stop (the progress window's Cancel). */
struct HoldUntilCancelled : Progress::Listener
{
    explicit HoldUntilCancelled (float v) : holdAt (v) {}

    void progressChanged (float value, Progress::Ptr) override
    {
        if (value < holdAt || held.exchange (true))
            return;
        constexpr int pollMs = 5, giveUpMs = 30000; // the test cancels long before
        for (int waited = 0; ! juce::Thread::currentThreadShouldExit() && waited < giveUpMs; waited += pollMs)
            juce::Thread::getCurrentThread()->wait (pollMs);
    }

    const float holdAt;
    std::atomic<bool> held { false };
};

/** Sets the desktop's scale factor for the lifetime of this object. */
struct ScopedScaleFactor
{
    explicit ScopedScaleFactor (float factor) { juce::Desktop::getInstance().setGlobalScaleFactor (factor); }
    ~ScopedScaleFactor() { juce::Desktop::getInstance().setGlobalScaleFactor (1.0f); }
};
} // namespace

//==============================================================================
TEST (ApplicationShell, WindowComesBackWhereTheUserLeftIt)
{
    TemporaryDirectory home;
    juce::Rectangle<int> placed;
    {
        ApplicationFixture first ({}, home.get());
        first.window().setBounds (70, 50, 820, 560);
        placed = first.window().getBounds();
        ASSERT_EQ (placed.getWidth(), 820);
    }
    const auto stored = readSettingsFile (home.get())["windowState"].toString();
    EXPECT_TRUE (stored.startsWith ("70 50 820 560")) << stored;

    ApplicationFixture second ({}, home.get());
    EXPECT_EQ (second.window().getBounds(), placed);
    // The other settings were written beside it, not replaced by it.
    EXPECT_EQ (readSettingsFile (home.get())["transport"]["playbackMode"].toString(), SettingsIds::autoReturnPlayback);
}

TEST (ApplicationShell, StoredStatesThatNoLongerFitAreBroughtOntoTheScreen)
{
    for (const auto* state : { "5000 4000 3000 2000", "-9000 -9000 700 500", "0 0 20000 20000", "not a window state", "" })
    {
        TemporaryDirectory home;
        ASSERT_TRUE (
            home.get().getChildFile ("settings.json").replaceWithText ("{ \"windowState\": \"" + juce::String (state) + "\" }"));
        ApplicationFixture fixture ({}, home.get());
        const auto bounds = fixture.window().getScreenBounds();
        const auto screen = getScreenArea (fixture.window());
        EXPECT_TRUE (screen.contains (bounds)) << state << ": " << bounds.toString() << " on " << screen.toString();
        EXPECT_GE (bounds.getWidth(), 640) << state;
        EXPECT_GE (bounds.getHeight(), 400) << state;
    }
}

//==============================================================================
TEST (ApplicationShell, ClosingWithADialogOpenClosesTheDialogThenQuits)
{
    ApplicationFixture fixture;
    bool quit = false;
    fixture.app().setQuitAction ([&] { quit = true; });

    ASSERT_TRUE (fixture.invoke (Command::settings));
    ASSERT_TRUE (waitUntil ([] { return findModalWindow (MainWindow::settingsWindowTitle) != nullptr; }, 5000));

    // As the window's close button does.
    fixture.window().closeButtonPressed();
    EXPECT_FALSE (quit) << "quit before the dialog had closed";
    EXPECT_TRUE (waitUntil ([&] { return quit; }, 5000));
    EXPECT_EQ (findModalWindow (MainWindow::settingsWindowTitle), nullptr);

    // Nothing to save: no question was asked.
    EXPECT_EQ (findModalWindow ("Save changes?"), nullptr);
}

TEST (ApplicationShell, UnsavedChangesAreOfferedForSavingAndNothingIsLost)
{
    ApplicationFixture fixture;
    int quits = 0;
    fixture.app().setQuitAction ([&] { ++quits; });
    RecordingSaver saver;
    fixture.content().setProjectSaver (&saver);
    auto askToQuit = [&] {
        fixture.window().closeButtonPressed();
        return waitUntil ([] { return findModalWindow ("Save changes?") != nullptr; }, 5000);
    };

    // With the about window open: it closes, then the question comes.
    ASSERT_TRUE (fixture.invoke (Command::about));
    ASSERT_TRUE (waitUntil ([] { return findModalWindow ("About Kalder Pro") != nullptr; }, 5000));
    ASSERT_TRUE (askToQuit());
    EXPECT_EQ (findModalWindow ("About Kalder Pro"), nullptr);
    EXPECT_EQ (quits, 0);

    // Escape closes the question without an answer: nothing is saved, nothing quits.
    auto* question = findModalWindow ("Save changes?");
    ASSERT_NE (question, nullptr);
    question->keyPressed (juce::KeyPress (juce::KeyPress::escapeKey));
    ASSERT_TRUE (waitUntil ([] { return findModalWindow ("Save changes?") == nullptr; }, 5000));
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50); // ms: an answer would have arrived
    EXPECT_EQ (quits, 0);
    EXPECT_EQ (saver.saves, 0);

    // A save that fails keeps the application open and says why.
    saver.nextSave = juce::Result::fail ("The disk is full.");
    ASSERT_TRUE (askToQuit());
    ASSERT_TRUE (clickButtonInModal ("Save changes?", "Save"));
    ASSERT_TRUE (waitUntil ([] { return findModalWindow ("Project not saved") != nullptr; }, 5000));
    EXPECT_EQ (saver.saves, 1);
    EXPECT_EQ (quits, 0);
    ASSERT_TRUE (closeAllModals());

    // A save that works quits.
    saver.nextSave = juce::Result::ok();
    ASSERT_TRUE (askToQuit());
    ASSERT_TRUE (clickButtonInModal ("Save changes?", "Save"));
    ASSERT_TRUE (waitUntil ([&] { return quits == 1; }, 5000));
    EXPECT_EQ (saver.saves, 2);

    // "Don't Save" quits without saving.
    saver.changed = true;
    ASSERT_TRUE (askToQuit());
    ASSERT_TRUE (clickButtonInModal ("Save changes?", "Don't Save"));
    ASSERT_TRUE (waitUntil ([&] { return quits == 2; }, 5000));
    EXPECT_EQ (saver.saves, 2);

    // Saved: the next quit asks nothing.
    saver.changed = false;
    fixture.window().closeButtonPressed();
    EXPECT_EQ (quits, 3);
    fixture.content().setProjectSaver (nullptr);
}

//==============================================================================
TEST (ApplicationShell, SettingsWindowStoresEachChoiceAndFollowsChangesMadeElsewhere)
{
    TemporaryDirectory home;
    {
        ApplicationFixture fixture ({}, home.get());
        ASSERT_TRUE (fixture.invoke (Command::settings));
        ASSERT_TRUE (waitUntil ([] { return findModalWindow (MainWindow::settingsWindowTitle) != nullptr; }, 5000));

        auto* defaultEditor = showSettingsControl<juce::ComboBox> ("defaultEditor");
        ASSERT_NE (defaultEditor, nullptr);
        EXPECT_EQ (defaultEditor->getText(), SettingsIds::spectralEditorView);
        ASSERT_TRUE (chooseItem (*defaultEditor, SettingsIds::mixerView));
        EXPECT_EQ (readSettingsFile (home.get())["editor"]["defaultEditor"].toString(), "Mixer");

        auto* lowQuality = showSettingsControl<juce::ToggleButton> ("lowQualityWarning");
        ASSERT_NE (lowQuality, nullptr);
        EXPECT_TRUE (lowQuality->getToggleState());
        lowQuality->triggerClick();
        EXPECT_TRUE (waitUntil ([&] { return readSettingsFile (home.get())["lowQualityWarning"] == juce::var (false); }, 5000));

        auto* playbackMode = showSettingsControl<juce::ComboBox> ("playbackMode");
        ASSERT_NE (playbackMode, nullptr);
        ASSERT_TRUE (chooseItem (*playbackMode, "Persistent"));
        EXPECT_EQ (readSettingsFile (home.get())["transport"]["playbackMode"].toString(), "Persistent");

        auto* autoScroll = showSettingsControl<juce::ToggleButton> ("autoScroll");
        ASSERT_NE (autoScroll, nullptr);
        EXPECT_TRUE (autoScroll->getToggleState());
        EXPECT_TRUE (fixture.content().getPlayhead().isAutoScrollOn());
        autoScroll->triggerClick();
        ASSERT_TRUE (waitUntil ([&] { return ! fixture.content().getPlayhead().isAutoScrollOn(); }, 5000));
        EXPECT_FALSE ((bool) readSettingsFile (home.get())["transport"]["autoScroll"]);
        EXPECT_EQ (getMenuItemText (fixture.window(), MenuModel::viewMenu, Command::toggleAutoscroll), "Scroll during playback");

        // The menu command and other code change the same settings; the window follows.
        ASSERT_TRUE (fixture.invoke (Command::toggleAutoscroll));
        EXPECT_TRUE (autoScroll->getToggleState());
        EXPECT_TRUE (fixture.content().getPlayhead().isAutoScrollOn());
        EXPECT_EQ (getMenuItemText (fixture.window(), MenuModel::viewMenu, Command::toggleAutoscroll),
                   "Disable scroll during playback");
        ASSERT_TRUE (SettingsManager::getInstance().setPlaybackMode (SettingsIds::autoReturnPlayback).wasOk());
        EXPECT_EQ (showSettingsControl<juce::ComboBox> ("playbackMode")->getText(), SettingsIds::autoReturnPlayback);
        ASSERT_TRUE (SettingsManager::getInstance().setPlaybackMode (SettingsIds::persistentPlayback).wasOk());

        auto* status = findDescendant (*findModalWindow (MainWindow::settingsWindowTitle), "status");
        ASSERT_NE (dynamic_cast<juce::Label*> (status), nullptr);
        EXPECT_TRUE (dynamic_cast<juce::Label*> (status)->getText().isEmpty());

        // A module's parameter, stored as its value; a remote service only over HTTPS.
        auto* reverb = showSettingsControl<juce::ComboBox> ("reverbProcess");
        ASSERT_NE (reverb, nullptr);
        ASSERT_TRUE (chooseItem (*reverb, "Separate Track"));
        EXPECT_EQ (readSettingsFile (home.get())["separation"]["vocal"]["reverbProcess"]["value"].toString(), "SeparateTrack");
        auto* remote = showSettingsControl<juce::ToggleButton> ("remoteService");
        ASSERT_NE (remote, nullptr);
        remote->triggerClick();
        ASSERT_TRUE (waitUntil ([&] { return remote->getToggleState(); }, 2000));
        showSettingsControl<juce::TextEditor> ("serviceToken")->setText ("secret");
        for (const auto& [url, accepted] : { std::pair<const char*, bool> { "http://192.0.2.1/", false },
                                             std::pair<const char*, bool> { "https://separate.example.com", true } })
        {
            showSettingsControl<juce::TextEditor> ("serviceUrl")->setText (url);
            auto* label = dynamic_cast<juce::Label*> (status);
            label->setText ({}, juce::dontSendNotification);
            showSettingsControl<juce::Button> ("applyService")->triggerClick();
            ASSERT_TRUE (waitUntil ([&] { return label->getText().isNotEmpty(); }, 2000)) << url;
            EXPECT_EQ ((bool) readSettingsFile (home.get())["separationService"]["remote"], accepted) << url;
            EXPECT_EQ (label->getText().contains ("HTTPS"), ! accepted) << label->getText();
        }
        EXPECT_EQ (readSettingsFile (home.get())["separationService"]["url"].toString(), "https://separate.example.com/");
        EXPECT_FALSE (readSettingsFile (home.get()).toString().contains ("secret")) << "the token is kept apart";
        showSettingsControl<juce::ToggleButton> ("remoteService")->triggerClick(); // back to this machine's service
        EXPECT_TRUE (waitUntil ([&] { return ! (bool) readSettingsFile (home.get())["separationService"]["remote"]; }, 2000));

        // The keys page edits the commands' own key set; a change is stored at once.
        auto* keysPage = showSettingsControl<juce::KeyMappingEditorComponent> ("keys");
        ASSERT_NE (keysPage, nullptr);
        auto& keys = keysPage->getMappings();
        EXPECT_EQ (&keys, fixture.app().getCommandManager().getKeyMappings());
        const auto mixerWindow = CommandIDs::getInstance().getId (Command::showMixerWindow);
        keys.clearAllKeyPresses (mixerWindow);
        keys.addKeyPress (mixerWindow, juce::KeyPress ('m', juce::ModifierKeys::altModifier, 0));
        EXPECT_TRUE (waitUntil ([&] { return readSettingsFile (home.get())["keyMappings"].toString().isNotEmpty(); }, 2000));
    }

    // The next start reads them back, and the window shows them.
    ApplicationFixture fixture ({}, home.get());
    auto& settings = SettingsManager::getInstance();
    EXPECT_EQ (settings.getDefaultEditor(), SettingsIds::mixerView);
    EXPECT_EQ (settings.getPlaybackMode(), SettingsIds::persistentPlayback);
    EXPECT_FALSE (settings.getLowQualityWarning());
    EXPECT_TRUE (settings.getAutoScroll());
    const auto mixerKeys = fixture.app().getCommandManager().getKeyMappings()->getKeyPressesAssignedToCommand (
        CommandIDs::getInstance().getId (Command::showMixerWindow));
    ASSERT_EQ (mixerKeys.size(), 1);
    EXPECT_EQ (mixerKeys[0], juce::KeyPress ('m', juce::ModifierKeys::altModifier, 0)) << "the user's key, not the default";
    ASSERT_TRUE (fixture.invoke (Command::settings));
    ASSERT_TRUE (waitUntil ([] { return findModalWindow (MainWindow::settingsWindowTitle) != nullptr; }, 5000));
    EXPECT_EQ (showSettingsControl<juce::ComboBox> ("defaultEditor")->getText(), SettingsIds::mixerView);
    EXPECT_EQ (showSettingsControl<juce::ComboBox> ("playbackMode")->getText(), SettingsIds::persistentPlayback);
    EXPECT_FALSE (showSettingsControl<juce::ToggleButton> ("lowQualityWarning")->getToggleState());
    EXPECT_EQ (showSettingsControl<juce::ComboBox> ("reverbProcess")->getText(), "Separate Track");
    showSettingsControl<juce::Button> ("resetSeparation")->triggerClick();
    EXPECT_TRUE (
        waitUntil ([] { return showSettingsControl<juce::ComboBox> ("reverbProcess")->getText() == "With Vocal"; }, 2000));
    EXPECT_EQ (readSettingsFile (home.get())["separation"]["vocal"]["reverbProcess"]["value"].toString(), "WithVocal");
}

TEST (ApplicationShell, TheTutorialGreetsANewUserUntilSkippedAndTheHelpCommandsBringPagesBack)
{
    TemporaryDirectory home;
    const auto& tutorial = HelpPages::getTutorial();
    {
        ApplicationFixture fixture ({}, home.get(), ApplicationFixture::Tutorial::asForANewUser);
        auto& help = fixture.content().getQuickHelp();
        ASSERT_EQ (help.getShownTitle(), tutorial[0].title);
        EXPECT_NE (saveScreenshot (fixture.window(), "tutorial"), juce::File());
        auto* back = dynamic_cast<juce::Button*> (findDescendant (help, "helpBack"));
        auto* next = dynamic_cast<juce::Button*> (findDescendant (help, "helpNext"));
        auto* startup = dynamic_cast<juce::Button*> (findDescendant (help, "showAtStartup"));
        ASSERT_TRUE (back != nullptr && next != nullptr && startup != nullptr);
        EXPECT_FALSE (back->isEnabled());
        for (size_t page = 0; page < tutorial.size(); ++page)
        {
            if (page > 0)
                next->triggerClick(); // a click arrives as a message
            EXPECT_TRUE (waitUntil ([&] { return help.getShownTitle() == tutorial[page].title; }, 2000)) << page;
            // A page's picture (of the window) shows between its title and its text.
            EXPECT_EQ (help.getPictureArea().getHeight() > 20, tutorial[page].picture.isNotEmpty()) << page;
            if (tutorial[page].picture.isNotEmpty())
                EXPECT_LT (help.getPictureArea().getBottom(), findDescendant (help, "helpBody")->getY()) << page;
        }
        EXPECT_FALSE (next->isEnabled());
        EXPECT_TRUE (startup->getToggleState());
        startup->triggerClick();
        EXPECT_TRUE (waitUntil ([&] { return (bool) readSettingsFile (home.get())["tutorialSkip"]; }, 2000));
        dynamic_cast<juce::Button*> (findDescendant (help, "helpClose"))->triggerClick();
        EXPECT_TRUE (waitUntil ([&] { return help.getShownTitle().isEmpty(); }, 2000));

        // Help > Toggle Help brings the tutorial back and takes it away again; the
        // spectrogram's page has no start-up choice.
        ASSERT_TRUE (fixture.invoke (Command::toggleHelp));
        EXPECT_EQ (help.getShownTitle(), tutorial[0].title);
        EXPECT_FALSE (startup->getToggleState());
        ASSERT_TRUE (fixture.invoke (Command::toggleHelp));
        EXPECT_TRUE (help.getShownTitle().isEmpty());
        ASSERT_TRUE (fixture.invoke (Command::showSpectrogramHelp));
        EXPECT_EQ (help.getShownTitle(), HelpPages::getSpectrogramHelp().title);
        EXPECT_FALSE (startup->isVisible());
    }

    // Skipped: the next start shows no tutorial.
    ApplicationFixture fixture ({}, home.get(), ApplicationFixture::Tutorial::asForANewUser);
    EXPECT_TRUE (fixture.content().getQuickHelp().getShownTitle().isEmpty());
}

TEST (ApplicationShell, SettingsThatCannotBeSavedStayInForceAndTheWindowSaysSo)
{
    TemporaryDirectory home;
    ApplicationFixture fixture ({}, home.get());
    ASSERT_TRUE (fixture.invoke (Command::settings));
    ASSERT_TRUE (waitUntil ([] { return findModalWindow (MainWindow::settingsWindowTitle) != nullptr; }, 5000));

    // A folder that is not empty where the settings file should be: no file can be
    // swapped in.
    const auto file = home.get().getChildFile ("settings.json");
    file.deleteFile();
    ASSERT_TRUE (file.getChildFile ("in the way").create());

    auto* playbackMode = showSettingsControl<juce::ComboBox> ("playbackMode");
    ASSERT_NE (playbackMode, nullptr);
    ASSERT_TRUE (chooseItem (*playbackMode, "Persistent"));
    EXPECT_EQ (SettingsManager::getInstance().getPlaybackMode(), SettingsIds::persistentPlayback);
    auto* status = dynamic_cast<juce::Label*> (findDescendant (*findModalWindow (MainWindow::settingsWindowTitle), "status"));
    ASSERT_NE (status, nullptr);
    EXPECT_TRUE (status->getText().contains ("could not be saved")) << status->getText();
    file.deleteRecursively();
}

//==============================================================================
TEST (ApplicationShell, PlaybackModeDecidesWhereThePlayheadGoesWhenPlaybackStops)
{
    TemporaryDirectory songs;
    const auto song = songs.get().getChildFile ("modes.wav");
    ASSERT_TRUE (writeAudioFile (song, makeSine (2, 2 * rate, rate, 330.0), rate));
    ApplicationFixture fixture ("\"" + song.getFullPathName() + "\"");
    ASSERT_TRUE (fixture.waitForMaster ("modes"));
    auto& content = fixture.content();
    auto& transport = content.getTransport();
    auto& settings = SettingsManager::getInstance();

    auto playThenPause = [&] (double fromSeconds) {
        content.movePlayheadAbsolute (fromSeconds);
        const auto start = transport.getPosition();
        EXPECT_TRUE (fixture.invoke (Command::playPause));
        EXPECT_TRUE (waitUntil ([&] { return transport.getPosition() > start + 4; }, 10000));
        EXPECT_TRUE (fixture.invoke (Command::playPause));
        return start;
    };

    // Auto Return (the default): the playhead goes back to where playback started.
    ASSERT_EQ (settings.getPlaybackMode(), SettingsIds::autoReturnPlayback);
    auto start = playThenPause (0.5);
    EXPECT_FALSE (content.isPlaying());
    EXPECT_EQ (transport.getPosition(), start);
    EXPECT_EQ (content.getPlayhead().getPosition(), start);

    // ... also when the song ends by itself.
    content.movePlayheadAbsolute (1.5);
    start = transport.getPosition();
    ASSERT_TRUE (fixture.invoke (Command::playPause));
    ASSERT_TRUE (waitUntil ([&] { return ! content.isPlaying(); }, 10000));
    EXPECT_TRUE (waitUntil ([&] { return transport.getPosition() == start; }, 2000));

    // Persistent: the playhead stays where playback stopped.
    ASSERT_TRUE (settings.setPlaybackMode (SettingsIds::persistentPlayback).wasOk());
    start = playThenPause (0.5);
    const auto stopped = transport.getPosition();
    EXPECT_GT (stopped, start + 4);
    juce::MessageManager::getInstance()->runDispatchLoopUntil (100); // ms: several timer ticks
    EXPECT_EQ (transport.getPosition(), stopped);

    // Stop always goes back to the start of the song.
    ASSERT_TRUE (settings.setPlaybackMode (SettingsIds::autoReturnPlayback).wasOk());
    content.movePlayheadAbsolute (0.5);
    ASSERT_TRUE (fixture.invoke (Command::playPause));
    ASSERT_TRUE (fixture.invoke (Command::stop));
    EXPECT_EQ (transport.getPosition(), 0);
}

//==============================================================================
TEST (ApplicationShell, AboutWindowShowsTheLogoAndVersion)
{
    ApplicationFixture fixture;
    EXPECT_EQ (getMenuItemText (fixture.window(), MenuModel::helpMenu, Command::about), "About Kalder Pro");
    ASSERT_TRUE (fixture.invoke (Command::about));
    ASSERT_TRUE (waitUntil ([] { return findModalWindow ("About Kalder Pro") != nullptr; }, 5000));
    auto* about = findDescendantOfType<AboutComponent> (*findModalWindow ("About Kalder Pro"));
    ASSERT_NE (about, nullptr);
    EXPECT_TRUE (about->hasLogo());
    auto* version = dynamic_cast<juce::Label*> (findDescendant (*about, "version"));
    ASSERT_NE (version, nullptr);
    EXPECT_EQ (version->getText(), "Version " + fixture.app().getApplicationVersion());

    // A second request brings the same window forward rather than opening another.
    ASSERT_TRUE (fixture.invoke (Command::about));
    EXPECT_EQ (juce::ModalComponentManager::getInstance()->getNumModalComponents(), 1);

    // The logo is drawn: opaque in the middle, transparent in the rounded corners.
    const auto logo = KalderLogo::createImage (64);
    ASSERT_TRUE (logo.isValid());
    EXPECT_EQ (logo.getPixelAt (32, 32).getAlpha(), 255);
    EXPECT_EQ (logo.getPixelAt (1, 1).getAlpha(), 0);
    EXPECT_FALSE (KalderLogo::createImage (0).isValid());
}

TEST (ApplicationShell, WarningsShowTitleMessageLinkAndTheFaintLogoAndCloseWithTheirButton)
{
    ApplicationFixture fixture;
    const juce::String title ("Separation failed"), text ("The service did not answer.");
    const juce::String link ("https://example.org/help");
    fixture.app().getAlertManager().displayWarningWithLink (title, text, link);
    ASSERT_TRUE (waitUntil ([&] { return findModalWindow (title) != nullptr; }, 5000));

    auto* warning = findDescendantOfType<WarningComponent> (*findModalWindow (title));
    ASSERT_NE (warning, nullptr);
    EXPECT_TRUE (warning->hasLogo());
    auto textOf = [&] (const juce::String& id) {
        auto* label = dynamic_cast<juce::Label*> (findDescendant (*warning, id));
        return label != nullptr ? label->getText() : juce::String ("<missing>");
    };
    EXPECT_EQ (textOf ("title"), title);
    EXPECT_EQ (textOf ("message"), text);
    auto* linkButton = dynamic_cast<juce::HyperlinkButton*> (findDescendant (*warning, "link"));
    ASSERT_NE (linkButton, nullptr);
    EXPECT_EQ (linkButton->getButtonText(), link);
    EXPECT_EQ (linkButton->getURL().toString (false), link);

    // The logo shows through behind the text, faintly: the middle of the window is
    // neither the bare panel colour nor the logo at full strength.
    const auto snapshot = warning->createComponentSnapshot (warning->getLocalBounds());
    const auto centre = snapshot.getPixelAt (snapshot.getWidth() / 2, snapshot.getHeight() / 2);
    const auto logoCentre = KalderLogo::createImage (WarningComponent::logoSize).getPixelAt (64, 64);
    EXPECT_NE (centre, KalderLookAndFeel::Palette::panel);
    EXPECT_NE (centre, logoCentre);

    // A plain warning has no link; its button closes it.
    juce::ModalComponentManager::getInstance()->cancelAllModalComponents();
    ASSERT_TRUE (waitUntil ([] { return juce::ModalComponentManager::getInstance()->getNumModalComponents() == 0; }, 5000));
    fixture.app().getAlertManager().displayWarningPopup (title, text);
    ASSERT_TRUE (waitUntil ([&] { return findModalWindow (title) != nullptr; }, 5000));
    warning = findDescendantOfType<WarningComponent> (*findModalWindow (title));
    ASSERT_NE (warning, nullptr);
    EXPECT_EQ (findDescendant (*warning, "link"), nullptr);
    auto* close = dynamic_cast<juce::Button*> (findDescendant (*warning, "close"));
    ASSERT_NE (close, nullptr);
    close->triggerClick();
    EXPECT_TRUE (waitUntil ([] { return juce::ModalComponentManager::getInstance()->getNumModalComponents() == 0; }, 5000));
}

//==============================================================================
TEST (ApplicationShell, TrackRowShowsAnalysisProgressUntilTheStoreIsReady)
{
    TemporaryDirectory songs;
    const auto song = songs.get().getChildFile ("mix.wav");
    const auto audio = makeNoise (2, 20 * rate, 3); // twenty seconds: many progress reports
    ASSERT_TRUE (writeAudioFile (song, audio, rate));
    ApplicationFixture fixture ("\"" + song.getFullPathName() + "\"");
    ASSERT_TRUE (fixture.waitForMaster ("mix"));
    auto& list = fixture.content().getTrackList();
    // The master opens playable and is analysed behind: its row shows how far.
    EXPECT_TRUE (waitUntil ([&] { return ! list.getShownAnalysisProgress (0).has_value(); }, 5000)) << "the master is analysed";

    // A track that joins the mixer before its analysis (as separation results do).
    auto stem = makeTrack (songs.get().getChildFile ("stem"), "stem", audio, rate, false);
    fixture.app().getMixer().addTrack (stem);
    ASSERT_EQ (list.getNumRows(), 2);
    ASSERT_TRUE (list.getShownAnalysisProgress (1).has_value());
    EXPECT_EQ (*list.getShownAnalysisProgress (1), 0.0);

    AnalysisGate gate (0.3f);
    Progress::Ptr progress (new Progress());
    progress->addListener (&gate);
    std::thread analysis ([&] { EXPECT_TRUE (stem->generateAsig (progress).wasOk()); });

    // Held part-way: the row shows where the analysis is.
    ASSERT_TRUE (gate.reached.wait (30000));
    EXPECT_TRUE (waitUntil (
        [&] {
            const auto shown = list.getShownAnalysisProgress (1);
            return shown.has_value() && *shown >= 0.3;
        },
        5000));
    auto* bar = findDescendant (*list.getRow (1), "analysis");
    ASSERT_NE (bar, nullptr);
    EXPECT_TRUE (bar->isVisible());
    EXPECT_FALSE (bar->getBounds().intersects (findDescendant (*list.getRow (1), "pan")->getBounds()));

    // Chosen meanwhile, it shows in the spectral editor as its frames arrive; a selection
    // waits for the end of the analysis.
    auto& content = fixture.content();
    auto& view = content.getSpectrogramView();
    stem->setEditor (Editor::Type::spectral);
    fixture.app().getMixer().setActiveTrack (stem);
    ASSERT_TRUE (waitUntil ([&] { return view.isShowing() && view.getSpectrogram().getTrack() == stem; }, 5000));
    EXPECT_GT (view.getSpectrogram().getImageWidth(), 0);
    ASSERT_TRUE (content.getToolPanel().selectTool (EditorTool::Type::rectangleSelect));
    auto drag = [&view] (juce::Point<float> from, juce::Point<float> to) {
        auto event = [&] (juce::Point<float> p) {
            return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), p, juce::ModifierKeys::leftButtonModifier,
                                     0.0f, 0.0f, 0.0f, 0.0f, 0.0f, &view, &view, juce::Time::getCurrentTime(), from,
                                     juce::Time::getCurrentTime(), 1, p != from);
        };
        view.mouseDown (event (from));
        view.mouseDrag (event (to));
        view.mouseUp (event (to));
    };
    const juce::Point<float> from (view.getWidth() * 0.2f, view.getHeight() * 0.2f),
        to (view.getWidth() * 0.6f, view.getHeight() * 0.6f);
    drag (from, to);
    EXPECT_FALSE (stem->getManualEditManager().getUndoManager().canUndo()) << "no selection in a store being analysed";

    gate.release.signal();
    EXPECT_TRUE (waitUntil ([&] { return ! list.getShownAnalysisProgress (1).has_value(); }, 30000));
    analysis.join();
    progress->removeListener (&gate);
    EXPECT_TRUE (stem->isStoreReady());
    EXPECT_FALSE (bar->isVisible());
    drag (from, to);
    EXPECT_EQ (stem->getManualEditManager().getUndoManager().getUndoDescription(), "Rectangle selection");
}

TEST (ApplicationShell, WindowsLayOutWithoutOverlapAtTwiceTheScale)
{
    // Observed with JUCE 7.0.5 on an X server without a window manager: a scale factor
    // set before the process's first window makes that window fail with BadAtom. The
    // application never sets one first; start the window system as it does.
    {
        const ApplicationFixture first;
    }
    const ScopedScaleFactor scale (2.0f);
    TemporaryDirectory songs;
    const auto song = songs.get().getChildFile ("scaled song.wav");
    const auto audio = makeSine (2, 2 * rate, rate, 440.0);
    ASSERT_TRUE (writeAudioFile (song, audio, rate));
    ApplicationFixture fixture ("\"" + song.getFullPathName() + "\"");
    ASSERT_TRUE (fixture.waitForMaster ("scaled song"));

    // A second row still being analysed, so that the progress bar takes its room too.
    fixture.app().getMixer().addTrack (makeTrack (songs.get().getChildFile ("stem"), "stem", audio, rate, false));
    ASSERT_TRUE (fixture.content().getTrackList().getShownAnalysisProgress (1).has_value());

    // At 200 % a 1280 x 800 screen is 640 x 400: the window must still fit.
    auto& window = fixture.window();
    EXPECT_TRUE (getScreenArea (window).contains (window.getScreenBounds()))
        << window.getScreenBounds().toString() << " on " << getScreenArea (window).toString();
    window.setSize (640, 400); // the smallest the window may be
    // The pixel that loads the OpenGL driver is shown for one frame after the start.
    ASSERT_TRUE (waitUntil ([&] { return fixture.content().getOpenGLWarmUp().isDone(); }, 10000));
    EXPECT_FALSE (fixture.content().getOpenGLWarmUp().isVisible());
    expectTidyLayout (fixture.content(), "content");
    EXPECT_NE (saveScreenshot (window, "window-at-200-percent"), juce::File());

    for (auto command : { Command::settings, Command::about })
    {
        ASSERT_TRUE (fixture.invoke (command));
        ASSERT_TRUE (waitUntil ([] { return juce::ModalComponentManager::getInstance()->getNumModalComponents() == 1; }, 5000));
        auto* dialog = juce::ModalComponentManager::getInstance()->getModalComponent (0);
        EXPECT_TRUE (getScreenArea (*dialog).contains (dialog->getScreenBounds())) << dialog->getName();
        auto* content = dynamic_cast<juce::ResizableWindow*> (dialog)->getContentComponent();
        ASSERT_NE (content, nullptr);
        if (auto* pages = dynamic_cast<juce::TabbedComponent*> (findDescendant (*content, "pages")))
            for (int i = 0; i < pages->getNumTabs(); ++i)
            {
                pages->setCurrentTabIndex (i);
                expectTidyLayout (*content, dialog->getName() + " " + pages->getTabNames()[i]);
            }
        else
            expectTidyLayout (*content, dialog->getName());
        ASSERT_TRUE (closeAllModals());
    }
}

//==============================================================================
TEST (ApplicationShell, BounceAndExportWriteTheSourceFormatAndCancellingLeavesNoFile)
{
    const Command writers[] = { Command::bounceMixerOutput, Command::exportCurrentTrack, Command::exportAllTracks };
    TemporaryDirectory dir;
    ApplicationFixture fixture;
    auto& content = fixture.content();
    auto& exports = content.getExports();

    // Nothing to write before a song is open.
    for (auto command : writers)
    {
        EXPECT_FALSE (CommandIDs::getInstance().isEnabled (command));
        EXPECT_FALSE (fixture.invoke (command));
    }

    // The test answers the file choosers.
    std::vector<FileRequest> asked;
    juce::File answer;
    content.setFileRequestHandler ([&] (const FileRequest& request, FileRequest::Answer reply) {
        asked.push_back (request);
        reply (answer);
    });
    auto finished = [&] { return waitUntil ([&] { return ! exports.isExporting(); }, 30000); };

    // A 24-bit song at 48 kHz, of a length that is not a multiple of the hop.
    const int songRate = 48000;
    const auto song = dir.get().getChildFile ("take.wav");
    ASSERT_TRUE (writeAudioFile (song, makeNoise (2, 2 * songRate + 321, 5), songRate, 24));
    const auto source = readWithFormat (song);
    ASSERT_TRUE (content.loadAudioFile (song));
    ASSERT_TRUE (fixture.waitForMaster ("take"));
    for (auto command : writers) // once the analysis is done: at the window's next refresh
        EXPECT_TRUE (waitUntil ([command] { return CommandIDs::getInstance().isEnabled (command); }, 2000));

    // The mix, to a name without an extension: a WAV in the source's format.
    answer = dir.get().getChildFile ("mix");
    ASSERT_TRUE (fixture.invoke (Command::bounceMixerOutput));
    ASSERT_EQ (asked.size(), 1u);
    EXPECT_EQ (asked.back().kind, FileRequest::Kind::saveFile);
    EXPECT_EQ (asked.back().title, "Bounce to new audio file...");
    EXPECT_EQ (asked.back().patterns, "*.wav;*.aif;*.aiff");
    ASSERT_TRUE (finished());
    const auto mix = readWithFormat (dir.get().getChildFile ("mix.wav"));
    EXPECT_EQ (mix.format, "WAV file");
    EXPECT_EQ (mix.sampleRate, songRate);
    EXPECT_EQ (mix.bits, 24);
    ASSERT_EQ (mix.audio.getNumChannels(), 2);
    ASSERT_EQ (mix.audio.getNumSamples(), source.audio.getNumSamples());
    for (int c = 0; c < 2; ++c)
        EXPECT_GE (signalToErrorDb (source.audio.getReadPointer (c), mix.audio.getReadPointer (c), mix.audio.getNumSamples()),
                   100.0);

    // The current track, as AIFF by its extension.
    answer = dir.get().getChildFile ("track.aiff");
    ASSERT_TRUE (fixture.invoke (Command::exportCurrentTrack));
    ASSERT_EQ (asked.size(), 2u);
    EXPECT_EQ (asked.back().title, "Bounce track to audio file...");
    ASSERT_TRUE (finished());
    const auto track = readWithFormat (answer);
    EXPECT_EQ (track.format, "AIFF file");
    EXPECT_EQ (track.sampleRate, songRate);
    EXPECT_EQ (track.bits, 24);
    EXPECT_EQ (track.audio.getNumSamples(), source.audio.getNumSamples());

    // All tracks, with one of them edited: the user is told the edits stay behind first;
    // "Cancel" exports nothing.
    auto stemAudio = makeNoise (1, songRate, 6);
    auto stem = makeTrack (dir.get().getChildFile ("stem"), "stem", stemAudio, songRate);
    ASSERT_NE (stem, nullptr);
    auto* asig = stem->getAsig();
    ASSERT_TRUE (asig->setMask (0, { 0, asig->getNumFreqs() }, { 0, asig->getNumFrames() },
                                MaskMatrix::Zero (asig->getNumFreqs(), asig->getNumFrames())));
    fixture.app().getMixer().addTrack (stem);
    const auto stems = dir.get().getChildFile ("stems");
    ASSERT_TRUE (stems.createDirectory());
    answer = stems;
    for (const auto* choice : { "Cancel", "Export without edits" })
    {
        ASSERT_TRUE (fixture.invoke (Command::exportAllTracks));
        ASSERT_TRUE (waitUntil ([] { return findModalWindow ("A track is being edited") != nullptr; }, 5000));
        EXPECT_EQ (asked.size(), 2u) << "the folder was asked for before the question";
        ASSERT_TRUE (clickButtonInModal ("A track is being edited", choice));
        ASSERT_TRUE (waitUntil ([] { return findModalWindow ("A track is being edited") == nullptr; }, 5000));
    }
    ASSERT_EQ (asked.size(), 3u);
    EXPECT_EQ (asked.back().kind, FileRequest::Kind::chooseFolder);
    EXPECT_EQ (asked.back().title, "Choose directory to bounce tracks...");
    ASSERT_TRUE (finished());
    EXPECT_EQ (stems.getNumberOfChildFiles (juce::File::findFiles), 2);
    const auto master = readWithFormat (stems.getChildFile ("take.wav"));
    const auto unedited = readWithFormat (stems.getChildFile ("stem.wav"));
    EXPECT_EQ (master.bits, 24);
    EXPECT_EQ (master.sampleRate, songRate);
    ASSERT_EQ (master.audio.getNumSamples(), source.audio.getNumSamples());
    ASSERT_EQ (unedited.audio.getNumSamples(), songRate);
    for (int i = 0; i < songRate; ++i)
    {
        ASSERT_EQ (master.audio.getSample (1, i), source.audio.getSample (1, i)) << i;
        ASSERT_EQ (unedited.audio.getSample (0, i), stemAudio.getSample (0, i)) << i; // the mask left out
    }

    // Cancelled half-way: no file, and no alert.
    HoldUntilCancelled hold (0.3f);
    exports.onJobStarting = [&] (BounceJob& job) { job.getProgress()->addListener (&hold); };
    answer = dir.get().getChildFile ("cancelled.wav");
    const auto filesBefore = dir.get().getNumberOfChildFiles (juce::File::findFiles);
    ASSERT_TRUE (fixture.invoke (Command::bounceMixerOutput));
    ASSERT_TRUE (waitUntil ([&] { return hold.held.load(); }, 30000));
    ASSERT_TRUE (clickButtonInModal (ExportCommands::bounceWindowTitle, "Cancel"));
    ASSERT_TRUE (finished());
    exports.onJobStarting = nullptr;
    EXPECT_FALSE (answer.exists());
    EXPECT_EQ (dir.get().getNumberOfChildFiles (juce::File::findFiles), filesBefore) << "a temporary file was left";
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50); // ms: an alert would be on its way
    EXPECT_EQ (findModalWindow ("Bounce failed"), nullptr);
    content.setFileRequestHandler (nullptr);
}

//==============================================================================
TEST (ApplicationShell, SelectionCommandsEditTheActiveTrackAndUndoFollowsThem)
{
    TemporaryDirectory dir;
    ApplicationFixture fixture;
    auto& registry = CommandIDs::getInstance();
    EXPECT_FALSE (registry.isEnabled (Command::erase));
    EXPECT_FALSE (fixture.invoke (Command::erase)) << "nothing to erase before a song is open";

    const auto song = dir.get().getChildFile ("take.wav");
    ASSERT_TRUE (writeAudioFile (song, makeNoise (2, rate, 7), rate, 16));
    ASSERT_TRUE (fixture.content().loadAudioFile (song));
    ASSERT_TRUE (fixture.waitForMaster ("take"));
    auto& mixer = fixture.app().getMixer();
    auto track = mixer.getMasterTrack();
    ASSERT_TRUE (waitUntil ([&] { return track->isStoreReady() && registry.isEnabled (Command::erase); }, 30000));
    track->setEditor (Editor::Type::spectral);
    auto* asig = track->getAsig();
    auto& edits = track->getManualEditManager();
    const juce::Range<int> bins (10, 40), frames (5, 25);
    auto maskIn = [&] {
        return asig->getMemoryManager()->getMaskFrames (1, frames).middleRows (bins.getStart(), bins.getLength());
    };
    auto undoText = [&] { return getMenuItemText (fixture.window(), MenuModel::editMenu, Command::undo); };
    auto redoText = [&] { return getMenuItemText (fixture.window(), MenuModel::editMenu, Command::redo); };
    auto answer = [&] (const juce::String& question, const juce::String& button) {
        return waitUntil ([&] { return findModalWindow (question) != nullptr; }, 5000) && clickButtonInModal (question, button)
               && waitUntil ([&] { return findModalWindow (question) == nullptr; }, 5000);
    };

    EXPECT_FALSE (fixture.invoke (Command::undo)) << "an empty history cannot undo";
    ASSERT_TRUE (
        edits.rectangleSelect (frames.getStart(), bins.getStart(), frames.getEnd() - 1, bins.getEnd() - 1, SelectionMode::replace)
            .wasChanged());
    ASSERT_TRUE (waitUntil ([&] { return undoText() == "Undo Rectangle selection"; }, 5000)) << undoText();

    // Erase from the menu, undo and redo it: the labels follow the history.
    ASSERT_TRUE (fixture.invoke (Command::erase));
    EXPECT_EQ (maskIn().cwiseAbs().maxCoeff(), 0.0f);
    ASSERT_TRUE (waitUntil ([&] { return undoText() == "Undo Selection erase"; }, 5000)) << undoText();
    ASSERT_TRUE (fixture.invoke (Command::undo));
    EXPECT_EQ (maskIn().minCoeff(), 1.0f);
    ASSERT_TRUE (waitUntil ([&] { return redoText() == "Redo Selection erase"; }, 5000)) << redoText();
    ASSERT_TRUE (fixture.invoke (Command::redo));
    EXPECT_EQ (maskIn().cwiseAbs().maxCoeff(), 0.0f);

    // Deselect asks first: "No" keeps the selection, "Yes" clears it.
    for (const auto* button : { "No", "Yes" })
    {
        ASSERT_TRUE (fixture.invoke (Command::deselect));
        ASSERT_TRUE (answer ("Deselect?", button)) << button;
        EXPECT_EQ (asig->hasSelection(), juce::String (button) == "No");
    }

    // Moving nothing says so; a selection moves to a new track after the question.
    ASSERT_TRUE (fixture.invoke (Command::moveToNewTrack));
    ASSERT_TRUE (waitUntil ([] { return findModalWindow ("No selection") != nullptr; }, 5000));
    ASSERT_TRUE (closeAllModals());
    ASSERT_TRUE (edits.rectangleSelect (30, 0, 40, asig->getNumFreqs() - 1, SelectionMode::replace).wasChanged());
    std::optional<ManualSeparationJob::Outcome> outcome;
    fixture.app().getEditCommands()->onFreezeDone = [&] (const ManualSeparationJob::Outcome& o) { outcome = o; };
    ASSERT_TRUE (fixture.invoke (Command::moveToNewTrack));
    ASSERT_TRUE (answer ("Freeze Track?", "Yes"));
    ASSERT_TRUE (waitUntil ([&] { return outcome.has_value(); }, 30000));
    EXPECT_TRUE (outcome->result.wasOk()) << outcome->result.getErrorMessage();
    EXPECT_NE (mixer.getTrack ("take Selection"), nullptr);

    // A click on a track's row makes it the track the commands work on.
    auto& list = fixture.content().getTrackList();
    auto clickRow = [&] (const juce::String& name) {
        for (int i = 0; i < list.getNumRows(); ++i)
            if (auto* label = dynamic_cast<juce::Label*> (findDescendant (*list.getRow (i), "name"));
                label != nullptr && label->getText() == name)
            {
                auto& row = *list.getRow (i);
                const juce::Point<float> at (2.0f, 2.0f);
                const auto now = juce::Time::getCurrentTime();
                row.mouseDown (juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), at, {},
                                                 juce::MouseInputSource::defaultPressure,
                                                 juce::MouseInputSource::defaultOrientation,
                                                 juce::MouseInputSource::defaultRotation, juce::MouseInputSource::defaultTiltX,
                                                 juce::MouseInputSource::defaultTiltY, &row, &row, now, at, now, 1, false));
                return true;
            }
        return false;
    };
    ASSERT_TRUE (clickRow ("take Selection"));
    EXPECT_EQ (fixture.app().getEditCommands()->getActiveTrack(), mixer.getTrack ("take Selection"));
    ASSERT_TRUE (clickRow ("take"));
    EXPECT_EQ (fixture.app().getEditCommands()->getActiveTrack(), track);

    // Reset asks, then takes every edit away.
    ASSERT_TRUE (waitUntil ([&] { return registry.isEnabled (Command::resetSpectralEdits) && ! track->isBusy(); }, 30000));
    ASSERT_TRUE (fixture.invoke (Command::resetSpectralEdits));
    ASSERT_TRUE (answer ("Reset Spectral Edits?", "Yes"));
    EXPECT_EQ (maskIn().minCoeff(), 1.0f);
    EXPECT_FALSE (asig->hasSelection());
    fixture.app().getEditCommands()->onFreezeDone = nullptr;
}
