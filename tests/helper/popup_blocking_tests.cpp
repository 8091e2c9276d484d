// Popups against the real thing: Korvane.dll registered with regsvr32 and
// loaded by the browser stand-in through COM, as the browser loads it. What
// the tests look at is what a user or the browser would see: navigations
// cancelled, windows closed, the Blocked Popups dialog, the tray icon in
// Wine's notification area, the shared switches.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "browser/live_references.h"
#include "browser/session.h"
#include "browser/session_script.h"
#include "dom/dom.h"
#include "korvane_idl.h"
#include "support/installed_korvane.h"
#include "support/korvane_session_test.h"
#include "support/test_support.h"

using namespace korvane;
using korvane::test::InstalledKorvane;
using standin::Session;
using standin::SessionOptions;

namespace {

const char kNews[] = R"html(<html><body>
<a id="more" href="more.html">More news</a>
<a id="js" href="javascript:showPicture(1)">Bigger picture</a>
<a id="jsquoted" href='javascript:window.open("pop.html")'>Quoted</a>
<a id="linked" href="http://ads.example/linked.html" target="_blank">Sponsor</a>
<a id="named" href="story.html" target="promo">Story</a>
</body></html>)html";

const char kFrames[] = R"html(<html><frameset cols="30%,70%">
<frame name="left" src="more.html"><frame name="main" src="more.html">
</frameset></html>)html";

const char kPopupUrl[] = "http://ads.example/pop.html";

// Opened as the window "news". The scan stops at a link it takes for one it
// rewrote before, so the last link keeps a target it never met: the window
// itself. The first link's target is longer than the blocker keeps.
const std::string kLatch = "<html><body><a id=\"long\" href=\"more.html\" target=\"" +
                           std::string(2100, 'n') +
                           "\">Long</a><a id=\"seen\" href=\"more.html\" target=\"z9zseen\">Seen</a>"
                           "<a id=\"own\" href=\"story.html\" target=\"news\">Story</a></body></html>";

class PopupBlockingTest : public test::KorvaneSessionTest {
protected:
    static void SetUpTestSuite() {
        test::InstallOptions options;
        options.whiteList = {"http://www.friends.example/news", "plain.example", "http://bank.example"};
        InstallKorvane(options);
        const std::string& site = site_->path();
        test::WriteSitePage(site, "news.example/index.html", kNews);
        test::WriteSitePage(site, "news.example/more.html", "<html><body>More</body></html>");
        test::WriteSitePage(site, "news.example/frames.html", kFrames);
        test::WriteSitePage(site, "ads.example/pop.html", "<html><body>Buy!</body></html>");
        test::WriteSitePage(site, "ads.example/linked.html", "<html><body>Sponsor</body></html>");
        test::WriteSitePage(site, "www.friends.example/news/pop.html", "<html><body>Hi</body></html>");
        test::WriteSitePage(site, "news.example/latch.html", kLatch.c_str());
        test::WriteSitePage(site, "news.example/story.html", "<html><body>Story</body></html>");
        test::WriteSitePage(site, "news.example/iframe.html",
                            "<html><body><iframe name=\"box\" src=\"more.html\"></iframe></body></html>");
        std::string links = "<html><body>";
        for (int i = 0; i < 500; ++i)
            links += "<a id=\"l" + std::to_string(i) + "\" href=\"more.html?" + std::to_string(i) +
                     "\" target=\"t" + std::to_string(i) + "\">" + std::to_string(i) + "</a>";
        test::WriteSitePage(site, "news.example/links.html", (links + "</body></html>").c_str());
    }
    static void TearDownTestSuite() { RemoveKorvane(); }

    void SetUp() override {
        KorvaneSessionTest::SetUp();
        Shared().flashOn = 1;
    }

    // A window showing the news page, completed: the override is clear.
    Session& NewsSession() {
        Session& session = NewSession();
        EXPECT_EQ(1, session.Open("http://news.example/index.html"));
        EXPECT_EQ(0, korvane_->Shared().popupOverride);
        return session;
    }
    // The last new window the page opened: blocked means cancelled, told to
    // quit and destroyed.
    static bool Blocked(const standin::WindowInfo& window) {
        return window.openedByPage && window.firstNavigationCancelled && window.quitCalled &&
               window.hwnd == nullptr;
    }
    static bool LetThrough(const standin::WindowInfo& window) {
        return window.openedByPage && !window.firstNavigationCancelled && !window.quitCalled;
    }
    // The Cancel the helper left on the last raw BeforeNavigate2.
    bool LastRawNavigationCancelled() {
        const auto& entries = session_->timeline().Entries();
        for (auto it = entries.rbegin(); it != entries.rend(); ++it)
            if (it->kind == standin::TimelineKind::Event && it->dispid == 250) return it->cancelled;
        ADD_FAILURE() << "no BeforeNavigate2 in the timeline";
        return false;
    }
    std::vector<standin::RawArg> Args(std::initializer_list<const char*> tokens) {
        std::vector<standin::RawArg> args;
        for (const char* token : tokens) {
            standin::RawArg arg;
            std::string error;
            EXPECT_TRUE(standin::ParseRawArg(token, &arg, &error)) << token << ": " << error;
            args.push_back(arg);
        }
        return args;
    }
    // NewWindow2 and then a BeforeNavigate2 in the window w1, as written.
    bool AnnounceAndNavigate(std::initializer_list<const char*> beforeNavigate2) {
        EXPECT_TRUE(session_->Fire("w1", 251, Args({"ref-dispatch", "cancel"})));
        EXPECT_TRUE(session_->Fire("w1", 250, Args(beforeNavigate2)));
        return LastRawNavigationCancelled();
    }
    // Plays a session file's text with this helper: every expectation holds,
    // and so does the final check that closing every window left nothing.
    // folder: a session file's, whose "site" it keeps.
    void Play(const std::string& text, const std::string& folder = std::string()) {
        standin::Script script;
        std::vector<std::string> errors;
        ASSERT_TRUE(standin::ParseScript(text, folder.empty() ? site_->path() : folder, &script, &errors))
            << errors.at(0);
        if (folder.empty()) script.options.siteFolder = site_->path();
        script.options.onlyHelpers = {CLSID_ViewSource};
        session_.reset(new Session(script.options));
        EXPECT_EQ(0, standin::RunScript(*session_, script).failures) << text << session_->timeline().Text();
    }
    long Logged(const std::string& url) {
        const auto lines = korvane_->BlockedPopupsShown();
        return static_cast<long>(std::count(lines.begin(), lines.end(), url));
    }
};

// Samples the tray icon's colour on screen for a while: whether the allowing
// (green) icon showed at some point, and whether the blocking (red) one is
// back at the end.
struct FlashSeen {
    bool green = false;
    bool redAtEnd = false;
};
FlashSeen WatchFlash(DWORD milliseconds) {
    FlashSeen seen;
    const DWORD start = GetTickCount();
    COLORREF last = 0;
    while (GetTickCount() - start < milliseconds) {
        for (HWND icon : test::WineTrayIcons()) {
            last = test::IconColour(icon);
            if (test::LooksGreen(last)) seen.green = true;
        }
        test::PumpMessages(40);
    }
    seen.redAtEnd = test::LooksRed(last);
    return seen;
}

}  // namespace

TEST_F(PopupBlockingTest, ScriptPopupAfterACompletedPageIsCancelledClosedLoggedAndFlashed) {
    Session& session = NewsSession();
    if (test::RunningOnWine()) {
        ASSERT_TRUE(test::WaitUntil([] { return !test::WineTrayIcons().empty(); }, 10000));
    }

    ASSERT_TRUE(session.ScriptOpen("w1", kPopupUrl, ""));
    const standin::WindowInfo popup = session.Window(2);
    EXPECT_TRUE(Blocked(popup));
    EXPECT_EQ(kPopupUrl, popup.firstUrl);
    EXPECT_TRUE(popup.destroyedExternally);
    // The opener stays.
    EXPECT_TRUE(session.Window(1).open);
    EXPECT_EQ(1, session.OpenWindowCount());

    if (test::RunningOnWine()) {
        // Wine only: its notification area shows each icon as a window.
        const FlashSeen flash = WatchFlash(2500);
        EXPECT_TRUE(flash.green) << "the icon did not flash";
        EXPECT_TRUE(flash.redAtEnd) << "the blocking icon did not come back";
    }
    EXPECT_EQ(1, Logged(kPopupUrl));
}

TEST_F(PopupBlockingTest, SameAddressTwiceIsLoggedOnceAndAnnouncedTwice) {
    const std::string url = "http://ads.example/pop.html?again";
    Session& session = NewsSession();
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(session.ScriptOpen("w1", url, ""));
        EXPECT_TRUE(Blocked(session.Window(2 + i))) << i;
        if (test::RunningOnWine()) {
            EXPECT_TRUE(WatchFlash(2500).green) << i;
        }
    }
    EXPECT_EQ(1, Logged(url));
}

TEST_F(PopupBlockingTest, UnspecifiedAndEmptyTargetNamesAreLetThrough) {
    NewsSession();
    EXPECT_FALSE(AnnounceAndNavigate({"self", "str:http://ads.example/pop.html", "ref-i4:0",
                                      "str:_unspecifiedFrame", "postdata", "nullstr", "cancel"}));
    EXPECT_FALSE(AnnounceAndNavigate({"self", "str:http://ads.example/pop.html", "ref-i4:0",
                                      "nullstr", "postdata", "nullstr", "cancel"}));
    EXPECT_FALSE(AnnounceAndNavigate({"self", "str:http://ads.example/pop.html", "ref-i4:0",
                                      "str:", "postdata", "nullstr", "cancel"}));
    EXPECT_TRUE(session_->Window(1).open);
}

TEST_F(PopupBlockingTest, LinkWhoseTargetThePageScanRenamedOpensItsWindow) {
    Session& session = NewsSession();
    // The scan has given the link a name of the blocker's own.
    const auto link = session.DocumentOf("w1")->FindClickable("a", "#linked");
    ASSERT_TRUE(link.found);
    EXPECT_EQ(0u, link.target.rfind("z9z", 0)) << link.target;
    standin::ElementSelector linked;
    linked.tag = "a";
    linked.kind = standin::ElementSelector::Kind::Id;
    linked.value = "linked";
    ASSERT_TRUE(session.Click("w1", linked));
    EXPECT_TRUE(LetThrough(session.Window(2)));
    EXPECT_EQ(link.target, session.Window(2).name);
    // A script popup from the same page is still blocked.
    ASSERT_TRUE(session.ScriptOpen("w1", kPopupUrl, ""));
    EXPECT_TRUE(Blocked(session.Window(3)));
}

TEST_F(PopupBlockingTest, BlankTargetInsideAFrameIsLetThrough) {
    Session& session = NewSession();
    ASSERT_EQ(1, session.Open("http://news.example/frames.html"));
    EXPECT_FALSE(AnnounceAndNavigate({"frame:left", "str:http://ads.example/pop.html",
                                      "ref-i4:0", "str:_blank", "postdata", "nullstr",
                                      "cancel"}));
    // The same from the window's own browser would be judged, but that
    // window already shows a page: it is the user's, and stays.
    EXPECT_FALSE(AnnounceAndNavigate({"self", "str:http://ads.example/pop.html", "ref-i4:0",
                                      "str:_blank", "postdata", "nullstr", "cancel"}));
    EXPECT_TRUE(session.Window(1).open);
}

TEST_F(PopupBlockingTest, PlainScriptLinkLetsTheNextWindowThrough) {
    Session& session = NewsSession();
    standin::ElementSelector quoted;
    quoted.tag = "a";
    quoted.kind = standin::ElementSelector::Kind::Id;
    quoted.value = "jsquoted";
    ASSERT_TRUE(session.Click("w1", quoted));
    EXPECT_EQ(0, Shared().popupOverride);

    standin::ElementSelector script = quoted;
    script.value = "js";
    ASSERT_TRUE(session.Click("w1", script));
    EXPECT_EQ(1, Shared().popupOverride);
    ASSERT_TRUE(session.ScriptOpen("w1", "http://ads.example/pop.html?picture", ""));
    EXPECT_TRUE(LetThrough(session.Window(2)));
}

TEST_F(PopupBlockingTest, WhiteListedAddressesAreLetThroughAndTheWindowStaysPending) {
    Session& session = NewsSession();
    // Capitals, and the https twin of an http entry.
    ASSERT_TRUE(session.ScriptOpen("w1", "HTTPS://WWW.FRIENDS.EXAMPLE/NEWS/pop.html", ""));
    EXPECT_TRUE(LetThrough(session.Window(2)));
    // The window that was announced is still waiting to be judged, but the
    // next navigation with a target comes from a window that shows a page:
    // let through, and the wait ends.
    EXPECT_TRUE(session.Fire("w2", 250, Args({"self", "str:http://ads.example/late.html",
                                              "ref-i4:0", "str:_blank", "postdata", "nullstr",
                                              "cancel"})));
    EXPECT_FALSE(LastRawNavigationCancelled());

    // Another host, and an entry without a scheme that matches only by plain
    // prefix: both judged as usual.
    ASSERT_TRUE(session.ScriptOpen("w1", "http://www.other.example/news/pop.html", ""));
    EXPECT_TRUE(Blocked(session.Window(3)));
    ASSERT_TRUE(session.ScriptOpen("w1", "http://plain.example/pop.html", ""));
    EXPECT_TRUE(Blocked(session.Window(4)));
}

TEST_F(PopupBlockingTest, OrdinaryNavigationIsNeverBlocked) {
    Session& session = NewsSession();
    standin::ElementSelector more;
    more.tag = "a";
    more.kind = standin::ElementSelector::Kind::Id;
    more.value = "more";
    ASSERT_TRUE(session.Click("w1", more));
    ASSERT_TRUE(session.Load("w1", "http://news.example/index.html"));
    EXPECT_EQ(1, session.OpenWindowCount());
    for (const auto& entry : session.timeline().Entries())
        EXPECT_NE(standin::TimelineKind::NavigationCancelled, entry.kind) << entry.Text();
}

TEST_F(PopupBlockingTest, NothingIsBlockedWhileNoPageHasCompletedSinceStart) {
    Session& session = NewsSession();
    // The value the switch has after start-up, until the first page of any
    // window completes.
    Shared().popupOverride = 1;
    ASSERT_TRUE(session.ScriptOpen("w1", kPopupUrl, ""));
    EXPECT_TRUE(LetThrough(session.Window(2)));
    // The new window's page completing ends it.
    EXPECT_EQ(0, Shared().popupOverride);
}

TEST_F(PopupBlockingTest, WhilePopupsAreAllowedNothingIsHandledButTheTrayIsSynchronised) {
    Session& session = NewsSession();
    Shared().popupsAllowed = 1;
    Shared().trayIconSynced = 0;
    ASSERT_TRUE(session.ScriptOpen("w1", kPopupUrl, ""));
    EXPECT_TRUE(LetThrough(session.Window(2)));
    EXPECT_EQ(1, Shared().trayIconSynced);
    Shared().popupsAllowed = 0;
}

TEST_F(PopupBlockingTest, SwitchedOffHelperIgnoresEverything) {
    Session& session = NewsSession();
    Shared().helperActive = 0;
    ASSERT_TRUE(session.ScriptOpen("w1", kPopupUrl, ""));
    EXPECT_TRUE(LetThrough(session.Window(2)));
    // The new window's helper took no site: no sink on it.
    EXPECT_EQ(0, session.Window(2).sinks);
    Shared().helperActive = 1;
}

TEST_F(PopupBlockingTest, MalformedEventsChangeNothingAndCrashNothing) {
    Session& session = NewsSession();
    const auto before = korvane_->BlockedPopupsShown();
    const LONG override = Shared().popupOverride;
    ASSERT_TRUE(session.Fire("w1", 251, Args({"ref-dispatch", "cancel"})));
    // Too few arguments, no DISPPARAMS at all, wrong types, null strings,
    // a megabyte of address: none of them is judged a popup.
    EXPECT_TRUE(session.Fire("w1", 250, Args({"self", "str:http://ads.example/x", "cancel"})));
    EXPECT_FALSE(LastRawNavigationCancelled());
    EXPECT_TRUE(session.Fire("w1", 250, {}, true));
    EXPECT_TRUE(session.Fire("w1", 250, Args({"self", "bstr:\"http://ads.example/x\"", "empty",
                                              "i4:7", "empty", "empty", "i4:0"})));
    EXPECT_TRUE(session.Fire("w1", 250, Args({"null-dispatch", "nullstr", "null-ref", "nullstr",
                                              "null-ref", "null-ref", "cancel"})));
    EXPECT_FALSE(LastRawNavigationCancelled());
    EXPECT_TRUE(session.Fire("w1", 250, Args({"self", "bigstr:1048576", "cancel"})));
    Shared().popupOverride = 1;
    EXPECT_TRUE(session.Fire("w1", 259, Args({"null-dispatch"})));
    EXPECT_EQ(1, Shared().popupOverride);
    Shared().popupOverride = override;
    EXPECT_TRUE(session.Window(1).open);
    EXPECT_EQ(before, korvane_->BlockedPopupsShown());
}

// Whatever kept an announced window waiting (a white-listed popup, a window
// that never navigated here, a BeforeNavigate2 too short to judge), a click
// on a link whose target the scan never met takes the user's own window to
// the clicked address. Then: two windows announced at once (both judged),
// a popup while the opener's frames load (their first navigations take no
// announcement), NewWindow3 alone or after NewWindow2, a target too long to
// keep. A popup after each is still blocked.
TEST_F(PopupBlockingTest, TheUsersOwnWindowIsNeverClosedAndPopupsAreStillBlocked) {
    const std::string own = "open http://news.example/latch.html news\n";
    const std::string click = "click w1 #own\nexpect url w1 http://news.example/story.html\n";
    const std::string announce = "fire w1 NewWindow2 ref-dispatch cancel\n";
    const std::string index = "open http://news.example/index.html\n";
    const std::string hold = "script-open w1 http://ads.example/pop.html \"\" hold\n";
    const std::string popup = "script-open w1 http://ads.example/pop.html?after\n"
                              "expect blocked http://ads.example/pop.html?after\n";
    const std::string refused = "script-open w1 http://ads.example/pop.html?after\n"
                                "expect cancelled http://ads.example/pop.html?after\nexpect windows 1\n";
    for (const std::string& text :
         {own + "script-open w1 http://www.friends.example/news/pop.html\n" + click + popup,
          own + announce + click + popup,
          own + announce + "fire w1 BeforeNavigate2 self str:http://x.example/ cancel\n" + click + popup,
          index + hold + "script-open w1 http://ads.example/pop.html?2 \"\" hold\nstart w2\n"
                         "expect blocked http://ads.example/pop.html\nstart w3\n"
                         "expect blocked http://ads.example/pop.html?2\n" + popup,
          index + "load w1 http://news.example/frames.html defer-frames\n" + hold +
              "complete w1\nstart w2\nexpect url w1/main http://news.example/more.html\n"
              "expect blocked http://ads.example/pop.html\n" + popup,
          // Cancelled as NewWindow3 announces it: no window is created.
          "option new-window NewWindow3\n" + index + refused + "expect events NewWindow2 0\n",
          "option new-window both\n" + index + refused + "expect events NewWindow3 1\n",
          std::string("open http://news.example/latch.html\nclick w1 #long\n") +
              "expect blocked http://news.example/more.html\n"})
        Play(text);
}

// The same sessions in every browser: IE6 (a window for each popup, closed
// at its first navigation), IE7 (tabs in frames) and IE8 (tabs in frames of
// another process), whose NewWindow3 lets a popup nobody's action started
// be cancelled before it exists. Each popup that exists already is closed
// alone: the opener's tab and its frame stay shown.
TEST_F(PopupBlockingTest, EveryBrowserJudgesEachAnnouncedWindowAndClosesOnlyThePopup) {
    const std::string pop = "http://ads.example/pop.html";
    for (const char* profile : {"ie6", "ie7", "ie8"}) {
        SCOPED_TRACE(profile);
        const bool tabs = std::string(profile) != "ie6";
        const std::string head = std::string("option profile ") + profile + "\n";
        const std::string index = head + "open http://news.example/index.html\n";
        const std::string script = pop + "?script-" + profile;
        const std::string refused =
            tabs ? "expect cancelled " + script + "\nexpect created 0\n" : "expect blocked " + script + "\n";
        // A script's window: no window at all from IE7 on; the links and a
        // Ctrl click open theirs; a window from a click's handler is closed
        // at its first navigation, alone.
        Play(index + "script-open w1 " + script + "\n" + refused +
             "expect windows 1\nexpect intact w1\n"
             "click w1 #linked\nexpect opened http://ads.example/linked.html\n"
             "click w1 #more ctrl\nexpect opened http://news.example/more.html\n"
             "script-open w1 " + pop + "?click \"\" click\nexpect blocked " + pop + "?click\n"
             "expect intact w1\nexpect intact " + (tabs ? "w2" : "w3") + "\nexpect windows 3\nexpect frames " +
             (tabs ? "1" : "3") + "\n");
        EXPECT_EQ(1, Logged(script));
        // Two windows announced before either navigates, and the opener's
        // inline frame navigating meanwhile: both judged.
        Play(head + "open http://news.example/iframe.html\n"
             "script-open w1 " + pop + "?one \"\" click hold\nscript-open w1 " + pop + "?two \"\" click hold\n"
             "load w1/box http://news.example/story.html\nstart w3\nstart w2\n"
             "expect blocked " + pop + "?one\nexpect blocked " + pop + "?two\nexpect intact w1\n");
        // A page with 500 named links: its first still opens. A page that
        // completed while F10 had blocking off: its _blank link opens once
        // blocking is on again.
        Play(head + "open http://news.example/links.html\nclick w1 #l0\n"
             "expect opened http://news.example/more.html?0\n"
             "key w1 f10 press\nload w1 http://news.example/index.html\nkey w1 f10 press\n"
             "click w1 #linked\nexpect opened http://ads.example/linked.html\n");
        EXPECT_EQ(0, Shared().popupsAllowed);
    }
    // The example session of IE8's tabs, as the stand-in's README shows it.
    const std::string examples = std::string("Z:") + KORVANE_SOURCE_DIR + "\\browser\\examples";
    Play(test::ReadFileBytes(examples + "\\tabs.session"), examples);
}

// What a page that knows Korvane tries, in the browsers it applies to; each
// session ends with an ordinary popup still blocked. A frame whose
// navigation has begun and not finished is a raw BeforeNavigate2: every
// load the stand-in plays ends with DownloadComplete, which clears the
// override (the script runs on while the frame still loads).
TEST_F(PopupBlockingTest, APagesTricksLetNoPopupThroughAndTheUsersOwnLinksStillOpen) {
    const std::string pop = "http://ads.example/pop.html";
    auto frameLoads = [](const std::string& url) {
        return "fire w1 BeforeNavigate2 frame:box str:" + url + " ref-i4:0 nullstr postdata nullstr cancel\n";
    };
    for (const std::string profile : {"ie6", "ie7", "ie8"}) {
        SCOPED_TRACE(profile);
        const bool ie6 = profile == "ie6";
        const std::string head = "option profile " + profile + "\nopen http://news.example/iframe.html\n";
        const std::string news = "option profile " + profile + "\nopen http://news.example/index.html\n";
        // A popup no user action started: cancelled at NewWindow3, or in
        // IE6 closed at its first navigation.
        auto refused = [&](const std::string& url) {
            return "script-open w1 " + url + "\nexpect " + (ie6 ? "blocked " : "cancelled ") + url + "\n";
        };
        const std::string after = refused(pop + "?after-" + profile);
        // A frame sent to "http:" or to a host that begins like a
        // white-listed site: neither is on the white list.
        Play(head + frameLoads("http:") + refused(pop + "?http-" + profile) +
             frameLoads("http://bank.example.evil.example/") + refused(pop + "?lookalike-" + profile) +
             frameLoads("http://bank.example:x@evil.example/") + after);
        // A click handler borrowing a name the scan gave, on a timer or
        // from a click: the page links nothing there. The link that
        // carries the name still opens.
        Play(news + refused(pop + "?borrowed-" + profile) + "script-open w1 " + pop + "?clicked z9zpromo click\n" +
             "expect blocked " + pop + "?clicked\nclick w1 #named\nexpect opened http://news.example/story.html\n" +
             after);
        EXPECT_EQ(1, Logged(pop + "?lookalike-" + profile));
        if (ie6) continue;
        // The browser says no user action started the window: a frame sent
        // to javascript:void(0), or loading a white-listed site, does not
        // change that.
        Play(head + "load w1/box javascript:void(0)\n" + refused(pop + "?void-" + profile) +
             frameLoads("http://www.friends.example/news/") + refused(pop + "?friend-" + profile) + after);
        EXPECT_EQ(1, Logged(pop + "?void-" + profile));
        EXPECT_EQ(1, Logged(pop + "?friend-" + profile));
        // A link the page's script added after it completed opens; a click
        // handler's window to an address no link names does not. A window
        // announced (by a raw NewWindow2) whose first navigation names no
        // target takes up its announcement: the next window, whose click
        // NewWindow3 let through, is left alone.
        Play(news + "script-add w1 a#late http://news.example/story.html?late _blank\nclick w1 #late\n"
             "expect opened http://news.example/story.html?late\n"
             "script-open w1 " + pop + "?handler \"\" click\nexpect blocked " + pop + "?handler\n"
             "script-add w1 a#later http://news.example/more.html?later _blank\n"
             "fire w1 NewWindow2 ref-dispatch cancel\nopen http://news.example/more.html\n"
             "click w1 #later\nexpect opened http://news.example/more.html?later\n" + after);
    }
}
