#pragma once

#include "SeparationEngine.h"

namespace kalder::service
{

/**
    Reads a module's parameters from a SeparationSpec and checks them against the
    values the application offers. A parameter that is absent takes the application's
    default; one that is present with a value the module does not offer makes the
    separation fail with a message naming it, so that a wrong request never separates
    silently with other settings.

    Threading: a value type, used on the job's thread.
*/
class EngineParameters
{
public:
    explicit EngineParameters (const SeparationSpec& spec);

    /** The value of a choice parameter; it must be one of allowed (compared as text). */
    juce::String getChoice (const juce::Identifier& name, const juce::String& defaultValue, const juce::StringArray& allowed);

    /** An "On"/"Off" switch (also accepts "true"/"false", used by the gates). */
    bool getSwitch (const juce::Identifier& name, bool defaultValue);

    /** An integer (stored as an int, or as its text) within [minValue, maxValue]. */
    int getInt (const juce::Identifier& name, int defaultValue, int minValue, int maxValue);

    /** A number given as text ("0.5"), within [minValue, maxValue]. */
    float getNumber (const juce::Identifier& name, float defaultValue, float minValue, float maxValue);

    /** Fails with the first bad parameter met so far. */
    juce::Result getResult() const { return result; }

private:
    const SeparationSpec& spec;
    juce::Result result = juce::Result::ok();
};

} // namespace kalder::service
