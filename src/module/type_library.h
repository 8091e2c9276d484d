// The type library embedded in the library: its registration, and the type
// information that the helper object's dispatch face serves from it.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace korvane {

// Loads the type library from module's file (resource "TYPELIB" 1) or, when
// that fails, from the file beside it named like it with the extension
// ".tlb", and registers it with the folder of that file as help folder.
// Returns the failure of the last load tried, or of the registration.
HRESULT RegisterTypeLibrary(HMODULE module) noexcept;

// Loads the type library the same way and unregisters it by its own
// attributes (identifier, version, locale, system kind). UnRegisterTypeLib
// is looked up in oleaut32.dll at run time; without it the library stays
// registered and S_FALSE is returned.
HRESULT UnregisterTypeLibrary(HMODULE module) noexcept;

// The type information of IViewSource from the server module's own type
// library, with a reference for the caller. Loaded once per process, from
// the file and never through the registry, so a registration that names
// another copy of the library cannot mislead it.
HRESULT GetViewSourceTypeInfo(ITypeInfo** typeInfo) noexcept;

// Drops the cached type information; the next call loads it again.
void ReleaseTypeInfoCache() noexcept;
// At process end, when the other threads are gone: forgets the cached type
// information without the lock and without releasing it, so that nothing
// (the static holder's destructor included) calls into oleaut32 then.
void AbandonTypeInfoCache() noexcept;

}  // namespace korvane
