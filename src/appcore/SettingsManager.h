#pragma once

#include "SettingsIds.h"

#include <juce_core/juce_core.h>

#include <atomic>

namespace kalder
{

/**
    The user's settings: a tree of dynamic objects, one object per group, kept in the
    JSON file "settings.json".

    The tree starts from the defaults (createDefaultSettings(), plus whatever the
    application adds, such as the separation modules' defaults) and the file is merged
    over them. The merge walks into groups and keeps the identity of every default
    object, so an object of a subclass placed in the defaults stays that object. For
    each value of the file:
      - a key the defaults do not know is kept as it stands, so settings written by a
        newer version survive a round trip through this one;
      - a known key takes the file's value only when it has the default's type
        (numbers convert between int and double when nothing is lost) and, for a
        choice, is one of the choices; otherwise the default stays and the key is
        named in the load result.
    A file that is missing, empty, truncated or not a JSON object leaves the defaults
    in force. "Version" is never taken from the file: the tree describes the format
    this build writes.

    Every change through a setter is written at once. The file is written to a
    temporary file in the same folder and renamed over "settings.json" only when it
    is complete, so a crash or a full disk leaves the previous file, never a broken one.

    Ownership: the application installs its instance with ScopedInstance; code that
    runs without one gets a process-wide instance reading the data folder's file,
    created on first use. Tests install their own.

    Threading: message thread only. Code on other threads takes copies of the values
    it needs on the message thread.
*/
class SettingsManager
{
public:
    /** The format version written into "Version". */
    static constexpr const char* currentVersion = "1.0";

    /** The colour settings of an editor's image. */
    struct Colours
    {
        double startHue = 0.0, endHue = 0.0, brightness = 0.0, contrast = 0.0;
    };

    /** Is told about every change of a setting. */
    class Listener
    {
    public:
        virtual ~Listener() = default;

        /** A setting changed. group is empty for a top-level key; key is empty when
            the whole group may have changed, and both are empty after a load. */
        virtual void settingChanged (const juce::Identifier& group, const juce::Identifier& key) = 0;
    };

    /** Merges settingsFile over the defaults when it exists; the defaults object
        becomes the manager's tree. Nothing is written until a setting changes. */
    explicit SettingsManager (const juce::File& settingsFile, juce::var defaults = createDefaultSettings());
    ~SettingsManager();

    /** The built-in defaults: every key and group except the separation modules, which
        the separation code adds (the "separation" group starts empty). */
    static juce::var createDefaultSettings();

    //==============================================================================
    /** The installed instance, else the process-wide one (created on first use from
        the data folder's "settings.json"). */
    static SettingsManager& getInstance();

    /** Makes an instance the one getInstance() returns, for this object's lifetime. */
    class ScopedInstance
    {
    public:
        explicit ScopedInstance (SettingsManager& instance);
        ~ScopedInstance();

    private:
        SettingsManager* previous;
        JUCE_DECLARE_NON_COPYABLE (ScopedInstance)
    };

    //==============================================================================
    /** The file this manager reads at construction and writes on every change. */
    const juce::File& getSettingsFile() const noexcept { return settingsFile; }

    /** What the load at construction found: failed when the file was missing or
        unreadable, or when some of its values were refused. */
    const juce::Result& getLoadResult() const noexcept { return loadResult; }

    /** Merges a JSON file over the current settings (see the class comment) and tells
        the listeners. The result names what was refused; whatever was valid has been
        taken even when it failed. Nothing is written. */
    juce::Result loadSettings (const juce::File& file);

    /** Writes the whole tree to the settings file through a temporary file. */
    juce::Result saveToJson();

    /** The root of the tree. Code that changes a group in place (the separation
        modules) calls groupChanged() afterwards. */
    juce::DynamicObject::Ptr getSettings() const { return root; }

    /** A group of the tree, or nullptr when the tree has none of that name. */
    juce::DynamicObject* getGroup (const juce::Identifier& group) const;

    /** Saves after a group was changed in place and tells the listeners. */
    juce::Result groupChanged (const juce::Identifier& group);

    //==============================================================================
    bool getTutorialSkip() const;
    juce::Result setTutorialSkip (bool skip);

    bool getLowQualityWarning() const;
    juce::Result setLowQualityWarning (bool warn);

    /** One of SettingsIds::getDefaultEditorChoices(). */
    juce::String getDefaultEditor() const;
    /** Refuses (and changes nothing) for a value that is not a choice. */
    juce::Result setDefaultEditor (const juce::String& view);

    /** One of SettingsIds::getPlaybackModeChoices(). */
    juce::String getPlaybackMode() const;
    /** Refuses (and changes nothing) for a value that is not a choice. */
    juce::Result setPlaybackMode (const juce::String& mode);

    bool getAutoScroll() const;
    juce::Result setAutoScroll (bool scroll);

    /** The main window's position and size as the window describes them
        (juce::ResizableWindow::getWindowStateAsString()); empty until a window stored it. */
    juce::String getWindowState() const;
    juce::Result setWindowState (const juce::String& state);

    /** The user's own keys for the commands ("keyMappings"): XML of the changes from
        the defaults, empty for none. */
    juce::String getKeyMappings() const;
    juce::Result setKeyMappings (const juce::String& xml);

    /** The projects last saved or opened, the latest first (full paths, at most
        maxRecentProjects; a file may have gone since). */
    juce::StringArray getRecentProjects() const;
    /** Puts a project first in the recent list. */
    juce::Result addRecentProject (const juce::File& project);
    static constexpr int maxRecentProjects = 10;

    Colours getSpectrogramColours() const;
    juce::Result setSpectrogramColours (const Colours& colours);

    /** The span in dB between the quietest and the loudest colour, always above 0. */
    int getSpectrogramDynamicRange() const;
    /** Refuses a range that is not above 0. */
    juce::Result setSpectrogramDynamicRange (int decibels);

    Colours getPitchEditorColours() const;
    juce::Result setPitchEditorColours (const Colours& colours);

    //==============================================================================
    void addListener (Listener* listener);
    void removeListener (Listener* listener);

private:
    juce::var getValue (const juce::Identifier& group, const juce::Identifier& key) const;
    juce::Result setValue (const juce::Identifier& group, const juce::Identifier& key, const juce::var& value);
    void notifyListeners (const juce::Identifier& group, const juce::Identifier& key);
    Colours getColours (const juce::Identifier& group) const;
    juce::Result setColours (const juce::Identifier& group, const Colours& colours);

    const juce::File settingsFile;
    juce::DynamicObject::Ptr root;
    juce::Result loadResult { juce::Result::ok() };
    juce::ListenerList<Listener> listeners;

    static std::atomic<SettingsManager*> installed;

    JUCE_DECLARE_NON_COPYABLE (SettingsManager)
};

} // namespace kalder
