// The page scan end to end: Korvane.dll registered with regsvr32, loaded by
// the browser stand-in, scanning the documents the stand-in hands it when
// the stand-in fires DownloadComplete and DocumentComplete, as the browser
// does on every page load, or when a test fires one of them itself. What
// changed is read from each document's log of property writes; after every
// scan the documents hold no reference and no string the DLL was given.
#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "browser/event_args.h"
#include "browser/live_references.h"
#include "browser/session.h"
#include "dom/dom.h"
#include "korvane_idl.h"
#include "support/installed_korvane.h"
#include "support/korvane_session_test.h"
#include "support/test_support.h"

using namespace korvane;
using korvane::test::InstalledKorvane;
using standin::Session;
using standin::SessionOptions;
using standin::TimelineEntry;
using standin::TimelineKind;

namespace {

using Lines = std::vector<std::string>;

// An unload handler, an ad container, a banner image, a plug-in of banner
// size and a link that opens a new window: something for every phase.
const char kPhases[] = R"html(<html><body onunload="goodbye()">
<div><img src="http://pics.example/photo.gif" width="200" height="150"></div>
<img src="http://pics.example/banner.gif" width="468" height="60">
<object data="movie.swf" width="88" height="31"></object>
<a href="more.html" target="_blank">More</a>
</body></html>)html";

// Every kind of target a link, an area and a form can have.
const char kLinks[] = R"html(<html><body>
<a href="one.html" target="_blank">one</a>
<a href="two.html">two</a>
<a href="three.html" target="news">three</a>
<a href="four.html" target="_BLANK">four</a>
<a href="five.html" target="_top" title="Five">five</a>
<map name="m"><area href="six.html" target="_blank" shape="rect" coords="0,0,10,10"></map>
<form action="seven.html" target="results"><input type="submit"></form>
</body></html>)html";

const char kFrames[] = R"html(<html><frameset cols="50%,50%" onunload="goodbye()">
<frame name="left" src="links.html"><frame name="right" src="plain.html">
</frameset></html>)html";

const char kPlain[] = R"html(<html><body onunload="goodbye()"><p>Plain</p></body></html>)html";

// Two base elements: the second one's target is the one targetless links,
// areas and forms receive.
const char kBases[] = R"html(<html><head><base target="_top"><base target="main"></head><body>
<a href="a.html">a</a>
<a href="b.html" target="_self">b</a>
<map name="m"><area href="c.html" shape="rect" coords="0,0,1,1"></map>
<form action="d.html"></form>
</body></html>)html";

const char kAds[] = R"html(<html><body>
<img src="http://www.uni.edu/ads/banner.gif?id=1" width="468" height="60">
<img src="http://pics.example/p.gif?id=1" width="10" height="10">
<img src="http://pics.example/p.gif" width="471" height="57">
<img src="http://pics.example/p.gif" width="472" height="60">
<img src="http://pics.example/MIRRORS/WWW.UNI.EDU/ADS/B.GIF?ID=1" width="468" height="60">
<img src="http://pics.example/ADS/PIC.GIF" width="10" height="10">
<object data="a.swf" width="468px" height="60"></object>
<object data="b.swf" width="100%" height="60"></object>
<embed src="c.swf" width="88" height="31abc">
<embed src="d.swf">
<div><object data="e.swf"></object><img src="http://pics.example/1.gif"><img src="http://pics.example/2.gif"></div>
<div><img src="http://pics.example/1.gif"><img src="http://pics.example/2.gif"><img src="http://pics.example/3.gif"></div>
<div><div><img src="http://pics.example/1.gif"></div></div>
<div>Text only</div>
</body></html>)html";

const char kMixed[] = R"html(<html><head><base target="main"></head><body>
<img src="http://pics.example/banner.gif" width="468" height="60">
<a href="one.html">one</a>
<map name="m"><area href="two.html" shape="rect" coords="0,0,1,1"></map>
<form action="three.html"></form>
</body></html>)html";

const char kPopupUrl[] = "http://ads.example/pop.html";

std::string Url(const std::string& file) { return "http://news.example/" + file; }

// The real-world pages are read where they lie and copied into the
// session's site folder when the program runs; they are never part of the
// project. Under Wine the machine's files are on drive Z:.
std::string CorpusDirectory() { return KORVANE_PAGE_CORPUS "\\"; }
constexpr char kCorpusHost[] = "pages.example.com";

bool IsPage(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    std::string extension = name.substr(dot);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".htm" || extension == ".html";
}

// Copies the pages below from into to, folders and all; returns the top
// level page names.
std::vector<std::string> CopyPages(const std::string& from, const std::string& to) {
    std::vector<std::string> top;
    CreateDirectoryA(to.c_str(), nullptr);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((from + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return top;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            CopyPages(from + name + "\\", to + name + "\\");
        } else if (IsPage(name)) {
            // A fresh copy may be written and deleted, whatever the source's
            // attributes say.
            const std::string target = to + name;
            if (CopyFileA((from + name).c_str(), target.c_str(), FALSE))
                SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
            top.push_back(name);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return top;
}

// "z9z7_blank" -> 7; -1 for anything else.
int BlankNumber(const std::string& target) {
    if (target.size() < 10 || target.compare(0, 3, "z9z") != 0) return -1;
    if (target.compare(target.size() - 6, 6, "_blank") != 0) return -1;
    const std::string digits = target.substr(3, target.size() - 9);
    if (digits.empty() || digits.size() > 2) return -1;
    for (char c : digits)
        if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
    return std::stoi(digits);
}

// The value of a write line ("a#0 target = z9z3_blank" -> "z9z3_blank").
std::string ValueOf(const std::string& line) {
    const size_t equals = line.find(" = ");
    return equals == std::string::npos ? std::string() : line.substr(equals + 3);
}

// The writes with each numbered "_blank" name shown as z9zN_blank, for
// comparing logs whatever the process-wide counter stood at.
Lines Unnumbered(const Lines& lines) {
    Lines result;
    for (const std::string& line : lines) {
        const std::string value = ValueOf(line);
        result.push_back(BlankNumber(value) >= 0 ? line.substr(0, line.size() - value.size()) + "z9zN_blank"
                                                 : line);
    }
    return result;
}

Lines With(const Lines& lines, const std::string& piece) {
    Lines result;
    for (const std::string& line : lines)
        if (line.find(piece) != std::string::npos) result.push_back(line);
    return result;
}

bool IsReserved(const std::string& name) {
    for (const char* reserved : {"_top", "_parent", "_self", "_search", "_main"})
        if (name == reserved) return true;
    return false;
}

class ScanSession : public test::KorvaneSessionTest {
protected:
    static void SetUpTestSuite() {
        InstallKorvane();
        const std::string& site = site_->path();
        test::WriteSitePage(site, "news.example/phases.html", kPhases);
        test::WriteSitePage(site, "news.example/links.html", kLinks);
        test::WriteSitePage(site, "news.example/frames.html", kFrames);
        test::WriteSitePage(site, "news.example/plain.html", kPlain);
        test::WriteSitePage(site, "news.example/bases.html", kBases);
        test::WriteSitePage(site, "news.example/ads.html", kAds);
        test::WriteSitePage(site, "news.example/mixed.html", kMixed);
        std::string many = "<html><body>\n";
        for (int i = 0; i < 22; ++i)
            many += "<a href=\"p" + std::to_string(i) + ".html\" target=\"_blank\">" + std::to_string(i) + "</a>\n";
        test::WriteSitePage(site, "news.example/many.html", many + "</body></html>");
        corpusPages_ = CopyPages(CorpusDirectory(), site + kCorpusHost + "\\");
        // The first "_blank" the library renames after loading, before any
        // test has moved the counter.
        test::WriteSitePage(site, "news.example/first.html",
                            "<html><body><a href=\"one.html\" target=\"_blank\">one</a></body></html>");
        SessionOptions options;
        options.siteFolder = site;
        options.onlyHelpers.push_back(CLSID_ViewSource);
        Session first(options);
        if (korvane_->ok() && first.Open(Url("first.html")) == 1)
            firstBlankName_ = first.DocumentOf("w1")->FindClickable("a", "0").target;
    }
    static void TearDownTestSuite() { RemoveKorvane(); }

    // Between scans nobody holds a document object or a string a document
    // gave out.
    static void ExpectDocumentsFree(const std::string& when) {
        const standin::LiveReferences now = standin::CurrentLiveReferences();
        EXPECT_EQ(0, now.documentReferences) << when << ": references left on documents";
        if (now.documentBstrs >= 0) {
            EXPECT_EQ(0, now.documentBstrs) << when << ": strings not freed";
        }
    }

    // Pages loaded while popups are allowed are not scanned at all: the
    // test then chooses the one event that scans.
    // The helper switched off while the page loads: a page that completes
    // while popups are only allowed still has its targets named.
    int OpenUnscanned(const std::string& url) {
        const int window = session_->Open("about:blank");
        return window && LoadUnscanned("w" + std::to_string(window), url) ? window : 0;
    }
    bool LoadUnscanned(const std::string& context, const std::string& url) {
        Shared().helperActive = 0;
        const bool loaded = session_->Load(context, url);
        Shared().helperActive = 1;
        return loaded;
    }

    // The raw events, with the browser's argument layout.
    void FireDocumentComplete(const std::string& context) {
        std::vector<standin::RawArg> args(2);
        args[0].kind = standin::RawArg::Kind::Browser;  // the context's own browser
        args[1].kind = standin::RawArg::Kind::RefString;
        args[1].text = session_->ContextUrl(context);
        ASSERT_TRUE(session_->Fire(context, standin::kDocumentComplete, args)) << session_->LastError();
    }
    void FireDownloadComplete(const std::string& window) {
        ASSERT_TRUE(session_->Fire(window, standin::kDownloadComplete, {})) << session_->LastError();
    }

    Lines Writes(const std::string& context) {
        std::shared_ptr<standin::Document> document = session_->DocumentOf(context);
        if (!document) {
            ADD_FAILURE() << "no document in " << context;
            return Lines();
        }
        return document->WriteLog();
    }
    void ClearWrites(const std::string& context) {
        if (std::shared_ptr<standin::Document> document = session_->DocumentOf(context))
            document->ClearWrites();
    }
    // The target a link, area or form has now.
    std::string TargetOf(const std::string& context, const std::string& tag, int index) {
        std::shared_ptr<standin::Document> document = session_->DocumentOf(context);
        if (!document) return "(no document)";
        return document->FindClickable(tag, std::to_string(index)).target;
    }

    static standin::ElementSelector Element(const std::string& tag, int index) {
        standin::ElementSelector selector;
        selector.tag = tag;
        selector.kind = standin::ElementSelector::Kind::Index;
        selector.index = index;
        return selector;
    }
    static bool Blocked(const standin::WindowInfo& window) {
        return window.openedByPage && window.firstNavigationCancelled && window.quitCalled &&
               window.hwnd == nullptr;
    }
    static bool LetThrough(const standin::WindowInfo& window) {
        return window.openedByPage && !window.firstNavigationCancelled && !window.quitCalled;
    }

    // A window's context and those of all its frames that show a document,
    // named by position (frame names may hold anything, slashes included; a
    // frame sent to a script address shows none).
    std::vector<std::string> Contexts(int window) {
        std::vector<std::string> contexts{"w" + std::to_string(window)};
        for (size_t next = 0; next < contexts.size(); ++next) {
            const std::string parent = contexts[next];
            const size_t declared = session_->DocumentOf(parent)->Frames().size();
            for (size_t i = 0; i < declared; ++i) {
                const std::string frame = parent + "/#" + std::to_string(i);
                if (session_->DocumentOf(frame)) contexts.push_back(frame);
            }
        }
        return contexts;
    }
    size_t DocumentsCompleted(int window) {
        size_t count = 0;
        for (const TimelineEntry& entry : session_->timeline().Entries())
            if (entry.kind == TimelineKind::DocumentLoaded && entry.window == window) ++count;
        return count;
    }
    // Notes of sinks that answered an event with anything but S_OK.
    Lines FailedEvents() {
        Lines failed;
        for (const TimelineEntry& entry : session_->timeline().Entries())
            if (entry.kind == TimelineKind::Note && entry.detail.find("answered") != std::string::npos)
                failed.push_back(entry.Text());
        return failed;
    }

    static std::vector<std::string> corpusPages_;
    static std::string firstBlankName_;
};

std::vector<std::string> ScanSession::corpusPages_;
std::string ScanSession::firstBlankName_;

}  // namespace

TEST_F(ScanSession, PhasesRunByTheEventThatScansAndTheBannerSwitch) {
    const Lines unload = {"body#0 onunload = VT_BSTR(null)"};
    const Lines banners = {"img#1 width = 0",
                           "img#1 height = 0",
                           "img#1 alt = (null)",
                           "object#0 width = VT_BSTR(null)",
                           "object#0 height = VT_BSTR(null)"};
    const Lines container = {"div#0 visibility = hidden"};
    const Lines link = {"a#0 title = " + Url("more.html"), "a#0 target = z9zN_blank"};
    auto join = [](std::initializer_list<Lines> parts) {
        Lines all;
        for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    struct Case {
        bool documentComplete;
        BYTE blockBannerAds;
        Lines expected;
    };
    const Case cases[] = {
        {true, 1, join({unload, banners, container, link})},
        {false, 1, join({unload, banners, link})},  // the DIV phase waits for DocumentComplete
        {true, 0, join({unload, link})},
        {false, 0, join({unload, link})},
    };

    Session& session = NewSession();
    ASSERT_EQ(1, OpenUnscanned(Url("phases.html")));
    EXPECT_EQ(Lines{}, Writes("w1")) << "scanned while popups were allowed";
    for (const Case& c : cases) {
        const std::string label = std::string(c.documentComplete ? "DocumentComplete" : "DownloadComplete") +
                                  (c.blockBannerAds ? ", banners blocked" : ", banners allowed");
        ASSERT_TRUE(LoadUnscanned("w1", Url("phases.html")));
        Shared().blockBannerAds = c.blockBannerAds;
        Shared().popupOverride = 1;
        if (c.documentComplete)
            FireDocumentComplete("w1");
        else
            FireDownloadComplete("w1");
        EXPECT_EQ(c.expected, Unnumbered(Writes("w1"))) << label;
        EXPECT_EQ(0, Shared().popupOverride) << label;
        ExpectDocumentsFree(label);
    }
    EXPECT_EQ(1, session.Window(1).sinks);
}

TEST_F(ScanSession, PageLoadScansAtDocumentCompleteAndTheNextDownloadRescansTheOldPage) {
    Shared().blockBannerAds = 1;
    Session& session = NewSession();
    ASSERT_EQ(1, session.Open(Url("phases.html")));
    // The window's own DownloadComplete came before it had a document; the
    // one scan is DocumentComplete's.
    const std::shared_ptr<standin::Document> first = session.DocumentOf("w1");
    ASSERT_NE(nullptr, first);
    const Lines complete = {"body#0 onunload = VT_BSTR(null)",
                            "img#1 width = 0",
                            "img#1 height = 0",
                            "img#1 alt = (null)",
                            "object#0 width = VT_BSTR(null)",
                            "object#0 height = VT_BSTR(null)",
                            "div#0 visibility = hidden",
                            "a#0 title = " + Url("more.html"),
                            "a#0 target = z9zN_blank"};
    EXPECT_EQ(complete, Unnumbered(first->WriteLog()));
    ExpectDocumentsFree("after the first load");

    // Going to the page again: DownloadComplete fires while the old page is
    // still shown and scans it once more. Its banner is 0 by 0 now and its
    // plug-in has no size, so only the unload handler and the title are
    // written before the rewritten link ends the scan.
    first->ClearWrites();
    ASSERT_TRUE(session.Load("w1", Url("phases.html")));
    EXPECT_EQ((Lines{"body#0 onunload = VT_BSTR(null)", "a#0 title = " + Url("more.html")}),
              first->WriteLog());
    const std::shared_ptr<standin::Document> second = session.DocumentOf("w1");
    ASSERT_NE(first, second);
    EXPECT_EQ(complete, Unnumbered(second->WriteLog()));
    ExpectDocumentsFree("after the second load");
}

TEST_F(ScanSession, TopDocumentRenamesEveryTargetAndStopsAtItsOwnNamesNextTime) {
    Session& session = NewSession();
    ASSERT_EQ(1, session.Open(Url("links.html")));
    const Lines writes = Writes("w1");
    EXPECT_EQ((Lines{"body#0 onunload = VT_BSTR(null)",
                     "a#0 title = " + Url("one.html"), "a#0 target = z9zN_blank",
                     "a#1 title = " + Url("two.html"), "a#1 target = _self",
                     "a#2 title = " + Url("three.html"), "a#2 target = z9znews",
                     "a#3 title = " + Url("four.html"), "a#3 target = z9z_BLANK",
                     "a#4 title = " + Url("five.html"),
                     "area#0 target = z9zN_blank",
                     "form#0 target = z9zresults"}),
              Unnumbered(writes));
    // The link and the area took consecutive numbers.
    const int link = BlankNumber(TargetOf("w1", "a", 0));
    ASSERT_GE(link, 0);
    EXPECT_EQ((link + 1) % 21, BlankNumber(TargetOf("w1", "area", 0)));

    // The next scan of the same top document meets the first renamed link
    // and ends there: nothing after it is visited.
    ClearWrites("w1");
    FireDownloadComplete("w1");
    EXPECT_EQ((Lines{"body#0 onunload = VT_BSTR(null)", "a#0 title = " + Url("one.html")}), Writes("w1"));
    ExpectDocumentsFree("after the second scan");
}

TEST_F(ScanSession, FrameDocumentsRenameOnlyBlankTargetsAndRescanToTheEnd) {
    Session& session = NewSession();
    ASSERT_EQ(1, session.Open(Url("frames.html")));
    // The frameset document is scanned at each frame's DownloadComplete
    // (twice) and at its own DocumentComplete; it has no body.
    EXPECT_EQ(Lines(3, "frameset#0 onunload = VT_BSTR(null)"), Writes("w1"));
    // Each frame once, at its own DocumentComplete.
    EXPECT_EQ((Lines{"body#0 onunload = VT_BSTR(null)",
                     "a#0 title = " + Url("one.html"), "a#0 target = z9zN_blank",
                     "a#1 title = " + Url("two.html"), "a#1 target = _self",
                     "a#2 title = " + Url("three.html"),
                     "a#3 title = " + Url("four.html"),
                     "a#4 title = " + Url("five.html"),
                     "area#0 target = z9zN_blank"}),
              Unnumbered(Writes("w1/left")));
    EXPECT_EQ(Lines{"body#0 onunload = VT_BSTR(null)"}, Writes("w1/right"));
    EXPECT_EQ("news", TargetOf("w1/left", "a", 2));
    EXPECT_EQ("_BLANK", TargetOf("w1/left", "a", 3));
    EXPECT_EQ("results", TargetOf("w1/left", "form", 0));
    const int link = BlankNumber(TargetOf("w1/left", "a", 0));
    ASSERT_GE(link, 0);
    EXPECT_EQ((link + 1) % 21, BlankNumber(TargetOf("w1/left", "area", 0)));

    // In a frame the renamed targets are kept on the next scan, which runs
    // to the end.
    ClearWrites("w1/left");
    FireDocumentComplete("w1/left");
    EXPECT_EQ((Lines{"body#0 onunload = VT_BSTR(null)", "a#0 title = " + Url("one.html"),
                     "a#1 title = " + Url("two.html"), "a#2 title = " + Url("three.html"),
                     "a#3 title = " + Url("four.html"), "a#4 title = " + Url("five.html")}),
              Writes("w1/left"));
    ExpectDocumentsFree("after the frame's second scan");
}

TEST_F(ScanSession, RenamedBlankTargetsCountToTwentyThenStartAgain) {
    EXPECT_EQ("z9z0_blank", firstBlankName_) << "the first name after the library loaded";
    Session& session = NewSession();
    ASSERT_EQ(1, session.Open(Url("many.html")));
    // The counter belongs to the process and has moved with every earlier
    // test; wherever it stood, 22 links in a row pass 20 once.
    std::vector<int> numbers;
    for (const std::string& line : With(Writes("w1"), " target = ")) numbers.push_back(BlankNumber(ValueOf(line)));
    ASSERT_EQ(22u, numbers.size());
    int wraps = 0;
    for (size_t i = 0; i < numbers.size(); ++i) {
        ASSERT_GE(numbers[i], 0) << i;
        ASSERT_LE(numbers[i], 20) << i;
        if (i == 0) continue;
        EXPECT_EQ((numbers[i - 1] + 1) % 21, numbers[i]) << i;
        if (numbers[i - 1] == 20 && numbers[i] == 0) ++wraps;
    }
    EXPECT_EQ(1, wraps);
}

TEST_F(ScanSession, LastBaseTargetIsGivenToTargetlessLinksAreasAndForms) {
    Session& session = NewSession();
    ASSERT_EQ(1, session.Open(Url("bases.html")));
    EXPECT_EQ((Lines{"body#0 onunload = VT_BSTR(null)", "base#1 target = z9zmain",
                     "a#0 title = " + Url("a.html"), "a#0 target = z9zmain",
                     "a#1 title = " + Url("b.html"),
                     "area#0 target = z9zmain", "form#0 target = z9zmain"}),
              Writes("w1"));
    EXPECT_EQ("_self", TargetOf("w1", "a", 1));
    ExpectDocumentsFree("after the scan");
}

TEST_F(ScanSession, BannerRulesHideImagesPluginsAndContainersInsideTheDll) {
    Shared().blockBannerAds = 1;
    Session& session = NewSession();
    ASSERT_EQ(1, session.Open(Url("ads.html")));
    auto hiddenImage = [](int i) {
        const std::string img = "img#" + std::to_string(i);
        return Lines{img + " width = 0", img + " height = 0", img + " alt = (null)"};
    };
    Lines expected = {"body#0 onunload = VT_BSTR(null)"};
    // Exempt marks come before ad marks (#0, and #4 once lowered); a query
    // hides whatever the size (#1); 471 by 57 is within 3 of 468 by 60 (#2),
    // 472 is not (#3); an ad directory in capitals still counts (#5).
    for (int i : {1, 2, 5}) {
        const Lines image = hiddenImage(i);
        expected.insert(expected.end(), image.begin(), image.end());
    }
    // Plug-in sizes are read from their leading digits: 468px by 60 and 88
    // by 31abc are banner sizes, 100% by 60 is not, no size is none.
    expected.insert(expected.end(), {"object#0 width = VT_BSTR(null)", "object#0 height = VT_BSTR(null)",
                                     "embed#0 width = VT_BSTR(null)", "embed#0 height = VT_BSTR(null)"});
    // Containers: an OBJECT before two IMGs is never reached, so the chain
    // finds two media tags (#0); three IMGs are too many (#1); the outer and
    // the inner DIV around one image are each hidden (#2, #3); text alone
    // is no ad (#4).
    expected.insert(expected.end(), {"div#0 visibility = hidden", "div#2 visibility = hidden",
                                     "div#3 visibility = hidden"});
    EXPECT_EQ(expected, Writes("w1"));
    ExpectDocumentsFree("after the DocumentComplete scan");

    // The next DownloadComplete: images hidden for their address are hidden
    // again, the one hidden for its size is 0 by 0 now, plug-ins have no size
    // left, and DIVs wait for DocumentComplete.
    ClearWrites("w1");
    FireDownloadComplete("w1");
    expected = {"body#0 onunload = VT_BSTR(null)"};
    for (int i : {1, 5}) {
        const Lines image = hiddenImage(i);
        expected.insert(expected.end(), image.begin(), image.end());
    }
    EXPECT_EQ(expected, Writes("w1"));
    ExpectDocumentsFree("after the DownloadComplete scan");
}

TEST_F(ScanSession, FailingCollectionsSkipAPhaseOrEndTheScan) {
    Shared().blockBannerAds = 1;
    Session& session = NewSession();
    ASSERT_EQ(1, OpenUnscanned(Url("mixed.html")));
    const Lines base = {"base#0 target = z9zmain"};
    const Lines targets = {"a#0 title = " + Url("one.html"), "a#0 target = z9zmain",
                           "area#0 target = z9zmain", "form#0 target = z9zmain"};

    // The images cannot be had: the banner stays, everything else is done.
    session.DocumentOf("w1")->InjectedFailures().tagsFail = {"img"};
    Shared().popupOverride = 1;
    FireDocumentComplete("w1");
    Lines expected = {"body#0 onunload = VT_BSTR(null)"};
    expected.insert(expected.end(), base.begin(), base.end());
    expected.insert(expected.end(), targets.begin(), targets.end());
    EXPECT_EQ(expected, Writes("w1"));
    EXPECT_EQ(0, Shared().popupOverride);
    ExpectDocumentsFree("after the scan without images");

    // The links cannot be had: the scan ends after the base element, and the
    // anchors, areas and forms are left as they were. The event completes
    // as usual.
    ASSERT_TRUE(LoadUnscanned("w1", Url("mixed.html")));
    session.DocumentOf("w1")->InjectedFailures().tagsFail = {"a"};
    Shared().popupOverride = 1;
    FireDocumentComplete("w1");
    expected = {"body#0 onunload = VT_BSTR(null)", "img#0 width = 0", "img#0 height = 0", "img#0 alt = (null)"};
    expected.insert(expected.end(), base.begin(), base.end());
    EXPECT_EQ(expected, Writes("w1"));
    EXPECT_EQ("", TargetOf("w1", "a", 0));
    EXPECT_EQ(0, Shared().popupOverride);
    EXPECT_EQ(Lines{}, FailedEvents());
    ExpectDocumentsFree("after the scan without links");
}

TEST_F(ScanSession, RenamedLinksOpenTheirWindowsWhileScriptPopupsAreStillBlocked) {
    Session& session = NewSession();
    ASSERT_EQ(1, session.Open(Url("frames.html")));
    // A frame's "_blank" link, renamed by the frame's scan.
    const std::string renamed = TargetOf("w1/left", "a", 0);
    ASSERT_GE(BlankNumber(renamed), 0) << renamed;
    ASSERT_TRUE(session.Click("w1/left", Element("a", 0)));
    ASSERT_EQ(2u, session.Windows().size());
    EXPECT_TRUE(LetThrough(session.Window(2)));
    EXPECT_EQ(renamed, session.Window(2).name);
    // A named target kept in the frame is known as well.
    ASSERT_TRUE(session.Click("w1/left", Element("a", 2)));
    ASSERT_EQ(3u, session.Windows().size());
    EXPECT_TRUE(LetThrough(session.Window(3)));
    EXPECT_EQ("news", session.Window(3).name);
    ASSERT_TRUE(session.ScriptOpen("w1/left", kPopupUrl, ""));
    ASSERT_EQ(4u, session.Windows().size());
    EXPECT_TRUE(Blocked(session.Window(4)));

    // A targetless link of a top document follows the base target the scan
    // renamed.
    ASSERT_EQ(5, session.Open(Url("bases.html")));
    ASSERT_TRUE(session.Click("w5", Element("a", 0)));
    ASSERT_EQ(6u, session.Windows().size());
    EXPECT_TRUE(LetThrough(session.Window(6)));
    EXPECT_EQ("z9zmain", session.Window(6).name);
    ASSERT_TRUE(session.ScriptOpen("w5", kPopupUrl, ""));
    ASSERT_EQ(7u, session.Windows().size());
    EXPECT_TRUE(Blocked(session.Window(7)));
    ExpectDocumentsFree("after the clicks");
}

TEST_F(ScanSession, RealPagesScanCleanlyThroughTheDll) {
    ASSERT_GE(corpusPages_.size(), 15u) << "pages copied from " << CorpusDirectory();
    std::vector<std::string> pages = corpusPages_;
    for (const char* frameset : {"01-qsl-ustc-ham-radio-frameset/index.htm",
                                 "02-tukuma-fashion-2003-frameset/index.html",
                                 "03-struts-1.0b1-javadoc-frameset/index.html"})
        pages.push_back(frameset);
    for (BYTE banners : {1, 0}) {
        Shared().blockBannerAds = banners;
        Session& session = NewSession();
        for (const std::string& page : pages) {
            const std::string label = page + (banners ? ", banners blocked" : ", banners allowed");
            const int window = session.Open(std::string("http://") + kCorpusHost + "/" + page);
            ASSERT_NE(0, window) << label << ": " << session.LastError();
            const std::string top = "w" + std::to_string(window);
            EXPECT_EQ(1, session.Window(window).sinks) << label;
            ExpectDocumentsFree(label);
            const std::vector<std::string> contexts = Contexts(window);
            // Every document completed, the window's and its frames', each once.
            EXPECT_EQ(DocumentsCompleted(window), contexts.size()) << label;
            for (const std::string& context : contexts) {
                std::shared_ptr<standin::Document> document = session.DocumentOf(context);
                ASSERT_NE(nullptr, document) << label << " " << context;
                const Lines writes = document->WriteLog();
                // Every link, area and form is named; in the top document
                // never with a name that would open a window unrecognised.
                for (const char* tag : {"a", "area", "form"}) {
                    const long count = document->CountOf(tag);
                    for (long i = 0; i < count; ++i) {
                        const std::string target = document->FindClickable(tag, std::to_string(i)).target;
                        const std::string where = label + " " + context + " " + tag + "#" + std::to_string(i);
                        EXPECT_FALSE(target.empty()) << where;
                        if (context == top)
                            EXPECT_TRUE(IsReserved(target) || target.compare(0, 3, "z9z") == 0) << where << ": " << target;
                        else
                            EXPECT_NE("_blank", target) << where;
                    }
                }
                if (!banners) {
                    for (const char* phase : {"img#", "object#", "embed#", "div#"})
                        EXPECT_EQ(Lines{}, With(writes, phase)) << label << " " << context;
                }
            }
            // The next download rescans the top document.
            FireDownloadComplete(top);
            ExpectDocumentsFree(label + ", rescanned");
            EXPECT_EQ(1, session.Window(window).sinks) << label;
            ASSERT_TRUE(session.Close(window)) << label;
            const standin::LiveReferences left = standin::CurrentLiveReferences();
            EXPECT_EQ(0, left.Total()) << label << ": references left after the window closed";
        }
        EXPECT_EQ(Lines{}, FailedEvents());
        session_.reset();
    }
}

TEST_F(ScanSession, RealPagesByHand) {
    const std::string site = std::string("http://") + kCorpusHost + "/";
    Session& session = NewSession();

    // Linux Today: one 468 by 60 banner, hidden only while banners are
    // blocked; fifteen links without a target open in the same window.
    Shared().blockBannerAds = 1;
    ASSERT_EQ(1, session.Open(site + "05-linuxtoday-2000.html"));
    const Lines banner = {"img#0 width = 0", "img#0 height = 0", "img#0 alt = (null)"};
    EXPECT_EQ(banner, With(Writes("w1"), "img#"));
    EXPECT_EQ(Lines(15, "_self"), [&] {
        Lines targets;
        for (const std::string& line : With(Writes("w1"), " target = ")) targets.push_back(ValueOf(line));
        return targets;
    }());
    Shared().blockBannerAds = 0;
    ASSERT_EQ(2, session.Open(site + "05-linuxtoday-2000.html"));
    EXPECT_EQ(Lines{}, With(Writes("w2"), "img#"));

    // Dallas Shell: the base target "contents" is renamed in the top
    // document and every link receives it; the hit counter's address has a
    // query, so it is hidden while banners are blocked.
    Shared().blockBannerAds = 1;
    ASSERT_EQ(3, session.Open(site + "08-dallas-shell-frontpage-2003.html"));
    const Lines writes = Writes("w3");
    EXPECT_EQ(Lines{"base#0 target = z9zcontents"}, With(writes, "base#"));
    EXPECT_EQ(Lines(4, "z9zcontents"), [&] {
        Lines targets;
        for (const std::string& line : With(writes, "a#")) {
            if (line.find(" target = ") != std::string::npos) targets.push_back(ValueOf(line));
        }
        return targets;
    }());
    EXPECT_EQ(banner, With(writes, "img#"));

    // The radio club's nested frameset: the main frame's twelve "_blank"
    // links are renamed in a row; the left frame's four links into "main"
    // keep their target.
    ASSERT_EQ(4, session.Open(site + "01-qsl-ustc-ham-radio-frameset/index.htm"));
    std::vector<int> numbers;
    for (const std::string& line : With(Writes("w4/main"), " target = z9z"))
        numbers.push_back(BlankNumber(ValueOf(line)));
    ASSERT_EQ(12u, numbers.size());
    for (size_t i = 1; i < numbers.size(); ++i) EXPECT_EQ((numbers[i - 1] + 1) % 21, numbers[i]) << i;
    EXPECT_EQ(Lines{}, With(Writes("w4/left"), "z9z"));
    int intoMain = 0;
    for (long i = 0; i < session.DocumentOf("w4/left")->CountOf("a"); ++i)
        if (TargetOf("w4/left", "a", static_cast<int>(i)) == "main") ++intoMain;
    EXPECT_EQ(4, intoMain);
    ExpectDocumentsFree("after the pages");
}
