#pragma once

#include <juce_data_structures/juce_data_structures.h>

namespace kalder
{

/**
    One parameter of an editor tool, shown in the parameter bar: a name, the value (a
    juce::Value, so an input component can refer to it), the range and step of a number,
    the options of a choice, and the kind of input the bar shows.

    Numbers are clamped to the range when set, and read back clamped, so a value typed
    into a text box can never take a tool outside its limits.

    Threading: message thread (tools copy the values they hand to background jobs).
*/
class EditorToolParam : public juce::ReferenceCountedObject
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<EditorToolParam>;

    enum class InputType
    {
        textBox = 0,  // the text becomes the value on every change
        comboBox = 1, // one of the options
        slider = 2,
        toggle = 3
    };

    /** A number in [range] with a step (0: any), or a toggle (range ignored). */
    EditorToolParam (juce::String name, InputType type, juce::var initial, juce::Range<double> range = {}, double step = 0.0,
                     juce::Array<juce::var> options = {});

    const juce::String& getName() const noexcept { return name; }
    InputType getInputType() const noexcept { return type; }
    juce::Range<double> getRange() const noexcept { return range; }
    double getStep() const noexcept { return step; }
    const juce::Array<juce::var>& getOptions() const noexcept { return options; }

    juce::Value& getValueObject() noexcept { return value; }
    juce::var getValue() const { return value.getValue(); }

    /** The value as a number, clamped to the range (the default when it is not one). */
    double getDouble() const;
    int getInt() const { return juce::roundToInt (getDouble()); }
    bool getBool() const { return (bool) value.getValue(); }

    /** Stores a value (numbers clamped and snapped to the step); listeners of the value
        are told. */
    void setValue (const juce::var& newValue);

    bool isEnabled() const noexcept { return enabled; }
    void setEnabled (bool shouldBeEnabled) noexcept { enabled = shouldBeEnabled; }

private:
    double clampNumber (double v) const;

    const juce::String name;
    const InputType type;
    const juce::var initial;
    const juce::Range<double> range;
    const double step;
    const juce::Array<juce::var> options;
    juce::Value value;
    bool enabled = true;
};

} // namespace kalder
