// Conversions between Unicode and the ANSI code page that refuse rather than
// guess. On Windows they are the system's, inline as if called directly;
// the native build of the rules (tests/native) defines them for
// Windows-1252.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#endif

namespace korvane {

#if defined(_WIN32)

// WC_ERR_INVALID_CHARS, from Vista on; passed only when the ANSI code page
// is UTF-8, which no earlier Windows offers.
constexpr DWORD kWcErrInvalidChars = 0x80;

// Writes the ANSI form of length UTF-16 units into out (no terminator) and
// returns its length in bytes; 0 when a character has no exact form there
// (a best-fit or default character would be another text), when the units
// are broken UTF-16, or when the form is longer than capacity.
inline int WideToExactAnsi(const wchar_t* text, int length, char* out, int capacity) {
    const bool utf8 = GetACP() == CP_UTF8;
    BOOL usedDefault = FALSE;
    // UTF-8 has a form for every character; it refuses only broken
    // surrogates, and takes no default-character arguments.
    const DWORD flags = utf8 ? kWcErrInvalidChars : WC_NO_BEST_FIT_CHARS;
    const int written = WideCharToMultiByte(CP_ACP, flags, text, length, out, capacity, nullptr,
                                            utf8 ? nullptr : &usedDefault);
    if (written <= 0 || usedDefault) return 0;
    return written;
}

// Writes the UTF-16 form of length bytes of UTF-8 into out and returns the
// number of units; 0 when the bytes are not well-formed UTF-8 or the form is
// longer than capacity.
inline int Utf8ToWide(const char* text, int length, wchar_t* out, int capacity) {
    const int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, length, out, capacity);
    return count > 0 ? count : 0;
}

#else

int WideToExactAnsi(const wchar_t* text, int length, char* out, int capacity);
int Utf8ToWide(const char* text, int length, wchar_t* out, int capacity);

#endif

}  // namespace korvane
