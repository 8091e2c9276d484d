// The rules that tell a popup from a window the user asked for. Plain
// functions of strings and switches; the event handler feeds them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

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

// Whether a navigation can be the first navigation of a window the browser
// announced: the navigation of a window's own browser (a frame is never a
// new window) that shows nothing yet, to a target the browser names (the
// first navigation of a window the user opened and typed an address into
// carries none). Only such a navigation is judged and takes up an
// announcement; any other leaves the announced windows waiting for theirs.
bool IsNewWindowNavigation(bool windowsOwnBrowser, const char* locationUrl,
                           const char* targetFrameName);

// The flags NewWindow3 gives the window it announces (NWMF, shobjidl.h).
constexpr DWORD kNewWindowUnloading = 0x1;       // the page is being left
constexpr DWORD kNewWindowUserInited = 0x2;      // a click or a key started it
constexpr DWORD kNewWindowOverrideKey = 0x8;     // the browser's own override key is held
constexpr DWORD kNewWindowUserRequested = 0x80;  // "Open in New Window", a Shift click
constexpr DWORD kNewWindowUserAllowed = 0x100;   // the user allowed it from the browser's bar

// What becomes of a window that NewWindow3 announces, before it exists.
enum class Announcement {
    LetThrough,  // the user asked for it: it is not judged again
    Cancel,      // no user action started it, or its page is being left: never created
    Judge,       // its first navigation decides, as for a window NewWindow2 announced
};

// The user's say comes first: the override (Ctrl or Shift held, or the
// browser's override key), a white-listed address, a window the user
// requested or allowed. Then a window nobody's click or key started, or one
// opened while its page unloads, is cancelled. A window a click started is
// left to its first navigation: a link the page scan named opens, a script's
// window opened from the click's handler does not.
Announcement JudgeAnnouncement(LONG popupOverride, DWORD flags, bool whiteListed);

// The windows announced in a process (by NewWindow2 or NewWindow3) whose
// first navigation has not come yet, counted by the page that announced them
// (its helper, as a number). Plain data: the caller makes each operation
// indivisible between threads.
class AnnouncedWindows {
public:
    void Add(std::uintptr_t opener);
    // Takes back one of the opener's announcements (its window will never
    // come); false when it has none.
    bool Withdraw(std::uintptr_t opener);
    // The opener's page is gone: what it announced and no window followed
    // (another add-on cancelled it, it opened elsewhere) waits no longer.
    void Forget(std::uintptr_t opener);
    // A first navigation takes up one announcement, the earliest opener's;
    // false when none is waiting.
    bool Take();
    long Count() const;

private:
    struct Waiting {
        std::uintptr_t opener;
        long count;
    };
    std::vector<Waiting> waiting_;
};

}  // namespace korvane
