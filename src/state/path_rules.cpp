#include "state/path_rules.h"

#include <mbstring.h>

#include <cstring>

namespace korvane {
namespace {

const unsigned char* U(const char* text) { return reinterpret_cast<const unsigned char*>(text); }

bool IsSeparator(unsigned char c) { return c == '\\' || c == '/'; }

// A name Windows reserves for a device, compared up to its first dot or
// colon and without trailing blanks, as Windows compares it.
bool IsDeviceName(const unsigned char* name) {
    size_t length = 0;
    while (name[length] && name[length] != '.' && name[length] != ':') ++length;
    while (length > 0 && name[length - 1] == ' ') --length;
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices)
        if (length == std::strlen(device) && _mbsnbicmp(name, U(device), length) == 0) return true;
    return length == 4 && (_mbsnbicmp(name, U("COM"), 3) == 0 || _mbsnbicmp(name, U("LPT"), 3) == 0) &&
           name[3] >= '0' && name[3] <= '9';
}

}  // namespace

bool NamesDeviceOrPipe(const char* path) {
    if (!path) return false;
    const unsigned char* p = U(path);
    if (IsSeparator(p[0]) && IsSeparator(p[1])) {
        // "\\server\share\...": the server "." or "?" is the device or raw
        // namespace, the share "pipe" a server's pipes.
        const unsigned char* server = p + 2;
        if ((server[0] == '.' || server[0] == '?') && (IsSeparator(server[1]) || !server[1])) return true;
        const unsigned char* share = server;
        while (*share && !IsSeparator(*share)) share = _mbsinc(share);
        if (*share) ++share;
        if (_mbsnbicmp(share, U("pipe"), 4) == 0 && (IsSeparator(share[4]) || !share[4])) return true;
    }
    // The last name of the path; a drive's letter and colon end a name too.
    const unsigned char* last = p;
    if (p[0] && p[1] == ':') last = p + 2;
    for (const unsigned char* c = last; *c; c = _mbsinc(c))
        if (IsSeparator(*c)) last = c + 1;
    return IsDeviceName(last);
}

}  // namespace korvane
