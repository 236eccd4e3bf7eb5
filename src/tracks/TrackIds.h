#pragma once

#include <juce_data_structures/juce_data_structures.h>

namespace kalder
{

/** Value-tree types and properties of tracks and the mixer: process-wide constants. */
namespace TrackIds
{
    inline const juce::Identifier track { "TRACK" };
    inline const juce::Identifier volume { "TrackVolume" };
    inline const juce::Identifier panL { "TrackPanL" };
    inline const juce::Identifier panR { "TrackPanR" };
    inline const juce::Identifier solo { "TrackSolo" };
    inline const juce::Identifier mute { "TrackMute" };
    inline const juce::Identifier colour { "TrackColour" };
    inline const juce::Identifier name { "TrackName" };
    inline const juce::Identifier editor { "TrackEditor" };
    inline const juce::Identifier previewPitchEdits { "TrackPreviewPitchEdits" };
    inline const juce::Identifier asigProgress { "TrackAsigProgress" };
    /** Why the last analysis of the track's store failed (absent while none failed). */
    inline const juce::Identifier asigError { "TrackAsigError" };
    inline const juce::Identifier pgramProgress { "TrackPgramProgress" };
} // namespace TrackIds

namespace MixerIds
{
    inline const juce::Identifier mixer { "MIXER" };
    inline const juce::Identifier volume { "MixerVolume" };
    inline const juce::Identifier separation { "MixerSeparation" };
    inline const juce::Identifier operation { "MixerOperation" };
} // namespace MixerIds

} // namespace kalder
