#include "module/module_rules.h"

#include <mbstring.h>

#include "base/ansi_string.h"

namespace korvane {

bool IsShellHost(const char* executablePath) {
    if (!executablePath) return false;
    AnsiString lower(executablePath);
    if (lower.data()) _mbslwr(reinterpret_cast<unsigned char*>(lower.data()));
    return _mbsstr(reinterpret_cast<const unsigned char*>(lower.c_str()),
                   reinterpret_cast<const unsigned char*>("explorer.exe")) != nullptr;
}

}  // namespace korvane
