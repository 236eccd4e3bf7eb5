#include "appcore/SettingsManager.h"

#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <unistd.h>

using kalder::SettingsManager;
namespace Ids = kalder::SettingsIds;

namespace
{
/** Counts the changes a manager reports. */
struct RecordingListener : SettingsManager::Listener
{
    void settingChanged (const juce::Identifier& group, const juce::Identifier& key) override
    {
        changes.add (group.toString() + "/" + key.toString());
    }

    juce::StringArray changes;
};

juce::var readJson (const juce::File& file)
{
    return juce::JSON::parse (file.loadFileAsString());
}

juce::var property (const juce::var& object, const char* group, const char* key)
{
    return object.getProperty (group, {}).getProperty (key, {});
}

void expectAllDefaults (const SettingsManager& settings)
{
    EXPECT_FALSE (settings.getTutorialSkip());
    EXPECT_TRUE (settings.getLowQualityWarning());
    EXPECT_EQ (settings.getDefaultEditor(), Ids::spectralEditorView);
    EXPECT_EQ (settings.getPlaybackMode(), Ids::autoReturnPlayback);
    EXPECT_TRUE (settings.getAutoScroll());
    EXPECT_EQ (settings.getWindowState(), "");

    // The colour defaults that give a readable spectrogram with a dark quiet end.
    const auto colours = settings.getSpectrogramColours();
    EXPECT_DOUBLE_EQ (colours.startHue, 0.3315);
    EXPECT_DOUBLE_EQ (colours.endHue, 1.024);
    EXPECT_DOUBLE_EQ (colours.brightness, 0.4588);
    EXPECT_DOUBLE_EQ (colours.contrast, 0.7635);
    EXPECT_EQ (settings.getSpectrogramDynamicRange(), 90);

    const auto pitch = settings.getPitchEditorColours();
    EXPECT_DOUBLE_EQ (pitch.startHue, 0.3315);
    EXPECT_DOUBLE_EQ (pitch.contrast, 0.7635);
    EXPECT_NE (settings.getGroup (Ids::separation), nullptr);
}

struct SettingsFixture : ::testing::Test
{
    kalder::test::TemporaryDirectory folder;
    juce::File file = folder.get().getChildFile ("settings.json");
};

using SettingsFile = SettingsFixture;
} // namespace

TEST_F (SettingsFile, missingFileGivesDefaultsAndWritesNothingUntilAChange)
{
    SettingsManager settings (file);

    EXPECT_TRUE (settings.getLoadResult().failed());
    expectAllDefaults (settings);
    EXPECT_FALSE (file.exists());

    ASSERT_TRUE (settings.setTutorialSkip (true).wasOk());
    ASSERT_TRUE (file.existsAsFile());

    // The first save writes every group, not just the changed key.
    const auto json = readJson (file);
    EXPECT_EQ (json.getProperty ("Version", {}), juce::var (SettingsManager::currentVersion));
    EXPECT_EQ (json.getProperty ("tutorialSkip", {}), juce::var (true));
    EXPECT_EQ (json.getProperty ("lowQualityWarning", {}), juce::var (true));
    EXPECT_EQ (property (json, "editor", "defaultEditor"), juce::var ("Spectral editor"));
    EXPECT_EQ (property (json, "transport", "playbackMode"), juce::var ("Auto Return"));
    EXPECT_EQ (property (json, "transport", "autoScroll"), juce::var (true));
    EXPECT_EQ (property (json, "spectrogram", "dynamicRange"), juce::var (90));
    EXPECT_EQ (property (json, "pitchEditor", "brightness"), juce::var (0.4588));
    EXPECT_TRUE (json.getProperty ("separation", {}).isObject());
}

TEST_F (SettingsFile, unreadableFilesGiveDefaultsAndTheNextSaveWritesACompleteFile)
{
    const char* const brokenFiles[] = {
        "",                                                                  // empty
        "{\"tutorialSkip\": true, \"transport\": {\"playbackMode\": \"Pers", // truncated
        "tutorialSkip = true",                                               // not JSON
        "[true, false]",                                                     // JSON, but not an object
        "42",                                                                //
        "null",                                                              //
    };

    for (const auto* text : brokenFiles)
    {
        SCOPED_TRACE (text);
        ASSERT_TRUE (file.replaceWithText (text));

        SettingsManager settings (file);
        EXPECT_TRUE (settings.getLoadResult().failed());
        expectAllDefaults (settings);

        ASSERT_TRUE (settings.setPlaybackMode (Ids::persistentPlayback).wasOk());
        SettingsManager reloaded (file);
        EXPECT_TRUE (reloaded.getLoadResult().wasOk()) << reloaded.getLoadResult().getErrorMessage();
        EXPECT_EQ (reloaded.getPlaybackMode(), Ids::persistentPlayback);
        EXPECT_TRUE (reloaded.getLowQualityWarning());
        EXPECT_EQ (reloaded.getSpectrogramDynamicRange(), 90);
    }
}

TEST_F (SettingsFile, aFileWithOnlyTransportKeepsEveryOtherGroupAtItsDefaults)
{
    ASSERT_TRUE (file.replaceWithText (R"({ "transport": { "playbackMode": "Persistent", "autoScroll": false } })"));

    SettingsManager settings (file);
    EXPECT_TRUE (settings.getLoadResult().wasOk()) << settings.getLoadResult().getErrorMessage();
    EXPECT_EQ (settings.getPlaybackMode(), Ids::persistentPlayback);
    EXPECT_FALSE (settings.getAutoScroll());

    EXPECT_FALSE (settings.getTutorialSkip());
    EXPECT_TRUE (settings.getLowQualityWarning());
    EXPECT_EQ (settings.getDefaultEditor(), Ids::spectralEditorView);
    EXPECT_DOUBLE_EQ (settings.getSpectrogramColours().endHue, 1.024);
    EXPECT_EQ (settings.getSpectrogramDynamicRange(), 90);
}

TEST_F (SettingsFile, wrongValuesFallBackToDefaultsAndTheRestIsKept)
{
    ASSERT_TRUE (file.replaceWithText (R"({
        "Version": "0.1",
        "tutorialSkip": "yes",
        "lowQualityWarning": false,
        "spectrogram": { "startHue": "0.5", "endHue": 0.9, "brightness": 1, "dynamicRange": 60.0, "contrast": null },
        "pitchEditor": { "brightness": 0.25, "contrast": 2 },
        "editor": { "defaultEditor": "Piano roll" },
        "transport": "fast",
        "futureSetting": { "nested": [1, 2, 3] },
        "separation": { "vocal": { "mode": { "id": 4, "value": "Guided" } } }
    })"));

    SettingsManager settings (file);
    const auto& result = settings.getLoadResult();
    EXPECT_TRUE (result.failed());

    // Refused: the wrong type, a value that is not a choice, a group that is not an object.
    for (const auto* refused :
         { "tutorialSkip", "spectrogram/startHue", "spectrogram/contrast", "editor/defaultEditor", "transport" })
        EXPECT_TRUE (result.getErrorMessage().contains (refused)) << refused << ": " << result.getErrorMessage();

    EXPECT_FALSE (settings.getTutorialSkip());
    EXPECT_EQ (settings.getDefaultEditor(), Ids::spectralEditorView);
    EXPECT_EQ (settings.getPlaybackMode(), Ids::autoReturnPlayback);
    EXPECT_TRUE (settings.getAutoScroll());

    // Taken, numbers converted to the default's type.
    EXPECT_FALSE (settings.getLowQualityWarning());
    const auto colours = settings.getSpectrogramColours();
    EXPECT_DOUBLE_EQ (colours.startHue, 0.3315);
    EXPECT_DOUBLE_EQ (colours.endHue, 0.9);
    EXPECT_DOUBLE_EQ (colours.brightness, 1.0);
    EXPECT_DOUBLE_EQ (colours.contrast, 0.7635);
    EXPECT_EQ (settings.getSpectrogramDynamicRange(), 60);
    EXPECT_TRUE (settings.getSettings()->getProperty (Ids::spectrogram).getProperty (Ids::dynamicRange, {}).isInt());
    EXPECT_DOUBLE_EQ (settings.getPitchEditorColours().brightness, 0.25);
    EXPECT_DOUBLE_EQ (settings.getPitchEditorColours().contrast, 2.0);

    // Keys this version does not know survive a save, and the version is ours.
    ASSERT_TRUE (settings.saveToJson().wasOk());
    const auto json = readJson (file);
    EXPECT_EQ (json.getProperty ("Version", {}), juce::var (SettingsManager::currentVersion));
    EXPECT_EQ (json.getProperty ("futureSetting", {}).getProperty ("nested", {}).size(), 3);
    EXPECT_EQ (property (json.getProperty ("separation", {}), "vocal", "mode").getProperty ("value", {}), juce::var ("Guided"));
    EXPECT_EQ (property (json, "transport", "playbackMode"), juce::var ("Auto Return"));
}

TEST_F (SettingsFile, numbersThatCannotBeTheirSettingAreRefused)
{
    ASSERT_TRUE (file.replaceWithText (R"({ "spectrogram": { "dynamicRange": 0, "endHue": 1e999 },
                                            "pitchEditor": { "startHue": true } })"));
    SettingsManager settings (file);
    for (const auto* refused : { "spectrogram/dynamicRange", "spectrogram/endHue", "pitchEditor/startHue" })
        EXPECT_TRUE (settings.getLoadResult().getErrorMessage().contains (refused)) << refused;
    EXPECT_EQ (settings.getSpectrogramDynamicRange(), 90);
    EXPECT_DOUBLE_EQ (settings.getSpectrogramColours().endHue, 1.024);
    EXPECT_DOUBLE_EQ (settings.getPitchEditorColours().startHue, 0.3315);

    ASSERT_TRUE (file.replaceWithText (R"({ "spectrogram": { "dynamicRange": 60.5 } })"));
    EXPECT_EQ (SettingsManager (file).getSpectrogramDynamicRange(), 90);

    ASSERT_TRUE (file.replaceWithText (R"({ "spectrogram": { "dynamicRange": 4294967296 } })"));
    EXPECT_EQ (SettingsManager (file).getSpectrogramDynamicRange(), 90);
}

TEST_F (SettingsFile, everySettingSurvivesARoundTrip)
{
    {
        SettingsManager settings (file);
        ASSERT_TRUE (settings.setTutorialSkip (true).wasOk());
        ASSERT_TRUE (settings.setLowQualityWarning (false).wasOk());
        ASSERT_TRUE (settings.setDefaultEditor (Ids::melodyEditorView).wasOk());
        ASSERT_TRUE (settings.setPlaybackMode (Ids::persistentPlayback).wasOk());
        ASSERT_TRUE (settings.setAutoScroll (false).wasOk());
        ASSERT_TRUE (settings.setWindowState ("40 60 900 700").wasOk());
        ASSERT_TRUE (settings.setSpectrogramColours ({ 0.2, 1.1, 0.3, 0.9 }).wasOk());
        ASSERT_TRUE (settings.setSpectrogramDynamicRange (120).wasOk());
        ASSERT_TRUE (settings.setPitchEditorColours ({ 0.25, 0.75, 0.125, 0.5 }).wasOk());
    }

    SettingsManager settings (file);
    EXPECT_TRUE (settings.getLoadResult().wasOk()) << settings.getLoadResult().getErrorMessage();
    EXPECT_TRUE (settings.getTutorialSkip());
    EXPECT_FALSE (settings.getLowQualityWarning());
    EXPECT_EQ (settings.getDefaultEditor(), Ids::melodyEditorView);
    EXPECT_EQ (settings.getPlaybackMode(), Ids::persistentPlayback);
    EXPECT_FALSE (settings.getAutoScroll());
    EXPECT_EQ (settings.getWindowState(), "40 60 900 700");

    const auto colours = settings.getSpectrogramColours();
    EXPECT_DOUBLE_EQ (colours.startHue, 0.2);
    EXPECT_DOUBLE_EQ (colours.endHue, 1.1);
    EXPECT_DOUBLE_EQ (colours.brightness, 0.3);
    EXPECT_DOUBLE_EQ (colours.contrast, 0.9);
    EXPECT_EQ (settings.getSpectrogramDynamicRange(), 120);

    const auto pitch = settings.getPitchEditorColours();
    EXPECT_DOUBLE_EQ (pitch.startHue, 0.25);
    EXPECT_DOUBLE_EQ (pitch.endHue, 0.75);
    EXPECT_DOUBLE_EQ (pitch.brightness, 0.125);
    EXPECT_DOUBLE_EQ (pitch.contrast, 0.5);
}

TEST_F (SettingsFile, changesAreSwappedInWholeAndListenersAreTold)
{
    SettingsManager settings (file);
    RecordingListener listener;
    settings.addListener (&listener);

    ASSERT_TRUE (settings.setAutoScroll (false).wasOk());
    const auto firstVersion = file.loadFileAsString();

    // A second name for the written file: writing in place would change what it shows,
    // renaming a new file over "settings.json" leaves it as it was.
    const auto earlier = folder.get().getChildFile ("earlier.json");
    ASSERT_EQ (::link (file.getFullPathName().toRawUTF8(), earlier.getFullPathName().toRawUTF8()), 0);

    ASSERT_TRUE (settings.setDefaultEditor (Ids::mixerView).wasOk());
    EXPECT_EQ (earlier.loadFileAsString(), firstVersion);
    EXPECT_EQ (property (readJson (file), "editor", "defaultEditor"), juce::var ("Mixer"));

    // No temporary file is left beside the settings.
    EXPECT_EQ (folder.get().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 2);

    // Unchanged values are neither written nor reported; refused ones change nothing.
    ASSERT_TRUE (settings.setDefaultEditor (Ids::mixerView).wasOk());
    EXPECT_TRUE (settings.setDefaultEditor ("Piano roll").failed());
    EXPECT_TRUE (settings.setPlaybackMode ("auto return").failed());
    EXPECT_TRUE (settings.setSpectrogramDynamicRange (0).failed());
    EXPECT_TRUE (settings.setSpectrogramColours ({ std::nan (""), 1.0, 0.5, 0.5 }).failed());
    EXPECT_EQ (settings.getDefaultEditor(), Ids::mixerView);
    EXPECT_EQ (settings.getSpectrogramDynamicRange(), 90);
    EXPECT_DOUBLE_EQ (settings.getSpectrogramColours().startHue, 0.3315);

    ASSERT_TRUE (settings.setPitchEditorColours ({ 0.1, 0.2, 0.3, 0.4 }).wasOk());
    EXPECT_EQ (listener.changes, juce::StringArray ({ "transport/autoScroll", "editor/defaultEditor", "pitchEditor/" }));

    ASSERT_TRUE (settings.loadSettings (file).wasOk());
    EXPECT_EQ (listener.changes[3], "/");
    settings.removeListener (&listener);
}

TEST_F (SettingsFile, aSaveThatCannotCompleteReportsItAndLeavesWhatWasThere)
{
    // A folder where the file should be: the new file can never be swapped in.
    ASSERT_TRUE (file.createDirectory().wasOk());
    ASSERT_TRUE (file.getChildFile ("keep").replaceWithText ("x"));

    SettingsManager settings (file);
    EXPECT_TRUE (settings.getLoadResult().failed());

    const auto result = settings.setTutorialSkip (true);
    EXPECT_TRUE (result.failed());
    EXPECT_TRUE (result.getErrorMessage().contains (file.getFullPathName()));
    EXPECT_TRUE (file.isDirectory());
    EXPECT_EQ (file.getChildFile ("keep").loadFileAsString(), "x");
    EXPECT_EQ (folder.get().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1);

    // A data folder that cannot be created: a file stands in its way.
    const auto blocker = folder.get().getChildFile ("blocker");
    ASSERT_TRUE (blocker.replaceWithText ("not a folder"));
    SettingsManager nowhere (blocker.getChildFile ("settings.json"));
    const auto noFolder = nowhere.setAutoScroll (false);
    EXPECT_TRUE (noFolder.failed());
    EXPECT_TRUE (noFolder.getErrorMessage().contains (blocker.getFullPathName()));
    EXPECT_EQ (blocker.loadFileAsString(), "not a folder");
}

TEST_F (SettingsFile, groupsSuppliedAsDefaultsKeepTheirIdentityThroughALoad)
{
    // The separation modules' settings are objects of their own classes; loading a file
    // must update them in place, not replace them by plain objects.
    struct ModuleSettings : juce::DynamicObject
    {};

    auto defaults = SettingsManager::createDefaultSettings();
    juce::DynamicObject::Ptr vocal = new ModuleSettings();
    juce::DynamicObject::Ptr mode = new juce::DynamicObject();
    mode->setProperty ("id", 4);
    mode->setProperty ("value", "Automatic");
    vocal->setProperty ("mode", mode.get());
    defaults.getProperty (Ids::separation, {}).getDynamicObject()->setProperty (Ids::vocalModule, vocal.get());

    ASSERT_TRUE (file.replaceWithText (R"({ "separation": { "vocal": { "mode": { "value": "Guided" } } } })"));
    SettingsManager settings (file, defaults);

    auto* separation = settings.getGroup (Ids::separation);
    ASSERT_NE (separation, nullptr);
    EXPECT_EQ (separation->getProperty (Ids::vocalModule).getDynamicObject(), vocal.get());
    EXPECT_EQ (mode->getProperty ("value"), juce::var ("Guided"));
    EXPECT_EQ (mode->getProperty ("id"), juce::var (4));

    // A change made in place is saved by groupChanged.
    RecordingListener listener;
    settings.addListener (&listener);
    mode->setProperty ("value", "Automatic");
    ASSERT_TRUE (settings.groupChanged (Ids::separation).wasOk());
    EXPECT_EQ (listener.changes, juce::StringArray ({ "separation/" }));
    settings.removeListener (&listener);

    const auto json = readJson (file);
    EXPECT_EQ (property (json.getProperty ("separation", {}), "vocal", "mode").getProperty ("value", {}),
               juce::var ("Automatic"));
}

TEST_F (SettingsFile, anInstalledManagerIsTheOneEveryoneReaches)
{
    SettingsManager outer (file);
    SettingsManager inner (folder.get().getChildFile ("other.json"));
    {
        SettingsManager::ScopedInstance installOuter (outer);
        EXPECT_EQ (&SettingsManager::getInstance(), &outer);
        {
            SettingsManager::ScopedInstance installInner (inner);
            EXPECT_EQ (&SettingsManager::getInstance(), &inner);
        }
        EXPECT_EQ (&SettingsManager::getInstance(), &outer);
    }
}

TEST (SettingsChoices, storedChoicesCompareEqualToTheirConstantsInChoiceOrder)
{
    EXPECT_EQ (Ids::getDefaultEditorChoices(), juce::StringArray ({ "Mixer", "Melody editor", "Spectral editor" }));
    EXPECT_EQ (Ids::getPlaybackModeChoices(), juce::StringArray ({ "Auto Return", "Persistent" }));
    EXPECT_EQ (Ids::defaultViewLabel, "Default view:");
    EXPECT_EQ (Ids::playbackModeLabel, "Playback mode: ");
    EXPECT_EQ (Ids::autoScrollLabel, "Automatic scrolling during playback:");

    // What a settings file holds compares equal to the constant, as a var too.
    const auto parsed = juce::JSON::parse (R"({ "defaultEditor": "Melody editor" })");
    EXPECT_TRUE (parsed.getProperty (Ids::defaultEditor, {}) == Ids::melodyEditorView);
}
