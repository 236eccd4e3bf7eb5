#pragma once

#include "EditorToolParam.h"
#include "EditorTools.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

/** The input of one tool parameter: a text box, a choice, a slider or a toggle bound to
    the parameter's value. */
class EditorToolParamComponent : public juce::Component
{
public:
    explicit EditorToolParamComponent (EditorToolParam::Ptr param);
    ~EditorToolParamComponent() override;

    EditorToolParam& getParam() noexcept { return *param; }
    juce::Component* getInput() noexcept { return input.get(); }

    /** Width the bar gives it. */
    int getPreferredWidth() const;

    void resized() override;

private:
    EditorToolParam::Ptr param;
    juce::Label name;
    std::unique_ptr<juce::Component> input;
};

/**
    The bar above the spectral editor: the active tool's parameters, then the common
    controls: "Selection Playback" (how loud the selection plays against the rest:
    the track's selection volume), "Only Selection" (the selection alone), and the
    freeze and reset buttons.

    Ownership: owned by the main component; the track is shared.

    Threading: message thread.
*/
class CommonEditorParamsMenu : public juce::Component
{
public:
    static constexpr int barHeight = 30;
    static constexpr const char* freezeTooltip =
        "Freeze current spectral edits. This will bounce the current track in place (including selection volume) and also create "
        "a complementary track containing everything that was removed.";
    static constexpr const char* resetTooltip = "Discard all spectral edits for this track.";

    CommonEditorParamsMenu();

    void setTool (EditorTool* tool);

    /** The height that shows every parameter at this width (rows of barHeight). */
    int getPreferredHeight (int width);
    void setTrack (AudioTrack::Ptr track);

    std::function<void()> onFreeze, onReset;

    int getNumParamComponents() const noexcept { return paramComponents.size(); }
    EditorToolParamComponent* getParamComponent (int i) const { return paramComponents[i]; }
    juce::Slider& getSelectionPlayback() noexcept { return selectionPlayback; }
    juce::ToggleButton& getOnlySelection() noexcept { return onlySelection; }
    juce::Button& getFreezeButton() noexcept { return freeze; }
    juce::Button& getResetButton() noexcept { return reset; }

    void paint (juce::Graphics&) override;
    void resized() override;

    /** Called when the number of rows changes (the owner lays the bar out again). */
    std::function<void()> onHeightChanged;

private:
    void applySelectionVolume();
    int layOut (int width, bool apply);

    juce::OwnedArray<EditorToolParamComponent> paramComponents;
    juce::Label playbackLabel { {}, "Selection Playback" };
    juce::Slider selectionPlayback { juce::Slider::LinearHorizontal, juce::Slider::TextBoxRight };
    juce::ToggleButton onlySelection { "Only Selection" };
    juce::TextButton freeze { "Freeze" }, reset { "Reset" };
    AudioTrack::Ptr track;
};

} // namespace kalder
