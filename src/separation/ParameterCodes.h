#pragma once

#include <juce_core/juce_core.h>

#include <optional>

namespace kalder::separation
{

/** The module numbers that request files and start requests carry. */
enum class ModuleNumber
{
    drums = 0,
    vocals = 1,
    pan = 2,
    other = 3,
    bass = 5,
    allVocals = 6,
    fourStems = 7
};

/** One parameter of one module, as the request file and the start request name it. */
struct ParameterInfo
{
    enum class Kind
    {
        choice, // a string, one of offeredValues
        integer // an int between minimum and maximum (also accepted as its decimal text)
    };

    int code = 0;             // the parameter's code in request files
    int id = 0;               // its index within its module
    juce::String name;        // the internal name ("nSources", "mode", ...)
    Kind kind = Kind::choice; //
    juce::var defaultValue;   // as the application stores it
    juce::StringArray offeredValues;
    int minimum = 0, maximum = 0;
};

/**
    The parameter table of every separation module: internal names, codes, defaults
    and the values each parameter accepts.

    A parameter's code is module * 16 + id, so codes are unique across modules and a
    code says which module it belongs to. Code 256 carries the vocal pitch guide, the
    only parameter that is data rather than a value.

    Threading: stateless; every function may be called from any thread.
*/
class ParameterCodes
{
public:
    /** The code of the pitch guide record in request files. */
    static constexpr int pitchGuideCode = 256;

    /** True for the module numbers a separation may ask for. */
    static bool isKnownModule (int module);

    /** The module's display name ("Vocal", "Pan", ...), empty for an unknown module. */
    static juce::String getModuleName (int module);

    /** Every parameter of a module in id order; empty for bass, "other" and unknown modules. */
    static juce::Array<ParameterInfo> getParamCodes (int module);

    static std::optional<ParameterInfo> findByCode (int module, int code);
    static std::optional<ParameterInfo> findByName (int module, const juce::String& name);

    /** Checks a value sent for a parameter and returns it in the form the engines read:
        an int for integer parameters, the offered string for choices. Numbers and
        booleans sent for a choice are compared by their text ("0.5", "true").
        Returns nullopt when the value is not accepted. */
    static std::optional<juce::var> normaliseValue (const ParameterInfo& info, const juce::var& value);

    /** Every parameter of the module at its default, by internal name. */
    static juce::NamedValueSet getDefaults (int module);
};

} // namespace kalder::separation
