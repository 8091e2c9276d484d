#include "helper/view_source.h"

#include <exdispid.h>

#include <new>

#include "helper/browser_events.h"
#include "module/com_server.h"
#include "module/type_library.h"
#include "scanner/page_scanner.h"
#include "state/shared_state.h"
#include "whitelist/whitelist_store.h"

namespace korvane {
namespace {

// The interface, or null: a pointer is taken only from a successful answer,
// so a site that fails but writes to its out-parameter cannot plant one.
template <typename T>
ComPtr<T> QueryFor(IUnknown* object, REFIID riid) {
    ComPtr<T> result;
    if (!object) return result;
    void* raw = nullptr;
    if (FAILED(object->QueryInterface(riid, &raw))) return result;
    // Takes over the reference QueryInterface added (mingw's ComPtr::Attach
    // would add another).
    *result.GetAddressOf() = static_cast<T*>(raw);
    return result;
}

}  // namespace

HRESULT ViewSource::Create(IUnknown* outer, REFIID riid, void** object) noexcept {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    ViewSource* created = new (std::nothrow) ViewSource(outer);
    if (!created) return E_OUTOFMEMORY;
    // The creation reference is given back once the caller holds its own,
    // which frees the object again when riid is not answered.
    created->OwnAddRef();
    const HRESULT result = created->OwnQueryInterface(riid, object);
    created->OwnRelease();
    return result;
}

ViewSource::ViewSource(IUnknown* outer)
    : ownUnknown(*this), controllingUnknown(outer ? outer : &ownUnknown) {
    LockModule();
    try {
        TheWhiteList().LoadIfEmpty();
    } catch (...) {
        // A list that cannot be loaded now is tried again by the next object.
    }
}

ViewSource::~ViewSource() {
    connectionPoints.Reset();
    eventBrowser.Reset();
    siteBrowser.Reset();
    standardSite.Reset();
    // Last: once the count is zero the library may be unloaded.
    UnlockModule();
}

HRESULT ViewSource::OwnQueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(riid, IID_IViewSource) || IsEqualIID(riid, IID_IDispatch)) {
        *object = static_cast<IViewSource*>(this);
    } else if (IsEqualIID(riid, IID_IObjectWithSite)) {
        *object = static_cast<IObjectWithSite*>(this);
    } else if (IsEqualIID(riid, IID_IUnknown)) {
        // Inside an aggregate the outer object asks for this, and must get the
        // unknown that does not come back to it.
        *object = controllingUnknown == &ownUnknown ? static_cast<IUnknown*>(static_cast<IViewSource*>(this))
                                                     : static_cast<IUnknown*>(&ownUnknown);
    } else {
        return E_NOINTERFACE;
    }
    // Through the interface handed out: inside an aggregate the reference
    // belongs to the outer object, which the caller will release.
    static_cast<IUnknown*>(*object)->AddRef();
    return S_OK;
}

ULONG ViewSource::OwnAddRef() { return ++referenceCount; }

ULONG ViewSource::OwnRelease() {
    const ULONG count = --referenceCount;
    if (count == 0) {
        // Held up while the members are released, in case one of them calls
        // back into the object on its way out.
        referenceCount = 1;
        delete this;
    }
    return count;
}

HRESULT ViewSource::NonDelegatingUnknown::QueryInterface(REFIID riid, void** object) {
    try {
        return owner_.OwnQueryInterface(riid, object);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

ULONG ViewSource::NonDelegatingUnknown::AddRef() { return owner_.OwnAddRef(); }

ULONG ViewSource::NonDelegatingUnknown::Release() { return owner_.OwnRelease(); }

HRESULT ViewSource::QueryInterface(REFIID riid, void** object) {
    try {
        return controllingUnknown->QueryInterface(riid, object);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

ULONG ViewSource::AddRef() { return controllingUnknown->AddRef(); }

ULONG ViewSource::Release() { return controllingUnknown->Release(); }

HRESULT ViewSource::SetSite(IUnknown* site) {
    try {
        // Whatever the switches say: the browser unsites its helpers as a
        // window closes, and a helper still connected then keeps itself and
        // the browser alive; a helper sited again must not connect twice.
        LetGoOfSite();
        if (!sharedState->helperActive) return S_OK;
        siteBrowser = QueryFor<IWebBrowser2>(site, IID_IWebBrowser2);
        if (!siteBrowser) return E_INVALIDARG;
        connectionPoints = QueryFor<IConnectionPointContainer>(siteBrowser.Get(),
                                                               IID_IConnectionPointContainer);
        if (!connectionPoints) return E_POINTER;
        return ConnectEvents();
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT ViewSource::GetSite(REFIID, void** site) {
    try {
        if (!site) return E_POINTER;
        *site = nullptr;
        return E_FAIL;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

void ViewSource::LetGoOfSite() {
    // Only a connection this object made is unadvised: the browser may have
    // given its cookie to another sink since.
    if (eventsConnected) DisconnectEvents();
    BrowserEvents::LetPagesGo(*this);
    connectionPoints.Reset();
    eventBrowser.Reset();
    siteBrowser.Reset();
}

HRESULT ViewSource::DetachEvents() {
    // A cookie is unadvised once: the browser may have given it to another
    // sink since.
    if (eventsConnected) DisconnectEvents();
    return S_OK;
}

namespace {

// The browser's DWebBrowserEvents2 connection point. A container that
// "finds" a null point is treated as a failure, not followed.
HRESULT FindEventsPoint(IConnectionPointContainer* container, ComPtr<IConnectionPoint>& point) {
    if (!container) return E_POINTER;
    const HRESULT found =
        container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.ReleaseAndGetAddressOf());
    if (FAILED(found)) return found;
    return point ? S_OK : E_POINTER;
}

}  // namespace

HRESULT ViewSource::ConnectEvents() {
    ComPtr<IConnectionPoint> point;
    const HRESULT found = FindEventsPoint(connectionPoints.Get(), point);
    if (FAILED(found)) return found;
    DWORD cookie = 0;
    const HRESULT advised = point->Advise(static_cast<IViewSource*>(this), &cookie);
    // A failed Advise must not overwrite the cookie of a connection that
    // still exists.
    if (SUCCEEDED(advised)) {
        adviseCookie = cookie;
        eventsConnected = true;
    }
    return advised;
}

HRESULT ViewSource::DisconnectEvents() {
    ComPtr<IConnectionPoint> point;
    const HRESULT found = FindEventsPoint(connectionPoints.Get(), point);
    if (FAILED(found)) return found;
    eventsConnected = false;
    return point->Unadvise(adviseCookie);
}

HRESULT ViewSource::ScanPage() {
    return korvane::ScanPage(eventBrowser.Get(), siteBrowser.Get(), inDocumentComplete);
}

HRESULT ViewSource::GetTypeInfoCount(UINT* count) {
    try {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT ViewSource::GetTypeInfo(UINT index, LCID, ITypeInfo** typeInfo) {
    try {
        if (!typeInfo) return E_POINTER;
        *typeInfo = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return GetViewSourceTypeInfo(typeInfo);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT ViewSource::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    try {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        ComPtr<ITypeInfo> typeInfo;
        const HRESULT loaded = GetViewSourceTypeInfo(typeInfo.GetAddressOf());
        if (FAILED(loaded)) return loaded;
        return DispGetIDsOfNames(typeInfo.Get(), names, count, ids);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT ViewSource::Invoke(DISPID dispIdMember, REFIID, LCID, WORD, DISPPARAMS* pDispParams,
                           VARIANT*, EXCEPINFO*, UINT*) {
    try {
        // The handler may drop the event connection, and with it what can be
        // the last reference to this object, while it still has work to do:
        // the object stays alive until the call is over.
        ComPtr<IUnknown> keepAlive(controllingUnknown);
        return BrowserEvents::Invoke(*this, dispIdMember, pDispParams);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace korvane
