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

// Whether the class says it works in Enhanced Protected Mode: its
// "Implemented Categories" hold CATID_AppContainerCompatible. The browser
// loads no other helper into such a tab, and says nothing of it.
bool CompatibleWithEnhancedProtectedMode(const CLSID& clsid);

}  // namespace standin
