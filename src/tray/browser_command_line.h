// How the launcher turns an address into what it hands on: which addresses
// it opens at all, their escaped form, and the command line for a browser
// registered to open HTML files. Plain functions of strings.
#pragma once

#include "base/narrow_string.h"

namespace korvane {

// Whether address begins with "http://" or "https://", ignoring case.
bool IsWebAddress(const char* address);

// The address with every byte that could end or split an argument on a
// command line percent-escaped: white space and control characters, double
// quotes, and the backslashes directly before its end (before a closing
// quote they would escape it). Browsers read the escapes as the same
// address; the shell puts the address into the command registered for its
// scheme, which may not quote it. address must not be null.
AnsiString WebSafeAddress(const char* address);

// The command line that opens address with a registered open command: the
// command up to its placeholder ("%1" in double quotes, else a bare %1,
// else the whole command; anything after the placeholder is dropped), one
// space, then the address in double quotes. The address's white space,
// control characters and double quotes, and the backslashes that end it,
// are percent-escaped (as they are for the shell too), so it stays one
// argument that adds no other. Built whole for an address of any length.
AnsiString BrowserCommandLine(const char* registeredCommand, const char* address);

}  // namespace korvane
