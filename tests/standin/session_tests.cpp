// Sessions against the recording helper object: activation, siting, the
// events with their exact arguments and order, targets, frames, Cancel,
// blocked popups, keys and raw events.
#include <gtest/gtest.h>

#include <algorithm>

#include <mshtml.h>
#include <shlguid.h>
#include <shobjidl.h>

#include "base/com.h"
#include "browser/dom/dom.h"
#include "browser/event_args.h"
#include "browser/live_references.h"
#include "browser/session_script.h"
#include "browser/text_conversion.h"
#include "standin_fixture.h"

namespace standin::test {
namespace {

using korvane::ComPtr;

constexpr char kIndex[] = "http://news.example/index.html";
constexpr char kFrames[] = "http://news.example/frames.html";

ElementSelector Id(const char* id, const char* tag = "a") {
    ElementSelector selector;
    selector.tag = tag;
    selector.kind = ElementSelector::Kind::Id;
    selector.value = id;
    return selector;
}

// The events of one record list as "name(context)" strings, contexts named
// by the browser pointer they carried.
std::vector<std::string> EventTrail(const std::vector<RecorderRecord>& records,
                                    const std::vector<std::pair<void*, std::string>>& names) {
    std::vector<std::string> trail;
    for (const RecorderRecord& record : records) {
        if (record.kind != RECORD_INVOKE) continue;
        std::string text = EventName(record.dispid);
        void* browser = nullptr;
        if (record.dispid == 250 && record.cArgs == 7) browser = record.disp[6];
        if ((record.dispid == 252 || record.dispid == 259) && record.cArgs == 2) browser = record.disp[1];
        if (browser) {
            std::string name = "?";
            for (const auto& entry : names)
                if (entry.first == browser) name = entry.second;
            text += "(" + name + ")";
        }
        trail.push_back(text);
    }
    return trail;
}

void* BrowserOf(Session& session, const std::string& context) {
    void* pointer = nullptr;
    EXPECT_TRUE(session.RunOn(context, [&](IWebBrowser2* browser) { pointer = browser; }));
    return pointer;
}

using SessionTest = StandinTest;

TEST_F(SessionTest, CreatesTheRegisteredHelperAndSitesItOnTheWindowsOwnThread) {
    auto session = NewSession();
    ASSERT_EQ(1, session->Open(kIndex));
    const WindowInfo window = session->Window(1);
    EXPECT_NE(GetCurrentThreadId(), window.threadId);
    EXPECT_TRUE(IsWindow(window.hwnd));
    EXPECT_EQ(1, window.helpersCreated);
    EXPECT_EQ(1, window.helpersSited);
    EXPECT_EQ(1, window.sinks);

    const std::vector<RecorderRecord> all = Records();
    ASSERT_GE(all.size(), 3u);
    EXPECT_EQ(RECORD_CREATED, all[0].kind);
    EXPECT_EQ(window.threadId, all[0].thread);
    const RecorderRecord site = Records(RECORD_SET_SITE).at(0);
    EXPECT_EQ(window.threadId, site.thread);
    EXPECT_FALSE(site.siteNull);
    EXPECT_TRUE(site.siteHasBrowser);
    EXPECT_TRUE(site.siteHasContainer);
    EXPECT_EQ(site.site, site.siteBrowser);  // the site is the browser object itself
    if (site.apartment != -1) {
        // The first apartment of the process is its main STA.
        EXPECT_TRUE(site.apartment == APTTYPE_STA || site.apartment == APTTYPE_MAINSTA) << site.apartment;
    }
    const RecorderRecord advise = Records(RECORD_ADVISE).at(0);
    EXPECT_EQ(S_OK, advise.hr);
    EXPECT_NE(0u, advise.cookie);
    // Every event reaches the helper on the same thread.
    for (const RecorderRecord& record : Invokes()) EXPECT_EQ(window.threadId, record.thread);
}

TEST_F(SessionTest, ActivatesOnlyThroughTheRegistration) {
    ASSERT_EQ(S_OK, CallRecorderExport("DllUnregisterServer"));
    {
        auto session = NewSession();
        ASSERT_EQ(1, session->Open(kIndex));
        EXPECT_EQ(0, session->Window(1).helpersCreated);
        EXPECT_TRUE(Records().empty());
    }
    ASSERT_EQ(S_OK, CallRecorderExport("DllRegisterServer"));
    auto session = NewSession();
    ASSERT_EQ(1, session->Open(kIndex));
    EXPECT_EQ(1, session->Window(1).helpersCreated);
    bool sawCreation = false;
    for (const TimelineEntry& entry : session->timeline().Entries())
        if (entry.kind == TimelineKind::HelperCreated) sawCreation = entry.hr == S_OK;
    EXPECT_TRUE(sawCreation);

    // Enhanced Protected Mode loads a helper only once its class says it is
    // compatible (in this process's registry view).
    const std::string category = "CLSID\\" RECORDER_CLSID_TEXT "\\Implemented Categories";
    SessionOptions enhanced = Options();
    enhanced.profile = BrowserProfile::IE11;
    for (const bool compatible : {false, true}) {
        HKEY key = nullptr;
        if (compatible) {
            ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT,
                                                     (category + "\\{59FB2056-D625-48D0-A944-1A85B5AB2640}").c_str(),
                                                     0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
            RegCloseKey(key);
        }
        auto tab = NewSession(enhanced);
        ASSERT_EQ(1, tab->Open(kIndex)) << tab->LastError();
        EXPECT_EQ(compatible ? 1 : 0, tab->Window(1).helpersCreated);
    }
    korvane::test::DeleteKeyTree(HKEY_CLASSES_ROOT, category);
}

TEST_F(SessionTest, GivesEachWindowItsOwnHelperAndUnsitesItWhenTheWindowCloses) {
    auto session = NewSession();
    ASSERT_EQ(1, session->Open(kIndex));
    ASSERT_EQ(2, session->Open("http://news.example/more.html"));
    const WindowInfo first = session->Window(1);
    const WindowInfo second = session->Window(2);
    EXPECT_NE(first.threadId, second.threadId);
    const std::vector<RecorderRecord> sites = Records(RECORD_SET_SITE);
    ASSERT_EQ(2u, sites.size());
    EXPECT_NE(sites[0].instance, sites[1].instance);
    EXPECT_NE(sites[0].site, sites[1].site);

    RecorderReset();
    ASSERT_TRUE(session->Close(2));
    EXPECT_EQ(1, session->OpenWindowCount());
    EXPECT_FALSE(IsWindow(second.hwnd));
    // OnQuit, which makes the helper unadvise, then SetSite(NULL), then the
    // helper is released: all on the closing window's thread.
    const std::vector<RecorderRecord> closing = Records();
    ASSERT_EQ(4u, closing.size());
    EXPECT_EQ(RECORD_INVOKE, closing[0].kind);
    EXPECT_EQ(253, closing[0].dispid);
    EXPECT_EQ(0u, closing[0].cArgs);
    EXPECT_TRUE(closing[0].rgvargNull);
    EXPECT_EQ(RECORD_UNADVISE, closing[1].kind);
    EXPECT_EQ(S_OK, closing[1].hr);
    EXPECT_EQ(RECORD_SET_SITE, closing[2].kind);
    EXPECT_TRUE(closing[2].siteNull);
    EXPECT_EQ(RECORD_DESTROYED, closing[3].kind);
    for (const RecorderRecord& record : closing) EXPECT_EQ(second.threadId, record.thread);
}

TEST_F(SessionTest, FiresTheNavigationEventsInTheBrowsersOrderAndLayout) {
    auto session = NewSession();
    ASSERT_EQ(1, session->Open(kIndex));
    void* top = BrowserOf(*session, "w1");
    EXPECT_EQ((std::vector<std::string>{"BeforeNavigate2(w1)", "DownloadBegin", "DownloadComplete",
                                        "NavigateComplete2(w1)", "DocumentComplete(w1)"}),
              EventTrail(Records(), {{top, "w1"}}));
    for (const RecorderRecord& call : Invokes()) {
        EXPECT_TRUE(call.riidIsNull);
        EXPECT_EQ(static_cast<LCID>(LOCALE_SYSTEM_DEFAULT), call.lcid);
        EXPECT_EQ(DISPATCH_METHOD, call.flags);
        EXPECT_TRUE(call.resultNull);
        EXPECT_TRUE(call.excepNull);
        EXPECT_TRUE(call.argErrNull);
        EXPECT_FALSE(call.paramsNull);
        EXPECT_EQ(0u, call.cNamedArgs);
        EXPECT_TRUE(call.namedNull);
    }
    const RecorderRecord before = Invokes()[0];
    ASSERT_EQ(7u, before.cArgs);
    EXPECT_EQ(VT_DISPATCH, before.vt[6]);
    EXPECT_EQ(Records(RECORD_SET_SITE)[0].siteBrowser, before.disp[6]);
    EXPECT_EQ(VT_BYREF | VT_VARIANT, before.vt[5]);
    EXPECT_EQ(VT_BSTR, before.innerVt[5]);
    EXPECT_EQ(kIndex, Text(before, 5));
    EXPECT_EQ(VT_I4, before.innerVt[4]);
    EXPECT_EQ(VT_BSTR, before.innerVt[3]);
    EXPECT_TRUE(before.textNull[3]);  // no target: an ordinary navigation
    EXPECT_EQ(VT_BYREF | VT_VARIANT, before.innerVt[2]);
    EXPECT_EQ(VT_EMPTY, before.inner2Vt[2]);
    EXPECT_TRUE(before.textNull[1]);
    EXPECT_EQ(VT_BYREF | VT_BOOL, before.vt[0]);
    EXPECT_EQ(VARIANT_FALSE, before.boolValue[0]);

    const RecorderRecord complete = Invokes()[4];
    ASSERT_EQ(2u, complete.cArgs);
    EXPECT_EQ(VT_DISPATCH, complete.vt[1]);
    EXPECT_EQ(VT_BYREF | VT_VARIANT, complete.vt[0]);
    EXPECT_EQ(VT_BSTR, complete.innerVt[0]);
    EXPECT_EQ(kIndex, Text(complete, 0));
    EXPECT_EQ(0u, Invokes()[2].cArgs);
    EXPECT_TRUE(Invokes()[2].rgvargNull);
    EXPECT_EQ(kIndex, session->Window(1).url);
}

TEST_F(SessionTest, LoadsFramesThenCompletesEachFrameBeforeTheTopDocument) {
    auto session = NewSession();
    ASSERT_EQ(1, session->Open(kFrames));
    const std::vector<std::pair<void*, std::string>> names = {{BrowserOf(*session, "w1"), "w1"},
                                                              {BrowserOf(*session, "w1/left"), "left"},
                                                              {BrowserOf(*session, "w1/main"), "main"}};
    EXPECT_EQ((std::vector<std::string>{
                  "BeforeNavigate2(w1)", "DownloadBegin", "DownloadComplete", "NavigateComplete2(w1)",
                  "BeforeNavigate2(left)", "DownloadBegin", "DownloadComplete", "NavigateComplete2(left)",
                  "BeforeNavigate2(main)", "DownloadBegin", "DownloadComplete", "NavigateComplete2(main)",
                  "DocumentComplete(left)", "DocumentComplete(main)", "DocumentComplete(w1)"}),
              EventTrail(Records(), names));
    EXPECT_EQ("http://news.example/left.html", session->ContextUrl("w1/left"));

    // A frame's browser is a browser control: no window of its own. The
    // window's browser gives the real top-level window.
    SHANDLE_PTR frameWindow = 1, topWindow = 0;
    HRESULT frameResult = S_OK, topResult = E_FAIL;
    session->RunOn("w1/main", [&](IWebBrowser2* browser) { frameResult = browser->get_HWND(&frameWindow); });
    session->RunOn("w1", [&](IWebBrowser2* browser) { topResult = browser->get_HWND(&topWindow); });
    EXPECT_EQ(E_FAIL, frameResult);
    EXPECT_EQ(0, frameWindow);
    EXPECT_EQ(S_OK, topResult);
    EXPECT_EQ(reinterpret_cast<SHANDLE_PTR>(session->Window(1).hwnd), topWindow);
    EXPECT_EQ(nullptr, GetParent(reinterpret_cast<HWND>(topWindow)));
}

TEST_F(SessionTest, CompletesNestedFramesInnermostFirst) {
    auto session = NewSession();
    ASSERT_EQ(1, session->Open("http://news.example/nested.html"));
    std::vector<std::string> completed;
    for (const TimelineEntry& entry : session->timeline().Entries())
        if (entry.kind == TimelineKind::Event && entry.dispid == kDocumentComplete) completed.push_back(entry.context);
    EXPECT_EQ((std::vector<std::string>{"w1/upper/left", "w1/upper/main", "w1/upper", "w1/lower", "w1"}),
              completed);
}

TEST_F(SessionTest, HeldFramesCompleteWhenTheSessionSaysSo) {
    auto session = NewSession();
    ASSERT_EQ(1, session->Open("about:blank"));
    RecorderReset();
    ASSERT_TRUE(session->Load("w1", kFrames, FrameLoad::Hold));
    for (const RecorderRecord& call : Invokes()) EXPECT_NE(259, call.dispid);
    ASSERT_TRUE(session->CompleteFrame("w1/main"));
    ASSERT_EQ(259, Invokes().back().dispid);
    EXPECT_EQ("http://news.example/more.html", Text(Invokes().back(), 0));
    ASSERT_TRUE(session->CompleteFrame("w1/left"));
    const std::vector<RecorderRecord> calls = Invokes();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ("http://news.example/left.html", Text(calls[calls.size() - 2], 0));
    EXPECT_EQ(kFrames, Text(calls.back(), 0));  // the top document last
    EXPECT_FALSE(session->CompleteFrame("w1/left"));  // already complete
    EXPECT_FALSE(session->CompleteFrame("w1/nothing"));
}

TEST_F(SessionTest, SendsFrameEventsThroughTheWindowWithTheFramesBrowser) {
    auto session = NewSession();
    ASSERT_EQ(1, session->Open(kFrames));
    void* main = BrowserOf(*session, "w1/main");
    RecorderReset();
    ASSERT_TRUE(session->Click("w1/left", Id("tomain")));
    const std::vector<RecorderRecord> calls = Invokes();
    ASSERT_EQ(5u, calls.size());  // only the main frame navigates
    EXPECT_EQ(250, calls[0].dispid);
    EXPECT_EQ(main, calls[0].disp[6]);
    EXPECT_EQ("http://news.example/other.html", Text(calls[0], 5));
    EXPECT_EQ("main", Text(calls[0], 3));
    EXPECT_EQ(259, calls[4].dispid);
    EXPECT_EQ(main, calls[4].disp[1]);
    EXPECT_EQ(1, session->OpenWindowCount());
    EXPECT_EQ("http://news.example/other.html", session->ContextUrl("w1/main"));

    RecorderReset();
    ASSERT_TRUE(session->Click("w1/left", Id("top")));
    EXPECT_EQ(BrowserOf(*session, "w1"), Invokes().at(0).disp[6]);
    EXPECT_EQ("_top", Text(Invokes().at(0), 3));  // a keyword that leaves the frame
    EXPECT_EQ(kIndex, session->Window(1).url);
}

TEST_F(SessionTest, OpensANewWindowForABlankTargetWithItsOwnHelperSitedFirst) {
    auto session = NewSession();
    ASSERT_EQ(1, session->Open(kIndex));
    const DWORD openerThread = session->Window(1).threadId;
    RecorderReset();
    ASSERT_TRUE(session->Click("w1", Id("ad")));
    ASSERT_EQ(2, session->OpenWindowCount());
    const WindowInfo popup = session->Window(2);
    EXPECT_TRUE(popup.openedByPage);
    EXPECT_EQ("http://ads.example/pop.html", popup.url);

    const std::vector<RecorderRecord> all = Records();
    ASSERT_GE(all.size(), 5u);
    EXPECT_EQ(RECORD_INVOKE, all[0].kind);
    EXPECT_EQ(251, all[0].dispid);
    EXPECT_EQ(openerThread, all[0].thread);
    ASSERT_EQ(2u, all[0].cArgs);
    EXPECT_EQ(VT_BYREF | VT_DISPATCH, all[0].vt[1]);
    EXPECT_EQ(nullptr, all[0].disp[1]);
    EXPECT_EQ(VT_BYREF | VT_BOOL, all[0].vt[0]);
    // The new window's helper exists and is sited before its first event.
    EXPECT_EQ(RECORD_CREATED, all[1].kind);
    EXPECT_EQ(popup.threadId, all[1].thread);
    EXPECT_EQ(RECORD_SET_SITE, all[2].kind);
    EXPECT_EQ(RECORD_ADVISE, all[3].kind);
    EXPECT_EQ(RECORD_INVOKE, all[4].kind);
    EXPECT_EQ(250, all[4].dispid);
    EXPECT_EQ(popup.threadId, all[4].thread);
    EXPECT_EQ(all[2].siteBrowser, all[4].disp[6]);
    EXPECT_EQ("http://ads.example/pop.html", Text(all[4], 5));
    EXPECT_EQ("_blank", Text(all[4], 3));
}

// From IE7 on a frame holds tabs, each a browser window with its own thread
// and helper: get_HWND answers the frame, the shell browser service the
// tab's own window. A popup opens as a foreground tab, one with features
// in a frame of its own, a Ctrl click as a background tab, each with its
// NewWindow3 flags. Quit closes one tab, and a frame goes with its last.
// The frames belong to another process (IE8's do; IE7's are there too
// under Wine, see browser/frame_host.h).
TEST_F(SessionTest, FramesHoldTabsEachABrowserWindowFromIE7On) {
    for (const BrowserProfile profile : {BrowserProfile::IE7, BrowserProfile::IE8}) {
        SCOPED_TRACE(profile == BrowserProfile::IE7 ? "ie7" : "ie8");
        SessionOptions options = Options();
        options.profile = profile;
        auto session = NewSession(options);
        ASSERT_EQ(1, session->Open(kIndex)) << session->LastError();
        const WindowInfo first = session->Window(1);
        const FrameInfo frame = session->Frames().at(0);
        EXPECT_EQ(frame.hwnd, first.hwnd);
        EXPECT_EQ(frame.hwnd, GetAncestor(first.tab, GA_PARENT));
        wchar_t frameClass[32] = L"", tabClass[32] = L"";
        GetClassNameW(frame.hwnd, frameClass, 32);
        GetClassNameW(first.tab, tabClass, 32);
        EXPECT_STREQ(L"IEFrame", frameClass);
        EXPECT_STREQ(L"TabWindowClass", tabClass);
        DWORD owner = 0;
        GetWindowThreadProcessId(frame.hwnd, &owner);
        EXPECT_NE(GetCurrentProcessId(), owner);
        HWND shell = nullptr;
        ASSERT_TRUE(session->RunOn("w1", [&](IWebBrowser2* browser) {
            ComPtr<IServiceProvider> services;
            ComPtr<IOleWindow> window;
            if (SUCCEEDED(browser->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(services.GetAddressOf()))) &&
                SUCCEEDED(services->QueryService(SID_SShellBrowser, IID_IOleWindow, reinterpret_cast<void**>(window.GetAddressOf()))))
                window->GetWindow(&shell);
        }));
        EXPECT_EQ(first.tab, shell);

        RecorderReset();
        ScriptCall features;
        features.features = true;
        Modifiers ctrl;
        ctrl.ctrl = true;
        ASSERT_TRUE(session->ScriptOpen("w1", "http://ads.example/pop.html", ""));
        ASSERT_TRUE(session->ScriptOpen("w1", "http://ads.example/pop.html", "", false, features));
        ASSERT_TRUE(session->Click("w1", Id("more"), ctrl));
        std::vector<long> flags;
        std::vector<long> states;  // WindowStateChanged's flags, by thread
        for (const RecorderRecord& record : Invokes()) {
            if (record.dispid == kNewWindow3) flags.push_back(record.number[2]);
            if (record.dispid == kWindowStateChanged && record.thread == first.threadId) states.push_back(record.number[1]);
        }
        EXPECT_EQ((std::vector<long>{0x80000, 0x40000, 0x6 | 0x20000 | 0x100000}), flags);
        EXPECT_EQ((std::vector<long>{0}), states);  // hidden behind the popup's tab
        std::vector<FrameInfo> frames = session->Frames();
        ASSERT_EQ(2u, frames.size());
        EXPECT_EQ((std::vector<int>{1, 2, 4}), frames[0].tabs);
        EXPECT_EQ(2, frames[0].active);
        EXPECT_EQ((std::vector<int>{3}), frames[1].tabs);
        EXPECT_FALSE(IsWindowVisible(first.tab));

        for (const char* window : {"w2", "w3"})
            ASSERT_TRUE(session->RunOn(window, [](IWebBrowser2* browser) { browser->Quit(); }));
        ASSERT_TRUE(session->WaitIdle());
        frames = session->Frames();
        EXPECT_EQ((std::vector<int>{1, 4}), frames[0].tabs);
        EXPECT_TRUE(frames[0].open && frames[0].exists);
        EXPECT_EQ(1, frames[0].active);
        EXPECT_TRUE(IsWindowVisible(first.tab));
        EXPECT_FALSE(frames[1].open || frames[1].exists);  // with its last tab
        EXPECT_EQ(2, session->OpenWindowCount());
    }
}

TEST_F(SessionTest, NamesTheNewWindowAndReusesItForTheSameTarget) {
    auto session = NewSession();
    ASSERT_EQ(1, session->Open(kIndex));
    ASSERT_TRUE(session->ScriptOpen("w1", "popup.html", "promo"));
    ASSERT_EQ(2, session->OpenWindowCount());
    EXPECT_EQ("promo", session->Window(2).name);
    const RecorderRecord first = Invokes().at(6);  // after NewWindow2 and the opener's events
    EXPECT_EQ(250, first.dispid);
    EXPECT_EQ("promo", Text(first, 3));
    EXPECT_EQ("http://news.example/popup.html", Text(first, 5));

    // window.open without a name: "_blank".
    RecorderReset();
    ASSERT_TRUE(session->ScriptOpen("w1", "http://ads.example/pop.html", ""));
    EXPECT_EQ(3, session->OpenWindowCount());
    EXPECT_EQ("_blank", Text(Invokes().at(1), 3));

    // The same name again: that window navigates, no NewWindow2.
    RecorderReset();
    ASSERT_TRUE(session->ScriptOpen("w1", "second.html", "promo"));
    EXPECT_EQ(3, session->OpenWindowCount());
    const std::vector<DISPID> ids = InvokedDispids();
    EXPECT_EQ(ids.end(), std::find(ids.begin(), ids.end(), 251));
    EXPECT_EQ(session->Window(2).threadId, Invokes().at(0).thread);
    EXPECT_EQ("http://news.example/second.html", session->Window(2).url);

    // A link whose target names the window does the same.
    RecorderReset();
    ASSERT_TRUE(session->ScriptOpen("w1", "x.html", "newsWindow"));
    ASSERT_EQ(4, session->OpenWindowCount());
    RecorderReset();
    ASSERT_TRUE(session->Click("w1", Id("named")));
    EXPECT_EQ(4, session->OpenWindowCount());
    EXPECT_EQ("http://news.example/named.html", session->Window(4).url);
    EXPECT_EQ("newsWindow", Text(Invokes().at(0), 3));
}

TEST_F(SessionTest, AreasAndFormsFollowTheirTargets) {
    auto session = NewSession();
    ASSERT_EQ(1, session->Open(kIndex));
    ASSERT_TRUE(session->Click("w1", Id("spot", "area")));
    EXPECT_EQ(2, session->OpenWindowCount());
    EXPECT_EQ("http://news.example/area.html", session->Window(2).firstUrl);
    ASSERT_TRUE(session->Click("w1", Id("search", "form")));
    EXPECT_EQ(3, session->OpenWindowCount());
    EXPECT_EQ("results", session->Window(3).name);
    EXPECT_FALSE(session->Click("w1", Id("missing")));
    EXPECT_NE(std::string::npos, session->LastError().find("no such a"));
}

TEST_F(SessionTest, HonoursACancelledNavigation) {
    Configure(RECORDER_CANCEL_NAVIGATION, L"more.html");
    auto session = NewSession();
    ASSERT_EQ(1, session->Open(kIndex));
    RecorderReset();
    ASSERT_TRUE(session->Click("w1", Id("more")));
    EXPECT_EQ(std::vector<DISPID>{250}, InvokedDispids());
    EXPECT_EQ(kIndex, session->Window(1).url);
    bool noted = false;
    for (const TimelineEntry& entry : session->timeline().Entries())
        if (entry.kind == TimelineKind::NavigationCancelled)
            noted = entry.url == "http://news.example/more.html";
    EXPECT_TRUE(noted);
}

TEST_F(SessionTest, HonoursACancelledNewWindow) {
    Configure(RECORDER_CANCEL_NEW_WINDOW);
    auto session = NewSession();
    ASSERT_EQ(1, session->Open(kIndex));
    ASSERT_TRUE(session->Click("w1", Id("ad")));
    EXPECT_EQ(1, session->OpenWindowCount());
    EXPECT_EQ(1u, session->Windows().size());
    EXPECT_EQ(1u, Records(RECORD_CREATED).size());
}

TEST_F(SessionTest, ServesASinkThatAnswersOnlyIDispatch) {
    Configure(RECORDER_DISPATCH_ONLY);
    auto session = NewSession();
    ASSERT_EQ(1, session->Open(kIndex));
    EXPECT_EQ(S_OK, Records(RECORD_ADVISE).at(0).hr);
    EXPECT_EQ(5u, Invokes().size());
}

TEST_F(SessionTest, SurvivesAHelperThatQuitsAndDestroysThePopupWindow) {
    Configure(RECORDER_BLOCK_POPUPS | RECORDER_BLOCK_QUIT | RECORDER_BLOCK_DESTROY);
    auto session = NewSession();
    ASSERT_EQ(1, session->Open(kIndex));
    ASSERT_TRUE(session->ScriptOpen("w1", "http://ads.example/pop.html", "ad"));
    const WindowInfo popup = session->Window(2);
    EXPECT_FALSE(popup.open);
    EXPECT_TRUE(popup.firstNavigationCancelled);
    EXPECT_TRUE(popup.quitCalled);
    EXPECT_TRUE(popup.destroyedExternally);
    const RecorderRecord block = Records(RECORD_BLOCK).at(0);
    EXPECT_EQ(S_OK, block.hwndResult);
    EXPECT_NE(0, block.hwnd);
    EXPECT_TRUE(block.windowGoneAfter);
    EXPECT_EQ(1, session->OpenWindowCount());
    // Only the blocked navigation's BeforeNavigate2 reached the popup.
    int popupEvents = 0;
    for (const RecorderRecord& call : Invokes())
        if (call.thread == popup.threadId) ++popupEvents;
    EXPECT_EQ(1, popupEvents);

    // The session goes on.
    ASSERT_TRUE(session->Click("w1", Id("more")));
    EXPECT_EQ("http://news.example/more.html", session->Window(1).url);
    Script script;
    std::vector<std::string> errors;
    ASSERT_TRUE(ParseScript("expect blocked http://ads.example/pop.html\nexpect windows 1\n", Site(), &script,
                            &errors));
    RunSummary summary = RunScript(*session, script);
    EXPECT_EQ(0, summary.failures) << session->timeline().Text();
}

TEST_F(SessionTest, ClosesThePopupWhenTheHelperOnlyDestroysItsWindow) {
    Configure(RECORDER_BLOCK_POPUPS | RECORDER_BLOCK_DESTROY);
    auto session = NewSession();
    ASSERT_EQ(1, session->Open(kIndex));
    ASSERT_TRUE(session->Click("w1", Id("ad")));
    const WindowInfo popup = session->Window(2);
    EXPECT_FALSE(popup.open);
    EXPECT_FALSE(popup.quitCalled);
    EXPECT_TRUE(popup.destroyedExternally);
    // SetSite(NULL) still reached the popup's helper, on its thread.
    bool unsited = false;
    for (const RecorderRecord& record : Records(RECORD_SET_SITE))
        if (record.siteNull && record.thread == popup.threadId) unsited = true;
    EXPECT_TRUE(unsited);
}

TEST_F(SessionTest, ClosesThePopupWhenTheHelperOnlyQuits) {
    Configure(RECORDER_BLOCK_POPUPS | RECORDER_BLOCK_QUIT);
    auto session = NewSession();
    ASSERT_EQ(1, session->Open(kIndex));
    ASSERT_TRUE(session->Click("w1", Id("ad")));
    const WindowInfo popup = session->Window(2);
    EXPECT_FALSE(popup.open);
    EXPECT_TRUE(popup.quitCalled);
    EXPECT_FALSE(popup.destroyedExternally);
    EXPECT_FALSE(IsWindow(Records(RECORD_BLOCK).at(0).hwnd ? reinterpret_cast<HWND>(Records(RECORD_BLOCK)[0].hwnd)
                                                           : nullptr));
}

// The browser unadvises nobody's sink when a window closes: a helper that
// holds nothing of the browser's goes with the browser, one that still
// holds its browser keeps it, and itself, alive until ended by hand.
TEST_F(SessionTest, KeepsSinksStillAdvisedWhenTheWindowClosesAsTheBrowserDoes) {
    for (const unsigned mode : {0u + RECORDER_KEEP_SINK, 0u + (RECORDER_KEEP_SINK | RECORDER_LEAK_SITE)}) {
        Configure(mode);
        auto session = NewSession();
        ASSERT_EQ(1, session->Open(kIndex));
        ASSERT_TRUE(session->Close(1));
        EXPECT_NE(std::string::npos, session->timeline().Text().find(
                                         mode & RECORDER_LEAK_SITE ? "1 still advised, keeping 1 browser"
                                                                   : "1 still advised, released with"));
    }
    EXPECT_EQ(1, RecorderLiveObjects());
    EXPECT_LT(0, CurrentLiveReferences().Total());
    EXPECT_EQ(1, ReleaseLeakedSinks());
    RecorderReleaseLeaks();
    EXPECT_EQ(0, CurrentLiveReferences().objects);
}

TEST_F(SessionTest, CountsAReferenceAHelperNeverGaveBack) {
    Configure(RECORDER_LEAK_SITE);
    {
        auto session = NewSession();
        ASSERT_EQ(1, session->Open(kIndex));
    }
    EXPECT_EQ(1, CurrentLiveReferences().browsers);
    EXPECT_EQ(1, CurrentLiveReferences().objects);  // detached but alive
    RecorderReleaseLeaks();
    EXPECT_EQ(0, CurrentLiveReferences().objects);
}

TEST_F(SessionTest, SitesWithABrowserWithoutConnectionPoints) {
    SessionOptions options = Options();
    options.connectionPoints = false;
    auto session = NewSession(options);
    ASSERT_EQ(1, session->Open(kIndex));
    const RecorderRecord site = Records(RECORD_SET_SITE).at(0);
    EXPECT_TRUE(site.siteHasBrowser);
    EXPECT_FALSE(site.siteHasContainer);
    EXPECT_TRUE(Invokes().empty());
    EXPECT_EQ(0, session->Window(1).helpersSited);
}

TEST_F(SessionTest, SitesWithASiteThatIsNotABrowser) {
    SessionOptions options = Options();
    options.site = SiteKind::PlainUnknown;
    auto session = NewSession(options);
    ASSERT_EQ(1, session->Open(kIndex));
    const RecorderRecord site = Records(RECORD_SET_SITE).at(0);
    EXPECT_FALSE(site.siteNull);
    EXPECT_FALSE(site.siteHasBrowser);
    EXPECT_FALSE(site.siteHasContainer);
    EXPECT_TRUE(Invokes().empty());
}

TEST_F(SessionTest, FiresRawEventsExactlyAsWritten) {
    auto session = NewSession();
    ASSERT_EQ(1, session->Open(kFrames));
    void* main = BrowserOf(*session, "w1/main");
    RecorderReset();
    ASSERT_TRUE(session->Fire("w1", 250, {}, true));
    std::vector<RawArg> args(4);
    std::string error;
    ParseRawArg("frame:main", &args[0], &error);
    ParseRawArg("bigstr:200000", &args[1], &error);
    ParseRawArg("nullstr", &args[2], &error);
    ParseRawArg("cancel", &args[3], &error);
    ASSERT_TRUE(session->Fire("w1", 250, args));
    ASSERT_TRUE(session->Fire("w1", 259, {}));

    const std::vector<RecorderRecord> calls = Invokes();
    ASSERT_EQ(3u, calls.size());
    EXPECT_TRUE(calls[0].paramsNull);
    ASSERT_EQ(4u, calls[1].cArgs);
    EXPECT_EQ(main, calls[1].disp[3]);
    EXPECT_EQ(200000u, calls[1].textLength[2]);
    EXPECT_TRUE(calls[1].textNull[1]);
    EXPECT_EQ(VT_BYREF | VT_BOOL, calls[1].vt[0]);
    EXPECT_EQ(0u, calls[2].cArgs);
    EXPECT_EQ(1, session->OpenWindowCount());
}

TEST_F(SessionTest, HoldsCtrlDownThroughTheClickForKeyboardHooks) {
    ASSERT_TRUE(RecorderInstallKeyHook());
    const long downs = RecorderKeyHookCount(VK_CONTROL, 1);
    const long ups = RecorderKeyHookCount(VK_CONTROL, 0);
    auto session = NewSession();
    ASSERT_EQ(1, session->Open(kIndex));
    RecorderReset();
    Modifiers ctrl;
    ctrl.ctrl = true;
    const bool clicked = session->Click("w1", Id("more"), ctrl);
    RecorderRemoveKeyHook();
    ASSERT_TRUE(clicked) << session->LastError();
    EXPECT_EQ(downs + 1, RecorderKeyHookCount(VK_CONTROL, 1));
    EXPECT_EQ(ups + 1, RecorderKeyHookCount(VK_CONTROL, 0));
    // A link clicked with Ctrl opens in a new window; the opener's thread
    // saw Ctrl down when NewWindow2 came.
    ASSERT_EQ(2, session->OpenWindowCount());
    const RecorderRecord newWindow = Invokes().at(0);
    EXPECT_EQ(251, newWindow.dispid);
    EXPECT_TRUE(newWindow.ctrlDown);
    EXPECT_EQ("_blank", Text(Invokes().at(1), 3));
}

TEST_F(SessionTest, RecordsATimelineOfWhatHappened) {
    Configure(RECORDER_BLOCK_POPUPS | RECORDER_BLOCK_QUIT | RECORDER_BLOCK_DESTROY);
    auto session = NewSession();
    ASSERT_EQ(1, session->Open(kIndex));
    ASSERT_TRUE(session->Click("w1", Id("ad")));
    const std::string text = session->timeline().Text();
    for (const char* line : {"[w1] window opened http://news.example/index.html",
                             "[w1] NewWindow2 url=http://ads.example/pop.html",
                             "[w2] BeforeNavigate2 url=http://ads.example/pop.html target=\"_blank\"",
                             "[w2] navigation cancelled http://ads.example/pop.html",
                             "[w2] browser call Quit -> 0x00000000", "[w2] window destroyed",
                             "[w2] window closed"})
        EXPECT_NE(std::string::npos, text.find(line)) << line << "\n" << text;
}

// What a page scan does: rewrite a target through the document's
// interfaces. The click reads the element afterwards.
void SetTarget(Session& session, const std::string& context, const wchar_t* tag, long index, const wchar_t* target) {
    HRESULT result = E_FAIL;
    session.RunOn(context, [&](IWebBrowser2* browser) {
        ComPtr<IDispatch> dispatch;
        ComPtr<IHTMLDocument2> document;
        ComPtr<IHTMLElementCollection> all, elements;
        ComPtr<IDispatch> found, item;
        if (browser->get_Document(dispatch.GetAddressOf()) != S_OK || FAILED(dispatch.As(&document))) return;
        if (FAILED(document->get_all(all.GetAddressOf()))) return;
        VARIANT name, position, none;
        name.vt = VT_BSTR;
        name.bstrVal = SysAllocString(tag);
        position.vt = VT_I4;
        position.lVal = index;
        VariantInit(&none);
        all->tags(name, found.GetAddressOf());
        VariantClear(&name);
        if (!found || FAILED(found.As(&elements))) return;
        if (FAILED(elements->item(position, none, item.GetAddressOf())) || !item) return;
        BSTR value = SysAllocString(target);
        ComPtr<IHTMLAnchorElement> anchor;
        ComPtr<IHTMLBaseElement> base;
        if (SUCCEEDED(item.As(&anchor))) result = anchor->put_target(value);
        else if (SUCCEEDED(item.As(&base))) result = base->put_target(value);
        SysFreeString(value);
    });
    EXPECT_EQ(S_OK, result);
}

TEST_F(SessionTest, ReadsTheLinksTargetAtTheMomentOfTheClick) {
    auto session = NewSession();
    ASSERT_EQ(1, session->Open(kIndex));
    SetTarget(*session, "w1", L"a", 1, L"z9z0_blank");  // the ad link, "_blank" in the page
    ASSERT_TRUE(session->Click("w1", Id("ad")));
    ASSERT_EQ(2, session->OpenWindowCount());
    EXPECT_EQ("z9z0_blank", session->Window(2).name);
    std::string firstTarget;
    for (const RecorderRecord& call : Invokes())
        if (call.dispid == 250 && call.thread == session->Window(2).threadId && firstTarget.empty())
            firstTarget = Text(call, 3);
    EXPECT_EQ("z9z0_blank", firstTarget);
    const std::vector<PropertyWrite> writes = session->DocumentOf("w1")->Writes();
    ASSERT_EQ(1u, writes.size());
    EXPECT_EQ("target", writes[0].property);

    // A link without a target of its own follows the document's base
    // target, as it is when the link is clicked.
    ASSERT_TRUE(session->Load("w1", "http://news.example/based.html"));
    SetTarget(*session, "w1", L"base", 0, L"z9z1_base");
    ASSERT_TRUE(session->Click("w1", Id("plain")));
    ASSERT_EQ(3, session->OpenWindowCount());
    EXPECT_EQ("z9z1_base", session->Window(3).name);
}

TEST_F(SessionTest, HandsHelpersTheDocumentOfEachFrameAndTheWindow) {
    Configure(RECORDER_READ_DOCUMENT);
    auto session = NewSession();
    ASSERT_EQ(1, session->Open(kFrames));
    const std::vector<RecorderRecord> documents = Records(RECORD_DOCUMENT);
    ASSERT_EQ(3u, documents.size());
    for (const RecorderRecord& document : documents) {
        EXPECT_EQ(S_OK, document.documentResult);
        EXPECT_TRUE(document.documentAnswered);
    }
    EXPECT_NE(nullptr, session->DocumentOf("w1/left"));
    EXPECT_EQ(nullptr, session->DocumentOf("w1/nowhere"));
}

TEST_F(SessionTest, LeavesAFrameEmptyThatWouldShowAPageContainingIt) {
    auto session = NewSession();
    ASSERT_EQ(1, session->Open("http://news.example/loop.html"));
    EXPECT_EQ("", session->ContextUrl("w1/me"));
    EXPECT_EQ("http://news.example/loop2.html", session->ContextUrl("w1/other"));
    EXPECT_EQ("", session->ContextUrl("w1/other/back"));
    int skipped = 0;
    for (const TimelineEntry& entry : session->timeline().Entries())
        if (entry.detail.find("frame not loaded") != std::string::npos) ++skipped;
    EXPECT_EQ(2, skipped);
    EXPECT_EQ(259, Invokes().back().dispid);  // the window's document still completes
}

// A sink that hands the browser a window of its choosing for NewWindow2.
class HandOver : public IDispatch {
public:
    explicit HandOver(IDispatch* window) : window_(window) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        *object = nullptr;
        if (riid != IID_IUnknown && riid != IID_IDispatch) return E_NOINTERFACE;
        *object = this;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        if (id != 251 || !params || params->cArgs != 2) return S_OK;
        window_->AddRef();
        *params->rgvarg[1].ppdispVal = window_;
        return S_OK;
    }

private:
    IDispatch* window_;
};

TEST_F(SessionTest, NavigatesTheWindowASinkHandsOverForNewWindow2) {
    auto session = NewSession();
    ASSERT_EQ(1, session->Open(kIndex));
    ASSERT_EQ(2, session->Open("about:blank", "spare"));
    HandOver sink(static_cast<IDispatch*>(BrowserOf(*session, "w2")));
    DWORD cookie = 0;
    session->RunOn("w1", [&](IWebBrowser2* browser) {
        ComPtr<IConnectionPointContainer> container;
        ComPtr<IConnectionPoint> point;
        browser->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.GetAddressOf()));
        container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.GetAddressOf());
        point->Advise(&sink, &cookie);
    });
    ASSERT_NE(0u, cookie);
    ASSERT_TRUE(session->ScriptOpen("w1", "http://ads.example/pop.html", ""));
    EXPECT_EQ(2, session->OpenWindowCount());
    EXPECT_EQ("http://ads.example/pop.html", session->Window(2).url);
    session->RunOn("w1", [&](IWebBrowser2* browser) {
        ComPtr<IConnectionPointContainer> container;
        ComPtr<IConnectionPoint> point;
        browser->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.GetAddressOf()));
        container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.GetAddressOf());
        EXPECT_EQ(S_OK, point->Unadvise(cookie));
    });
}

TEST_F(SessionTest, PassesNoTargetNameForANavigationThatStaysWhereItIs) {
    auto session = NewSession();
    ASSERT_EQ(1, session->Open("http://news.example/based.html"));
    RecorderReset();
    ASSERT_TRUE(session->Click("w1", Id("plain")));  // <base target="_self">
    EXPECT_TRUE(Invokes().at(0).textNull[3]);
}

TEST_F(SessionTest, ANewWindowShowsNoLocationUntilItsHeldNavigationStarts) {
    auto session = NewSession();
    ASSERT_EQ(1, session->Open(kIndex));
    ASSERT_TRUE(session->ScriptOpen("w1", "http://ads.example/pop.html", "", true));
    auto location = [&]() {
        std::string text = "?";
        session->RunOn("w2", [&](IWebBrowser2* browser) {
            BSTR value = nullptr;
            const HRESULT result = browser->get_LocationURL(&value);
            text = std::to_string(result) + " " + Narrow(value ? value : L"");
            SysFreeString(value);
        });
        return text;
    };
    EXPECT_EQ("1 ", location());  // S_FALSE
    EXPECT_FALSE(session->StartNavigation(1));  // nothing waits there
    ASSERT_TRUE(session->StartNavigation(2));
    EXPECT_EQ("0 http://ads.example/pop.html", location());
}

TEST_F(SessionTest, RefusesActionsOnWindowsThatAreNotThere) {
    auto session = NewSession();
    EXPECT_FALSE(session->Load("w1", kIndex));
    ASSERT_EQ(1, session->Open(kIndex));
    EXPECT_FALSE(session->Load("w1/nowhere", kIndex));
    EXPECT_FALSE(session->Click("w7", Id("more")));
    EXPECT_FALSE(session->Load("x", kIndex));
    ASSERT_TRUE(session->Close(1));
    EXPECT_FALSE(session->Close(1));
    EXPECT_FALSE(session->Click("w1", Id("more")));
}

TEST_F(SessionTest, ShowsAnEmptyDocumentForAnAddressWithoutAPage) {
    auto session = NewSession();
    ASSERT_EQ(1, session->Open("http://news.example/../../etc/passwd"));
    ASSERT_TRUE(session->Load("w1", "http://nowhere.example/x.html"));
    EXPECT_EQ("http://nowhere.example/x.html", session->Window(1).url);
    int missing = 0;
    for (const TimelineEntry& entry : session->timeline().Entries())
        if (entry.kind == TimelineKind::PageMissing) ++missing;
    EXPECT_EQ(2, missing);
    ASSERT_TRUE(session->Load("w1", "javascript:window.open('x')"));
    EXPECT_EQ("http://nowhere.example/x.html", session->Window(1).url);
}

}  // namespace
}  // namespace standin::test
