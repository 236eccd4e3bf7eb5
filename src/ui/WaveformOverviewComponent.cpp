#include "WaveformOverviewComponent.h"
#include "KalderLookAndFeel.h"

namespace kalder
{

namespace
{
    using Palette = KalderLookAndFeel::Palette;
    constexpr int jobStopTimeoutMs = 5000; // a cancelled outline stops within one bucket
} // namespace

//==============================================================================
class WaveformOverviewComponent::OutlineJob : public juce::ThreadPoolJob
{
public:
    OutlineJob (WaveformOverviewComponent& owner, juce::File f, int gen)
        : juce::ThreadPoolJob ("Waveform outline"), target (&owner), file (std::move (f)), generation (gen)
    {}

    JobStatus runJob() override
    {
        auto result = WaveformSummary::compute (file, numBuckets, [this] { return shouldExit(); });
        if (shouldExit())
            return jobHasFinished;

        // The component may be gone by the time the message arrives: the safe pointer
        // and the generation both have to match.
        juce::MessageManager::callAsync ([target = target, gen = generation, result = std::move (result)]() mutable {
            if (auto* c = target.getComponent(); c != nullptr && c->generation == gen)
            {
                c->summary = std::move (result);
                c->repaint();
                if (c->onSummaryReady)
                    c->onSummaryReady();
            }
        });
        return jobHasFinished;
    }

private:
    juce::Component::SafePointer<WaveformOverviewComponent> target;
    juce::File file;
    int generation;
};

//==============================================================================
WaveformOverviewComponent::WaveformOverviewComponent()
{
    setComponentID ("overview");
}

WaveformOverviewComponent::~WaveformOverviewComponent()
{
    pool.removeAllJobs (true, jobStopTimeoutMs);
}

void WaveformOverviewComponent::setAudioFile (const juce::File& file)
{
    JUCE_ASSERT_MESSAGE_THREAD
    pool.removeAllJobs (true, jobStopTimeoutMs);
    ++generation;
    audioFile = file;
    summary = {};
    playhead = 0.0;
    if (file != juce::File())
        pool.addJob (new OutlineJob (*this, file, generation), true);
    repaint();
}

void WaveformOverviewComponent::setPlayheadPosition (double normalised)
{
    if (playhead == normalised)
        return;
    playhead = normalised;
    repaint();
}

void WaveformOverviewComponent::setLoop (juce::Range<float> normalisedArea, bool enabled)
{
    if (loopArea == normalisedArea && loopEnabled == enabled)
        return;
    loopArea = normalisedArea;
    loopEnabled = enabled;
    repaint();
}

void WaveformOverviewComponent::setDropHighlight (bool shouldHighlight)
{
    if (dropHighlight == shouldHighlight)
        return;
    dropHighlight = shouldHighlight;
    repaint();
}

void WaveformOverviewComponent::paint (juce::Graphics& g)
{
    const auto bounds = getLocalBounds().toFloat();
    g.fillAll (Palette::background);

    if (dropHighlight)
    {
        constexpr float dashLength = 8.0f, outlineThickness = 2.0f, inset = 8.0f;
        const float dashes[] = { dashLength, dashLength };
        juce::Path outline;
        outline.addRoundedRectangle (bounds.reduced (inset), inset);
        juce::Path dashed;
        juce::PathStrokeType (outlineThickness).createDashedStroke (dashed, outline, dashes, 2);
        g.setColour (Palette::accent);
        g.fillPath (dashed);
    }

    if (isShowingDropHint())
    {
        constexpr float hintFontSize = 22.0f;
        g.setColour (dropHighlight ? Palette::accent : Palette::dimText);
        g.setFont (juce::Font (hintFontSize));
        g.drawText (dropHintText, getLocalBounds(), juce::Justification::centred);
        return;
    }

    const auto width = getWidth();
    const auto midY = bounds.getCentreY();
    const auto halfHeight = bounds.getHeight() * 0.45f; // a little headroom above full scale

    if (loopEnabled && ! loopArea.isEmpty())
    {
        g.setColour (Palette::accent.withAlpha (0.12f));
        g.fillRect (juce::Rectangle<float> (loopArea.getStart() * (float) width, 0.0f, loopArea.getLength() * (float) width,
                                            bounds.getHeight()));
    }

    g.setColour (Palette::outline);
    g.drawHorizontalLine ((int) midY, 0.0f, (float) width);

    if (! summary.isEmpty() && width > 0)
    {
        g.setColour (Palette::accent);
        const auto n = summary.getNumBuckets();
        for (int x = 0; x < width; ++x)
        {
            // The union of the buckets under this pixel column.
            const auto first = (int) ((juce::int64) x * n / width);
            const auto last = juce::jmax (first + 1, (int) ((juce::int64) (x + 1) * n / width));
            auto range = summary.getBucket (first);
            for (int b = first + 1; b < last; ++b)
                range = range.getUnionWith (summary.getBucket (b));
            const auto top = midY - juce::jlimit (-1.0f, 1.0f, range.getEnd()) * halfHeight;
            const auto bottom = midY - juce::jlimit (-1.0f, 1.0f, range.getStart()) * halfHeight;
            g.drawVerticalLine (x, top, juce::jmax (top + 1.0f, bottom));
        }
    }

    g.setColour (Palette::playhead);
    const auto x = (float) (playhead * width);
    g.drawLine (x, 0.0f, x, bounds.getHeight(), 1.5f);

    if (focusRange)
    {
        constexpr float cornerRadius = 10.0f, lineThickness = 8.0f;
        const auto x0 = (float) (focusRange->getStart() * width), x1 = (float) (focusRange->getEnd() * width);
        g.setColour (juce::Colours::black);
        g.drawRoundedRectangle (juce::Rectangle<float> (x0, 0.0f, x1 - x0, bounds.getHeight()), cornerRadius, lineThickness);
        g.setColour (juce::Colour (0x7f000000));
        g.fillRect (juce::Rectangle<float> (0.0f, 0.0f, x0, bounds.getHeight()));
        g.fillRect (juce::Rectangle<float> (x1, 0.0f, (float) width - x1, bounds.getHeight()));
    }
}

void WaveformOverviewComponent::setFocusRange (std::optional<juce::Range<double>> normalisedRange)
{
    if (normalisedRange != focusRange)
    {
        focusRange = normalisedRange;
        repaint();
    }
}

void WaveformOverviewComponent::mouseDown (const juce::MouseEvent& e)
{
    seekTo (e);
}

void WaveformOverviewComponent::mouseDrag (const juce::MouseEvent& e)
{
    seekTo (e);
}

void WaveformOverviewComponent::seekTo (const juce::MouseEvent& e)
{
    if (isShowingDropHint() || getWidth() <= 0 || ! onSeek)
        return;
    onSeek (juce::jlimit (0.0, 1.0, (double) e.x / getWidth()));
}

} // namespace kalder
