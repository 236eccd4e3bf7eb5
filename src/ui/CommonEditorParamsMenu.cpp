#include "CommonEditorParamsMenu.h"
#include "KalderLookAndFeel.h"

namespace kalder
{

namespace
{
    constexpr int nameWidthPerChar = 7, inputWidth = 110, toggleWidth = 24, gap = 8;
} // namespace

EditorToolParamComponent::EditorToolParamComponent (EditorToolParam::Ptr p) : param (std::move (p))
{
    name.setText (param->getName(), juce::dontSendNotification);
    name.setJustificationType (juce::Justification::centredRight);
    addAndMakeVisible (name);
    using T = EditorToolParam::InputType;
    switch (param->getInputType())
    {
        case T::textBox:
        {
            auto box = std::make_unique<juce::TextEditor>();
            box->setText (param->getValue().toString(), false);
            box->setInputRestrictions (16, "0123456789.-");
            // The typed text becomes the value on every change; the value reads back clamped.
            box->onTextChange = [this, b = box.get()] { param->getValueObject() = b->getText(); };
            box->onFocusLost = [this, b = box.get()] { b->setText (juce::String (param->getDouble()), false); };
            input = std::move (box);
            break;
        }
        case T::comboBox:
        {
            auto combo = std::make_unique<juce::ComboBox>();
            for (int i = 0; i < param->getOptions().size(); ++i)
                combo->addItem (param->getOptions()[i].toString(), i + 1);
            combo->setText (param->getValue().toString(), juce::dontSendNotification);
            combo->onChange = [this, c = combo.get()] { param->setValue (c->getText()); };
            input = std::move (combo);
            break;
        }
        case T::slider:
        {
            auto slider = std::make_unique<juce::Slider> (juce::Slider::LinearHorizontal, juce::Slider::TextBoxRight);
            slider->setTextBoxStyle (juce::Slider::TextBoxRight, false, 44, 20);
            slider->setRange (param->getRange().getStart(), param->getRange().getEnd(), param->getStep());
            slider->getValueObject().referTo (param->getValueObject());
            input = std::move (slider);
            break;
        }
        case T::toggle:
        {
            auto toggle = std::make_unique<juce::ToggleButton>();
            toggle->getToggleStateValue().referTo (param->getValueObject());
            input = std::move (toggle);
            break;
        }
    }
    input->setTitle (param->getName());
    input->setEnabled (param->isEnabled());
    addAndMakeVisible (*input);
}

EditorToolParamComponent::~EditorToolParamComponent() = default;

int EditorToolParamComponent::getPreferredWidth() const
{
    const auto inputW = param->getInputType() == EditorToolParam::InputType::toggle   ? toggleWidth
                        : param->getInputType() == EditorToolParam::InputType::slider ? inputWidth + 40
                                                                                      : inputWidth / 2 + 10;
    return param->getName().length() * nameWidthPerChar + gap + inputW;
}

void EditorToolParamComponent::resized()
{
    auto area = getLocalBounds();
    name.setBounds (area.removeFromLeft (param->getName().length() * nameWidthPerChar));
    input->setBounds (area.reduced (2, 3));
}

//==============================================================================
CommonEditorParamsMenu::CommonEditorParamsMenu()
{
    setComponentID ("editor parameters");
    playbackLabel.setJustificationType (juce::Justification::centredRight);
    selectionPlayback.setRange (0.0, 100.0, 1.0);
    selectionPlayback.setTextValueSuffix (" %");
    selectionPlayback.setTextBoxStyle (juce::Slider::TextBoxRight, false, 50, 20);
    selectionPlayback.setTooltip ("How loud the selection plays: 100 % the selection alone, 0 % everything but it");
    selectionPlayback.onValueChange = [this] { applySelectionVolume(); };
    onlySelection.onClick = [this] { applySelectionVolume(); };
    freeze.setTooltip (freezeTooltip);
    reset.setTooltip (resetTooltip);
    freeze.onClick = [this] {
        if (onFreeze)
            onFreeze();
    };
    reset.onClick = [this] {
        if (onReset)
            onReset();
    };
    for (juce::Component* c :
         std::initializer_list<juce::Component*> { &playbackLabel, &selectionPlayback, &onlySelection, &freeze, &reset })
        addAndMakeVisible (c);
}

void CommonEditorParamsMenu::setTool (EditorTool* tool)
{
    paramComponents.clear();
    if (tool != nullptr)
        for (auto* p : tool->getParams())
            addAndMakeVisible (paramComponents.add (new EditorToolParamComponent (p)));
    resized();
}

void CommonEditorParamsMenu::setTrack (AudioTrack::Ptr newTrack)
{
    if (newTrack == track)
        return;
    track = std::move (newTrack);
    if (auto* asig = track != nullptr ? track->getAsig() : nullptr)
    {
        const auto v = asig->getSelectionVolume();
        onlySelection.setToggleState (v >= 1.0f, juce::dontSendNotification);
        selectionPlayback.setValue (v * 100.0, juce::dontSendNotification);
    }
}

void CommonEditorParamsMenu::applySelectionVolume()
{
    // "Only Selection" plays the selection alone whatever the slider says.
    selectionPlayback.setEnabled (! onlySelection.getToggleState());
    if (auto* asig = track != nullptr ? track->getAsig() : nullptr)
        asig->setSelectionVolume (onlySelection.getToggleState() ? 1.0f : (float) (selectionPlayback.getValue() / 100.0));
}

void CommonEditorParamsMenu::paint (juce::Graphics& g)
{
    g.fillAll (KalderLookAndFeel::Palette::panel);
}

void CommonEditorParamsMenu::resized()
{
    // From the right the common controls, from the left the tool's parameters; in a
    // narrow window what does not fit is left out rather than squeezed.
    auto area = getLocalBounds().reduced (4, 0);
    auto place = [&area] (juce::Component& c, int width, bool fromRight) {
        const bool fits = area.getWidth() >= width;
        c.setVisible (fits);
        if (fits)
            c.setBounds (fromRight ? area.removeFromRight (width) : area.removeFromLeft (width));
    };
    place (reset, 64, true);
    place (freeze, 64, true);
    place (onlySelection, 120, true);
    place (selectionPlayback, 150, true);
    place (playbackLabel, 130, true);
    area.removeFromRight (juce::jmin (gap, area.getWidth()));
    for (auto* c : paramComponents)
    {
        place (*c, c->getPreferredWidth(), false);
        area.removeFromLeft (juce::jmin (gap, area.getWidth()));
    }
}

} // namespace kalder
