#include "DisplayCheck.h"

#include <cstdlib>
#include <dlfcn.h>

namespace kalder
{

bool DisplayCheck::isDisplayAvailable()
{
    const char* display = std::getenv ("DISPLAY");
    if (display == nullptr || *display == '\0')
        return false;

    // The framework loads Xlib at run time as well; doing the same keeps the
    // application free of a link-time dependency on it.
    void* xlib = dlopen ("libX11.so.6", RTLD_LAZY | RTLD_LOCAL);
    if (xlib == nullptr)
        return false;

    using OpenDisplay = void* (*) (const char*);
    using CloseDisplay = int (*) (void*);
    auto openDisplay = reinterpret_cast<OpenDisplay> (dlsym (xlib, "XOpenDisplay"));
    auto closeDisplay = reinterpret_cast<CloseDisplay> (dlsym (xlib, "XCloseDisplay"));
    bool available = false;
    if (openDisplay != nullptr && closeDisplay != nullptr)
    {
        if (void* connection = openDisplay (nullptr))
        {
            available = true;
            closeDisplay (connection);
        }
    }
    dlclose (xlib);
    return available;
}

std::string DisplayCheck::getNoDisplayMessage()
{
    const char* display = std::getenv ("DISPLAY");
    const std::string why = (display == nullptr || *display == '\0')
                                ? "no display is set ($DISPLAY is empty)"
                                : "the display " + std::string (display) + " cannot be opened";
    return "Kalder Pro needs a graphical display, but " + why
           + "; to run it without one, use a virtual display: xvfb-run ./kalder run";
}

} // namespace kalder
