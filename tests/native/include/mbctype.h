// msvcrt's switch of the multibyte code page, for the rules' table tests in
// the native build: only the single-byte code page of base/multibyte.h
// exists here, so a switch to any other fails, and the cases that need one
// are left out of the native run (KORVANE_NATIVE_TEST_FILTER).
#pragma once

#define _MB_CP_ANSI (-3)

inline int _setmbcp(int codePage) { return codePage == _MB_CP_ANSI ? 0 : -1; }
