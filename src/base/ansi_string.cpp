#include "base/ansi_string.h"

#include <climits>
#include <cstring>
#include <new>

namespace korvane {

AnsiString ToAnsi(const wchar_t* text, size_t length) {
    if (!text || length == 0) return AnsiString();
    if (length > static_cast<size_t>(INT_MAX)) throw std::bad_alloc();
    const int wide = static_cast<int>(length);
    const int needed = WideCharToMultiByte(CP_ACP, 0, text, wide, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return AnsiString();
    AnsiString result;
    result.Allocate(static_cast<size_t>(needed));
    const int written =
        WideCharToMultiByte(CP_ACP, 0, text, wide, result.data(), needed, nullptr, nullptr);
    if (written <= 0) return AnsiString();
    result.Truncate(static_cast<size_t>(written));
    return result;
}

AnsiString ToAnsi(BSTR text) { return ToAnsi(text, text ? SysStringLen(text) : 0); }

BSTR ToBstr(const char* text) {
    if (!text) text = "";
    const size_t length = std::strlen(text);
    if (length > static_cast<size_t>(INT_MAX)) throw std::bad_alloc();
    const int narrow = static_cast<int>(length);
    const int needed = length ? MultiByteToWideChar(CP_ACP, 0, text, narrow, nullptr, 0) : 0;
    BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(needed > 0 ? needed : 0));
    if (!result) throw std::bad_alloc();
    if (needed > 0) MultiByteToWideChar(CP_ACP, 0, text, narrow, result, needed);
    return result;
}

}  // namespace korvane
