#include "module/type_library.h"

#include "base/com.h"
#include "base/lock.h"
#include "korvane_idl.h"
#include "module/com_server.h"
#include "state/module_path.h"

namespace korvane {
namespace {

struct TypeLibraryFile {
    wchar_t path[MAX_PATH] = {};
    wchar_t helpDirectory[MAX_PATH] = {};
};

bool ToWide(const char* text, wchar_t* wide, int size) {
    return MultiByteToWideChar(CP_ACP, 0, text, -1, wide, size) > 0;
}

HRESULT LoadFrom(const char* path, REGKIND kind, ITypeLib** library, TypeLibraryFile* file) {
    if (!ToWide(path, file->path, MAX_PATH)) return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    char directory[MAX_PATH];
    if (!DirectoryPart(path, directory, sizeof directory) ||
        !ToWide(directory, file->helpDirectory, MAX_PATH))
        return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    return LoadTypeLibEx(file->path, kind, library);
}

// The library file first, then the .tlb file beside it.
HRESULT LoadModuleTypeLibrary(HMODULE module, REGKIND kind, ITypeLib** library,
                              TypeLibraryFile* file) {
    *library = nullptr;
    char path[MAX_PATH];
    const HRESULT pathResult = GetModulePath(module, path, sizeof path);
    if (FAILED(pathResult)) return pathResult;
    const HRESULT first = LoadFrom(path, kind, library, file);
    if (SUCCEEDED(first)) return first;
    char fallback[MAX_PATH];
    if (!TypeLibraryFallbackPath(path, fallback, sizeof fallback)) return first;
    return LoadFrom(fallback, kind, library, file);
}

using UnRegisterTypeLibFunction = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

CriticalSection typeInfoLock;
ComPtr<ITypeInfo> cachedTypeInfo;

}  // namespace

HRESULT RegisterTypeLibrary(HMODULE module) noexcept {
    ComPtr<ITypeLib> library;
    TypeLibraryFile file;
    // REGKIND_DEFAULT is what LoadTypeLib does: a full path is loaded
    // without being registered, which is done next with the help folder.
    const HRESULT loaded = LoadModuleTypeLibrary(module, REGKIND_DEFAULT, library.GetAddressOf(), &file);
    if (FAILED(loaded)) return loaded;
    return RegisterTypeLib(library.Get(), file.path, file.helpDirectory);
}

HRESULT UnregisterTypeLibrary(HMODULE module) noexcept {
    ComPtr<ITypeLib> library;
    TypeLibraryFile file;
    const HRESULT loaded = LoadModuleTypeLibrary(module, REGKIND_DEFAULT, library.GetAddressOf(), &file);
    if (FAILED(loaded)) return loaded;
    TLIBATTR* attributes = nullptr;
    const HRESULT read = library->GetLibAttr(&attributes);
    if (FAILED(read)) return read;
    const TLIBATTR copy = *attributes;
    library->ReleaseTLibAttr(attributes);

    HMODULE automation = GetModuleHandleA("oleaut32.dll");
    FARPROC found = automation ? GetProcAddress(automation, "UnRegisterTypeLib") : nullptr;
    if (!found) return S_FALSE;
    auto unregister = reinterpret_cast<UnRegisterTypeLibFunction>(reinterpret_cast<void (*)()>(found));
    return unregister(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind);
}

HRESULT GetViewSourceTypeInfo(ITypeInfo** typeInfo) noexcept {
    if (!typeInfo) return E_POINTER;
    *typeInfo = nullptr;
    ScopedLock hold(typeInfoLock);
    if (!cachedTypeInfo) {
        ComPtr<ITypeLib> library;
        TypeLibraryFile file;
        const HRESULT loaded =
            LoadModuleTypeLibrary(ServerModule(), REGKIND_NONE, library.GetAddressOf(), &file);
        if (FAILED(loaded)) return loaded;
        const HRESULT found = library->GetTypeInfoOfGuid(IID_IViewSource, cachedTypeInfo.GetAddressOf());
        if (FAILED(found)) return found;
    }
    return cachedTypeInfo.CopyTo(typeInfo);
}

void ReleaseTypeInfoCache() noexcept {
    ComPtr<ITypeInfo> released;
    {
        ScopedLock hold(typeInfoLock);
        released.Swap(cachedTypeInfo);
    }
}

void AbandonTypeInfoCache() noexcept { cachedTypeInfo.Detach(); }

}  // namespace korvane
