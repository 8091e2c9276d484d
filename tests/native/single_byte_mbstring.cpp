// The multibyte string routines of base/multibyte.h for the native build: a
// single-byte code page under the "C" locale, as msvcrt behaves under a
// Western code page. Bytes compare as unsigned values; only A to Z fold.
#include "base/multibyte.h"

#include <cstring>

namespace {

unsigned Lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }
unsigned Upper(unsigned char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

template <typename Fold>
int Compare(const unsigned char* a, const unsigned char* b, std::size_t count, Fold fold) {
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned x = fold(a[i]);
        const unsigned y = fold(b[i]);
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
    return 0;
}

unsigned Same(unsigned char c) { return c; }

}  // namespace

// No byte begins a double-byte character in a single-byte code page.
int _ismbblead(unsigned int) { return 0; }

unsigned char* _mbschr(const unsigned char* text, unsigned int c) {
    return const_cast<unsigned char*>(reinterpret_cast<const unsigned char*>(
        std::strchr(reinterpret_cast<const char*>(text), static_cast<int>(c & 0xFF))));
}

unsigned char* _mbsstr(const unsigned char* text, const unsigned char* part) {
    return const_cast<unsigned char*>(reinterpret_cast<const unsigned char*>(std::strstr(
        reinterpret_cast<const char*>(text), reinterpret_cast<const char*>(part))));
}

int _mbscmp(const unsigned char* a, const unsigned char* b) {
    return Compare(a, b, static_cast<std::size_t>(-1), Same);
}

int _mbsicmp(const unsigned char* a, const unsigned char* b) {
    return Compare(a, b, static_cast<std::size_t>(-1), Lower);
}

int _mbsnbcmp(const unsigned char* a, const unsigned char* b, std::size_t count) {
    return Compare(a, b, count, Same);
}

int _mbsnbicmp(const unsigned char* a, const unsigned char* b, std::size_t count) {
    return Compare(a, b, count, Lower);
}

unsigned char* _mbslwr(unsigned char* text) {
    for (unsigned char* p = text; *p; ++p) *p = static_cast<unsigned char>(Lower(*p));
    return text;
}

unsigned char* _mbsupr(unsigned char* text) {
    for (unsigned char* p = text; *p; ++p) *p = static_cast<unsigned char>(Upper(*p));
    return text;
}

int _strnicmp(const char* a, const char* b, std::size_t count) {
    return Compare(reinterpret_cast<const unsigned char*>(a),
                   reinterpret_cast<const unsigned char*>(b), count, Lower);
}
