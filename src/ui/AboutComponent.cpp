#include "AboutComponent.h"
#include "KalderLogo.h"
#include "KalderLookAndFeel.h"

namespace kalder
{

namespace
{
    using Palette = KalderLookAndFeel::Palette;

    constexpr int width = 460, height = 330; // pixels
    constexpr int logoSize = 96;             // pixels
    constexpr int margin = 18;               // pixels
    constexpr float nameFontSize = 26.0f, textFontSize = 15.0f, smallFontSize = 13.0f;

    const juce::String descriptionText {
        "Takes a mixed song apart. Open an audio file and it becomes the master track; automatic separations "
        "(vocals, drums, bass, other, four stems, stereo position) come back as tracks of their own, and every "
        "track can be shaped by hand on its spectrogram and played in the mixer."
    };

    void setUpLabel (juce::Label& label, const juce::String& id, const juce::String& text, float size, juce::Colour colour,
                     bool bold = false)
    {
        label.setComponentID (id);
        label.setText (text, juce::dontSendNotification);
        label.setFont (bold ? juce::Font (size, juce::Font::bold) : juce::Font (size));
        label.setColour (juce::Label::textColourId, colour);
        label.setJustificationType (juce::Justification::topLeft);
        label.setMinimumHorizontalScale (1.0f); // wrap, never squeeze
    }
} // namespace

AboutComponent::AboutComponent (const juce::String& productName, const juce::String& versionText)
    : logo (KalderLogo::createDrawable())
{
    setUpLabel (name, "name", productName, nameFontSize, Palette::text, true);
    setUpLabel (version, "version", "Version " + versionText, textFontSize, Palette::dimText);
    setUpLabel (description, "description", descriptionText, textFontSize, Palette::text);
    setUpLabel (credits, "credits",
                "Built with " + juce::SystemStats::getJUCEVersion() + ", FFTW, Eigen and FFmpeg.\n"
                    + juce::String (juce::CharPointer_UTF8 ("\xc2\xa9")) + " 2026 The " + productName + " developers.",
                smallFontSize, Palette::dimText);

    for (auto* label : { &name, &version, &description, &credits })
        addAndMakeVisible (label);
    setSize (width, height);
}

void AboutComponent::resized()
{
    auto area = getLocalBounds().reduced (margin);
    auto top = area.removeFromTop (logoSize);
    top.removeFromLeft (logoSize + margin);
    name.setBounds (top.removeFromTop (top.getHeight() / 2));
    version.setBounds (top);
    area.removeFromTop (margin);
    credits.setBounds (area.removeFromBottom (2 * (int) std::ceil (smallFontSize * 1.4f)));
    area.removeFromBottom (margin / 2);
    description.setBounds (area);
}

void AboutComponent::paint (juce::Graphics& g)
{
    // A panel with an edge, so that the dialog stands apart from the main window even
    // where no window manager draws a frame.
    g.fillAll (Palette::panel);
    g.setColour (Palette::outline);
    g.drawRect (getLocalBounds());
    if (logo != nullptr)
        logo->drawWithin (g, getLocalBounds().reduced (margin).removeFromTop (logoSize).removeFromLeft (logoSize).toFloat(),
                          juce::RectanglePlacement::centred, 1.0f);
}

} // namespace kalder
