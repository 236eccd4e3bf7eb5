#include "SeparatorSettings.h"

#include "appcore/DirectoryManager.h"
#include "appcore/SettingsManager.h"

#include <sys/stat.h>

namespace kalder::separation
{

namespace
{
    using Pairs = std::initializer_list<std::pair<const char*, const char*>>;

    juce::StringPairArray makePairs (Pairs pairs)
    {
        juce::StringPairArray result;
        for (const auto& [text, value] : pairs)
            result.set (text, value);
        return result;
    }

    const Pairs onOff { { "On", "On" }, { "Off", "Off" } };
    const Pairs gateOnOff { { "On", "true" }, { "Off", "false" } };

    /** The modules with settings, in the order "reset to defaults" visits them. */
    constexpr Module resetOrder[] = { Module::vocals, Module::pan,       Module::drums,
                                      Module::bass,   Module::allVocals, Module::fourStems };

    const juce::Identifier serviceGroup { "separationService" }, remoteKey { "remote" }, urlKey { "url" };

    juce::DynamicObject* getSeparationGroup (SettingsManager& settings)
    {
        return settings.getGroup (SettingsIds::separation);
    }
} // namespace

//==============================================================================
SeparatorParam::Ptr SeparatorParam::getDefaultForId (int id, const juce::var& value, const juce::String& displayName, bool flag)
{
    Ptr p (new SeparatorParam());
    p->setProperty ("id", id);
    p->setDisplayName (displayName);
    p->setProperty ("value", value);
    p->flag = flag;
    return p;
}

//==============================================================================
SeparatorParam* SeparatorSettings::getParam (int id) const
{
    for (const auto& property : const_cast<SeparatorSettings*> (this)->getProperties())
        if (auto* p = dynamic_cast<SeparatorParam*> (property.value.getDynamicObject()); p != nullptr && p->getId() == id)
            return p;
    return nullptr;
}

juce::NamedValueSet SeparatorSettings::getParameterValues() const
{
    juce::NamedValueSet values;
    for (const auto& info : getParamCodes())
        if (auto* p = getParam (info.id))
            values.set (info.name, p->getValue());
    return values;
}

bool SeparatorSettings::setValue (const juce::String& name, const juce::var& value)
{
    const auto info = ParameterCodes::findByName ((int) getModule(), name);
    if (! info.has_value())
        return false;
    const auto normalised = ParameterCodes::normaliseValue (*info, value);
    auto* p = getParam (info->id);
    if (! normalised.has_value() || p == nullptr)
        return false;
    p->setValue (*normalised);
    return true;
}

juce::String SeparatorSettings::getDisplayText (int id) const
{
    const auto* p = getParam (id);
    if (p == nullptr)
        return {};
    const auto stored = p->getValue().toString();
    const auto pairs = getPossibleValuesForParam (id);
    for (const auto& text : pairs.getAllKeys())
        if (pairs[text] == stored)
            return text;
    return stored;
}

SeparatorSettings::Ptr SeparatorSettings::makeCopy() const
{
    auto copy = getDefaultFor (getModule());
    if (copy != nullptr)
        for (const auto& info : getParamCodes())
            if (auto* p = getParam (info.id))
                copy->setValue (info.name, p->getValue());
    return copy;
}

juce::Identifier SeparatorSettings::getModuleKey (Module module)
{
    switch (module)
    {
        case Module::vocals:
            return SettingsIds::vocalModule;
        case Module::pan:
            return SettingsIds::panModule;
        case Module::drums:
            return SettingsIds::drumModule;
        case Module::bass:
            return SettingsIds::bassModule;
        case Module::allVocals:
            return SettingsIds::allVocalsModule;
        case Module::fourStems:
            return SettingsIds::fourStemModule;
        case Module::other:
        default:
            return {};
    }
}

SeparatorSettings::Ptr SeparatorSettings::getDefaultFor (Module module)
{
    switch (module)
    {
        case Module::vocals:
            return VocalSettings::getDefault();
        case Module::pan:
            return PanSettings::getDefault();
        case Module::drums:
            return DrumSettings::getDefault();
        case Module::bass:
            return BassSettings::getDefault();
        case Module::allVocals:
            return AIVocalSettings::getDefault();
        case Module::fourStems:
            return FourStemSettings::getDefault();
        case Module::other:
        default:
            return nullptr;
    }
}

void SeparatorSettings::storeParam (const juce::Identifier& name, SeparatorParam* param)
{
    if (param != nullptr)
        setProperty (name, juce::var (param));
}

//==============================================================================
SeparatorSettings::Ptr VocalSettings::getDefault()
{
    auto* s = new VocalSettings();
    Ptr result (s);
    s->setStereoSmoothing (SeparatorParam::getDefaultForId (0, "On", "Stereo Smoothing", false).get());
    s->setSourcePosition (SeparatorParam::getDefaultForId (1, 1, "Source Position", true).get());
    s->setPanPreProcess (SeparatorParam::getDefaultForId (2, "On", "Vocal Width", true).get());
    s->setReverbProcess (SeparatorParam::getDefaultForId (3, SeparatorValues::withVocal, "Vocal Reverb Extraction", true).get());
    s->setMode (SeparatorParam::getDefaultForId (4, SeparatorValues::automatic, "Vocal Guide Mode", true).get());
    s->setVocalActivity (SeparatorParam::getDefaultForId (5, "0.0", "Vocal Detection Sensitivity", true).get());
    s->setSnareRemoval (SeparatorParam::getDefaultForId (6, "Off", "Snare Reduction", true).get());
    s->setAdvancedFiltering (SeparatorParam::getDefaultForId (7, "On", "Advanced Filtering", true).get());
    s->setBackingTrack (SeparatorParam::getDefaultForId (8, "On", "Backing Track", true).get());
    return result;
}

juce::StringPairArray VocalSettings::getPossibleValuesForParam (int id) const
{
    switch (id)
    {
        case 0:
        case 6:
        case 7:
        case 8:
            return makePairs (onOff);
        case 1:
            return makePairs ({ { "Left", "0" }, { "Center", "1" }, { "Right", "2" } });
        case 2:
            return makePairs ({ { "Narrow", "On" }, { "Wide", "Off" } });
        case 3:
            return makePairs ({ { "None", "WithTrack" }, { "With Vocal", "WithVocal" }, { "Separate Track", "SeparateTrack" } });
        case 4:
            return makePairs ({ { "Automatic", "Automatic" }, { "Guided", "Guided" } });
        case 5:
            return makePairs ({ { "High", "0.7" }, { "Medium", "0.5" }, { "Low", "0.3" }, { "No Vocal Detection", "0.0" } });
        default:
            return {};
    }
}

SeparatorSettings::Ptr PanSettings::getDefault()
{
    auto* s = new PanSettings();
    Ptr result (s);
    s->setNSources (SeparatorParam::getDefaultForId (0, 3, "Number Of Sources", true).get());
    s->setEqualSpacing (SeparatorParam::getDefaultForId (1, "On", "Equal Spacing", true).get());
    s->setSmear (SeparatorParam::getDefaultForId (2, "Off", "Smear", true).get());
    return result;
}

juce::StringPairArray PanSettings::getPossibleValuesForParam (int id) const
{
    if (id == 0)
        return makePairs ({ { "3", "3" }, { "4", "4" }, { "5", "5" }, { "6", "6" }, { "7", "7" } });
    if (id == 1 || id == 2)
        return makePairs (onOff);
    return {};
}

SeparatorSettings::Ptr DrumSettings::getDefault()
{
    auto* s = new DrumSettings();
    Ptr result (s);
    s->setStereoSmoothing (SeparatorParam::getDefaultForId (0, "On", "Stereo Smoothing", true).get());
    return result;
}

juce::StringPairArray DrumSettings::getPossibleValuesForParam (int id) const
{
    return id == 0 ? makePairs (onOff) : juce::StringPairArray();
}

SeparatorSettings::Ptr BassSettings::getDefault()
{
    return new BassSettings();
}

SeparatorSettings::Ptr AIVocalSettings::getDefault()
{
    auto* s = new AIVocalSettings();
    Ptr result (s);
    s->setGate (SeparatorParam::getDefaultForId (0, "true", "Noise Gate", true).get());
    return result;
}

juce::StringPairArray AIVocalSettings::getPossibleValuesForParam (int id) const
{
    return id == 0 ? makePairs (gateOnOff) : juce::StringPairArray();
}

SeparatorSettings::Ptr FourStemSettings::getDefault()
{
    auto* s = new FourStemSettings();
    Ptr result (s);
    s->setGate (SeparatorParam::getDefaultForId (0, "true", "Vocal Noise Gate", true).get());
    return result;
}

juce::StringPairArray FourStemSettings::getPossibleValuesForParam (int id) const
{
    return id == 0 ? makePairs (gateOnOff) : juce::StringPairArray();
}

//==============================================================================
void SeparationSettings::addDefaults (juce::var& defaults)
{
    auto* root = defaults.getDynamicObject();
    if (root == nullptr)
        return;
    auto* group = root->getProperty (SettingsIds::separation).getDynamicObject();
    if (group == nullptr)
    {
        root->setProperty (SettingsIds::separation, new juce::DynamicObject());
        group = root->getProperty (SettingsIds::separation).getDynamicObject();
    }
    for (auto module : resetOrder)
        group->setProperty (SeparatorSettings::getModuleKey (module),
                            juce::var (SeparatorSettings::getDefaultFor (module).get()));

    auto* service = new juce::DynamicObject();
    service->setProperty (remoteKey, false);
    service->setProperty (urlKey, juce::String());
    root->setProperty (serviceGroup, juce::var (service));
}

juce::File SeparationSettings::getTokenFile()
{
    return DirectoryManager::getUserAppDataDir().getChildFile ("separation-service-token");
}

bool SeparationSettings::isRemoteServiceChosen (SettingsManager& settings)
{
    auto* group = settings.getGroup (serviceGroup);
    return group != nullptr && (bool) group->getProperty (remoteKey);
}

ServiceEndpoint SeparationSettings::getRemoteService (SettingsManager& settings)
{
    ServiceEndpoint e;
    auto* group = settings.getGroup (serviceGroup);
    if (group == nullptr || ! (bool) group->getProperty (remoteKey))
        return e;
    e.baseUrl = group->getProperty (urlKey).toString();
    e.token = getTokenFile().loadFileAsString().trim();
    return e;
}

juce::Result SeparationSettings::setRemoteService (SettingsManager& settings, bool useRemote, const juce::String& url,
                                                   const juce::String& token)
{
    auto* group = settings.getGroup (serviceGroup);
    if (group == nullptr)
        return juce::Result::fail ("The settings have no place for the separation service");
    if (useRemote)
    {
        if (auto r = ServiceEndpoint::check (ServiceEndpoint::normalise (url)); r.failed())
            return r;
        if (token.trim().isEmpty())
            return juce::Result::fail ("Give the access token of the separation service");
        const auto file = getTokenFile();
        juce::TemporaryFile temp (file);
        // Only the user may read it, from its first byte on.
        bool written = temp.getFile().create().wasOk() && ::chmod (temp.getFile().getFullPathName().toRawUTF8(), 0600) == 0;
        if (written)
        {
            juce::FileOutputStream out (temp.getFile());
            written = out.openedOk() && out.writeText (token.trim(), false, false, nullptr);
            out.flush();
            written = written && out.getStatus().wasOk();
        }
        if (! written || ! temp.overwriteTargetFileWithTemporary())
            return juce::Result::fail ("Cannot store the token in " + file.getFullPathName());
    }
    group->setProperty (remoteKey, useRemote);
    group->setProperty (urlKey, useRemote ? ServiceEndpoint::normalise (url) : juce::String());
    return settings.groupChanged (serviceGroup);
}

juce::StringArray SeparationSettings::sanitise (SettingsManager& settings)
{
    juce::StringArray corrected;
    auto* group = getSeparationGroup (settings);
    if (group == nullptr)
        return corrected;

    for (auto module : resetOrder)
    {
        const auto key = SeparatorSettings::getModuleKey (module);
        auto* stored = dynamic_cast<SeparatorSettings*> (group->getProperty (key).getDynamicObject());
        if (stored == nullptr)
        {
            // The file replaced the object with something else: the defaults come back.
            if (group->hasProperty (key))
                corrected.add (key.toString());
            group->setProperty (key, juce::var (SeparatorSettings::getDefaultFor (module).get()));
            continue;
        }
        const auto defaults = SeparatorSettings::getDefaultFor (module);
        for (const auto& info : stored->getParamCodes())
        {
            auto* param = stored->getParam (info.id);
            auto* fallback = defaults->getParam (info.id);
            const auto value = param != nullptr ? ParameterCodes::normaliseValue (info, param->getValue()) : std::nullopt;
            if (param == nullptr || ! value.has_value())
            {
                corrected.add (key + "/" + info.name);
                stored->setProperty (info.name, juce::var (fallback));
                continue;
            }
            // The name and id are the module's, whatever the file says; the value keeps the stored type.
            param->setProperty ("id", info.id);
            param->setDisplayName (fallback->getDisplayName());
            param->setValue (info.kind == ParameterInfo::Kind::integer ? *value : juce::var (value->toString()));
        }
    }
    return corrected;
}

void SeparationSettings::resetToDefaults (SettingsManager& settings)
{
    auto* group = getSeparationGroup (settings);
    if (group == nullptr)
        return;

    for (auto module : resetOrder)
    {
        const auto key = SeparatorSettings::getModuleKey (module);
        auto* stored = dynamic_cast<SeparatorSettings*> (group->getProperty (key).getDynamicObject());
        if (stored == nullptr)
            continue;
        const auto defaults = SeparatorSettings::getDefaultFor (module);
        for (const auto& info : defaults->getParamCodes())
            if (auto* p = defaults->getParam (info.id))
                stored->setProperty (info.name, juce::var (p));
    }
    settings.groupChanged (SettingsIds::separation);
}

SeparatorSettings::Ptr SeparationSettings::get (SettingsManager& settings, Module module)
{
    if (auto* group = getSeparationGroup (settings))
        if (auto* stored = dynamic_cast<SeparatorSettings*> (
                group->getProperty (SeparatorSettings::getModuleKey (module)).getDynamicObject()))
            return stored;
    return SeparatorSettings::getDefaultFor (module);
}

} // namespace kalder::separation
