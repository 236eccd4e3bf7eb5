#include "CommandIDs.h"

#include <juce_events/juce_events.h>

#include <algorithm>

namespace kalder
{

CommandIDs::CommandIDs()
{
    addStandardCommandIDs();
}

CommandIDs& CommandIDs::getInstance()
{
    static CommandIDs instance;
    return instance;
}

void CommandIDs::addStandardCommandIDs()
{
    JUCE_ASSERT_MESSAGE_THREAD

    entries.clear();

    for (const auto& description : CommandTable::getAll())
        entries.push_back ({ description.command, makeId (description.command, description.category), false });
}

juce::Array<int> CommandIDs::getCommandList() const
{
    juce::Array<int> ids;

    for (const auto& entry : entries)
        ids.add (entry.id);

    return ids;
}

int CommandIDs::getId (Command command) const
{
    const auto* entry = getCommand (command);
    return entry != nullptr ? entry->id : 0;
}

const ApplicationCommand* CommandIDs::getCommand (Command command) const
{
    const auto it = std::find_if (entries.begin(), entries.end(), [command] (const auto& e) { return e.command == command; });
    return it != entries.end() ? &*it : nullptr;
}

const ApplicationCommand* CommandIDs::findById (int commandId) const
{
    const auto it = std::find_if (entries.begin(), entries.end(), [commandId] (const auto& e) { return e.id == commandId; });
    return it != entries.end() ? &*it : nullptr;
}

void CommandIDs::enableCommand (Command command, bool shouldBeEnabled)
{
    JUCE_ASSERT_MESSAGE_THREAD

    const auto it = std::find_if (entries.begin(), entries.end(), [command] (const auto& e) { return e.command == command; });

    if (it != entries.end())
        it->enabled = shouldBeEnabled;
}

bool CommandIDs::isEnabled (Command command) const
{
    const auto* entry = getCommand (command);
    return entry != nullptr && entry->enabled;
}

CommandIDs::CommandInfo CommandIDs::getCommandInfo (int commandId, UndoAvailability undo) const
{
    CommandInfo info;
    info.disabled = true;

    const auto category = getCategoryOfId (commandId);

    if (commandId < 256 || category < CommandTable::firstCategory || category > CommandTable::lastCategory)
        return info;

    const auto* entry = findById (commandId);
    const auto* description = entry != nullptr ? CommandTable::find (entry->command) : nullptr;

    if (description == nullptr)
    {
        if (category == CommandTable::general)
        {
            info.shortName = "Unassigned";
            info.categoryName = CommandTable::getCategoryName (category);
        }

        return info;
    }

    info.shortName = description->name;
    info.description = description->description;
    info.categoryName = CommandTable::getCategoryName (description->category);
    info.defaultKeys = description->defaultKeys;
    info.flags = 0;
    info.disabled = ! entry->enabled;

    if ((entry->command == Command::undo && ! undo.canUndo) || (entry->command == Command::redo && ! undo.canRedo))
        info.disabled = true;

    return info;
}

int CommandIDs::makeId (Command command, int category) noexcept
{
    jassert (category >= CommandTable::firstCategory && category <= CommandTable::lastCategory);
    return (category << 8) | static_cast<int> (command);
}

} // namespace kalder
