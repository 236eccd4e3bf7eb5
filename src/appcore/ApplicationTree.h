#pragma once

#include <juce_data_structures/juce_data_structures.h>

namespace kalder
{

/** Value-tree type and property of the application's shared state. */
namespace ApplicationIds
{
    inline const juce::Identifier application { "APPLICATION" };
    inline const juce::Identifier flags { "ApplicationFlags" };
} // namespace ApplicationIds

/**
    The application's shared state: a value tree of type "APPLICATION" whose int
    property "ApplicationFlags" is a set of the bits below. Components listen to the
    tree to enable and disable their controls; code that changes a state sets or
    clears its bit.

    Who keeps which bit:
      - projectOpen: the mixer, while it has a master track;
      - pitchEdits, spectralEdits: the mixer, from the active track and the editor it
        shows (Mixer::refreshEditorFlags());
      - separationRunning and the "...SeparationUnavailable" bits: the separation code.

    Ownership: the application installs its instance with ScopedInstance; code that
    runs without one (tools, tests that do not care) gets a process-wide instance,
    created on first use. Tests install their own.

    Threading: message thread only, like every value tree.
*/
class ApplicationTree
{
public:
    /** The bits of "ApplicationFlags". */
    enum Flag : int
    {
        projectOpen = 1,                 // a master track is loaded
        separationRunning = 2,           // a separation is on its way
        pitchEdits = 4,                  // pitch edits on a track shown in the melody editor
        spectralEdits = 8,               // a selection or mask edits on a track shown in the spectral editor
        vocalSeparationUnavailable = 16, // each module can be turned off on its own
        panSeparationUnavailable = 32,
        drumSeparationUnavailable = 64,
        bassSeparationUnavailable = 128
    };

    /** A tree with no flag set. */
    ApplicationTree();
    ~ApplicationTree();

    /** The installed instance, else the process-wide one. */
    static ApplicationTree& getInstance();

    /** Makes an instance the one getInstance() returns, for this object's lifetime. */
    class ScopedInstance
    {
    public:
        explicit ScopedInstance (ApplicationTree& instance);
        ~ScopedInstance();

    private:
        ApplicationTree* previous;
        JUCE_DECLARE_NON_COPYABLE (ScopedInstance)
    };

    juce::ValueTree& getTree() noexcept { return tree; }

    int getFlags() const { return (int) tree[ApplicationIds::flags]; }
    bool isSet (int mask) const { return (getFlags() & mask) == mask; }

    /** Sets the bits of mask. */
    void enableFlags (int mask);
    /** Clears the bits of mask. */
    void disableFlags (int mask);
    /** Gives the bits of mask the values they have in values, in one change. */
    void updateFlags (int mask, int values);

    /** Whether each separation may be started now: a project is open, no separation
        runs and the module is available. Edits on a track do not forbid it here: the
        separation refuses an edited track with an alert that says why. */
    bool isVocalSepEnabled() const { return canSeparate (vocalSeparationUnavailable); }
    bool isPanSepEnabled() const { return canSeparate (panSeparationUnavailable); }
    bool isDrumSepEnabled() const { return canSeparate (drumSeparationUnavailable); }
    bool isBassSepEnabled() const { return canSeparate (bassSeparationUnavailable); }

    /** True while the active track has pitch or spectral edits in the editor it shows. */
    bool isTrackBeingEdited() const { return (getFlags() & (pitchEdits | spectralEdits)) != 0; }

private:
    bool canSeparate (int unavailableBit) const;

    juce::ValueTree tree { ApplicationIds::application };

    JUCE_DECLARE_NON_COPYABLE (ApplicationTree)
};

} // namespace kalder
