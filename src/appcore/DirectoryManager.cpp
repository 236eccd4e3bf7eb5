#include "DirectoryManager.h"

namespace kalder
{

namespace
{
    // Folder names are part of the user's file system: changing one would orphan the
    // settings and projects of every existing install.
    constexpr const char* dataFolderName = "Quillmarsh";
    constexpr const char* documentsFolderName = "Kalder Pro";
    constexpr const char* homeDocumentsFolderName = "Documents";
    constexpr const char* savedProjectsFolderName = "Saved Projects";
    constexpr const char* melodyGuidesFolderName = "Melody Guides";
    constexpr const char* workingFolderName = "Working";
    constexpr const char* settingsFileName = "settings.json";

    /** An absolute folder named by an environment variable, or an empty File. */
    juce::File getFolderFromEnvironment (const char* variable)
    {
        const auto value = juce::SystemStats::getEnvironmentVariable (variable, {}).trim();

        if (value.isEmpty())
            return {};

        // A relative path would move with the working directory of whoever started us.
        if (! juce::File::isAbsolutePath (value))
            return {};

        return juce::File (value);
    }

    /** $KALDER_HOME, made absolute, or an empty File when it is not set. */
    juce::File getKalderHome()
    {
        const auto value = juce::SystemStats::getEnvironmentVariable ("KALDER_HOME", {}).trim();

        if (value.isEmpty())
            return {};

        return juce::File::getCurrentWorkingDirectory().getChildFile (value);
    }

    juce::File getXdgConfigHome()
    {
        // JUCE looks for XDG_CONFIG_HOME in user-dirs.dirs, where it never is; the XDG
        // base directory rules put it in the environment.
        if (auto fromEnvironment = getFolderFromEnvironment ("XDG_CONFIG_HOME"); fromEnvironment != juce::File())
            return fromEnvironment;

        return juce::File::getSpecialLocation (juce::File::userHomeDirectory).getChildFile (".config");
    }

    juce::File getDataDirLocation()
    {
        if (auto home = getKalderHome(); home != juce::File())
            return home;

#if JUCE_LINUX || JUCE_BSD
        return getXdgConfigHome().getChildFile (dataFolderName);
#else
        return juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory).getChildFile (dataFolderName);
#endif
    }

    juce::File getDocumentsDirLocation()
    {
        if (auto home = getKalderHome(); home != juce::File())
            return home.getChildFile (homeDocumentsFolderName);

        return juce::File::getSpecialLocation (juce::File::userDocumentsDirectory).getChildFile (documentsFolderName);
    }

    /** Creates the folder if it can; the caller that needs the reason asks createFolder(). */
    juce::File created (const juce::File& folder)
    {
        DirectoryManager::createFolder (folder);
        return folder;
    }

    juce::CriticalSection projectFileLock;
    juce::File currentProjectFile;
} // namespace

juce::File DirectoryManager::getUserAppDataDir()
{
    return created (getDataDirLocation());
}

juce::File DirectoryManager::getSettingsFile()
{
    return getUserAppDataDir().getChildFile (settingsFileName);
}

juce::File DirectoryManager::getUserDocumentsDir()
{
    return created (getDocumentsDirLocation());
}

juce::File DirectoryManager::getSavedProjectsDir()
{
    return created (getDocumentsDirLocation().getChildFile (savedProjectsFolderName));
}

juce::File DirectoryManager::getAutosaveFile()
{
    return getUserAppDataDir().getChildFile ("Autosave").getChildFile ("autosave.orv");
}

juce::File DirectoryManager::getMelodyGuidesDir()
{
    return created (getDataDirLocation().getChildFile (getMelodyGuidesSubPath()));
}

juce::String DirectoryManager::getMelodyGuidesSubPath()
{
    return melodyGuidesFolderName;
}

juce::File DirectoryManager::getTempDir()
{
    return created (getDataDirLocation().getChildFile (workingFolderName));
}

juce::File DirectoryManager::getWorkingSubDir (const juce::String& name)
{
    auto legalName = juce::File::createLegalFileName (name.trim());

    // "." and ".." survive createLegalFileName but would name the root or its parent.
    if (legalName.isNotEmpty() && legalName.containsOnly ("."))
        legalName = "_";

    const auto root = getDataDirLocation().getChildFile (workingFolderName);
    return created (legalName.isEmpty() ? root : root.getChildFile (legalName));
}

juce::Result DirectoryManager::createFolder (const juce::File& folder)
{
    if (folder == juce::File())
        return juce::Result::fail ("No folder was given.");

    if (folder.isDirectory())
        return juce::Result::ok();

    if (folder.existsAsFile())
        return juce::Result::fail ("Could not create the folder \"" + folder.getFullPathName()
                                   + "\": a file of that name is in the way.");

    const auto result = folder.createDirectory();

    if (result.failed())
        return juce::Result::fail ("Could not create the folder \"" + folder.getFullPathName()
                                   + "\": " + result.getErrorMessage());

    return juce::Result::ok();
}

juce::Result DirectoryManager::createFolders()
{
    for (const auto& folder :
         { getDataDirLocation(), getDocumentsDirLocation(), getDataDirLocation().getChildFile (workingFolderName) })
        if (auto result = createFolder (folder); result.failed())
            return result;

    return juce::Result::ok();
}

void DirectoryManager::setProjectFile (const juce::File& projectFile)
{
    const juce::ScopedLock sl (projectFileLock);
    currentProjectFile = projectFile;
}

juce::File DirectoryManager::getCurrentProjectFile()
{
    const juce::ScopedLock sl (projectFileLock);
    return currentProjectFile;
}

} // namespace kalder
