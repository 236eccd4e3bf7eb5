#include "EditorToolParam.h"

#include <cmath>
#include <optional>

namespace kalder
{

EditorToolParam::EditorToolParam (juce::String n, InputType t, juce::var init, juce::Range<double> r, double s,
                                  juce::Array<juce::var> o)
    : name (std::move (n)), type (t), initial (std::move (init)), range (r), step (juce::jmax (0.0, s)), options (std::move (o))
{
    value = initial;
}

double EditorToolParam::clampNumber (double v) const
{
    if (! std::isfinite (v))
        v = (double) initial;
    if (step > 0.0)
        v = range.getStart() + std::round ((v - range.getStart()) / step) * step;
    return range.isEmpty() ? v : juce::jlimit (range.getStart(), range.getEnd(), v);
}

namespace
{
    /** A number given as a number or as text; nothing for anything else. */
    std::optional<double> numberIn (const juce::var& v)
    {
        if (v.isString())
        {
            const auto text = v.toString().trim();
            if (text.isEmpty() || ! text.containsOnly ("0123456789.-+eE"))
                return std::nullopt;
            return text.getDoubleValue();
        }
        if (v.isDouble() || v.isInt() || v.isInt64() || v.isBool())
            return (double) v;
        return std::nullopt;
    }
} // namespace

double EditorToolParam::getDouble() const
{
    return clampNumber (numberIn (value.getValue()).value_or ((double) initial));
}

void EditorToolParam::setValue (const juce::var& newValue)
{
    if (type == InputType::toggle)
        value = (bool) newValue;
    else if (type == InputType::comboBox)
    {
        // The option with the same text, or nothing changes.
        for (const auto& o : options)
            if (o.toString() == newValue.toString())
            {
                value = o;
                return;
            }
    }
    else if (const auto number = numberIn (newValue))
        value = clampNumber (*number);
}

} // namespace kalder
