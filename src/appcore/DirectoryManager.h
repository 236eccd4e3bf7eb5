#pragma once

#include <juce_core/juce_core.h>

namespace kalder
{

/**
    Where the application keeps its files: the data folder (settings, melody guides,
    the working folders of tracks), the user's documents folder for projects, and the
    project file last saved or opened.

    Locations on Linux follow the XDG base directories: the data folder is
    "Quillmarsh" inside $XDG_CONFIG_HOME (or ~/.config when that is unset or not an
    absolute path), and the documents folder is "Kalder Pro" inside the user's
    documents folder (XDG_DOCUMENTS_DIR, else ~/Documents). The working folders live
    below the data folder, in "Working".

    When the environment variable KALDER_HOME is set, everything moves below it: the
    data folder is $KALDER_HOME itself and the documents folder $KALDER_HOME/Documents.
    Tests use this to run in a temporary folder; it also makes a portable install.
    The environment is read at every call, so a test may change it at any time.

    Every getter of a folder creates it when it is missing. A folder that cannot be
    created is still returned; createFolder() on it gives the reason, and
    createFolders() checks all of them at start-up so the user can be told once,
    clearly, instead of meeting failing saves later.

    Ownership: static functions only; the current project file is process-wide state.

    Threading: every function may be called from any thread except the audio thread
    (they touch the file system).
*/
class DirectoryManager
{
public:
    /** The application's data folder; "settings.json" lies here. */
    static juce::File getUserAppDataDir();

    /** The settings file inside the data folder. It is not created. */
    static juce::File getSettingsFile();

    /** The application's folder in the user's documents. */
    static juce::File getUserDocumentsDir();

    /** The folder into which projects are saved by default, "Saved Projects" inside
        the documents folder. */
    static juce::File getSavedProjectsDir();

    /** The folder of exported melody guides. */
    static juce::File getMelodyGuidesDir();

    /** The autosave project, "autosave.orv" in the folder "Autosave" of the application's
        own data folder, apart from the user's projects. */
    static juce::File getAutosaveFile();

    /** The melody guides folder's path relative to the data folder. */
    static juce::String getMelodyGuidesSubPath();

    /** The root of the working folders. */
    static juce::File getTempDir();

    /** A working folder of the given name below the temporary root, created when it is
        missing. The name is made a legal file name first, so it can never point
        outside the root; an empty name gives the root itself. */
    static juce::File getWorkingSubDir (const juce::String& name);

    /** Creates a folder and its parents when missing. On failure the result names the
        folder and the system's reason. */
    static juce::Result createFolder (const juce::File& folder);

    /** Creates the data, documents and working folders; the result reports the first
        one that could not be created. */
    static juce::Result createFolders();

    /** Remembers the project file last saved or opened; an empty File forgets it. */
    static void setProjectFile (const juce::File& projectFile);

    /** The project file last saved or opened, or an empty File when there is none. */
    static juce::File getCurrentProjectFile();

private:
    DirectoryManager() = delete;
};

} // namespace kalder
