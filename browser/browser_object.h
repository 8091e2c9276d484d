// The browser object of a top-level window or of a frame: what a helper
// object receives as its site and as the first argument of the events.
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <ocidl.h>
#include <servprov.h>

#include <memory>
#include <string>

#include "base/com.h"
#include "base/lock.h"
#include "browser/connection_point.h"
#include "browser/live_references.h"

namespace standin {

// What a browser object asks of the window or frame it belongs to. Called
// with the object's lock held; implementations post work rather than
// calling back into the object.
class BrowserOwner {
public:
    virtual ~BrowserOwner() = default;
    // The top-level frame window, or null once it has been destroyed.
    virtual HWND FrameWindow() = 0;
    // The window that shows this browser alone, which the shell browser
    // service answers: from IE7 on its tab's, before that the frame.
    virtual HWND ContentWindow() = 0;
    // Quit on the window's browser: the window closes (asynchronously, as
    // the browser's own Quit does).
    virtual void RequestQuit() = 0;
    // The current document as IHTMLDocument2, or null while there is none.
    virtual korvane::ComPtr<IDispatch> Document() = 0;
    virtual std::wstring LocationUrl() = 0;
    virtual std::wstring LocationName() = 0;
    virtual READYSTATE ReadyState() = 0;
    // The window's own browser object, and the frame's parent's (the
    // window's own browser for a top-level window); both not referenced.
    virtual IWebBrowser2* TopBrowser() = 0;
    virtual IWebBrowser2* ParentBrowser() = 0;
    // Navigate/Navigate2 called by a helper: queued, as the browser does.
    virtual void RequestNavigation(const std::wstring& url) = 0;
    // A method call worth a line in the timeline (Quit, get_HWND, ...).
    virtual void NoteCall(const char* method, HRESULT result, const std::string& detail) = 0;
};

struct BrowserObjectOptions {
    bool isFrame = false;
    // False builds a browser "without connection points": no
    // IConnectionPointContainer at all.
    bool connectionPoints = true;
};

class BrowserObject final : public IWebBrowser2,
                            public IConnectionPointContainer,
                            public IServiceProvider,
                            public TrackedObject {
public:
    // Created pinned once for its owner; Detach gives that pin back.
    static BrowserObject* Create(BrowserOwner* owner, const BrowserObjectOptions& options);

    // The owner is going away: later calls answer as a closed browser would.
    void Detach();
    bool IsFrame() const { return options_.isFrame; }
    IWebBrowser2* Interface() { return this; }
    IDispatch* Dispatch() { return static_cast<IWebBrowser2*>(this); }
    // Null for a browser built without connection points.
    EventConnectionPoint* Events() { return options_.connectionPoints ? &events_ : nullptr; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* argError) override;
    // IWebBrowser
    STDMETHODIMP GoBack() override;
    STDMETHODIMP GoForward() override;
    STDMETHODIMP GoHome() override;
    STDMETHODIMP GoSearch() override;
    STDMETHODIMP Navigate(BSTR url, VARIANT* flags, VARIANT* targetFrameName, VARIANT* postData,
                          VARIANT* headers) override;
    STDMETHODIMP Refresh() override;
    STDMETHODIMP Refresh2(VARIANT* level) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP get_Application(IDispatch** result) override;
    STDMETHODIMP get_Parent(IDispatch** result) override;
    STDMETHODIMP get_Container(IDispatch** result) override;
    STDMETHODIMP get_Document(IDispatch** result) override;
    STDMETHODIMP get_TopLevelContainer(VARIANT_BOOL* result) override;
    STDMETHODIMP get_Type(BSTR* result) override;
    STDMETHODIMP get_Left(LONG* result) override;
    STDMETHODIMP put_Left(LONG value) override;
    STDMETHODIMP get_Top(LONG* result) override;
    STDMETHODIMP put_Top(LONG value) override;
    STDMETHODIMP get_Width(LONG* result) override;
    STDMETHODIMP put_Width(LONG value) override;
    STDMETHODIMP get_Height(LONG* result) override;
    STDMETHODIMP put_Height(LONG value) override;
    STDMETHODIMP get_LocationName(BSTR* result) override;
    STDMETHODIMP get_LocationURL(BSTR* result) override;
    STDMETHODIMP get_Busy(VARIANT_BOOL* result) override;
    // IWebBrowserApp
    STDMETHODIMP Quit() override;
    STDMETHODIMP ClientToWindow(int* cx, int* cy) override;
    STDMETHODIMP PutProperty(BSTR property, VARIANT value) override;
    STDMETHODIMP GetProperty(BSTR property, VARIANT* value) override;
    STDMETHODIMP get_Name(BSTR* result) override;
    STDMETHODIMP get_HWND(SHANDLE_PTR* result) override;
    STDMETHODIMP get_FullName(BSTR* result) override;
    STDMETHODIMP get_Path(BSTR* result) override;
    STDMETHODIMP get_Visible(VARIANT_BOOL* result) override;
    STDMETHODIMP put_Visible(VARIANT_BOOL value) override;
    STDMETHODIMP get_StatusBar(VARIANT_BOOL* result) override;
    STDMETHODIMP put_StatusBar(VARIANT_BOOL value) override;
    STDMETHODIMP get_StatusText(BSTR* result) override;
    STDMETHODIMP put_StatusText(BSTR value) override;
    STDMETHODIMP get_ToolBar(int* result) override;
    STDMETHODIMP put_ToolBar(int value) override;
    STDMETHODIMP get_MenuBar(VARIANT_BOOL* result) override;
    STDMETHODIMP put_MenuBar(VARIANT_BOOL value) override;
    STDMETHODIMP get_FullScreen(VARIANT_BOOL* result) override;
    STDMETHODIMP put_FullScreen(VARIANT_BOOL value) override;
    // IWebBrowser2
    STDMETHODIMP Navigate2(VARIANT* url, VARIANT* flags, VARIANT* targetFrameName, VARIANT* postData,
                           VARIANT* headers) override;
    STDMETHODIMP QueryStatusWB(OLECMDID command, OLECMDF* status) override;
    STDMETHODIMP ExecWB(OLECMDID command, OLECMDEXECOPT option, VARIANT* in, VARIANT* out) override;
    STDMETHODIMP ShowBrowserBar(VARIANT* clsid, VARIANT* show, VARIANT* size) override;
    STDMETHODIMP get_ReadyState(READYSTATE* result) override;
    STDMETHODIMP get_Offline(VARIANT_BOOL* result) override;
    STDMETHODIMP put_Offline(VARIANT_BOOL value) override;
    STDMETHODIMP get_Silent(VARIANT_BOOL* result) override;
    STDMETHODIMP put_Silent(VARIANT_BOOL value) override;
    STDMETHODIMP get_RegisterAsBrowser(VARIANT_BOOL* result) override;
    STDMETHODIMP put_RegisterAsBrowser(VARIANT_BOOL value) override;
    STDMETHODIMP get_RegisterAsDropTarget(VARIANT_BOOL* result) override;
    STDMETHODIMP put_RegisterAsDropTarget(VARIANT_BOOL value) override;
    STDMETHODIMP get_TheaterMode(VARIANT_BOOL* result) override;
    STDMETHODIMP put_TheaterMode(VARIANT_BOOL value) override;
    STDMETHODIMP get_AddressBar(VARIANT_BOOL* result) override;
    STDMETHODIMP put_AddressBar(VARIANT_BOOL value) override;
    STDMETHODIMP get_Resizable(VARIANT_BOOL* result) override;
    STDMETHODIMP put_Resizable(VARIANT_BOOL value) override;
    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** result) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** result) override;
    // IServiceProvider: SID_SShellBrowser as IOleWindow (an object of its
    // own, counted with the browser objects), whose GetWindow answers the
    // content window; anything else E_NOINTERFACE.
    STDMETHODIMP QueryService(REFGUID service, REFIID riid, void** object) override;
    // The content window, for that object: null once detached.
    HWND ContentWindow();

private:
    BrowserObject(BrowserOwner* owner, const BrowserObjectOptions& options);
    ~BrowserObject() override = default;

    const BrowserObjectOptions options_;
    korvane::CriticalSection lock_;
    BrowserOwner* owner_;  // null once detached
    EventConnectionPoint events_;
};

// The site handed to helpers in the "site that is not a browser" case: an
// object that answers IUnknown and nothing else.
class PlainSite final : public IUnknown, public TrackedObject {
public:
    static PlainSite* Create();
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddExternal(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseExternal(); }

private:
    PlainSite() : TrackedObject(ObjectKind::Site) {}
    ~PlainSite() override = default;
};

// A browser object whose window closed with sinks still advised on it
// while something outside held it: kept (pinned) as the browser would keep
// it, so that the final reference check sees the leak.
void KeepAbandonedBrowser(BrowserObject* object);

}  // namespace standin
