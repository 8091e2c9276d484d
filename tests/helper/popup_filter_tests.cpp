#include <gtest/gtest.h>

#include <mbctype.h>

#include <cstring>
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

TEST(Judgement, BlankTargetIsLetThroughOnlyInsideAFrame) {
    EXPECT_TRUE(IsFrameBlankTarget(true, "_blank"));
    EXPECT_FALSE(IsFrameBlankTarget(false, "_blank"));
    EXPECT_FALSE(IsFrameBlankTarget(true, "_BLANK"));
    EXPECT_FALSE(IsFrameBlankTarget(true, "main"));
}

TEST(PopupFilter, OnlyABrowserThatShowsNothingYetCanBeAPopup) {
    for (const char* nothing : {static_cast<const char*>(nullptr), "", "about:blank", "About:Blank"})
        EXPECT_TRUE(ShowsNoPageYet(nothing)) << (nothing ? nothing : "null");
    for (const char* page : {"http://news.example/", "about:blank#x", "about:blanket"})
        EXPECT_FALSE(ShowsNoPageYet(page)) << page;
}
