#pragma once

#include "WaveformSummary.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

/**
    The editor area's overview of the master track: its waveform as a min/max outline,
    the playhead, the loop area, and, while no file is open, the invitation "Drop an
    audio file here".

    The outline is computed from the track's rendered audio file on a background
    thread of its own; the component shows it when it arrives. A newer file replaces
    a computation still running, whose result is then dropped.

    Ownership: owned by the main component.

    Threading: message thread only; the outline job hands its result back through the
    message queue.
*/
class WaveformOverviewComponent : public juce::Component
{
public:
    /** Shown while no file is open. */
    static constexpr const char* dropHintText = "Drop an audio file here";

    /** Outline buckets: more than a wide screen has pixels, few enough to compute fast. */
    static constexpr int numBuckets = 4096;

    WaveformOverviewComponent();
    ~WaveformOverviewComponent() override;

    /** Starts outlining a file; an empty File shows the drop hint again. */
    void setAudioFile (const juce::File& file);

    /** True while no file is set. */
    bool isShowingDropHint() const noexcept { return audioFile == juce::File(); }
    const juce::File& getAudioFile() const noexcept { return audioFile; }

    /** The outline, empty until the background job has finished. */
    const WaveformSummary& getSummary() const noexcept { return summary; }

    /** Called on the message thread when an outline arrives. */
    std::function<void()> onSummaryReady;

    /** Called when the user clicks or drags in the waveform, with the normalised
        position under the mouse. */
    std::function<void (double)> onSeek;

    void setPlayheadPosition (double normalised);
    void setLoop (juce::Range<float> normalisedArea, bool enabled);

    /** Marks the part of the track the editor shows (nullopt: no editor shown): the rest
        of the strip is dimmed. */
    void setFocusRange (std::optional<juce::Range<double>> normalisedRange);

    /** Highlights the area while files are dragged over the window. */
    void setDropHighlight (bool shouldHighlight);

    void paint (juce::Graphics&) override;
    void mouseDown (const juce::MouseEvent&) override;
    void mouseDrag (const juce::MouseEvent&) override;

private:
    class OutlineJob;

    void seekTo (const juce::MouseEvent&);

    juce::File audioFile;
    WaveformSummary summary;
    int generation = 0;
    double playhead = 0.0;
    juce::Range<float> loopArea;
    bool loopEnabled = false, dropHighlight = false;
    std::optional<juce::Range<double>> focusRange;
    juce::ThreadPool pool { 1 };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (WaveformOverviewComponent)
};

} // namespace kalder
