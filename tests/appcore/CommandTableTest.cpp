#include "appcore/CommandIDs.h"

#include <gtest/gtest.h>

#include <set>

using kalder::Command;
using kalder::CommandIDs;
using kalder::DefaultKey;

namespace
{
/** One row of the published command table, keys written as the manual writes them. */
struct Row
{
    int command;
    int category;
    const char* name;
    const char* description;
    const char* keys; // "Cmd+Shift+N", several separated by "; ", "" for none
};

// Typed from the published table, independently of the application's own data.
const Row publishedTable[] = {
    { 1, 1, "Open Audio File", "Loads a new audio file to the current project", "Cmd+Shift+N" },
    { 2, 1, "Save", "Saves the current project to a file", "Cmd+S" },
    { 3, 1, "Save As...", "Saves a copy of the current project to a file", "Cmd+Shift+S" },
    { 4, 1, "Bounce Mixer Output", "Exports the current mix to an audio file", "Cmd+B" },
    { 5, 1, "Export Current Track", "Exports the current track to an audio file", "Cmd+E" },
    { 6, 1, "Export All Tracks", "Exports all the tracks to individual audio files", "Cmd+Shift+E" },
    { 7, 1, "Open project", "Opens a previously saved project", "Cmd+O" },
    { 8, 1, "Undo", "Tries to revert the last action that was performed", "Cmd+Z" },
    { 9, 1, "Redo", "Tries to redo the last action that was undone", "Cmd+Shift+Z" },
    { 10, 1, "Toggle Help", "Enables or disables the quick help windows", "" },
    { 11, 1, "Show Spectrogram Help", "Shows the quick help page for spectrogram editing", "" },
    { 12, 6, "Settings", "Modify Application Settings", "Cmd+," },
    { 13, 1, "About", "Opens a window with the description of the software", "" },
    { 14, 3, "Deselect", "Discards the current selection", "Cmd+Shift+A" },
    { 15, 3, "Expand", "Expands the current selection", "" },
    { 16, 3, "Shrink", "Shrinks the current selection", "" },
    { 17, 3, "Strengthen", "Strengthens the current selection", "" },
    { 18, 3, "Dim", "Dims the current selection", "" },
    { 19, 3, "Remove Percussive Elements", "Removes percussive content from the selection", "" },
    { 20, 3, "Remove Harmonic Elements", "Removes harmonic content from the selection", "" },
    { 21, 3, "Move to New Track", "Adds the current selection to the mask and makes a new track from it", "Cmd+Shift+L" },
    { 22, 3, "Erase", "Masks the current selection", "Backspace; Delete" },
    { 23, 3, "Remove Foreground", "Removes foreground of the current selection", "" },
    { 24, 2, "First Editor Tool", "Switches to the first editor tool", "1" },
    { 25, 2, "Second Editor Tool", "Switches the second editor tool", "2" },
    { 26, 2, "Third Editor Tool", "Switches the third editor tool", "3" },
    { 27, 2, "Fourth Editor Tool", "Switches the fourth editor tool", "4" },
    { 28, 2, "Fifth Editor Tool", "Switches the fifth editor tool", "5" },
    { 29, 2, "Sixth Editor Tool", "Switches the sixth editor tool", "6" },
    { 30, 2, "Seventh Editor Tool", "Switches the seventh editor tool", "7" },
    { 31, 2, "Eigth Editor Tool", "Switches the eighth editor tool", "8" },
    { 32, 2, "Ninth Editor Tool", "Switches the ninth editor tool", "9" },
    { 33, 2, "Next Alternate", "Switches the next alternate of the active editor tool", "A" },
    { 34, 2, "Show Main Window", "Brings the main application window to the front", "Cmd+1" },
    { 35, 2, "Show Mixer Window", "Open a new mixer window, or brings it to front if it is already open", "Cmd+2" },
    { 36, 2, "Toggle Autoscroll", "Enables or disables the automatic scrolling of the spectrogram during playback", "" },
    { 37, 4, "Play/Pause", "Plays or pauses audio playback", "Space" },
    { 38, 4, "Stop", "Stops audio playback and resets the cursor position to 0", "" },
    { 39, 4, "Backward", "Moves the playback cursor back by a short amount of time", "[; Left" },
    { 40, 4, "Fast Backward", "Moves the playback cursor back by a large amount of time", "Shift+{; Alt+Left" },
    { 41, 4, "Forward", "Moves the playback cursor forward by a short amount of time", "]; Right" },
    { 42, 4, "Fast Forward", "Moves the playback cursor forward by a large amount of time", "Shift+}; Alt+Right" },
    { 43, 4, "Move Playhead To Start", "Moves the playhead position to the beginning of the project", "Home; Return; Cmd+Left" },
    { 44, 4, "Play From Start", "Starts audio playback from the beginning of the project", "" },
    { 45, 4, "Move Playhead To End", "Moves the playhead position to the end of the project", "End; Cmd+Right" },
    { 46, 4, "Toggle Loop", "Activates or deactivates the current loop", "L" },
    { 47, 5, "Drum Separation", "Apply Drum Separation", "" },
    { 48, 5, "Bass Separation", "Apply Bass Separation", "" },
    { 49, 5, "Vocal Separation", "Apply Vocal Separation", "" },
    { 50, 5, "Other Separation", "Apply Other Separation", "" },
    { 51, 5, "Four Stem Separation", "Apply Four Stem Separation", "" },
    { 52, 5, "Pan Separation", "Apply Pan Separation", "" },
    { 53, 5, "Freeze Manual Edits", "Apply Manual Separation", "" },
    { 54, 5, "Merge Selected Tracks", "Merge Selected Tracks.", "" },
    { 55, 5, "Show Melody Editor", "Show melody editor for the active track", "" },
    { 56, 5, "Import Melody Guide", "Import a saved melody guide to the active track's melody editor", "" },
    { 57, 5, "Export Melody Guide", "Export the active track's melody guide to a file", "" },
    { 58, 5, "Reset Melody Edits", "Discards all melody edits made on the currently track's melody editor", "" },
    { 59, 5, "Show Spectrogram Editor", "Show spectrogram editor for the active track", "" },
    { 60, 5, "Flip Mask",
      "Flips the mask of the active track to show/play only the parts of the spectrogram that were manually removed", "Alt+F" },
    { 61, 5, "Reset Spectral Edits", "Discards all spectral edits made on the currently edited track's spectrogram", "" },
};

const char* const publishedCategories[] = { "", "General", "GUI", "Selection", "Transport", "Track", "Settings" };

/** A key press written as the manual writes it. A letter must be stored in lower case
    (the framework matches key codes, and an upper-case code never arrives), so an
    upper-case one is written in a way no expectation matches. */
juce::String describe (const DefaultKey& key)
{
    juce::String text;

    if ((key.modifiers & DefaultKey::command) != 0)
        text << "Cmd+";
    if ((key.modifiers & DefaultKey::shift) != 0)
        text << "Shift+";
    if ((key.modifiers & DefaultKey::alt) != 0)
        text << "Alt+";
    if ((key.modifiers & ~(DefaultKey::command | DefaultKey::shift | DefaultKey::alt)) != 0)
        text << "Unknown+";

    switch (key.key)
    {
        case DefaultKey::Key::character:
            if (juce::CharacterFunctions::isUpperCase (key.character))
                return text + "upper-case " + juce::String::charToString (key.character);
            return text + juce::String::charToString (key.character).toUpperCase();
        case DefaultKey::Key::space:
            return text + "Space";
        case DefaultKey::Key::returnKey:
            return text + "Return";
        case DefaultKey::Key::backspace:
            return text + "Backspace";
        case DefaultKey::Key::deleteKey:
            return text + "Delete";
        case DefaultKey::Key::leftArrow:
            return text + "Left";
        case DefaultKey::Key::rightArrow:
            return text + "Right";
        case DefaultKey::Key::home:
            return text + "Home";
        case DefaultKey::Key::end:
            return text + "End";
    }

    return text + "?";
}

juce::String describe (const std::vector<DefaultKey>& keys)
{
    juce::StringArray parts;

    for (const auto& key : keys)
        parts.add (describe (key));

    return parts.joinIntoString ("; ");
}

constexpr CommandIDs::UndoAvailability undoAndRedoPossible { true, true };
} // namespace

TEST (CommandTable, servesEveryPublishedRowExactly)
{
    CommandIDs registry;

    for (const auto& row : publishedTable)
    {
        SCOPED_TRACE (row.name);
        const auto id = registry.getId (static_cast<Command> (row.command));
        ASSERT_NE (id, 0);

        registry.enableCommand (static_cast<Command> (row.command), true);
        const auto info = registry.getCommandInfo (id, undoAndRedoPossible);

        EXPECT_EQ (info.shortName, juce::String (row.name));
        EXPECT_EQ (info.description, juce::String (row.description));
        EXPECT_EQ (info.categoryName, juce::String (publishedCategories[row.category]));
        EXPECT_EQ (describe (info.defaultKeys), juce::String (row.keys));
        EXPECT_EQ (info.flags, 0);
        EXPECT_FALSE (info.disabled);
    }
}

TEST (CommandTable, idsCarryTheirCategoryInTheHighByteAndAreListedInCommandOrder)
{
    CommandIDs registry;
    const auto ids = registry.getCommandList();
    ASSERT_EQ (ids.size(), static_cast<int> (std::size (publishedTable)));

    std::set<int> distinct;

    for (int i = 0; i < ids.size(); ++i)
    {
        const auto& row = publishedTable[i];
        EXPECT_EQ (ids[i], registry.getId (static_cast<Command> (row.command))) << row.name;
        EXPECT_GE (ids[i], 256) << row.name;
        EXPECT_EQ (ids[i] >> 8, row.category) << row.name;
        EXPECT_EQ (registry.findById (ids[i])->command, static_cast<Command> (row.command));
        distinct.insert (ids[i]);
    }

    EXPECT_EQ (distinct.size(), std::size (publishedTable));

    // Clear of the framework's standard commands (quit is 0x1001).
    EXPECT_EQ (distinct.count (0x1001), 0u);
}

TEST (CommandTable, commandsAreDisabledUntilEnabledAndUndoFollowsTheHistory)
{
    CommandIDs registry;
    const auto saveId = registry.getId (Command::save);
    const auto undoId = registry.getId (Command::undo);
    const auto redoId = registry.getId (Command::redo);

    // A command whose feature is not there yet is shown, greyed.
    EXPECT_TRUE (registry.getCommandInfo (saveId, undoAndRedoPossible).disabled);
    EXPECT_EQ (registry.getCommandInfo (saveId, undoAndRedoPossible).shortName, "Save");

    registry.enableCommand (Command::save, true);
    EXPECT_FALSE (registry.getCommandInfo (saveId, undoAndRedoPossible).disabled);
    EXPECT_TRUE (registry.isEnabled (Command::save));

    registry.enableCommand (Command::save, false);
    EXPECT_TRUE (registry.getCommandInfo (saveId, undoAndRedoPossible).disabled);

    // Enabled entries, but the history decides: undo and redo each follow their own half.
    registry.enableCommand (Command::undo, true);
    registry.enableCommand (Command::redo, true);
    EXPECT_TRUE (registry.getCommandInfo (undoId, { false, true }).disabled);
    EXPECT_FALSE (registry.getCommandInfo (redoId, { false, true }).disabled);
    EXPECT_FALSE (registry.getCommandInfo (undoId, { true, false }).disabled);
    EXPECT_TRUE (registry.getCommandInfo (redoId, { true, false }).disabled);

    // A disabled entry stays disabled even when the history could undo.
    registry.enableCommand (Command::undo, false);
    EXPECT_TRUE (registry.getCommandInfo (undoId, undoAndRedoPossible).disabled);

    // Refilling the registry forgets what was enabled.
    registry.enableCommand (Command::stop, true);
    registry.addStandardCommandIDs();
    EXPECT_FALSE (registry.isEnabled (Command::stop));
    EXPECT_EQ (registry.getCommandList().size(), static_cast<int> (std::size (publishedTable)));
}

TEST (CommandTable, idsOutsideTheRegistryGetOnlyTheDisabledFlag)
{
    CommandIDs registry;
    std::set<int> used;

    for (auto id : registry.getCommandList())
        used.insert (id);

    auto unusedIdInCategory = [&] (int category) {
        for (int low = 0; low < 256; ++low)
            if (used.count ((category << 8) | low) == 0)
                return (category << 8) | low;
        return 0;
    };

    const auto unassigned = registry.getCommandInfo (unusedIdInCategory (1), undoAndRedoPossible);
    EXPECT_EQ (unassigned.shortName, "Unassigned");
    EXPECT_TRUE (unassigned.disabled);
    EXPECT_TRUE (unassigned.defaultKeys.empty());

    for (const auto id : { unusedIdInCategory (3), 0, 42, 255, 7 << 8, 0x1001, -5 })
    {
        const auto info = registry.getCommandInfo (id, undoAndRedoPossible);
        EXPECT_TRUE (info.shortName.isEmpty()) << id;
        EXPECT_TRUE (info.description.isEmpty()) << id;
        EXPECT_TRUE (info.defaultKeys.empty()) << id;
        EXPECT_TRUE (info.disabled) << id;
    }
}

TEST (CommandTable, theApplicationRegistryHoldsEveryCommand)
{
    EXPECT_EQ (CommandIDs::getInstance().getCommandList().size(), static_cast<int> (std::size (publishedTable)));
}
