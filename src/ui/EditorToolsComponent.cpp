#include "EditorToolsComponent.h"
#include "KalderLookAndFeel.h"
#include "ResourceManager.h"

namespace kalder
{

namespace
{
    using T = EditorTool::Type;
    const std::vector<EditorTool::Type> positions[EditorToolsComponent::numPositions] = { { T::move },
                                                                                          { T::zoomIn, T::zoomOut },
                                                                                          { T::rectangleSelect },
                                                                                          { T::wand, T::harmonicWand },
                                                                                          { T::thresholdBelow,
                                                                                            T::thresholdAbove },
                                                                                          { T::transientSelect },
                                                                                          { T::eraser },
                                                                                          {},
                                                                                          {} };
    constexpr int viewToolPositions = 2; // move and zoom

    juce::String iconOf (EditorTool::Type type)
    {
        switch (type)
        {
            case T::move:
                return "moveCursor";
            case T::zoomIn:
                return "zoomPlusCursor";
            case T::zoomOut:
                return "zoomMinusCursor";
            case T::rectangleSelect:
                return "marqueeCursor";
            case T::wand:
                return "magicWandCursor";
            case T::harmonicWand:
                return "magicWandCursorPlus";
            case T::thresholdBelow:
                return "marqueeThresholdCursorMinus";
            case T::thresholdAbove:
                return "marqueeThresholdCursorPlus";
            case T::transientSelect:
                return "transientSelectCursor";
            case T::eraser:
                return "eraserCursor";
        }
        return {};
    }

    juce::String nameOf (EditorTool::Type type)
    {
        switch (type)
        {
            case T::move:
                return "Move";
            case T::zoomIn:
                return "Zoom In";
            case T::zoomOut:
                return "Zoom Out";
            case T::rectangleSelect:
                return "Rectangle Select";
            case T::wand:
                return "Wand";
            case T::harmonicWand:
                return "Harmonic Wand";
            case T::thresholdBelow:
                return "Threshold Select Below";
            case T::thresholdAbove:
                return "Threshold Select Above";
            case T::transientSelect:
                return "Transient Select";
            case T::eraser:
                return "Eraser";
        }
        return {};
    }
} // namespace

class EditorToolsComponent::ToolButton : public juce::Button
{
public:
    ToolButton (EditorToolsComponent& o, int p) : juce::Button ("tool " + juce::String (p + 1)), owner (o), position (p) {}

    void paintButton (juce::Graphics& g, bool highlighted, bool down) override
    {
        const auto& tools = getAlternates (position);
        if (tools.empty())
            return;
        const auto type = tools[(size_t) owner.current[position]];
        auto area = getLocalBounds().toFloat().reduced (4.0f);
        if (highlighted || down)
        {
            g.setColour (KalderLookAndFeel::Palette::outline);
            g.fillRoundedRectangle (area, 6.0f);
        }
        // Drawn as lines, so the icon is sharp at any display scale.
        if (! isEnabled())
            g.beginTransparencyLayer (0.35f);
        ResourceManager::getInstance().drawIcon (g, iconOf (type), area.reduced (2.0f));
        if (! isEnabled())
            g.endTransparencyLayer();
        if (tools.size() > 1)
        {
            // A corner mark: this button has alternates.
            juce::Path p;
            const auto r = area.getBottomRight();
            p.addTriangle (r.x, r.y - 7.0f, r.x, r.y, r.x - 7.0f, r.y);
            g.setColour (KalderLookAndFeel::Palette::dimText);
            g.fillPath (p);
        }
    }

    void mouseUp (const juce::MouseEvent& e) override
    {
        if (e.mods.isPopupMenu() && getAlternates (position).size() > 1)
            owner.openAlternatesMenu (position);
        else
            juce::Button::mouseUp (e);
    }

    void clicked() override { owner.setActiveTool (position); }

private:
    EditorToolsComponent& owner;
    const int position;
};

EditorToolsComponent::EditorToolsComponent()
{
    setComponentID ("editor tools");
    for (int i = 0; i < numPositions; ++i)
    {
        auto* b = buttons.add (new ToolButton (*this, i));
        const auto& tools = getAlternates (i);
        b->setVisible (! tools.empty());
        if (! tools.empty())
        {
            juce::StringArray names;
            for (auto t : tools)
                names.add (nameOf (t));
            b->setTooltip (names.joinIntoString (" / ") + " (" + juce::String (i + 1) + (tools.size() > 1 ? ", A: next" : "")
                           + ")");
        }
        addChildComponent (b);
    }
}

EditorToolsComponent::~EditorToolsComponent() = default;

juce::Button* EditorToolsComponent::getButton (int position) const
{
    return buttons[position];
}

const std::vector<EditorTool::Type>& EditorToolsComponent::getAlternates (int position)
{
    static const std::vector<EditorTool::Type> none;
    return position >= 0 && position < numPositions ? positions[position] : none;
}

int EditorToolsComponent::getCodeForTool (EditorTool::Type type)
{
    for (int p = 0; p < numPositions; ++p)
        for (auto t : positions[p])
            if (t == type)
                return p;
    return -1;
}

bool EditorToolsComponent::isEnabledPosition (int position) const
{
    if (getAlternates (position).empty())
        return false;
    return position < viewToolPositions ? viewToolsEnabled : spectrogramToolsEnabled;
}

void EditorToolsComponent::makeCurrent (int position, int alternate)
{
    current[position] = alternate;
    activePosition = position;
    activeType = getAlternates (position)[(size_t) alternate];
    repaint();
    for (auto* b : buttons)
        b->repaint();
    if (onToolChanged)
        onToolChanged (activeType);
}

bool EditorToolsComponent::setActiveTool (int position)
{
    if (! isEnabledPosition (position))
        return false;
    makeCurrent (position, current[position]);
    return true;
}

bool EditorToolsComponent::switchActiveToolToNextAlternate()
{
    const auto& tools = getAlternates (activePosition);
    if (tools.size() < 2 || ! isEnabledPosition (activePosition))
        return false;
    makeCurrent (activePosition, (current[activePosition] + 1) % (int) tools.size());
    return true;
}

bool EditorToolsComponent::selectTool (EditorTool::Type type)
{
    const auto p = getCodeForTool (type);
    if (! isEnabledPosition (p))
        return false;
    const auto& tools = getAlternates (p);
    makeCurrent (p, (int) (std::find (tools.begin(), tools.end(), type) - tools.begin()));
    return true;
}

void EditorToolsComponent::openAlternatesMenu (int position)
{
    juce::PopupMenu menu;
    const auto& tools = getAlternates (position);
    for (size_t i = 0; i < tools.size(); ++i)
        menu.addItem ((int) i + 1, nameOf (tools[i]), true, (int) i == current[position]);
    juce::Component::SafePointer<EditorToolsComponent> safe (this);
    menu.showMenuAsync (juce::PopupMenu::Options().withTargetComponent (buttons[position]), [safe, position] (int chosen) {
        if (safe != nullptr && chosen > 0 && safe->isEnabledPosition (position))
            safe->makeCurrent (position, chosen - 1);
    });
}

void EditorToolsComponent::setViewToolsEnabled (bool enabled)
{
    viewToolsEnabled = enabled;
    for (int p = 0; p < viewToolPositions; ++p)
        buttons[p]->setEnabled (enabled);
}

void EditorToolsComponent::setSpectrogramToolsEnabled (bool enabled)
{
    spectrogramToolsEnabled = enabled;
    for (int p = viewToolPositions; p < numPositions; ++p)
        buttons[p]->setEnabled (enabled);
}

void EditorToolsComponent::paint (juce::Graphics& g)
{
    g.fillAll (KalderLookAndFeel::Palette::panel);
    // The active tool's button sits on a rounded rectangle.
    if (auto* b = buttons[activePosition]; b != nullptr && b->isVisible())
    {
        g.setColour (KalderLookAndFeel::Palette::accent.withAlpha (0.45f));
        g.fillRoundedRectangle (b->getBounds().toFloat().reduced (2.0f), 8.0f);
    }
}

void EditorToolsComponent::resized()
{
    auto area = getLocalBounds().reduced (2, 4);
    int shown = 0;
    for (auto* b : buttons)
        shown += b->isVisible() ? 1 : 0;
    // Smaller buttons in a short window, never overlapping.
    const auto size = juce::jmax (1, juce::jmin (buttonSize, area.getWidth(), area.getHeight() / juce::jmax (1, shown)));
    for (auto* b : buttons)
        if (b->isVisible())
            b->setBounds (area.removeFromTop (size).withSizeKeepingCentre (size, size));
}

} // namespace kalder
