#include "KalderLogo.h"

// Compiled in from resources/ by kalder_embed_files (cmake/KalderEmbed.cmake).
namespace kalder::EmbeddedResources
{
extern const unsigned char logoSvg[];
extern const int logoSvgSize;
} // namespace kalder::EmbeddedResources

namespace kalder
{

std::unique_ptr<juce::Drawable> KalderLogo::createDrawable()
{
    const auto text = juce::String::fromUTF8 (reinterpret_cast<const char*> (EmbeddedResources::logoSvg),
                                              EmbeddedResources::logoSvgSize);
    if (auto svg = juce::parseXML (text))
        return juce::Drawable::createFromSVG (*svg);
    return nullptr;
}

juce::Image KalderLogo::createImage (int size)
{
    if (size < 1)
        return {};
    auto drawable = createDrawable();
    if (drawable == nullptr)
        return {};

    juce::Image image (juce::Image::ARGB, size, size, true);
    juce::Graphics g (image);
    drawable->drawWithin (g, juce::Rectangle<float> ((float) size, (float) size), juce::RectanglePlacement::centred, 1.0f);
    return image;
}

} // namespace kalder
