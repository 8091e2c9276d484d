#include "support/fake_browser.h"

#include <new>

#include <exdispid.h>
#include <olectl.h>

namespace korvane::test {

HRESULT FakeConnectionPoint::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IConnectionPoint))
        return E_NOINTERFACE;
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

HRESULT FakeConnectionPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = DIID_DWebBrowserEvents2;
    return S_OK;
}

HRESULT FakeConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (container) *container = nullptr;
    return E_NOTIMPL;
}

HRESULT FakeConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    ++adviseCalls;
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (FAILED(adviseResult)) return adviseResult;
    if (!sink) return E_POINTER;
    ComPtr<IDispatch> dispatch;
    if (FAILED(sink->QueryInterface(DIID_DWebBrowserEvents2,
                                    reinterpret_cast<void**>(dispatch.GetAddressOf()))) &&
        FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.GetAddressOf()))))
        return CONNECT_E_CANNOTCONNECT;
    *cookie = nextCookie++;
    sinks[*cookie] = dispatch;
    return S_OK;
}

HRESULT FakeConnectionPoint::Unadvise(DWORD cookie) {
    unadvisedCookies.push_back(cookie);
    auto found = sinks.find(cookie);
    if (found == sinks.end()) return CONNECT_E_NOCONNECTION;
    sinks.erase(found);
    return S_OK;
}

HRESULT FakeConnectionPoint::EnumConnections(IEnumConnections** connections) {
    if (connections) *connections = nullptr;
    return E_NOTIMPL;
}

HRESULT FakeBrowser::get_HWND(SHANDLE_PTR* handle) {
    if (!handle) return E_POINTER;
    *handle = reinterpret_cast<SHANDLE_PTR>(window);
    return window ? S_OK : E_FAIL;
}

HRESULT FakeBrowser::get_LocationURL(BSTR* url) {
    if (!url) return E_POINTER;
    *url = nullptr;
    if (FAILED(locationResult)) return locationResult;
    *url = SysAllocString(location);
    return *location ? S_OK : S_FALSE;
}

HRESULT FakeBrowser::get_Document(IDispatch** document) {
    if (documentThrows) throw std::bad_alloc();
    if (document) *document = nullptr;
    return E_NOTIMPL;
}

HRESULT FakeBrowser::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, IID_IWebBrowser) || IsEqualIID(riid, IID_IWebBrowserApp) ||
        IsEqualIID(riid, IID_IWebBrowser2)) {
        *object = static_cast<IWebBrowser2*>(this);
    } else if (withConnectionPoints_ && IsEqualIID(riid, IID_IConnectionPointContainer)) {
        *object = static_cast<IConnectionPointContainer*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

HRESULT FakeBrowser::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (points) *points = nullptr;
    return E_NOTIMPL;
}

HRESULT FakeBrowser::FindConnectionPoint(REFIID riid, IConnectionPoint** found) {
    ++findCalls;
    if (!found) return E_POINTER;
    *found = nullptr;
    if (FAILED(findResult)) return findResult;
    if (!IsEqualIID(riid, DIID_DWebBrowserEvents2)) return CONNECT_E_NOCONNECTION;
    *found = &point;
    point.AddRef();
    return S_OK;
}

HRESULT PlainSite::QueryInterface(REFIID riid, void** object) {
    queried.push_back(riid);
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown)) return E_NOINTERFACE;
    *object = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
}

}  // namespace korvane::test
