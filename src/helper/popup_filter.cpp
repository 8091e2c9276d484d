#include "helper/popup_filter.h"

#include <mbstring.h>

#include <algorithm>
#include <cstring>

#include "base/ansi_string.h"

namespace korvane {
namespace {

const unsigned char* U(const char* text) { return reinterpret_cast<const unsigned char*>(text); }

bool BeginsAlike(const char* url, const char* entry, size_t n) {
    return _mbsnbicmp(U(url), U(entry), n) == 0;
}

}  // namespace

bool MatchesWhiteListEntry(const char* url, const char* entry) {
    if (!url || !entry) return false;
    const size_t n = std::min(std::strlen(url), std::strlen(entry));
    if (BeginsAlike(url, entry, n)) return true;

    const char* colon = std::strchr(entry, ':');
    if (!colon) return false;
    // Built on the heap: "https" plus the rest can be longer than any
    // fixed entry buffer.
    static const char kSecure[] = "https";
    const size_t rest = std::strlen(colon);
    AnsiString secure;
    secure.Allocate(sizeof kSecure - 1 + rest);
    std::memcpy(secure.data(), kSecure, sizeof kSecure - 1);
    std::memcpy(secure.data() + sizeof kSecure - 1, colon, rest);
    return BeginsAlike(url, secure.c_str(), n);
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

bool IsFrameBlankTarget(bool navigatesInFrame, const char* targetFrameName) {
    return navigatesInFrame && targetFrameName && std::strcmp(targetFrameName, kBlankTarget) == 0;
}

}  // namespace korvane
