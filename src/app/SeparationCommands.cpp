#include "SeparationCommands.h"

#include "appcore/CommandIDs.h"
#include "appcore/SettingsManager.h"
#include "melody/PitchEditManager.h"
#include "ui/KalderLookAndFeel.h"
#include "ui/SeparationDialog.h"

namespace kalder
{

using namespace separation;

namespace
{
    constexpr std::pair<Command, Module> commandModules[] = {
        { Command::drumSeparation, Module::drums },         { Command::bassSeparation, Module::bass },
        { Command::vocalSeparation, Module::vocals },       { Command::otherSeparation, Module::other },
        { Command::fourStemSeparation, Module::fourStems }, { Command::panSeparation, Module::pan },
    };

    const char* const dialogTitle = "Separation";
} // namespace

SeparationCommands::SeparationCommands (Mixer& m, AlertManager& a, SeparationLauncher& l) : mixer (m), alerts (a), launcher (l)
{
    updateEnablement();
}

SeparationCommands::~SeparationCommands()
{
    if (auto* d = dialog.getComponent())
        if (auto* window = d->findParentComponentOfClass<juce::DialogWindow>())
            delete window;
}

std::optional<Module> SeparationCommands::getModule (Command command) noexcept
{
    for (const auto& [c, m] : commandModules)
        if (c == command)
            return m;
    return std::nullopt;
}

bool SeparationCommands::handles (Command command) noexcept
{
    return getModule (command).has_value();
}

void SeparationCommands::updateEnablement()
{
    for (const auto& [c, m] : commandModules)
        CommandIDs::getInstance().enableCommand (c, true); // refusals say why when there is nothing to separate
}

void SeparationCommands::showRefusal (SeparationLauncher::Refusal refusal, const juce::String& failure)
{
    using R = SeparationLauncher::Refusal;
    using E = AlertManager::ErrorType;
    switch (refusal)
    {
        case R::none:
            return;
        case R::noFileLoaded:
            return alerts.showPopupErrorMessage (E::NoFileLoaded);
        case R::trackLocked:
            return alerts.showPopupErrorMessage (E::TrackLocked);
        case R::separatingEditedTrack:
            return alerts.showPopupErrorMessage (E::SeparatingEditedTrack);
        case R::separationRunning:
            return alerts.showPopupErrorMessage (E::SeparationRunning);
        case R::noPitchGuide:
            return alerts.showPopupErrorMessage (E::NoPitchGuide);
        case R::noPitchGuideEditorClosed:
            return alerts.showPopupErrorMessage (E::NoPitchGuideEditorClosed);
        case R::notStereo:
            return alerts.displayWarningPopup ("Pan Separation", "The Pan separation is for true stereo files only");
        case R::invalidTrack:
            if (failure.isNotEmpty())
                return alerts.displayWarningPopup ("Separation", SeparationLauncher::failurePrefix + failure);
            return alerts.showPopupErrorMessage (E::InvalidTrack);
    }
}

bool SeparationCommands::perform (Command command, juce::Component* parent)
{
    const auto module = getModule (command);
    if (! module.has_value())
        return false;
    auto track = mixer.getActiveTrack() != nullptr ? mixer.getActiveTrack() : mixer.getMasterTrack();

    // The refusals that no choice in the dialog can change come first.
    SeparationLauncher::Request probe;
    probe.track = track;
    probe.module = *module == Module::vocals ? Module::bass : *module; // the vocal mode is chosen in the dialog
    if (const auto refusal = launcher.check (probe); refusal != SeparationLauncher::Refusal::none)
    {
        showRefusal (refusal);
        return true;
    }

    auto* store = track->getAsig();
    if (track->isStoreReady() && store != nullptr && store->hasSelection())
    {
        juce::WeakReference<SeparationCommands> self (this);
        juce::Component::SafePointer<juce::Component> safeParent (parent);
        alerts.showYesNoBox (AlertManager::YesNoBoxType::ApplySeparation,
                             [self, module, track, safeParent] (AlertManager::Answer a) {
                                 if (self == nullptr || a != AlertManager::Answer::yes)
                                     return;
                                 // The selection is lost if the user proceeds.
                                 if (auto* s = track->getAsig())
                                     s->clearSelection();
                                 self->openDialog (*module, track, safeParent.getComponent());
                             });
        return true;
    }
    openDialog (*module, track, parent);
    return true;
}

void SeparationCommands::trackMelodyOverLoop (AudioTrack::Ptr track, std::function<void()> done, int waitedMs)
{
    // The pitchogram is made on the track's pool; the tracking waits for it (a minute at
    // most: an hour-long song takes seconds).
    constexpr int pollMs = 100, longestWaitMs = 60000;
    track->updatePitchogram();
    if (track->getPgram().getView() == nullptr)
    {
        if (waitedMs >= longestWaitMs)
        {
            alerts.displayWarningPopup ("No melody found", "The pitch of " + track->getName() + " could not be analysed.");
            return;
        }
        juce::WeakReference<SeparationCommands> self (this);
        juce::Timer::callAfterDelay (pollMs, [self, track, done, waitedMs] {
            if (self != nullptr)
                self->trackMelodyOverLoop (track, done, waitedMs + pollMs);
        });
        return;
    }
    const auto frames = track->getnFrames();
    juce::Range<float> x (0.0f, 1.0f);
    if (mixer.isLoopEnabled())
    {
        // block b is heard around the centre of frame b + 1
        const auto loop = mixer.getLoop();
        x = { PitchLine::frameToX (loop.getStart() + 1, frames), PitchLine::frameToX (loop.getEnd() + 1, frames) };
    }
    if (! track->getPitchEditManager().findMelodyWithinRectangle (x, { 0.0f, 1.0f }))
        alerts.displayWarningPopup ("No melody found", "No melody stands out in " + track->getName() + " there.");
    done();
}

void SeparationCommands::openDialog (Module module, AudioTrack::Ptr track, juce::Component* parent)
{
    if (auto* open = dialog.getComponent())
        if (auto* window = open->findParentComponentOfClass<juce::DialogWindow>())
            delete window;

    const auto tracks = mixer.getAllTracks();
    juce::StringArray names;
    for (auto* t : tracks)
        names.add (t->getName());
    auto* store = track->getAsig();
    const bool hasSelectionSpan = track->isStoreReady() && store != nullptr && store->hasSelection();
    auto content = std::make_unique<SeparationDialog> (
        module, module == Module::other ? nullptr : SeparationSettings::get (SettingsManager::getInstance(), module), names,
        tracks.indexOf (track.get()), mixer.isLoopEnabled(), hasSelectionSpan);
    juce::WeakReference<SeparationCommands> self (this);
    content->hasMelodyLines = [tracks] (int index) { return tracks[index] != nullptr && tracks[index]->hasPitchEdits(); };
    juce::Component::SafePointer<SeparationDialog> shown (content.get());
    content->onTrackMelody = [self, tracks, shown] (int index) {
        if (self != nullptr && tracks[index] != nullptr)
            self->trackMelodyOverLoop (tracks[index], [shown] {
                if (shown != nullptr)
                    shown->refreshMelodyNote();
            });
    };
    content->refreshMelodyNote();
    content->onStart = [self, tracks] (const SeparationDialog::Choice& choice) {
        if (self == nullptr)
            return;
        auto chosen = tracks[choice.trackIndex];
        SeparationLauncher::Request request;
        request.track = chosen;
        request.module = choice.module;
        request.settings = choice.settings;
        if (choice.range == SeparationDialog::Range::loop)
            request.blocks = self->mixer.getLoop();
        else if (choice.range == SeparationDialog::Range::selection && chosen != nullptr && chosen->getAsig() != nullptr)
            request.blocks = chosen->getAsig()->getSelectedFrameRange();

        // The choice becomes the module's stored settings, so the next dialog starts from it.
        if (choice.settings != nullptr)
            if (auto stored = SeparationSettings::get (SettingsManager::getInstance(), choice.module))
            {
                for (const auto& p : choice.settings->getParameterValues())
                    stored->setValue (p.name.toString(), p.value);
                SettingsManager::getInstance().groupChanged (SettingsIds::separation);
            }

        juce::String failure;
        const auto refusal = self->launcher.start (
            request,
            [self] (const SeparationLauncher::Outcome& outcome) {
                if (self == nullptr)
                    return;
                if (outcome.result.failed() && ! outcome.wasCancelled())
                    self->alerts.displayWarningPopup ("Separation", outcome.getMessage());
                if (self->onEnded != nullptr)
                    self->onEnded (outcome);
            },
            &failure);
        self->showRefusal (refusal, failure);
    };

    juce::DialogWindow::LaunchOptions options;
    options.dialogTitle = dialogTitle;
    options.componentToCentreAround = parent;
    options.dialogBackgroundColour = KalderLookAndFeel::Palette::panel;
    options.escapeKeyTriggersCloseButton = true;
    options.useNativeTitleBar = true;
    options.resizable = false;
    dialog = content.get();
    options.content.setOwned (content.release());
    options.launchAsync();
}

} // namespace kalder
