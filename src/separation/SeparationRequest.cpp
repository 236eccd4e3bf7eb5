#include "SeparationRequest.h"

namespace kalder::separation
{

juce::String SeparationRequest::getExtension (AudioEncoding encoding)
{
    return encoding == AudioEncoding::flac ? ".flac" : ".wav";
}

} // namespace kalder::separation
