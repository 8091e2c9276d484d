// The page scan over real pages written by other people: every page scans
// cleanly in every situation, and on a few of them the changes are checked
// against what the rules give when followed by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scanner/scan_harness.h"
#include "scanner/target_rules.h"
#include "state/string_ring.h"
#include "support/test_support.h"

using namespace korvane;
using namespace korvane::test;

namespace {

// The corpus is read where it lies, never copied into the project.
std::string CorpusDirectory() { return KORVANE_PAGE_CORPUS "/"; }

bool CorpusPresent() {
    const DWORD attributes = GetFileAttributesA(CorpusDirectory().c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsPage(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    std::string extension = name.substr(dot);
    for (char& c : extension) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return extension == ".htm" || extension == ".html";
}

// Pages below folder, with paths relative to the corpus (framesets sit in
// folders of their own with their frames).
void ListPages(const std::string& folder, std::vector<std::string>* pages) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((CorpusDirectory() + folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListPages(folder + name + "/", pages);
        else if (IsPage(name))
            pages->push_back(folder + name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

std::string ReadPage(const std::string& relative) {
    return ReadFileBytes(CorpusDirectory() + relative);
}

std::shared_ptr<standin::Document> Load(const std::string& relative, const std::string& url) {
    return standin::Document::Parse(ReadPage(relative), url);
}

bool IsReserved(const std::string& name) {
    for (const char* reserved : ReservedTargetNames)
        if (name == reserved) return true;
    return false;
}

// What every target of a scanned page must look like afterwards: named, and
// in the top document never a name that opens a window the popup filter
// does not know.
void ExpectTargetsNamed(standin::Document& page, bool top, const std::string& label) {
    for (const char* tag : {"a", "area", "form"}) {
        const long count = page.CountOf(tag);
        for (long i = 0; i < count; ++i) {
            const standin::ClickTarget click = page.FindClickable(tag, std::to_string(i));
            ASSERT_TRUE(click.found) << label << " " << tag << "#" << i;
            EXPECT_FALSE(click.target.empty()) << label << " " << tag << "#" << i;
            if (top)
                EXPECT_TRUE(IsReserved(click.target) || click.target.rfind("z9z", 0) == 0)
                    << label << " " << tag << "#" << i << " target " << click.target;
            else
                EXPECT_NE("_blank", click.target) << label << " " << tag << "#" << i;
        }
    }
}

Lines TitlesAndTargets(const std::string& base, const std::vector<std::string>& hrefs,
                       const std::string& target) {
    Lines writes;
    for (size_t i = 0; i < hrefs.size(); ++i) {
        writes.push_back("a#" + std::to_string(i) + " title = " + base + hrefs[i]);
        if (!target.empty()) writes.push_back("a#" + std::to_string(i) + " target = " + target);
    }
    return writes;
}

class RealPages : public ScanTest {
protected:
    void SetUp() override {
        ScanTest::SetUp();
        if (!CorpusPresent()) GTEST_SKIP() << "no page corpus at " << CorpusDirectory();
    }
};

}  // namespace

TEST_F(RealPages, EveryPageScansCleanlyInEverySituation) {
    std::vector<std::string> pages;
    ListPages("", &pages);
    ASSERT_GE(pages.size(), 25u);
    for (const std::string& relative : pages) {
        const std::string html = ReadPage(relative);
        ASSERT_FALSE(html.empty()) << relative;
        for (Window window : {Window::Top, Window::Frame})
            for (Event event : {Event::DocumentComplete, Event::DownloadComplete})
                for (Banners banners : {Banners::Blocked, Banners::Allowed}) {
                    const std::string label =
                        relative + (window == Window::Top ? " top" : " frame") +
                        (event == Event::DocumentComplete ? " DC" : " DLC") +
                        (banners == Banners::Blocked ? " blocked" : " allowed");
                    auto page =
                        standin::Document::Parse(html, "http://pages.example.com/" + relative);
                    How how{window, event, banners};
                    EXPECT_EQ(S_OK, Scan(*page, how)) << label;
                    ExpectTargetsNamed(*page, window == Window::Top, label);
                    // And again, as the browser does on every DownloadComplete.
                    EXPECT_EQ(S_OK, Scan(*page, how)) << label << " again";
                }
    }
}

// One 468 by 60 banner, fifteen links without targets.
TEST_F(RealPages, LinuxToday2000) {
    const std::vector<std::string> hrefs = {
        "http://linuxtoday.com/cgi-bin/click.pl?adnum=49",
        "http://linux.com/",
        "http://linuxtoday.com/",
        "http://features.linuxtoday.com/",
        "http://commercial.linuxtoday.com/",
        "http://security.linuxtoday.com/",
        "http://jobs.linuxtoday.com/",
        "http://linuxtoday.com/volt/",
        "http://linuxtoday.com/contrib.pl",
        "http://linuxtoday.com/advertise/",
        "http://linuxtoday.com/search.html",
        "http://linuxtoday.com/digests/",
        "http://linuxtoday.com/mail-lists",
        "http://linuxtoday.com/about/",
        "http://linuxtoday.com/linkus.html",
    };
    auto page = Load("05-linuxtoday-2000.html", "http://linuxtoday.com/");
    EXPECT_EQ(S_OK, Scan(*page));
    Lines expected = {"body#0 onunload = VT_BSTR(null)", "img#0 width = 0", "img#0 height = 0",
                      "img#0 alt = (null)"};
    const Lines links = TitlesAndTargets("", hrefs, "_self");
    expected.insert(expected.end(), links.begin(), links.end());
    EXPECT_EQ(expected, Writes(*page));
    EXPECT_TRUE(TheKnownTargetNames().Contains("_self"));

    // Again: the banner is 0 by 0 now and its address is no ad server's; the
    // links keep "_self", so only the titles are written once more.
    page->ClearWrites();
    EXPECT_EQ(S_OK, Scan(*page));
    expected = {"body#0 onunload = VT_BSTR(null)"};
    const Lines titles = TitlesAndTargets("", hrefs, "");
    expected.insert(expected.end(), titles.begin(), titles.end());
    EXPECT_EQ(expected, Writes(*page));
}

// FrontPage page with <base target="contents"> and a hit counter image whose
// address carries a query.
TEST_F(RealPages, DallasShellFrontPage2003) {
    const std::vector<std::string> hrefs = {"old_sym.htm", "SYM/SYMDOS2/sym1.htm",
                                            "SYM/SYMDOS2/symdos2.htm",
                                            "SYM/SYM%20Projects/SYM%20Projects.htm"};

    // On a .com site the counter's query marks it as an ad; every link opens
    // in the base target, which the top document renames.
    auto top = Load("08-dallas-shell-frontpage-2003.html", "http://dallas.example.com/default.htm");
    EXPECT_EQ(S_OK, Scan(*top));
    Lines expected = {"body#0 onunload = VT_BSTR(null)", "img#0 width = 0", "img#0 height = 0",
                      "img#0 alt = (null)", "base#0 target = z9zcontents"};
    Lines links = TitlesAndTargets("http://dallas.example.com/", hrefs, "z9zcontents");
    expected.insert(expected.end(), links.begin(), links.end());
    EXPECT_EQ(expected, Writes(*top));
    EXPECT_TRUE(TheKnownTargetNames().Contains("z9zcontents"));

    // Served from a .org site the counter is exempt; in a frame the base
    // target is kept and handed to the links unchanged.
    auto frame =
        Load("08-dallas-shell-frontpage-2003.html", "http://www.6502.org/dallas/default.htm");
    How inFrame;
    inFrame.window = Window::Frame;
    EXPECT_EQ(S_OK, Scan(*frame, inFrame));
    expected = {"body#0 onunload = VT_BSTR(null)"};
    links = TitlesAndTargets("http://www.6502.org/dallas/", hrefs, "contents");
    expected.insert(expected.end(), links.begin(), links.end());
    EXPECT_EQ(expected, Writes(*frame));
    EXPECT_TRUE(TheKnownTargetNames().Contains("contents"));
}

// Flash banners: three OBJECT/EMBED pairs, one of them 468 by 60, each pair
// in a positioned DIV of its own.
TEST_F(RealPages, OceanWebBannerAds2000) {
    const std::vector<std::string> hrefs = {"home.htm",     "about.htm",     "websites.htm",
                                            "bannerads.htm", "networks.htm", "databases.htm",
                                            "consultants.htm", "wap.htm",   "contact.htm",
                                            "legal.htm"};
    const std::string base = "http://www.oceanwebsystems.com/";
    Lines expected = {"body#0 onunload = VT_BSTR(null)",
                      "object#2 width = VT_BSTR(null)", "object#2 height = VT_BSTR(null)",
                      "embed#2 width = VT_BSTR(null)",  "embed#2 height = VT_BSTR(null)",
                      // websitedesign, webdesign and oceanweb1 hold one pair each;
                      // webpagedesign and databases (and their inner DIVs) none.
                      "div#0 visibility = hidden", "div#3 visibility = hidden",
                      "div#4 visibility = hidden"};
    const Lines links = TitlesAndTargets(base, hrefs, "_self");
    expected.insert(expected.end(), links.begin(), links.end());

    auto page = Load("06-oceanweb-banner-ads-2000.html", base + "bannerads.htm");
    EXPECT_EQ(S_OK, Scan(*page));
    EXPECT_EQ(expected, Writes(*page));

    // DownloadComplete: the same without the DIVs.
    auto downloaded = Load("06-oceanweb-banner-ads-2000.html", base + "bannerads.htm");
    How how;
    how.event = Event::DownloadComplete;
    EXPECT_EQ(S_OK, Scan(*downloaded, how));
    const Lines unloadAndPlugins(expected.begin(), expected.begin() + 5);
    EXPECT_EQ(unloadAndPlugins, WritesWith(*downloaded, "VT_BSTR(null)"));
    EXPECT_EQ(Lines{}, WritesWith(*downloaded, "visibility"));
}

// Fifty-two links whose target is literally _blank" (a stray quote), one
// proper "_blank", image maps without targets, and many small image DIVs.
TEST_F(RealPages, UsGenWeb2006) {
    RewindBlankCounter();
    auto page = Load("14-usgenweb-2006.html", "http://www.usgenweb.org/index.shtml");
    EXPECT_EQ(S_OK, Scan(*page));

    // Sixty-seven links, then the seven areas; none of them has a target but
    // the 52 stray-quote links (a#4 to a#55) and the proper "_blank" (a#57).
    Lines expected;
    for (int i = 0; i <= 66; ++i) {
        std::string target = "_self";
        if (i >= 4 && i <= 55) target = "z9z_blank\"";
        if (i == 57) target = Blank(0);
        expected.push_back("a#" + std::to_string(i) + " target = " + target);
    }
    for (int i = 0; i <= 6; ++i)
        expected.push_back("area#" + std::to_string(i) + " target = _self");
    EXPECT_EQ(expected, WritesWith(*page, " target = "));
    EXPECT_EQ(1, BlankTargetCounter()) << "only the one proper _blank takes a number";
    EXPECT_TRUE(TheKnownTargetNames().Contains("z9z_blank\""));
    EXPECT_TRUE(TheKnownTargetNames().Contains(Blank(0).c_str()));

    // Every image lies under .org/: none is hidden. Fifteen DIVs hold one or
    // two images (div#4, the centre column, holds the two photographs: the
    // page leaves its paragraphs and DIVs open, and the browser closes them
    // before the column ends); div#8, #13, #16 and #17 stay visible.
    EXPECT_EQ(Lines{}, WritesWith(*page, "img#"));
    Lines hidden;
    for (int i : {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 14, 15, 18})
        hidden.push_back("div#" + std::to_string(i) + " visibility = hidden");
    EXPECT_EQ(hidden, WritesWith(*page, "visibility"));

    // In a frame only the proper "_blank" changes; _blank" stays and is known.
    auto frame = Load("14-usgenweb-2006.html", "http://www.usgenweb.org/index.shtml");
    How inFrame;
    inFrame.window = Window::Frame;
    EXPECT_EQ(S_OK, Scan(*frame, inFrame));
    EXPECT_EQ(Lines{"a#57 target = " + Blank(1)}, WritesWith(*frame, "z9z"));
    EXPECT_EQ(0u, WritesWith(*frame, "_blank\"").size());
    EXPECT_TRUE(TheKnownTargetNames().Contains("_blank\""));
}
