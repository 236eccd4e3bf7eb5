#include "SpectrogramSettings.h"

#include <cmath>

namespace kalder
{

namespace
{
    double clampedOr (const juce::var& v, double fallback, double low, double high)
    {
        if (! (v.isDouble() || v.isInt() || v.isInt64() || v.isBool()))
            return fallback;
        const auto d = (double) v;
        return std::isfinite (d) ? juce::jlimit (low, high, d) : fallback;
    }

    SpectrogramSettings read (const std::function<juce::var (const juce::Identifier&, const juce::Identifier&)>& get)
    {
        using S = SpectrogramSettings;
        S s;
        s.startHue = clampedOr (get ("startHue", EditorIds::startHue), S::defaultStartHue, S::minHue, S::maxHue);
        s.endHue = clampedOr (get ("endHue", EditorIds::endHue), S::defaultEndHue, S::minHue, S::maxHue);
        s.brightness = clampedOr (get ("brightness", EditorIds::brightness), S::defaultBrightness, 0.0, 1.0);
        s.contrast = clampedOr (get ("contrast", EditorIds::contrast), S::defaultContrast, 0.0, 1.0);
        s.dynamicRange = (int) std::lround (clampedOr (get ("dynamicRange", EditorIds::dynamicRange), S::defaultDynamicRange,
                                                       S::minDynamicRange, S::maxDynamicRange));
        return s;
    }
} // namespace

juce::DynamicObject::Ptr SpectrogramSettings::getDefault()
{
    juce::DynamicObject::Ptr o (new juce::DynamicObject());
    o->setProperty ("startHue", defaultStartHue);
    o->setProperty ("endHue", defaultEndHue);
    o->setProperty ("brightness", defaultBrightness);
    o->setProperty ("contrast", defaultContrast);
    o->setProperty ("dynamicRange", defaultDynamicRange);
    return o;
}

SpectrogramSettings SpectrogramSettings::fromObject (const juce::var& settingsObject)
{
    return read ([&] (const juce::Identifier& key, const juce::Identifier&) { return settingsObject.getProperty (key, {}); });
}

SpectrogramSettings SpectrogramSettings::fromEditorNode (const juce::ValueTree& node)
{
    return read ([&] (const juce::Identifier&, const juce::Identifier& id) { return node.getProperty (id); });
}

void SpectrogramSettings::writeTo (juce::ValueTree& node, juce::UndoManager* undo) const
{
    node.setProperty (EditorIds::startHue, startHue, undo);
    node.setProperty (EditorIds::endHue, endHue, undo);
    node.setProperty (EditorIds::brightness, brightness, undo);
    node.setProperty (EditorIds::contrast, contrast, undo);
    node.setProperty (EditorIds::dynamicRange, dynamicRange, undo);
}

bool SpectrogramSettings::isColourProperty (const juce::Identifier& p)
{
    return p == EditorIds::startHue || p == EditorIds::endHue || p == EditorIds::brightness || p == EditorIds::contrast
           || p == EditorIds::dynamicRange;
}

bool SpectrogramSettings::operator== (const SpectrogramSettings& o) const
{
    return startHue == o.startHue && endHue == o.endHue && brightness == o.brightness && contrast == o.contrast
           && dynamicRange == o.dynamicRange;
}

} // namespace kalder
