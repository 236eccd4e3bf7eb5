#pragma once

#include "appcore/AlertManager.h"
#include "appcore/CommandTable.h"
#include "separation/SeparationLauncher.h"
#include "tracks/Mixer.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace kalder
{

/**
    The separation commands ("Drum Separation", "Bass Separation", "Vocal Separation",
    "Other Separation", "Four Stem Separation", "Pan Separation"): each opens the
    separation dialog for the active track (or the master), asks "Apply Separation?"
    first when the track has a selection, and starts what the dialog chose. Refusals
    show their alerts; a separation that fails shows "Impossible to run separation: "
    with the reason. Separations of other tracks may be started while one runs; they
    wait their turn.

    Ownership: owned by the application, beside the launcher it uses.
    Threading: message thread only.
*/
class SeparationCommands
{
public:
    SeparationCommands (Mixer& mixer, AlertManager& alerts, separation::SeparationLauncher& launcher);
    ~SeparationCommands();

    static bool handles (Command command) noexcept;
    static std::optional<separation::Module> getModule (Command command) noexcept;

    /** Opens the dialog for the command's module, centred on parent. */
    bool perform (Command command, juce::Component* parent);

    /** Enables the commands while a project is open. */
    void updateEnablement();

    /** Shows a refusal's alert (nothing for none). */
    void showRefusal (separation::SeparationLauncher::Refusal refusal, const juce::String& failure = {});

    /** The open dialog, if any (tests). */
    juce::Component* getDialog() const { return dialog.getComponent(); }

    /** Called when a separation this class started has ended (tests). */
    std::function<void (const separation::SeparationLauncher::Outcome&)> onEnded;

private:
    /** Tracks the track's melody over the loop (the whole track without one) once its
        pitchogram exists, then calls done. */
    void trackMelodyOverLoop (AudioTrack::Ptr track, std::function<void()> done, int waitedMs = 0);
    void openDialog (separation::Module module, AudioTrack::Ptr track, juce::Component* parent);

    Mixer& mixer;
    AlertManager& alerts;
    separation::SeparationLauncher& launcher;
    juce::Component::SafePointer<juce::Component> dialog;

    JUCE_DECLARE_WEAK_REFERENCEABLE (SeparationCommands)
    JUCE_DECLARE_NON_COPYABLE (SeparationCommands)
};

} // namespace kalder
