// Opens a web address in the user's default browser.
#pragma once

#include "tray/browser_command_line.h"

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

}  // namespace korvane
