// Opens a web address in the user's default browser.
#pragma once

#include "base/ansi_string.h"

namespace korvane {

class BrowserLauncher {
public:
    // Asks the shell to open the address; when it cannot (or the address is
    // longer than 520 bytes, more than shells are trusted with), runs the
    // program registered to open HTML files with the address appended.
    // Whether a browser started is not reported: the callers have nothing
    // to do about it.
    static void OpenUrl(const char* address);
};

// The command line that opens address with a registered open command: the
// command up to its placeholder ("%1" in double quotes, else a bare %1,
// else the whole command; anything after the placeholder is dropped), one
// space, then the address as it is. Built whole for an address of any
// length.
AnsiString BrowserCommandLine(const char* registeredCommand, const char* address);

}  // namespace korvane
