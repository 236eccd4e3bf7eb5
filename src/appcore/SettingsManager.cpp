#include "SettingsManager.h"

#include "base/BoundedJson.h"

#include "DirectoryManager.h"

#include "base/DurableFile.h"

#include <juce_events/juce_events.h>

#include <cmath>
#include <limits>
#include <mutex>
#include <optional>

namespace kalder
{

namespace
{
    // The spectrogram's colours as tuned for a readable image with a dark quiet end;
    // the melody editor starts from the same look.
    constexpr double defaultStartHue = 0.3315;
    constexpr double defaultEndHue = 1.024;
    constexpr double defaultBrightness = 0.4588;
    constexpr double defaultContrast = 0.7635;
    constexpr int defaultDynamicRange = 90; // dB between the quietest and the loudest colour

    juce::DynamicObject::Ptr makeColourGroup (bool withDynamicRange)
    {
        auto group = juce::DynamicObject::Ptr (new juce::DynamicObject());
        group->setProperty (SettingsIds::startHue, defaultStartHue);
        group->setProperty (SettingsIds::endHue, defaultEndHue);
        group->setProperty (SettingsIds::brightness, defaultBrightness);
        group->setProperty (SettingsIds::contrast, defaultContrast);

        if (withDynamicRange)
            group->setProperty (SettingsIds::dynamicRange, defaultDynamicRange);

        return group;
    }

    bool isNumber (const juce::var& v)
    {
        return v.isInt() || v.isInt64() || v.isDouble();
    }

    /** Rules beyond the type that a value must follow, by "group/key" path. */
    bool followsRules (const juce::String& path, const juce::var& value)
    {
        if (path == "editor/defaultEditor")
            return SettingsIds::getDefaultEditorChoices().contains (value.toString());

        if (path == "transport/playbackMode")
            return SettingsIds::getPlaybackModeChoices().contains (value.toString());

        // A range of 0 dB would map every level to one colour and divide by zero.
        if (path == "spectrogram/dynamicRange")
            return static_cast<int> (value) > 0;

        return true;
    }

    /** The value from the file in the type of the default, or nothing when it does not fit. */
    std::optional<juce::var> convertToTypeOf (const juce::var& current, const juce::var& value)
    {
        if (current.isVoid())
            return value;

        if (current.isBool())
            return value.isBool() ? std::optional<juce::var> (value) : std::nullopt;

        if (current.isString())
            return value.isString() ? std::optional<juce::var> (value) : std::nullopt;

        if (current.isArray())
            return value.isArray() ? std::optional<juce::var> (value) : std::nullopt;

        if (current.isDouble())
        {
            if (! isNumber (value) || ! std::isfinite (static_cast<double> (value)))
                return std::nullopt;

            return juce::var (static_cast<double> (value));
        }

        if (current.isInt() || current.isInt64())
        {
            if (! isNumber (value))
                return std::nullopt;

            const auto number = static_cast<double> (value);

            if (! std::isfinite (number) || number != std::floor (number)
                || number < static_cast<double> (std::numeric_limits<int>::min())
                || number > static_cast<double> (std::numeric_limits<int>::max()))
                return std::nullopt;

            return juce::var (static_cast<int> (number));
        }

        return std::nullopt;
    }

    void mergeInto (juce::DynamicObject& target, juce::DynamicObject& source, const juce::String& path,
                    juce::StringArray& refused)
    {
        for (const auto& property : source.getProperties())
        {
            const auto& name = property.name;
            const auto childPath = path.isEmpty() ? name.toString() : path + "/" + name.toString();

            if (path.isEmpty() && name == SettingsIds::version)
                continue;

            if (! target.hasProperty (name))
            {
                target.setProperty (name, property.value);
                continue;
            }

            const auto current = target.getProperty (name);

            if (auto* group = current.getDynamicObject())
            {
                if (auto* sourceGroup = property.value.getDynamicObject())
                    mergeInto (*group, *sourceGroup, childPath, refused);
                else
                    refused.add (childPath);

                continue;
            }

            const auto converted = convertToTypeOf (current, property.value);

            if (converted.has_value() && followsRules (childPath, *converted))
                target.setProperty (name, *converted);
            else
                refused.add (childPath);
        }
    }

    std::mutex fallbackLock;
    std::unique_ptr<SettingsManager> fallbackInstance;
} // namespace

std::atomic<SettingsManager*> SettingsManager::installed { nullptr };

//==============================================================================
SettingsManager::SettingsManager (const juce::File& file, juce::var defaults) : settingsFile (file)
{
    root = defaults.getDynamicObject();

    if (root == nullptr)
    {
        jassertfalse; // the defaults must be an object
        root = createDefaultSettings().getDynamicObject();
    }

    root->setProperty (SettingsIds::version, currentVersion);
    loadResult = loadSettings (settingsFile);
}

SettingsManager::~SettingsManager()
{
    // An instance must not be destroyed while it is installed.
    jassert (installed.load() != this);
}

juce::var SettingsManager::createDefaultSettings()
{
    auto editor = juce::DynamicObject::Ptr (new juce::DynamicObject());
    editor->setProperty (SettingsIds::defaultEditor, SettingsIds::spectralEditorView);

    auto transport = juce::DynamicObject::Ptr (new juce::DynamicObject());
    transport->setProperty (SettingsIds::playbackMode, SettingsIds::autoReturnPlayback);
    transport->setProperty (SettingsIds::autoScroll, true);

    auto settings = juce::DynamicObject::Ptr (new juce::DynamicObject());
    settings->setProperty (SettingsIds::version, currentVersion);
    settings->setProperty (SettingsIds::tutorialSkip, false);
    settings->setProperty (SettingsIds::lowQualityWarning, true);
    settings->setProperty (SettingsIds::spectrogram, makeColourGroup (true).get());
    settings->setProperty (SettingsIds::pitchEditor, makeColourGroup (false).get());
    settings->setProperty (SettingsIds::separation, new juce::DynamicObject());
    settings->setProperty (SettingsIds::editor, editor.get());
    settings->setProperty (SettingsIds::transport, transport.get());
    settings->setProperty (SettingsIds::windowState, juce::String()); // the first window is centred
    settings->setProperty (SettingsIds::keyMappings, juce::String());
    settings->setProperty (SettingsIds::recentProjects, juce::Array<juce::var>());
    return settings.get();
}

//==============================================================================
SettingsManager& SettingsManager::getInstance()
{
    if (auto* instance = installed.load())
        return *instance;

    const std::lock_guard<std::mutex> lock (fallbackLock);

    if (fallbackInstance == nullptr)
        fallbackInstance = std::make_unique<SettingsManager> (DirectoryManager::getSettingsFile());

    return *fallbackInstance;
}

SettingsManager::ScopedInstance::ScopedInstance (SettingsManager& instance) : previous (installed.exchange (&instance)) {}

SettingsManager::ScopedInstance::~ScopedInstance()
{
    installed.store (previous);
}

//==============================================================================
juce::Result SettingsManager::loadSettings (const juce::File& file)
{
    JUCE_ASSERT_MESSAGE_THREAD

    if (! file.existsAsFile())
        return juce::Result::fail ("The settings file \"" + file.getFullPathName() + "\" was not found.");

    constexpr int maxSettingsBytes = 4 << 20, maxSettingsDepth = 32; // far beyond any real settings file
    juce::String text;

    if (file.getSize() > maxSettingsBytes)
        return juce::Result::fail ("The settings file \"" + file.getFullPathName() + "\" is too large to be a settings file.");
    if (juce::FileInputStream in (file); in.openedOk())
        text = in.readEntireStreamAsString();
    else
        return juce::Result::fail ("The settings file \"" + file.getFullPathName()
                                   + "\" could not be read: " + in.getStatus().getErrorMessage());

    juce::var parsed;
    const auto parseResult = BoundedJson::parse (text, parsed, maxSettingsBytes, maxSettingsDepth);
    auto* source = parsed.getDynamicObject();

    if (parseResult.failed() || source == nullptr)
        return juce::Result::fail ("The settings file \"" + file.getFullPathName() + "\" is not a settings object"
                                   + (parseResult.failed() ? ": " + parseResult.getErrorMessage() : juce::String (".")));

    juce::StringArray refused;
    mergeInto (*root, *source, {}, refused);

    notifyListeners ({}, {});

    if (! refused.isEmpty())
        return juce::Result::fail ("Settings with wrong values were reset to their defaults: " + refused.joinIntoString (", "));

    return juce::Result::ok();
}

juce::Result SettingsManager::saveToJson()
{
    JUCE_ASSERT_MESSAGE_THREAD

    if (auto folder = DirectoryManager::createFolder (settingsFile.getParentDirectory()); folder.failed())
        return folder;

    const auto text = juce::JSON::toString (juce::var (root.get()));
    const auto failure = juce::Result::fail ("The settings could not be written to \"" + settingsFile.getFullPathName() + "\".");

    if (const auto written = DurableFile::replaceWithText (settingsFile, text); written.failed())
        return juce::Result::fail (failure.getErrorMessage() + " " + written.getErrorMessage());
    return juce::Result::ok();
}

juce::DynamicObject* SettingsManager::getGroup (const juce::Identifier& group) const
{
    return root->getProperty (group).getDynamicObject();
}

juce::Result SettingsManager::groupChanged (const juce::Identifier& group)
{
    JUCE_ASSERT_MESSAGE_THREAD

    auto result = saveToJson();
    notifyListeners (group, {});
    return result;
}

//==============================================================================
juce::var SettingsManager::getValue (const juce::Identifier& group, const juce::Identifier& key) const
{
    if (group.isNull())
        return root->getProperty (key);

    if (auto* object = getGroup (group))
        return object->getProperty (key);

    return {};
}

juce::Result SettingsManager::setValue (const juce::Identifier& group, const juce::Identifier& key, const juce::var& value)
{
    JUCE_ASSERT_MESSAGE_THREAD

    auto* object = group.isNull() ? root.get() : getGroup (group);

    if (object == nullptr)
    {
        // Only a tree whose defaults lack a built-in group gets here.
        jassertfalse;
        auto created = juce::DynamicObject::Ptr (new juce::DynamicObject());
        root->setProperty (group, created.get());
        object = created.get();
    }

    if (object->hasProperty (key) && object->getProperty (key) == value
        && object->getProperty (key).isString() == value.isString())
        return juce::Result::ok();

    object->setProperty (key, value);
    auto result = saveToJson();
    notifyListeners (group, key);
    return result;
}

bool SettingsManager::getTutorialSkip() const
{
    return getValue ({}, SettingsIds::tutorialSkip);
}

juce::Result SettingsManager::setTutorialSkip (bool skip)
{
    return setValue ({}, SettingsIds::tutorialSkip, skip);
}

bool SettingsManager::getLowQualityWarning() const
{
    return getValue ({}, SettingsIds::lowQualityWarning);
}

juce::Result SettingsManager::setLowQualityWarning (bool warn)
{
    return setValue ({}, SettingsIds::lowQualityWarning, warn);
}

juce::String SettingsManager::getDefaultEditor() const
{
    return getValue (SettingsIds::editor, SettingsIds::defaultEditor).toString();
}

juce::Result SettingsManager::setDefaultEditor (const juce::String& view)
{
    if (! SettingsIds::getDefaultEditorChoices().contains (view))
        return juce::Result::fail ("\"" + view + "\" is not a view.");

    return setValue (SettingsIds::editor, SettingsIds::defaultEditor, view);
}

juce::String SettingsManager::getPlaybackMode() const
{
    return getValue (SettingsIds::transport, SettingsIds::playbackMode).toString();
}

juce::Result SettingsManager::setPlaybackMode (const juce::String& mode)
{
    if (! SettingsIds::getPlaybackModeChoices().contains (mode))
        return juce::Result::fail ("\"" + mode + "\" is not a playback mode.");

    return setValue (SettingsIds::transport, SettingsIds::playbackMode, mode);
}

bool SettingsManager::getAutoScroll() const
{
    return getValue (SettingsIds::transport, SettingsIds::autoScroll);
}

juce::Result SettingsManager::setAutoScroll (bool scroll)
{
    return setValue (SettingsIds::transport, SettingsIds::autoScroll, scroll);
}

juce::String SettingsManager::getWindowState() const
{
    return getValue ({}, SettingsIds::windowState).toString();
}

juce::Result SettingsManager::setWindowState (const juce::String& state)
{
    return setValue ({}, SettingsIds::windowState, state);
}

juce::String SettingsManager::getKeyMappings() const
{
    return getValue ({}, SettingsIds::keyMappings).toString();
}

juce::Result SettingsManager::setKeyMappings (const juce::String& xml)
{
    return setValue ({}, SettingsIds::keyMappings, xml);
}

juce::StringArray SettingsManager::getRecentProjects() const
{
    juce::StringArray files;
    if (const auto* list = getValue ({}, SettingsIds::recentProjects).getArray())
        for (const auto& v : *list)
            if (v.isString() && juce::File::isAbsolutePath (v.toString()))
                files.addIfNotAlreadyThere (v.toString());
    return files;
}

juce::Result SettingsManager::addRecentProject (const juce::File& project)
{
    auto files = getRecentProjects();
    files.removeString (project.getFullPathName());
    files.insert (0, project.getFullPathName());
    files.removeRange (maxRecentProjects, files.size());
    juce::Array<juce::var> list;
    for (const auto& f : files)
        list.add (f);
    return setValue ({}, SettingsIds::recentProjects, list);
}

SettingsManager::Colours SettingsManager::getColours (const juce::Identifier& group) const
{
    return { getValue (group, SettingsIds::startHue), getValue (group, SettingsIds::endHue),
             getValue (group, SettingsIds::brightness), getValue (group, SettingsIds::contrast) };
}

juce::Result SettingsManager::setColours (const juce::Identifier& group, const Colours& colours)
{
    JUCE_ASSERT_MESSAGE_THREAD

    for (auto v : { colours.startHue, colours.endHue, colours.brightness, colours.contrast })
        if (! std::isfinite (v))
            return juce::Result::fail ("Colour settings must be finite numbers.");

    auto* object = getGroup (group);

    if (object == nullptr)
        return juce::Result::fail ("The settings have no group \"" + group.toString() + "\".");

    // One write and one notification for the four values a colour panel changes together.
    object->setProperty (SettingsIds::startHue, colours.startHue);
    object->setProperty (SettingsIds::endHue, colours.endHue);
    object->setProperty (SettingsIds::brightness, colours.brightness);
    object->setProperty (SettingsIds::contrast, colours.contrast);
    return groupChanged (group);
}

SettingsManager::Colours SettingsManager::getSpectrogramColours() const
{
    return getColours (SettingsIds::spectrogram);
}

juce::Result SettingsManager::setSpectrogramColours (const Colours& colours)
{
    return setColours (SettingsIds::spectrogram, colours);
}

int SettingsManager::getSpectrogramDynamicRange() const
{
    return getValue (SettingsIds::spectrogram, SettingsIds::dynamicRange);
}

juce::Result SettingsManager::setSpectrogramDynamicRange (int decibels)
{
    if (decibels <= 0)
        return juce::Result::fail ("The dynamic range must be above 0 dB.");

    return setValue (SettingsIds::spectrogram, SettingsIds::dynamicRange, decibels);
}

SettingsManager::Colours SettingsManager::getPitchEditorColours() const
{
    return getColours (SettingsIds::pitchEditor);
}

juce::Result SettingsManager::setPitchEditorColours (const Colours& colours)
{
    return setColours (SettingsIds::pitchEditor, colours);
}

//==============================================================================
// ListenerList's iterator links itself into the list for the length of the call and
// unlinks itself on the way out; GCC 12 mistakes that for a dangling pointer.
#if defined(__GNUC__) && ! defined(__clang__) && __GNUC__ >= 12
    #pragma GCC diagnostic push
    #pragma GCC diagnostic ignored "-Wdangling-pointer"
#endif
void SettingsManager::notifyListeners (const juce::Identifier& group, const juce::Identifier& key)
{
    listeners.call ([&] (Listener& l) { l.settingChanged (group, key); });
}
#if defined(__GNUC__) && ! defined(__clang__) && __GNUC__ >= 12
    #pragma GCC diagnostic pop
#endif

void SettingsManager::addListener (Listener* listener)
{
    JUCE_ASSERT_MESSAGE_THREAD
    listeners.add (listener);
}

void SettingsManager::removeListener (Listener* listener)
{
    JUCE_ASSERT_MESSAGE_THREAD
    listeners.remove (listener);
}

} // namespace kalder
