#include "tray/browser_command_line.h"

#include <cstring>

#include "base/multibyte.h"

namespace korvane {

AnsiString WebSafeAddress(const char* address) {
    const size_t length = std::strlen(address);
    size_t trailing = 0;
    while (trailing < length && address[length - 1 - trailing] == '\\') ++trailing;
    auto escaped = [&](size_t i) {
        const unsigned char c = static_cast<unsigned char>(address[i]);
        return c <= ' ' || c == 0x7F || c == '"' || i >= length - trailing;
    };
    size_t extra = 0;
    for (size_t i = 0; i < length; ++i)
        if (escaped(i)) extra += 2;
    static const char kHex[] = "0123456789ABCDEF";
    AnsiString result;
    result.Allocate(length + extra);
    char* out = result.data();
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(address[i]);
        if (!escaped(i)) {
            *out++ = static_cast<char>(c);
            continue;
        }
        *out++ = '%';
        *out++ = kHex[c >> 4];
        *out++ = kHex[c & 15];
    }
    result.Truncate(length + extra);
    return result;
}

AnsiString BrowserCommandLine(const char* registeredCommand, const char* address) {
    if (!registeredCommand) registeredCommand = "";
    if (!address) address = "";
    size_t keep = std::strlen(registeredCommand);
    if (const char* quoted = std::strstr(registeredCommand, "\"%1\"")) {
        keep = static_cast<size_t>(quoted - registeredCommand);
    } else if (const char* bare = std::strstr(registeredCommand, "%1")) {
        keep = static_cast<size_t>(bare - registeredCommand);
    }
    const AnsiString safe = WebSafeAddress(address);
    return Concatenate({TextPiece(registeredCommand, keep), " \"", safe, "\""});
}

bool IsWebAddress(const char* address) {
    if (!address) return false;
    return _strnicmp(address, "http://", 7) == 0 || _strnicmp(address, "https://", 8) == 0;
}

}  // namespace korvane
