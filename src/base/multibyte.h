// The C runtime's multibyte-aware string routines that the rules compare
// and search with, and its _strnicmp. On Windows they are msvcrt's, which
// step over the lead and trail bytes of the ANSI code page. Elsewhere (the native build that
// runs the rules under sanitizers and a fuzzer, tests/native) the same names
// are declared here and defined as for a single-byte code page with the "C"
// locale: every byte is one character and only A to Z change case, which is
// what msvcrt does under a Western code page.
#pragma once

#if defined(_WIN32)
#include <mbstring.h>
#include <string.h>
#else
#include <cstddef>

int _ismbblead(unsigned int c);
unsigned char* _mbschr(const unsigned char* text, unsigned int c);
unsigned char* _mbsstr(const unsigned char* text, const unsigned char* part);
int _mbscmp(const unsigned char* a, const unsigned char* b);
int _mbsicmp(const unsigned char* a, const unsigned char* b);
int _mbsnbcmp(const unsigned char* a, const unsigned char* b, std::size_t count);
int _mbsnbicmp(const unsigned char* a, const unsigned char* b, std::size_t count);
unsigned char* _mbslwr(unsigned char* text);
unsigned char* _mbsupr(unsigned char* text);
int _strnicmp(const char* a, const char* b, std::size_t count);
#endif
