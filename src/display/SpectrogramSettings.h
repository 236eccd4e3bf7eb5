#pragma once

#include <juce_data_structures/juce_data_structures.h>

namespace kalder
{

/** The properties of an editor node that colour its image. */
namespace EditorIds
{
    inline const juce::Identifier type { "EditorType" };
    inline const juce::Identifier startHue { "EditorHue1" };
    inline const juce::Identifier endHue { "EditorHue2" };
    inline const juce::Identifier brightness { "EditorBrightness" };
    inline const juce::Identifier contrast { "EditorContrast" };
    inline const juce::Identifier dynamicRange { "EditorDynRange" };
} // namespace EditorIds

/**
    How a spectrogram turns levels into colours: the hues of the quietest and the
    loudest level shown, brightness and contrast, and the span of levels shown.

    The same five values live in the settings file (group "spectrogram", with the keys
    "startHue", "endHue", "brightness", "contrast", "dynamicRange") and on every editor
    node (EditorIds). Read from either, every value is clamped to its range and a value
    that is missing or not a finite number takes its default, so a damaged settings
    file or project never gives a broken image.
*/
struct SpectrogramSettings
{
    static constexpr double defaultStartHue = 0.3315, defaultEndHue = 1.024;
    static constexpr double defaultBrightness = 0.4588, defaultContrast = 0.7635;
    static constexpr int defaultDynamicRange = 90;

    /** Hues are turns of the colour circle; the slider spans 0.2 .. 1.1, stored values
        may reach a turn either side. */
    static constexpr double minHue = -1.0, maxHue = 2.0;
    static constexpr int minDynamicRange = 1, maxDynamicRange = 200;

    double startHue = defaultStartHue, endHue = defaultEndHue;
    double brightness = defaultBrightness, contrast = defaultContrast;
    int dynamicRange = defaultDynamicRange;

    /** The defaults as a settings object (the keys of the settings file). */
    static juce::DynamicObject::Ptr getDefault();

    /** From a settings object or from an editor node (its EditorIds properties). */
    static SpectrogramSettings fromObject (const juce::var& settingsObject);
    static SpectrogramSettings fromEditorNode (const juce::ValueTree& node);

    /** Writes the five values onto an editor node. */
    void writeTo (juce::ValueTree& node, juce::UndoManager* undo = nullptr) const;

    /** Whether a property of an editor node is one of the colour properties. */
    static bool isColourProperty (const juce::Identifier& property);

    bool operator== (const SpectrogramSettings& other) const;
    bool operator!= (const SpectrogramSettings& other) const { return ! operator== (other); }
};

} // namespace kalder
