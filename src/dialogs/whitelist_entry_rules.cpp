#include "dialogs/whitelist_entry_rules.h"

#include "base/multibyte.h"

#include <cstring>

namespace korvane {
namespace {

const char* FindChar(const char* text, char c) {
    return reinterpret_cast<const char*>(
        _mbschr(reinterpret_cast<const unsigned char*>(text), static_cast<unsigned char>(c)));
}

size_t LengthBefore(const char* text, char c) {
    const char* found = FindChar(text, c);
    return found ? static_cast<size_t>(found - text) : std::strlen(text);
}

}  // namespace

AnsiString LinkEntryFromAddress(const char* address) {
    if (!address) return AnsiString();
    return AnsiString(address, LengthBefore(address, '?'));
}

AnsiString SiteEntryFromAddress(const char* address) {
    AnsiString entry = LinkEntryFromAddress(address);
    const char* text = entry.c_str();
    const char* slash = FindChar(text, '/');
    if (slash) slash = FindChar(slash + 1, '/');
    if (slash) slash = FindChar(slash + 1, '/');
    if (slash) entry.Truncate(static_cast<size_t>(slash - text));
    return entry;
}

AnsiString EntryFromTypedSite(const char* text) {
    if (!text) text = "";
    if (FindChar(text, ':')) return AnsiString(text);
    return Concatenate({"http://", text});
}

}  // namespace korvane
