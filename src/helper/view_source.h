// The browser helper object: one per browser window, sited in the window's
// browser and connected to its DWebBrowserEvents2 as an event sink.
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <ocidl.h>

#include "base/com.h"
#include "korvane_idl.h"

namespace korvane {

class BrowserEvents;

// Apartment-threaded: each object is created, sited and called on its
// browser window's thread only, so its own reference count is a plain
// integer; only the module's lock count is shared.
//
// IObjectWithSite is the primary face and comes first, so the primary
// virtual table holds QueryInterface, AddRef, Release, SetSite, GetSite and
// then the class's own DetachEvents, ConnectEvents, DisconnectEvents and
// ScanPage, in that order. IViewSource is the dispatch face: events arrive
// at its Invoke. Neither face may gain other virtual functions, and the
// destructor is not virtual, for the same reason.
class ViewSource final : public IObjectWithSite, public IViewSource {
public:
    // Creates an object for the class factory. With an outer unknown only
    // IID_IUnknown may be asked for (CLASS_E_NOAGGREGATION otherwise), and
    // what comes back is the object's own, non-delegating IUnknown.
    static HRESULT Create(IUnknown* outer, REFIID riid, void** object) noexcept;

    // IUnknown of both faces: forwarded to the controlling unknown (the
    // outer object when aggregated). Answers IViewSource and IDispatch with
    // the dispatch face, IObjectWithSite with the primary face, IUnknown with
    // the dispatch face, and nothing else.
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IObjectWithSite. SetSite first lets go of the previous site, whatever
    // the switches say: the event connection it made is unadvised and the
    // browser, event browser and connection point container are released.
    // Then it does nothing more (S_OK) while the helper is switched off;
    // otherwise takes the site's IWebBrowser2 (E_INVALIDARG when there is
    // none, a NULL site included) and its IConnectionPointContainer
    // (E_POINTER when there is none), and returns what ConnectEvents
    // returns. GetSite always answers NULL and E_FAIL.
    STDMETHODIMP SetSite(IUnknown* site) override;
    STDMETHODIMP GetSite(REFIID riid, void** site) override;

    // DisconnectEvents while the object counts itself connected (a second
    // call unadvises nothing); S_OK whatever happened.
    virtual HRESULT STDMETHODCALLTYPE DetachEvents();
    // Advises the DWebBrowserEvents2 connection point of connectionPoints
    // with the dispatch face as sink and keeps the cookie. Returns the
    // failure of FindConnectionPoint or Advise unchanged, E_POINTER when the
    // object has no connection point container.
    virtual HRESULT STDMETHODCALLTYPE ConnectEvents();
    // Unadvises adviseCookie on the same connection point and returns what
    // Unadvise returns. The cookie is kept, so a second call repeats it; but
    // the object no longer counts itself connected.
    virtual HRESULT STDMETHODCALLTYPE DisconnectEvents();
    // The page scan of eventBrowser. Lets std::bad_alloc through: the event
    // handler decides what an abandoned scan means.
    virtual HRESULT STDMETHODCALLTYPE ScanPage();

    // IDispatch, from the type library.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** typeInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                               DISPID* ids) override;
    // The browser's events, handled by BrowserEvents::Invoke.
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID locale, WORD flags,
                        DISPPARAMS* pDispParams, VARIANT* result, EXCEPINFO* exception,
                        UINT* argumentError) override;

    ViewSource(const ViewSource&) = delete;
    ViewSource& operator=(const ViewSource&) = delete;

private:
    friend class BrowserEvents;

    // The object's own IUnknown, which an aggregating outer object holds.
    class NonDelegatingUnknown final : public IUnknown {
    public:
        explicit NonDelegatingUnknown(ViewSource& owner) : owner_(owner) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;

    private:
        ViewSource& owner_;
    };

    explicit ViewSource(IUnknown* outer);
    ~ViewSource();

    HRESULT OwnQueryInterface(REFIID riid, void** object);
    // Unadvises the connection this object made, if any, and releases the
    // three browser pointers. Also at the browser's OnQuit.
    void LetGoOfSite();
    ULONG OwnAddRef();
    ULONG OwnRelease();

    // The site slot of the standard IObjectWithSite implementation: never
    // stored into, because the browser is kept as siteBrowser instead.
    ComPtr<IUnknown> standardSite;
    ULONG referenceCount = 0;
    // The browser of the window the object is sited in.
    ComPtr<IWebBrowser2> siteBrowser;
    // The browser or frame the event being handled concerns; the page scan
    // works on it.
    ComPtr<IWebBrowser2> eventBrowser;
    // From siteBrowser; where the event connection point is found.
    ComPtr<IConnectionPointContainer> connectionPoints;
    // 1 while the page scan runs on behalf of DocumentComplete.
    BYTE inDocumentComplete = 0;
    // DISPID_NEWWINDOW2 when the last event handled announced a new window
    // by NewWindow2, else 0.
    DISPID lastAnnouncement = 0;
    // From Advise; kept after Unadvise.
    DWORD adviseCookie = 0;
    // Advised and not unadvised since.
    bool eventsConnected = false;

    NonDelegatingUnknown ownUnknown;
    // The outer object when aggregated, else ownUnknown. Not owned.
    IUnknown* controllingUnknown;
};

}  // namespace korvane
