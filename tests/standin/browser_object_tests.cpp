// The browser object and its connection point, driven directly: what a
// helper object sees when it queries, advises and unadvises.
#include <gtest/gtest.h>

#include <exdisp.h>
#include <olectl.h>
#include <shlguid.h>
#include <shobjidl.h>

#include <functional>
#include <string>
#include <vector>

#include "base/com.h"
#include "browser/browser_object.h"
#include "browser/live_references.h"

namespace standin {
namespace {

using korvane::ComPtr;

class FakeOwner : public BrowserOwner {
public:
    HWND FrameWindow() override { return window; }
    HWND ContentWindow() override { return content; }
    void RequestQuit() override { ++quits; }
    ComPtr<IDispatch> Document() override { return nullptr; }
    std::wstring LocationUrl() override { return L"http://news.example/"; }
    std::wstring LocationName() override { return L"News"; }
    READYSTATE ReadyState() override { return READYSTATE_COMPLETE; }
    IWebBrowser2* TopBrowser() override { return top; }
    IWebBrowser2* ParentBrowser() override { return top; }
    void RequestNavigation(const std::wstring& url) override { navigations.push_back(url); }
    void NoteCall(const char*, HRESULT, const std::string&) override {}

    HWND window = reinterpret_cast<HWND>(0x4242);
    HWND content = reinterpret_cast<HWND>(0x4343);
    IWebBrowser2* top = nullptr;
    int quits = 0;
    std::vector<std::wstring> navigations;
};

// A sink that answers what it is told to and counts its references.
class Sink : public IDispatch {
public:
    explicit Sink(bool eventsInterface, bool dispatch = true) : events_(eventsInterface), dispatch_(dispatch) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        *object = nullptr;
        asked.push_back(riid);
        if (riid == IID_IUnknown || (riid == IID_IDispatch && dispatch_) ||
            (riid == DIID_DWebBrowserEvents2 && events_)) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override {
        calls.push_back(id);
        EXPECT_EQ(IID_NULL, riid);
        EXPECT_EQ(static_cast<LCID>(LOCALE_SYSTEM_DEFAULT), lcid);
        EXPECT_EQ(DISPATCH_METHOD, flags);
        EXPECT_EQ(nullptr, result);
        EXPECT_EQ(nullptr, exception);
        EXPECT_EQ(nullptr, argError);
        (void)params;
        if (onInvoke) onInvoke();
        return S_OK;
    }

    long refs = 1;
    std::vector<IID> asked;
    std::vector<DISPID> calls;
    std::function<void()> onInvoke;

private:
    bool events_;
    bool dispatch_;
};

class BrowserObjectTest : public ::testing::Test {
protected:
    void SetUp() override {
        BrowserObjectOptions options;
        browser_ = BrowserObject::Create(&owner_, options);
        owner_.top = browser_->Interface();
    }
    void TearDown() override {
        if (browser_) browser_->Detach();
        const LiveReferences left = CurrentLiveReferences();
        EXPECT_EQ(0, left.Total());
        EXPECT_EQ(0, left.objects);
    }
    ComPtr<IConnectionPoint> Point() {
        ComPtr<IConnectionPointContainer> container;
        EXPECT_EQ(S_OK, browser_->QueryInterface(IID_IConnectionPointContainer,
                                                 reinterpret_cast<void**>(container.GetAddressOf())));
        ComPtr<IConnectionPoint> point;
        EXPECT_EQ(S_OK, container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.GetAddressOf()));
        return point;
    }

    FakeOwner owner_;
    BrowserObject* browser_ = nullptr;
};

TEST_F(BrowserObjectTest, AnswersTheBrowserInterfacesWithOneIdentity) {
    const IID faces[] = {IID_IUnknown, IID_IDispatch, IID_IWebBrowser, IID_IWebBrowserApp, IID_IWebBrowser2};
    for (const IID& iid : faces) {
        void* face = reinterpret_cast<void*>(0xdeadbeef);
        ASSERT_EQ(S_OK, browser_->QueryInterface(iid, &face));
        EXPECT_EQ(static_cast<void*>(browser_->Interface()), face);
        static_cast<IUnknown*>(face)->Release();
    }
    void* other = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(E_NOINTERFACE, browser_->QueryInterface(IID_IObjectWithSite, &other));
    EXPECT_EQ(nullptr, other);
    EXPECT_EQ(0, CurrentLiveReferences().browsers);
}

TEST_F(BrowserObjectTest, AdviseHandsOutCookiesAndUnadviseRefusesBadOnes) {
    ComPtr<IConnectionPoint> point = Point();
    Sink first(true), second(true);
    DWORD cookie1 = 0xdeadbeef, cookie2 = 0xdeadbeef;
    ASSERT_EQ(S_OK, point->Advise(&first, &cookie1));
    ASSERT_EQ(S_OK, point->Advise(&second, &cookie2));
    EXPECT_NE(0u, cookie1);
    EXPECT_NE(cookie1, cookie2);
    EXPECT_EQ(2, first.refs);  // the connection point holds the sink
    EXPECT_EQ(IID(DIID_DWebBrowserEvents2), first.asked.front());

    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(0));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(cookie2 + 100));
    EXPECT_EQ(S_OK, point->Unadvise(cookie1));
    EXPECT_EQ(1, first.refs);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(cookie1));  // already used
    EXPECT_EQ(S_OK, point->Unadvise(cookie2));
    EXPECT_EQ(1, second.refs);

    DWORD cookie = 0;
    EXPECT_EQ(E_POINTER, point->Advise(nullptr, &cookie));
    EXPECT_EQ(E_POINTER, point->Advise(&first, nullptr));
}

TEST_F(BrowserObjectTest, AdviseSettlesForIDispatchAndRefusesASinkWithNeither) {
    ComPtr<IConnectionPoint> point = Point();
    Sink dispatchOnly(false);
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&dispatchOnly, &cookie));
    ASSERT_EQ(2u, dispatchOnly.asked.size());
    EXPECT_EQ(IID(DIID_DWebBrowserEvents2), dispatchOnly.asked[0]);
    EXPECT_EQ(IID_IDispatch, dispatchOnly.asked[1]);
    EXPECT_EQ(SinkInterface::DispatchOnly, browser_->Events()->LastAdviseInterface());

    Sink nothing(false, false);
    DWORD none = 0xdeadbeef;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(&nothing, &none));
    EXPECT_EQ(0u, none);
    EXPECT_EQ(1, nothing.refs);

    EXPECT_EQ(S_OK, point->Unadvise(cookie));
}

TEST_F(BrowserObjectTest, FiresToEverySinkAsTheBrowserCallsInvoke) {
    ComPtr<IConnectionPoint> point = Point();
    Sink first(true), second(false);
    DWORD cookie1 = 0, cookie2 = 0;
    point->Advise(&first, &cookie1);
    point->Advise(&second, &cookie2);
    // A handler that unadvises another sink during the event: that sink is
    // not called any more, and nothing is freed under the connection point.
    first.onInvoke = [&]() { point->Unadvise(cookie2); };
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    std::vector<SinkCall> calls = browser_->Events()->Fire(104, &none);
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(cookie1, calls[0].cookie);
    EXPECT_EQ(std::vector<DISPID>{104}, first.calls);
    EXPECT_TRUE(second.calls.empty());
    EXPECT_EQ(1, second.refs);
    EXPECT_EQ(1, browser_->Events()->DropAll());
    EXPECT_EQ(1, first.refs);
}

TEST_F(BrowserObjectTest, ConnectionObjectsCountTheirReferencesAndHoldTheBrowser) {
    ComPtr<IConnectionPoint> point = Point();
    EXPECT_EQ(1, CurrentLiveReferences().connectionPoints);
    EXPECT_EQ(0, CurrentLiveReferences().browsers);

    ComPtr<IConnectionPointContainer> back;
    ASSERT_EQ(S_OK, point->GetConnectionPointContainer(back.GetAddressOf()));
    EXPECT_EQ(1, CurrentLiveReferences().browsers);
    IID iid = IID_NULL;
    EXPECT_EQ(S_OK, point->GetConnectionInterface(&iid));
    EXPECT_EQ(IID(DIID_DWebBrowserEvents2), iid);

    ComPtr<IConnectionPoint> other;
    EXPECT_EQ(CONNECT_E_NOCONNECTION, back->FindConnectionPoint(IID_IPropertyNotifySink, other.GetAddressOf()));
    EXPECT_EQ(nullptr, other.Get());

    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(S_OK, back->EnumConnectionPoints(points.GetAddressOf()));
    EXPECT_EQ(1, CurrentLiveReferences().enumerators);
    IConnectionPoint* found[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, points->Next(2, found, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(point.Get(), found[0]);
    found[0]->Release();

    Sink sink(true);
    DWORD cookie = 0;
    point->Advise(&sink, &cookie);
    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(S_OK, point->EnumConnections(connections.GetAddressOf()));
    CONNECTDATA data = {};
    ASSERT_EQ(S_OK, connections->Next(1, &data, nullptr));
    EXPECT_EQ(cookie, data.dwCookie);
    EXPECT_EQ(static_cast<IUnknown*>(&sink), data.pUnk);
    data.pUnk->Release();
    EXPECT_EQ(S_FALSE, connections->Next(1, &data, nullptr));
    connections.Reset();
    point->Unadvise(cookie);
    EXPECT_EQ(1, sink.refs);

    // The window goes; the helper's references keep a detached object alive.
    browser_->Detach();
    browser_ = nullptr;
    EXPECT_EQ(2, CurrentLiveReferences().objects);  // the browser and the enumerator
    SHANDLE_PTR hwnd = 1;
    ComPtr<IWebBrowser2> stillThere;
    back.As(&stillThere);
    EXPECT_EQ(E_FAIL, stillThere->get_HWND(&hwnd));
    EXPECT_EQ(0, hwnd);
    EXPECT_EQ(S_OK, stillThere->Quit());
    stillThere.Reset();
    points.Reset();
    back.Reset();
    point.Reset();
    EXPECT_EQ(0, CurrentLiveReferences().objects);
}

TEST_F(BrowserObjectTest, RefusesAReleaseBeyondTheReferencesItGaveOut) {
    const long before = CurrentLiveReferences().overReleases;
    browser_->AddRef();
    EXPECT_EQ(0u, browser_->Release());
    EXPECT_EQ(0u, browser_->Release());  // one too many: refused, object intact
    EXPECT_EQ(before + 1, CurrentLiveReferences().overReleases);
    SHANDLE_PTR hwnd = 0;
    EXPECT_EQ(S_OK, browser_->get_HWND(&hwnd));
}

TEST_F(BrowserObjectTest, TopLevelBrowserAnswersWithItsWindowAndQuits) {
    SHANDLE_PTR hwnd = 0;
    EXPECT_EQ(S_OK, browser_->get_HWND(&hwnd));
    EXPECT_EQ(reinterpret_cast<SHANDLE_PTR>(owner_.window), hwnd);
    // The window that shows this browser alone comes from the shell
    // browser service; the object that answers it holds the browser.
    ComPtr<IServiceProvider> services;
    ASSERT_EQ(S_OK, browser_->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(services.GetAddressOf())));
    ComPtr<IOleWindow> shell;
    EXPECT_EQ(E_NOINTERFACE, services->QueryService(IID_IWebBrowser2, IID_IOleWindow, reinterpret_cast<void**>(shell.GetAddressOf())));
    ASSERT_EQ(S_OK, services->QueryService(SID_SShellBrowser, IID_IOleWindow, reinterpret_cast<void**>(shell.GetAddressOf())));
    HWND content = nullptr;
    EXPECT_EQ(S_OK, shell->GetWindow(&content));
    EXPECT_EQ(owner_.content, content);
    EXPECT_EQ(S_OK, browser_->Quit());
    EXPECT_EQ(1, owner_.quits);
    IDispatch* document = reinterpret_cast<IDispatch*>(0xdeadbeef);
    EXPECT_EQ(S_FALSE, browser_->get_Document(&document));  // no document yet
    EXPECT_EQ(nullptr, document);
    VARIANT_BOOL top = VARIANT_FALSE;
    EXPECT_EQ(S_OK, browser_->get_TopLevelContainer(&top));
    EXPECT_EQ(VARIANT_TRUE, top);
    BSTR url = nullptr;
    ASSERT_EQ(S_OK, browser_->get_LocationURL(&url));
    EXPECT_STREQ(L"http://news.example/", url);
    SysFreeString(url);
    VARIANT address;
    address.vt = VT_BSTR;
    address.bstrVal = SysAllocString(L"http://news.example/more.html");
    EXPECT_EQ(S_OK, browser_->Navigate2(&address, nullptr, nullptr, nullptr, nullptr));
    VariantClear(&address);
    ASSERT_EQ(1u, owner_.navigations.size());
    EXPECT_EQ(L"http://news.example/more.html", owner_.navigations[0]);
    EXPECT_EQ(E_NOTIMPL, browser_->GoBack());
}

TEST(FrameBrowserObject, HasNoWindowOfItsOwnAndNothingToQuit) {
    FakeOwner owner;
    BrowserObjectOptions options;
    options.isFrame = true;
    BrowserObject* frame = BrowserObject::Create(&owner, options);
    SHANDLE_PTR hwnd = 0x1234;
    EXPECT_EQ(E_FAIL, frame->get_HWND(&hwnd));
    EXPECT_EQ(0, hwnd);
    EXPECT_EQ(E_FAIL, frame->Quit());
    EXPECT_EQ(0, owner.quits);
    VARIANT_BOOL top = VARIANT_TRUE;
    frame->get_TopLevelContainer(&top);
    EXPECT_EQ(VARIANT_FALSE, top);
    frame->Detach();
    EXPECT_EQ(0, CurrentLiveReferences().objects);
}

TEST(BrowserWithoutConnectionPoints, AnswersNoContainer) {
    FakeOwner owner;
    BrowserObjectOptions options;
    options.connectionPoints = false;
    BrowserObject* browser = BrowserObject::Create(&owner, options);
    void* container = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(E_NOINTERFACE, browser->QueryInterface(IID_IConnectionPointContainer, &container));
    EXPECT_EQ(nullptr, container);
    EXPECT_EQ(nullptr, browser->Events());
    browser->Detach();
}

TEST(PlainSiteObject, AnswersIUnknownOnly) {
    PlainSite* site = PlainSite::Create();
    void* face = nullptr;
    EXPECT_EQ(E_NOINTERFACE, site->QueryInterface(IID_IWebBrowser2, &face));
    EXPECT_EQ(E_NOINTERFACE, site->QueryInterface(IID_IDispatch, &face));
    ASSERT_EQ(S_OK, site->QueryInterface(IID_IUnknown, &face));
    EXPECT_EQ(1, CurrentLiveReferences().sites);
    static_cast<IUnknown*>(face)->Release();
    site->Unpin();
    EXPECT_EQ(0, CurrentLiveReferences().objects);
}

}  // namespace
}  // namespace standin
