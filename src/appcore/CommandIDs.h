#pragma once

#include "CommandTable.h"

#include <vector>

namespace kalder
{

/** One entry of the command registry. */
struct ApplicationCommand
{
    Command command;
    int id;       // the ID the framework's command manager knows the command by
    bool enabled; // whether the command may run now
};

/**
    The registry of the application's commands: the ID of each command, whether it
    may run now, and what the command manager is told about it.

    A command's ID is (category << 8) | command number, so the high byte names the
    category (1 to 6) and every ID lies between 256 and 0x6ff, clear of the
    framework's standard commands (quit, cut, copy...), which start at 0x1001.

    Entries start disabled: the application enables a command once it can run it and
    disables it again when the state it needs goes away, so a command whose feature is
    not there yet is shown greyed rather than doing nothing.

    Ownership: getInstance() gives the application's registry, created on first use;
    tests may create their own.

    Threading: message thread only.
*/
class CommandIDs
{
public:
    /** Whether the application's undo history can undo or redo now. */
    struct UndoAvailability
    {
        bool canUndo = false;
        bool canRedo = false;
    };

    /** What the command manager is told about one command ID, as plain data that the
        windowing layer copies into a juce::ApplicationCommandInfo. */
    struct CommandInfo
    {
        juce::String shortName, description, categoryName;
        std::vector<DefaultKey> defaultKeys;
        int flags = 0;         // always 0: none of our commands toggles or repeats
        bool disabled = false; // ApplicationCommandInfo::isDisabled
    };

    /** A registry holding every command, all disabled. */
    CommandIDs();

    /** The application's registry. */
    static CommandIDs& getInstance();

    /** (Re)fills the registry with every command in command-number order, all disabled. */
    void addStandardCommandIDs();

    /** The IDs of all entries, in registry order. */
    juce::Array<int> getCommandList() const;

    /** The ID of a command, or 0 when it is not registered. */
    int getId (Command command) const;

    /** The entry of a command, or nullptr when it is not registered. */
    const ApplicationCommand* getCommand (Command command) const;

    /** The entry with the given ID, or nullptr. */
    const ApplicationCommand* findById (int commandId) const;

    /** Allows or forbids running a command; an unregistered command is ignored. */
    void enableCommand (Command command, bool shouldBeEnabled);

    /** True when the command is registered and enabled. */
    bool isEnabled (Command command) const;

    /** What the command manager shows for an ID: the name, description, category and
        default keys from the command table, flags 0, and disabled unless the entry is
        enabled. Undo and Redo are disabled whenever the undo history cannot undo or
        redo. A category-1 ID that no command has is named "Unassigned"; other IDs
        outside the registry get nothing but the disabled flag. */
    CommandInfo getCommandInfo (int commandId, UndoAvailability undo) const;

    /** The ID rule: the category in the high byte, the command number below it. */
    static int makeId (Command command, int category) noexcept;

    /** The category byte of an ID. */
    static int getCategoryOfId (int commandId) noexcept { return commandId >> 8; }

private:
    std::vector<ApplicationCommand> entries;

    JUCE_DECLARE_NON_COPYABLE (CommandIDs)
};

} // namespace kalder
