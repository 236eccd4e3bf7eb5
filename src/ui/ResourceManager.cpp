#include "ResourceManager.h"

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

    /** White strokes over a dark rim. */
    juce::Image draw (const std::function<void (juce::Path&)>& shape, Mark mark, bool withPointer)
    {
        juce::Image image (juce::Image::ARGB, ResourceManager::imageSize, ResourceManager::imageSize, true);
        juce::Graphics g (image);
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
        g.setColour (juce::Colours::black.withAlpha (0.8f));
        g.strokePath (p, juce::PathStrokeType (5.0f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
        g.setColour (juce::Colours::white);
        g.strokePath (p, juce::PathStrokeType (2.5f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
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
    auto addSet = [this, pointerSpot] (const juce::String& base, const std::function<void (juce::Path&)>& shape) {
        images[base] = { draw (shape, Mark::none, true), pointerSpot };
        images[base + "Plus"] = { draw (shape, Mark::plus, true), pointerSpot };
        images[base + "Minus"] = { draw (shape, Mark::minus, true), pointerSpot };
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
    images["zoomPlusCursor"] = { draw (
                                     [lens] (juce::Path& p) {
                                         lens (p);
                                         p.startNewSubPath (20.0f, 14.0f);
                                         p.lineTo (20.0f, 26.0f);
                                     },
                                     Mark::none, false),
                                 { 20, 20 } };
    images["zoomMinusCursor"] = { draw (lens, Mark::none, false), { 20, 20 } };
    images["moveCursor"] = { draw (
                                 [] (juce::Path& p) {
                                     arrow (p, { 6.0f, 24.0f }, { 42.0f, 24.0f });
                                     arrow (p, { 24.0f, 6.0f }, { 24.0f, 42.0f });
                                 },
                                 Mark::none, false),
                             centre };
    images["verticalArrows"] = { draw (
                                     [] (juce::Path& p) {
                                         arrow (p, { 24.0f, 6.0f }, { 24.0f, 42.0f });
                                     },
                                     Mark::none, false),
                                 centre };
    images["horizontalArrows"] = { draw (
                                       [] (juce::Path& p) {
                                           arrow (p, { 6.0f, 24.0f }, { 42.0f, 24.0f });
                                       },
                                       Mark::none, false),
                                   centre };
    images["eraserCursor"] = { draw (
                                   [] (juce::Path& p) {
                                       p.addRoundedRectangle (12.0f, 18.0f, 26.0f, 14.0f, 3.0f);
                                       p.startNewSubPath (22.0f, 18.0f);
                                       p.lineTo (22.0f, 32.0f);
                                   },
                                   Mark::none, false),
                               centre };

    // The melody tools: a pen drawing a wave, a dashed rectangle over a note line, an
    // eraser over a note line; each points at its top left.
    images["freeDrawPitch"] = { draw (
                                    [] (juce::Path& p) {
                                        p.startNewSubPath (8.0f, 8.0f);
                                        p.lineTo (30.0f, 30.0f);
                                        p.startNewSubPath (12.0f, 40.0f);
                                        p.cubicTo (20.0f, 30.0f, 28.0f, 46.0f, 40.0f, 36.0f);
                                    },
                                    Mark::none, false),
                                pointerSpot };
    images["marqueePitchCursor"] = { draw (
                                         [] (juce::Path& p) {
                                             dashedSquare (p, { 16.0f, 16.0f, 24.0f, 20.0f });
                                             p.startNewSubPath (19.0f, 30.0f);
                                             p.lineTo (37.0f, 26.0f);
                                         },
                                         Mark::none, true),
                                     pointerSpot };
    images["eraserPitchCursor"] = { draw (
                                        [] (juce::Path& p) {
                                            p.addRoundedRectangle (14.0f, 14.0f, 22.0f, 12.0f, 3.0f);
                                            p.startNewSubPath (10.0f, 36.0f);
                                            p.lineTo (40.0f, 36.0f);
                                        },
                                        Mark::none, true),
                                    pointerSpot };
}

juce::Image ResourceManager::getImage (const juce::String& name, int size) const
{
    if (size > 0)
        if (const auto it = images.find (name + juce::String (size)); it != images.end())
            return it->second.image;
    if (const auto it = images.find (name); it != images.end())
        return it->second.image;
    return {};
}

juce::Point<int> ResourceManager::getHotSpot (const juce::String& name) const
{
    const auto it = images.find (name);
    return it != images.end() ? it->second.hotSpot : juce::Point<int>();
}

juce::MouseCursor ResourceManager::getCursor (const juce::String& name) const
{
    const auto image = getImage (name);
    if (! image.isValid())
        return juce::MouseCursor::NormalCursor;
    const auto ratio = (float) cursorHeight / (float) image.getHeight();
    const auto width = juce::jmax (1, (int) (image.getWidth() * ratio));
    const auto scaled = image.rescaled (width, cursorHeight, juce::Graphics::highResamplingQuality);
    const auto spot = getHotSpot (name).toFloat() * ratio;
    return juce::MouseCursor (scaled, (int) spot.x, (int) spot.y);
}

} // namespace kalder
