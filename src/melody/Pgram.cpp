#include "Pgram.h"

#include "base/DurableFile.h"

#include <algorithm>
#include <cstdio>

namespace kalder
{

bool Pgram::comesBefore (const PitchLine& a, const PitchLine& b) noexcept
{
    return a.getStartX() < b.getStartX() || (a.getStartX() == b.getStartX() && a.getEndX() < b.getEndX());
}

void Pgram::addLine (PitchLine::Ptr line)
{
    if (line == nullptr)
        return;
    const juce::ScopedLock sl (lock);
    const auto at = std::upper_bound (lines.begin(), lines.end(), line,
                                      [] (const PitchLine::Ptr& a, const PitchLine::Ptr& b) { return comesBefore (*a, *b); });
    lines.insert (at, std::move (line));
    ++changes;
}

void Pgram::removeLine (const PitchLine* line)
{
    const juce::ScopedLock sl (lock);
    lines.erase (std::remove_if (lines.begin(), lines.end(), [line] (const PitchLine::Ptr& l) { return l.get() == line; }),
                 lines.end());
    ++changes;
}

void Pgram::clear()
{
    setLines ({});
}

void Pgram::setLines (Lines newLines)
{
    std::stable_sort (newLines.begin(), newLines.end(),
                      [] (const PitchLine::Ptr& a, const PitchLine::Ptr& b) { return comesBefore (*a, *b); });
    const juce::ScopedLock sl (lock);
    lines.swap (newLines);
    ++changes;
}

void Pgram::setViewMatrix (std::shared_ptr<const PitchogramView> newView)
{
    const juce::ScopedLock sl (lock);
    view.swap (newView);
}

std::shared_ptr<const PitchogramView> Pgram::getView() const
{
    const juce::ScopedLock sl (lock);
    return view;
}

Pgram::Lines Pgram::getPitchLines() const
{
    const juce::ScopedLock sl (lock);
    return lines;
}

bool Pgram::isEmpty() const
{
    const juce::ScopedLock sl (lock);
    return lines.empty();
}

std::vector<float> Pgram::makeGuide (juce::int64 firstSample, int count, int stepSamples, int hop, int numFrames) const
{
    std::vector<float> guide ((size_t) std::max (0, count), -1.0f);
    if (stepSamples <= 0 || hop <= 0)
        return guide;
    for (size_t i = 0; i < guide.size(); ++i)
    {
        const auto centre = (double) firstSample + ((double) i + 0.5) * stepSamples;
        guide[i] = getMidiPitchAt (PitchLine::frameToX (centre / hop + 1.0, numFrames));
    }
    return guide;
}

Pgram::Lines Pgram::getLinesCoveringRange (juce::Range<float> xRange) const
{
    const juce::ScopedLock sl (lock);
    Lines found;
    for (const auto& l : lines)
        if (l->getStartX() <= xRange.getEnd() && l->getEndX() >= xRange.getStart())
            found.push_back (l);
    return found;
}

float Pgram::getMidiPitchAt (float x) const
{
    const juce::ScopedLock sl (lock);
    for (const auto& l : lines)
    {
        if (l->getStartX() > x)
            break; // sorted by start x: no later line starts at or before x
        if (l->covers (x))
            return PitchLine::yToMidi (l->getYAt (x));
    }
    return -1.0f;
}

std::vector<bool> Pgram::getEditedFrames (juce::int64 firstFrame, juce::int64 lastFrame) const
{
    const auto count = (size_t) std::max<juce::int64> (0, lastFrame - firstFrame + 1);
    std::vector<bool> edited (count, false);
    // one frame: x is 0 for it (no division by a zero span)
    const auto span = (double) std::max<juce::int64> (1, lastFrame - firstFrame);
    const auto current = getPitchLines();
    for (size_t f = 0; f < count; ++f)
    {
        const auto x = (float) ((double) f / span);
        edited[f] = std::any_of (current.begin(), current.end(), [x] (const PitchLine::Ptr& l) { return l->covers (x); });
    }
    return edited;
}

namespace
{
    juce::String formatFloat (float v)
    {
        char text[32];
        std::snprintf (text, sizeof (text), "%.9g", (double) v); // 9 digits read back to the same float
        return text;
    }

    juce::String describe (const juce::File& file, const juce::String& problem)
    {
        return "The melody guide " + file.getFullPathName() + " cannot be read: " + problem + ".";
    }
} // namespace

juce::Result Pgram::savePgram (const juce::File& file) const
{
    return DurableFile::replaceWithText (file, toGuideText());
}

juce::String Pgram::toGuideText() const
{
    juce::String text ("[\n");
    const auto current = getPitchLines();
    for (size_t i = 0; i < current.size(); ++i)
    {
        if (i > 0)
            text << ",\n";
        text << "[\n";
        for (const auto& n : current[i]->getNodePositions())
            text << formatFloat (n.x) << " " << formatFloat (n.y) << "\n";
        text << "]\n";
    }
    text << "]\n";
    return text;
}

juce::Result Pgram::readPitchLines (const juce::File& file, Lines& result)
{
    if (! file.existsAsFile())
        return juce::Result::fail (describe (file, "there is no such file"));
    if (file.getSize() > maxFileBytes)
        return juce::Result::fail (describe (file, "it is larger than any melody guide"));
    juce::StringArray rows;
    rows.addLines (file.loadFileAsString());
    while (! rows.isEmpty() && rows[rows.size() - 1].trim().isEmpty())
        rows.remove (rows.size() - 1); // the final newline
    int at = 0;
    const auto next = [&]() -> juce::String { return at < rows.size() ? rows[at++].trim() : juce::String(); };
    const auto exhausted = [&] { return at >= rows.size(); };

    if (next() != "[")
        return juce::Result::fail (describe (file, "it is not a melody guide"));
    Lines read;
    while (! exhausted())
    {
        const auto opening = next();
        if (opening == "]" && read.empty())
            break; // an empty list
        if (opening != "[")
            return juce::Result::fail (describe (file, "a line's record is damaged (line " + juce::String (at) + ")"));
        std::vector<PitchLine::Node> nodes;
        for (;;)
        {
            if (exhausted())
                return juce::Result::fail (describe (file, "it ends inside a line's record"));
            const auto row = next();
            if (row == "]")
                break;
            const auto fields = juce::StringArray::fromTokens (row, " ", "");
            const auto isNumber = [] (const juce::String& t) {
                return t.isNotEmpty() && t.containsOnly ("0123456789+-.eEinfaINFA");
            };
            if (fields.size() != 2 || ! isNumber (fields[0]) || ! isNumber (fields[1]))
                return juce::Result::fail (describe (file, "a node is damaged (line " + juce::String (at) + ")"));
            nodes.push_back (
                { (float) std::strtod (fields[0].toRawUTF8(), nullptr), (float) std::strtod (fields[1].toRawUTF8(), nullptr) });
        }
        juce::String problem;
        if (! PitchLine::isValidChain (nodes, &problem))
            return juce::Result::fail (describe (file, problem + " (line " + juce::String (at) + ")"));
        read.push_back (std::make_shared<const PitchLine> (std::move (nodes)));
        if (exhausted())
            break; // a list without its closing "]" keeps the whole records read
        if (next() == "]")
            break;
    }
    result = std::move (read);
    return juce::Result::ok();
}

} // namespace kalder
