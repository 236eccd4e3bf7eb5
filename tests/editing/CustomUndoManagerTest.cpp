#include "editing/CustomUndoManager.h"

#include <gtest/gtest.h>

using namespace kalder;

namespace
{
/** Writes its value into one cell of a shared state, remembering the old value; logs its
    calls and can be told to fail. */
struct Cell
{
    std::vector<int> state = std::vector<int> (8, 0);
    juce::StringArray log;
    int alive = 0;
};

class SetCell : public juce::UndoableAction
{
public:
    SetCell (Cell& c, int i, int v, int size = 1) : cell (c), index (i), value (v), units (size) { ++cell.alive; }
    ~SetCell() override { --cell.alive; }

    bool perform() override
    {
        cell.log.add ("p" + juce::String (index));
        if (failPerform)
            return false;
        previous = cell.state[(size_t) index];
        cell.state[(size_t) index] = value;
        return true;
    }

    bool undo() override
    {
        cell.log.add ("u" + juce::String (index));
        if (failUndo)
            return false;
        cell.state[(size_t) index] = previous;
        return true;
    }

    int getSizeInUnits() override { return units; }

    bool failPerform = false, failUndo = false;

private:
    Cell& cell;
    int index, value, previous = 0, units;
};

std::vector<std::unique_ptr<juce::UndoableAction>> group (std::initializer_list<SetCell*> actions)
{
    std::vector<std::unique_ptr<juce::UndoableAction>> v;
    for (auto* a : actions)
        v.emplace_back (a);
    return v;
}
} // namespace

TEST (CustomUndoManager, UndoesAndRedoesWholeSetsInOrderAndANewStepDropsTheRedoSets)
{
    Cell cell;
    CustomUndoManager history (1000, 5);
    EXPECT_FALSE (history.canUndo());
    EXPECT_FALSE (history.undo());

    history.beginNewTransaction ("first");
    ASSERT_TRUE (history.performAll (group ({ new SetCell (cell, 0, 1), new SetCell (cell, 1, 2) })));
    history.beginNewTransaction ("second");
    ASSERT_TRUE (history.perform (new SetCell (cell, 2, 3)));
    ASSERT_TRUE (history.perform (new SetCell (cell, 3, 4))); // joins "second"
    EXPECT_EQ (history.getNumUndos(), 2);
    EXPECT_EQ (history.getUndoDescription(), "second");
    EXPECT_EQ (history.getNumberOfUnitsTakenUpByStoredCommands(), 4);
    EXPECT_NE (history.getTimeOfUndoTransaction (1), juce::Time());

    cell.log.clear();
    ASSERT_TRUE (history.undo());
    ASSERT_TRUE (history.undo());
    EXPECT_EQ (cell.log, juce::StringArray ({ "u3", "u2", "u1", "u0" }));
    EXPECT_EQ (cell.state, std::vector<int> (8, 0));
    EXPECT_EQ (history.getNumRedos(), 2);
    EXPECT_EQ (history.getRedoDescription (0), "first");
    EXPECT_EQ (history.getRedoDescription (1), "second");
    EXPECT_EQ (history.getRedoDescription (2), "");
    EXPECT_NE (history.getTimeOfRedoTransaction (1), juce::Time());
    EXPECT_EQ (history.getNextSet()->name, "first");

    cell.log.clear();
    ASSERT_TRUE (history.redo());
    EXPECT_EQ (cell.log, juce::StringArray ({ "p0", "p1" }));

    // Starting a transaction keeps the redo sets until something is performed in it.
    history.beginNewTransaction ("third");
    EXPECT_EQ (history.getNumRedos(), 1);
    ASSERT_TRUE (history.perform (new SetCell (cell, 4, 5)));
    EXPECT_EQ (history.getNumRedos(), 0);
    EXPECT_EQ (history.getNumUndos(), 2);
    EXPECT_EQ (history.getUndoDescription(), "third");
    EXPECT_EQ (cell.alive, 3); // "second" and its two actions are gone
    EXPECT_EQ (history.getNumberOfUnitsTakenUpByStoredCommands(), 3);
}

TEST (CustomUndoManager, TrimmingDropsTheOldestAndKeepsTheMinimum)
{
    struct Case
    {
        int limit, minimum, sets, unitsPerSet, expectedKept;
    };
    for (const auto& c :
         { Case { 10, 5, 6, 100, 5 }, Case { 250, 2, 6, 100, 2 }, Case { 1000, 2, 6, 100, 6 }, Case { 350, 0, 6, 100, 3 } })
    {
        Cell cell;
        CustomUndoManager history (c.limit, c.minimum);
        for (int i = 0; i < c.sets; ++i)
        {
            history.beginNewTransaction ("step " + juce::String (i));
            ASSERT_TRUE (history.perform (new SetCell (cell, i, i + 1, c.unitsPerSet)));
        }
        EXPECT_EQ (history.getNumUndos(), c.expectedKept) << c.limit << " " << c.minimum;
        EXPECT_EQ (history.getUndoDescription(), "step " + juce::String (c.sets - 1));
        EXPECT_EQ (history.getUndoDescription (c.expectedKept - 1), "step " + juce::String (c.sets - c.expectedKept));
        EXPECT_EQ (cell.alive, c.expectedKept);
        EXPECT_EQ (history.getNumberOfUnitsTakenUpByStoredCommands(), c.expectedKept * c.unitsPerSet);
    }

    // New limits trim at once; redo sets go from the newest end, so those kept still
    // follow the state the history stands at.
    Cell cell;
    CustomUndoManager history (1000, 0);
    for (int i = 0; i < 4; ++i)
    {
        history.beginNewTransaction ("step " + juce::String (i));
        history.perform (new SetCell (cell, i, i + 1, 100));
    }
    for (int i = 0; i < 4; ++i)
        history.undo();
    history.setMaxNumberOfStoredUnits (250, 0);
    EXPECT_EQ (history.getNumRedos(), 2);
    EXPECT_EQ (history.getRedoDescription (0), "step 0");
    EXPECT_EQ (history.getRedoDescription (1), "step 1");
}

TEST (CustomUndoManager, AFailureIsNeverHalfApplied)
{
    Cell cell;
    CustomUndoManager history (1000, 5);

    // A failing perform is deleted and leaves no trace.
    auto* failing = new SetCell (cell, 0, 9);
    failing->failPerform = true;
    EXPECT_FALSE (history.perform (failing));
    EXPECT_EQ (cell.alive, 0);
    EXPECT_EQ (history.getNumTransactions(), 0);

    // A group whose third action fails puts the first two back.
    history.beginNewTransaction ("group");
    auto* third = new SetCell (cell, 2, 3);
    third->failPerform = true;
    EXPECT_FALSE (history.performAll (group ({ new SetCell (cell, 0, 1), new SetCell (cell, 1, 2), third })));
    EXPECT_EQ (cell.state, std::vector<int> (8, 0));
    EXPECT_EQ (cell.alive, 0);
    EXPECT_EQ (history.getNumTransactions(), 0);

    // An undo that fails in the middle of a set performs again what it had undone.
    history.beginNewTransaction ("earlier");
    history.perform (new SetCell (cell, 5, 6));
    history.beginNewTransaction ("set");
    auto* a = new SetCell (cell, 0, 1);
    auto* b = new SetCell (cell, 1, 2);
    auto* c = new SetCell (cell, 2, 3);
    ASSERT_TRUE (history.performAll (group ({ a, b, c })));
    const auto edited = cell.state;
    b->failUndo = true;
    cell.log.clear();
    EXPECT_FALSE (history.undo());
    EXPECT_EQ (cell.log, juce::StringArray ({ "u2", "u1", "p2" }));
    EXPECT_EQ (cell.state, edited);
    EXPECT_EQ (history.getNumUndos(), 2);
    EXPECT_EQ (history.getUndoDescription(), "set");

    // Once it can be undone, a redo that fails part-way undoes what it had redone.
    b->failUndo = false;
    ASSERT_TRUE (history.undo());
    b->failPerform = true;
    cell.log.clear();
    EXPECT_FALSE (history.redo());
    EXPECT_EQ (cell.log, juce::StringArray ({ "p0", "p1", "u0" }));
    EXPECT_EQ (cell.state[0], 0);
    EXPECT_EQ (history.getNumRedos(), 1);

    // When even putting back fails, the history no longer describes the state: cleared.
    b->failPerform = false;
    ASSERT_TRUE (history.redo());
    a->failUndo = true;
    c->failPerform = true;
    EXPECT_FALSE (history.undo());
    EXPECT_EQ (history.getNumTransactions(), 0);
    EXPECT_EQ (cell.alive, 0);
}
