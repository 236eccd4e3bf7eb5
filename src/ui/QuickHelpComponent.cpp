#include "QuickHelpComponent.h"

#include "KalderLookAndFeel.h"
#include "ResourceManager.h"

namespace kalder
{

namespace
{
    using Palette = KalderLookAndFeel::Palette;
    constexpr int margin = 12, buttonHeight = 26, buttonWidth = 70; // pixels
} // namespace

QuickHelpComponent::QuickHelpComponent()
{
    setTitle ("Quick help");
    setFocusContainerType (FocusContainerType::focusContainer);
    title.setComponentID ("helpTitle");
    title.setFont (juce::Font (17.0f, juce::Font::bold));
    title.setColour (juce::Label::textColourId, Palette::text);
    body.setComponentID ("helpBody");
    body.setFont (juce::Font (14.0f));
    body.setColour (juce::Label::textColourId, Palette::text);
    body.setJustificationType (juce::Justification::topLeft);
    back.setComponentID ("helpBack");
    next.setComponentID ("helpNext");
    close.setComponentID ("helpClose");
    showAtStartup.setComponentID ("showAtStartup");
    back.onClick = [this] { showPage (current - 1); };
    next.onClick = [this] { showPage (current + 1); };
    close.onClick = [this] { setVisible (false); };
    showAtStartup.onClick = [this] {
        if (onStartupChoice)
            onStartupChoice (showAtStartup.getToggleState());
    };
    for (auto* c : std::initializer_list<juce::Component*> { &title, &body, &back, &next, &close, &showAtStartup })
        addAndMakeVisible (c);
    setVisible (false);
}

void QuickHelpComponent::showPages (std::vector<HelpPage> newPages, int index, bool withStartupChoice, bool startup)
{
    pages = std::move (newPages);
    showAtStartup.setVisible (withStartupChoice);
    showAtStartup.setToggleState (startup, juce::dontSendNotification);
    showPage (index);
    setVisible (! pages.empty());
    toFront (false);
}

void QuickHelpComponent::showPage (int index)
{
    if (pages.empty())
        return;
    current = juce::jlimit (0, (int) pages.size() - 1, index);
    const auto& page = pages[(size_t) current];
    title.setText (page.title, juce::dontSendNotification);
    body.setText (page.paragraphs.joinIntoString ("\n\n"), juce::dontSendNotification);
    picture = page.picture.isNotEmpty() ? ResourceManager::getInstance().getImage (page.picture) : juce::Image();
    back.setVisible (pages.size() > 1);
    next.setVisible (pages.size() > 1);
    back.setEnabled (current > 0);
    next.setEnabled (current + 1 < (int) pages.size());
    resized();
    repaint();
}

void QuickHelpComponent::resized()
{
    auto area = getLocalBounds().reduced (margin);
    title.setBounds (area.removeFromTop (24));
    // The picture under the title, at most as high as a third of the card.
    pictureArea = {};
    if (picture.isValid())
    {
        const auto height = juce::jmin (getHeight() / 3,
                                        area.getWidth() * picture.getHeight() / juce::jmax (1, picture.getWidth()));
        pictureArea = area.removeFromTop (height);
        area.removeFromTop (6);
    }
    auto buttons = area.removeFromBottom (buttonHeight);
    close.setBounds (buttons.removeFromRight (buttonWidth));
    buttons.removeFromRight (6);
    next.setBounds (buttons.removeFromRight (buttonWidth));
    buttons.removeFromRight (6);
    back.setBounds (buttons.removeFromRight (buttonWidth));
    showAtStartup.setBounds (buttons);
    area.removeFromBottom (6);
    body.setBounds (area);
}

void QuickHelpComponent::paint (juce::Graphics& g)
{
    const auto r = getLocalBounds().toFloat().reduced (1.0f);
    g.setColour (Palette::panel.withAlpha (0.97f));
    g.fillRoundedRectangle (r, 6.0f);
    g.setColour (Palette::accent);
    g.drawRoundedRectangle (r, 6.0f, 1.5f);
    if (picture.isValid() && ! pictureArea.isEmpty())
    {
        g.setImageResamplingQuality (juce::Graphics::highResamplingQuality);
        const auto placed = juce::RectanglePlacement (juce::RectanglePlacement::centred)
                                .appliedTo (picture.getBounds().toFloat(), pictureArea.toFloat());
        g.drawImage (picture, placed);
        g.setColour (Palette::outline);
        g.drawRect (placed, 1.0f);
    }
}

} // namespace kalder
