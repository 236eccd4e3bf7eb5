#include "appcore/DirectoryManager.h"

#include "support/TestSignals.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

using kalder::DirectoryManager;

namespace
{
/** Sets or clears an environment variable and puts the old value back afterwards. */
class ScopedEnvironment
{
public:
    ScopedEnvironment (const char* variableName, std::optional<juce::String> value) : name (variableName)
    {
        if (const auto* old = std::getenv (name))
            previous = juce::String (old);

        if (value.has_value())
            ::setenv (name, value->toRawUTF8(), 1);
        else
            ::unsetenv (name);
    }

    ~ScopedEnvironment()
    {
        if (previous.has_value())
            ::setenv (name, previous->toRawUTF8(), 1);
        else
            ::unsetenv (name);
    }

private:
    const char* name;
    std::optional<juce::String> previous;
};
} // namespace

TEST (DirectoryManager, kalderHomeRelocatesEveryFolderAndCreatesThemOnFirstUse)
{
    kalder::test::TemporaryDirectory temp;
    const auto home = temp.get().getChildFile ("portable");
    const ScopedEnvironment kalderHome ("KALDER_HOME", home.getFullPathName());

    EXPECT_FALSE (home.exists());

    const auto data = DirectoryManager::getUserAppDataDir();
    EXPECT_EQ (data, home);
    EXPECT_TRUE (data.isDirectory());
    EXPECT_EQ (DirectoryManager::getSettingsFile(), home.getChildFile ("settings.json"));

    const auto documents = DirectoryManager::getUserDocumentsDir();
    EXPECT_TRUE (documents.isAChildOf (home));
    EXPECT_TRUE (documents.isDirectory());
    EXPECT_EQ (DirectoryManager::getSavedProjectsDir(), documents.getChildFile ("Saved Projects"));
    EXPECT_TRUE (DirectoryManager::getSavedProjectsDir().isDirectory());

    EXPECT_EQ (DirectoryManager::getMelodyGuidesSubPath(), "Melody Guides");
    EXPECT_EQ (DirectoryManager::getMelodyGuidesDir(), data.getChildFile ("Melody Guides"));
    EXPECT_TRUE (DirectoryManager::getMelodyGuidesDir().isDirectory());

    const auto root = DirectoryManager::getTempDir();
    EXPECT_TRUE (root.isAChildOf (home));
    EXPECT_TRUE (root.isDirectory());

    const auto working = DirectoryManager::getWorkingSubDir ("track-7");
    EXPECT_EQ (working, root.getChildFile ("track-7"));
    EXPECT_TRUE (working.isDirectory());
    EXPECT_TRUE (DirectoryManager::createFolders().wasOk());
}

TEST (DirectoryManager, workingFolderNamesNeverLeaveTheRoot)
{
    kalder::test::TemporaryDirectory temp;
    const ScopedEnvironment kalderHome ("KALDER_HOME", temp.get().getFullPathName());
    const auto root = DirectoryManager::getTempDir();

    for (const auto* name : { "../../escape", "..", ".", "a/b", "/etc" })
    {
        const auto dir = DirectoryManager::getWorkingSubDir (name);
        EXPECT_TRUE (dir.isAChildOf (root)) << name << " -> " << dir.getFullPathName();
        EXPECT_EQ (dir.getParentDirectory(), root) << name;
        EXPECT_TRUE (dir.isDirectory()) << name;
    }

    EXPECT_EQ (DirectoryManager::getWorkingSubDir ({}), root);
}

TEST (DirectoryManager, withoutKalderHomeTheDataFolderFollowsTheXdgConfigHome)
{
    kalder::test::TemporaryDirectory temp;
    const auto home = temp.get().getChildFile ("home");
    const ScopedEnvironment noKalderHome ("KALDER_HOME", std::nullopt);
    const ScopedEnvironment userHome ("HOME", home.getFullPathName());

    {
        const ScopedEnvironment xdg ("XDG_CONFIG_HOME", temp.get().getChildFile ("config").getFullPathName());
        EXPECT_EQ (DirectoryManager::getUserAppDataDir(), temp.get().getChildFile ("config/Quillmarsh"));
        EXPECT_TRUE (temp.get().getChildFile ("config/Quillmarsh").isDirectory());
    }

    // Unset, or relative (which the base directory rules say to ignore): ~/.config.
    for (const auto& xdgValue : { std::optional<juce::String>(), std::optional<juce::String> ("relative/config") })
    {
        const ScopedEnvironment xdg ("XDG_CONFIG_HOME", xdgValue);
        EXPECT_EQ (DirectoryManager::getUserAppDataDir(), home.getChildFile (".config/Quillmarsh"));
        EXPECT_EQ (DirectoryManager::getSettingsFile(), home.getChildFile (".config/Quillmarsh/settings.json"));
        EXPECT_TRUE (DirectoryManager::getTempDir().isAChildOf (home.getChildFile (".config/Quillmarsh")));
    }

    // The documents folder sits in the user's documents, and its projects below it.
    const auto documents = DirectoryManager::getUserDocumentsDir();
    EXPECT_EQ (documents.getParentDirectory(), home.getChildFile ("Documents"));
    EXPECT_TRUE (documents.isDirectory());
    EXPECT_EQ (DirectoryManager::getSavedProjectsDir().getParentDirectory(), documents);
}

TEST (DirectoryManager, aFolderThatCannotBeCreatedIsReportedClearly)
{
    kalder::test::TemporaryDirectory temp;
    const auto blocker = temp.get().getChildFile ("blocker");
    ASSERT_TRUE (blocker.replaceWithText ("a file, not a folder"));

    // The file stands where the data folder should be.
    {
        const ScopedEnvironment kalderHome ("KALDER_HOME", blocker.getFullPathName());
        const auto result = DirectoryManager::createFolders();
        EXPECT_TRUE (result.failed());
        EXPECT_TRUE (result.getErrorMessage().contains (blocker.getFullPathName())) << result.getErrorMessage();
        EXPECT_EQ (DirectoryManager::getUserAppDataDir(), blocker);
        EXPECT_TRUE (blocker.existsAsFile());
    }

    // The file stands in the way of a parent of the folder.
    const auto inside = blocker.getChildFile ("data");
    const ScopedEnvironment kalderHome ("KALDER_HOME", inside.getFullPathName());
    const auto result = DirectoryManager::createFolders();
    EXPECT_TRUE (result.failed());
    EXPECT_TRUE (result.getErrorMessage().contains (inside.getFullPathName())) << result.getErrorMessage();
    EXPECT_FALSE (DirectoryManager::getWorkingSubDir ("track").isDirectory());
    EXPECT_TRUE (DirectoryManager::createFolder (DirectoryManager::getWorkingSubDir ("track")).failed());
}
