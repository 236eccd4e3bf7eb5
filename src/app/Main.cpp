#include "DisplayCheck.h"
#include "InstanceForwarder.h"
#include "TarnApplication.h"

#include <iostream>

namespace
{
juce::JUCEApplicationBase* createApplication()
{
    return new kalder::TarnApplication();
}
} // namespace

// The framework's entry point, preceded by the display check (without a display the
// framework cannot create a window, and the user learns why and what to do instead) and
// by the hand-over of files to a running instance.
int main (int argc, char* argv[])
{
    if (! kalder::DisplayCheck::isDisplayAvailable())
    {
        std::cerr << kalder::DisplayCheck::getNoDisplayMessage() << std::endl;
        return 1;
    }

    // A second start hands its files to the instance already running and ends; the
    // framework's own hand-over does nothing on Linux.
    juce::Array<juce::File> files;
    for (int i = 1; i < argc; ++i)
        if (const juce::String argument (argv[i]); argument.isNotEmpty() && ! argument.startsWithChar ('-'))
            files.add (juce::File::getCurrentWorkingDirectory().getChildFile (argument));
    if (kalder::InstanceForwarder::forwardToRunningInstance (kalder::InstanceForwarder::getDefaultFifo(), files))
        return 0;

    juce::JUCEApplicationBase::createInstance = &createApplication;
    return juce::JUCEApplicationBase::main (argc, (const char**) argv);
}
