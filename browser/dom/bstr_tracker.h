// Counts the BSTRs the document stand-in hands out until their receiver
// frees them.
//
// oleaut32 allocates a BSTR with CoTaskMemAlloc and frees it with
// CoTaskMemFree, but keeps freed strings in a cache it hands out again
// without either call. The tracker turns that cache off for the process
// (SetOaNoCache, exported by oleaut32 on Windows and Wine alike) and
// registers a malloc spy (CoRegisterMallocSpy) that sees every COM task
// allocation: the block allocated while the stand-in makes a BSTR is
// recorded, and its free, whoever makes it (SysFreeString, VariantClear),
// removes it again. Strings the caller makes itself are never counted.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>

namespace standin::detail {

// A new BSTR of text, counted as live until freed. Throws std::bad_alloc
// when it cannot be allocated.
BSTR NewBstr(const wchar_t* text, size_t length);

// Live counted BSTRs; -1 when the spy could not be registered (another one
// is) or the cache could not be turned off.
long LiveBstrCount();
bool BstrTrackerActive();
// Keeps the tracker off for the process when called before the first
// BSTR is made.
void DisableBstrTracker();

}  // namespace standin::detail
