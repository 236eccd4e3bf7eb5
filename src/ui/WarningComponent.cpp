#include "WarningComponent.h"
#include "KalderLogo.h"
#include "KalderLookAndFeel.h"

namespace kalder
{

namespace
{
    using Palette = KalderLookAndFeel::Palette;
    constexpr int width = 420, margin = 20, titleHeight = 34, linkHeight = 24, buttonHeight = 28, gap = 10;
    constexpr float titleFontSize = 22.0f, messageFontSize = 14.0f, minimumMessageScale = 0.8f;
} // namespace

WarningComponent::WarningComponent (const juce::String& titleText, const juce::String& messageText, const juce::String& linkText)
    : logo (KalderLogo::createImage (logoSize))
{
    title.setComponentID ("title");
    title.setText (titleText, juce::dontSendNotification);
    title.setFont (juce::Font (titleFontSize, juce::Font::bold));
    title.setColour (juce::Label::textColourId, Palette::text);
    addAndMakeVisible (title);

    message.setComponentID ("message");
    message.setText (messageText, juce::dontSendNotification);
    message.setFont (juce::Font (messageFontSize));
    message.setMinimumHorizontalScale (minimumMessageScale);
    message.setJustificationType (juce::Justification::topLeft);
    message.setColour (juce::Label::textColourId, Palette::text);
    addAndMakeVisible (message);

    if (linkText.isNotEmpty())
    {
        // A link names where to read more: a web address opens in the browser.
        const juce::URL url (linkText);
        link = std::make_unique<juce::HyperlinkButton> (linkText, url.isWellFormed() ? url : juce::URL());
        link->setComponentID ("link");
        link->setJustificationType (juce::Justification::centredLeft);
        link->setColour (juce::HyperlinkButton::textColourId, Palette::accent);
        addAndMakeVisible (*link);
    }

    close.setComponentID ("close");
    close.onClick = [this] {
        if (auto* window = findParentComponentOfClass<juce::DialogWindow>())
            window->exitModalState (0);
    };
    close.addShortcut (juce::KeyPress (juce::KeyPress::returnKey));
    addAndMakeVisible (close);

    // The message is laid out at the window's width; the window takes the height it needs.
    const auto textWidth = width - 2 * margin;
    juce::AttributedString text;
    text.append (messageText, juce::Font (messageFontSize));
    juce::TextLayout layout;
    layout.createLayout (text, (float) textWidth);
    const auto messageHeight = juce::jmax (20, (int) std::ceil (layout.getHeight()) + 4);
    setSize (width,
             margin + titleHeight + gap + messageHeight + (link != nullptr ? gap + linkHeight : 0) + gap + buttonHeight + margin);
}

juce::DialogWindow* WarningComponent::show (const juce::String& titleText, const juce::String& messageText,
                                            const juce::String& linkText, juce::Component* around)
{
    juce::DialogWindow::LaunchOptions options;
    options.content.setOwned (new WarningComponent (titleText, messageText, linkText));
    options.dialogTitle = titleText;
    options.dialogBackgroundColour = Palette::panel;
    options.componentToCentreAround = around;
    options.escapeKeyTriggersCloseButton = true;
    options.useNativeTitleBar = true;
    options.resizable = false;
    return options.launchAsync();
}

void WarningComponent::resized()
{
    auto area = getLocalBounds().reduced (margin);
    title.setBounds (area.removeFromTop (titleHeight));
    area.removeFromTop (gap);
    close.setBounds (area.removeFromBottom (buttonHeight).withSizeKeepingCentre (100, buttonHeight));
    area.removeFromBottom (gap);
    if (link != nullptr)
    {
        link->setBounds (area.removeFromBottom (linkHeight));
        area.removeFromBottom (gap);
    }
    message.setBounds (area);
}

void WarningComponent::paint (juce::Graphics& g)
{
    g.fillAll (Palette::panel);
    if (logo.isValid())
    {
        g.setOpacity (logoAlpha);
        g.drawImageAt (logo, (getWidth() - logoSize) / 2, (getHeight() - logoSize) / 2);
    }
}

} // namespace kalder
