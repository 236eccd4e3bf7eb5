#pragma once

#include <string>

namespace kalder
{

/**
    Tells whether a graphical display can be opened, before the framework tries (and,
    without one, fails in ways a user cannot read).

    Threading: call from main() before anything else runs.
*/
struct DisplayCheck
{
    /** True when the X display named by $DISPLAY accepts a connection. */
    static bool isDisplayAvailable();

    /** The one line printed when there is no display, with the way to run anyway. */
    static std::string getNoDisplayMessage();
};

} // namespace kalder
