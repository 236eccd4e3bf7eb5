#include "SelectionOutline.h"

namespace kalder
{

namespace
{
    constexpr int jobStopTimeoutMs = 2000;
    constexpr float selectedFrom = 0.5f;
} // namespace

SelectionOutline::SelectionOutline() = default;

SelectionOutline::~SelectionOutline()
{
    pool.removeAllJobs (true, jobStopTimeoutMs);
}

juce::Path SelectionOutline::outlineOf (const std::vector<bool>& inside, int width, int height)
{
    juce::Path p;
    auto in = [&] (int x, int y) { return x >= 0 && y >= 0 && x < width && y < height && inside[(size_t) (y * width + x)]; };
    // Horizontal edges: between row y - 1 and row y, as runs along x.
    for (int y = 0; y <= height; ++y)
        for (int x = 0; x < width;)
        {
            if (in (x, y - 1) == in (x, y))
            {
                ++x;
                continue;
            }
            const auto start = x;
            while (x < width && in (x, y - 1) != in (x, y))
                ++x;
            p.startNewSubPath ((float) start, (float) y);
            p.lineTo ((float) x, (float) y);
        }
    // Vertical edges: between column x - 1 and column x, as runs along y.
    for (int x = 0; x <= width; ++x)
        for (int y = 0; y < height;)
        {
            if (in (x - 1, y) == in (x, y))
            {
                ++y;
                continue;
            }
            const auto start = y;
            while (y < height && in (x - 1, y) != in (x, y))
                ++y;
            p.startNewSubPath ((float) x, (float) start);
            p.lineTo ((float) x, (float) y);
        }
    return p;
}

void SelectionOutline::clear()
{
    pool.removeAllJobs (false, 0);
    {
        const std::lock_guard<std::mutex> sl (lock);
        if (path.isEmpty())
            return;
        path.clear();
    }
    ++version;
}

void SelectionOutline::request (Request r)
{
    pool.removeAllJobs (false, 0); // a newer view replaces one not started
    if (r.track == nullptr || r.frameOfColumn.empty() || r.binOfRow.empty())
        return clear();
    pool.addJob ([this, r = std::move (r)] {
        auto* asig = r.track->getAsig();
        if (asig == nullptr || ! asig->isReady())
            return;
        const auto width = (int) r.frameOfColumn.size(), height = (int) r.binOfRow.size();
        std::vector<bool> inside ((size_t) (width * height), false);
        // One read of the store per distinct frame under the view's columns.
        int lastFrame = -1;
        MaskMatrix column;
        for (int x = 0; x < width; ++x)
        {
            const auto f = r.frameOfColumn[(size_t) x];
            if (f < 0)
                continue;
            if (f != lastFrame)
            {
                column = asig->getSelection ({ f, f + 1 });
                lastFrame = f;
            }
            for (int y = 0; y < height; ++y)
            {
                const auto b = r.binOfRow[(size_t) y];
                inside[(size_t) (y * width + x)] = b >= 0 && b < column.rows() && column.cols() > 0
                                                   && column (b, 0) >= selectedFrom;
            }
        }
        auto outline = outlineOf (inside, width, height);
        {
            const std::lock_guard<std::mutex> sl (lock);
            path = std::move (outline);
            pathFocus = r.focus;
            pathWidth = width;
            pathHeight = height;
        }
        ++version;
    });
}

juce::Path SelectionOutline::getPath() const
{
    const std::lock_guard<std::mutex> sl (lock);
    return path;
}

bool SelectionOutline::isEmpty() const
{
    const std::lock_guard<std::mutex> sl (lock);
    return path.isEmpty();
}

void SelectionOutline::paint (juce::Graphics& g, int phase, FocusArea::Rect focus, int width, int height) const
{
    juce::Path p;
    {
        const std::lock_guard<std::mutex> sl (lock);
        if (path.isEmpty() || pathWidth <= 0 || pathHeight <= 0 || width <= 0 || height <= 0)
            return;
        // Pixels of the view it was found for -> fractions of the image -> pixels now.
        auto axis = [] (double oldCentre, double oldSize, int oldPixels, double newCentre, double newSize, int newPixels) {
            const auto scale = oldSize / oldPixels * newPixels / newSize;
            const auto offset = ((oldCentre - oldSize / 2.0) - (newCentre - newSize / 2.0)) / newSize * newPixels;
            return std::pair { (float) scale, (float) offset };
        };
        const auto [sx, tx] = axis (pathFocus.centreX, pathFocus.width, pathWidth, focus.centreX, focus.width, width);
        const auto [sy, ty] = axis (pathFocus.centreY, pathFocus.height, pathHeight, focus.centreY, focus.height, height);
        p = path;
        p.applyTransform (juce::AffineTransform::scale (sx, sy).translated (tx, ty));
    }
    // Each run solid in one colour with dashes of the other over it; the runs are
    // straight, so the dashes are cut here rather than by a general path dasher.
    constexpr float dash = 4.0f;
    g.setColour (phase == 0 ? juce::Colours::black : juce::Colours::white);
    g.strokePath (p, juce::PathStrokeType (1.0f));
    g.setColour (phase == 0 ? juce::Colours::white : juce::Colours::black);
    juce::Path::Iterator it (p);
    juce::Point<float> from;
    while (it.next())
    {
        if (it.elementType == juce::Path::Iterator::startNewSubPath)
            from = { it.x1, it.y1 };
        else if (it.elementType == juce::Path::Iterator::lineTo)
        {
            const juce::Line<float> run (from, { it.x1, it.y1 });
            for (float d = 0.0f; d < run.getLength(); d += 2.0f * dash)
                g.drawLine ({ run.getPointAlongLine (d), run.getPointAlongLine (juce::jmin (run.getLength(), d + dash)) }, 1.0f);
            from = run.getEnd();
        }
    }
}

} // namespace kalder
