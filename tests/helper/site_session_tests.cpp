// The helper object's attachment to the browser, seen end to end: Korvane.dll
// registered with regsvr32, created by the browser stand-in from the
// registry on each window's thread, sited, connected, unsited and released
// as the browser does it. The helper is reached the way any client of the
// browser could reach it, through the connection point's list of sinks, or
// created afresh through COM from its registration.
#include <gtest/gtest.h>

#include <exdisp.h>
#include <exdispid.h>
#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/com.h"
#include "browser/event_args.h"
#include "browser/helper_loader.h"
#include "browser/live_references.h"
#include "browser/session.h"
#include "korvane_idl.h"
#include "support/installed_korvane.h"
#include "support/korvane_session_test.h"
#include "support/test_support.h"

using namespace korvane;
using korvane::test::InstalledKorvane;
using standin::Session;
using standin::SessionOptions;
using standin::TimelineEntry;
using standin::TimelineKind;

namespace {

constexpr char kIndex[] = "http://news.example/index.html";
constexpr char kMore[] = "http://news.example/more.html";

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// The sinks advised on a browser's DWebBrowserEvents2 connection point, as
// any client of the browser can list them. Runs on the browser's thread.
std::vector<ComPtr<IUnknown>> AdvisedSinks(IWebBrowser2* browser) {
    std::vector<ComPtr<IUnknown>> sinks;
    ComPtr<IConnectionPointContainer> container;
    if (FAILED(browser->QueryInterface(IID_IConnectionPointContainer,
                                       reinterpret_cast<void**>(container.GetAddressOf()))))
        return sinks;
    ComPtr<IConnectionPoint> point;
    if (FAILED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.GetAddressOf())))
        return sinks;
    ComPtr<IEnumConnections> connections;
    if (FAILED(point->EnumConnections(connections.GetAddressOf())) || !connections) return sinks;
    CONNECTDATA data{};
    ULONG fetched = 0;
    while (connections->Next(1, &data, &fetched) == S_OK && fetched == 1) {
        ComPtr<IUnknown> sink;
        *sink.GetAddressOf() = data.pUnk;  // Next handed out a reference
        sinks.push_back(sink);
    }
    return sinks;
}

// The module whose image holds an address: for a COM object, the module
// that implements it, read from its virtual table.
HMODULE ModuleOf(const void* address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<const char*>(address), &module))
        return nullptr;
    return module;
}

HMODULE ImplementingModule(IUnknown* object) { return ModuleOf(*reinterpret_cast<void**>(object)); }

std::string ModulePath(HMODULE module) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, sizeof path);
    return path;
}

bool SamePath(const std::string& a, const std::string& b) {
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) ==
           CSTR_EQUAL;
}

// The primary face's table continues after GetSite with DetachEvents,
// ConnectEvents and DisconnectEvents: code built against the class's layout
// calls them by slot, and so does this test.
constexpr int kDisconnectEventsSlot = 7;

HRESULT DisconnectEventsBySlot(IObjectWithSite* helper) {
    using Operation = HRESULT(STDMETHODCALLTYPE*)(IObjectWithSite*);
    void** table = *reinterpret_cast<void***>(helper);
    return reinterpret_cast<Operation>(table[kDisconnectEventsSlot])(helper);
}

std::string ClassIdText(REFCLSID clsid) {
    wchar_t wide[64] = {};
    StringFromGUID2(clsid, wide, 64);
    char narrow[64] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr);
    return narrow;
}

class SiteSession : public test::KorvaneSessionTest {
protected:
    static void SetUpTestSuite() {
        InstallKorvane();
        test::WriteSitePage(site_->path(), "news.example/index.html",
                            "<html><body><a href=\"more.html\" target=\"_blank\">More</a></body></html>");
        test::WriteSitePage(site_->path(), "news.example/more.html", "<html><body>More</body></html>");
    }
    static void TearDownTestSuite() { RemoveKorvane(); }

    // Runs work on the window's thread with the one helper advised on its
    // browser, through its IObjectWithSite face; false when there is not
    // exactly one.
    bool WithHelper(const std::string& context,
                    const std::function<void(IObjectWithSite*, IWebBrowser2*)>& work) {
        bool found = false;
        const bool ran = session_->RunOn(context, [&](IWebBrowser2* browser) {
            std::vector<ComPtr<IUnknown>> sinks = AdvisedSinks(browser);
            if (sinks.size() != 1) return;
            ComPtr<IObjectWithSite> helper;
            if (FAILED(sinks[0].As(&helper))) return;
            found = true;
            work(helper.Get(), browser);
        });
        return ran && found;
    }

    // What the browser and the helper did for a window from timeline entry
    // `from` on, as short lines: events with the number of sinks they
    // reached, SetSite calls with their results, dropped sinks, the close.
    std::vector<std::string> Trail(int window, size_t from = 0) {
        std::vector<std::string> lines;
        const std::vector<TimelineEntry> entries = session_->timeline().Entries();
        for (size_t i = from; i < entries.size(); ++i) {
            const TimelineEntry& entry = entries[i];
            if (entry.window != window) continue;
            switch (entry.kind) {
            case TimelineKind::Event:
                lines.push_back(standin::EventName(entry.dispid) + " " + entry.detail);
                break;
            case TimelineKind::SiteSet:
                lines.push_back(std::string("SetSite ") +
                                (entry.detail.find("(NULL)") != std::string::npos ? "NULL" : "site") +
                                " -> " + Hex(entry.hr));
                break;
            case TimelineKind::SinksLeft:
                lines.push_back("sinks left: " + entry.detail);
                break;
            case TimelineKind::WindowClosed:
                lines.push_back("closed");
                break;
            default:
                break;
            }
        }
        return lines;
    }

    // The first entry of a kind for a window.
    TimelineEntry First(TimelineKind kind, int window) {
        for (const TimelineEntry& entry : session_->timeline().Entries())
            if (entry.kind == kind && entry.window == window) return entry;
        ADD_FAILURE() << "no " << standin::TimelineKindName(kind) << " for w" << window;
        return TimelineEntry();
    }

    HRESULT CanUnloadNow() {
        using Export = HRESULT(STDAPICALLTYPE*)();
        auto canUnload = reinterpret_cast<Export>(
            reinterpret_cast<void*>(GetProcAddress(korvane_->Module(), "DllCanUnloadNow")));
        if (!canUnload) {
            ADD_FAILURE() << "no DllCanUnloadNow export";
            return E_FAIL;
        }
        return canUnload();
    }

};


}  // namespace

TEST_F(SiteSession, RegisteredCopyIsCreatedSitedAndConnectedOncePerWindowOnItsOwnThread) {
    // The class the browser finds among its helper objects is the copy
    // regsvr32 registered.
    const std::vector<CLSID> registered = standin::RegisteredHelperClasses();
    EXPECT_NE(registered.end(), std::find(registered.begin(), registered.end(), CLSID_ViewSource));
    const std::string classKey = "CLSID\\" + ClassIdText(CLSID_ViewSource) + "\\InprocServer32";
    const test::RawValue server = test::ReadRawValue(HKEY_CLASSES_ROOT, classKey, "");
    ASSERT_TRUE(server.present);
    EXPECT_TRUE(SamePath(korvane_->DllPath(), server.bytes.c_str())) << server.bytes.c_str();

    Session& session = NewSession();
    ASSERT_EQ(1, session.Open(kIndex));
    ASSERT_EQ(2, session.Open(kMore));
    IUnknown* helpers[2] = {};
    for (int window = 1; window <= 2; ++window) {
        const standin::WindowInfo info = session.Window(window);
        EXPECT_EQ(1, info.helpersCreated) << window;
        EXPECT_EQ(1, info.helpersSited) << window;
        EXPECT_EQ(1, info.sinks) << window;
        // Created and sited on the window's own thread, not the test's.
        EXPECT_NE(GetCurrentThreadId(), info.threadId);
        const TimelineEntry created = First(TimelineKind::HelperCreated, window);
        EXPECT_EQ(S_OK, created.hr);
        EXPECT_EQ(info.threadId, created.thread);
        const TimelineEntry sited = First(TimelineKind::SiteSet, window);
        EXPECT_EQ(S_OK, sited.hr);
        EXPECT_EQ(info.threadId, sited.thread);

        // The one sink on the window's connection point is an object of the
        // registered copy, the only Korvane.dll of the process.
        ASSERT_TRUE(session.RunOn("w" + std::to_string(window), [&](IWebBrowser2* browser) {
            std::vector<ComPtr<IUnknown>> sinks = AdvisedSinks(browser);
            ASSERT_EQ(1u, sinks.size());
            EXPECT_EQ(korvane_->Module(), ImplementingModule(sinks[0].Get()));
            EXPECT_TRUE(SamePath(korvane_->DllPath(), ModulePath(ImplementingModule(sinks[0].Get()))));
            ComPtr<IUnknown> identity;
            ASSERT_EQ(S_OK, sinks[0].As(&identity));
            helpers[window - 1] = identity.Get();
        }));
    }
    EXPECT_NE(helpers[0], helpers[1]) << "each window has a helper of its own";
    EXPECT_NE(session.Window(1).threadId, session.Window(2).threadId);
    // The helper took the events of its window's page.
    EXPECT_EQ((std::vector<std::string>{"SetSite site -> 0x00000000", "BeforeNavigate2 sinks 1",
                                        "DownloadBegin sinks 1", "DownloadComplete sinks 1",
                                        "NavigateComplete2 sinks 1", "DocumentComplete sinks 1"}),
              Trail(1));
}

TEST_F(SiteSession, ClosingWindowDisconnectsAtOnQuitThenUnsitesAndLetsGo) {
    Session& session = NewSession();
    ASSERT_EQ(1, session.Open(kIndex));
    const size_t before = session.timeline().Size();
    ASSERT_TRUE(session.Close(1));
    // OnQuit reaches the one sink, which unadvises itself; SetSite(NULL)
    // then answers E_INVALIDARG; nothing is left for the browser to drop.
    EXPECT_EQ((std::vector<std::string>{"OnQuit sinks 1", "SetSite NULL -> 0x80070057", "closed"}),
              Trail(1, before));
    ExpectNothingHeld("after the window closed");
    EXPECT_EQ(S_OK, CanUnloadNow());
}

// After F10 (popups allowed) or Exit (the helper off) a closing window is
// still let go of: the browser unadvises nobody's sink.
TEST_F(SiteSession, WindowsClosedWithPopupsAllowedOrAfterExitAreFreed) {
    for (volatile LONG* switched : {&Shared().popupsAllowed, &Shared().helperActive}) {
        Session& session = NewSession();
        ASSERT_EQ(1, session.Open(kIndex));
        *switched = !*switched;
        ASSERT_TRUE(session.Close(1));
        EXPECT_EQ(0, standin::CurrentLiveReferences().Total());
        *switched = !*switched;
        standin::ReleaseLeakedSinks();
    }
}

TEST_F(SiteSession, GetSiteAnswersNullAndEFailSitedOrNot) {
    Session& session = NewSession();
    ASSERT_EQ(1, session.Open(kIndex));
    // The helper the browser sited.
    ASSERT_TRUE(WithHelper("w1", [](IObjectWithSite* helper, IWebBrowser2*) {
        void* site = reinterpret_cast<void*>(0xdeadbeef);
        EXPECT_EQ(E_FAIL, helper->GetSite(IID_IWebBrowser2, &site));
        EXPECT_EQ(nullptr, site);
        site = reinterpret_cast<void*>(0xdeadbeef);
        EXPECT_EQ(E_FAIL, helper->GetSite(IID_IUnknown, &site));
        EXPECT_EQ(nullptr, site);
        EXPECT_EQ(E_POINTER, helper->GetSite(IID_IUnknown, nullptr));
    }));
    // One made afresh through COM from the registration, never sited.
    ASSERT_TRUE(session.RunOn("w1", [](IWebBrowser2*) {
        ComPtr<IObjectWithSite> helper;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ViewSource, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IObjectWithSite,
                                         reinterpret_cast<void**>(helper.GetAddressOf())));
        void* site = reinterpret_cast<void*>(0xdeadbeef);
        EXPECT_EQ(E_FAIL, helper->GetSite(IID_IWebBrowser2, &site));
        EXPECT_EQ(nullptr, site);
    }));
}

TEST_F(SiteSession, SecondDisconnectAnswersWhatTheConnectionPointSays) {
    Session& session = NewSession();
    ASSERT_EQ(1, session.Open(kIndex));
    // Kept across the events below; used and released on its own thread only.
    IObjectWithSite* sited = nullptr;
    ASSERT_TRUE(WithHelper("w1", [&](IObjectWithSite* helper, IWebBrowser2*) {
        helper->AddRef();
        sited = helper;
    }));
    ASSERT_TRUE(session.Fire("w1", standin::kOnQuit, {}));
    EXPECT_EQ(0, session.Window(1).sinks);
    // OnQuit let go of the browser too: nothing is left to unadvise.
    ASSERT_TRUE(session.RunOn("w1", [&](IWebBrowser2*) {
        EXPECT_EQ(E_POINTER, DisconnectEventsBySlot(sited));
        sited->Release();
    }));
    // A second OnQuit reaches nobody.
    const size_t before = session.timeline().Size();
    ASSERT_TRUE(session.Fire("w1", standin::kOnQuit, {}));
    EXPECT_EQ(std::vector<std::string>{"OnQuit sinks 0"}, Trail(1, before));

    // The same with a helper made through COM and sited by hand beside the
    // window's own: its own cookie, unadvised once.
    ASSERT_TRUE(session.RunOn("w1", [&](IWebBrowser2* browser) {
        ComPtr<IObjectWithSite> helper;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ViewSource, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IObjectWithSite,
                                         reinterpret_cast<void**>(helper.GetAddressOf())));
        EXPECT_EQ(korvane_->Module(), ImplementingModule(helper.Get()));
        EXPECT_EQ(S_OK, helper->SetSite(browser));
        EXPECT_EQ(1u, AdvisedSinks(browser).size());
        EXPECT_EQ(S_OK, DisconnectEventsBySlot(helper.Get()));
        EXPECT_EQ(0u, AdvisedSinks(browser).size());
        EXPECT_EQ(CONNECT_E_NOCONNECTION, DisconnectEventsBySlot(helper.Get()));
        EXPECT_EQ(E_INVALIDARG, helper->SetSite(nullptr));
    }));
    const size_t beforeClose = session.timeline().Size();
    ASSERT_TRUE(session.Close(1));
    EXPECT_EQ((std::vector<std::string>{"OnQuit sinks 0", "SetSite NULL -> 0x80070057", "closed"}),
              Trail(1, beforeClose));
}

TEST_F(SiteSession, SwitchedOffHelperAcceptsItsSiteAndKeepsNothing) {
    Shared().helperActive = 0;
    Session& session = NewSession();
    ASSERT_EQ(1, session.Open(kIndex));
    const standin::WindowInfo info = session.Window(1);
    EXPECT_EQ(1, info.helpersCreated);
    EXPECT_EQ(1, info.helpersSited);  // S_OK
    EXPECT_EQ(0, info.sinks);
    EXPECT_EQ(0, info.browserReferences);
    const size_t before = session.timeline().Size();
    ASSERT_TRUE(session.Close(1));
    EXPECT_EQ((std::vector<std::string>{"OnQuit sinks 0", "SetSite NULL -> 0x00000000", "closed"}),
              Trail(1, before));
}

TEST_F(SiteSession, SiteThatIsNoBrowserIsRefusedWithInvalidArg) {
    Session& session = NewSession(true, standin::SiteKind::PlainUnknown);
    ASSERT_EQ(1, session.Open(kIndex));
    EXPECT_EQ(E_INVALIDARG, First(TimelineKind::SiteSet, 1).hr);
    const standin::WindowInfo info = session.Window(1);
    EXPECT_EQ(0, info.helpersSited);
    EXPECT_EQ(0, info.sinks);
    EXPECT_EQ(0, info.browserReferences);
    // Nothing of the site is kept either.
    EXPECT_EQ(0, standin::CurrentLiveReferences().sites);
    const size_t before = session.timeline().Size();
    ASSERT_TRUE(session.Close(1));
    EXPECT_EQ((std::vector<std::string>{"OnQuit sinks 0", "SetSite NULL -> 0x80070057", "closed"}),
              Trail(1, before));
}

TEST_F(SiteSession, BrowserWithoutConnectionPointsIsRefusedWithEPointer) {
    Session& session = NewSession(false);
    ASSERT_EQ(1, session.Open(kIndex));
    EXPECT_EQ(E_POINTER, First(TimelineKind::SiteSet, 1).hr);
    const standin::WindowInfo info = session.Window(1);
    EXPECT_EQ(0, info.helpersSited);
    EXPECT_EQ(0, info.sinks);
    // Kept as the site's browser until the window unsites the helper.
    EXPECT_EQ(1, info.browserReferences);
    const size_t before = session.timeline().Size();
    ASSERT_TRUE(session.Close(1));
    // The browser has no event source to tell anyone: OnQuit reaches nobody.
    EXPECT_EQ((std::vector<std::string>{"OnQuit sinks 0", "SetSite NULL -> 0x80070057", "closed"}),
              Trail(1, before));
}

TEST_F(SiteSession, ClassObjectsAndUnloadingOfTheRegisteredCopy) {
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(korvane_->Module(), "DllGetClassObject")));
    ASSERT_NE(nullptr, getClassObject);
    // {F0E1D2C3-B4A5-4968-8776-655443322110}: a class the library does not serve.
    const CLSID other = {0xF0E1D2C3, 0xB4A5, 0x4968, {0x87, 0x76, 0x65, 0x54, 0x43, 0x32, 0x21, 0x10}};
    void* object = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject(other, IID_IClassFactory, &object));
    EXPECT_EQ(nullptr, object);

    EXPECT_EQ(S_OK, CanUnloadNow());
    {
        Session& session = NewSession();
        ASSERT_EQ(1, session.Open(kIndex));
        // A live helper keeps the library.
        EXPECT_EQ(S_FALSE, CanUnloadNow());
        ASSERT_TRUE(session.Close(1));
    }
    EXPECT_EQ(S_OK, CanUnloadNow());
}
