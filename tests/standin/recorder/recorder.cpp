// The recording helper object (see recorder_api.h). Deliberately plain: a
// class factory, one object class, and a process-wide record list.
#include <windows.h>
#include <exdisp.h>
#include <exdispid.h>
#include <mshtml.h>
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstring>
#include <new>
#include <cwchar>
#include <vector>

#include "recorder_api.h"

namespace {

HMODULE module = nullptr;
volatile LONG liveObjects = 0;
volatile LONG serverLocks = 0;
LONG instances = 0;

CRITICAL_SECTION lock;
std::vector<RecorderRecord>* records = nullptr;
RecorderConfig config = {};
// A popup announced by NewWindow2 in any window of the process.
volatile LONG popupPending = 0;
std::vector<IUnknown*>* leaked = nullptr;

HHOOK keyHook = nullptr;
volatile LONG keyCounts[256][2] = {};

struct Locked {
    Locked() { EnterCriticalSection(&lock); }
    ~Locked() { LeaveCriticalSection(&lock); }
};

int CurrentApartment() {
    typedef HRESULT(WINAPI * GetApartmentType)(APTTYPE*, APTTYPEQUALIFIER*);
    static GetApartmentType get = reinterpret_cast<GetApartmentType>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ole32.dll"), "CoGetApartmentType")));
    if (!get) return -1;
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    if (FAILED(get(&type, &qualifier))) return -1;
    return static_cast<int>(type);
}

RecorderRecord NewRecord(int kind, int instance) {
    RecorderRecord record;
    std::memset(&record, 0, sizeof record);
    record.kind = kind;
    record.instance = instance;
    record.thread = GetCurrentThreadId();
    record.apartment = CurrentApartment();
    record.ctrlDown = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
    record.shiftDown = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
    return record;
}

void Store(const RecorderRecord& record) {
    Locked hold;
    try {
        if (records) records->push_back(record);
    } catch (...) {
    }
}

RecorderConfig Config() {
    Locked hold;
    return config;
}

void ReadConfigFromEnvironment() {
    char value[256];
    if (GetEnvironmentVariableA("KORVANE_RECORDER_MODE", value, sizeof value))
        config.mode = static_cast<unsigned>(strtoul(value, nullptr, 0));
    wchar_t pattern[128];
    if (GetEnvironmentVariableW(L"KORVANE_RECORDER_PATTERN", pattern, 128)) wcsncpy(config.cancelPattern, pattern, 127);
}

// Copies what Invoke was given, without trusting any of it.
void Capture(RecorderRecord& record, DISPPARAMS* params) {
    record.paramsNull = params == nullptr;
    if (!params) return;
    record.cArgs = params->cArgs;
    record.cNamedArgs = params->cNamedArgs;
    record.rgvargNull = params->rgvarg == nullptr;
    record.namedNull = params->rgdispidNamedArgs == nullptr;
    if (!params->rgvarg) return;
    for (UINT i = 0; i < params->cArgs && i < RECORDER_MAX_ARGS; ++i) {
        const VARIANT& v = params->rgvarg[i];
        record.vt[i] = v.vt;
        record.innerVt[i] = VT_ILLEGAL;
        record.inner2Vt[i] = VT_ILLEGAL;
        const VARIANT* value = &v;
        if (v.vt == (VT_BYREF | VT_VARIANT)) {
            value = v.pvarVal;
            if (!value) continue;
            record.innerVt[i] = value->vt;
            if (value->vt == (VT_BYREF | VT_VARIANT) && value->pvarVal) record.inner2Vt[i] = value->pvarVal->vt;
        }
        if (value->vt == VT_BSTR) {
            record.textNull[i] = value->bstrVal == nullptr;
            if (value->bstrVal) {
                const UINT length = SysStringLen(value->bstrVal);
                record.textLength[i] = length;
                const UINT copy = length < RECORDER_TEXT - 1 ? length : RECORDER_TEXT - 1;
                std::memcpy(record.text[i], value->bstrVal, copy * sizeof(wchar_t));
                record.text[i][copy] = 0;
            }
        } else if (value->vt == VT_I4) {
            record.number[i] = value->lVal;
        } else if (value->vt == VT_UI4) {
            record.number[i] = static_cast<long>(value->ulVal);
        }
        if (v.vt == VT_DISPATCH) record.disp[i] = v.pdispVal;
        if (v.vt == (VT_BYREF | VT_DISPATCH) && v.ppdispVal) record.disp[i] = *v.ppdispVal;
        if (v.vt == (VT_BYREF | VT_BOOL) && v.pboolVal) record.boolValue[i] = *v.pboolVal;
    }
}

// Argument i (in declaration order, of count) when it has the browser's type.
VARIANT* Arg(DISPPARAMS* params, UINT count, UINT declared) {
    if (!params || !params->rgvarg || params->cArgs != count) return nullptr;
    return &params->rgvarg[count - 1 - declared];
}

void SetCancel(DISPPARAMS* params, UINT count) {
    VARIANT* cancel = Arg(params, count, count - 1);
    if (cancel && cancel->vt == (VT_BYREF | VT_BOOL) && cancel->pboolVal) *cancel->pboolVal = VARIANT_TRUE;
}

class RecordingHelper final : public IObjectWithSite, public IDispatch {
public:
    RecordingHelper() : instance_(InterlockedIncrement(&instances)) {
        InterlockedIncrement(&liveObjects);
        Store(NewRecord(RECORD_CREATED, instance_));
    }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        const bool dispatchOnly = (Config().mode & RECORDER_DISPATCH_ONLY) != 0;
        if (riid == IID_IUnknown || riid == IID_IObjectWithSite) {
            *object = static_cast<IObjectWithSite*>(this);
        } else if (riid == IID_IDispatch || (riid == DIID_DWebBrowserEvents2 && !dispatchOnly)) {
            *object = static_cast<IDispatch*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG remaining = InterlockedDecrement(&refs_);
        if (remaining == 0) delete this;
        return static_cast<ULONG>(remaining);
    }

    // IObjectWithSite
    STDMETHODIMP SetSite(IUnknown* site) override {
        RecorderRecord record = NewRecord(RECORD_SET_SITE, instance_);
        record.siteNull = site == nullptr;
        if (!site) {
            Store(record);
            Disconnect();
            browser_.Reset();
            return S_OK;
        }
        Disconnect();  // sited again: the old connection goes first
        browser_.Reset();
        IUnknown* identity = nullptr;
        if (SUCCEEDED(site->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)))) {
            record.site = identity;
            identity->Release();
        }
        IWebBrowser2* browser = nullptr;
        record.siteHasBrowser =
            SUCCEEDED(site->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&browser))) && browser;
        record.siteBrowser = browser;
        IConnectionPointContainer* container = nullptr;
        record.siteHasContainer =
            SUCCEEDED(site->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container))) &&
            container;
        Store(record);
        if (Config().mode & RECORDER_LEAK_SITE) {
            Locked hold;
            try {
                leaked->push_back(site);
                site->AddRef();
            } catch (...) {
            }
        }
        browser_.Reset(browser);
        if (!container) return browser ? E_POINTER : E_INVALIDARG;
        RecorderRecord advise = NewRecord(RECORD_ADVISE, instance_);
        IConnectionPoint* point = nullptr;
        advise.hr = container->FindConnectionPoint(DIID_DWebBrowserEvents2, &point);
        container->Release();
        if (SUCCEEDED(advise.hr) && point) {
            advise.hr = point->Advise(static_cast<IDispatch*>(this), &cookie_);
            advise.cookie = cookie_;
            point_.Reset(point);
        }
        Store(advise);
        return advise.hr;
    }
    STDMETHODIMP GetSite(REFIID, void** site) override {
        if (!site) return E_POINTER;
        *site = nullptr;
        return E_FAIL;
    }

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override {
        RecorderRecord record = NewRecord(RECORD_INVOKE, instance_);
        record.dispid = dispid;
        record.riidIsNull = riid == IID_NULL;
        record.lcid = lcid;
        record.flags = flags;
        record.resultNull = result == nullptr;
        record.excepNull = exception == nullptr;
        record.argErrNull = argError == nullptr;
        Capture(record, params);
        Store(record);
        const RecorderConfig current = Config();
        switch (dispid) {
        case DISPID_NEWWINDOW2:
            if (current.mode & RECORDER_CANCEL_NEW_WINDOW) SetCancel(params, 2);
            if (current.mode & RECORDER_BLOCK_POPUPS) InterlockedExchange(&popupPending, 1);
            break;
        case DISPID_BEFORENAVIGATE2:
            OnBeforeNavigate(params, current);
            break;
        case DISPID_ONQUIT:
            if (!(current.mode & RECORDER_KEEP_SINK)) Disconnect();
            break;
        case DISPID_DOCUMENTCOMPLETE:
            if (current.mode & RECORDER_READ_DOCUMENT) ReadDocument(params);
            break;
        default:
            break;
        }
        return S_OK;
    }

private:
    template <typename T>
    class Holder {
    public:
        ~Holder() { Reset(); }
        void Reset(T* value = nullptr) {
            T* old = value_;
            value_ = value;
            if (old) old->Release();
        }
        T* Get() const { return value_; }

    private:
        T* value_ = nullptr;
    };

    ~RecordingHelper() {
        Store(NewRecord(RECORD_DESTROYED, instance_));
        InterlockedDecrement(&liveObjects);
    }

    void Disconnect() {
        if (!point_.Get() || !cookie_) {
            point_.Reset();
            return;
        }
        if (Config().mode & RECORDER_KEEP_SINK) {
            point_.Reset();
            return;
        }
        RecorderRecord record = NewRecord(RECORD_UNADVISE, instance_);
        record.cookie = cookie_;
        record.hr = point_.Get()->Unadvise(cookie_);
        cookie_ = 0;
        point_.Reset();
        Store(record);
    }

    void OnBeforeNavigate(DISPPARAMS* params, const RecorderConfig& current) {
        VARIANT* url = Arg(params, 7, 1);
        if (current.mode & RECORDER_CANCEL_NAVIGATION) {
            const wchar_t* text = url && url->vt == (VT_BYREF | VT_VARIANT) && url->pvarVal &&
                                          url->pvarVal->vt == VT_BSTR && url->pvarVal->bstrVal
                                      ? url->pvarVal->bstrVal
                                      : L"";
            if (!current.cancelPattern[0] || wcsstr(text, current.cancelPattern)) SetCancel(params, 7);
        }
        if (!(current.mode & RECORDER_BLOCK_POPUPS)) return;
        if (!InterlockedExchange(&popupPending, 0)) return;
        SetCancel(params, 7);
        VARIANT* disp = Arg(params, 7, 0);
        if (!disp || disp->vt != VT_DISPATCH || !disp->pdispVal) return;
        IWebBrowser2* browser = nullptr;
        if (FAILED(disp->pdispVal->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&browser))))
            return;
        RecorderRecord record = NewRecord(RECORD_BLOCK, instance_);
        record.hwndResult = browser->get_HWND(&record.hwnd);
        if (SUCCEEDED(record.hwndResult)) {
            Disconnect();
            if (current.mode & RECORDER_BLOCK_QUIT) browser->Quit();
            if (current.mode & RECORDER_BLOCK_DESTROY) DestroyWindow(reinterpret_cast<HWND>(record.hwnd));
            record.windowGoneAfter = !IsWindow(reinterpret_cast<HWND>(record.hwnd));
        }
        browser->Release();
        Store(record);
    }

    void ReadDocument(DISPPARAMS* params) {
        VARIANT* disp = Arg(params, 2, 0);
        if (!disp || disp->vt != VT_DISPATCH || !disp->pdispVal) return;
        IWebBrowser2* browser = nullptr;
        if (FAILED(disp->pdispVal->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&browser))))
            return;
        RecorderRecord record = NewRecord(RECORD_DOCUMENT, instance_);
        IDispatch* document = nullptr;
        record.documentResult = browser->get_Document(&document);
        if (document) {
            IHTMLDocument2* html = nullptr;
            record.documentAnswered =
                SUCCEEDED(document->QueryInterface(IID_IHTMLDocument2, reinterpret_cast<void**>(&html))) && html;
            if (html) html->Release();
            document->Release();
        }
        browser->Release();
        Store(record);
    }

    volatile LONG refs_ = 1;
    const int instance_;
    Holder<IWebBrowser2> browser_;
    Holder<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

class Factory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override {
        InterlockedIncrement(&serverLocks);
        return 2;
    }
    STDMETHODIMP_(ULONG) Release() override {
        InterlockedDecrement(&serverLocks);
        return 1;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        RecordingHelper* helper = new (std::nothrow) RecordingHelper();
        if (!helper) return E_OUTOFMEMORY;
        const HRESULT hr = helper->QueryInterface(riid, object);
        helper->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lockIt) override {
        if (lockIt) InterlockedIncrement(&serverLocks);
        else InterlockedDecrement(&serverLocks);
        return S_OK;
    }
};

Factory factory;

LRESULT CALLBACK KeyHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code >= 0) {
        const bool down = (lParam & 0x80000000) == 0;
        InterlockedIncrement(&keyCounts[wParam & 0xFF][down ? 1 : 0]);
    }
    return CallNextHookEx(keyHook, code, wParam, lParam);
}

LONG WriteString(HKEY root, const char* key, const char* name, const char* value) {
    HKEY handle = nullptr;
    LONG status = RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                            static_cast<DWORD>(std::strlen(value) + 1));
    RegCloseKey(handle);
    return status;
}

const char kClassKey[] = "Software\\Classes\\CLSID\\" RECORDER_CLSID_TEXT;
const char kServerKey[] = "Software\\Classes\\CLSID\\" RECORDER_CLSID_TEXT "\\InprocServer32";
const char kHelperKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\" RECORDER_CLSID_TEXT;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        module = instance;
        InitializeCriticalSection(&lock);
        records = new std::vector<RecorderRecord>();
        leaked = new std::vector<IUnknown*>();
        ReadConfigFromEnvironment();
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (clsid != CLSID_RecordingHelper) return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(riid, object);
}

STDAPI DllCanUnloadNow() { return liveObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(module, path, sizeof path);
    if (!length || length >= sizeof path) return SELFREG_E_CLASS;
    if (WriteString(HKEY_LOCAL_MACHINE, kClassKey, nullptr, "Korvane recording helper") ||
        WriteString(HKEY_LOCAL_MACHINE, kServerKey, nullptr, path) ||
        WriteString(HKEY_LOCAL_MACHINE, kServerKey, "ThreadingModel", "Apartment") ||
        WriteString(HKEY_LOCAL_MACHINE, kHelperKey, nullptr, "Korvane recording helper"))
        return SELFREG_E_CLASS;
    return S_OK;
}

STDAPI DllUnregisterServer() {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kHelperKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kServerKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kClassKey);
    return S_OK;
}

extern "C" void RecorderConfigure(const RecorderConfig* newConfig) {
    Locked hold;
    if (newConfig) config = *newConfig;
    config.cancelPattern[127] = 0;
}

extern "C" void RecorderReset() {
    Locked hold;
    records->clear();
    popupPending = 0;
}

extern "C" int RecorderCount() {
    Locked hold;
    return static_cast<int>(records->size());
}

extern "C" int RecorderGet(int index, RecorderRecord* record) {
    Locked hold;
    if (!record || index < 0 || index >= static_cast<int>(records->size())) return 0;
    *record = (*records)[static_cast<size_t>(index)];
    return 1;
}

extern "C" long RecorderLiveObjects() { return liveObjects; }

extern "C" void RecorderReleaseLeaks() {
    std::vector<IUnknown*> sites;
    {
        Locked hold;
        sites.swap(*leaked);
    }
    for (IUnknown* site : sites) site->Release();
}

extern "C" int RecorderInstallKeyHook() {
    if (keyHook) return 1;
    keyHook = SetWindowsHookExA(WH_KEYBOARD, KeyHook, module, 0);
    return keyHook != nullptr;
}

extern "C" void RecorderRemoveKeyHook() {
    if (keyHook) UnhookWindowsHookEx(keyHook);
    keyHook = nullptr;
}

extern "C" long RecorderKeyHookCount(UINT virtualKey, int down) { return keyCounts[virtualKey & 0xFF][down ? 1 : 0]; }
