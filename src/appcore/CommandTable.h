#pragma once

#include <juce_core/juce_core.h>

#include <vector>

namespace kalder
{

/** The application's commands. The numbers are stable: they order the registry and
    form the low byte of each command ID. */
enum class Command : int
{
    openAudioFile = 1,
    save,
    saveAs,
    bounceMixerOutput,
    exportCurrentTrack,
    exportAllTracks,
    openProject,
    undo,
    redo,
    toggleHelp,
    showSpectrogramHelp,
    settings,
    about,
    deselect,
    expand,
    shrink,
    strengthen,
    dim,
    removePercussiveElements,
    removeHarmonicElements,
    moveToNewTrack,
    erase,
    removeForeground,
    firstEditorTool,
    secondEditorTool,
    thirdEditorTool,
    fourthEditorTool,
    fifthEditorTool,
    sixthEditorTool,
    seventhEditorTool,
    eighthEditorTool,
    ninthEditorTool,
    nextAlternate,
    showMainWindow,
    showMixerWindow,
    toggleAutoscroll,
    playPause,
    stop,
    backward,
    fastBackward,
    forward,
    fastForward,
    movePlayheadToStart,
    playFromStart,
    movePlayheadToEnd,
    toggleLoop,
    drumSeparation,
    bassSeparation,
    vocalSeparation,
    otherSeparation,
    fourStemSeparation,
    panSeparation,
    freezeManualEdits,
    mergeSelectedTracks,
    showMelodyEditor,
    importMelodyGuide,
    exportMelodyGuide,
    resetMelodyEdits,
    showSpectrogramEditor,
    flipMask,
    resetSpectralEdits
};

/**
    One default key press of a command, as plain data.

    The windowing layer turns it into a juce::KeyPress: Key::character becomes the
    character itself, the other keys the framework's platform key codes, and the
    modifier flags the framework's modifier keys, where command means the platform's
    command key (Ctrl on Linux and Windows). The text character is always 0.
*/
struct DefaultKey
{
    enum class Key
    {
        character, // a lower-case letter, a digit or a punctuation character
        space,
        returnKey,
        backspace,
        deleteKey,
        leftArrow,
        rightArrow,
        home,
        end
    };

    /** Modifier flags, combined with |. */
    enum Modifier
    {
        noModifiers = 0,
        shift = 1,
        alt = 4,
        command = 8
    };

    Key key = Key::character;
    juce::juce_wchar character = 0; // only for Key::character
    int modifiers = noModifiers;
};

/** What the user sees of a command: its name, description, category and default keys. */
struct CommandDescription
{
    Command command;
    int category;
    juce::String name, description;
    std::vector<DefaultKey> defaultKeys;
};

/**
    The fixed description of every command, and the categories the key-mapping editor
    groups them in.

    The texts are the product's: menus, the key-mapping editor and the manual show
    them, so they stay as first published, spelling included.

    Threading: read-only data; every function may be called from any thread.
*/
class CommandTable
{
public:
    /** The categories; a category's number is the high byte of its commands' IDs. */
    enum Category
    {
        general = 1,
        gui,
        selection,
        transport,
        track,
        settings
    };

    static constexpr int firstCategory = general;
    static constexpr int lastCategory = settings;
    static constexpr int numCommands = 61; // openAudioFile .. resetSpectralEdits

    /** Every command in command-number order. */
    static const std::vector<CommandDescription>& getAll();

    /** The description of a command, or nullptr for a value outside the enumeration. */
    static const CommandDescription* find (Command command);

    /** The name the key-mapping editor shows for a category; empty for an unknown one. */
    static juce::String getCategoryName (int category);

private:
    CommandTable() = delete;
};

} // namespace kalder
