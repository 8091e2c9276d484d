// The rules that tell a popup from a window the user asked for. Plain
// functions of strings and switches; the event handler feeds them.
#pragma once

#include <cstddef>
#include <cstring>

#include "base/win32_types.h"

namespace korvane {

constexpr char kUnspecifiedFrame[] = "_unspecifiedFrame";
constexpr char kBlankTarget[] = "_blank";

// An address as the white list is tested against it, entry by entry on
// every navigation: what does not depend on the entry is found once.
struct WhiteListAddress {
    WhiteListAddress(const char* url, size_t length);
    const char* url;
    size_t length;
    // Whether the address begins like "https" (over its own length, if
    // shorter). Only then can it begin like an entry's https twin.
    bool beginsSecure;
};

// A white list entry e matches an address u when, over n = the shorter of the
// two lengths, u begins like e, ignoring letter case; or, when e's scheme
// is http, when u begins like e's https twin (e with its scheme replaced by
// "https") over the shorter of u's and the twin's lengths. So an entry
// matches every address that begins with it, every address that is itself
// a beginning of it, and the same for its https twin. entryLength is
// strlen(entry): the store keeps each entry's length.
bool MatchesWhiteListEntry(const WhiteListAddress& address, const char* entry, size_t entryLength);

// The same rule for an address and an entry as they come. (Defined here, so
// they are made only where they are used: every function of an object the
// library links stays in it, called or not, as its unwind tables refer to
// it.)
inline bool MatchesWhiteListEntry(const char* url, size_t urlLength, const char* entry) {
    if (!url || !entry) return false;
    return MatchesWhiteListEntry(WhiteListAddress(url, urlLength), entry, std::strlen(entry));
}
inline bool MatchesWhiteListEntry(const char* url, const char* entry) {
    if (!url || !entry) return false;
    return MatchesWhiteListEntry(url, std::strlen(url), entry);
}

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
