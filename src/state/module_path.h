// The library's own file path and the names formed from it.
#pragma once

#include <windows.h>

#include <cstddef>

#include "base/ansi_string.h"

namespace korvane {

// The folder of the loaded "Korvane.dll" (of the program itself where no
// such library is loaded), with its trailing backslash, however long; empty
// when it cannot be found. The white list and the sound file chooser live
// there.
AnsiString LibraryDirectory();

// The full path of module. Fails, rather than giving a cut path, when the
// path does not fit size bytes with its terminator.
HRESULT GetModulePath(HMODULE module, char* path, size_t size) noexcept;

// path with the extension of its file name (from the last '.' after the last
// backslash) replaced by ".tlb", or ".tlb" appended when the file name has no
// extension. False, with an empty result, when the result does not fit.
bool TypeLibraryFallbackPath(const char* path, char* result, size_t size) noexcept;

// The folder part of path, up to and including its last backslash; empty for
// a bare file name. False, with an empty result, when it does not fit.
bool DirectoryPart(const char* path, char* result, size_t size) noexcept;

}  // namespace korvane
