#include "helper/popup_filter.h"

#include <algorithm>
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
    for (size_t i = 0; i < n; ++i) {
        unsigned char a = static_cast<unsigned char>(url[i]);
        unsigned char b = static_cast<unsigned char>(entry[i]);
        if ((a | b) >= 0x80) return _mbsnbicmp(U(url + i), U(entry + i), n - i) == 0;
        if (a >= 'A' && a <= 'Z') a += 'a' - 'A';
        if (b >= 'A' && b <= 'Z') b += 'a' - 'A';
        if (a != b) return false;
        if (a == '\0') return true;
    }
    return true;
}

}  // namespace

bool MatchesWhiteListEntry(const char* url, const char* entry) {
    if (!url || !entry) return false;
    return MatchesWhiteListEntry(url, std::strlen(url), entry);
}

bool MatchesWhiteListEntry(const char* url, size_t urlLength, const char* entry) {
    if (!url || !entry) return false;
    const size_t n = std::min(urlLength, std::strlen(entry));
    if (BeginsAlike(url, entry, n)) return true;

    // Only an http entry has an https twin, the same address under the
    // other scheme. Any other scheme's twin would be "https:" and whatever
    // follows its colon: for an entry such as "a:" or "x://", a beginning of
    // every https address.
    static const char kSecure[] = "https";
    constexpr size_t kSecureLength = sizeof kSecure - 1;
    const char* colon = std::strchr(entry, ':');
    if (!colon || static_cast<size_t>(colon - entry) != kSecureLength - 1 ||
        !BeginsAlike(entry, kSecure, kSecureLength - 1))
        return false;
    // The twin, "https" followed by the entry from its colon on, is compared
    // in two pieces rather than built: it can be longer than any entry, and
    // the list is tested on every navigation. It is compared over its own
    // length, not the entry's: over the entry's, a short entry would compare
    // too few bytes and match every address.
    const size_t secureN = std::min(urlLength, kSecureLength + std::strlen(colon));
    if (secureN <= kSecureLength) return BeginsAlike(url, kSecure, secureN);
    return BeginsAlike(url, kSecure, kSecureLength) &&
           BeginsAlike(url + kSecureLength, colon, secureN - kSecureLength);
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

bool IsFrameBlankTarget(bool navigatesInFrame, const char* targetFrameName) {
    return navigatesInFrame && targetFrameName && std::strcmp(targetFrameName, kBlankTarget) == 0;
}

}  // namespace korvane
