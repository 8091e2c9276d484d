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
    // Whether the address begins like "https". Only then can it begin with
    // an entry's https twin.
    bool beginsSecure;
};

// Whether address u matches white list entry e, letter case aside. u must
// begin with e. An entry that is a scheme and a host and nothing else
// ("http://bank.example", with or without a final "/") matches only where
// that host ends in u: at "/", "?", "#", the end, or a port (":" and digits,
// then one of those), so "http://bank.example.evil.net/" and
// "http://bank.example:x@evil.net/" do not match it. An entry with more
// than a host (a path, a query) matches every address that begins with it.
// An http entry also matches by the same rules as its https twin, the entry
// with its scheme replaced by "https". entryLength is strlen(entry): the
// store keeps each entry's length.
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

// Whether the browser or frame whose navigation is judged shows nothing yet:
// its location is empty (the browser's answer before a new window's first
// navigation) or "about:blank". Only such a window can be a popup; one that
// already shows a page is the user's, and is never closed for a popup.
bool ShowsNoPageYet(const char* locationUrl);

// The flags NewWindow3 gives the window it announces (NWMF, shobjidl.h).
constexpr DWORD kNewWindowUnloading = 0x1;       // the page is being left
constexpr DWORD kNewWindowUserInited = 0x2;      // a click or a key started it
constexpr DWORD kNewWindowOverrideKey = 0x8;     // the browser's own override key is held
constexpr DWORD kNewWindowUserRequested = 0x80;  // "Open in New Window", a Shift click
constexpr DWORD kNewWindowUserAllowed = 0x100;   // the user allowed it from the browser's bar

// Where a new window is judged: before it exists, when NewWindow3 announces
// it, or at its first navigation (where NewWindow2 alone announced it, and
// for a window NewWindow3 left to it).
enum class NewWindowEvent { NewWindow3, FirstNavigation };

// What is known of one new window when it is judged. The event handler
// gathers it from the browser's arguments, the white list, the page's names
// and its document; the verdict is JudgeNewWindow's alone.
struct NewWindowFacts {
    NewWindowEvent event = NewWindowEvent::FirstNavigation;
    bool hasFlags = false;        // NewWindow3 gave its flags as a number
    DWORD flags = 0;
    const char* url = "";         // where the window goes (NewWindow3: if it says)
    const char* target = "";      // the target name of the first navigation
    bool inFrame = false;         // the navigation is a frame's: never a new window
    bool showsPage = false;       // the window shows a page already, or cannot tell
    bool announced = false;       // its first navigation took up an announcement
    LONG popupOverride = 0;       // the session's: Ctrl or Shift held, a script link, ...
    bool whiteListed = false;     // the address, by itself
    // The target is a name the page scan gave or kept, and the address is
    // one that an element carrying that name points to.
    bool knownNameToAddress = false;
    // The page that announced it holds a link, an area or a form that opens
    // a new window to the address, whenever it was added. Looked at only
    // where it can change the verdict: it costs a walk of the document.
    bool pageOpensAddress = false;
};

enum class Verdict {
    LetThrough,              // the user's window: not judged again
    Cancel,                  // at NewWindow3: the window is never created
    LeaveToFirstNavigation,  // at NewWindow3: judged again when it navigates
    Block,                   // at its first navigation: cancelled and closed
};

// At NewWindow3 the browser's word on the window itself comes first: a
// window the user requested or allowed, or whose own address is
// white-listed, is let through; a window no user action started, or opened
// while its page unloads, is cancelled, whatever the session's override
// says (a page can set that). Of the windows a click or a key started, one
// the override lets through, or one that a link, area or form of its page
// opens, is let through; the rest are left to their first navigation.
// At a first navigation only an announced window's own is judged; it is let
// through by the override, a white-listed address, a target that names no
// frame, or a name the page scan gave together with one of the addresses
// that name's elements point to; else it is blocked.
Verdict JudgeNewWindow(const NewWindowFacts& window);

// The windows announced in a process (by NewWindow2 or NewWindow3) whose
// first navigation has not come yet, in the order they were announced, each
// with the page that announced it (its helper, as a number) and, where
// NewWindow3 said it, its address. One announcement is one window. Plain
// data: the caller makes each operation indivisible between threads.
class AnnouncedWindows {
public:
    // address null or empty: not said. Past kMostWaiting the oldest is
    // dropped: an announcement no window came for waits no longer.
    void Add(std::uintptr_t opener, const char* address);
    // NewWindow3 says where the window the opener's last NewWindow2
    // announced goes.
    void SetAddress(std::uintptr_t opener, const char* address);
    // Takes back the opener's last announcement (its window will never
    // come, or was decided already); false when it has none.
    bool Withdraw(std::uintptr_t opener);
    // The opener's page is gone: what it announced and no window followed
    // (another add-on cancelled it, it opened elsewhere) waits no longer.
    void Forget(std::uintptr_t opener);
    // A window's first navigation to address takes up one announcement: the
    // earliest for that address, else the earliest that said none; false
    // when there is neither. An announcement for another address is left
    // to the window that goes there.
    bool Take(const char* address);
    long Count() const { return static_cast<long>(waiting_.size()); }

    static constexpr size_t kMostWaiting = 1024;

private:
    struct Waiting {
        std::uintptr_t opener;
        std::uint64_t address;  // 0: not said
    };
    std::vector<Waiting> waiting_;
};

}  // namespace korvane
