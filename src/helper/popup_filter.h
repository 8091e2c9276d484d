// The rules that tell a popup from a window the user asked for. Plain
// functions of strings and switches; the event handler feeds them.
#pragma once

#include <cstddef>

#include "base/win32_types.h"

namespace korvane {

constexpr char kUnspecifiedFrame[] = "_unspecifiedFrame";
constexpr char kBlankTarget[] = "_blank";

// A white list entry e matches an address u when, over n = the shorter of the
// two lengths, u begins like e, ignoring letter case; or, when e's scheme
// is http, when u begins like e's https twin (e with its scheme replaced by
// "https") over the shorter of u's and the twin's lengths. So an entry
// matches every address that begins with it, every address that is itself
// a beginning of it, and the same for its https twin.
bool MatchesWhiteListEntry(const char* url, const char* entry);
// The same, for an address whose length is known: the list is tested entry
// by entry against one address.
bool MatchesWhiteListEntry(const char* url, size_t urlLength, const char* entry);

// A "javascript:" address (any letter case).
bool IsJavascriptUrl(const char* url);
// Whether navigating to url lets the next new window through: a script link
// that neither reaches back into its opener nor carries a quoted string.
bool JavascriptUrlSetsOverride(const char* url);

// The first conditions of the judgement: nothing overrides, a new window was
// announced, and the target names a frame.
bool MayBePopup(LONG popupOverride, LONG newWindowPending, const char* targetFrameName);

// Whether the browser or frame whose navigation is judged shows nothing yet:
// its location is empty (the browser's answer before a new window's first
// navigation) or "about:blank". Only such a window can be a popup; one that
// already shows a page is the user's, and is never closed for a popup.
bool ShowsNoPageYet(const char* locationUrl);

// A "_blank" target inside a frame of the page is the page's own doing with
// the user's click, and is let through.
bool IsFrameBlankTarget(bool navigatesInFrame, const char* targetFrameName);

}  // namespace korvane
