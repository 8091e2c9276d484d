#include "browser/helper_loader.h"

#include <objbase.h>

#include <string>

#include "base/unique_resource.h"

namespace standin {

const char kHelperObjectsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";

std::vector<CLSID> RegisteredHelperClasses() {
    std::vector<CLSID> classes;
    korvane::UniqueHkey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kHelperObjectsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return classes;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = ARRAYSIZE(name);
        const LONG status = RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) continue;  // a name too long to be a CLSID
        if (status != ERROR_SUCCESS) break;
        CLSID clsid;
        // Only a braced CLSID: CLSIDFromString would take a ProgID as well.
        if (name[0] == L'{' && SUCCEEDED(CLSIDFromString(name, &clsid))) classes.push_back(clsid);
    }
    return classes;
}

bool CompatibleWithEnhancedProtectedMode(const CLSID& clsid) {
    wchar_t guid[40] = {};
    if (!StringFromGUID2(clsid, guid, ARRAYSIZE(guid))) return false;
    // CATID_AppContainerCompatible (iepmapi.h).
    const std::wstring key = std::wstring(L"CLSID\\") + guid +
                             L"\\Implemented Categories\\{59FB2056-D625-48D0-A944-1A85B5AB2640}";
    korvane::UniqueHkey category;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, category.put()) == ERROR_SUCCESS;
}

}  // namespace standin
