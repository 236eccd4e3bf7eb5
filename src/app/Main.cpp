#include "DisplayCheck.h"
#include "TarnApplication.h"

#include <iostream>

namespace
{
juce::JUCEApplicationBase* createApplication()
{
    return new kalder::TarnApplication();
}
} // namespace

// The framework's entry point, preceded by the display check: without a display the
// framework cannot create a window, and the user learns why and what to do instead.
int main (int argc, char* argv[])
{
    if (! kalder::DisplayCheck::isDisplayAvailable())
    {
        std::cerr << kalder::DisplayCheck::getNoDisplayMessage() << std::endl;
        return 1;
    }
    juce::JUCEApplicationBase::createInstance = &createApplication;
    return juce::JUCEApplicationBase::main (argc, (const char**) argv);
}
