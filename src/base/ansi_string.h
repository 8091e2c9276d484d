// The conversions between narrow (ANSI code page) strings and the BSTRs
// that cross COM.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>

#include "base/narrow_string.h"

namespace korvane {

// Converts a BSTR (null allowed) to the ANSI code page. The whole string is
// converted, however long; the result is cut at an embedded NUL only in the
// sense that C string routines stop there.
AnsiString ToAnsi(BSTR text);
AnsiString ToAnsi(const wchar_t* text, size_t length);

// Converts a narrow string from the ANSI code page to a newly allocated BSTR.
// Throws std::bad_alloc when the BSTR cannot be allocated.
BSTR ToBstr(const char* text);

}  // namespace korvane
