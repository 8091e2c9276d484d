#include "module/com_server.h"

#include <olectl.h>

#include <new>

#include "helper/view_source.h"
#include "korvane_idl.h"
#include "module/registrar.h"
#include "module/type_library.h"
#include "state/module_path.h"

// The image this code is linked into, provided by the linker.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace korvane {
namespace {

HMODULE serverModule = nullptr;
volatile LONG lockCount = 0;

// The one class factory of the server. Each one holds a module lock while it
// lives: a caller that keeps a factory without calling LockServer must not
// find the library unloaded under it.
class ClassFactory final : public IClassFactory {
public:
    ClassFactory() { LockModule(); }
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
            return E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }

    // Atomic: unlike the helper objects, a factory may be shared between
    // threads.
    STDMETHODIMP_(ULONG) AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&referenceCount_));
    }

    STDMETHODIMP_(ULONG) Release() override {
        const LONG count = InterlockedDecrement(&referenceCount_);
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        try {
            return ViewSource::Create(outer, riid, object);
        } catch (...) {
            return E_UNEXPECTED;
        }
    }

    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) {
            LockModule();
        } else {
            UnlockModule();
        }
        return S_OK;
    }

private:
    ~ClassFactory() { UnlockModule(); }

    volatile LONG referenceCount_ = 1;
};

}  // namespace

HRESULT ComModuleInit(HINSTANCE instance) noexcept {
    if (!instance) return E_INVALIDARG;
    serverModule = instance;
    return S_OK;
}

void ComModuleTerm() noexcept { ReleaseTypeInfoCache(); }

void ComModuleAbandon() noexcept { AbandonTypeInfoCache(); }

HMODULE ServerModule() noexcept {
    return serverModule ? serverModule : reinterpret_cast<HMODULE>(&__ImageBase);
}

void LockModule() noexcept { InterlockedIncrement(&lockCount); }

void UnlockModule() noexcept {
    for (;;) {
        const LONG count = lockCount;
        if (count <= 0) return;
        if (InterlockedCompareExchange(&lockCount, count - 1, count) == count) return;
    }
}

LONG ModuleLockCount() noexcept { return lockCount; }

HRESULT GetServerClassObject(REFCLSID clsid, REFIID riid, void** object) noexcept {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_ViewSource)) return CLASS_E_CLASSNOTAVAILABLE;
    ClassFactory* factory = new (std::nothrow) ClassFactory();
    if (!factory) return E_OUTOFMEMORY;
    const HRESULT result = factory->QueryInterface(riid, object);
    factory->Release();
    return result;
}

HRESULT RegisterServer(HMODULE module, Registrar& registrar) noexcept {
    char path[MAX_PATH];
    const HRESULT pathResult = GetModulePath(module, path, sizeof path);
    if (FAILED(pathResult)) return pathResult;
    const HRESULT entries = registrar.Register(kServerRegistryEntries, kServerRegistryEntryCount, path);
    if (FAILED(entries)) return entries;
    const HRESULT library = RegisterTypeLibrary(module);
    if (FAILED(library)) return library;
    return S_OK;
}

HRESULT UnregisterServer(HMODULE module, Registrar& registrar) noexcept {
    const HRESULT entries = registrar.Unregister(kServerRegistryEntries, kServerRegistryEntryCount);
    const HRESULT library = UnregisterTypeLibrary(module);
    if (FAILED(entries)) return entries;
    return FAILED(library) ? library : S_OK;
}

}  // namespace korvane

STDAPI DllCanUnloadNow() { return korvane::ModuleLockCount() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    try {
        return korvane::GetServerClassObject(rclsid, riid, ppv);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

STDAPI DllRegisterServer() {
    try {
        korvane::Registrar registrar;
        return korvane::RegisterServer(korvane::ServerModule(), registrar);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

STDAPI DllUnregisterServer() {
    try {
        korvane::Registrar registrar;
        korvane::UnregisterServer(korvane::ServerModule(), registrar);
    } catch (...) {
        // Unregistration is best effort and always reports success.
    }
    return S_OK;
}
