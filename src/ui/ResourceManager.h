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
    "horizontalArrows", "eraserCursor"). They are drawn here, white with a dark rim so
    that they show on any part of a spectrogram.

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

    /** A cursor from an image: scaled to cursorHeight pixels high, the hot spot scaled
        with it. The normal arrow for a name without an image. */
    juce::MouseCursor getCursor (const juce::String& name) const;

    static constexpr int imageSize = 48, cursorHeight = 24;

private:
    ResourceManager();

    struct Entry
    {
        juce::Image image;
        juce::Point<int> hotSpot;
    };
    std::map<juce::String, Entry> images;
};

} // namespace kalder
