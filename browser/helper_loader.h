// The classes registered as browser helper objects.
#pragma once

#include <windows.h>

#include <vector>

namespace standin {

// HKEY_LOCAL_MACHINE "SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\Browser Helper Objects"
extern const char kHelperObjectsKey[];

// The CLSIDs named by the subkeys of that key, in the registry's order;
// subkeys whose names are not CLSIDs are skipped, as the browser skips them.
std::vector<CLSID> RegisteredHelperClasses();

}  // namespace standin
