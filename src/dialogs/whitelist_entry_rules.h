// How the dialogs turn what the user picked or typed into a white list
// entry. Plain functions of strings, so they can be tested directly.
#pragma once

#include "base/narrow_string.h"

namespace korvane {

// "Add Link to White List": the address without its query (cut at the
// first "?").
AnsiString LinkEntryFromAddress(const char* address);

// "Add Site to White List": the address without its query and, when it has
// a third "/", without that slash and all after it; so a scheme, two
// slashes, a host and a path keep the scheme, the slashes and the host. A
// text with fewer than three slashes stays whole.
AnsiString SiteEntryFromAddress(const char* address);

// The White List dialog's rule for a typed site: a text without any ":"
// gets "http://" in front; any other text is taken as typed.
AnsiString EntryFromTypedSite(const char* text);

}  // namespace korvane
