#include "ParameterCodes.h"

namespace kalder::separation
{

namespace
{
    constexpr int codesPerModule = 16;

    ParameterInfo makeChoice (int module, int id, const char* name, const char* defaultValue, juce::StringArray offered)
    {
        ParameterInfo info;
        info.code = module * codesPerModule + id;
        info.id = id;
        info.name = name;
        info.kind = ParameterInfo::Kind::choice;
        info.defaultValue = juce::String (defaultValue);
        info.offeredValues = std::move (offered);
        return info;
    }

    ParameterInfo makeInteger (int module, int id, const char* name, int defaultValue, int minimum, int maximum)
    {
        ParameterInfo info;
        info.code = module * codesPerModule + id;
        info.id = id;
        info.name = name;
        info.kind = ParameterInfo::Kind::integer;
        info.defaultValue = defaultValue;
        info.minimum = minimum;
        info.maximum = maximum;
        for (int v = minimum; v <= maximum; ++v)
            info.offeredValues.add (juce::String (v));
        return info;
    }

    const juce::StringArray onOff { "On", "Off" };
    const juce::StringArray trueFalse { "true", "false" };

    std::optional<juce::String> textOf (const juce::var& value)
    {
        if (value.isString())
            return value.toString();
        if (value.isBool())
            return juce::String (static_cast<bool> (value) ? "true" : "false");
        if (value.isInt() || value.isInt64())
            return juce::String (static_cast<juce::int64> (value));
        if (value.isDouble())
        {
            const auto d = static_cast<double> (value);
            if (! std::isfinite (d))
                return std::nullopt;
            // "0.5" and "0.0" are how the vocal sensitivity is offered.
            return juce::String (d, 1);
        }
        return std::nullopt;
    }
} // namespace

bool ParameterCodes::isKnownModule (int module)
{
    return module == 0 || module == 1 || module == 2 || module == 3 || module == 5 || module == 6 || module == 7;
}

juce::String ParameterCodes::getModuleName (int module)
{
    switch (module)
    {
        case 0:
            return "Drum";
        case 1:
            return "Vocal";
        case 2:
            return "Pan";
        case 3:
            return "Other";
        case 5:
            return "Bass";
        case 6:
            return "All Vocals";
        case 7:
            return "Four Stem";
        default:
            return {};
    }
}

juce::Array<ParameterInfo> ParameterCodes::getParamCodes (int module)
{
    juce::Array<ParameterInfo> params;

    switch (static_cast<ModuleNumber> (module))
    {
        case ModuleNumber::drums:
            params.add (makeChoice (module, 0, "stereoSmoothing", "On", onOff));
            break;
        case ModuleNumber::vocals:
            params.add (makeChoice (module, 0, "stereoSmoothing", "On", onOff));
            params.add (makeInteger (module, 1, "sourcePosition", 1, 0, 2));
            params.add (makeChoice (module, 2, "panPreProcess", "On", onOff));
            params.add (makeChoice (module, 3, "reverbProcess", "WithVocal", { "WithTrack", "WithVocal", "SeparateTrack" }));
            params.add (makeChoice (module, 4, "mode", "Automatic", { "Automatic", "Guided" }));
            params.add (makeChoice (module, 5, "vocalActivity", "0.0", { "0.7", "0.5", "0.3", "0.0" }));
            params.add (makeChoice (module, 6, "snareRemoval", "Off", onOff));
            params.add (makeChoice (module, 7, "advancedFiltering", "On", onOff));
            params.add (makeChoice (module, 8, "backingTrack", "On", onOff));
            break;
        case ModuleNumber::pan:
            params.add (makeInteger (module, 0, "nSources", 3, 3, 7));
            params.add (makeChoice (module, 1, "equalSpacing", "On", onOff));
            params.add (makeChoice (module, 2, "smear", "Off", onOff));
            break;
        case ModuleNumber::allVocals:
        case ModuleNumber::fourStems:
            params.add (makeChoice (module, 0, "gate", "true", trueFalse));
            break;
        case ModuleNumber::other:
        case ModuleNumber::bass:
        default:
            break;
    }

    return params;
}

std::optional<ParameterInfo> ParameterCodes::findByCode (int module, int code)
{
    for (const auto& p : getParamCodes (module))
        if (p.code == code)
            return p;
    return std::nullopt;
}

std::optional<ParameterInfo> ParameterCodes::findByName (int module, const juce::String& name)
{
    for (const auto& p : getParamCodes (module))
        if (p.name == name)
            return p;
    return std::nullopt;
}

std::optional<juce::var> ParameterCodes::normaliseValue (const ParameterInfo& info, const juce::var& value)
{
    if (info.kind == ParameterInfo::Kind::integer)
    {
        if (value.isDouble() || value.isBool())
            return std::nullopt;

        const auto text = textOf (value);
        if (! text.has_value())
            return std::nullopt;

        const auto trimmed = text->trim();
        if (trimmed.isEmpty() || trimmed.length() > 3 || ! trimmed.containsOnly ("0123456789"))
            return std::nullopt;

        const auto number = trimmed.getIntValue();
        if (number < info.minimum || number > info.maximum)
            return std::nullopt;
        return juce::var (number);
    }

    const auto text = textOf (value);
    if (! text.has_value() || ! info.offeredValues.contains (*text))
        return std::nullopt;
    return juce::var (*text);
}

juce::NamedValueSet ParameterCodes::getDefaults (int module)
{
    juce::NamedValueSet defaults;
    for (const auto& p : getParamCodes (module))
        defaults.set (p.name, p.defaultValue);
    return defaults;
}

} // namespace kalder::separation
