// The page scan over parsed documents: which phases run, what each writes,
// how it fails, and that every reference and string it takes is given back.
#include <gtest/gtest.h>

#include <new>
#include <string>
#include <utility>
#include <vector>

#include "scanner/banner_rules.h"
#include "scanner/failing_allocator.h"
#include "scanner/recording_document.h"
#include "scanner/scan_harness.h"
#include "scanner/target_rules.h"
#include "state/string_ring.h"

using namespace korvane;
using namespace korvane::test;
using Microsoft::WRL::ComPtr;

namespace {

const char kUrl[] = "http://www.example.com/news/index.html";

std::shared_ptr<standin::Document> Parse(const std::string& body,
                                         const standin::DomOptions& options = {}) {
    return standin::Document::Parse("<html><head><title>t</title></head><body>" + body +
                                        "</body></html>",
                                    kUrl, options);
}

// One element of every kind a phase looks at, each one a banner or without
// a target, so that every phase that runs leaves a write.
const char kOneOfEach[] =
    "<img src=\"/b.gif\" width=468 height=60>"
    "<object width=\"468\" height=\"60\"></object>"
    "<embed width=\"468\" height=\"60\">"
    "<div><img src=\"/small.gif\" width=10 height=10></div>"
    "<a href=\"/one.html\">one</a>"
    "<map name=m><area href=\"/two.html\"></map>"
    "<form action=\"/go\"></form>";

const Lines kUnloadWrites = {"body#0 onunload = VT_BSTR(null)"};
const Lines kImageWrites = {"img#0 width = 0", "img#0 height = 0", "img#0 alt = (null)"};
const Lines kPluginWrites = {"object#0 width = VT_BSTR(null)", "object#0 height = VT_BSTR(null)",
                             "embed#0 width = VT_BSTR(null)", "embed#0 height = VT_BSTR(null)"};
const Lines kDivWrites = {"div#0 visibility = hidden"};
const Lines kTargetWrites = {"a#0 title = http://www.example.com/one.html", "a#0 target = _self",
                             "area#0 target = _self", "form#0 target = _self"};

Lines Join(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

}  // namespace

TEST_F(ScanTest, PhasesRunInOrderAndOnlyWhenTheirConditionsHold) {
    EXPECT_TRUE(standin::BstrTrackingActive()) << "leaked strings would go unnoticed";
    struct Case {
        Event event;
        Banners banners;
        Lines expected;
    } cases[] = {
        {Event::DocumentComplete, Banners::Blocked,
         Join({kUnloadWrites, kImageWrites, kPluginWrites, kDivWrites, kTargetWrites})},
        // DIV markup is only judged once the document is complete.
        {Event::DownloadComplete, Banners::Blocked,
         Join({kUnloadWrites, kImageWrites, kPluginWrites, kTargetWrites})},
        {Event::DocumentComplete, Banners::Allowed, Join({kUnloadWrites, kTargetWrites})},
        {Event::DownloadComplete, Banners::Allowed, Join({kUnloadWrites, kTargetWrites})},
    };
    for (const Case& c : cases) {
        auto page = Parse(kOneOfEach);
        How how;
        how.event = c.event;
        how.banners = c.banners;
        EXPECT_EQ(S_OK, Scan(*page, how));
        EXPECT_EQ(c.expected, Writes(*page))
            << (c.event == Event::DocumentComplete ? "DocumentComplete" : "DownloadComplete")
            << (c.banners == Banners::Blocked ? ", banners blocked" : ", banners allowed");
    }
}

TEST_F(ScanTest, FramesetLosesItsUnloadHandlerInTheTopScan) {
    auto page = standin::Document::Parse(
        "<html><frameset rows=\"50%,50%\" onunload=\"window.open('x')\">"
        "<frame name=top src=a.html><frame name=main src=b.html></frameset></html>",
        kUrl);
    EXPECT_EQ(S_OK, Scan(*page));
    EXPECT_EQ(Lines{"frameset#0 onunload = VT_BSTR(null)"}, WritesWith(*page, "onunload"));
}

TEST_F(ScanTest, TopDocumentNamesEveryNewWindowAndAFrameOnlyBlankOnes) {
    const char html[] =
        "<a href=\"/1\" target=\"_blank\">1</a>"
        "<a href=\"/2\" target=\"main\">2</a>"
        "<a href=\"/3\" target=\"_BLANK\">3</a>"
        "<a href=\"/4\" target=\"_self\">4</a>"
        "<a href=\"/5\">5</a>"
        "<map name=m><area href=\"/6\" target=\"_blank\"></map>"
        "<form action=\"/7\" target=\"results\"></form>";
    RewindBlankCounter();

    auto top = Parse(html);
    const int ringBefore = TheKnownTargetNames().End();
    EXPECT_EQ(S_OK, Scan(*top));
    EXPECT_EQ((Lines{"a#0 target = " + Blank(0), "a#1 target = z9zmain", "a#2 target = z9z_BLANK",
                     "a#4 target = _self", "area#0 target = " + Blank(1),
                     "form#0 target = z9zresults"}),
              WritesWith(*top, " target = "));
    for (const std::string& name :
         {Blank(0), std::string("z9zmain"), std::string("z9z_BLANK"), std::string("_self"),
          Blank(1), std::string("z9zresults")})
        EXPECT_TRUE(TheKnownTargetNames().Contains(name.c_str())) << name;
    EXPECT_NE(ringBefore, TheKnownTargetNames().End());
    // Each with the address of its element, a form's up to the query.
    EXPECT_TRUE(TheKnownTargetNames().Leads("z9zmain", LinkAddressKey("http://www.example.com/2")));
    EXPECT_TRUE(TheKnownTargetNames().Leads("z9zresults", FormAddressKey("http://www.example.com/7?q=1")));
    EXPECT_FALSE(TheKnownTargetNames().Leads("z9zmain", LinkAddressKey("http://www.example.com/7")));

    auto frame = Parse(html);
    How inFrame;
    inFrame.window = Window::Frame;
    EXPECT_EQ(S_OK, Scan(*frame, inFrame));
    EXPECT_EQ((Lines{"a#0 target = " + Blank(2), "a#4 target = _self",
                     "area#0 target = " + Blank(3)}),
              WritesWith(*frame, " target = "));
    for (const char* name : {"main", "_BLANK", "results"})
        EXPECT_TRUE(TheKnownTargetNames().Contains(name)) << name;
}

// The filter could never recognise a name longer than it keeps, so none is
// written: the window is judged as the page named it.
TEST_F(ScanTest, TargetWhoseNewNameWouldBeTooLongToKeepIsLeftAlone) {
    const std::string name(kLongestRingEntry - 2, 'n');  // one byte too many with "z9z"
    auto top = Parse("<a href=\"/1\" target=\"" + name + "\">1</a>");
    EXPECT_EQ(S_OK, Scan(*top));
    EXPECT_EQ(Lines{}, WritesWith(*top, " target = "));
}

TEST_F(ScanTest, SecondScanOfTheTopDocumentStopsAtTheFirstRewrittenTarget) {
    const char html[] =
        "<a href=\"/1\" target=\"_blank\">1</a>"
        "<a href=\"/2\" target=\"news\">2</a>"
        "<a href=\"/3\">3</a>"
        "<map name=m><area href=\"/4\" target=\"_blank\"></map>"
        "<form action=\"/5\"></form>";
    auto page = Parse(html);
    EXPECT_EQ(S_OK, Scan(*page));
    EXPECT_EQ(5u, WritesWith(*page, " target = ").size());

    page->ClearWrites();
    const int counter = BlankTargetCounter();
    EXPECT_EQ(S_OK, Scan(*page));
    // The title is written before the target is judged; nothing after it.
    EXPECT_EQ((Lines{"body#0 onunload = VT_BSTR(null)", "a#0 title = http://www.example.com/1"}),
              Writes(*page));
    EXPECT_EQ(counter, BlankTargetCounter());

    // A frame keeps its rewritten names, so its later scans run to the end.
    // The form refuses its target in the first scan only, so that the second
    // shows it reached the last phase.
    auto frame = Parse(html);
    How inFrame;
    inFrame.window = Window::Frame;
    frame->InjectedFailures().writeFail = {{{"form", 0}, "target"}};
    EXPECT_EQ(S_OK, Scan(*frame, inFrame));
    frame->InjectedFailures().writeFail.clear();
    frame->ClearWrites();
    EXPECT_EQ(S_OK, Scan(*frame, inFrame));
    EXPECT_EQ((Lines{"a#0 title = http://www.example.com/1", "a#1 title = http://www.example.com/2",
                     "a#2 title = http://www.example.com/3", "form#0 target = _self"}),
              WritesWith(*frame, {"a#", "area#", "form#"}));
}

TEST_F(ScanTest, OwnPrefixOnAPageNeverScannedEndsTheScanThere) {
    auto page = Parse(
        "<a href=\"/1\">1</a><a href=\"/2\" target=\"z9zlookalike\">2</a><a href=\"/3\">3</a>"
        "<form action=\"/4\"></form>");
    EXPECT_EQ(S_OK, Scan(*page));
    EXPECT_EQ((Lines{"a#0 target = _self"}), WritesWith(*page, " target = "));
    EXPECT_EQ(2u, WritesWith(*page, " title = ").size());
}

TEST_F(ScanTest, CounterWrapsAfterTwentyAndTheRingKeepsOneCopy) {
    RewindBlankCounter();
    std::string html;
    for (int i = 0; i <= 20; ++i)
        html += "<a href=\"/" + std::to_string(i) + "\" target=_blank>x</a>";
    auto page = Parse(html);
    EXPECT_EQ(S_OK, Scan(*page));
    Lines expected;
    for (int i = 0; i <= 20; ++i)
        expected.push_back("a#" + std::to_string(i) + " target = " + Blank(i));
    EXPECT_EQ(expected, WritesWith(*page, " target = "));
    EXPECT_EQ(0, BlankTargetCounter());

    const int ringEnd = TheKnownTargetNames().End();
    auto again = Parse("<a href=\"/again\" target=_blank>again</a>");
    EXPECT_EQ(S_OK, Scan(*again));
    EXPECT_EQ(Lines{"a#0 target = " + Blank(0)}, WritesWith(*again, " target = "));
    EXPECT_EQ(ringEnd, TheKnownTargetNames().End()) << "z9z0_blank was already known";
}

TEST_F(ScanTest, BaseTargetsBecomeTheDefaultAndTheLastBaseWins) {
    RewindBlankCounter();
    // Two bases: the first is rewritten, the second is kept and wins.
    auto two = standin::Document::Parse(
        "<html><head><base target=\"frameA\"><base target=\"_parent\"></head><body>"
        "<a href=\"/1\">1</a><map name=m><area href=\"/2\"></map><form></form></body></html>",
        kUrl);
    EXPECT_EQ(S_OK, Scan(*two));
    EXPECT_EQ((Lines{"base#0 target = z9zframeA", "a#0 target = _parent", "area#0 target = _parent",
                     "form#0 target = _parent"}),
              WritesWith(*two, " target = "));
    EXPECT_TRUE(TheKnownTargetNames().Contains("z9zframeA"));
    EXPECT_TRUE(TheKnownTargetNames().Contains("_parent"));

    // A "_blank" base: every targetless link, area and form shares its name.
    auto blank = standin::Document::Parse(
        "<html><head><base target=\"_blank\"></head><body>"
        "<a href=\"/1\">1</a><a href=\"/2\" target=\"_top\">2</a>"
        "<map name=m><area href=\"/3\"></map><form></form></body></html>",
        kUrl);
    EXPECT_EQ(S_OK, Scan(*blank));
    EXPECT_EQ((Lines{"base#0 target = " + Blank(0), "a#0 target = " + Blank(0),
                     "area#0 target = " + Blank(0), "form#0 target = " + Blank(0)}),
              WritesWith(*blank, " target = "));
    EXPECT_EQ(1, BlankTargetCounter());
    // Each element that received the base's name is kept with its address,
    // a form without an action with its page's; one with a target of its
    // own is not.
    const KnownTargetNames& names = TheKnownTargetNames();
    EXPECT_TRUE(names.Leads(Blank(0).c_str(), LinkAddressKey("http://www.example.com/3")) &&
                names.Leads(Blank(0).c_str(), FormAddressKey(kUrl)));
    EXPECT_FALSE(names.Leads(Blank(0).c_str(), LinkAddressKey("http://www.example.com/2")));

    // In a frame a named base target is kept and handed on as it is.
    auto frame = standin::Document::Parse(
        "<html><head><base target=\"contents\"></head><body><a href=\"/1\">1</a></body></html>",
        kUrl);
    How inFrame;
    inFrame.window = Window::Frame;
    EXPECT_EQ(S_OK, Scan(*frame, inFrame));
    EXPECT_EQ((Lines{"a#0 target = contents"}), WritesWith(*frame, " target = "));
    EXPECT_TRUE(TheKnownTargetNames().Contains("contents"));
}

TEST_F(ScanTest, LinkTitlesShowTheirAddress) {
    auto page = Parse(
        "<a href=\"/own\" title=\"Own words\" target=\"_self\">1</a>"
        "<a name=\"anchor-only\">2</a>"
        "<a href=\"http://other.example.org/x?y=1\">3</a>");
    EXPECT_EQ(S_OK, Scan(*page));
    // An anchor without an address reads as the empty string, and that is
    // what its title becomes.
    EXPECT_EQ((Lines{"a#0 title = http://www.example.com/own", "a#1 title = ",
                     "a#2 title = http://other.example.org/x?y=1"}),
              WritesWith(*page, " title = "));
}

TEST_F(ScanTest, ImagesAreJudgedByAddressFirstAndThenBySize) {
    standin::DomOptions options;
    options.imageSizes = {{"rendered.gif", 88, 31}};
    auto page = Parse(
        "<img src=\"http://www.mit.edu/banner.gif\" width=468 height=60>"     // 0 exempt
        "<img src=\"/ads/logo.gif\" width=10 height=10>"                       // 1 "/ad"
        "<img src=\"/img/x.gif?id=2\" width=10 height=10>"                     // 2 "?"
        "<img src=\"HTTP://WWW.STATE.EDU/AD/TOP.GIF?X=1\" width=468 height=60>"  // 3 exempt
        "<img src=\"/pic.gif\" width=471 height=57>"                           // 4 size
        "<img src=\"/pic.gif\" width=472 height=60>"                           // 5 off by 4
        "<img src=\"/pic.gif\" width=468 height=64>"                           // 6 off by 4
        "<img src=\"/rendered.gif\">",                                         // 7 loaded 88x31
        options);
    How downloaded;
    downloaded.event = Event::DownloadComplete;
    EXPECT_EQ(S_OK, Scan(*page, downloaded));
    Lines expected;
    for (int i : {1, 2, 4, 7})
        for (const char* write : {" width = 0", " height = 0", " alt = (null)"})
            expected.push_back("img#" + std::to_string(i) + write);
    EXPECT_EQ(expected, WritesWith(*page, "img#"));

    // Again: images hidden by size are 0 by 0 now; those hidden by address
    // are hidden once more.
    page->ClearWrites();
    EXPECT_EQ(S_OK, Scan(*page, downloaded));
    expected.clear();
    for (int i : {1, 2})
        for (const char* write : {" width = 0", " height = 0", " alt = (null)"})
            expected.push_back("img#" + std::to_string(i) + write);
    EXPECT_EQ(expected, WritesWith(*page, "img#"));
}

TEST_F(ScanTest, PluginSizesAreReadAsTextWithLeadingDigits) {
    auto page = Parse(
        "<object width=\"468px\" height=\"60px\"></object>"  // 0 hidden
        "<object width=\"100%\" height=\"60\"></object>"     // 1 100 by 60
        "<object width=\"468\"></object>"                    // 2 no height
        "<object width=\"wide\" height=\"60\"></object>"     // 3 0 by 60
        "<embed width=\"88\" height=\"31\">"                 // 0 hidden
        "<embed width=\"235\" height=\"57\">"                // 1 hidden, within 3
        "<embed width=\"468\" height=\"56\">");             // 2 off by 4
    EXPECT_EQ(S_OK, Scan(*page));
    EXPECT_EQ((Lines{"object#0 width = VT_BSTR(null)", "object#0 height = VT_BSTR(null)",
                     "embed#0 width = VT_BSTR(null)", "embed#0 height = VT_BSTR(null)",
                     "embed#1 width = VT_BSTR(null)", "embed#1 height = VT_BSTR(null)"}),
              WritesWith(*page, {"object#", "embed#"}));

    // A cleared size reads as no text at all and is left alone.
    page->ClearWrites();
    EXPECT_EQ(S_OK, Scan(*page));
    EXPECT_EQ(Lines{}, WritesWith(*page, {"object#", "embed#"}));
}

TEST_F(ScanTest, ContainersWithOneOrTwoMediaTagsAreHidden) {
    auto page = Parse(
        "<div id=objectFirst><object data=\"x.swf\"></object>"
        "<img src=\"/1.gif\" width=5 height=5><img src=\"/2.gif\" width=5 height=5></div>"
        "<div id=three><img src=\"/1.gif\" width=5 height=5><img src=\"/2.gif\" width=5 height=5>"
        "<img src=\"/3.gif\" width=5 height=5></div>"
        "<div id=outer>text<div id=inner><img src=\"/1.gif\" width=5 height=5></div></div>"
        "<div id=plain><p>no media</p></div>"
        "<div id=imgAndEmbed><img src=\"/1.gif\" width=5 height=5><embed src=\"a.swf\"></div>");
    EXPECT_EQ(S_OK, Scan(*page));
    EXPECT_EQ((Lines{"div#0 visibility = hidden", "div#2 visibility = hidden",
                     "div#3 visibility = hidden", "div#5 visibility = hidden"}),
              WritesWith(*page, "visibility"));
}

// A DIV with more markup than an advertisement ever has holds the page's
// content: it stays visible, whatever media it holds.
TEST_F(ScanTest, ContainersWithMoreThan64KOfMarkupAreLeftAlone) {
    const std::wstring image = L"<IMG src=\"a.gif\">";
    for (size_t length : {kAdContainerMarkupLimit, kAdContainerMarkupLimit + 1}) {
        const std::wstring markup = image + std::wstring(length - image.size(), L'x');
        EXPECT_EQ(length == kAdContainerMarkupLimit, IsAdContainer(markup.c_str(), markup.size()))
            << length;
    }
    const std::string text(kAdContainerMarkupLimit, 'x');
    auto page = Parse("<div id=content><img src=\"/1.gif\" width=5 height=5>" + text + "</div>"
                      "<div id=ad><img src=\"/2.gif\" width=5 height=5></div>");
    EXPECT_EQ(S_OK, Scan(*page));
    EXPECT_EQ(Lines{"div#1 visibility = hidden"}, WritesWith(*page, "visibility"));
}

// DIVs are read innermost first, and one that encloses a DIV over the limit
// is left alone unread: its markup holds that DIV's. Every DIV is read
// before any is hidden, and the hiding goes in document order.
TEST_F(ScanTest, DivsAroundOneOverTheLimitAreNotRead) {
    const std::string image = "<img src=\"/1.gif\" width=5 height=5>";
    const std::string ad = "<div>" + image + "</div>";
    standin::DomOptions options;
    options.logReads = true;
    auto page = Parse("<div id=page><div id=outer>" + ad + "<div id=content>" + ad +
                          std::string(kAdContainerMarkupLimit, 'x') + "</div></div>" + ad +
                          "</div>" + ad,
                      options);
    EXPECT_EQ(S_OK, Scan(*page));
    EXPECT_EQ((Lines{"div#2 visibility = hidden", "div#4 visibility = hidden",
                     "div#5 visibility = hidden", "div#6 visibility = hidden"}),
              WritesWith(*page, "visibility"));
    Lines markupReads;
    for (const std::string& read : page->ReadLog())
        if (read.find("innerHTML") != std::string::npos) markupReads.push_back(read);
    EXPECT_EQ((Lines{"div#6 innerHTML", "div#5 innerHTML", "div#4 innerHTML", "div#3 innerHTML",
                     "div#2 innerHTML"}),
              markupReads);
}

TEST_F(ScanTest, TolerantPhasesSkipWhatFailsAndTheScanGoesOn) {
    standin::DomOptions options;
    options.failures.tagsFail = {"img"};
    options.failures.tagsNull = {"object"};
    options.failures.lengthFail = {"embed"};
    options.failures.readFail = {{{"div", 0}, "style"}};
    auto page = Parse(kOneOfEach, options);
    EXPECT_EQ(S_OK, Scan(*page));
    EXPECT_EQ(Join({kUnloadWrites, kTargetWrites}), Writes(*page));
}

TEST_F(ScanTest, StrictPhasesEndTheScanWithTheFailure) {
    standin::DomOptions failingAnchors;
    failingAnchors.failures.tagsFail = {"a"};
    auto page = standin::Document::Parse(
        "<html><head><base target=\"_blank\"></head><body><a href=\"/1\">1</a>"
        "<map name=m><area href=\"/2\"></map><form></form></body></html>",
        kUrl, failingAnchors);
    RewindBlankCounter();
    EXPECT_EQ(E_FAIL, Scan(*page));
    EXPECT_EQ((Lines{"base#0 target = " + Blank(0)}), WritesWith(*page, " target = "));

    standin::DomOptions failingFormCount;
    failingFormCount.failures.lengthFail = {"form"};
    auto counted = Parse(kOneOfEach, failingFormCount);
    EXPECT_EQ(E_FAIL, Scan(*counted));
    EXPECT_EQ((Lines{"a#0 target = _self", "area#0 target = _self"}),
              WritesWith(*counted, " target = "));

    // A collection that is not there skips its phase only.
    standin::DomOptions noAreas;
    noAreas.failures.tagsNull = {"area"};
    auto skipped = Parse(kOneOfEach, noAreas);
    EXPECT_EQ(S_OK, Scan(*skipped));
    EXPECT_EQ((Lines{"a#0 target = _self", "form#0 target = _self"}),
              WritesWith(*skipped, " target = "));
}

TEST_F(ScanTest, ElementsThatCannotBeReadAreSkippedOrReadAsEmpty) {
    standin::DomOptions options;
    options.failures.itemFail = {{"a", 1}};
    options.failures.missingInterfaces = {{{"a", 2}, IID_IHTMLAnchorElement},
                                          {{"a", 3}, IID_IHTMLElement}};
    options.failures.readFail = {{{"a", 4}, "target"}, {{"a", 5}, "href"}};
    options.failures.writeFail = {{{"a", 6}, "target"}};
    auto page = Parse(
        "<a href=\"/0\">0</a>"
        "<a href=\"/1\">1</a>"
        "<a href=\"/2\">2</a>"
        "<a href=\"/3\" target=\"_top\">3</a>"
        "<a href=\"/4\" target=\"_blank\">4</a>"
        "<a href=\"/5\">5</a>"
        "<a href=\"/6\" target=\"writeFailsHere\">6</a>",
        options);
    EXPECT_EQ(S_OK, Scan(*page));
    EXPECT_EQ((Lines{"a#0 title = http://www.example.com/0", "a#0 target = _self",
                     "a#4 title = http://www.example.com/4", "a#4 target = _self",
                     "a#5 title = (null)", "a#5 target = _self",
                     "a#6 title = http://www.example.com/6"}),
              WritesWith(*page, "a#"));
    // The name is known even though the page refused it.
    EXPECT_TRUE(TheKnownTargetNames().Contains("z9zwriteFailsHere"));
}

TEST_F(ScanTest, DocumentsThatCannotBeScannedAreLeftAlone) {
    auto page = Parse(kOneOfEach);

    EXPECT_EQ(S_OK, ScanPage(nullptr, nullptr, 1));

    {
        FakeBrowser failing(page->Html().Get(), E_ACCESSDENIED);
        EXPECT_EQ(E_ACCESSDENIED, ScanPage(&failing, &failing, 1));
    }
    {
        FakeBrowser empty(nullptr);
        EXPECT_EQ(S_OK, ScanPage(&empty, &empty, 1));
    }
    {
        // A folder view: a document that is not HTML.
        FakeBrowser folderView(nullptr);
        FakeBrowser browser(&folderView);
        EXPECT_EQ(S_OK, ScanPage(&browser, &browser, 1));
    }
    page->InjectedFailures().allResult = E_OUTOFMEMORY;
    EXPECT_EQ(E_OUTOFMEMORY, Scan(*page));
    page->InjectedFailures().allResult = S_OK;
    page->InjectedFailures().allNull = true;
    EXPECT_EQ(S_OK, Scan(*page));
    EXPECT_EQ(Lines{}, Writes(*page));
    EXPECT_EQ(0, page->LiveRefs());
}

// Memory can run out at any allocation of a scan; the scan is then abandoned
// by the exception, and still gives back every reference and string.
TEST_F(ScanTest, RunningOutOfMemoryAnywhereLeavesNothingBehind) {
    const std::string html = std::string(kOneOfEach) + "<a href=\"/n\" target=\"news\">n</a>" +
                             "<a href=\"/b\" target=_blank>b</a><div><div>" +
                             std::string(kAdContainerMarkupLimit, 'x') + "</div></div>";
    sharedState->blockBannerAds = 1;
    int abandoned = 0;
    for (long allowed = 0;; ++allowed) {
        auto page = Parse(html);
        bool refused = false;
        HRESULT result = E_UNEXPECTED;
        {
            FakeBrowser browser(page->Html().Get());
            try {
                AllocationFailure failure(allowed);
                result = ScanPage(&browser, &browser, 1);
                refused = failure.Refused();
            } catch (const std::bad_alloc&) {
                refused = true;
                ++abandoned;
            }
            EXPECT_EQ(0, browser.References()) << "after " << allowed << " allocations";
        }
        EXPECT_EQ(0, page->LiveRefs()) << "after " << allowed << " allocations";
        if (standin::BstrTrackingActive()) {
            EXPECT_EQ(0, standin::LiveBstrs()) << "after " << allowed << " allocations";
        }
        if (!refused) {
            EXPECT_EQ(S_OK, result);
            break;
        }
        ASSERT_LT(allowed, 100000) << "the scan never finished";
    }
    EXPECT_GT(abandoned, 0);
}

// The document sees exactly these calls: each tag name as a lower-case
// string VARIANT, each element by a VT_I4 index with an empty second VARIANT.
TEST_F(ScanTest, CollectionsAreAskedInTheBrowsersOwnTerms) {
    auto page = Parse(kOneOfEach);
    CallLog log;
    {
        ComPtr<IHTMLDocument2> recorder = new RecordingDocument(log, page->Html());
        FakeBrowser browser(recorder.Get());
        recorder.Reset();
        sharedState->blockBannerAds = 1;
        EXPECT_EQ(S_OK, ScanPage(&browser, &browser, 1));
    }
    Lines expected = {"get_all"};
    const std::pair<const char*, int> phases[] = {{"body", 1}, {"frameset", 0}, {"img", 2},
                                                  {"object", 1}, {"embed", 1}, {"div", 1},
                                                  {"base", 0}, {"a", 1}, {"area", 1},
                                                  {"form", 1}};
    for (const auto& phase : phases) {
        expected.push_back(std::string("tags(VT_BSTR(") + phase.first + "))");
        expected.push_back("get_length");
        for (int i = 0; i < phase.second; ++i)
            expected.push_back("item(VT_I4(" + std::to_string(i) + "), VT_EMPTY)");
    }
    EXPECT_EQ(expected, log.calls);
    EXPECT_EQ(0, log.references);
    EXPECT_EQ(0, page->LiveRefs());
}
