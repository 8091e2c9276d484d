#include <gtest/gtest.h>

#include <mbctype.h>

#include <cstring>
#include <sstream>
#include <string>

#include "helper/popup_filter.h"

using namespace korvane;

TEST(WhiteListMatch, EntryMatchesAddressesThatBeginWithItInAnyCase) {
    const char* entry = "http://www.example.com/news";
    EXPECT_TRUE(MatchesWhiteListEntry("HTTP://WWW.EXAMPLE.COM/NEWS/today.html", entry));
    EXPECT_TRUE(MatchesWhiteListEntry("http://www.example.com/news", entry));
    EXPECT_FALSE(MatchesWhiteListEntry("http://www.other.com/news/today.html", entry));
    EXPECT_FALSE(MatchesWhiteListEntry("http://www.example.com/sport", entry));
}

TEST(WhiteListMatch, HttpEntryAlsoMatchesItsHttpsTwin) {
    const char* entry = "http://www.example.com/news";
    EXPECT_TRUE(MatchesWhiteListEntry("https://www.example.com/news/anything?x=1", entry));
    EXPECT_TRUE(MatchesWhiteListEntry("HTTPS://WWW.EXAMPLE.COM/NEWS", entry));
    EXPECT_FALSE(MatchesWhiteListEntry("https://www.other.com/news", entry));
    EXPECT_TRUE(MatchesWhiteListEntry("https://a.com/", "http://a.com/"));
}

// The twin is compared over its own length (or the address's, if shorter),
// never over a shorter entry's: a short entry lets nothing else through.
TEST(WhiteListMatch, TheTwinIsComparedOverItsOwnLength) {
    EXPECT_FALSE(MatchesWhiteListEntry("http://any.example/", "a:"));
    EXPECT_FALSE(MatchesWhiteListEntry("http://any.example/", "x:y"));
    EXPECT_FALSE(MatchesWhiteListEntry("https://a.comX/", "http://a.com/"));
    EXPECT_FALSE(MatchesWhiteListEntry("https://a.c", "http://a.com/"));
}

// An address matches only when it begins with the entry; an entry that
// names a site only where that site's host ends; an http entry's https twin
// likewise. The address's own part of the twin test is made once for the
// whole list: the prepared address gives the same answers.
TEST(WhiteListMatch, AnAddressMatchesOnlyWhenItBeginsWithTheEntryAndASiteOnlyWhereItsHostEnds) {
    const struct {
        const char* url;
        const char* entry;
        bool matches;
    } cases[] = {
        {"HTTPS", "http:", false},   // only a beginning of the twin "https:"
        {"https:/", "http:", true},
        {"https:/", "http:x", false},
        {"http", "a:", false},       // only an http entry has a twin
        {"HTTPS", "a:", false},
        {"htt", "zz", false},
        {"", "x:y", false},
        {"httpx://a.com/", "http://a.com/", false},
        {"Https://a.com/b", "HTTP://a.com/", true},
        {"https://a.com/b", "ftp://a.com/", false},
        {"https://a.com/b", "http://a.org/", false},
        {"https:", "http://a.com/", false},
        {"http://www.ex", "http://www.example.com/news", false},  // a beginning of the entry
        {"http:", "http://www.friends.example/news", false},     // a frame sent to "http:"
        {"http://bank.example", "http://bank.example", true},
        {"https://bank.example", "http://bank.example/", true},
        {"http://bank.example/login", "http://bank.example/", true},
        {"http://bank.example?x=1", "http://bank.example/", true},
        {"https://bank.example#top", "http://bank.example", true},
        {"http://bank.example:8080/", "http://bank.example", true},
        {"http://bank.example.evil.net/", "http://bank.example", false},  // a look-alike host
        {"https://bank.examples/", "http://bank.example", false},
        {"http://bank.example@evil.net/", "http://bank.example", false},  // a user name
        {"https://bank.example:x@evil.net/", "http://bank.example", false},
        {"http://bank.example:80801/", "http://bank.example:8080", false},
        // An entry with a path, a query or only a scheme: plain prefix.
        {"http://bank.example/newsroom", "http://bank.example/news", true},
        {"https://bank.example/news", "http://bank.example/news/", false},
        {"http://bank.example/?q=1x", "http://bank.example/?q=1", true},
        {"https://anything/", "http://", true},
        {"mailto:x@y", "mailto:x", true},
    };
    for (const auto& c : cases) {
        const size_t length = std::strlen(c.url);
        EXPECT_EQ(c.matches, MatchesWhiteListEntry(c.url, c.entry)) << c.url << " " << c.entry;
        EXPECT_EQ(c.matches, MatchesWhiteListEntry(WhiteListAddress(c.url, length), c.entry,
                                                   std::strlen(c.entry)))
            << c.url << " " << c.entry;
    }
}

TEST(WhiteListMatch, EntryWithoutColonMatchesOnlyByPlainPrefix) {
    EXPECT_TRUE(MatchesWhiteListEntry("www.example.com/page", "www.example.com"));
    EXPECT_FALSE(MatchesWhiteListEntry("http://www.example.com/page", "www.example.com"));
    EXPECT_FALSE(MatchesWhiteListEntry("https://www.example.com/page", "www.example.com"));
}

TEST(WhiteListMatch, EmptyEntryMatchesEverything) {
    EXPECT_TRUE(MatchesWhiteListEntry("http://anything/", ""));
    EXPECT_TRUE(MatchesWhiteListEntry("", ""));
}

TEST(WhiteListMatch, LongestEntriesAndLongAddressesAreSafe) {
    // The longest http entry gives a twin longer than any entry may be.
    const std::string entry = "http:" + std::string(254, 'x');
    const std::string twin = "https:" + std::string(254, 'x');
    EXPECT_TRUE(MatchesWhiteListEntry(twin.c_str(), entry.c_str()));
    const std::string huge = "http://www.example.com/" + std::string(1 << 20, 'q');
    EXPECT_TRUE(MatchesWhiteListEntry(huge.c_str(), "http://www.example.com/"));
    EXPECT_FALSE(MatchesWhiteListEntry(huge.c_str(), "http://www.example.org/"));
    EXPECT_FALSE(MatchesWhiteListEntry(nullptr, "x"));
}

// Past the ASCII part, letters are compared as the C runtime's multibyte
// code page has them: in Japanese, full-width A and a are one letter.
TEST(WhiteListMatch, TextBeyondAsciiIsComparedAsTheCodePageHasIt) {
    const char* entry = "http://x.jp/\x82\x60/";
    const char* url = "HTTP://X.JP/\x82\x81/";
    EXPECT_FALSE(MatchesWhiteListEntry(url, entry));
    EXPECT_TRUE(MatchesWhiteListEntry("http://x.jp/\x82\x60/page", entry));
    ASSERT_EQ(0, _setmbcp(932));
    const bool japanese = MatchesWhiteListEntry(url, entry);
    _setmbcp(_MB_CP_ANSI);
    EXPECT_TRUE(japanese);
}

TEST(JavascriptOverride, PlainScriptLinksInAnyCaseSetIt) {
    EXPECT_TRUE(JavascriptUrlSetsOverride("javascript:void(0)"));
    EXPECT_TRUE(JavascriptUrlSetsOverride("JavaScript:showPicture('a.jpg')"));
    EXPECT_TRUE(JavascriptUrlSetsOverride("JAVASCRIPT:"));
}

TEST(JavascriptOverride, OpenerOrQuotesOrOtherSchemesDoNot) {
    EXPECT_FALSE(JavascriptUrlSetsOverride("javascript:window.opener.location='x'"));
    EXPECT_FALSE(JavascriptUrlSetsOverride("javascript:open(\"popup.html\")"));
    EXPECT_FALSE(JavascriptUrlSetsOverride("javascript"));
    EXPECT_FALSE(JavascriptUrlSetsOverride("http://javascript:/"));
    EXPECT_FALSE(JavascriptUrlSetsOverride(""));
    EXPECT_FALSE(JavascriptUrlSetsOverride(nullptr));
    // "opener." is matched exactly.
    EXPECT_TRUE(JavascriptUrlSetsOverride("javascript:window.OPENER.x()"));
}

// One row per way a new window comes, and per trick a page plays. Facts:
// 3 judged at NewWindow3 (else at a first navigation), o the session's
// override, w the address white-listed, p the page opens a new window to
// it, u no address said, f a frame's navigation, s a window that shows a
// page, a an announcement taken, k a name the scan gave to that address.
// flags: NewWindow3's, -1 none that can be read.
TEST(Judgement, OnlyTheBrowserOrTheUserVouchesForANewWindowAndNeverThePage) {
    using V = Verdict;
    constexpr long kClick = kNewWindowUserInited | 0x4;
    const struct {
        const char* why;
        const char* facts;
        long flags;
        const char* target;
        V expected;
    } cases[] = {
        {"a script on its own", "3", 0, "", V::Cancel},
        {"a script as the page unloads", "3", kNewWindowUnloading | kClick, "", V::Cancel},
        {"from a click, or its handler's window.open: its navigation decides", "3", kClick, "",
         V::LeaveToFirstNavigation},
        {"from a click, as a tab", "3", kClick | 0x80000, "", V::LeaveToFirstNavigation},
        {"Ctrl held on a click", "3o", kClick | 0x120000, "", V::LetThrough},
        {"a timer after a frame went to javascript:void(0) or a white-listed site", "3o", 0x80000, "",
         V::Cancel},
        {"the override as the page unloads", "3o", kNewWindowUnloading, "", V::Cancel},
        {"the browser's override key", "3", kNewWindowOverrideKey, "", V::LetThrough},
        {"its own address white-listed", "3w", kNewWindowUnloading, "", V::LetThrough},
        {"Open in New Window, a Shift click", "3", kNewWindowUserRequested, "", V::LetThrough},
        {"allowed from the bar", "3", kNewWindowUserAllowed | kNewWindowUnloading, "", V::LetThrough},
        {"flags that cannot be read", "3", -1, "", V::LeaveToFirstNavigation},
        {"a click on a link added after the page loaded", "3p", kClick, "", V::LetThrough},
        {"a timer to an address the page links", "3p", 0, "", V::Cancel},
        {"a page's link, but no address said", "3pu", kClick, "", V::LeaveToFirstNavigation},
        {"a script's window", "a", 0, "_blank", V::Block},
        {"a script's named window", "a", 0, "promo", V::Block},
        {"no frame named", "a", 0, "_unspecifiedFrame", V::LetThrough},
        {"names are exact", "a", 0, "_UNSPECIFIEDFRAME", V::Block},
        {"an announced window with no target", "a", 0, "", V::LetThrough},
        {"no target at all", "a", 0, nullptr, V::LetThrough},
        {"a window without an announcement", "", 0, "_blank", V::LetThrough},
        {"a frame, never a new window", "f", 0, "_blank", V::LetThrough},
        {"a window that shows a page", "s", 0, "_blank", V::LetThrough},
        {"Ctrl held, a script link (no NewWindow3)", "ao", 0, "_blank", V::LetThrough},
        {"a white-listed address", "aw", 0, "_blank", V::LetThrough},
        {"a link the scan named", "ak", 0, "z9z0_blank", V::LetThrough},
        {"a click handler borrowing that name", "a", 0, "z9z0_blank", V::Block},
    };
    for (const auto& c : cases) {
        NewWindowFacts window;
        const auto has = [&c](char fact) { return std::strchr(c.facts, fact) != nullptr; };
        window.event = has('3') ? NewWindowEvent::NewWindow3 : NewWindowEvent::FirstNavigation;
        window.hasFlags = c.flags != -1;
        window.flags = window.hasFlags ? static_cast<DWORD>(c.flags) : 0;
        window.url = has('u') ? "" : "http://ads.example/";
        window.target = c.target;
        window.popupOverride = has('o');
        window.whiteListed = has('w');
        window.pageOpensAddress = has('p');
        window.inFrame = has('f');
        window.showsPage = has('s');
        window.announced = has('a');
        window.knownNameToAddress = has('k');
        EXPECT_EQ(c.expected, JudgeNewWindow(window)) << c.why;
    }
}

// Steps: A(dd), S(et the address), W(ithdraw), F(orget) by opener 1 or 2,
// with an address when a letter follows; T(ake) by a first navigation to
// the letter's address. Then the count left and how many takes found an
// announcement.
TEST(AnnouncedWindows, EachWindowTakesOneAnnouncementItsOwnWhereTheAddressIsKnown) {
    struct Case {
        const char* steps;
        long left;
        int taken;
    } cases[] = {
        {"A1 A1 Tx Tx Tx", 0, 2},     // two announced: both judged
        {"A1 W1 Tx", 0, 0},           // withdrawn: no window comes
        {"W1 A2 W1 Tx", 0, 1},        // nothing of opener 1 to withdraw
        {"A1 A2 A1 F1 Tx", 0, 1},     // opener 1's page gone
        {"A2 A1 Tx F1", 0, 1},
        {"A1 A2 Tx F1", 1, 1},        // the earliest first
        {"A1x A2y Ty Tx", 0, 2},      // each window its own
        {"A1x Tz", 1, 0},             // left to the window that goes there
        {"A1x A1 Tz Tx", 0, 2},
        {"A1 S1x Ty Tx", 0, 1},       // NewWindow2, then NewWindow3's address
        {"A1x A1y W1 Ty Tx", 0, 1},   // the last withdrawn
        {"F1 Tx A2 A2 A2", 3, 0},
    };
    for (const Case& c : cases) {
        AnnouncedWindows announced;
        int taken = 0;
        std::istringstream steps(c.steps);
        for (std::string step; steps >> step;) {
            const std::string address = step.size() > 2 ? step.substr(2) : step.size() == 2 && step[0] == 'T'
                                                                               ? step.substr(1)
                                                                               : std::string();
            const std::uintptr_t opener = step.size() > 1 && step[1] == '2' ? 2 : 1;
            if (step[0] == 'A') announced.Add(opener, address.c_str());
            if (step[0] == 'S') announced.SetAddress(opener, address.c_str());
            if (step[0] == 'W') announced.Withdraw(opener);
            if (step[0] == 'F') announced.Forget(opener);
            if (step[0] == 'T' && announced.Take(address.c_str())) ++taken;
        }
        EXPECT_EQ(c.left, announced.Count()) << c.steps;
        EXPECT_EQ(c.taken, taken) << c.steps;
    }
    // Announcements no window ever came for wait no longer than the newest.
    AnnouncedWindows many;
    for (size_t i = 0; i <= AnnouncedWindows::kMostWaiting; ++i) many.Add(1, std::to_string(i).c_str());
    EXPECT_EQ(static_cast<long>(AnnouncedWindows::kMostWaiting), many.Count());
    EXPECT_FALSE(many.Take("0"));
    EXPECT_TRUE(many.Take("1"));
}

TEST(PopupFilter, OnlyABrowserThatShowsNothingYetCanBeAPopup) {
    for (const char* nothing : {static_cast<const char*>(nullptr), "", "about:blank", "About:Blank"})
        EXPECT_TRUE(ShowsNoPageYet(nothing)) << (nothing ? nothing : "null");
    for (const char* page : {"http://news.example/", "about:blank#x", "about:blanket"})
        EXPECT_FALSE(ShowsNoPageYet(page)) << page;
}
