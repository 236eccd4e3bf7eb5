#include "MenuModel.h"

namespace kalder
{

namespace
{
    MenuItem item (Command command, const juce::String& label = {})
    {
        return { MenuItem::Kind::command, command, label, {} };
    }

    MenuItem separator()
    {
        return { MenuItem::Kind::separator, {}, {}, {} };
    }

    MenuItem header (const juce::String& text)
    {
        return { MenuItem::Kind::sectionHeader, {}, text, {} };
    }

    MenuItem subMenu (const juce::String& name, std::vector<MenuItem> items)
    {
        return { MenuItem::Kind::subMenu, {}, name, std::move (items) };
    }

    MenuItem quit()
    {
        return { MenuItem::Kind::quit, {}, {}, {} };
    }

    /** The submenu of the recent projects (empty, and shown greyed, when there are none). */
    MenuItem recentProjects (const juce::StringArray& files)
    {
        std::vector<MenuItem> items;
        for (int i = 0; i < files.size(); ++i)
            items.push_back ({ MenuItem::Kind::recentProject, {}, files[i], {}, i });
        return subMenu (MenuModel::recentProjectsMenuName, std::move (items));
    }
} // namespace

juce::StringArray MenuModel::getMenuBarNames()
{
    return { "File", "Edit", "Selection", "Track", "Tools", "View", "Help" };
}

juce::String MenuModel::getAutoscrollLabel (bool autoScrollOn)
{
    return juce::String (autoScrollOn ? "Disable scroll" : "Scroll") + " during playback";
}

std::vector<MenuItem> MenuModel::getMenuItems (int menuIndex, const State& state)
{
    using C = Command;

    switch (menuIndex)
    {
        case fileMenu:
            return { item (C::openAudioFile),
                     separator(),
                     item (C::save),
                     item (C::saveAs),
                     item (C::bounceMixerOutput),
                     item (C::exportCurrentTrack),
                     item (C::exportAllTracks),
                     separator(),
                     item (C::openProject),
                     recentProjects (state.recentProjects),
                     separator(),
                     quit() };

        case editMenu:
            return { item (C::undo, "Undo " + state.undoDescription), item (C::redo, "Redo " + state.redoDescription),
                     separator(), item (C::settings) };

        case selectionMenu:
            return { item (C::erase),      separator(),      item (C::moveToNewTrack),
                     separator(),          item (C::expand), item (C::shrink),
                     item (C::strengthen), item (C::dim),    item (C::deselect) };

        case trackMenu:
            return { header ("Apply Separation"),
                     item (C::fourStemSeparation),
                     item (C::vocalSeparation),
                     item (C::bassSeparation),
                     item (C::drumSeparation),
                     item (C::otherSeparation),
                     item (C::panSeparation),
                     separator(),
                     subMenu ("Melody Editor", { item (C::showMelodyEditor), item (C::importMelodyGuide),
                                                 item (C::exportMelodyGuide), item (C::resetMelodyEdits) }),
                     subMenu ("Spectral Editor", { item (C::showSpectrogramEditor), item (C::flipMask),
                                                   item (C::freezeManualEdits), item (C::resetSpectralEdits) }),
                     separator(),
                     item (C::mergeSelectedTracks),
                     item (C::exportCurrentTrack) };

        case toolsMenu:
            return { item (C::nextAlternate) };

        case viewMenu:
            return { item (C::showMainWindow), item (C::showMixerWindow),
                     item (C::toggleAutoscroll, getAutoscrollLabel (state.autoScrollOn)) };

        case helpMenu:
            return { item (C::toggleHelp), item (C::showSpectrogramHelp), separator(),
                     item (C::about, "About " + state.productName) };

        default:
            return {};
    }
}

} // namespace kalder
