#include "EngineParameters.h"

namespace kalder::service
{

EngineParameters::EngineParameters (const SeparationSpec& s) : spec (s) {}

juce::String EngineParameters::getChoice (const juce::Identifier& name, const juce::String& defaultValue,
                                          const juce::StringArray& allowed)
{
    const auto* v = spec.parameters.getVarPointer (name);
    if (v == nullptr)
        return defaultValue;
    const auto text = v->toString();
    if (allowed.contains (text))
        return text;
    if (result.wasOk())
        result = juce::Result::fail ("Invalid value \"" + text + "\" for the parameter " + name.toString());
    return defaultValue;
}

bool EngineParameters::getSwitch (const juce::Identifier& name, bool defaultValue)
{
    const auto* v = spec.parameters.getVarPointer (name);
    if (v == nullptr)
        return defaultValue;
    if (v->isBool())
        return (bool) *v;
    const auto text = getChoice (name, defaultValue ? "On" : "Off", { "On", "Off", "true", "false" });
    return text == "On" || text == "true";
}

int EngineParameters::getInt (const juce::Identifier& name, int defaultValue, int minValue, int maxValue)
{
    const auto* v = spec.parameters.getVarPointer (name);
    if (v == nullptr)
        return defaultValue;
    const auto text = v->toString().trim();
    const auto isNumber = v->isInt() || v->isInt64() || (text.isNotEmpty() && text.containsOnly ("0123456789-"));
    const auto value = v->isInt() || v->isInt64() ? (int) *v : text.getIntValue();
    if (isNumber && value >= minValue && value <= maxValue)
        return value;
    if (result.wasOk())
        result = juce::Result::fail ("Invalid value \"" + text + "\" for the parameter " + name.toString() + " ("
                                     + juce::String (minValue) + " to " + juce::String (maxValue) + ")");
    return defaultValue;
}

float EngineParameters::getNumber (const juce::Identifier& name, float defaultValue, float minValue, float maxValue)
{
    const auto* v = spec.parameters.getVarPointer (name);
    if (v == nullptr)
        return defaultValue;
    const auto text = v->toString().trim();
    const auto isNumber = v->isDouble() || v->isInt() || (text.isNotEmpty() && text.containsOnly ("0123456789.-"));
    const auto value = (float) (v->isDouble() || v->isInt() ? (double) *v : text.getDoubleValue());
    if (isNumber && value >= minValue && value <= maxValue)
        return value;
    if (result.wasOk())
        result = juce::Result::fail ("Invalid value \"" + text + "\" for the parameter " + name.toString());
    return defaultValue;
}

} // namespace kalder::service
