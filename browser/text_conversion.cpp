#include "browser/text_conversion.h"

#include <objbase.h>

#include <climits>
#include <cstdio>

namespace standin {

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty() || utf8.size() > static_cast<size_t>(INT_MAX)) return std::wstring();
    const int length = static_cast<int>(utf8.size());
    int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    if (needed <= 0) {
        // Not UTF-8: take the bytes as the ANSI code page rather than lose them.
        needed = MultiByteToWideChar(CP_ACP, 0, utf8.data(), length, nullptr, 0);
        if (needed <= 0) return std::wstring();
        std::wstring wide(static_cast<size_t>(needed), L'\0');
        MultiByteToWideChar(CP_ACP, 0, utf8.data(), length, &wide[0], needed);
        return wide;
    }
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, &wide[0], needed);
    return wide;
}

std::string Narrow(const wchar_t* wide, size_t length) {
    if (!wide || length == 0 || length > static_cast<size_t>(INT_MAX)) return std::string();
    const int count = static_cast<int>(length);
    const int needed = WideCharToMultiByte(CP_UTF8, 0, wide, count, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return std::string();
    std::string narrow(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, count, &narrow[0], needed, nullptr, nullptr);
    return narrow;
}

std::string Narrow(const std::wstring& wide) { return Narrow(wide.data(), wide.size()); }

std::string NarrowBstr(BSTR text) { return text ? Narrow(text, SysStringLen(text)) : std::string(); }

std::string HresultText(HRESULT hr) {
    char text[16];
    snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

std::string GuidText(const GUID& guid) {
    char text[64];
    snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
             static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
             guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
             guid.Data4[6], guid.Data4[7]);
    return text;
}

bool ParseGuid(const std::string& text, GUID* guid) {
    std::wstring wide = Widen(text);
    if (wide.empty() || wide.front() != L'{') wide = L"{" + wide + L"}";
    return SUCCEEDED(CLSIDFromString(&wide[0], guid));
}

std::string AsciiLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace standin
