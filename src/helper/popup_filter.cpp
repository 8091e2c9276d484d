#include "helper/popup_filter.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "base/multibyte.h"

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

}  // namespace

WhiteListAddress::WhiteListAddress(const char* text, size_t textLength)
    : url(text),
      length(textLength),
      beginsSecure(text && BeginsAlike(text, kSecure, std::min(textLength, kSecureLength))) {}

bool MatchesWhiteListEntry(const WhiteListAddress& address, const char* entry, size_t entryLength) {
    const char* url = address.url;
    if (!url || !entry) return false;
    if (BeginsAlike(url, entry, std::min(address.length, entryLength))) return true;

    // Only an http entry has an https twin, the same address under the
    // other scheme. Any other scheme's twin would be "https:" and whatever
    // follows its colon: for an entry such as "a:" or "x://", a beginning of
    // every https address.
    if (!address.beginsSecure) return false;
    constexpr size_t kColon = kSecureLength - 1;  // where an http entry has its colon
    if (entryLength <= kColon || entry[kColon] != ':' || !BeginsAlike(entry, kSecure, kColon))
        return false;
    // The twin, "https" followed by the entry from its colon on, is compared
    // in two pieces rather than built: it can be longer than any entry. Its
    // first piece is the same for every entry and was compared with the
    // address beforehand: over the address's length when that is shorter,
    // which then settles it. The twin is compared over its own length, not
    // the entry's: over the entry's, a short entry would compare too few
    // bytes and match every address.
    const size_t secureN = std::min(address.length, kSecureLength + (entryLength - kColon));
    if (secureN <= kSecureLength) return true;
    return BeginsAlike(url + kSecureLength, entry + kColon, secureN - kSecureLength);
}

bool IsJavascriptUrl(const char* url) {
    static const char kScheme[] = "javascript:";
    return url && _mbsnbicmp(U(url), U(kScheme), sizeof kScheme - 1) == 0;
}

bool JavascriptUrlSetsOverride(const char* url) {
    return IsJavascriptUrl(url) && !_mbsstr(U(url), U("opener.")) && !_mbschr(U(url), '"');
}

bool MayBePopup(LONG popupOverride, LONG newWindowPending, const char* targetFrameName) {
    if (popupOverride != 0 || newWindowPending == 0) return false;
    if (!targetFrameName || !*targetFrameName) return false;
    return std::strcmp(targetFrameName, kUnspecifiedFrame) != 0;
}

bool ShowsNoPageYet(const char* locationUrl) {
    if (!locationUrl || !*locationUrl) return true;
    return _mbsicmp(U(locationUrl), U("about:blank")) == 0;
}

bool IsNewWindowNavigation(bool windowsOwnBrowser, const char* locationUrl,
                           const char* targetFrameName) {
    return windowsOwnBrowser && targetFrameName && *targetFrameName && ShowsNoPageYet(locationUrl);
}

Announcement JudgeAnnouncement(LONG popupOverride, DWORD flags, bool whiteListed) {
    if (popupOverride != 0 || (flags & kNewWindowOverrideKey) || whiteListed ||
        (flags & (kNewWindowUserRequested | kNewWindowUserAllowed)))
        return Announcement::LetThrough;
    if (!(flags & kNewWindowUserInited) || (flags & kNewWindowUnloading)) return Announcement::Cancel;
    return Announcement::Judge;
}

void AnnouncedWindows::Add(std::uintptr_t opener) {
    for (Waiting& waiting : waiting_) {
        if (waiting.opener != opener) continue;
        if (waiting.count < LONG_MAX) ++waiting.count;
        return;
    }
    waiting_.push_back(Waiting{opener, 1});
}

bool AnnouncedWindows::Withdraw(std::uintptr_t opener) {
    for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
        if (it->opener != opener) continue;
        if (--it->count == 0) waiting_.erase(it);
        return true;
    }
    return false;
}

void AnnouncedWindows::Forget(std::uintptr_t opener) {
    for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
        if (it->opener != opener) continue;
        waiting_.erase(it);
        return;
    }
}

bool AnnouncedWindows::Take() {
    if (waiting_.empty()) return false;
    if (--waiting_.front().count == 0) waiting_.erase(waiting_.begin());
    return true;
}

long AnnouncedWindows::Count() const {
    long count = 0;
    for (const Waiting& waiting : waiting_) count += waiting.count;
    return count;
}

}  // namespace korvane
