#include "CommonEditorParamsMenu.h"
#include "KalderLookAndFeel.h"

namespace kalder
{

namespace
{
    constexpr int inputWidth = 100, toggleWidth = 24, gap = 8;

    /** The width a label needs for its text on one line. */
    int widthOf (const juce::Label& label)
    {
        const auto border = label.getBorderSize();
        return label.getFont().getStringWidth (label.getText()) + border.getLeftAndRight() + 4;
    }
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
            // The value inside the bar: compact, and still typed into on a double click.
            auto slider = std::make_unique<juce::Slider> (juce::Slider::LinearBar, juce::Slider::TextBoxRight);
            slider->setRange (param->getRange().getStart(), param->getRange().getEnd(), param->getStep());
            slider->setNumDecimalPlacesToDisplay (param->getStep() >= 1.0 ? 0 : param->getRange().getLength() > 10.0 ? 1 : 2);
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
    return widthOf (name) + gap + inputW;
}

void EditorToolParamComponent::resized()
{
    auto area = getLocalBounds();
    name.setBounds (area.removeFromLeft (juce::jmin (area.getWidth(), widthOf (name))));
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
    if (getWidth() > 0 && getPreferredHeight (getWidth()) != getHeight() && onHeightChanged)
        onHeightChanged();
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

int CommonEditorParamsMenu::layOut (int width, bool apply)
{
    // The common controls on the right of the first row; the tool's parameters from the
    // left, wrapping onto further rows rather than being left out. Only what is wider
    // than the whole bar is left out.
    auto row = juce::Rectangle<int> (0, 0, width, barHeight).reduced (4, 0);
    auto place = [apply] (juce::Component& c, juce::Rectangle<int>& area, int w, bool fromRight) {
        const bool fits = area.getWidth() >= w;
        if (apply)
        {
            c.setVisible (fits);
            if (fits)
                c.setBounds (fromRight ? area.removeFromRight (w) : area.removeFromLeft (w));
        }
        else if (fits)
            fromRight ? area.removeFromRight (w) : area.removeFromLeft (w);
        return fits;
    };
    place (reset, row, 60, true);
    place (freeze, row, 60, true);
    place (onlySelection, row, 116, true);
    place (selectionPlayback, row, 140, true);
    place (playbackLabel, row, widthOf (playbackLabel), true);
    row.removeFromRight (juce::jmin (gap, row.getWidth()));
    int rows = 1;
    for (auto* c : paramComponents)
    {
        const auto w = c->getPreferredWidth();
        if (row.getWidth() < w && w <= width - 8)
        {
            row = juce::Rectangle<int> (0, rows * barHeight, width, barHeight).reduced (4, 0);
            ++rows;
        }
        place (*c, row, w, false);
        row.removeFromLeft (juce::jmin (gap, row.getWidth()));
    }
    return rows;
}

int CommonEditorParamsMenu::getPreferredHeight (int width)
{
    return layOut (width, false) * barHeight;
}

void CommonEditorParamsMenu::resized()
{
    layOut (getWidth(), true);
}

} // namespace kalder
