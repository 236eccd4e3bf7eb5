#pragma once

#include <juce_core/juce_core.h>

namespace kalder::Editor
{

/** The editor a track is shown in ("TrackEditor"). The numbers are stored in trees and
    projects; they are also the choice numbers of the "defaultEditor" setting. */
enum class Type : int
{
    none = 0,     // the mixer view: no editor
    melody = 1,   // the melody editor (pitchogram and pitch lines)
    spectral = 2, // the spectral editor (spectrogram, masks and selection)
};

/** The type of a stored value; anything unknown is none. */
inline Type toType (const juce::var& stored) noexcept
{
    const auto n = (int) stored;
    return n == (int) Type::melody || n == (int) Type::spectral ? (Type) n : Type::none;
}

} // namespace kalder::Editor
