// The demonstration's own parts: its session lines and what they belong to,
// the count of what page scans did (each element once, however often a
// document is scanned), and the pictures it saves.
#include <gtest/gtest.h>

#include <mshtml.h>

#include <memory>
#include <string>
#include <vector>

#include "base/com.h"
#include "browser/session.h"
#include "demo/demo_script.h"
#include "demo/desktop.h"
#include "demo/scan_report.h"
#include "support/installed_korvane.h"
#include "support/test_support.h"

using demo::DemoItem;
using demo::DemoScript;
using demo::Outcome;

namespace {

bool Parse(const std::string& text, DemoScript* script, std::vector<std::string>* errors) {
    return demo::ParseDemoScript(text, "C:\\site", script, errors);
}

TEST(DemoScriptTest, ExpectationsBelongToTheActionAboveThemAndLinesKeepTheirNumbers) {
    const std::string text =
        "site pages\n"                                        // 1
        "say \"The front page\"\n"                            // 2
        "open http://news.example/index.html\n"               // 3
        "expect loaded http://news.example/index.html\n"      // 4
        "scan ads-hidden 7 targets-rewritten 4\n"             // 5
        "# a comment\n"                                       // 6
        "script-open w1 http://ads.example/a.html\n"          // 7
        "new-window blocked \"script popup\"\n"               // 8
        "new-window let-through \"named # not a comment\" name z9z0_blank\n"  // 9
        "white-list add \"www.friends.example\"\n"            // 10
        "wait 100\n";                                         // 11
    DemoScript script;
    std::vector<std::string> errors;
    ASSERT_TRUE(Parse(text, &script, &errors)) << (errors.empty() ? "" : errors[0]);
    EXPECT_EQ("C:\\site\\pages", script.script.options.siteFolder);

    ASSERT_EQ(6u, script.items.size());
    const std::vector<DemoItem::Kind> kinds = {DemoItem::Kind::Say,  DemoItem::Kind::Step,
                                               DemoItem::Kind::Step, DemoItem::Kind::Step,
                                               DemoItem::Kind::WhiteListAdd, DemoItem::Kind::Step};
    const std::vector<int> lines = {2, 3, 4, 7, 10, 11};
    for (size_t i = 0; i < kinds.size(); ++i) {
        EXPECT_EQ(kinds[i], script.items[i].kind) << i;
        EXPECT_EQ(lines[i], script.items[i].line) << i;
    }
    EXPECT_EQ("The front page", script.items[0].text);
    EXPECT_EQ("www.friends.example", script.items[4].text);

    // The scan line skips the expect line between it and the page it is about.
    const DemoItem& open = script.items[1];
    EXPECT_EQ(5, open.scan.line);
    EXPECT_EQ(7, open.scan.adsHidden);
    EXPECT_EQ(4, open.scan.targetsRewritten);
    EXPECT_TRUE(open.windows.empty());
    EXPECT_EQ(0, script.items[2].scan.line);

    const DemoItem& popup = script.items[3];
    ASSERT_EQ(2u, popup.windows.size());
    EXPECT_EQ(Outcome::Blocked, popup.windows[0].outcome);
    EXPECT_EQ("script popup", popup.windows[0].why);
    EXPECT_EQ("", popup.windows[0].name);
    EXPECT_EQ(Outcome::LetThrough, popup.windows[1].outcome);
    EXPECT_EQ("named # not a comment", popup.windows[1].why);
    EXPECT_EQ("z9z0_blank", popup.windows[1].name);
    EXPECT_EQ(0, popup.scan.line);
}

TEST(DemoScriptTest, FaultyLinesAreReportedWithTheirNumbers) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"scan ads-hidden 1 targets-rewritten 0\n", "line 1: no step above it"},
        {"expect windows 1\nnew-window blocked \"x\"\n", "line 2: no step above it"},
        {"open http://a.example/\nscan ads-hidden 1 targets-rewritten 0\nscan ads-hidden 1 targets-rewritten 0\n",
         "line 3: a second scan line"},
        {"open http://a.example/\nscan ads-hidden -1 targets-rewritten 0\n", "line 2: scan wants"},
        {"open http://a.example/\nscan ads-hidden 1\n", "line 2: scan wants"},
        {"open http://a.example/\nnew-window maybe \"x\"\n", "line 2: new-window wants blocked or let-through"},
        {"open http://a.example/\nnew-window blocked because\n", "line 2: the reason of new-window is a quoted text"},
        {"open http://a.example/\nnew-window blocked \"x\" called y\n", "line 2: new-window wants"},
        {"white-list \"www.a.example\"\n", "line 1: white-list wants"},
        {"white-list add \"\"\n", "line 1: white-list add wants a text"},
        {"say\n", "line 1: say wants"},
        // The stand-in's own lines keep their numbers behind the
        // demonstration's.
        {"say \"x\"\nsay \"y\"\nclick w1 #a alt\n", "line 3: click takes ctrl or shift"},
    };
    for (const Case& c : cases) {
        DemoScript script;
        std::vector<std::string> errors;
        EXPECT_FALSE(Parse(c.text, &script, &errors)) << c.text;
        ASSERT_FALSE(errors.empty()) << c.text;
        EXPECT_EQ(0u, errors[0].find(c.error)) << c.text << " -> " << errors[0];
    }
}

// Writes through the document's own interfaces, as a page scan does.
void WriteThroughDom(IWebBrowser2* browser, const wchar_t* tag, long index, const char* what) {
    korvane::ComPtr<IDispatch> dispatch;
    ASSERT_TRUE(SUCCEEDED(browser->get_Document(dispatch.GetAddressOf())) && dispatch);
    korvane::ComPtr<IHTMLDocument2> document;
    ASSERT_TRUE(SUCCEEDED(dispatch.As(&document)));
    korvane::ComPtr<IHTMLElementCollection> all;
    ASSERT_TRUE(SUCCEEDED(document->get_all(all.GetAddressOf())) && all);
    VARIANT name;
    name.vt = VT_BSTR;
    name.bstrVal = SysAllocString(tag);
    korvane::ComPtr<IDispatch> tagged;
    all->tags(name, tagged.GetAddressOf());
    VariantClear(&name);
    korvane::ComPtr<IHTMLElementCollection> elements;
    ASSERT_TRUE(tagged && SUCCEEDED(tagged.As(&elements)));
    VARIANT position, empty;
    position.vt = VT_I4;
    position.lVal = index;
    empty.vt = VT_EMPTY;
    korvane::ComPtr<IDispatch> item;
    ASSERT_TRUE(SUCCEEDED(elements->item(position, empty, item.GetAddressOf())) && item);
    if (std::string(what) == "hide") {
        korvane::ComPtr<IHTMLImgElement> image;
        ASSERT_TRUE(SUCCEEDED(item.As(&image)));
        image->put_width(0);
        image->put_height(0);
        return;
    }
    korvane::ComPtr<IHTMLAnchorElement> anchor;
    ASSERT_TRUE(SUCCEEDED(item.As(&anchor)));
    BSTR target = SysAllocString(what[0] == 'z' ? L"z9z0_blank" : L"_self");
    anchor->put_target(target);
    SysFreeString(target);
}

TEST(ScanWatcherTest, EachElementCountsOnceHoweverOftenItsDocumentIsScanned) {
    korvane::test::TempDirectory site;
    ASSERT_TRUE(korvane::test::WriteSitePage(
        site.path(), "news.example/index.html",
        "<html><body><img id=\"banner\" src=\"b.gif\" width=\"468\" height=\"60\"><img src=\"c.gif\">"
        "<a id=\"sponsor\" href=\"s.html\" target=\"_blank\">s</a><a href=\"t.html\">t</a></body></html>"));
    standin::SessionOptions options;
    options.siteFolder = site.path();
    options.loadHelpers = false;
    standin::Session session(options);
    ASSERT_EQ(1, session.Open("http://news.example/index.html"));
    demo::ScanWatcher watcher;
    watcher.Watch(session, session.timeline().Entries());

    ASSERT_TRUE(session.RunOn("w1", [](IWebBrowser2* browser) {
        WriteThroughDom(browser, L"img", 0, "hide");
        WriteThroughDom(browser, L"img", 1, "hide");
        WriteThroughDom(browser, L"a", 0, "z9z");
        // A link given the default target is no rewrite.
        WriteThroughDom(browser, L"a", 1, "_self");
    }));
    std::vector<demo::DocumentChanges> changes = watcher.Collect();
    ASSERT_EQ(1u, changes.size());
    EXPECT_EQ("w1", changes[0].context);
    EXPECT_EQ((std::vector<std::string>{"img#banner: width = 0, height = 0", "img[1]: width = 0, height = 0"}),
              changes[0].adsHidden);
    EXPECT_EQ(std::vector<std::string>{"a#sponsor: z9z0_blank"}, changes[0].targetsRewritten);

    // A second scan writes the same again: nothing new.
    ASSERT_TRUE(session.RunOn("w1", [](IWebBrowser2* browser) {
        WriteThroughDom(browser, L"img", 0, "hide");
        WriteThroughDom(browser, L"a", 0, "z9z");
    }));
    EXPECT_TRUE(watcher.Collect().empty());
    EXPECT_EQ(2, watcher.TotalAdsHidden());
    EXPECT_EQ(1, watcher.TotalTargetsRewritten());
}

TEST(PictureTest, SavedBmpReadsBackPixelForPixel) {
    // Three pixels a row: each row of the file needs a byte of padding.
    demo::Picture picture;
    picture.width = 3;
    picture.height = 2;
    picture.pixels = {0xFF0000, 0x00FF00, 0x0000FF, 0x123456, 0xFFFFFF, 0x000000};
    korvane::test::TempDirectory folder;
    const std::string path = folder.File("picture.bmp");
    ASSERT_TRUE(demo::SaveBmp(picture, path));
    EXPECT_EQ(54u + 2 * 12, korvane::test::ReadFileBytes(path).size());

    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    ASSERT_NE(nullptr, bitmap);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const COLORREF read = GetPixel(dc, x, y);
            const DWORD pixel = picture.At(x, y);
            EXPECT_EQ(RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF), read) << x << "," << y;
        }
    SelectObject(dc, previous);
    DeleteDC(dc);
    DeleteObject(bitmap);

    EXPECT_FALSE(demo::SaveBmp(demo::Picture(), folder.File("empty.bmp")));
}

TEST(PictureTest, SideBySideKeepsEachPictureAndFillsTheRest) {
    demo::Picture a, b;
    a.width = 2;
    a.height = 1;
    a.pixels = {1, 2};
    b.width = 1;
    b.height = 2;
    b.pixels = {3, 4};
    const demo::Picture strip = demo::SideBySide({a, b}, 1, 9);
    ASSERT_EQ(4, strip.width);
    ASSERT_EQ(2, strip.height);
    EXPECT_EQ((std::vector<DWORD>{1, 2, 9, 3, 9, 9, 9, 4}), strip.pixels);
    EXPECT_EQ(0, demo::SideBySide({}, 1, 9).width);
}

}  // namespace
