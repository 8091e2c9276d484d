// The helper object's event handler, driven in-process with events built
// here exactly as the browser lays them out, against recording browsers, a
// recording tray platform and a recording sound. The same rules run through
// the browser stand-in and the real DLL in korvane_blocking_tests.
#include <gtest/gtest.h>

#include <windows.h>
#include <exdispid.h>
#include <mmsystem.h>

#include <memory>
#include <string>
#include <vector>

#include "helper/browser_events.h"
#include "helper/view_source.h"
#include "state/shared_state.h"
#include "scanner/target_rules.h"
#include "state/string_ring.h"
#include "support/fake_browser.h"
#include "support/test_support.h"
#include "tray/recording_platform.h"
#include "tray/tray_icon.h"
#include "whitelist/whitelist_store.h"

using namespace korvane;
using korvane::test::FakeBrowser;
using korvane::test::PlainSite;
using korvane::test::RecordingPlatform;

namespace {

// Arguments of one event, in declaration order; Build() reverses them into
// rgvarg as the browser does. Strings are BSTRs inside by-reference
// VARIANTs, Cancel a by-reference VARIANT_BOOL.
class EventArgs {
public:
    EventArgs& Dispatch(IUnknown* object) {
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = VT_DISPATCH;
        V_DISPATCH(&v) = reinterpret_cast<IDispatch*>(object);
        args_.push_back(v);
        return *this;
    }
    EventArgs& String(const std::wstring& text) {
        auto inner = std::make_unique<VARIANT>();
        VariantInit(inner.get());
        V_VT(inner.get()) = VT_BSTR;
        V_BSTR(inner.get()) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return ByRef(std::move(inner));
    }
    EventArgs& NullString() {
        auto inner = std::make_unique<VARIANT>();
        VariantInit(inner.get());
        V_VT(inner.get()) = VT_BSTR;
        return ByRef(std::move(inner));
    }
    EventArgs& Int(LONG value) {
        auto inner = std::make_unique<VARIANT>();
        VariantInit(inner.get());
        V_VT(inner.get()) = VT_I4;
        V_I4(inner.get()) = value;
        return ByRef(std::move(inner));
    }
    EventArgs& Raw(VARIANT v) {
        args_.push_back(v);
        return *this;
    }
    EventArgs& Cancel() {
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = VT_BOOL | VT_BYREF;
        V_BOOLREF(&v) = &cancel;
        args_.push_back(v);
        return *this;
    }
    DISPPARAMS* Build() {
        reversed_.assign(args_.rbegin(), args_.rend());
        params_.rgvarg = reversed_.data();
        params_.cArgs = static_cast<UINT>(reversed_.size());
        params_.rgdispidNamedArgs = nullptr;
        params_.cNamedArgs = 0;
        return &params_;
    }
    ~EventArgs() {
        for (auto& inner : inners_) VariantClear(inner.get());
    }

    VARIANT_BOOL cancel = VARIANT_FALSE;

private:
    EventArgs& ByRef(std::unique_ptr<VARIANT> inner) {
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = VT_VARIANT | VT_BYREF;
        V_VARIANTREF(&v) = inner.get();
        inners_.push_back(std::move(inner));
        args_.push_back(v);
        return *this;
    }

    std::vector<VARIANT> args_;
    std::vector<VARIANT> reversed_;
    std::vector<std::unique_ptr<VARIANT>> inners_;
    DISPPARAMS params_{};
};

class RecordingSound final : public BlockSound {
public:
    void Beep(DWORD frequency, DWORD duration) override {
        beeps.push_back({frequency, duration});
    }
    void PlayWave(const char* path, DWORD flags) override {
        waves.push_back(path);
        waveFlags = flags;
    }
    std::vector<std::pair<DWORD, DWORD>> beeps;
    std::vector<std::string> waves;
    DWORD waveFlags = 0;
};

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Addresses and names unique to each test: the rings live as long as the
// process.
std::string Unique(const char* what) {
    static int counter = 0;
    return std::string(what) + std::to_string(++counter);
}

// The test program carries the product's resources: the icons come from it.
void LoadIcons() {
    moduleInstance = GetModuleHandleA(nullptr);
    iconBlocking = LoadIconA(moduleInstance, MAKEINTRESOURCEA(209));
    iconAllowing = LoadIconA(moduleInstance, MAKEINTRESOURCEA(210));
}

class BrowserEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        LoadIcons();
        saved_ = sharedState;
        sharedState->helperActive = 1;
        sharedState->popupsAllowed = 0;
        sharedState->popupOverride = 0;
        sharedState->trayIconSynced = 1;
        sharedState->trayIconHidden = 0;
        sharedState->flashOn = 0;
        sharedState->soundOn = 0;
        ForgetAnnouncedWindows();
        TheWhiteList().ReplaceAll({});
        SetBlockSound(&sound);
        window = CreateWindowExA(0, "STATIC", "popup", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(nullptr, window);
        browser.window = window;
        ASSERT_EQ(S_OK, korvane::ViewSource::Create(nullptr, IID_IDispatch, reinterpret_cast<void**>(&helper)));
        IObjectWithSite* site = nullptr;
        helper->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&site));
        ASSERT_EQ(S_OK, site->SetSite(browser.browser()));
        site->Release();
    }
    void TearDown() override {
        SetBlockSound(nullptr);
        if (helper) {
            IObjectWithSite* site = nullptr;
            helper->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&site));
            site->SetSite(nullptr);
            site->Release();
            // Whatever connection is left goes with the browser.
            browser.point.sinks.clear();
            EXPECT_EQ(0u, helper->Release());
        }
        // Everything the helper held is given back.
        EXPECT_EQ(1, browser.refs);
        EXPECT_EQ(1, frame.refs);
        EXPECT_EQ(1, plain.refs);
        if (IsWindow(window)) DestroyWindow(window);
        sharedState = saved_;
        ForgetAnnouncedWindows();
    }

    HRESULT Fire(DISPID id, DISPPARAMS* params) {
        return helper->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, params, nullptr,
                              nullptr, nullptr);
    }
    HRESULT NewWindow2() {
        EventArgs args;
        IDispatch* slot = nullptr;
        VARIANT ref;
        VariantInit(&ref);
        V_VT(&ref) = VT_DISPATCH | VT_BYREF;
        V_DISPATCHREF(&ref) = &slot;
        args.Raw(ref).Cancel();
        return Fire(DISPID_NEWWINDOW2, args.Build());
    }
    // BeforeNavigate2 of url into target, from the given browser (the
    // window's own by default); returns the Cancel the handler left.
    VARIANT_BOOL BeforeNavigate2(const std::string& url, const std::string& target,
                                 IUnknown* from = nullptr) {
        EventArgs args;
        args.Dispatch(from ? from : browser.browser())
            .String(Wide(url))
            .Int(0)
            .String(Wide(target))
            .NullString()
            .NullString()
            .Cancel();
        EXPECT_EQ(S_OK, Fire(DISPID_BEFORENAVIGATE2, args.Build()));
        return args.cancel;
    }
    HRESULT DocumentComplete(IUnknown* from) {
        EventArgs args;
        args.Dispatch(from).String(L"http://page.example/");
        return Fire(DISPID_DOCUMENTCOMPLETE, args.Build());
    }
    HRESULT DownloadComplete() {
        EventArgs args;
        return Fire(DISPID_DOWNLOADCOMPLETE, args.Build());
    }
    bool Blocked() { return !IsWindow(window); }

    FakeBrowser browser;
    FakeBrowser frame;  // a frame of the window's page
    PlainSite plain;    // an object that is no browser
    IDispatch* helper = nullptr;
    HWND window = nullptr;
    RecordingSound sound;
    SharedState saved_{};
};

}  // namespace

TEST_F(BrowserEventsTest, AnnouncedWindowWithABlankTargetIsCancelledClosedAndLogged) {
    const std::string url = Unique("http://ads.example/pop");
    ASSERT_EQ(S_OK, NewWindow2());
    EXPECT_EQ(1, AnnouncedWindowCount());
    EXPECT_EQ(VARIANT_TRUE, BeforeNavigate2(url, "_blank"));
    EXPECT_TRUE(Blocked());
    EXPECT_EQ(1, browser.quitCalls);
    EXPECT_TRUE(TheBlockedPopupLog().Contains(url.c_str()));
    // The helper left the window's events for good.
    ASSERT_EQ(1u, browser.point.unadvisedCookies.size());
    EXPECT_TRUE(browser.point.sinks.empty());
    EXPECT_EQ(0, AnnouncedWindowCount());
}

// An announced window's first navigation takes up its announcement, whatever
// its target, and is let through for a target that names no frame, or for a
// name the scan gave to an element pointing to its address (a form's
// compared up to the query); a name the scan gave, to another address, does
// not help. A navigation with nothing announced is never blocked.
TEST_F(BrowserEventsTest, AFirstNavigationTakesItsAnnouncementAndIsJudgedByTargetAndAddress) {
    const std::string known = Unique("z9zknown");
    const std::string form = Unique("z9zform");
    const std::string link = Unique("http://x.example/link");
    TheKnownTargetNames().Add(1, 2, known.c_str(), LinkAddressKey(link.c_str()));
    TheKnownTargetNames().Add(1, 2, form.c_str(), FormAddressKey("http://x.example/search?old"));
    const struct {
        const char* name;
        std::string target;
        std::string url;
        VARIANT_BOOL cancelled;
    } cases[] = {
        {"unspecified frame", "_unspecifiedFrame", Unique("http://x.example/"), VARIANT_FALSE},
        {"no target", "", Unique("http://x.example/"), VARIANT_FALSE},
        {"a name the page scan gave, to its link", known, link, VARIANT_FALSE},
        {"a form's name, to its action with a query", form, "http://x.example/search?q=1", VARIANT_FALSE},
        {"a name the page scan gave, to another address", known, Unique("http://ads.example/"), VARIANT_TRUE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ForgetAnnouncedWindows();
        ASSERT_EQ(S_OK, NewWindow2());
        EXPECT_EQ(c.cancelled, BeforeNavigate2(c.url, c.target));
        EXPECT_EQ(0, AnnouncedWindowCount());
    }
    TheKnownTargetNames().ForgetOwner(1);
    // An ordinary navigation: nothing was announced.
    EXPECT_EQ(VARIANT_FALSE, BeforeNavigate2("http://x.example/next", "_blank"));
}

// A frame is never a new window, even one that shows nothing yet: its
// navigation is let through and the announced window is still judged.
TEST_F(BrowserEventsTest, AFramesNavigationIsLetThroughAndLeavesTheAnnouncementWaiting) {
    frame.window = window;
    ASSERT_EQ(S_OK, NewWindow2());
    for (const char* target : {"_blank", "somewhere"})
        EXPECT_EQ(VARIANT_FALSE, BeforeNavigate2(Unique("http://x.example/f"), target, frame.browser()));
    EXPECT_EQ(0, frame.quitCalls);
    EXPECT_EQ(1, AnnouncedWindowCount());
    EXPECT_EQ(VARIANT_TRUE, BeforeNavigate2(Unique("http://x.example/g"), "_blank"));
    EXPECT_TRUE(Blocked());
}

TEST_F(BrowserEventsTest, ScriptLinkWithoutOpenerOrQuotesLetsTheNextWindowThrough) {
    // Single quotes are no obstacle; only double quotes are.
    EXPECT_EQ(VARIANT_FALSE, BeforeNavigate2("javascript:alert('x')", ""));
    EXPECT_EQ(1, sharedState->popupOverride);
    sharedState->popupOverride = 0;
    EXPECT_EQ(VARIANT_FALSE, BeforeNavigate2("JavaScript:showPicture(1)", ""));
    EXPECT_EQ(1, sharedState->popupOverride);
    ASSERT_EQ(S_OK, NewWindow2());
    EXPECT_EQ(VARIANT_FALSE, BeforeNavigate2("http://x.example/big.jpg", "_blank"));
    EXPECT_FALSE(Blocked());

    sharedState->popupOverride = 0;
    BeforeNavigate2("javascript:window.opener.location='x'", "");
    BeforeNavigate2("javascript:open(\"pop.html\")", "");
    EXPECT_EQ(0, sharedState->popupOverride);
}

TEST_F(BrowserEventsTest, WhiteListedAddressSetsTheOverrideAndUsesUpItsAnnouncement) {
    ASSERT_TRUE(TheWhiteList().Append("http://www.friends.example/news"));
    ASSERT_EQ(S_OK, NewWindow2());
    EXPECT_EQ(VARIANT_FALSE, BeforeNavigate2("HTTPS://WWW.FRIENDS.EXAMPLE/NEWS/today", "_blank"));
    EXPECT_FALSE(Blocked());
    EXPECT_EQ(1, sharedState->popupOverride);
    EXPECT_EQ(0, AnnouncedWindowCount());
    // Another host is judged as usual.
    sharedState->popupOverride = 0;
    ASSERT_EQ(S_OK, NewWindow2());
    EXPECT_EQ(VARIANT_TRUE, BeforeNavigate2(Unique("http://www.other.example/news"), "_blank"));
    EXPECT_TRUE(Blocked());
}

TEST_F(BrowserEventsTest, OverrideOrNoPendingWindowLetsEverythingThrough) {
    sharedState->popupOverride = 1;
    ASSERT_EQ(S_OK, NewWindow2());
    EXPECT_EQ(VARIANT_FALSE, BeforeNavigate2("http://x.example/a", "_blank"));
    EXPECT_EQ(0, AnnouncedWindowCount());
    sharedState->popupOverride = 0;
    EXPECT_EQ(VARIANT_FALSE, BeforeNavigate2("http://x.example/b", "_blank"));
    EXPECT_FALSE(Blocked());
}

TEST_F(BrowserEventsTest, WindowWithoutHandleStaysCancelledButIsNotClosedOrLogged) {
    const std::string url = Unique("http://nohandle.example/");
    browser.window = nullptr;
    ASSERT_EQ(S_OK, NewWindow2());
    EXPECT_EQ(VARIANT_TRUE, BeforeNavigate2(url, "_blank"));
    EXPECT_FALSE(TheBlockedPopupLog().Contains(url.c_str()));
    EXPECT_EQ(0, browser.quitCalls);
    EXPECT_FALSE(browser.point.sinks.empty());
    EXPECT_EQ(0, AnnouncedWindowCount());
}

TEST_F(BrowserEventsTest, NavigatingObjectThatIsNoBrowserIsNotBlocked) {
    ASSERT_EQ(S_OK, NewWindow2());
    EXPECT_EQ(VARIANT_FALSE, BeforeNavigate2("http://x.example/", "_blank", &plain));
    EXPECT_EQ(1, AnnouncedWindowCount());
    EXPECT_FALSE(Blocked());
}

TEST_F(BrowserEventsTest, BlockIsAnnouncedByFlashAndSoundAsTheSwitchesSay) {
    RecordingPlatform platform;
    TrayIcon tray(platform);
    tray.Install(moduleInstance, nullptr, TrayCallbackMessage, kBlockingTooltip, iconBlocking,
                 TrayIconId, FALSE);
    platform.calls.clear();

    sharedState->flashOn = 1;
    sharedState->soundOn = 1;
    sharedState->soundIsBeep = 1;
    ASSERT_EQ(S_OK, NewWindow2());
    ASSERT_EQ(VARIANT_TRUE, BeforeNavigate2(Unique("http://a.example/"), "_blank"));
    ASSERT_EQ(2u, tray.FlashIcons().size());
    EXPECT_EQ(LoadIconA(moduleInstance, MAKEINTRESOURCEA(209)), tray.FlashIcons()[0]);
    EXPECT_EQ(LoadIconA(moduleInstance, MAKEINTRESOURCEA(210)), tray.FlashIcons()[1]);
    bool timer = false;
    for (const auto& call : platform.calls)
        if (call.name == "SetTimer" && call.timer == FlashTimerId && call.elapse == 200) timer = true;
    EXPECT_TRUE(timer);
    ASSERT_EQ(1u, sound.beeps.size());
    EXPECT_EQ(600u, sound.beeps[0].first);
    EXPECT_EQ(600u, sound.beeps[0].second);
}

TEST_F(BrowserEventsTest, WaveFileIsPlayedAsynchronouslyAndAnEmptyPathPlaysNothing) {
    sharedState->soundOn = 1;
    sharedState->soundIsBeep = 0;
    SetSoundFilePath("C:\\sounds\\blocked.wav");
    ASSERT_EQ(S_OK, NewWindow2());
    ASSERT_EQ(VARIANT_TRUE, BeforeNavigate2(Unique("http://a.example/"), "_blank"));
    ASSERT_EQ(1u, sound.waves.size());
    EXPECT_EQ("C:\\sounds\\blocked.wav", sound.waves[0]);
    EXPECT_EQ(static_cast<DWORD>(SND_FILENAME | SND_ASYNC), sound.waveFlags);
    EXPECT_EQ(0x00020001u, sound.waveFlags);
    EXPECT_TRUE(sound.beeps.empty());
    SetSoundFilePath("");
}

TEST_F(BrowserEventsTest, NoSoundWhenSwitchedOffOrWithoutAFile) {
    sharedState->soundOn = 1;
    sharedState->soundIsBeep = 0;
    SetSoundFilePath("");
    ASSERT_EQ(S_OK, NewWindow2());
    ASSERT_EQ(VARIANT_TRUE, BeforeNavigate2(Unique("http://a.example/"), "_blank"));
    EXPECT_TRUE(sound.waves.empty());
    EXPECT_TRUE(sound.beeps.empty());
    sharedState->soundOn = 0;
    sharedState->soundIsBeep = 1;
    ASSERT_EQ(S_OK, NewWindow2());
    ASSERT_EQ(VARIANT_TRUE, BeforeNavigate2(Unique("http://b.example/"), "_blank"));
    EXPECT_TRUE(sound.beeps.empty());
}

TEST_F(BrowserEventsTest, FirstEventBringsTheTrayInLineEvenWhenNothingElseIsHandled) {
    RecordingPlatform platform;
    TrayIcon tray(platform);
    tray.Install(moduleInstance, nullptr, TrayCallbackMessage, kBlockingTooltip, iconBlocking,
                 TrayIconId, TRUE);
    platform.calls.clear();

    sharedState->trayIconSynced = 0;
    sharedState->popupsAllowed = 1;
    ASSERT_EQ(S_OK, NewWindow2());
    EXPECT_EQ(0, AnnouncedWindowCount());  // not handled while popups are allowed
    EXPECT_EQ(1, sharedState->trayIconSynced);
    EXPECT_EQ(iconAllowing, tray.CurrentIcon());
    EXPECT_STREQ(kAllowingTooltip, tray.Tooltip());
    EXPECT_TRUE(tray.IsDisplayed());

    // Hidden by the user, and the helper switched off: synchronised all the same.
    sharedState->trayIconSynced = 0;
    sharedState->popupsAllowed = 0;
    sharedState->trayIconHidden = 1;
    sharedState->helperActive = 0;
    ASSERT_EQ(S_OK, NewWindow2());
    EXPECT_EQ(0, AnnouncedWindowCount());
    EXPECT_EQ(iconBlocking, tray.CurrentIcon());
    EXPECT_STREQ(kBlockingTooltip, tray.Tooltip());
    EXPECT_FALSE(tray.IsDisplayed());
}

TEST_F(BrowserEventsTest, PageCompletionClearsTheOverrideEvenWhenTheScanRunsOutOfMemory) {
    sharedState->popupOverride = 1;
    EXPECT_EQ(S_OK, DocumentComplete(frame.browser()));
    EXPECT_EQ(0, sharedState->popupOverride);

    frame.documentThrows = true;
    sharedState->popupOverride = 1;
    EXPECT_EQ(S_OK, DocumentComplete(frame.browser()));
    EXPECT_EQ(0, sharedState->popupOverride);

    // DownloadComplete scans the window's own browser; an abandoned scan
    // there leaves the override alone.
    browser.documentThrows = true;
    sharedState->popupOverride = 1;
    EXPECT_EQ(S_OK, DownloadComplete());
    EXPECT_EQ(1, sharedState->popupOverride);
    browser.documentThrows = false;
    EXPECT_EQ(S_OK, DownloadComplete());
    EXPECT_EQ(0, sharedState->popupOverride);
}

TEST_F(BrowserEventsTest, QuitDropsTheEventConnection) {
    EventArgs args;
    EXPECT_EQ(S_OK, Fire(DISPID_ONQUIT, args.Build()));
    EXPECT_TRUE(browser.point.sinks.empty());
}

// The fake browser shows nothing yet unless told otherwise.
TEST_F(BrowserEventsTest, ABrowserThatShowsAPageOrCannotTellIsNeverClosed) {
    for (const HRESULT result : {S_OK, E_FAIL}) {
        browser.location = result == S_OK ? L"http://news.example/" : L"";
        browser.locationResult = result;
        ForgetAnnouncedWindows();
        ASSERT_EQ(S_OK, NewWindow2());
        EXPECT_EQ(VARIANT_FALSE, BeforeNavigate2(Unique("http://x.example/"), "z9zneverMet"));
        EXPECT_FALSE(Blocked());
        EXPECT_EQ(1, AnnouncedWindowCount());  // waiting for its own window
    }
}

// Events in turn, then whether the last NewWindow3 came back cancelled
// and how many windows wait for their first navigation. "2": NewWindow2;
// a number: NewWindow3 with those flags; "?": NewWindow3 whose flags are no
// number. The session's override lets through only a window a click
// started.
TEST_F(BrowserEventsTest, NewWindow3CancelsAWindowNoUserActionStartedAndCountsEachWindowOnce) {
    struct Case {
        std::vector<const char*> events;
        LONG popupOverride;
        bool cancelled;
        long waiting;
    } cases[] = {
        {{"0"}, 0, true, 0},        {{"2", "0"}, 0, true, 0},     {{"1"}, 0, true, 0},
        {{"2"}, 0, false, 1},       {{"2", "6"}, 0, false, 1},    {{"6", "2"}, 0, false, 2},
        {{"6", "6"}, 0, false, 2},  {{"?"}, 0, false, 1},         {{"2", "0"}, 1, true, 0},
        {{"6"}, 1, false, 0},
        {{"128"}, 0, false, 0},     {{"2", "256"}, 0, false, 0},
    };
    sharedState->soundOn = 1;
    sharedState->soundIsBeep = 1;
    for (const Case& c : cases) {
        ForgetAnnouncedWindows();
        EventArgs other;  // any other event ends a NewWindow2's pairing
        Fire(102, other.Build());
        sharedState->popupOverride = c.popupOverride;
        VARIANT_BOOL cancelled = VARIANT_FALSE;
        const std::string url = Unique("http://ads.example/nw3-");
        for (const char* event : c.events) {
            if (std::string(event) == "2") {
                ASSERT_EQ(S_OK, NewWindow2());
                continue;
            }
            VARIANT flags, context, address;
            VariantInit(&flags);
            VariantInit(&context);
            VariantInit(&address);
            if (std::string(event) != "?") {
                V_VT(&flags) = VT_UI4;
                V_UI4(&flags) = std::stoul(event);
            }
            V_VT(&context) = VT_BSTR;
            V_BSTR(&context) = SysAllocString(L"http://news.example/");
            V_VT(&address) = VT_BSTR;
            V_BSTR(&address) = SysAllocString(Wide(url).c_str());
            IDispatch* slot = nullptr;
            VARIANT ref;
            VariantInit(&ref);
            V_VT(&ref) = VT_DISPATCH | VT_BYREF;
            V_DISPATCHREF(&ref) = &slot;
            EventArgs args;
            args.Raw(ref).Cancel().Raw(flags).Raw(context).Raw(address);
            EXPECT_EQ(S_OK, Fire(DISPID_NEWWINDOW3, args.Build()));
            cancelled = args.cancel;
            VariantClear(&context);
            VariantClear(&address);
        }
        const std::string shown = std::string(c.events[0]) + (c.events.size() > 1 ? std::string(" ") + c.events[1] : "");
        EXPECT_EQ(c.cancelled ? VARIANT_TRUE : VARIANT_FALSE, cancelled) << shown;
        EXPECT_EQ(c.waiting, AnnouncedWindowCount()) << shown;
        // Logged as a blocked popup; the opener's window is not touched.
        EXPECT_EQ(c.cancelled, TheBlockedPopupLog().Contains(url.c_str())) << shown;
        EXPECT_EQ(c.cancelled ? 1u : 0u, sound.beeps.size()) << shown;  // and announced
        sound.beeps.clear();
        EXPECT_FALSE(Blocked());
        EXPECT_EQ(0, browser.quitCalls);
    }
}

TEST_F(BrowserEventsTest, MalformedArgumentsChangeNothingAndCrashNothing) {
    EXPECT_EQ(E_INVALIDARG, Fire(DISPID_BEFORENAVIGATE2, nullptr));
    EXPECT_EQ(E_INVALIDARG, Fire(DISPID_NEWWINDOW2, nullptr));

    // Too short for its event.
    {
        EventArgs args;
        args.Cancel();
        EXPECT_EQ(S_OK, Fire(DISPID_NEWWINDOW2, args.Build()));
        EXPECT_EQ(0, AnnouncedWindowCount());
    }
    // An announced window waits for its own first navigation, whatever
    // comes meanwhile.
    ASSERT_EQ(S_OK, NewWindow2());
    {
        EventArgs args;
        args.Dispatch(browser.browser()).String(L"http://a.example/").Cancel();
        EXPECT_EQ(S_OK, Fire(DISPID_BEFORENAVIGATE2, args.Build()));
        EXPECT_EQ(VARIANT_FALSE, args.cancel);
        EXPECT_EQ(1, AnnouncedWindowCount());
    }
    // Cancel that is not a by-reference VARIANT_BOOL.
    {
        EventArgs args;
        VARIANT notByRef;
        VariantInit(&notByRef);
        V_VT(&notByRef) = VT_BOOL;
        args.Dispatch(browser.browser()).String(L"http://a.example/").Int(0).String(L"_blank")
            .NullString().NullString().Raw(notByRef);
        EXPECT_EQ(S_OK, Fire(DISPID_BEFORENAVIGATE2, args.Build()));
        EXPECT_EQ(1, AnnouncedWindowCount());
        EXPECT_FALSE(Blocked());
    }
    // Strings of the wrong type or null count as empty: the window's first
    // navigation with no target, which takes up its announcement, no block.
    {
        EventArgs args;
        VARIANT number;
        VariantInit(&number);
        V_VT(&number) = VT_I4;
        args.Dispatch(browser.browser()).NullString().Int(0).Raw(number).NullString()
            .NullString().Cancel();
        EXPECT_EQ(S_OK, Fire(DISPID_BEFORENAVIGATE2, args.Build()));
        EXPECT_EQ(VARIANT_FALSE, args.cancel);
        EXPECT_EQ(0, AnnouncedWindowCount());
    }
    // A null dispatch pointer: no browser, no block.
    {
        EventArgs args;
        args.Dispatch(nullptr).String(L"http://a.example/").Int(0).String(L"_blank")
            .NullString().NullString().Cancel();
        EXPECT_EQ(S_OK, Fire(DISPID_BEFORENAVIGATE2, args.Build()));
        EXPECT_EQ(VARIANT_FALSE, args.cancel);
    }
    // A megabyte of address, blocked like any other.
    {
        std::wstring huge = L"http://huge.example/" + std::wstring(1 << 20, L'q');
        ASSERT_EQ(S_OK, NewWindow2());
        EventArgs args;
        args.Dispatch(browser.browser()).String(huge).Int(0).String(L"_blank").NullString()
            .NullString().Cancel();
        EXPECT_EQ(S_OK, Fire(DISPID_BEFORENAVIGATE2, args.Build()));
        EXPECT_EQ(VARIANT_TRUE, args.cancel);
        std::string narrow(huge.begin(), huge.end());
        EXPECT_TRUE(TheBlockedPopupLog().Contains(narrow.c_str()));
    }
    // DocumentComplete without its arguments.
    {
        sharedState->popupOverride = 1;
        EventArgs args;
        EXPECT_EQ(S_OK, Fire(DISPID_DOCUMENTCOMPLETE, args.Build()));
        EXPECT_EQ(1, sharedState->popupOverride);
    }
}
