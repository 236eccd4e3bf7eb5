#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <map>

namespace kalder
{

/**
    The application's images by name, made once when first asked for: the editor tools'
    cursors and icons ("marqueeCursor", "marqueeCursorPlus", "marqueeCursorMinus",
    "magicWandCursor"..., "transientSelectCursor"..., "marqueeThresholdCursor"...,
    "zoomPlusCursor", "zoomMinusCursor", "moveCursor", "verticalArrows",
    "horizontalArrows", "eraserCursor"). They are drawn here as lines, white with a dark
    rim so that they show on any part of a spectrogram, and stored at imageSize and, under
    the name followed by the size, at twice that for 200 % displays. The separations'
    icons ("VocalSeparation", "BassSeparation", "DrumSeparation", "OtherSeparation",
    "FourstemSeparation", "PanSeparation") are drawn the same way. The quick help's
    pictures ("tutorialOpen", "tutorialLayers", "tutorialMixer", "tutorialSpectrogram")
    are pictures of the window itself, compiled in from resources/help/.

    Threading: message thread.
*/
class ResourceManager
{
public:
    static ResourceManager& getInstance();

    /** With a size above 0 the image stored as name + size, else the one stored as
        name, else an invalid image. */
    juce::Image getImage (const juce::String& name, int size = 0) const;

    /** The point of an image that a cursor made from it points with (image pixels). */
    juce::Point<int> getHotSpot (const juce::String& name) const;

    /** Draws a drawing as lines, at any size and display scale (crisp at each), centred
        in area; false for a name without a drawing. */
    bool drawIcon (juce::Graphics&, const juce::String& name, juce::Rectangle<float> area) const;

    /** A cursor cursorHeight logical pixels high, drawn for a display of this scale (the
        hot spot scaled with it). The normal arrow for a name without a drawing. */
    juce::MouseCursor getCursor (const juce::String& name, float displayScale = 1.0f) const;

    static constexpr int imageSize = 48, cursorHeight = 24;

private:
    ResourceManager();

    struct Entry
    {
        juce::Image image;
        juce::Point<int> hotSpot;
    };
    void add (const juce::String& name, juce::Path strokesOnGrid, juce::Point<int> hotSpot);

    mutable std::map<juce::String, Entry> images; // 200 % drawings and pictures: made when first asked for
    std::map<juce::String, juce::Path> paths;     // the drawings, on an imageSize grid
};

} // namespace kalder
