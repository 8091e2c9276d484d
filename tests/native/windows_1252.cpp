// The code-page conversions of base/code_page.h for the native build, with
// Windows-1252 as the ANSI code page: the Western code page of the machines
// the tests run on, whose euro sign takes three bytes in UTF-8. wchar_t
// holds UTF-16 units here as on Windows, whatever its width.
#include "base/code_page.h"

#include <cstdint>

namespace {

// The characters of bytes 0x80 to 0x9F. The five bytes the code page leaves
// undefined stand for the control characters of the same number, as
// Windows maps them.
const char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

int ByteOf(std::uint32_t unit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<int>(unit);
    for (int i = 0; i < 32; ++i)
        if (kHighControls[i] == unit) return 0x80 + i;
    return -1;
}

}  // namespace

namespace korvane {

int WideToExactAnsi(const wchar_t* text, int length, char* out, int capacity) {
    if (length > capacity) return 0;
    for (int i = 0; i < length; ++i) {
        const int byte = ByteOf(static_cast<std::uint32_t>(text[i]));
        if (byte < 0) return 0;
        out[i] = static_cast<char>(byte);
    }
    return length;
}

int Utf8ToWide(const char* text, int length, wchar_t* out, int capacity) {
    int count = 0;
    for (int i = 0; i < length;) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        int extra;
        std::uint32_t code;
        std::uint32_t least;
        if (lead < 0x80) {
            extra = 0, code = lead, least = 0;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1, code = lead & 0x1F, least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2, code = lead & 0x0F, least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3, code = lead & 0x07, least = 0x10000;
        } else {
            return 0;
        }
        if (i + extra >= length && extra > 0) return 0;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return 0;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
        i += extra + 1;
        const int units = code >= 0x10000 ? 2 : 1;
        if (count + units > capacity) return 0;
        if (units == 2) {
            out[count++] = static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
            out[count++] = static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out[count++] = static_cast<wchar_t>(code);
        }
    }
    return count;
}

}  // namespace korvane
