#include "CommandTable.h"

namespace kalder
{

namespace
{
    using Key = DefaultKey::Key;

    DefaultKey ch (juce::juce_wchar character, int modifiers = DefaultKey::noModifiers)
    {
        return { Key::character, character, modifiers };
    }

    DefaultKey special (Key key, int modifiers = DefaultKey::noModifiers)
    {
        return { key, 0, modifiers };
    }

    constexpr int cmd = DefaultKey::command;
    constexpr int shift = DefaultKey::shift;
    constexpr int alt = DefaultKey::alt;

    std::vector<CommandDescription> buildTable()
    {
        using C = Command;
        using T = CommandTable;

        std::vector<CommandDescription> table {
            { C::openAudioFile,
              T::general,
              "Open Audio File",
              "Loads a new audio file to the current project",
              { ch ('n', cmd | shift) } },
            { C::save, T::general, "Save", "Saves the current project to a file", { ch ('s', cmd) } },
            { C::saveAs, T::general, "Save As...", "Saves a copy of the current project to a file", { ch ('s', cmd | shift) } },
            { C::bounceMixerOutput,
              T::general,
              "Bounce Mixer Output",
              "Exports the current mix to an audio file",
              { ch ('b', cmd) } },
            { C::exportCurrentTrack,
              T::general,
              "Export Current Track",
              "Exports the current track to an audio file",
              { ch ('e', cmd) } },
            { C::exportAllTracks,
              T::general,
              "Export All Tracks",
              "Exports all the tracks to individual audio files",
              { ch ('e', cmd | shift) } },
            { C::openProject, T::general, "Open project", "Opens a previously saved project", { ch ('o', cmd) } },
            { C::undo, T::general, "Undo", "Tries to revert the last action that was performed", { ch ('z', cmd) } },
            { C::redo, T::general, "Redo", "Tries to redo the last action that was undone", { ch ('z', cmd | shift) } },
            { C::toggleHelp, T::general, "Toggle Help", "Enables or disables the quick help windows", {} },
            { C::showSpectrogramHelp,
              T::general,
              "Show Spectrogram Help",
              "Shows the quick help page for spectrogram editing",
              {} },
            { C::settings, T::settings, "Settings", "Modify Application Settings", { ch (',', cmd) } },
            { C::about, T::general, "About", "Opens a window with the description of the software", {} },
            { C::deselect, T::selection, "Deselect", "Discards the current selection", { ch ('a', cmd | shift) } },
            { C::expand, T::selection, "Expand", "Expands the current selection", {} },
            { C::shrink, T::selection, "Shrink", "Shrinks the current selection", {} },
            { C::strengthen, T::selection, "Strengthen", "Strengthens the current selection", {} },
            { C::dim, T::selection, "Dim", "Dims the current selection", {} },
            { C::removePercussiveElements,
              T::selection,
              "Remove Percussive Elements",
              "Removes percussive content from the selection",
              {} },
            { C::removeHarmonicElements,
              T::selection,
              "Remove Harmonic Elements",
              "Removes harmonic content from the selection",
              {} },
            { C::moveToNewTrack,
              T::selection,
              "Move to New Track",
              "Adds the current selection to the mask and makes a new track from it",
              { ch ('l', cmd | shift) } },
            { C::erase,
              T::selection,
              "Erase",
              "Masks the current selection",
              { special (Key::backspace), special (Key::deleteKey) } },
            { C::removeForeground, T::selection, "Remove Foreground", "Removes foreground of the current selection", {} },
        };

        // The nine editor tools answer to the digit keys 1 to 9. The first description
        // reads differently from the other eight, and "Eigth" is spelt as published.
        const char* toolNames[] = { "First", "Second", "Third", "Fourth", "Fifth", "Sixth", "Seventh", "Eigth", "Ninth" };
        const char* ordinals[] = { "first", "second", "third", "fourth", "fifth", "sixth", "seventh", "eighth", "ninth" };

        for (int i = 0; i < 9; ++i)
        {
            const auto command = static_cast<Command> (static_cast<int> (Command::firstEditorTool) + i);
            const auto description = i == 0 ? juce::String ("Switches to the first editor tool")
                                            : "Switches the " + juce::String (ordinals[i]) + " editor tool";
            table.push_back ({ command,
                               T::gui,
                               juce::String (toolNames[i]) + " Editor Tool",
                               description,
                               { ch (static_cast<juce::juce_wchar> ('1' + i)) } });
        }

        const std::vector<CommandDescription> rest {
            { C::nextAlternate, T::gui, "Next Alternate", "Switches the next alternate of the active editor tool", { ch ('a') } },
            { C::showMainWindow,
              T::gui,
              "Show Main Window",
              "Brings the main application window to the front",
              { ch ('1', cmd) } },
            { C::showMixerWindow,
              T::gui,
              "Show Mixer Window",
              "Open a new mixer window, or brings it to front if it is already open",
              { ch ('2', cmd) } },
            { C::toggleAutoscroll,
              T::gui,
              "Toggle Autoscroll",
              "Enables or disables the automatic scrolling of the spectrogram during playback",
              {} },
            { C::playPause, T::transport, "Play/Pause", "Plays or pauses audio playback", { special (Key::space) } },
            { C::stop, T::transport, "Stop", "Stops audio playback and resets the cursor position to 0", {} },
            { C::backward,
              T::transport,
              "Backward",
              "Moves the playback cursor back by a short amount of time",
              { ch ('['), special (Key::leftArrow) } },
            { C::fastBackward,
              T::transport,
              "Fast Backward",
              "Moves the playback cursor back by a large amount of time",
              { ch ('{', shift), special (Key::leftArrow, alt) } },
            { C::forward,
              T::transport,
              "Forward",
              "Moves the playback cursor forward by a short amount of time",
              { ch (']'), special (Key::rightArrow) } },
            { C::fastForward,
              T::transport,
              "Fast Forward",
              "Moves the playback cursor forward by a large amount of time",
              { ch ('}', shift), special (Key::rightArrow, alt) } },
            { C::movePlayheadToStart,
              T::transport,
              "Move Playhead To Start",
              "Moves the playhead position to the beginning of the project",
              { special (Key::home), special (Key::returnKey), special (Key::leftArrow, cmd) } },
            { C::playFromStart, T::transport, "Play From Start", "Starts audio playback from the beginning of the project", {} },
            { C::movePlayheadToEnd,
              T::transport,
              "Move Playhead To End",
              "Moves the playhead position to the end of the project",
              { special (Key::end), special (Key::rightArrow, cmd) } },
            { C::toggleLoop, T::transport, "Toggle Loop", "Activates or deactivates the current loop", { ch ('l') } },
            { C::drumSeparation, T::track, "Drum Separation", "Apply Drum Separation", {} },
            { C::bassSeparation, T::track, "Bass Separation", "Apply Bass Separation", {} },
            { C::vocalSeparation, T::track, "Vocal Separation", "Apply Vocal Separation", {} },
            { C::otherSeparation, T::track, "Other Separation", "Apply Other Separation", {} },
            { C::fourStemSeparation, T::track, "Four Stem Separation", "Apply Four Stem Separation", {} },
            { C::panSeparation, T::track, "Pan Separation", "Apply Pan Separation", {} },
            { C::freezeManualEdits, T::track, "Freeze Manual Edits", "Apply Manual Separation", {} },
            { C::mergeSelectedTracks, T::track, "Merge Selected Tracks", "Merge Selected Tracks.", {} },
            { C::showMelodyEditor, T::track, "Show Melody Editor", "Show melody editor for the active track", {} },
            { C::importMelodyGuide,
              T::track,
              "Import Melody Guide",
              "Import a saved melody guide to the active track's melody editor",
              {} },
            { C::exportMelodyGuide, T::track, "Export Melody Guide", "Export the active track's melody guide to a file", {} },
            { C::resetMelodyEdits,
              T::track,
              "Reset Melody Edits",
              "Discards all melody edits made on the currently track's melody editor",
              {} },
            { C::showSpectrogramEditor, T::track, "Show Spectrogram Editor", "Show spectrogram editor for the active track", {} },
            { C::flipMask,
              T::track,
              "Flip Mask",
              "Flips the mask of the active track to show/play only the parts of the spectrogram that were manually removed",
              { ch ('f', alt) } },
            { C::resetSpectralEdits,
              T::track,
              "Reset Spectral Edits",
              "Discards all spectral edits made on the currently edited track's spectrogram",
              {} },
        };

        table.insert (table.end(), rest.begin(), rest.end());

        // Lookups index the table by command number.
        for (size_t i = 0; i < table.size(); ++i)
            jassert (static_cast<int> (table[i].command) == static_cast<int> (i) + 1);

        jassert (static_cast<int> (table.size()) == CommandTable::numCommands);
        return table;
    }
} // namespace

const std::vector<CommandDescription>& CommandTable::getAll()
{
    static const std::vector<CommandDescription> table = buildTable();
    return table;
}

const CommandDescription* CommandTable::find (Command command)
{
    const auto index = static_cast<int> (command) - 1;
    const auto& table = getAll();

    if (index < 0 || index >= static_cast<int> (table.size()))
        return nullptr;

    return &table[static_cast<size_t> (index)];
}

juce::String CommandTable::getCategoryName (int category)
{
    switch (category)
    {
        case general:
            return "General";
        case gui:
            return "GUI";
        case selection:
            return "Selection";
        case transport:
            return "Transport";
        case track:
            return "Track";
        case settings:
            return "Settings";
        default:
            return {};
    }
}

} // namespace kalder
