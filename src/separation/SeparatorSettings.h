#pragma once

#include "ParameterCodes.h"
#include "ServiceEndpoint.h"

#include <juce_core/juce_core.h>

namespace kalder
{
class SettingsManager;
}

namespace kalder::separation
{

/** The module numbers as the settings objects give them (getModule()). */
using Module = ModuleNumber;

/** Values shared by the settings and the guided separation, so that a stored value
    compares equal to an offered one. */
namespace SeparatorValues
{
    inline const juce::String withTrack { "WithTrack" }, withVocal { "WithVocal" }, separateTrack { "SeparateTrack" },
        automatic { "Automatic" }, guided { "Guided" };
}

/**
    One parameter of a separation module: "id" (its index in the module),
    "displayName" and "value" (a string for switches and choices, an int for the pan
    source count), and a flag kept beside the properties: false only for the vocal
    module's "Stereo Smoothing", whose control the settings pages leave out of the
    separation dialog (it is a page setting, not a per-separation choice).

    Threading: message thread (it lives in the settings tree).
*/
class SeparatorParam : public juce::DynamicObject
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<SeparatorParam>;

    static Ptr getDefaultForId (int id, const juce::var& value, const juce::String& displayName, bool flag);

    int getId() const { return getProperty ("id"); }
    juce::String getDisplayName() const { return getProperty ("displayName").toString(); }
    void setDisplayName (const juce::String& name) { setProperty ("displayName", name); }
    juce::var getValue() const { return getProperty ("value"); }
    void setValue (const juce::var& v) { setProperty ("value", v); }
    bool isShownInDialog() const noexcept { return flag; }

private:
    bool flag = true;
};

/**
    The settings of one separation module: one property per parameter, named by the
    parameter's internal name and holding a SeparatorParam. The objects live in the
    settings file under "separation" (one key per module, see getModuleKey()), and
    their values travel with every separation request.

    The subclasses below are the modules' settings; each getDefault() builds one with
    every parameter at its default. A setter given a null parameter does nothing.

    Threading: message thread. A separation takes a copy of the values it sends
    (getParameterValues()) when it starts.
*/
class SeparatorSettings : public juce::DynamicObject
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<SeparatorSettings>;

    virtual Module getModule() const = 0;
    /** Display text to stored value, in the order shown; empty for an unknown id. */
    virtual juce::StringPairArray getPossibleValuesForParam (int id) const = 0;
    virtual juce::String getSeparatorName() const = 0;

    /** The parameter with that id, or null. */
    SeparatorParam* getParam (int id) const;
    /** The parameters as request bodies encode them. */
    juce::Array<ParameterInfo> getParamCodes() const { return ParameterCodes::getParamCodes ((int) getModule()); }

    /** Internal name to value, every parameter (what the start request sends). */
    juce::NamedValueSet getParameterValues() const;

    /** Sets a parameter's value by its internal name; false (and no change) when the
        module has no such parameter or does not offer the value. */
    bool setValue (const juce::String& name, const juce::var& value);

    /** The stored value's display text (its text compared with the offered values'). */
    juce::String getDisplayText (int id) const;

    /** A deep copy (a separation keeps the values it was started with). */
    Ptr makeCopy() const;

    /** The key of a module under "separation" ("vocal", "pan", ...); empty for "other". */
    static juce::Identifier getModuleKey (Module module);

    /** A new settings object of the module at its defaults; null for "other". */
    static Ptr getDefaultFor (Module module);

protected:
    void storeParam (const juce::Identifier& name, SeparatorParam* param);
};

class VocalSettings : public SeparatorSettings
{
public:
    static Ptr getDefault();
    Module getModule() const override { return Module::vocals; }
    juce::StringPairArray getPossibleValuesForParam (int id) const override;
    juce::String getSeparatorName() const override { return "Vocal"; }

    void setStereoSmoothing (SeparatorParam* p) { storeParam ("stereoSmoothing", p); }
    void setSourcePosition (SeparatorParam* p) { storeParam ("sourcePosition", p); }
    void setPanPreProcess (SeparatorParam* p) { storeParam ("panPreProcess", p); }
    void setReverbProcess (SeparatorParam* p) { storeParam ("reverbProcess", p); }
    void setMode (SeparatorParam* p) { storeParam ("mode", p); }
    void setVocalActivity (SeparatorParam* p) { storeParam ("vocalActivity", p); }
    void setSnareRemoval (SeparatorParam* p) { storeParam ("snareRemoval", p); }
    void setAdvancedFiltering (SeparatorParam* p) { storeParam ("advancedFiltering", p); }
    void setBackingTrack (SeparatorParam* p) { storeParam ("backingTrack", p); }
};

class PanSettings : public SeparatorSettings
{
public:
    static Ptr getDefault();
    Module getModule() const override { return Module::pan; }
    juce::StringPairArray getPossibleValuesForParam (int id) const override;
    juce::String getSeparatorName() const override { return "Pan"; }

    void setNSources (SeparatorParam* p) { storeParam ("nSources", p); }
    void setEqualSpacing (SeparatorParam* p) { storeParam ("equalSpacing", p); }
    void setSmear (SeparatorParam* p) { storeParam ("smear", p); }
};

class DrumSettings : public SeparatorSettings
{
public:
    static Ptr getDefault();
    Module getModule() const override { return Module::drums; }
    juce::StringPairArray getPossibleValuesForParam (int id) const override;
    juce::String getSeparatorName() const override { return "Drum"; }

    void setStereoSmoothing (SeparatorParam* p) { storeParam ("stereoSmoothing", p); }
};

class BassSettings : public SeparatorSettings
{
public:
    static Ptr getDefault();
    Module getModule() const override { return Module::bass; }
    juce::StringPairArray getPossibleValuesForParam (int) const override { return {}; }
    juce::String getSeparatorName() const override { return "Bass"; }
};

class AIVocalSettings : public SeparatorSettings
{
public:
    static Ptr getDefault();
    Module getModule() const override { return Module::allVocals; }
    juce::StringPairArray getPossibleValuesForParam (int id) const override;
    juce::String getSeparatorName() const override { return "All Vocals"; }

    void setGate (SeparatorParam* p) { storeParam ("gate", p); }
};

class FourStemSettings : public SeparatorSettings
{
public:
    static Ptr getDefault();
    Module getModule() const override { return Module::fourStems; }
    juce::StringPairArray getPossibleValuesForParam (int id) const override;
    juce::String getSeparatorName() const override { return "Four Stem"; }

    void setGate (SeparatorParam* p) { storeParam ("gate", p); }
};

/**
    The modules' settings inside the application settings ("separation").

    Threading: message thread.
*/
class SeparationSettings
{
public:
    /** Puts every module's default settings object into the "separation" group of a
        defaults tree, before the settings file is merged over it. */
    static void addDefaults (juce::var& defaults);

    /** After a load: any parameter whose value the module does not offer (a hand-edited
        or older file) goes back to its default, and ids and display names are the
        module's own. Returns the parameters it corrected ("vocal/mode", ...). */
    static juce::StringArray sanitise (SettingsManager& settings);

    /** "Reset to defaults": each module key present under "separation" (vocal, pan, drum,
        bass, allVocals, fourStem, in that order) gets its default parameter objects
        through the setters, so the stored module objects keep their identity. Nothing
        happens without a "separation" group. Saves and tells the listeners. */
    static void resetToDefaults (SettingsManager& settings);

    /** The service the user chose in the settings: "separationService" holds "remote"
        (bool) and "url"; the token is kept apart, in a file only the user can read
        (getTokenFile()). Without a remote choice, the endpoint's URL is empty. */
    static ServiceEndpoint getRemoteService (SettingsManager& settings);
    /** Stores the choice (the token only when useRemote); refuses a URL that is not allowed. */
    static juce::Result setRemoteService (SettingsManager& settings, bool useRemote, const juce::String& url,
                                          const juce::String& token);
    static bool isRemoteServiceChosen (SettingsManager& settings);
    static juce::File getTokenFile();

    /** The stored settings object of a module; a default one when the settings hold
        none; null for "other", which has no settings. */
    static SeparatorSettings::Ptr get (SettingsManager& settings, Module module);
};

} // namespace kalder::separation
