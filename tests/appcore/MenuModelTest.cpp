#include "appcore/MenuModel.h"

#include <gtest/gtest.h>

using kalder::MenuItem;
using kalder::MenuModel;

namespace
{
/** A menu written one item a line: a command as the text it shows (its name, or the
    label that replaces it), "---" for a separator, "# text" for a section header,
    "<Quit>" for the framework's quit command and "name > a | b" for a submenu. */
juce::StringArray describe (const std::vector<MenuItem>& items)
{
    juce::StringArray lines;

    for (const auto& item : items)
    {
        switch (item.kind)
        {
            case MenuItem::Kind::command:
            {
                const auto* description = kalder::CommandTable::find (item.command);
                lines.add (item.label.isNotEmpty() ? item.label : (description != nullptr ? description->name : "?"));
                break;
            }
            case MenuItem::Kind::separator:
                lines.add ("---");
                break;
            case MenuItem::Kind::sectionHeader:
                lines.add ("# " + item.label);
                break;
            case MenuItem::Kind::quit:
                lines.add ("<Quit>");
                break;
            case MenuItem::Kind::subMenu:
                lines.add (item.label + " > " + describe (item.subItems).joinIntoString (" | "));
                break;
            case MenuItem::Kind::recentProject:
                lines.add (juce::String (item.recentIndex) + ": " + item.label);
                break;
        }
    }

    return lines;
}

juce::StringArray lines (std::initializer_list<const char*> texts)
{
    juce::StringArray result;

    for (auto* text : texts)
        result.add (text);

    return result;
}

MenuModel::State someState()
{
    MenuModel::State state;
    state.undoDescription = "Wand selection";
    state.redoDescription = "Erase";
    state.autoScrollOn = true;
    state.productName = "Kalder Pro";
    state.recentProjects = { "/songs/a.orv", "/other/b.orv" };
    return state;
}
} // namespace

TEST (MenuModel, menuBarHasSevenMenusAndNothingBeyond)
{
    EXPECT_EQ (MenuModel::getMenuBarNames(), lines ({ "File", "Edit", "Selection", "Track", "Tools", "View", "Help" }));
    EXPECT_TRUE (MenuModel::getMenuItems (7, someState()).empty());
    EXPECT_TRUE (MenuModel::getMenuItems (-1, someState()).empty());
}

TEST (MenuModel, everyMenuHoldsItsItemsInOrder)
{
    const auto state = someState();

    EXPECT_EQ (describe (MenuModel::getMenuItems (0, state)),
               lines ({ "Open Audio File", "---", "Save", "Save As...", "Bounce Mixer Output", "Export Current Track",
                        "Export All Tracks", "---", "Open project", "Open Recent Project > 0: /songs/a.orv | 1: /other/b.orv",
                        "---", "<Quit>" }));

    EXPECT_EQ (describe (MenuModel::getMenuItems (1, state)), lines ({ "Undo Wand selection", "Redo Erase", "---", "Settings" }));

    EXPECT_EQ (describe (MenuModel::getMenuItems (2, state)),
               lines ({ "Erase", "---", "Move to New Track", "---", "Expand", "Shrink", "Strengthen", "Dim", "Deselect" }));

    EXPECT_EQ (describe (MenuModel::getMenuItems (3, state)),
               lines ({ "# Apply Separation", "Four Stem Separation", "Vocal Separation", "Bass Separation", "Drum Separation",
                        "Other Separation", "Pan Separation", "---",
                        "Melody Editor > Show Melody Editor | Import Melody Guide | Export Melody Guide | Reset Melody Edits",
                        "Spectral Editor > Show Spectrogram Editor | Flip Mask | Freeze Manual Edits | Reset Spectral Edits",
                        "---", "Merge Selected Tracks", "Export Current Track" }));

    EXPECT_EQ (describe (MenuModel::getMenuItems (4, state)), lines ({ "Next Alternate" }));

    EXPECT_EQ (describe (MenuModel::getMenuItems (5, state)),
               lines ({ "Show Main Window", "Show Mixer Window", "Disable scroll during playback" }));

    EXPECT_EQ (describe (MenuModel::getMenuItems (6, state)),
               lines ({ "Toggle Help", "Show Spectrogram Help", "---", "About Kalder Pro" }));
}

TEST (MenuModel, labelsFollowTheStateEachTimeAMenuIsBuilt)
{
    auto state = someState();
    state.undoDescription = "Erase";
    state.redoDescription = "Move to New Track";
    state.autoScrollOn = false;

    EXPECT_EQ (describe (MenuModel::getMenuItems (1, state)),
               lines ({ "Undo Erase", "Redo Move to New Track", "---", "Settings" }));
    EXPECT_EQ (describe (MenuModel::getMenuItems (5, state)),
               lines ({ "Show Main Window", "Show Mixer Window", "Scroll during playback" }));

    // The labelled items still run their own commands.
    const auto edit = MenuModel::getMenuItems (1, state);
    EXPECT_EQ (edit[0].command, kalder::Command::undo);
    EXPECT_EQ (edit[1].command, kalder::Command::redo);
    EXPECT_EQ (MenuModel::getMenuItems (5, state)[2].command, kalder::Command::toggleAutoscroll);
    EXPECT_EQ (MenuModel::getMenuItems (6, state)[3].command, kalder::Command::about);
}
