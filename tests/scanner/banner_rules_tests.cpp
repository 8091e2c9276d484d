#include <gtest/gtest.h>

#include <mbctype.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "scanner/banner_rules.h"

using namespace korvane;

TEST(MatchesBannerSize, EverySizeWithinThreePixelsAndNoFurther) {
    for (const BannerSize& size : BannerSizes) {
        const int w = size.width;
        const int h = size.height;
        EXPECT_TRUE(MatchesBannerSize(w, h)) << w << "x" << h;
        EXPECT_TRUE(MatchesBannerSize(w + 3, h - 3)) << w << "x" << h;
        EXPECT_TRUE(MatchesBannerSize(w - 3, h + 3)) << w << "x" << h;
        EXPECT_FALSE(MatchesBannerSize(w + 4, h)) << w << "x" << h;
        EXPECT_FALSE(MatchesBannerSize(w, h - 4)) << w << "x" << h;
    }
    EXPECT_TRUE(MatchesBannerSize(471, 57));
    EXPECT_FALSE(MatchesBannerSize(472, 60));
    EXPECT_TRUE(MatchesBannerSize(88, 31));
    EXPECT_FALSE(MatchesBannerSize(0, 0));
    EXPECT_FALSE(MatchesBannerSize(-468, -60));
    // Extreme sizes a page may report must not wrap into a match.
    EXPECT_FALSE(MatchesBannerSize(LONG_MIN, LONG_MIN));
    EXPECT_FALSE(MatchesBannerSize(LONG_MAX, 60));
    EXPECT_FALSE(MatchesBannerSize(468, LONG_MIN + 57));
}

TEST(IsBannerImage, ExemptMarksWinOverAdMarksAndSize) {
    struct Case {
        const char* address;
        long width, height;
        bool expected;
    } cases[] = {
        {"http://www.mit.edu/banner.gif", 468, 60, false},
        {"http://www.mit.edu/banner.gif?id=1", 468, 60, false},
        {"http://www.w3.org/ads/x.gif", 10, 10, false},
        {"http://www.nasa.gov/ad/x.gif", 468, 60, false},
        {"http://www.cam.edu.au/x.gif", 468, 60, false},
        {"http://www.fsf.org.uk/x.gif", 468, 60, false},
        {"http://data.gov.uk/x.gif", 468, 60, false},
        {"http://example.com/img/logo.gif?v=2", 10, 10, true},
        {"http://example.com/cgi?a=1", 0, 0, true},
        {"http://example.com/x.gif;jsessionid", 10, 10, true},
        {"http://example.com/a&b.gif", 10, 10, true},
        {"http://example.com/ads/x.gif", 10, 10, true},
        {"http://example.com/admin/x.gif", 10, 10, true},
        {"http://ad.example.com/x.gif", 10, 10, true},
        {"http://example.com/x_ad.gif", 10, 10, true},
        {"http://example.com/load/x.gif", 10, 10, true},  // "ad/" inside a name
        {"http://example.com/a/x.gif", 10, 10, true},
        {"http://example.com/promo/x.gif", 10, 10, true},
        {"http://example.com/promo_1.gif", 10, 10, true},
        {"http://example.com/big_promo.gif", 10, 10, true},
        {"http://example.com/logo.gif", 468, 60, true},
        {"http://example.com/logo.gif", 471, 57, true},
        {"http://example.com/logo.gif", 472, 60, false},
        {"http://example.com/logo.gif", 100, 100, false},
        {"", 88, 31, true},
        {"", 0, 0, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, IsBannerImage(c.address, c.width, c.height))
            << c.address << " " << c.width << "x" << c.height;
}

TEST(IsBannerImage, AddressInCapitalsIsTestedLowerCased) {
    AnsiString address("HTTP://WWW.STATE.EDU/BANNER.GIF?ID=7");
    LowerCase(address);
    EXPECT_STREQ("http://www.state.edu/banner.gif?id=7", address.c_str());
    EXPECT_FALSE(IsBannerImage(address.c_str(), 468, 60));

    AnsiString adServer("HTTP://EXAMPLE.COM/ADS/TOP.GIF");
    LowerCase(adServer);
    EXPECT_TRUE(IsBannerImage(adServer.c_str(), 1, 1));
}

TEST(FindMediaTag, PrefersImgWhereverItStands) {
    const char* text = "<OBJECT ><EMBED ><IMG >";
    EXPECT_EQ(text + 17, FindMediaTag(text));
    const char* noImg = "<OBJECT ><EMBED >";
    EXPECT_EQ(noImg + 9, FindMediaTag(noImg));
    const char* objectOnly = "X<OBJECT CLASSID=1>";
    EXPECT_EQ(objectOnly + 1, FindMediaTag(objectOnly));
    EXPECT_EQ(nullptr, FindMediaTag("<IMG>"));  // the trailing space is part of the mark
    EXPECT_EQ(nullptr, FindMediaTag("<img src=x>"));  // marks are upper case
    EXPECT_EQ(nullptr, FindMediaTag(""));
    EXPECT_EQ(nullptr, FindMediaTag(nullptr));
}

TEST(IsAdContainerMarkup, OneOrTwoMediaTagsFoundByTheChain) {
    struct Case {
        const char* markup;
        bool expected;
    } cases[] = {
        {"", false},
        {"<P>TEXT ONLY</P>", false},
        {"<IMG SRC=\"B.GIF\">", true},
        {"<A HREF=X><IMG SRC=A></A><EMBED SRC=B>", true},
        {"<IMG SRC=1><IMG SRC=2>", true},
        {"<IMG SRC=1><IMG SRC=2><IMG SRC=3>", false},
        {"<EMBED ><EMBED ><EMBED >", false},
        {"<OBJECT ><OBJECT >", true},
        // The OBJECT before the first IMG is never reached.
        {"<OBJECT DATA=X></OBJECT><IMG SRC=1><IMG SRC=2>", true},
        {"<EMBED SRC=X><IMG SRC=1><IMG SRC=2>", true},
        {"<IMG SRC=1><EMBED SRC=X><EMBED SRC=Y>", false},
        {"<IMG\tSRC=1>", false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, IsAdContainerMarkup(c.markup)) << c.markup;

    AnsiString markup("<div><img src=a.gif></div>");
    UpperCase(markup);
    EXPECT_STREQ("<DIV><IMG SRC=A.GIF></DIV>", markup.c_str());
    EXPECT_TRUE(IsAdContainerMarkup(markup.c_str()));
}

TEST(IsAdContainerMarkup, LongMarkupIsSearchedWhole) {
    std::string markup(300000, 'X');
    markup += "<IMG SRC=1>";
    EXPECT_TRUE(IsAdContainerMarkup(markup.c_str()));
    markup += std::string(300000, 'Y') + "<IMG SRC=2><IMG SRC=3>";
    EXPECT_FALSE(IsAdContainerMarkup(markup.c_str()));
}

// The reference is the chain as written out: three searches on an
// upper-cased copy, each starting four bytes past the tag before.
TEST(MediaTagChain, AgreesWithTheChainOfSearchesFedInAnyPieces) {
    auto reference = [](std::string markup) {
        for (char& c : markup) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        const char* at = markup.c_str();
        int found = 0;
        for (; found < 3; ++found) {
            at = FindMediaTag(at);
            if (!at) break;
            at += 4;
        }
        return found == 1 || found == 2;
    };
    const char* const pieces[] = {"<IMG ", "<img ", "<EMBED ", "<Embed ", "<OBJECT ", "<object ",
                                  "<", "<IM", "<IMG", "x", " ", "<EM<EMBED "};
    unsigned seed = 12345;
    auto next = [&seed](unsigned bound) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % bound;
    };
    for (int round = 0; round < 4000; ++round) {
        std::string markup;
        for (unsigned n = next(9); n > 0; --n) markup += pieces[next(12)];
        const bool expected = reference(markup);
        ASSERT_EQ(expected, IsAdContainerMarkup(markup.c_str())) << markup;
        MediaTagChain chain;
        for (size_t at = 0; at < markup.size();) {
            const size_t length = 1 + next(4);
            chain.Feed(markup.data() + at, std::min(length, markup.size() - at));
            at += length;
        }
        ASSERT_EQ(expected, chain.IsAdContainer()) << markup << " in pieces";
    }
    // Nothing after a NUL counts, as for a C string.
    MediaTagChain ended;
    ended.Feed("<IMG \0<IMG <IMG ", 17);
    EXPECT_TRUE(ended.Decided());
    EXPECT_TRUE(ended.IsAdContainer());
}

// Marks begin on character boundaries only: in a double-byte code page a
// trail byte that looks like a letter starts none. (Set through the C
// runtime, as the browser's own code page would be.)
TEST(IsBannerImage, MarksStartOnCharacterBoundariesOnly) {
    ASSERT_EQ(0, _setmbcp(932));
    // 0x82 0x61 is one character: no "ad/" begins at its second byte.
    const bool inside = IsBannerImage("http://example.com/x\x82" "ad/y.gif", 10, 10);
    const bool after = IsBannerImage("http://example.com/x\x82\x61" "ad/y.gif", 10, 10);
    // As the C runtime reads it, the byte after a lead byte belongs to its
    // character, whatever it is.
    const bool tagInside = IsAdContainerMarkup("\x82<IMG >");
    const bool tagAfter = IsAdContainerMarkup("\x82\x61<IMG >");
    _setmbcp(_MB_CP_ANSI);
    EXPECT_FALSE(inside);
    EXPECT_TRUE(after);
    EXPECT_FALSE(tagInside);
    EXPECT_TRUE(tagAfter);
    EXPECT_TRUE(IsBannerImage("http://example.com/x\x82" "ad/y.gif", 10, 10));
}

TEST(LeadingInteger, ReadsSizesWrittenAsText) {
    EXPECT_EQ(468, LeadingInteger("468"));
    EXPECT_EQ(468, LeadingInteger("468px"));
    EXPECT_EQ(100, LeadingInteger("100%"));
    EXPECT_EQ(60, LeadingInteger(" 60"));
    EXPECT_EQ(-5, LeadingInteger("-5"));
    EXPECT_EQ(0, LeadingInteger("px"));
    EXPECT_EQ(0, LeadingInteger(""));
    EXPECT_EQ(0, LeadingInteger(nullptr));
    EXPECT_EQ(LONG_MAX, LeadingInteger("99999999999999999999"));
    EXPECT_EQ(LONG_MIN, LeadingInteger("-99999999999999999999"));
}
