#pragma once

#include "EditorTools.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

/**
    The "Editor Tools" panel on the left of the editor: nine positions, the commands
    "First Editor Tool" ... "Ninth Editor Tool" select them by number. A position may
    hold several alternates of which one is current: "A" (or the button's menu, on a
    right click) makes the next one current. The spectral editor's tools take the first
    seven positions: move, zoom (in / out), rectangle, wand (plain / harmonic),
    threshold (below / above), transient and eraser; the last two are kept for the
    melody editor's tools.

    Ownership: owned by the main component; it owns no tools, it tells onToolChanged
    which one to make active.

    Threading: message thread.
*/
class EditorToolsComponent : public juce::Component
{
public:
    static constexpr int numPositions = 9, buttonSize = 40;

    EditorToolsComponent();
    ~EditorToolsComponent() override;

    /** The tools of a position, current alternate first in cycling order. */
    static const std::vector<EditorTool::Type>& getAlternates (int position);

    /** The position whose alternates hold a tool (-1: none). */
    static int getCodeForTool (EditorTool::Type type);

    /** Makes a position's current alternate active; false when the position is empty or
        its group is disabled. */
    bool setActiveTool (int position);

    /** The active position's next alternate; false when it has none. */
    bool switchActiveToolToNextAlternate();

    /** Makes a tool active through the position that holds it (it becomes current). */
    bool selectTool (EditorTool::Type type);

    EditorTool::Type getActiveTool() const noexcept { return activeType; }
    int getActivePosition() const noexcept { return activePosition; }

    /** The view tools (move, zoom) and the spectrogram's tools follow the editor shown. */
    void setViewToolsEnabled (bool enabled);
    void setSpectrogramToolsEnabled (bool enabled);

    std::function<void (EditorTool::Type)> onToolChanged;

    juce::Button* getButton (int position) const;

    void paint (juce::Graphics&) override;
    void resized() override;

private:
    class ToolButton;

    bool isEnabledPosition (int position) const;
    void openAlternatesMenu (int position);
    void makeCurrent (int position, int alternate);

    juce::OwnedArray<ToolButton> buttons;
    int current[numPositions] = {};
    int activePosition = 2;
    EditorTool::Type activeType = EditorTool::Type::rectangleSelect;
    bool viewToolsEnabled = true, spectrogramToolsEnabled = true;
};

} // namespace kalder
