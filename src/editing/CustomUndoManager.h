#pragma once

#include <juce_data_structures/juce_data_structures.h>

#include <memory>
#include <vector>

namespace kalder
{

/**
    An undo history of named transactions (sets of undoable actions), oldest first,
    with the time each was opened.

    The history stands between two sets: the sets before the redo index can be undone,
    those from it on can be redone. Performing an action after an undo drops every
    redoable set first, so the history is always one line of states.

    Units: every action reports its size (getSizeInUnits()); after each perform the
    oldest sets are dropped while the total exceeds the limit and more than the minimum
    number of sets remain. Dropping old sets never touches newer ones: every action
    restores its own state, not a difference to its neighbour.

    Failures are never half-applied:
    - an action whose perform() fails is deleted and nothing is recorded;
    - performAll() records a group of actions only when every one of them performed, and
      undoes the ones that did when one fails;
    - when one action of a set fails to undo (or redo), the actions of the set that were
      already undone are performed again (or undone again), the redo index stays where
      it was, and the call returns false. Should putting them back fail too, the state no
      longer matches the history, which is then cleared.

    Every change of the history sends a change message (asynchronously, to listeners on
    the message thread).

    Threading: message thread only. An action must not use its own history while it
    runs (a perform inside an undo or redo is refused).
*/
class CustomUndoManager : public juce::ChangeBroadcaster
{
public:
    /** One transaction: its actions in the order performed, its name and the time it was
        opened. */
    struct ActionSet
    {
        ActionSet (const juce::String& transactionName, juce::Time t) : name (transactionName), time (t) {}

        juce::OwnedArray<juce::UndoableAction> actions;
        juce::String name;
        juce::Time time;

        int getTotalSize() const;
    };

    CustomUndoManager (int maxNumberOfUnitsToKeep, int minimumTransactionsToKeep);
    ~CustomUndoManager() override;

    /** Changes both limits and drops old sets as needed. */
    void setMaxNumberOfStoredUnits (int maxNumberOfUnitsToKeep, int minimumTransactionsToKeep);

    /** The next perform() starts a new set with this name, opened now. */
    void beginNewTransaction (const juce::String& name = {});

    /** Takes ownership of action and performs it. On success it joins the current set (a
        new one when beginNewTransaction() was called or no set is open), the redoable
        sets are dropped and old sets trimmed. On failure the action is deleted and
        nothing is recorded. Returns whether it performed. */
    bool perform (juce::UndoableAction* action);

    /** Performs a group of actions as one part of the current set: all are recorded or
        none is (a failing action makes the ones before it undo, last first). */
    bool performAll (std::vector<std::unique_ptr<juce::UndoableAction>> actions);

    /** Undoes the set before the redo index (its actions last to first). See the class
        comment for failures. */
    bool undo();

    /** Redoes the set at the redo index (its actions first to last). */
    bool redo();

    bool canUndo() const noexcept { return nextIndex > 0; }
    bool canRedo() const noexcept { return nextIndex < (int) sets.size(); }
    int getNumUndos() const noexcept { return nextIndex; }
    int getNumRedos() const noexcept { return (int) sets.size() - nextIndex; }
    int getNumTransactions() const noexcept { return (int) sets.size(); }

    /** The set that undo() would act on, or null. */
    const ActionSet* getCurrentSet() const noexcept;

    /** The set that redo() would act on, or null. */
    const ActionSet* getNextSet() const noexcept;

    /** The set at index (0 = oldest), or null. */
    const ActionSet* getSet (int index) const noexcept;

    /** The name of the set that undo() would revert (empty when there is none). */
    juce::String getUndoDescription() const;

    /** Name and time of the n-th redoable set (0 = the next); empty when there is none. */
    juce::String getRedoDescription (int n = 0) const;
    juce::Time getTimeOfRedoTransaction (int n = 0) const;

    /** Name and time of the n-th undoable set (0 = the last performed). */
    juce::String getUndoDescription (int n) const;
    juce::Time getTimeOfUndoTransaction (int n = 0) const;

    /** Removes every set. */
    void clearUndoHistory();

    /** The sum of the recorded actions' sizes. */
    juce::int64 getNumberOfUnitsTakenUpByStoredCommands() const noexcept { return totalUnits; }

    int getMaxNumberOfUnits() const noexcept { return maxUnits; }
    int getMinimumTransactions() const noexcept { return minimumTransactions; }

    bool isPerformingUndoRedo() const noexcept { return busy; }

private:
    ActionSet* openSet();
    void dropRedoSets();
    void trim();
    void removeSet (int index);

    std::vector<std::unique_ptr<ActionSet>> sets; // oldest first
    int nextIndex = 0;
    juce::int64 totalUnits = 0;
    int maxUnits, minimumTransactions;
    juce::String nextName;
    juce::Time openedAt;
    bool newTransactionRequested = true;
    bool busy = false;

    JUCE_DECLARE_NON_COPYABLE (CustomUndoManager)
    JUCE_DECLARE_WEAK_REFERENCEABLE (CustomUndoManager)
};

} // namespace kalder
