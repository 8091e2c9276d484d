#include "browser/browser_object.h"

#include <olectl.h>
#include <shlguid.h>
#include <shobjidl.h>

#include <new>
#include <vector>

#include "browser/text_conversion.h"

namespace standin {

using korvane::ComPtr;
using korvane::ScopedLock;

namespace {

HRESULT NotImplemented() { return E_NOTIMPL; }

HRESULT GiveBstr(const std::wstring& text, BSTR* result) {
    if (!result) return E_POINTER;
    *result = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *result ? S_OK : E_OUTOFMEMORY;
}

HRESULT GiveDispatch(IDispatch* dispatch, IDispatch** result) {
    if (!result) return E_POINTER;
    *result = dispatch;
    if (!dispatch) return E_FAIL;
    dispatch->AddRef();
    return S_OK;
}

// The URL argument of Navigate2 as a string; anything but a BSTR (or a
// reference to one) is refused as the browser refuses it.
bool UrlFromVariant(const VARIANT* url, std::wstring* text) {
    if (!url) return false;
    if (url->vt == VT_BSTR) {
        *text = url->bstrVal ? std::wstring(url->bstrVal, SysStringLen(url->bstrVal)) : std::wstring();
        return true;
    }
    if (url->vt == (VT_BYREF | VT_VARIANT) && url->pvarVal) return UrlFromVariant(url->pvarVal, text);
    return false;
}

}  // namespace

namespace {

korvane::CriticalSection abandonedLock;
std::vector<BrowserObject*>* abandoned = nullptr;  // each pinned

}  // namespace

void KeepAbandonedBrowser(BrowserObject* object) {
    object->Pin();
    ScopedLock hold(abandonedLock);
    if (!abandoned) abandoned = new std::vector<BrowserObject*>();
    abandoned->push_back(object);
}

int ReleaseLeakedSinks() {
    std::vector<BrowserObject*> taken;
    {
        ScopedLock hold(abandonedLock);
        if (abandoned) taken.swap(*abandoned);
    }
    // Every object stays pinned until all sinks are gone: releasing one
    // helper may let go of another window's browser.
    int released = 0;
    for (BrowserObject* object : taken)
        if (object->Events()) released += object->Events()->DropAll();
    for (BrowserObject* object : taken) object->Unpin();
    return released;
}

BrowserObject* BrowserObject::Create(BrowserOwner* owner, const BrowserObjectOptions& options) {
    auto* object = new BrowserObject(owner, options);
    object->Pin();
    return object;
}

BrowserObject::BrowserObject(BrowserOwner* owner, const BrowserObjectOptions& options)
    : TrackedObject(ObjectKind::Browser), options_(options), owner_(owner), events_(this, this) {}

void BrowserObject::Detach() {
    {
        ScopedLock hold(lock_);
        owner_ = nullptr;
    }
    Unpin();
}

STDMETHODIMP BrowserObject::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IWebBrowser ||
        riid == IID_IWebBrowserApp || riid == IID_IWebBrowser2) {
        *object = static_cast<IWebBrowser2*>(this);
    } else if (riid == IID_IConnectionPointContainer && options_.connectionPoints) {
        *object = static_cast<IConnectionPointContainer*>(this);
    } else if (riid == IID_IServiceProvider) {
        *object = static_cast<IServiceProvider*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddExternal();
    return S_OK;
}

STDMETHODIMP_(ULONG) BrowserObject::AddRef() { return AddExternal(); }
STDMETHODIMP_(ULONG) BrowserObject::Release() { return ReleaseExternal(); }

STDMETHODIMP BrowserObject::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}
STDMETHODIMP BrowserObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
}
STDMETHODIMP BrowserObject::GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) {
    if (ids)
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}
STDMETHODIMP BrowserObject::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return DISP_E_MEMBERNOTFOUND;
}

STDMETHODIMP BrowserObject::GoBack() { return NotImplemented(); }
STDMETHODIMP BrowserObject::GoForward() { return NotImplemented(); }
STDMETHODIMP BrowserObject::GoHome() { return NotImplemented(); }
STDMETHODIMP BrowserObject::GoSearch() { return NotImplemented(); }

STDMETHODIMP BrowserObject::Navigate(BSTR url, VARIANT*, VARIANT*, VARIANT*, VARIANT*) {
    try {
        ScopedLock hold(lock_);
        if (!owner_) return E_FAIL;
        if (!url) return E_INVALIDARG;
        owner_->RequestNavigation(std::wstring(url, SysStringLen(url)));
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP BrowserObject::Refresh() { return NotImplemented(); }
STDMETHODIMP BrowserObject::Refresh2(VARIANT*) { return NotImplemented(); }
STDMETHODIMP BrowserObject::Stop() { return S_OK; }

STDMETHODIMP BrowserObject::get_Application(IDispatch** result) {
    ScopedLock hold(lock_);
    IWebBrowser2* top = owner_ ? owner_->TopBrowser() : this;
    return GiveDispatch(top ? top : this, result);
}

STDMETHODIMP BrowserObject::get_Parent(IDispatch** result) {
    ScopedLock hold(lock_);
    IWebBrowser2* parent = owner_ ? owner_->ParentBrowser() : this;
    return GiveDispatch(parent ? parent : this, result);
}

STDMETHODIMP BrowserObject::get_Container(IDispatch** result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    return options_.isFrame ? NotImplemented() : S_OK;
}

STDMETHODIMP BrowserObject::get_Document(IDispatch** result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    try {
        ScopedLock hold(lock_);
        if (!owner_) return S_FALSE;
        ComPtr<IDispatch> document = owner_->Document();
        // Without a document the browser answers S_FALSE and a null pointer.
        if (!document) return S_FALSE;
        *result = document.Detach();
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP BrowserObject::get_TopLevelContainer(VARIANT_BOOL* result) {
    if (!result) return E_POINTER;
    *result = options_.isFrame ? VARIANT_FALSE : VARIANT_TRUE;
    return S_OK;
}

STDMETHODIMP BrowserObject::get_Type(BSTR* result) {
    try {
        return GiveBstr(L"HTML Document", result);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP BrowserObject::get_Left(LONG*) { return NotImplemented(); }
STDMETHODIMP BrowserObject::put_Left(LONG) { return NotImplemented(); }
STDMETHODIMP BrowserObject::get_Top(LONG*) { return NotImplemented(); }
STDMETHODIMP BrowserObject::put_Top(LONG) { return NotImplemented(); }
STDMETHODIMP BrowserObject::get_Width(LONG*) { return NotImplemented(); }
STDMETHODIMP BrowserObject::put_Width(LONG) { return NotImplemented(); }
STDMETHODIMP BrowserObject::get_Height(LONG*) { return NotImplemented(); }
STDMETHODIMP BrowserObject::put_Height(LONG) { return NotImplemented(); }

STDMETHODIMP BrowserObject::get_LocationName(BSTR* result) {
    try {
        ScopedLock hold(lock_);
        return GiveBstr(owner_ ? owner_->LocationName() : std::wstring(), result);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP BrowserObject::get_LocationURL(BSTR* result) {
    try {
        ScopedLock hold(lock_);
        const std::wstring location = owner_ ? owner_->LocationUrl() : std::wstring();
        const HRESULT given = GiveBstr(location, result);
        if (FAILED(given)) return given;
        // Before its first navigation is complete the browser answers an
        // empty string and S_FALSE: what a new window reports while its
        // first BeforeNavigate2 is being handled.
        return owner_ && location.empty() ? S_FALSE : S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP BrowserObject::get_Busy(VARIANT_BOOL* result) {
    if (!result) return E_POINTER;
    ScopedLock hold(lock_);
    const bool busy = owner_ && owner_->ReadyState() != READYSTATE_COMPLETE;
    *result = busy ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP BrowserObject::Quit() {
    try {
        ScopedLock hold(lock_);
        // A frame is a browser control, not a browser application: it has
        // nothing to quit.
        if (options_.isFrame) {
            if (owner_) owner_->NoteCall("Quit", E_FAIL, "on a frame");
            return E_FAIL;
        }
        if (!owner_) return S_OK;
        owner_->NoteCall("Quit", S_OK, "");
        owner_->RequestQuit();
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

STDMETHODIMP BrowserObject::ClientToWindow(int*, int*) { return NotImplemented(); }
STDMETHODIMP BrowserObject::PutProperty(BSTR, VARIANT) { return NotImplemented(); }
STDMETHODIMP BrowserObject::GetProperty(BSTR, VARIANT*) { return NotImplemented(); }

STDMETHODIMP BrowserObject::get_Name(BSTR* result) {
    try {
        return GiveBstr(options_.isFrame ? L"Microsoft Web Browser Control" : L"Microsoft Internet Explorer",
                        result);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP BrowserObject::get_HWND(SHANDLE_PTR* result) {
    if (!result) return E_POINTER;
    *result = 0;
    try {
        ScopedLock hold(lock_);
        // A frame's browser is a browser control, which never has a frame
        // window of its own: the browser answers E_FAIL and zero there.
        if (options_.isFrame || !owner_) return E_FAIL;
        HWND window = owner_->FrameWindow();
        if (!window) return E_FAIL;
        *result = reinterpret_cast<SHANDLE_PTR>(window);
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

STDMETHODIMP BrowserObject::get_FullName(BSTR*) { return NotImplemented(); }
STDMETHODIMP BrowserObject::get_Path(BSTR*) { return NotImplemented(); }

STDMETHODIMP BrowserObject::get_Visible(VARIANT_BOOL* result) {
    if (!result) return E_POINTER;
    ScopedLock hold(lock_);
    *result = owner_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP BrowserObject::put_Visible(VARIANT_BOOL) { return NotImplemented(); }
STDMETHODIMP BrowserObject::get_StatusBar(VARIANT_BOOL*) { return NotImplemented(); }
STDMETHODIMP BrowserObject::put_StatusBar(VARIANT_BOOL) { return NotImplemented(); }
STDMETHODIMP BrowserObject::get_StatusText(BSTR*) { return NotImplemented(); }
STDMETHODIMP BrowserObject::put_StatusText(BSTR) { return NotImplemented(); }
STDMETHODIMP BrowserObject::get_ToolBar(int*) { return NotImplemented(); }
STDMETHODIMP BrowserObject::put_ToolBar(int) { return NotImplemented(); }
STDMETHODIMP BrowserObject::get_MenuBar(VARIANT_BOOL*) { return NotImplemented(); }
STDMETHODIMP BrowserObject::put_MenuBar(VARIANT_BOOL) { return NotImplemented(); }
STDMETHODIMP BrowserObject::get_FullScreen(VARIANT_BOOL*) { return NotImplemented(); }
STDMETHODIMP BrowserObject::put_FullScreen(VARIANT_BOOL) { return NotImplemented(); }

STDMETHODIMP BrowserObject::Navigate2(VARIANT* url, VARIANT*, VARIANT*, VARIANT*, VARIANT*) {
    try {
        std::wstring text;
        if (!UrlFromVariant(url, &text)) return E_INVALIDARG;
        ScopedLock hold(lock_);
        if (!owner_) return E_FAIL;
        owner_->RequestNavigation(text);
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP BrowserObject::QueryStatusWB(OLECMDID, OLECMDF*) { return NotImplemented(); }
STDMETHODIMP BrowserObject::ExecWB(OLECMDID, OLECMDEXECOPT, VARIANT*, VARIANT*) { return NotImplemented(); }
STDMETHODIMP BrowserObject::ShowBrowserBar(VARIANT*, VARIANT*, VARIANT*) { return NotImplemented(); }

STDMETHODIMP BrowserObject::get_ReadyState(READYSTATE* result) {
    if (!result) return E_POINTER;
    ScopedLock hold(lock_);
    *result = owner_ ? owner_->ReadyState() : READYSTATE_UNINITIALIZED;
    return S_OK;
}

STDMETHODIMP BrowserObject::get_Offline(VARIANT_BOOL*) { return NotImplemented(); }
STDMETHODIMP BrowserObject::put_Offline(VARIANT_BOOL) { return NotImplemented(); }
STDMETHODIMP BrowserObject::get_Silent(VARIANT_BOOL*) { return NotImplemented(); }
STDMETHODIMP BrowserObject::put_Silent(VARIANT_BOOL) { return NotImplemented(); }
STDMETHODIMP BrowserObject::get_RegisterAsBrowser(VARIANT_BOOL*) { return NotImplemented(); }
STDMETHODIMP BrowserObject::put_RegisterAsBrowser(VARIANT_BOOL) { return NotImplemented(); }
STDMETHODIMP BrowserObject::get_RegisterAsDropTarget(VARIANT_BOOL*) { return NotImplemented(); }
STDMETHODIMP BrowserObject::put_RegisterAsDropTarget(VARIANT_BOOL) { return NotImplemented(); }
STDMETHODIMP BrowserObject::get_TheaterMode(VARIANT_BOOL*) { return NotImplemented(); }
STDMETHODIMP BrowserObject::put_TheaterMode(VARIANT_BOOL) { return NotImplemented(); }
STDMETHODIMP BrowserObject::get_AddressBar(VARIANT_BOOL*) { return NotImplemented(); }
STDMETHODIMP BrowserObject::put_AddressBar(VARIANT_BOOL) { return NotImplemented(); }
STDMETHODIMP BrowserObject::get_Resizable(VARIANT_BOOL*) { return NotImplemented(); }
STDMETHODIMP BrowserObject::put_Resizable(VARIANT_BOOL) { return NotImplemented(); }

STDMETHODIMP BrowserObject::EnumConnectionPoints(IEnumConnectionPoints** result) {
    try {
        std::vector<IConnectionPoint*> points{&events_};
        return CreateConnectionPointEnumerator(points, 0, result);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP BrowserObject::FindConnectionPoint(REFIID riid, IConnectionPoint** result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    if (riid != DIID_DWebBrowserEvents2) return CONNECT_E_NOCONNECTION;
    events_.AddRef();
    *result = &events_;
    return S_OK;
}

namespace {

// The shell browser of a browser object, as IOleWindow: the window that
// shows the browser alone. It holds its browser object while it lives.
class ShellBrowserWindow final : public IOleWindow, public TrackedObject {
public:
    static ShellBrowserWindow* Create(BrowserObject* browser) {
        auto* window = new ShellBrowserWindow(browser);
        window->AddExternal();
        return window;
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid != IID_IUnknown && riid != IID_IOleWindow) return E_NOINTERFACE;
        *object = static_cast<IOleWindow*>(this);
        AddExternal();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddExternal(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseExternal(); }
    STDMETHODIMP GetWindow(HWND* window) override {
        if (!window) return E_POINTER;
        *window = browser_->ContentWindow();
        return *window ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

private:
    explicit ShellBrowserWindow(BrowserObject* browser) : TrackedObject(ObjectKind::Browser), browser_(browser) {
        browser_->Pin();
    }
    ~ShellBrowserWindow() override { browser_->Unpin(); }

    BrowserObject* const browser_;
};

}  // namespace

STDMETHODIMP BrowserObject::QueryService(REFGUID service, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    try {
        if (service != SID_SShellBrowser) return E_NOINTERFACE;
        {
            ScopedLock hold(lock_);
            if (owner_) owner_->NoteCall("QueryService", S_OK, "SID_SShellBrowser");
        }
        ShellBrowserWindow* window = ShellBrowserWindow::Create(this);
        const HRESULT result = window->QueryInterface(riid, object);
        window->Release();
        return result;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HWND BrowserObject::ContentWindow() {
    ScopedLock hold(lock_);
    return owner_ ? owner_->ContentWindow() : nullptr;
}

PlainSite* PlainSite::Create() {
    auto* site = new PlainSite();
    site->Pin();
    return site;
}

STDMETHODIMP PlainSite::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown) return E_NOINTERFACE;
    *object = static_cast<IUnknown*>(this);
    AddExternal();
    return S_OK;
}

}  // namespace standin
