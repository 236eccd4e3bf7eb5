#include "CustomUndoManager.h"

namespace kalder
{

int CustomUndoManager::ActionSet::getTotalSize() const
{
    int total = 0;
    for (auto* a : actions)
        total += a->getSizeInUnits();
    return total;
}

CustomUndoManager::CustomUndoManager (int maxNumberOfUnitsToKeep, int minimumTransactionsToKeep)
    : maxUnits (juce::jmax (1, maxNumberOfUnitsToKeep)), minimumTransactions (juce::jmax (0, minimumTransactionsToKeep))
{}

CustomUndoManager::~CustomUndoManager()
{
    // Newest first, so that no action outlives one recorded after it.
    while (! sets.empty())
        sets.pop_back();
}

void CustomUndoManager::setMaxNumberOfStoredUnits (int maxNumberOfUnitsToKeep, int minimumTransactionsToKeep)
{
    JUCE_ASSERT_MESSAGE_THREAD
    maxUnits = juce::jmax (1, maxNumberOfUnitsToKeep);
    minimumTransactions = juce::jmax (0, minimumTransactionsToKeep);
    trim();
    sendChangeMessage();
}

void CustomUndoManager::beginNewTransaction (const juce::String& name)
{
    JUCE_ASSERT_MESSAGE_THREAD
    nextName = name;
    openedAt = juce::Time::getCurrentTime();
    newTransactionRequested = true;
}

bool CustomUndoManager::perform (juce::UndoableAction* action)
{
    std::vector<std::unique_ptr<juce::UndoableAction>> one;
    one.emplace_back (action);
    return action != nullptr && performAll (std::move (one));
}

bool CustomUndoManager::performAll (std::vector<std::unique_ptr<juce::UndoableAction>> actions)
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (busy)
    {
        jassertfalse; // an action must not use its own history
        return false;
    }
    if (actions.empty())
        return true;

    {
        const juce::ScopedValueSetter<bool> guard (busy, true);
        for (size_t i = 0; i < actions.size(); ++i)
        {
            if (actions[i] != nullptr && actions[i]->perform())
                continue;
            // Put back what the group did so far, last first; nothing is recorded.
            for (auto j = i; j-- > 0;)
                actions[j]->undo();
            return false;
        }
    }

    dropRedoSets();
    auto* set = openSet();
    for (auto& a : actions)
    {
        totalUnits += a->getSizeInUnits();
        set->actions.add (a.release());
    }
    trim();
    sendChangeMessage();
    return true;
}

CustomUndoManager::ActionSet* CustomUndoManager::openSet()
{
    if (newTransactionRequested || nextIndex == 0 || nextIndex != (int) sets.size())
    {
        sets.push_back (
            std::make_unique<ActionSet> (nextName, openedAt != juce::Time() ? openedAt : juce::Time::getCurrentTime()));
        nextIndex = (int) sets.size();
        newTransactionRequested = false;
        nextName = {};
        openedAt = {};
    }
    return sets[(size_t) nextIndex - 1].get();
}

bool CustomUndoManager::undo()
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (! canUndo() || busy)
        return false;

    auto& actions = sets[(size_t) nextIndex - 1]->actions;
    bool done = true;
    {
        const juce::ScopedValueSetter<bool> guard (busy, true);
        int k = actions.size();
        while (--k >= 0)
            if (! actions.getUnchecked (k)->undo())
                break;

        if (k >= 0)
        {
            done = false;
            // Put the set back as it was: perform again what was undone, in order.
            for (int j = k + 1; j < actions.size(); ++j)
            {
                if (! actions.getUnchecked (j)->perform())
                {
                    clearUndoHistory();
                    return false;
                }
            }
        }
    }

    if (done)
        --nextIndex;
    newTransactionRequested = true;
    sendChangeMessage();
    return done;
}

bool CustomUndoManager::redo()
{
    JUCE_ASSERT_MESSAGE_THREAD
    if (! canRedo() || busy)
        return false;

    auto& actions = sets[(size_t) nextIndex]->actions;
    bool done = true;
    {
        const juce::ScopedValueSetter<bool> guard (busy, true);
        int k = 0;
        for (; k < actions.size(); ++k)
            if (! actions.getUnchecked (k)->perform())
                break;

        if (k < actions.size())
        {
            done = false;
            for (int j = k; --j >= 0;)
            {
                if (! actions.getUnchecked (j)->undo())
                {
                    clearUndoHistory();
                    return false;
                }
            }
        }
    }

    if (done)
        ++nextIndex;
    newTransactionRequested = true;
    sendChangeMessage();
    return done;
}

const CustomUndoManager::ActionSet* CustomUndoManager::getCurrentSet() const noexcept
{
    return getSet (nextIndex - 1);
}

const CustomUndoManager::ActionSet* CustomUndoManager::getNextSet() const noexcept
{
    return getSet (nextIndex);
}

const CustomUndoManager::ActionSet* CustomUndoManager::getSet (int index) const noexcept
{
    return juce::isPositiveAndBelow (index, (int) sets.size()) ? sets[(size_t) index].get() : nullptr;
}

juce::String CustomUndoManager::getUndoDescription() const
{
    return getUndoDescription (0);
}

juce::String CustomUndoManager::getUndoDescription (int n) const
{
    const auto* s = getSet (nextIndex - 1 - n);
    return s != nullptr && n >= 0 ? s->name : juce::String();
}

juce::Time CustomUndoManager::getTimeOfUndoTransaction (int n) const
{
    const auto* s = getSet (nextIndex - 1 - n);
    return s != nullptr && n >= 0 ? s->time : juce::Time();
}

juce::String CustomUndoManager::getRedoDescription (int n) const
{
    const auto* s = getSet (nextIndex + n);
    return s != nullptr && n >= 0 ? s->name : juce::String();
}

juce::Time CustomUndoManager::getTimeOfRedoTransaction (int n) const
{
    const auto* s = getSet (nextIndex + n);
    return s != nullptr && n >= 0 ? s->time : juce::Time();
}

void CustomUndoManager::clearUndoHistory()
{
    JUCE_ASSERT_MESSAGE_THREAD
    while (! sets.empty())
        sets.pop_back();
    nextIndex = 0;
    totalUnits = 0;
    newTransactionRequested = true;
    sendChangeMessage();
}

void CustomUndoManager::dropRedoSets()
{
    while ((int) sets.size() > nextIndex)
        removeSet ((int) sets.size() - 1);
}

void CustomUndoManager::trim()
{
    while (totalUnits > maxUnits && (int) sets.size() > minimumTransactions && ! sets.empty())
    {
        // The oldest undoable set goes first; redoable sets only from the newest end,
        // so that every set left still follows from the one before it.
        removeSet (nextIndex > 0 ? 0 : (int) sets.size() - 1);
    }
}

void CustomUndoManager::removeSet (int index)
{
    totalUnits -= sets[(size_t) index]->getTotalSize();
    sets.erase (sets.begin() + index);
    if (index < nextIndex)
        --nextIndex;
}

} // namespace kalder
