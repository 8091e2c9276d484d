// The library as an in-process COM server: its module support (module
// handle, lock count, class factory) and the work behind the four exported
// entry points DllCanUnloadNow, DllGetClassObject, DllRegisterServer and
// DllUnregisterServer, which are defined in com_server.cpp.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace korvane {

class Registrar;

// Called by the entry point at process attach and detach. Init records the
// module whose file holds the type library;
// Term drops what the module support holds (the cached type information).
HRESULT ComModuleInit(HINSTANCE instance) noexcept;
void ComModuleTerm() noexcept;
// Term for a process that is ending: forgets what it holds without a lock
// and without releasing it. The DLLs that own those objects may be half torn
// down, and the process's memory goes with it anyway.
void ComModuleAbandon() noexcept;

// The module given to ComModuleInit, or, before that, the image this code
// is linked into.
HMODULE ServerModule() noexcept;

// The server's lock count: live objects (helper objects and class factories)
// plus IClassFactory::LockServer locks. Atomic: factories and objects of
// different apartments change it at the same time. An unlock at zero is
// ignored, so an unbalanced LockServer(FALSE) cannot push the count below
// zero and keep the library loaded for ever.
void LockModule() noexcept;
void UnlockModule() noexcept;
LONG ModuleLockCount() noexcept;

// DllGetClassObject: a class factory of ViewSource queried for riid, or
// CLASS_E_CLASSNOTAVAILABLE for any other class.
HRESULT GetServerClassObject(REFCLSID clsid, REFIID riid, void** object) noexcept;

// DllRegisterServer and DllUnregisterServer for module, with registrar
// writing the server's registry entries (tests pass one that fails on
// purpose). Register returns the first failure: the entries', else the
// type library's. Unregister removes both and returns the first failure,
// which DllUnregisterServer does not pass on.
HRESULT RegisterServer(HMODULE module, Registrar& registrar) noexcept;
HRESULT UnregisterServer(HMODULE module, Registrar& registrar) noexcept;

}  // namespace korvane
