#include "ResourceManager.h"

// The help's pictures, taken from the window (resources/help/), compiled in by
// kalder_embed_files (cmake/KalderEmbed.cmake).
namespace kalder::EmbeddedResources
{
extern const unsigned char tutorialOpenPng[], tutorialLayersPng[], tutorialMixerPng[], tutorialSpectrogramPng[];
extern const int tutorialOpenPngSize, tutorialLayersPngSize, tutorialMixerPngSize, tutorialSpectrogramPngSize;
} // namespace kalder::EmbeddedResources

namespace kalder
{

namespace
{
    constexpr float s = (float) ResourceManager::imageSize;
    const juce::Point<float> pointer { 8.0f, 8.0f }; // where the selection cursors point

    enum class Mark
    {
        none,
        plus,
        minus
    };

    /** The strokes of one drawing on the imageSize grid: its shape, the selection
        pointer and the plus or minus mark. */
    juce::Path strokes (const std::function<void (juce::Path&)>& shape, Mark mark, bool withPointer)
    {
        juce::Path p;
        shape (p);
        if (withPointer)
        {
            p.startNewSubPath (pointer.x - 7.0f, pointer.y);
            p.lineTo (pointer.x + 7.0f, pointer.y);
            p.startNewSubPath (pointer.x, pointer.y - 7.0f);
            p.lineTo (pointer.x, pointer.y + 7.0f);
        }
        if (mark != Mark::none)
        {
            const juce::Point<float> c (s - 9.0f, s - 9.0f);
            p.startNewSubPath (c.x - 6.0f, c.y);
            p.lineTo (c.x + 6.0f, c.y);
            if (mark == Mark::plus)
            {
                p.startNewSubPath (c.x, c.y - 6.0f);
                p.lineTo (c.x, c.y + 6.0f);
            }
        }
        return p;
    }

    /** White strokes over a dark rim, drawn into area (the imageSize grid scaled to it). */
    void paintStrokes (juce::Graphics& g, const juce::Path& p, juce::Rectangle<float> area)
    {
        const auto scale = juce::jmin (area.getWidth(), area.getHeight()) / s;
        const auto placed = juce::AffineTransform::scale (scale).translated (area.getCentreX() - s * scale / 2.0f,
                                                                             area.getCentreY() - s * scale / 2.0f);
        for (auto [colour, width] :
             { std::pair { juce::Colours::black.withAlpha (0.8f), 5.0f }, std::pair { juce::Colours::white, 2.5f } })
        {
            // Stroked on the grid, then placed: the lines grow with the drawing.
            juce::Path stroked;
            juce::PathStrokeType (width, juce::PathStrokeType::curved, juce::PathStrokeType::rounded)
                .createStrokedPath (stroked, p);
            g.setColour (colour);
            g.fillPath (stroked, placed);
        }
    }

    juce::Image render (const juce::Path& p, int size)
    {
        juce::Image image (juce::Image::ARGB, size, size, true);
        juce::Graphics g (image);
        paintStrokes (g, p, { (float) size, (float) size });
        return image;
    }

    void dashedSquare (juce::Path& p, juce::Rectangle<float> r)
    {
        juce::Path outline;
        outline.addRectangle (r);
        const float dashes[] = { 5.0f, 4.0f };
        juce::PathStrokeType (1.0f).createDashedStroke (p, outline, dashes, 2);
        // The dashes as open strokes: the outline of each dash is thin enough.
    }

    void arrow (juce::Path& p, juce::Point<float> from, juce::Point<float> to)
    {
        p.startNewSubPath (from);
        p.lineTo (to);
        const auto d = (to - from) / juce::jmax (1.0f, from.getDistanceFrom (to)) * 6.0f;
        const juce::Point<float> n (-d.y, d.x);
        for (auto [a, b] : { std::pair { from, d }, std::pair { to, -d } })
        {
            p.startNewSubPath (a + b + n);
            p.lineTo (a);
            p.lineTo (a + b - n);
        }
    }
} // namespace

ResourceManager& ResourceManager::getInstance()
{
    static ResourceManager instance;
    return instance;
}

ResourceManager::ResourceManager()
{
    const juce::Point<int> pointerSpot ((int) pointer.x, (int) pointer.y), centre (imageSize / 2, imageSize / 2);
    // A drawing without the selection marks, and one with the selection pointer.
    auto drawing = [this] (const juce::String& name, juce::Point<int> spot, const std::function<void (juce::Path&)>& shape) {
        add (name, strokes (shape, Mark::none, false), spot);
    };
    auto pointing = [this] (const juce::String& name, juce::Point<int> spot, const std::function<void (juce::Path&)>& shape) {
        add (name, strokes (shape, Mark::none, true), spot);
    };
    auto addSet = [this, pointerSpot] (const juce::String& base, const std::function<void (juce::Path&)>& shape) {
        add (base, strokes (shape, Mark::none, true), pointerSpot);
        add (base + "Plus", strokes (shape, Mark::plus, true), pointerSpot);
        add (base + "Minus", strokes (shape, Mark::minus, true), pointerSpot);
    };
    addSet ("marqueeCursor", [] (juce::Path& p) { dashedSquare (p, { 16.0f, 16.0f, 22.0f, 18.0f }); });
    addSet ("marqueeThresholdCursor", [] (juce::Path& p) {
        dashedSquare (p, { 16.0f, 16.0f, 22.0f, 18.0f });
        p.startNewSubPath (14.0f, 25.0f);
        p.lineTo (40.0f, 25.0f);
    });
    addSet ("magicWandCursor", [] (juce::Path& p) {
        p.startNewSubPath (18.0f, 18.0f);
        p.lineTo (36.0f, 36.0f);
        p.addStar ({ 16.0f, 16.0f }, 4, 2.0f, 6.0f);
    });
    addSet ("transientSelectCursor", [] (juce::Path& p) {
        p.startNewSubPath (26.0f, 14.0f);
        p.lineTo (26.0f, 40.0f);
        p.startNewSubPath (16.0f, 34.0f);
        p.lineTo (26.0f, 20.0f);
        p.lineTo (36.0f, 34.0f);
    });
    auto lens = [] (juce::Path& p) {
        p.addEllipse (8.0f, 8.0f, 24.0f, 24.0f);
        p.startNewSubPath (29.0f, 29.0f);
        p.lineTo (40.0f, 40.0f);
        p.startNewSubPath (14.0f, 20.0f);
        p.lineTo (26.0f, 20.0f);
    };
    drawing ("zoomPlusCursor", { 20, 20 }, [lens] (juce::Path& p) {
        lens (p);
        p.startNewSubPath (20.0f, 14.0f);
        p.lineTo (20.0f, 26.0f);
    });
    drawing ("zoomMinusCursor", { 20, 20 }, lens);
    drawing ("moveCursor", centre, [] (juce::Path& p) {
        arrow (p, { 6.0f, 24.0f }, { 42.0f, 24.0f });
        arrow (p, { 24.0f, 6.0f }, { 24.0f, 42.0f });
    });
    drawing ("verticalArrows", centre, [] (juce::Path& p) { arrow (p, { 24.0f, 6.0f }, { 24.0f, 42.0f }); });
    drawing ("horizontalArrows", centre, [] (juce::Path& p) { arrow (p, { 6.0f, 24.0f }, { 42.0f, 24.0f }); });
    drawing ("eraserCursor", centre, [] (juce::Path& p) {
        p.addRoundedRectangle (12.0f, 18.0f, 26.0f, 14.0f, 3.0f);
        p.startNewSubPath (22.0f, 18.0f);
        p.lineTo (22.0f, 32.0f);
    });

    // The separations' icons: a microphone, a slow wave, a drum, a note, four stems, two
    // ways from the middle.
    drawing ("VocalSeparation", centre, [] (juce::Path& p) {
        p.addRoundedRectangle (18.0f, 6.0f, 12.0f, 20.0f, 6.0f);
        p.startNewSubPath (13.0f, 21.0f);
        p.cubicTo (13.0f, 36.0f, 35.0f, 36.0f, 35.0f, 21.0f);
        p.startNewSubPath (24.0f, 33.0f);
        p.lineTo (24.0f, 41.0f);
        p.startNewSubPath (17.0f, 41.0f);
        p.lineTo (31.0f, 41.0f);
    });
    drawing ("BassSeparation", centre, [] (juce::Path& p) {
        p.startNewSubPath (6.0f, 24.0f);
        p.cubicTo (12.0f, 6.0f, 18.0f, 6.0f, 24.0f, 24.0f);
        p.cubicTo (30.0f, 42.0f, 36.0f, 42.0f, 42.0f, 24.0f);
    });
    drawing ("DrumSeparation", centre, [] (juce::Path& p) {
        p.addEllipse (9.0f, 18.0f, 30.0f, 9.0f);
        p.startNewSubPath (9.0f, 22.5f);
        p.lineTo (9.0f, 35.0f);
        p.cubicTo (12.0f, 42.0f, 36.0f, 42.0f, 39.0f, 35.0f);
        p.lineTo (39.0f, 22.5f);
        p.startNewSubPath (14.0f, 6.0f);
        p.lineTo (24.0f, 20.0f);
        p.startNewSubPath (34.0f, 6.0f);
        p.lineTo (24.0f, 20.0f);
    });
    drawing ("OtherSeparation", centre, [] (juce::Path& p) {
        p.addEllipse (11.0f, 31.0f, 12.0f, 9.0f);
        p.startNewSubPath (23.0f, 35.0f);
        p.lineTo (23.0f, 8.0f);
        p.cubicTo (29.0f, 12.0f, 35.0f, 14.0f, 35.0f, 22.0f);
    });
    drawing ("FourstemSeparation", centre, [] (juce::Path& p) {
        const float lengths[] = { 30.0f, 20.0f, 34.0f, 24.0f };
        for (int i = 0; i < 4; ++i)
        {
            p.startNewSubPath (8.0f, 9.0f + 10.0f * (float) i);
            p.lineTo (8.0f + lengths[i], 9.0f + 10.0f * (float) i);
        }
    });
    drawing ("PanSeparation", centre, [] (juce::Path& p) {
        arrow (p, { 6.0f, 24.0f }, { 42.0f, 24.0f });
        p.addEllipse (20.0f, 20.0f, 8.0f, 8.0f);
    });

    // The melody tools: a pen drawing a wave, a dashed rectangle over a note line, an
    // eraser over a note line; each points at its top left.
    drawing ("freeDrawPitch", pointerSpot, [] (juce::Path& p) {
        p.startNewSubPath (8.0f, 8.0f);
        p.lineTo (30.0f, 30.0f);
        p.startNewSubPath (12.0f, 40.0f);
        p.cubicTo (20.0f, 30.0f, 28.0f, 46.0f, 40.0f, 36.0f);
    });
    pointing ("marqueePitchCursor", pointerSpot, [] (juce::Path& p) {
        dashedSquare (p, { 16.0f, 16.0f, 24.0f, 20.0f });
        p.startNewSubPath (19.0f, 30.0f);
        p.lineTo (37.0f, 26.0f);
    });
    pointing ("eraserPitchCursor", pointerSpot, [] (juce::Path& p) {
        p.addRoundedRectangle (14.0f, 14.0f, 22.0f, 12.0f, 3.0f);
        p.startNewSubPath (10.0f, 36.0f);
        p.lineTo (40.0f, 36.0f);
    });
}

void ResourceManager::add (const juce::String& name, juce::Path strokesOnGrid, juce::Point<int> hotSpot)
{
    // Each drawing at 100 %; at 200 % (its name followed by the size) when first asked for.
    images[name] = { render (strokesOnGrid, imageSize), hotSpot };
    paths[name] = std::move (strokesOnGrid);
}

juce::Image ResourceManager::getImage (const juce::String& name, int size) const
{
    if (size > 0)
    {
        const auto key = name + juce::String (size);
        if (const auto it = images.find (key); it != images.end())
            return it->second.image;
        if (const auto drawing = paths.find (name); drawing != paths.end() && size == 2 * imageSize)
        {
            auto& entry = images[key] = { render (drawing->second, size), getHotSpot (name) * 2 };
            return entry.image;
        }
    }
    if (const auto it = images.find (name); it != images.end())
        return it->second.image;
    // The help's pictures are decoded when a page first shows one.
    namespace E = EmbeddedResources;
    const struct
    {
        const char* name;
        const unsigned char* data;
        int size;
    } pictures[] = { { "tutorialOpen", E::tutorialOpenPng, E::tutorialOpenPngSize },
                     { "tutorialLayers", E::tutorialLayersPng, E::tutorialLayersPngSize },
                     { "tutorialMixer", E::tutorialMixerPng, E::tutorialMixerPngSize },
                     { "tutorialSpectrogram", E::tutorialSpectrogramPng, E::tutorialSpectrogramPngSize } };
    for (const auto& p : pictures)
        if (name == p.name)
        {
            auto& entry = images[name] = { juce::ImageFileFormat::loadFrom (p.data, (size_t) p.size), {} };
            return entry.image;
        }
    return {};
}

bool ResourceManager::drawIcon (juce::Graphics& g, const juce::String& name, juce::Rectangle<float> area) const
{
    const auto it = paths.find (name);
    if (it == paths.end())
        return false;
    paintStrokes (g, it->second, area);
    return true;
}

juce::Point<int> ResourceManager::getHotSpot (const juce::String& name) const
{
    const auto it = images.find (name);
    return it != images.end() ? it->second.hotSpot : juce::Point<int>();
}

juce::MouseCursor ResourceManager::getCursor (const juce::String& name, float displayScale) const
{
    const auto it = paths.find (name);
    if (it == paths.end())
        return juce::MouseCursor::NormalCursor;
    const auto scale = juce::jlimit (1.0f, 4.0f, std::isfinite (displayScale) ? displayScale : 1.0f);
    const auto pixels = juce::roundToInt ((float) cursorHeight * scale);
    const auto spot = (getHotSpot (name).toFloat() * ((float) pixels / (float) imageSize)).toInt();
#if JUCE_LINUX
    // X cursors are in the screen's own pixels: the image is taken at its size.
    return juce::MouseCursor (juce::ScaledImage (render (it->second, pixels), 1.0), spot);
#else
    return juce::MouseCursor (juce::ScaledImage (render (it->second, pixels), scale), spot);
#endif
}

} // namespace kalder
