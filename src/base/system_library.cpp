#include "base/system_library.h"

#include <cstring>

namespace korvane {

bool SystemFolderPath(const char* fileName, char* path, size_t size) noexcept {
    if (!fileName || !path || size == 0) return false;
    path[0] = '\0';
    const UINT folder = GetSystemDirectoryA(path, static_cast<UINT>(size));
    const size_t name = std::strlen(fileName);
    // 0 is a failure, and a length of size or more the size it would need.
    if (folder == 0 || folder >= size || folder + 1 + name + 1 > size) {
        path[0] = '\0';
        return false;
    }
    path[folder] = '\\';
    std::memcpy(path + folder + 1, fileName, name + 1);
    return true;
}

HMODULE SystemLibrary::Load() noexcept {
    if (HMODULE loaded = module_) return loaded;
    char path[MAX_PATH];
    if (!SystemFolderPath(fileName_, path, sizeof path)) return nullptr;
    // A full path alone would still let the DLL's own imports be searched
    // for in the program's folder first; with the altered search path they
    // are looked for beside it, in the system folder, first.
    HMODULE loaded = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!loaded) return nullptr;
    HMODULE earlier = static_cast<HMODULE>(
        InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&module_), loaded, nullptr));
    if (!earlier) return loaded;
    // Another thread loaded it at the same time: one reference is enough.
    FreeLibrary(loaded);
    return earlier;
}

FARPROC SystemLibrary::FindAddress(const char* name) noexcept {
    HMODULE module = Load();
    return module ? GetProcAddress(module, name) : nullptr;
}

}  // namespace korvane
