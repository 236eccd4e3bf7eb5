#include "EditManagerBase.h"

namespace kalder
{

EditManagerBase::EditManagerBase (std::weak_ptr<Asig> s) : store (std::move (s)) {}

void EditManagerBase::addListener (Listener* listener)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (listener != nullptr)
        listeners.addIfNotAlreadyThere (listener);
}

void EditManagerBase::removeListener (Listener* listener)
{
    JUCE_ASSERT_MESSAGE_THREAD
    listeners.removeFirstMatchingValue (listener);
}

void EditManagerBase::copyListenersTo (EditManagerBase& other) const
{
    for (auto* l : listeners)
        other.addListener (l);
}

template <typename Call>
void EditManagerBase::callListeners (Call&& call)
{
    // Last registered first; an index past the end after a removal is skipped.
    for (int i = listeners.size(); --i >= 0;)
    {
        if (i >= listeners.size())
            continue;
        call (*listeners.getUnchecked (i));
    }
}

void EditManagerBase::notifyBlockChanged (juce::Range<int> bins, juce::Range<int> frames, bool selectionChanged, bool maskChanged)
{
    callListeners ([&] (Listener& l) {
        l.blockChanged (bins.getStart(), bins.getEnd(), frames.getStart(), frames.getEnd(), selectionChanged, maskChanged);
    });
}

void EditManagerBase::notifyPitchChanged (juce::Range<float> pitches, bool finished)
{
    callListeners ([&] (Listener& l) { l.pitchChanged (pitches.getStart(), pitches.getEnd(), finished); });
}

} // namespace kalder
