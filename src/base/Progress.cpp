#include "Progress.h"

namespace kalder
{

Progress::Progress (juce::Range<float> r, Ptr p) : parent (std::move (p)), range (r), current (r.getStart()) {}

Progress::Ptr Progress::addChild (juce::Range<float> fractions)
{
    const auto span = range.getLength();
    const auto start = range.getStart() + juce::jlimit (0.0f, 1.0f, fractions.getStart()) * span;
    const auto end = range.getStart() + juce::jlimit (0.0f, 1.0f, fractions.getEnd()) * span;
    return new Progress ({ start, juce::jmax (start, end) }, this);
}

void Progress::setNumSteps (int n)
{
    const std::lock_guard<std::recursive_mutex> guard (lock);
    numSteps = juce::jmax (0, n);
    stepsDone = juce::jmin (stepsDone, numSteps);
}

void Progress::advance (int k)
{
    const std::lock_guard<std::recursive_mutex> guard (lock);
    if (numSteps <= 0)
        return;

    stepsDone = juce::jmin (stepsDone + juce::jmax (k, 0), numSteps);
    setProgress (range.getStart() + (float) stepsDone * range.getLength() / (float) numSteps);
}

void Progress::setProgress (float p)
{
    if (current.load() >= p)
        return;

    const std::lock_guard<std::recursive_mutex> guard (lock);
    const auto clamped = p < range.getStart() ? range.getStart() : juce::jmin (range.getEnd(), p);
    if (clamped <= current.load())
        return;

    current = clamped;

    if (parent != nullptr)
    {
        parent->setProgress (p);
        return;
    }

    // Last registered first; a listener may remove itself during its call.
    for (int i = listeners.size(); --i >= 0;)
    {
        if (i >= listeners.size())
            continue;
        listeners.getUnchecked (i)->progressChanged (clamped, this);
    }
}

void Progress::finish()
{
    setProgress (range.getEnd());
}

void Progress::cancel() noexcept
{
    cancelled = true;
}

bool Progress::isCancelled() const noexcept
{
    for (auto* p = this; p != nullptr; p = p->parent.get())
        if (p->cancelled.load())
            return true;
    return false;
}

void Progress::addListener (Listener* listener)
{
    const std::lock_guard<std::recursive_mutex> guard (lock);
    listeners.addIfNotAlreadyThere (listener);
}

void Progress::removeListener (Listener* listener)
{
    const std::lock_guard<std::recursive_mutex> guard (lock);
    listeners.removeFirstMatchingValue (listener);
}

} // namespace kalder
