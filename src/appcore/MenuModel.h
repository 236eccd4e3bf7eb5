#pragma once

#include "CommandTable.h"

#include <vector>

namespace kalder
{

/** One entry of a menu, as data; the main window turns it into a PopupMenu item. */
struct MenuItem
{
    enum class Kind
    {
        command,       // the command's item through the command manager, showing its keys
        separator,     //
        sectionHeader, // label is the header's text
        subMenu,       // label is the submenu's name, subItems its items
        quit,          // the framework's standard Quit command
        recentProject  // label is the project's file (a full path), recentIndex its place in the list
    };

    Kind kind = Kind::separator;
    Command command = Command::openAudioFile; // only for Kind::command
    juce::String label;                       // for a command: replaces its name when not empty
    std::vector<MenuItem> subItems;
    int recentIndex = 0;
};

/**
    The menu bar's menus and their items, with the labels that depend on the
    application's state.

    The main window asks for a menu each time it opens, so dynamic labels (Undo and
    Redo with the next action's description, the autoscroll toggle) are always
    current.

    Threading: stateless; every function may be called from any thread.
*/
class MenuModel
{
public:
    /** The state that the labels show. */
    struct State
    {
        juce::String undoDescription;     // of the next action that Undo would revert
        juce::String redoDescription;     // of the next action that Redo would repeat
        bool autoScrollOn = false;        // whether the view follows the playhead
        juce::String productName;         // the application's name, for "About"
        juce::StringArray recentProjects; // full paths, the latest first
    };

    static constexpr const char* recentProjectsMenuName = "Open Recent Project";

    /** The menus of the menu bar, by index. */
    enum MenuIndex
    {
        fileMenu = 0,
        editMenu,
        selectionMenu,
        trackMenu,
        toolsMenu,
        viewMenu,
        helpMenu,
        numMenus
    };

    /** The names of the menus, by index. */
    static juce::StringArray getMenuBarNames();

    /** The items of the menu at an index; empty for an index outside the menu bar. */
    static std::vector<MenuItem> getMenuItems (int menuIndex, const State& state);

    /** The label of the autoscroll toggle for the given scrolling state. */
    static juce::String getAutoscrollLabel (bool autoScrollOn);

private:
    MenuModel() = delete;
};

} // namespace kalder
