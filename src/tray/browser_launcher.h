// Opens a web address in the user's default browser.
#pragma once

#include "base/ansi_string.h"

namespace korvane {

class BrowserLauncher {
public:
    // Opens a web address (http:// or https://, in any letter case) and
    // nothing else: the addresses come from pages, and the shell would run
    // a program or open a share for any other scheme. The shell is asked
    // first; when it cannot (or the address is longer than 520 bytes, more
    // than shells are trusted with), the program registered to open HTML
    // files is run with the address as its one, quoted, argument. Whether a
    // browser started is not reported: the callers have nothing to do about
    // it.
    static void OpenUrl(const char* address);
};

// Whether address begins with "http://" or "https://", ignoring case.
bool IsWebAddress(const char* address);

// The command line that opens address with a registered open command: the
// command up to its placeholder ("%1" in double quotes, else a bare %1,
// else the whole command; anything after the placeholder is dropped), one
// space, then the address in double quotes. The address's white space,
// control characters and double quotes, and the backslashes that end it,
// are percent-escaped (as they are for the shell too), so it stays one
// argument that adds no other. Built whole for an address of any length.
AnsiString BrowserCommandLine(const char* registeredCommand, const char* address);

}  // namespace korvane
