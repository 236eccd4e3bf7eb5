#include "HelpPages.h"

namespace kalder
{

const std::vector<HelpPage>& HelpPages::getTutorial()
{
    static const std::vector<HelpPage> pages {
        { "1 of 5: Open a song",
          { "Drop an audio file on the window, or choose File > Open Audio File. WAV, AIFF, FLAC, Ogg, MP3 and M4A "
            "open; the exports keep the song's own sample rate and bit depth.",
            "The song plays at once: press Space. Its row at the bottom shows how far its analysis has got; the "
            "spectrogram appears when it is done." },
          "tutorialOpen" },
        { "2 of 5: Separate it",
          { "Track > Apply Separation splits the active track: Vocals, Drums, Bass, Other, Four Stems or by stereo "
            "position. A dialog lets you set the module's options before it starts.",
            "The results come back as new tracks under the separated one. The row shows the progress and a Cancel "
            "button while it runs; Edit > Undo takes a whole separation back." },
          "tutorialLayers" },
        { "3 of 5: Arrange and mix",
          { "Each row of the layers panel has its volume, pan, solo (S) and mute (M). Click a row to make it the "
            "active track; double-click its name to rename it; right-click it for its commands.",
            "Drag a row onto the edge of another to move it, or onto the middle of another to merge the two. "
            "View > Show Mixer Window opens faders and level meters for every track." },
          "tutorialMixer" },
        { "4 of 5: Edit the spectrogram",
          { "The tools on the left (keys 1 to 7) select areas of the spectrogram: a rectangle, a level threshold, "
            "the wand for a harmonic sound, transients, or the eraser's brush. Shift adds to a selection, Alt takes "
            "away.",
            "Delete erases what is selected; Freeze turns your edits into tracks of their own. Undo and Redo go back "
            "and forth through every step, shown in the history on the right." },
          "tutorialSpectrogram" },
        { "5 of 5: Export the result",
          { "File > Bounce Mixer Output writes what you hear; Export Current Track and Export All Tracks write "
            "tracks one by one. File > Save keeps the whole project, and an autosave keeps your work if the "
            "program is ever stopped.",
            "Help > Toggle Help brings these pages back at any time; the Keys page of Edit > Settings changes any "
            "command's keys." } },
    };
    return pages;
}

const HelpPage& HelpPages::getSpectrogramHelp()
{
    static const HelpPage page {
        "Spectrogram editing",
        { "Time runs left to right, frequency bottom to top; brighter is louder. The wheel scrolls, Shift and the "
          "wheel move through time, Ctrl and the wheel zoom; the Move and Zoom tools do the same with the mouse.",
          "Select with the tools on the left (keys 1 to 7, A for the next alternate of a tool). Without a key a new "
          "selection replaces the old one; Shift adds to it and Shift with Alt takes away. Right-drag zooms with any "
          "tool.",
          "Selection Playback sets how loud the selection plays against the rest; Only Selection plays it alone. "
          "Delete erases the selection from the track; Freeze makes new tracks of the edits; Reset takes every edit "
          "of the track away." },
        "tutorialSpectrogram"
    };
    return page;
}

} // namespace kalder
