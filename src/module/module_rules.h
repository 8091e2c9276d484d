// Decisions the library's entry point makes, as plain functions.
#pragma once

namespace korvane {

// The Windows shell must never host the library: it would keep the DLL (and
// the hook) loaded for the whole session. Any path that contains
// "explorer.exe", in any letter case, counts.
bool IsShellHost(const char* executablePath);

}  // namespace korvane
