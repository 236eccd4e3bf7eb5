#include "TrackListComponent.h"

#include "KalderLookAndFeel.h"
#include "TrackControls.h"
#include "WaveformSummary.h"
#include "separation/SeparationTracker.h"

namespace kalder
{

namespace
{
    using Palette = KalderLookAndFeel::Palette;

    constexpr int rowHeight = TrackListComponent::rowHeight;
    constexpr int swatchWidth = 6;    // pixels: the track's colour at the row's left
    constexpr int collapseWidth = 18; // pixels: the collapse button
    constexpr int dragDistance = 5;   // pixels the mouse moves before a row is dragged
    constexpr int gap = 6;            // pixels between controls
    constexpr int buttonWidth = 28;   // pixels, solo and mute

    // Widths the row's controls get when there is room, and the least they shrink to
    // (the name still shows about ten characters, the sliders stay usable).
    constexpr float nameWidth = 180.0f, minNameWidth = 80.0f;
    constexpr float volumeWidth = 196.0f, minVolumeWidth = 116.0f;
    constexpr float panWidth = 90.0f, minPanWidth = 50.0f;
    constexpr float analysisWidth = 200.0f, minAnalysisWidth = 110.0f;
    constexpr float separationWidth = 280.0f;
    constexpr int cancelWidth = 60;
    constexpr float thumbnailWidth = 120.0f, minThumbnailWidth = 48.0f;
    constexpr int thumbnailBuckets = 240; // twice the thumbnail's width: crisp at 200 %

    /** The track's waveform, small: its min/max outline in the track's colour. */
    class Thumbnail : public juce::Component
    {
    public:
        Thumbnail()
        {
            setComponentID ("thumbnail");
            setInterceptsMouseClicks (false, false); // a click picks the track
        }

        void setSummary (WaveformSummary s)
        {
            summary = std::move (s);
            repaint();
        }
        bool hasSummary() const noexcept { return ! summary.isEmpty(); }
        void setColour (juce::Colour c)
        {
            colour = c;
            repaint();
        }

        void paint (juce::Graphics& g) override
        {
            g.setColour (Palette::background);
            g.fillRect (getLocalBounds());
            if (summary.isEmpty())
                return;
            const auto h = (float) getHeight(), mid = h / 2.0f;
            const auto n = summary.getNumBuckets();
            g.setColour (colour);
            for (int x = 0; x < getWidth(); ++x)
            {
                const auto first = x * n / juce::jmax (1, getWidth()), last = juce::jmax (first + 1, (x + 1) * n / getWidth());
                auto range = summary.getBucket (first);
                for (int i = first + 1; i < juce::jmin (last, n); ++i)
                    range = range.getUnionWith (summary.getBucket (i));
                const auto top = mid - juce::jlimit (0.0f, 1.0f, range.getEnd()) * mid;
                const auto bottom = mid - juce::jlimit (-1.0f, 0.0f, range.getStart()) * mid;
                g.fillRect ((float) x, top, 1.0f, juce::jmax (1.0f, bottom - top));
            }
        }

    private:
        WaveformSummary summary;
        juce::Colour colour { Palette::accent };
    };
} // namespace

//==============================================================================
/** One track's controls. */
class TrackListComponent::Row :
    public juce::Component,
    private juce::ValueTree::Listener,
    private AudioTrack::Listener,
    private juce::Timer
{
public:
    explicit Row (AudioTrack::Ptr t)
        : track (std::move (t)), controls (track, juce::Slider::LinearHorizontal, juce::Slider::LinearHorizontal)
    {
        collapse.setComponentID ("collapse");
        collapse.setClickingTogglesState (true);
        collapse.onClick = [this] {
            updateCollapseButton();
            if (onCollapse)
                onCollapse (collapse.getToggleState());
        };
        addChildComponent (collapse);

        separation.setComponentID ("separation");
        separation.setColour (juce::ProgressBar::foregroundColourId, Palette::accent);
        addChildComponent (separation);
        cancelSeparation.setComponentID ("cancelSeparation");
        cancelSeparation.setButtonText ("Cancel");
        cancelSeparation.setTooltip ("Cancel the separation");
        cancelSeparation.onClick = [this] {
            if (onCancelSeparation)
                onCancelSeparation();
        };
        addChildComponent (cancelSeparation);

        nameLabel.setComponentID ("name");
        nameLabel.setText (track->getName(), juce::dontSendNotification);
        nameLabel.setColour (juce::Label::textColourId, Palette::text);
        nameLabel.setInterceptsMouseClicks (false, false); // a click on the name picks the track
        nameLabel.setTitle ("Track name");
        nameLabel.onEditorShow = [this] {
            if (auto* editor = nameLabel.getCurrentTextEditor())
                editor->setInputRestrictions (AudioTrack::maxNameLength);
        };
        nameLabel.onTextChange = [this] {
            // A refused name (nothing but spaces) puts the old one back.
            track->rename (nameLabel.getText());
            updateFromTrack();
        };

        addAndMakeVisible (thumbnail);
        analysis.setComponentID ("analysis");
        analysis.setColour (juce::ProgressBar::foregroundColourId, Palette::accent);
        addChildComponent (analysis);

        KalderLookAndFeel::focusableByTabOnly (collapse);
        KalderLookAndFeel::focusableByTabOnly (cancelSeparation);
        nameLabel.setWantsKeyboardFocus (false);
        addAndMakeVisible (nameLabel);
        controls.addTo (*this);

        updateFromTrack();
        track->getTree().addListener (this);
        track->addListener (this);
        updateSeparation();
    }

    ~Row() override
    {
        track->removeListener (this);
        track->getTree().removeListener (this);
    }

    /** Called when the user cancels the track's separation. */
    std::function<void()> onCancelSeparation;

    /** The separation's label as the row shows it, empty while none runs. */
    juce::String getShownSeparation() const { return separation.isVisible() ? separationText : juce::String(); }

    AudioTrack* getTrack() const noexcept { return track.get(); }
    AudioTrack::Ptr getTrackPtr() const noexcept { return track; }

    /** Where the row sits in the tree: its depth, and whether it has children to
        collapse (and whether they are collapsed). */
    void setPlace (int newDepth, bool hasChildren, bool isCollapsed)
    {
        depth = newDepth;
        collapse.setVisible (hasChildren);
        collapse.setToggleState (isCollapsed, juce::dontSendNotification);
        updateCollapseButton();
        resized();
    }
    int getDepth() const noexcept { return depth; }

    void startRenaming() { nameLabel.showEditor(); }

    /** Draws the track's waveform once pool has read it (off the message thread). */
    void startThumbnail (juce::ThreadPool& pool)
    {
        pool.addJob ([file = track->getAudioFile(), safe = juce::Component::SafePointer<Row> (this)] {
            auto summary = WaveformSummary::compute (file, thumbnailBuckets, [] {
                auto* job = juce::ThreadPoolJob::getCurrentThreadPoolJob();
                return job != nullptr && job->shouldExit(); // the panel is going
            });
            juce::MessageManager::callAsync ([safe, summary = std::move (summary)]() mutable {
                if (safe != nullptr)
                    safe->thumbnail.setSummary (std::move (summary));
            });
        });
    }
    bool hasThumbnail() const noexcept { return thumbnail.hasSummary(); }

    /** Called when the user clicks the row outside its controls, with the keys held. */
    std::function<void (juce::ModifierKeys)> onActivate;

    /** Shown as one of the tracks a command for several works on. */
    void setSelected (bool shouldBeSelected)
    {
        if (selected != shouldBeSelected)
        {
            selected = shouldBeSelected;
            repaint();
        }
    }
    bool isSelected() const noexcept { return selected; }

    /** Called when the analysis of the row's track fails, with the reason. */
    std::function<void (const juce::String&)> onAnalysisFailed;

    /** Called when the user collapses (true) or expands the row's children. */
    std::function<void (bool)> onCollapse;

    void mouseDown (const juce::MouseEvent& e) override
    {
        if (onActivate)
            onActivate (e.mods);
        if (e.mods.isPopupMenu() && onContextMenu)
            onContextMenu();
    }

    void mouseDoubleClick (const juce::MouseEvent& e) override
    {
        if (! e.mods.isPopupMenu() && nameLabel.getBounds().contains (e.getPosition()))
            startRenaming();
    }

    void mouseDrag (const juce::MouseEvent& e) override
    {
        if (e.mods.isPopupMenu() || e.getDistanceFromDragStart() < dragDistance)
            return;
        if (auto* container = juce::DragAndDropContainer::findParentDragContainerFor (this);
            container != nullptr && ! container->isDragAndDropActive())
            container->startDragging (dragDescription, this);
    }

    static constexpr const char* dragDescription = "kalder track row";

    /** Called on a right click, after the row's track became the active one. */
    std::function<void()> onContextMenu;

    /** True while the track's store is being analysed and the row shows how far it got. */
    bool isShowingAnalysis() const noexcept { return analysis.isVisible(); }
    double getShownAnalysisProgress() const noexcept { return analysisProgress; }

    void resized() override
    {
        // One line that shrinks the name and the sliders before anything overlaps.
        juce::FlexBox line;
        line.alignItems = juce::FlexBox::AlignItems::center;
        const auto margin = juce::FlexItem::Margin (0.0f, (float) gap, 0.0f, 0.0f);
        const auto height = (float) (rowHeight - 2 * gap);
        auto add = [&] (juce::Component& c, float width, float minWidth) {
            line.items.add (juce::FlexItem (c)
                                .withWidth (width)
                                .withMinWidth (minWidth)
                                .withHeight (height)
                                .withFlex (0.0f, width > minWidth ? 1.0f : 0.0f)
                                .withMargin (margin));
        };
        // The name's slot also holds the indentation and the collapse button, so that
        // the controls of every generation line up in columns.
        add (nameLabel, nameWidth + (float) collapseWidth, minNameWidth + (float) collapseWidth);
        add (thumbnail, thumbnailWidth, minThumbnailWidth);
        add (controls.solo, (float) buttonWidth, (float) buttonWidth);
        add (controls.mute, (float) buttonWidth, (float) buttonWidth);
        add (controls.volume, volumeWidth, minVolumeWidth);
        add (controls.pan, panWidth, minPanWidth);
        if (analysis.isVisible())
            add (analysis, analysisWidth, minAnalysisWidth);
        if (separation.isVisible())
        {
            add (separation, separationWidth, minAnalysisWidth);
            add (cancelSeparation, (float) cancelWidth, (float) cancelWidth);
        }

        auto area = getLocalBounds().reduced (gap, 0);
        area.removeFromLeft (swatchWidth + gap);
        line.performLayout (area);
        auto slot = nameLabel.getBounds();
        slot.removeFromLeft (juce::jmin (depth * TrackListComponent::indentWidth, slot.getWidth() / 2));
        collapse.setBounds (slot.removeFromLeft (collapseWidth).withSizeKeepingCentre (collapseWidth, collapseWidth));
        nameLabel.setBounds (slot);
    }

    void paint (juce::Graphics& g) override
    {
        g.setColour (selected ? Palette::outline : Palette::panel);
        g.fillRect (getLocalBounds().reduced (0, 1));
        const auto stored = track->getTree()[TrackIds::colour].toString();
        const auto colour = stored.isNotEmpty() ? juce::Colour::fromString (stored) : Palette::accent;
        g.setColour (colour);
        g.fillRect (getLocalBounds().reduced (0, 1).removeFromLeft (swatchWidth));
        thumbnail.setColour (colour.withAlpha (0.8f));
        if (depth > 0) // a line from the parent's column to this row
        {
            g.setColour (Palette::outline);
            const auto x = (float) (gap + swatchWidth + gap + (depth - 1) * TrackListComponent::indentWidth + collapseWidth / 2);
            g.drawLine (x, 0.0f, x, (float) getHeight() / 2.0f);
            g.drawLine (x, (float) getHeight() / 2.0f, x + (float) TrackListComponent::indentWidth - 2.0f,
                        (float) getHeight() / 2.0f);
        }
        if (track->isActive()) // the track the editors and the Selection commands work on
        {
            g.setColour (Palette::accent);
            g.drawRect (getLocalBounds().reduced (0, 1), 2);
        }
    }

private:
    bool selected = false;

    void valueTreePropertyChanged (juce::ValueTree& changed, const juce::Identifier& property) override
    {
        updateFromTrack();
        if (property == TrackIds::asigError && changed[property].toString().isNotEmpty() && onAnalysisFailed)
            onAnalysisFailed (changed[property].toString());
    }

    void audioTrackSeparationStarted (AudioTrack::Ptr, const AudioTrack::RunningSeparation&) override { updateSeparation(); }
    void audioTrackSeparationProgressed (float, AudioTrack::Ptr) override { updateSeparation(); }
    void timerCallback() override { updateSeparation(); }

    /** The running separation's stage, progress and time left, with its cancel button. */
    void updateSeparation()
    {
        auto tracker = separation::SeparationTracker::of (*track);
        const bool running = tracker != nullptr && track->isBusy();
        if (running)
        {
            separationProgress = juce::jlimit (0.0, 1.0, (double) track->getSeparationProgress());
            const auto left = tracker->getTimeLeftText();
            separationText = tracker->getStatus() == separation::SeparationTracker::Status::waiting
                                 ? juce::String ("Separation: queued")
                                 : tracker->getLabel() + (left.isNotEmpty() ? ", " + left : juce::String());
            separation.setTextToDisplay (separationText);
            separation.setTooltip (separationText);
        }
        if (running != separation.isVisible())
        {
            separation.setVisible (running);
            cancelSeparation.setVisible (running);
            resized();
        }
        if (running && ! isTimerRunning())
            startTimer (250);
        else if (! running)
            stopTimer();
    }

    void updateCollapseButton()
    {
        const auto collapsed = collapse.getToggleState();
        collapse.setButtonText (collapsed ? juce::String::fromUTF8 ("\xe2\x96\xb8") : juce::String::fromUTF8 ("\xe2\x96\xbe"));
        collapse.setTooltip (collapsed ? "Show the tracks made from this one" : "Hide the tracks made from this one");
        collapse.setTitle (collapsed ? "Expand" : "Collapse");
    }

    void updateFromTrack()
    {
        const auto& tree = track->getTree();
        if (! nameLabel.isBeingEdited())
            nameLabel.setText (track->getName(), juce::dontSendNotification);
        nameLabel.setTooltip (track->getName()); // the whole name, when the row shortens it
        setTitle (track->getName());

        // The final progress report may arrive before or after the store is marked ready.
        analysisProgress = juce::jlimit (0.0, 1.0, (double) tree[TrackIds::asigProgress]);
        const auto error = tree[TrackIds::asigError].toString();
        const auto analysing = ! track->isStoreReady() && (analysisProgress < 1.0 || error.isNotEmpty());
        analysis.setTextToDisplay (error.isNotEmpty()
                                       ? juce::String ("Analysis failed")
                                       : "Analysing " + juce::String (juce::roundToInt (analysisProgress * 100.0)) + "%");
        analysis.setTooltip (error);
        if (analysing != analysis.isVisible())
        {
            analysis.setVisible (analysing);
            resized();
        }
        repaint();
    }

    AudioTrack::Ptr track;
    int depth = 0;
    juce::TextButton collapse;
    juce::Label nameLabel;
    TrackControls controls;
    Thumbnail thumbnail;
    double analysisProgress = 0.0; // read by the progress bar on its timer
    juce::ProgressBar analysis { analysisProgress };
    double separationProgress = 0.0;
    juce::String separationText;
    juce::ProgressBar separation { separationProgress };
    juce::TextButton cancelSeparation;
};

//==============================================================================
/** The rows, inside the viewport; the target of rows dragged onto each other. */
class TrackListComponent::Rows : public juce::Component, public juce::DragAndDropTarget
{
public:
    explicit Rows (TrackListComponent& o) : owner (o) {}

    bool isInterestedInDragSource (const SourceDetails& details) override { return draggedTrack (details) != nullptr; }

    void itemDragMove (const SourceDetails& details) override
    {
        show (owner.getDropAt (*draggedTrack (details), toOwner (details)));
    }
    void itemDragExit (const SourceDetails&) override { show ({}); }

    void itemDropped (const SourceDetails& details) override
    {
        show ({});
        if (auto track = draggedTrack (details))
            owner.performDrop (track, owner.getDropAt (*track, toOwner (details)));
    }

    void show (const Drop& d)
    {
        if (d.kind != shown.kind || d.target != shown.target)
        {
            shown = d;
            repaint();
        }
    }

    void paint (juce::Graphics& g) override { g.fillAll (Palette::background); }

    void paintOverChildren (juce::Graphics& g) override
    {
        const auto index = owner.getRowOfTrack (shown.target.get());
        if (shown.kind == Drop::Kind::nothing || index < 0)
            return;
        const auto row = owner.rows[index]->getBounds();
        g.setColour (Palette::accent);
        if (shown.kind == Drop::Kind::mergeInto)
            g.drawRect (row, 3); // pixels
        else
            g.fillRect (row.withHeight (3).withY (shown.kind == Drop::Kind::moveBefore ? row.getY() : row.getBottom() - 3));
    }

private:
    AudioTrack::Ptr draggedTrack (const SourceDetails& details) const
    {
        auto* row = dynamic_cast<Row*> (details.sourceComponent.get());
        return row != nullptr && owner.rows.contains (row) ? row->getTrackPtr() : nullptr;
    }

    juce::Point<int> toOwner (const SourceDetails& details) const { return owner.getLocalPoint (this, details.localPosition); }

    TrackListComponent& owner;
    Drop shown;
};

//==============================================================================
TrackListComponent::TrackListComponent (Mixer& m) : mixer (m), content (std::make_unique<Rows> (*this))
{
    viewport.setTitle ("Tracks");
    viewport.setViewedComponent (content.get(), false);
    viewport.setScrollBarsShown (true, false);
    viewport.setScrollOnDragMode (juce::Viewport::ScrollOnDragMode::never); // a drag moves a track
    addAndMakeVisible (viewport);
    mixer.addListener (this);
    refresh();
}

TrackListComponent::~TrackListComponent()
{
    thumbnailPool.removeAllJobs (true, 10000); // ms: a job reads one file
    mixer.removeListener (this);
    rows.clear();
}

void TrackListComponent::trackListChanged()
{
    refresh();
}

void TrackListComponent::refresh()
{
    JUCE_ASSERT_MESSAGE_THREAD
    const auto tracks = mixer.getAllTracks();
    for (int i = collapsed.size(); --i >= 0;)
        if (! tracks.contains (collapsed[i]))
            collapsed.remove (i);

    auto hasChildren = [&] (const AudioTrack* t) {
        for (auto* other : tracks)
            if (other->getParentTrack() == t)
                return true;
        return false;
    };
    auto depthOf = [&] (const AudioTrack* t) {
        int depth = 0;
        for (auto* p = t->getParentTrack(); p != nullptr && tracks.contains (p) && depth < tracks.size(); p = p->getParentTrack())
            ++depth;
        return depth;
    };
    auto isHidden = [&] (const AudioTrack* t) {
        int steps = 0;
        for (auto* p = t->getParentTrack(); p != nullptr && tracks.contains (p) && ++steps <= tracks.size();
             p = p->getParentTrack())
            if (collapsed.contains (p))
                return true;
        return false;
    };

    // Keep the rows of tracks that stay, so a drag on a slider is not cut short.
    juce::OwnedArray<Row> kept;
    for (auto* track : Mixer::inTreeOrder (tracks))
    {
        if (isHidden (track))
            continue;
        int found = -1;
        for (int i = 0; i < rows.size() && found < 0; ++i)
            if (rows[i]->getTrack() == track)
                found = i;
        auto* row = kept.add (found >= 0 ? rows.removeAndReturn (found) : new Row (track));
        if (found < 0)
            row->startThumbnail (thumbnailPool);
        const AudioTrack::Ptr t (track);
        row->setPlace (depthOf (track), hasChildren (track), collapsed.contains (track));
        row->onActivate = [this, t] (juce::ModifierKeys mods) { clickedRow (t, mods); };
        row->onContextMenu = [this, t] {
            if (onContextMenu)
                onContextMenu (t);
        };
        row->onCancelSeparation = [this, t] {
            if (onCancelSeparation)
                onCancelSeparation (t);
        };
        row->onAnalysisFailed = [this, t] (const juce::String& message) {
            if (onAnalysisFailed)
                onAnalysisFailed (t, message);
        };
        row->onCollapse = [this, t] (bool shouldCollapse) {
            // Later: the button's own click is still on the stack.
            juce::MessageManager::callAsync ([safe = juce::Component::SafePointer<TrackListComponent> (this), t, shouldCollapse] {
                if (safe != nullptr)
                    safe->setCollapsed (*t, shouldCollapse);
            });
        };
        row->repaint(); // the active track may have changed
    }
    const auto selectedBefore = selected.size();
    for (int i = selected.size(); --i >= 0;) // a track gone or folded away is no longer selected
        if (! tracks.contains (selected[i]) || isHidden (selected[i]))
            selected.remove (i);
    if (anchor != nullptr && ! tracks.contains (anchor.get()))
        anchor = nullptr; // nor is a gone track kept alive here
    const auto rowsBefore = rows.size();
    rows.clear();
    rows.swapWith (kept);

    for (auto* row : rows)
        content->addAndMakeVisible (row);
    showSelection();
    resized();
    repaint();
    if (rows.size() != rowsBefore && onNumRowsChanged)
        onNumRowsChanged();
    if (selected.size() != selectedBefore && onSelectionChanged)
        onSelectionChanged();
}

void TrackListComponent::clickedRow (AudioTrack::Ptr track, juce::ModifierKeys mods)
{
    auto chosen = [this] {
        juce::Array<const AudioTrack*> a;
        for (auto* t : selected)
            a.add (t);
        return a;
    };
    const auto before = chosen();
    if (mods.isShiftDown() && getRowOfTrack (anchor.get()) >= 0)
    {
        // The rows from the last plain click to this one.
        const auto from = getRowOfTrack (anchor.get()), to = getRowOfTrack (track.get());
        selected.clear();
        for (int i = juce::jmin (from, to); i <= juce::jmax (from, to); ++i)
            selected.add (rows[i]->getTrackPtr());
    }
    else if (mods.isCommandDown())
    {
        if (selected.isEmpty() && mixer.getActiveTrack() != nullptr && mixer.getActiveTrack() != track)
            selected.add (mixer.getActiveTrack()); // the active track was the selection so far
        if (selected.contains (track.get()))
            selected.removeObject (track.get());
        else
            selected.add (track);
    }
    else if (! (mods.isPopupMenu() && selected.contains (track.get()))) // a menu on the selection keeps it
    {
        selected.clear();
        selected.add (track);
        anchor = track;
    }
    mixer.setActiveTrack (track);
    showSelection();
    if (before != chosen() && onSelectionChanged)
        onSelectionChanged();
}

void TrackListComponent::showSelection()
{
    // One chosen row is the active one, which its border shows already.
    for (auto* row : rows)
        row->setSelected (selected.size() > 1 && selected.contains (row->getTrack()));
}

juce::ReferenceCountedArray<AudioTrack> TrackListComponent::getSelectedTracks() const
{
    juce::ReferenceCountedArray<AudioTrack> result;
    for (auto* row : rows) // in the panel's order
        if (selected.contains (row->getTrack()))
            result.add (row->getTrackPtr());
    if (result.isEmpty())
        if (auto active = mixer.getActiveTrack())
            result.add (active);
    return result;
}

void TrackListComponent::setCollapsed (const AudioTrack& track, bool shouldCollapse)
{
    auto* t = const_cast<AudioTrack*> (&track);
    if (shouldCollapse == collapsed.contains (t))
        return;
    if (shouldCollapse)
        collapsed.add (t);
    else
        collapsed.removeObject (t);
    refresh();
}

bool TrackListComponent::isCollapsed (const AudioTrack& track) const noexcept
{
    return collapsed.contains (&track);
}

void TrackListComponent::startRenaming (const AudioTrack& track)
{
    for (auto* p = track.getParentTrack(); p != nullptr && collapsed.size() > 0; p = p->getParentTrack())
        setCollapsed (*p, false);
    const auto index = getRowOfTrack (&track);
    if (index < 0)
        return;
    viewport.setViewPosition (0, juce::jmax (0, rows[index]->getY() - viewport.getHeight() / 2));
    rows[index]->startRenaming();
}

TrackListComponent::Drop TrackListComponent::getDropAt (const AudioTrack& dragged, juce::Point<int> position) const
{
    const auto inRows = content->getLocalPoint (this, position);
    for (auto* row : rows)
    {
        if (! row->getBounds().contains (inRows))
            continue;
        auto* target = row->getTrack();
        if (target == &dragged)
            return {};
        const auto fraction = (double) (inRows.y - row->getY()) / (double) juce::jmax (1, row->getHeight());
        const auto edge = fraction < 0.25   ? Drop::Kind::moveBefore
                          : fraction > 0.75 ? Drop::Kind::moveAfter
                                            : Drop::Kind::nothing;
        if (edge != Drop::Kind::nothing)
        {
            // Only siblings trade places: a track stays under the track it was made from.
            if (target->getParentTrack() == dragged.getParentTrack())
                return { edge, target };
            return {};
        }
        return { Drop::Kind::mergeInto, target };
    }
    return {};
}

void TrackListComponent::performDrop (AudioTrack::Ptr dragged, const Drop& drop)
{
    if (dragged == nullptr || drop.target == nullptr || drop.target == dragged)
        return;
    if (drop.kind == Drop::Kind::mergeInto)
    {
        if (onMergeRequested)
            onMergeRequested (drop.target, dragged);
        return;
    }
    const auto tracks = mixer.getAllTracks();
    const auto from = tracks.indexOf (dragged), at = tracks.indexOf (drop.target);
    if (from < 0 || at < 0 || (drop.kind != Drop::Kind::moveBefore && drop.kind != Drop::Kind::moveAfter))
        return;
    auto to = at + (drop.kind == Drop::Kind::moveAfter ? 1 : 0);
    if (from < to)
        --to;
    mixer.setTrackPosition (dragged, to);
}

juce::Component* TrackListComponent::getRow (int index) const noexcept
{
    return rows[index];
}

AudioTrack* TrackListComponent::getTrackOfRow (int index) const noexcept
{
    auto* row = rows[index];
    return row != nullptr ? row->getTrack() : nullptr;
}

int TrackListComponent::getRowOfTrack (const AudioTrack* track) const noexcept
{
    for (int i = 0; i < rows.size(); ++i)
        if (rows[i]->getTrack() == track)
            return i;
    return -1;
}

bool TrackListComponent::hasThumbnail (int index) const noexcept
{
    auto* row = rows[index];
    return row != nullptr && row->hasThumbnail();
}

int TrackListComponent::getDepthOfRow (int index) const noexcept
{
    auto* row = rows[index];
    return row != nullptr ? row->getDepth() : 0;
}

std::optional<double> TrackListComponent::getShownAnalysisProgress (int index) const
{
    auto* row = rows[index];
    if (row == nullptr || ! row->isShowingAnalysis())
        return std::nullopt;
    return row->getShownAnalysisProgress();
}

juce::String TrackListComponent::getShownSeparation (int index) const
{
    auto* row = rows[index];
    return row != nullptr ? row->getShownSeparation() : juce::String();
}

void TrackListComponent::resized()
{
    viewport.setBounds (getLocalBounds());
    const auto scrolls = rows.size() * rowHeight > getHeight();
    const auto width = getWidth() - (scrolls ? viewport.getScrollBarThickness() : 0);
    content->setSize (juce::jmax (0, width), rows.size() * rowHeight);
    auto area = content->getLocalBounds();
    for (auto* row : rows)
        row->setBounds (area.removeFromTop (rowHeight));
}

void TrackListComponent::paint (juce::Graphics& g)
{
    g.fillAll (Palette::background);
}

} // namespace kalder
