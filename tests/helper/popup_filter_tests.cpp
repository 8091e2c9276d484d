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
    EXPECT_TRUE(MatchesWhiteListEntry("https://a.c", "http://a.com/"));
}

// The address's own part of the twin test is made once for the whole list;
// an address that does not begin like "https" is never compared with a twin.
TEST(WhiteListMatch, ThePreparedAddressGivesTheSameAnswers) {
    const struct {
        const char* url;
        const char* entry;
        bool matches;
    } cases[] = {
        {"HTTPS", "http:", true},    // a beginning of the twin "https:"
        {"https:/", "http:", true},
        {"https:/", "http:x", false},
        {"http", "a:", false},       // only an http entry has a twin
        {"HTTPS", "a:", false},
        {"htt", "zz", false},
        {"", "x:y", true},
        {"httpx://a.com/", "http://a.com/", false},
        {"Https://a.com/b", "HTTP://a.com/", true},
        {"https://a.com/b", "ftp://a.com/", false},
        {"https://a.com/b", "http://a.org/", false},
        {"https:", "http://a.com/", true},
    };
    for (const auto& c : cases) {
        const size_t length = std::strlen(c.url);
        EXPECT_EQ(c.matches, MatchesWhiteListEntry(c.url, c.entry)) << c.url << " " << c.entry;
        EXPECT_EQ(c.matches, MatchesWhiteListEntry(WhiteListAddress(c.url, length), c.entry,
                                                   std::strlen(c.entry)))
            << c.url << " " << c.entry;
    }
}

TEST(WhiteListMatch, AnAddressThatIsABeginningOfTheEntryMatches) {
    EXPECT_TRUE(MatchesWhiteListEntry("http://www.ex", "http://www.example.com/news"));
    EXPECT_TRUE(MatchesWhiteListEntry("h", "http://www.example.com/news"));
}

TEST(WhiteListMatch, EntryWithoutColonMatchesOnlyByPlainPrefix) {
    EXPECT_TRUE(MatchesWhiteListEntry("www.example.com/page", "www.example.com"));
    EXPECT_FALSE(MatchesWhiteListEntry("http://www.example.com/page", "www.example.com"));
    EXPECT_FALSE(MatchesWhiteListEntry("https://www.example.com/page", "www.example.com"));
}

TEST(WhiteListMatch, EmptyEntryMatchesEverything) {
    EXPECT_TRUE(MatchesWhiteListEntry("http://anything/", ""));
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

TEST(Judgement, OnlyAnAnnouncedWindowWithANamedTargetAndNoOverrideMayBeAPopup) {
    EXPECT_TRUE(MayBePopup(0, 1, "_blank"));
    EXPECT_TRUE(MayBePopup(0, 1, "somewindow"));
    EXPECT_FALSE(MayBePopup(1, 1, "_blank"));
    EXPECT_FALSE(MayBePopup(0, 0, "_blank"));
    EXPECT_FALSE(MayBePopup(0, 1, ""));
    EXPECT_FALSE(MayBePopup(0, 1, nullptr));
    EXPECT_FALSE(MayBePopup(0, 1, "_unspecifiedFrame"));
    EXPECT_TRUE(MayBePopup(0, 1, "_UNSPECIFIEDFRAME"));
}

TEST(Judgement, OnlyAWindowsOwnBrowserShowingNothingYetIsAnAnnouncedWindowsFirstNavigation) {
    struct Case {
        bool own;
        const char* location;
        const char* target;
        bool expected;
    } cases[] = {
        {true, "", "_blank", true},           {true, nullptr, "promo", true},
        {true, "about:blank", "_unspecifiedFrame", true},
        {false, "", "_blank", false},         // a frame is never a new window
        {true, "http://news.example/", "_blank", false},  // the user's window
        {true, "", "", false},                {true, "", nullptr, false},  // an address typed
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, IsNewWindowNavigation(c.own, c.location, c.target))
            << c.own << " " << (c.location ? c.location : "null") << " " << (c.target ? c.target : "null");
}

TEST(Judgement, AnAnnouncementIsLetThroughAtTheUsersSayThenCancelledWithoutAUserAction) {
    using A = Announcement;
    struct Case {
        LONG popupOverride;
        DWORD flags;
        bool whiteListed;
        A expected;
    } cases[] = {
        {0, 0, false, A::Cancel},                       // a script on its own
        {0, kNewWindowUnloading | kNewWindowUserInited, false, A::Cancel},
        {0, kNewWindowUserInited | 0x4, false, A::Judge},  // from a click: its navigation decides
        {0, kNewWindowUserInited | 0x80000, false, A::Judge},
        {1, 0, false, A::LetThrough},                   // Ctrl or Shift held
        {0, kNewWindowOverrideKey, false, A::LetThrough},
        {0, kNewWindowUnloading, true, A::LetThrough},  // white-listed
        {0, kNewWindowUserRequested, false, A::LetThrough},
        {0, kNewWindowUserAllowed | kNewWindowUnloading, false, A::LetThrough},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, JudgeAnnouncement(c.popupOverride, c.flags, c.whiteListed))
            << c.popupOverride << " 0x" << std::hex << c.flags << " " << c.whiteListed;
}

// Steps: A(dd), W(ithdraw), F(orget) by opener 1 or 2, T(ake); then the
// count left and how many takes found an announcement.
TEST(AnnouncedWindows, EachWindowIsTakenOnceAndNoneOutlivesThePageThatAnnouncedIt) {
    struct Case {
        const char* steps;
        long left;
        int taken;
    } cases[] = {
        {"A1 A1 T T T", 0, 2},        // two announced: both judged
        {"A1 W1 T", 0, 0},            // withdrawn: no window comes
        {"W1 A2 W1 T", 0, 1},         // nothing of opener 1 to withdraw
        {"A1 A2 A1 F1 T", 0, 1},      // opener 1's page gone
        {"A2 A1 T F1", 0, 1},         // the earliest opener's first
        {"A1 A2 T F1", 1, 1},
        {"F1 T A2 A2 A2", 3, 0},
    };
    for (const Case& c : cases) {
        AnnouncedWindows announced;
        int taken = 0;
        std::istringstream steps(c.steps);
        for (std::string step; steps >> step;) {
            const std::uintptr_t opener = step.size() > 1 && step[1] == '2' ? 2 : 1;
            if (step[0] == 'A') announced.Add(opener);
            if (step[0] == 'W') announced.Withdraw(opener);
            if (step[0] == 'F') announced.Forget(opener);
            if (step[0] == 'T' && announced.Take()) ++taken;
        }
        EXPECT_EQ(c.left, announced.Count()) << c.steps;
        EXPECT_EQ(c.taken, taken) << c.steps;
    }
}

TEST(PopupFilter, OnlyABrowserThatShowsNothingYetCanBeAPopup) {
    for (const char* nothing : {static_cast<const char*>(nullptr), "", "about:blank", "About:Blank"})
        EXPECT_TRUE(ShowsNoPageYet(nothing)) << (nothing ? nothing : "null");
    for (const char* page : {"http://news.example/", "about:blank#x", "about:blanket"})
        EXPECT_FALSE(ShowsNoPageYet(page)) << page;
}
