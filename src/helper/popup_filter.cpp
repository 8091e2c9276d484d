#include "helper/popup_filter.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "base/multibyte.h"
#include "base/narrow_string.h"

namespace korvane {
namespace {

const unsigned char* U(const char* text) { return reinterpret_cast<const unsigned char*>(text); }

// _mbsnbicmp(url, entry, n) == 0. Over ASCII, where an address mostly
// stays, the runtime's multibyte and locale handling cannot change the
// answer and is skipped: the white list is tested entry by entry on every
// navigation. From the first byte that is not ASCII on (a character
// boundary in both strings), the runtime compares.
bool BeginsAlike(const char* url, const char* entry, size_t n) {
    for (size_t i = 0;; ++i) {
        // Most of an address and an entry that it begins like: the same
        // ASCII byte in both.
        while (i < n && url[i] == entry[i] && static_cast<signed char>(url[i]) > 0) ++i;
        if (i == n) return true;
        const unsigned a = static_cast<unsigned char>(url[i]);
        const unsigned b = static_cast<unsigned char>(entry[i]);
        if ((a | b) >= 0x80) return _mbsnbicmp(U(url + i), U(entry + i), n - i) == 0;
        if (a == b) return true;  // both end here
        // Two ASCII bytes that differ are one letter when they differ only
        // in the bit of letter case.
        const unsigned lower = a | 0x20;
        if ((a ^ b) != 0x20 || lower < 'a' || lower > 'z') return false;
    }
}

// The https twin is "https" followed by the entry from its colon on.
constexpr char kSecure[] = "https";
constexpr size_t kSecureLength = sizeof kSecure - 1;

bool EndsHost(char c) { return c == '/' || c == '?' || c == '#'; }

// Whether an entry is a scheme and a host and nothing else
// ("http://a.example", "http://a.example:8080/").
bool IsSiteEntry(const char* entry, size_t length) {
    const void* colon = std::memchr(entry, ':', length);
    if (!colon) return false;
    size_t host = static_cast<size_t>(static_cast<const char*>(colon) - entry) + 1;
    if (host == 1 || length - host < 2 || entry[host] != '/' || entry[host + 1] != '/') return false;
    host += 2;
    size_t end = host;
    while (end < length && !EndsHost(entry[end])) ++end;
    return end > host && (end == length || (entry[end] == '/' && end + 1 == length));
}

// Whether a host ends at byte at of url: at "/", "?", "#", the end, or a
// port. After any other colon the host was a user name, and the address
// goes to what follows the "@".
bool HostEndsAt(const char* url, size_t length, size_t at) {
    if (at == length || EndsHost(url[at])) return true;
    if (url[at] != ':') return false;
    size_t i = at + 1;
    while (i < length && url[i] >= '0' && url[i] <= '9') ++i;
    return i == length || EndsHost(url[i]);
}

// Whether url, whose first `shift` bytes were found alike, matches the
// entry from byte `from` on by the rule of the whole entry: the entry
// itself (0, 0), or its twin ("https" against "http", 5, 4), which has the
// entry's shape. A final "/" is compared apart: a site entry matches
// without it.
bool MatchesFrom(const char* url, size_t urlLength, size_t shift, const char* entry, size_t entryLength,
                 size_t from) {
    const size_t compared = entryLength > from && entry[entryLength - 1] == '/' ? entryLength - 1 : entryLength;
    const size_t need = compared - from;
    if (urlLength - shift < need || !BeginsAlike(url + shift, entry + from, need)) return false;
    // Rare from here on: the address begins like the entry.
    const size_t end = shift + need;
    if (IsSiteEntry(entry, entryLength)) return HostEndsAt(url, urlLength, end);
    return compared == entryLength || (urlLength > end && url[end] == '/');
}

}  // namespace

WhiteListAddress::WhiteListAddress(const char* text, size_t textLength)
    : url(text),
      length(textLength),
      beginsSecure(text && textLength >= kSecureLength && BeginsAlike(text, kSecure, kSecureLength)) {}

bool MatchesWhiteListEntry(const WhiteListAddress& address, const char* entry, size_t entryLength) {
    const char* url = address.url;
    if (!url || !entry) return false;
    if (MatchesFrom(url, address.length, 0, entry, entryLength, 0)) return true;

    // Only an http entry has an https twin, the same address under the
    // other scheme. Any other scheme's twin would be "https:" and whatever
    // follows its colon: for an entry such as "a:" or "x://", a beginning of
    // every https address.
    if (!address.beginsSecure) return false;
    constexpr size_t kColon = kSecureLength - 1;  // where an http entry has its colon
    if (entryLength <= kColon || entry[kColon] != ':' || !BeginsAlike(entry, kSecure, kColon))
        return false;
    // The twin is compared in two pieces rather than built: it can be longer
    // than any entry. Its first piece, "https", is the same for every entry
    // and was compared with the address beforehand.
    return MatchesFrom(url, address.length, kSecureLength, entry, entryLength, kColon);
}

bool IsJavascriptUrl(const char* url) {
    static const char kScheme[] = "javascript:";
    return url && _mbsnbicmp(U(url), U(kScheme), sizeof kScheme - 1) == 0;
}

bool JavascriptUrlSetsOverride(const char* url) {
    return IsJavascriptUrl(url) && !_mbsstr(U(url), U("opener.")) && !_mbschr(U(url), '"');
}

bool ShowsNoPageYet(const char* locationUrl) {
    if (!locationUrl || !*locationUrl) return true;
    return _mbsicmp(U(locationUrl), U("about:blank")) == 0;
}

Verdict JudgeNewWindow(const NewWindowFacts& window) {
    if (window.event == NewWindowEvent::NewWindow3) {
        // Flags that cannot be read say nothing: the window is judged as one
        // NewWindow2 announced.
        if (!window.hasFlags) return Verdict::LeaveToFirstNavigation;
        const DWORD flags = window.flags;
        if ((flags & (kNewWindowOverrideKey | kNewWindowUserRequested | kNewWindowUserAllowed)) ||
            window.whiteListed)
            return Verdict::LetThrough;
        if (!(flags & kNewWindowUserInited) || (flags & kNewWindowUnloading)) return Verdict::Cancel;
        if (window.popupOverride != 0) return Verdict::LetThrough;
        if (window.pageOpensAddress && window.url && *window.url) return Verdict::LetThrough;
        return Verdict::LeaveToFirstNavigation;
    }
    if (window.inFrame || window.showsPage || !window.announced) return Verdict::LetThrough;
    if (window.popupOverride != 0 || window.whiteListed) return Verdict::LetThrough;
    const char* target = window.target;
    if (!target || !*target || std::strcmp(target, kUnspecifiedFrame) == 0) return Verdict::LetThrough;
    return window.knownNameToAddress ? Verdict::LetThrough : Verdict::Block;
}

namespace {

std::uint64_t AnnouncedAddress(const char* address) {
    if (!address || !*address) return 0;
    const std::uint64_t key = TextKey(address, std::strlen(address), kTextKeySeed);
    return key ? key : 1;
}

}  // namespace

void AnnouncedWindows::Add(std::uintptr_t opener, const char* address) {
    if (waiting_.size() >= kMostWaiting) waiting_.erase(waiting_.begin());
    waiting_.push_back(Waiting{opener, AnnouncedAddress(address)});
}

void AnnouncedWindows::SetAddress(std::uintptr_t opener, const char* address) {
    for (auto it = waiting_.rbegin(); it != waiting_.rend(); ++it) {
        if (it->opener != opener) continue;
        it->address = AnnouncedAddress(address);
        return;
    }
}

bool AnnouncedWindows::Withdraw(std::uintptr_t opener) {
    for (auto it = waiting_.rbegin(); it != waiting_.rend(); ++it) {
        if (it->opener != opener) continue;
        waiting_.erase(std::next(it).base());
        return true;
    }
    return false;
}

void AnnouncedWindows::Forget(std::uintptr_t opener) {
    waiting_.erase(std::remove_if(waiting_.begin(), waiting_.end(),
                                  [opener](const Waiting& waiting) { return waiting.opener == opener; }),
                   waiting_.end());
}

bool AnnouncedWindows::Take(const char* address) {
    const std::uint64_t key = AnnouncedAddress(address);
    auto taken = waiting_.end();
    for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
        if (key && it->address == key) {
            taken = it;
            break;
        }
        if (!it->address && taken == waiting_.end()) taken = it;
    }
    if (taken == waiting_.end()) return false;
    waiting_.erase(taken);
    return true;
}

}  // namespace korvane
