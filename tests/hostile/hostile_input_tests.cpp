// Hostile input through the browser stand-in into the registered DLL: the
// browser's events with any arguments at all, pages of extreme size, depth
// and content, white list files and settings as anyone could leave them.
// Each family is one table of inputs and the outcome they must have. Every
// case then shows that the decisions are still right (a real popup is
// blocked, a white-listed one let through), and ends with the stand-in's
// check that nothing of the browser is held and no document string is left.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/com.h"
#include "base/unique_resource.h"
#include "browser/live_references.h"
#include "browser/session.h"
#include "dom/dom.h"
#include "hostile/hostile_pages.h"
#include "korvane_idl.h"
#include "state/settings.h"
#include "support/korvane_session_test.h"
#include "support/test_support.h"

using namespace korvane;
using standin::RawArg;
using standin::Session;
using standin::WindowInfo;

namespace {

constexpr char kNews[] = "http://news.example/index.html";
constexpr char kFriend[] = "http://friend.example/";  // on the white list

// Counts one family's cases and the ones that failed, and leaves the row of
// the figures when the family is done.
class Tally {
public:
    Tally(const char* name, const char* tried) : name_(name), tried_(tried) {}
    ~Tally() {
        const std::string held =
            failed_ ? "FAILED: " + std::to_string(failed_) + " cases (see the test's output)" : held_;
        test::WriteFigure(name_, tried_, std::to_string(cases_) + " cases", held);
    }
    void Holds(const char* held) { held_ = held; }
    void Run(const std::string& label, const std::function<void()>& run) {
        SCOPED_TRACE(label);
        const int before = Failures();
        run();
        ++cases_;
        if (Failures() > before) ++failed_;
    }

private:
    static int Failures() {
        const auto* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
        int failed = 0;
        for (int i = 0; i < result->total_part_count(); ++i)
            if (result->GetTestPartResult(i).failed()) ++failed;
        return failed;
    }
    const char* name_;
    const char* tried_;
    std::string held_;
    int cases_ = 0;
    int failed_ = 0;
};

std::vector<RawArg> Args(const std::vector<std::string>& tokens) {
    std::vector<RawArg> args;
    for (const std::string& token : tokens) {
        RawArg arg;
        std::string error;
        EXPECT_TRUE(standin::ParseRawArg(token, &arg, &error)) << token << ": " << error;
        args.push_back(arg);
    }
    return args;
}

WindowInfo WindowFor(Session& session, const std::string& firstUrl) {
    for (const WindowInfo& window : session.Windows())
        if (window.openedByPage && window.firstUrl == firstUrl) return window;
    return WindowInfo();
}

class HostileInputTest : public test::KorvaneSessionTest {
protected:
    static void SetUpTestSuite() {
        test::InstallOptions options;
        options.whiteList = {kFriend};
        InstallKorvane(options);
        test::WriteSitePage(site_->path(), "news.example/index.html",
                            "<html><body><a id=\"more\" href=\"more.html\">More</a></body></html>");
    }
    static void TearDownTestSuite() { RemoveKorvane(); }

    // A window of the user's showing a page: nothing may cancel or close it.
    int OpenUsersWindow(const std::string& url = kNews) {
        const int window = session_->Open(url);
        EXPECT_NE(0, window) << session_->LastError();
        return window;
    }
    static bool StillTheUsers(const WindowInfo& window) {
        return window.open && window.hwnd && !window.quitCalled && !window.destroyedExternally;
    }

    // A script popup from the window is blocked and a white-listed one let
    // through; then the session ends, and nothing of the browser is held.
    void ExpectDecisionsAndNothingHeld(int opener) {
        static int serial = 0;
        const std::string popup = "http://ads.example/pop" + std::to_string(++serial) + ".html";
        const std::string welcome = std::string(kFriend) + "pop" + std::to_string(serial) + ".html";
        const std::string context = "w" + std::to_string(opener);
        EXPECT_TRUE(session_->ScriptOpen(context, popup, "")) << session_->LastError();
        const WindowInfo blocked = WindowFor(*session_, popup);
        EXPECT_TRUE(blocked.firstNavigationCancelled && blocked.quitCalled && !blocked.hwnd)
            << "not blocked: " << popup;
        EXPECT_TRUE(session_->ScriptOpen(context, welcome, "")) << session_->LastError();
        const WindowInfo passed = WindowFor(*session_, welcome);
        EXPECT_TRUE(passed.open && !passed.firstNavigationCancelled && !passed.quitCalled)
            << "not let through: " << welcome;
        session_.reset();
        ExpectNothingHeld("after the case");
        standin::ReleaseLeakedSinks();
    }
};

// --- Raw events ---------------------------------------------------------------

struct RawCase {
    std::string label;
    DISPID dispid;
    std::vector<std::string> args;  // declaration order
    bool noParams = false;
    // Fired in a window a page opened, before its first navigation: the
    // event is then a popup's, and must be blocked.
    bool intoPopup = false;
};

// Each event's arguments as the browser lays them out (for the events
// without arguments, none). The target names no frame the scan met, so
// with a window announced the judgement runs in full.
std::vector<std::string> Layout(DISPID dispid) {
    switch (dispid) {
    case 250:
        return {"self", "str:http://ads.example/raw.html", "ref-i4:0", "str:hostile", "postdata",
                "nullstr", "cancel"};
    case 251: return {"ref-dispatch", "cancel"};
    case 273: return {"ref-dispatch", "cancel", "i4:0", "bstr:http://news.example/", "bstr:http://ads.example/raw.html"};
    case 252:
    case 259: return {"self", "str:http://news.example/index.html"};
    default: return {};
    }
}

// One of every kind of argument the stand-in can pass.
const std::vector<std::string> kKinds = {
    "self", "null-dispatch", "str:http://ads.example/kind.html", "nullstr", "bstr:_blank", "i4:7",
    "ref-i4:-1", "cancel", "ref-dispatch", "postdata", "empty", "null-ref"};

std::vector<RawCase> RawCases() {
    std::vector<RawCase> cases;
    const DISPID events[] = {104, 106, 250, 251, 252, 253, 259, 273,
                             // unknown to the helper, and nonsense
                             0, -1, 102, 1000, 0x7fffffff};
    for (DISPID dispid : events) {
        const std::string name = standin::EventName(dispid);
        cases.push_back({name + " without DISPPARAMS", dispid, {}, true});
        // Every count from none to eight: the event's own arguments, cut
        // short or followed by arguments of every kind.
        std::vector<std::string> layout = Layout(dispid);
        for (size_t count = 0; count <= 8; ++count) {
            std::vector<std::string> args;
            for (size_t i = 0; i < count; ++i)
                args.push_back(i < layout.size() ? layout[i] : kKinds[(i * 5 + count) % kKinds.size()]);
            cases.push_back({name + " with " + std::to_string(count) + " arguments", dispid, args});
        }
        // Every kind in every position.
        for (size_t position = 0; position < layout.size(); ++position)
            for (const std::string& kind : kKinds) {
                if (kind == layout[position]) continue;
                std::vector<std::string> args = layout;
                args[position] = kind;
                cases.push_back({name + " with " + kind + " as argument " + std::to_string(position),
                                 dispid, args});
            }
    }
    // Addresses and targets of 1 and 16 MB.
    for (const char* size : {"1048576", "16777216"}) {
        for (size_t position : {1, 3}) {
            std::vector<std::string> args = Layout(250);
            args[position] = std::string("bigstr:") + size;
            const std::string label = "with a string of " + std::string(size) + " as argument " +
                                      std::to_string(position);
            cases.push_back({"BeforeNavigate2 " + label, 250, args});
            cases.push_back({"a popup's first BeforeNavigate2 " + label, 250, args, false, true});
        }
        cases.push_back({"DocumentComplete of an address of " + std::string(size), 259,
                         {"self", std::string("bigstr:") + size}});
    }
    return cases;
}

// Fired in a window that shows a page, each after a new window was
// announced, so that every event finds the judgement armed: no event may
// cancel, quit or close the user's window, or answer anything but S_OK
// (E_INVALIDARG without DISPPARAMS). Then the decisions must be right.
TEST_F(HostileInputTest, RawEventsOfAnyShapeChangeNoDecision) {
    Tally tally("hostile_raw_events",
                "raw browser events: argument counts 0 to 8 of every event and of unknown DISPIDs, "
                "every type in every position, null strings and references, 1 and 16 MB strings, "
                "also as a popup's");
    tally.Holds("no crash, no leak, no BSTR left; the user's window never cancelled or closed, the "
                "popups blocked and logged cut to 2,083 bytes; a popup after each blocked, a "
                "white-listed one let through");
    for (const RawCase& raw : RawCases()) {
        tally.Run(raw.label, [&] {
            NewSession();
            const int window = OpenUsersWindow();
            const std::string context = "w" + std::to_string(window);
            std::string target = context;
            if (raw.intoPopup) {
                ASSERT_TRUE(session_->ScriptOpen(context, "http://ads.example/held.html", "", true));
                target = "w" + std::to_string(window + 1);
            } else {
                ASSERT_TRUE(session_->Fire(context, 251, Args(Layout(251))));
            }
            const size_t before = session_->timeline().Size();
            ASSERT_TRUE(session_->Fire(target, raw.dispid, Args(raw.args), raw.noParams))
                << session_->LastError();
            const auto entries = session_->timeline().Entries();
            bool cancelled = false;
            for (size_t i = before; i < entries.size(); ++i) {
                const standin::TimelineEntry& entry = entries[i];
                // A NewWindow3 may be cancelled (no user action started its
                // window): that window never exists. A navigation never is,
                // but the popup's.
                cancelled = cancelled || (entry.kind == standin::TimelineKind::Event && entry.cancelled &&
                                          entry.dispid != standin::kNewWindow3);
                const bool invalid = entry.detail.find("0x80070057") != std::string::npos;
                EXPECT_FALSE(entry.detail.find("answered") != std::string::npos && !(raw.noParams && invalid))
                    << entry.Text();
            }
            EXPECT_EQ(raw.intoPopup, cancelled);
            EXPECT_TRUE(StillTheUsers(session_->Window(window)));
            if (raw.intoPopup) {
                EXPECT_TRUE(session_->Window(window + 1).quitCalled && !session_->Window(window + 1).hwnd);
                // The log keeps as much of an address as the browser itself
                // (the same beginning twice is one line).
                std::string kept;
                for (size_t i = 0; i < 2083; ++i) kept += static_cast<char>('A' + i % 26);
                const std::vector<std::string> logged = korvane_->BlockedPopupsShown();
                if (raw.args[1].rfind("bigstr:", 0) == 0) {
                    EXPECT_NE(logged.end(), std::find(logged.begin(), logged.end(), kept));
                }
                for (const std::string& line : logged) EXPECT_GE(kept.size(), line.size());
            }
            // OnQuit tells the helper its window is closing: it lets go of the window,
            // and of the windows its page announced. The user's next window decides.
            ExpectDecisionsAndNothingHeld(raw.dispid == standin::kOnQuit ? OpenUsersWindow() : window);
        });
    }
}

// --- Pages ---------------------------------------------------------------------

bool Wrote(standin::Document& document, const std::string& id, const std::string& property,
           const std::string& value) {
    for (const standin::PropertyWrite& write : document.Writes())
        if (write.id == id && write.property == property && write.value.find(value) != std::string::npos)
            return true;
    return false;
}

// What a page's script can do and markup cannot: put halves of surrogate
// pairs into a link's target and address and an image's address. The next
// DocumentComplete has them scanned.
void WriteHalves(Session& session, const std::string& context, const std::string& url) {
    EXPECT_TRUE(session.RunOn(context, [](IWebBrowser2* browser) {
        ComPtr<IDispatch> dispatch;
        ComPtr<IHTMLDocument2> document;
        ComPtr<IHTMLElementCollection> all;
        if (FAILED(browser->get_Document(&dispatch)) || FAILED(dispatch.As(&document)) ||
            FAILED(document->get_all(&all)) || !all)
            return;
        auto element = [&](const wchar_t* id) {
            UniqueVariant name;
            V_VT(name.ptr()) = VT_BSTR;
            V_BSTR(name.ptr()) = SysAllocString(id);
            VARIANT none;
            VariantInit(&none);
            ComPtr<IDispatch> found;
            all->item(name.get(), none, &found);
            return found;
        };
        ComPtr<IHTMLAnchorElement> link;
        ComPtr<IHTMLImgElement> image;
        if (auto found = element(L"first")) found.As(&link);
        if (auto found = element(L"ad")) found.As(&image);
        if (!link || !image) return ADD_FAILURE() << "no #first or #ad";
        UniqueBstr target(SysAllocString(L"\xD800n\xDFFF")), href(SysAllocString(L"http://news.example/\xDBFF"));
        UniqueBstr source(SysAllocString(L"http://ads.example/\xDC00.gif"));
        link->put_target(target.get());
        link->put_href(href.get());
        image->put_src(source.get());
    }));
    EXPECT_TRUE(session.Fire(context, 259, Args({"self", "str:" + url})));
}

// Each page completes and is scanned in full, as any page is: its unload
// handler cleared, its banner hidden and its last link named, which then
// opens its window when the user clicks it. (How long a page takes beside
// the same page without the helper is korvane_hostile_page_bench's.)
TEST_F(HostileInputTest, ExtremePagesCompleteAndAreScannedInFull) {
    Tally tally("hostile_pages",
                "pages: 100k elements, nesting 10 to 10,000, 1 MB attribute values, 5,000 links, "
                "1,000 frames, a 1 MB onunload, binary bytes, lone surrogates, six 7 MB source "
                "listings in one window");
    tally.Holds("each completed and was scanned to its end; its last link opened; no leak, no BSTR "
                "left; a popup after each blocked, a white-listed one let through");
    for (const test::HostilePage& page : test::HostilePages()) {
        tally.Run(page.name, [&] {
            for (const auto& file : page.files) test::WriteSitePage(site_->path(), file.first, file.second);
            NewSession();
            Shared().blockBannerAds = 1;
            const int window = OpenUsersWindow(page.url);
            const std::string context = "w" + std::to_string(window);
            for (int showing = 1; showing < page.timesInOneWindow; ++showing)
                EXPECT_TRUE(session_->Load(context, page.Address(showing))) << session_->LastError();
            EXPECT_EQ(page.Address(page.timesInOneWindow - 1), session_->Window(window).url);
            if (page.scriptWritesHalves) WriteHalves(*session_, context, page.url);
            {
                auto top = session_->DocumentOf(context);
                auto marked = session_->DocumentOf(context + page.frameContext);
                ASSERT_TRUE(top && marked);
                EXPECT_TRUE(Wrote(*top, "page", "onunload", "null")) << "unload handler kept";
                EXPECT_TRUE(Wrote(*marked, "ad", "width", "0")) << "banner not hidden";
                EXPECT_EQ(0u, marked->FindClickable("a", "#last").target.rfind("z9z", 0))
                    << "the scan did not reach the last link";
            }
            // The user's clicks on the first and the last link the scan named.
            for (const char* id : {"last", "first"}) {
                const std::string frame = context + page.frameContext;
                const auto link = session_->DocumentOf(frame)->FindClickable("a", std::string("#") + id);
                if (!link.found) continue;
                standin::ElementSelector selector;
                selector.value = id;
                EXPECT_TRUE(session_->Click(frame, selector)) << session_->LastError();
                const WindowInfo opened = WindowFor(*session_, link.href);
                EXPECT_TRUE(opened.open && !opened.firstNavigationCancelled)
                    << "the user's link was blocked: #" << id << " " << link.href.substr(0, 80);
            }
            ExpectDecisionsAndNothingHeld(window);
        });
    }
}

// --- Files and settings read by a browser process of its own -------------------

// The white list file and "File" are read once a process needs them, so
// their cases run in browser processes of their own: korvane_browser.exe
// loads the registered DLL through COM as the browser does, plays the steps
// after opening the news page, and ends with the same check that nothing is
// held (exit code 0 when every expectation held).
int PlayInOwnProcess(const std::string& site, const std::string& steps) {
    test::TempDirectory folder;
    const std::string file = folder.File("case.session");
    std::string quoted;
    for (char c : site) quoted += c == '\\' ? std::string("\\\\") : std::string(1, c);
    test::WriteFileBytes(file, "option helpers " + test::GuidText(CLSID_ViewSource) +
                                   "\noption timeout 10000\nsite \"" + quoted + "\"\nopen " + kNews +
                                   "\n" + steps);
    return test::RunProcess("\"" + test::ProgramDirectory() + "korvane_browser.exe\" \"" + file +
                            "\" --quiet", 60000);
}

std::string Expect(const std::vector<std::string>& passed, const std::vector<std::string>& blocked) {
    std::string steps;
    for (const std::string& url : passed)
        steps += "script-open w1 " + url + "pop.html\nexpect opened " + url + "pop.html\n";
    for (const std::string& url : blocked)
        steps += "script-open w1 " + url + "pop.html\nexpect blocked " + url + "pop.html\n";
    return steps;
}

std::string Utf16(const std::wstring& text) {
    return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(text.data()), 2 * text.size());
}

struct WhiteListCase {
    std::string label;
    std::string bytes;
    std::vector<std::string> passed;   // addresses of popups let through ("...pop.html")
    std::vector<std::string> blocked;
};

std::vector<WhiteListCase> WhiteListCases() {
    std::string many;
    for (int i = 0; i < 100000; ++i) many += "http://t" + std::to_string(i) + ".example/ ";
    const std::string longToken = "http://long.example/" + std::string(10240, 'a');
    const std::string ads = "http://ads.example/";
    const std::string friendly = kFriend;
    return {
        {"100,000 tokens", many, {"http://t0.example/", "http://t799.example/"},
         {"http://t800.example/", "http://t99999.example/"}},
        {"10 KB tokens", longToken + " " + friendly + "\n" + longToken, {friendly},
         {longToken.substr(0, 300)}},
        {"1 MB of random bytes", test::RandomBytes(1 << 20, 7), {}, {ads, friendly}},
        {"only NULs", std::string(65536, '\0'), {}, {ads, friendly}},
        {"empty", "", {}, {ads, friendly}},
        {"Ctrl-Z first", "\x1A" + friendly + "\r\n", {}, {friendly}},
        {"Ctrl-Z in the middle", friendly + "\r\n\x1A\r\nhttp://b.example/\r\n", {friendly}, {"http://b.example/"}},
        {"mixed line ends", "http://a.example/\rhttp://b.example/\nhttp://c.example/\r\n\n\rhttp://d.example/",
         {"http://a.example/", "http://b.example/", "http://c.example/", "http://d.example/"}, {ads}},
        {"UTF-8 with its mark", "\xEF\xBB\xBF" + friendly + "\r\nhttp://caf\xC3\xA9.example/\r\n",
         {friendly, "http://caf\xC3\xA9.example/"}, {ads}},
        {"UTF-16 with its mark", Utf16(L"http://friend.example/\r\nhttp://caf\x00e9.example/\r\n"),
         {friendly, "http://caf\xC3\xA9.example/"}, {ads}},
        {"UTF-16 big-endian mark", "\xFE\xFF" + Utf16(L"http://friend.example/").substr(2), {}, {friendly}},
        {"an entry of two letters and a colon", "a:\r\n", {}, {ads, "https://ads.example/"}},
    };
}

// Each list, read by a fresh process, lets through what it holds and no
// more; the file is never rewritten, and no temporary file is left.
TEST_F(HostileInputTest, WhiteListFilesOfAnyContentAreReadSafely) {
    Tally tally("hostile_white_list_files",
                "white list files: 100,000 tokens, 10 KB tokens, 1 MB of random bytes, only NULs, "
                "empty, Ctrl-Z first and in the middle, mixed line ends, UTF-8 and UTF-16 marks");
    tally.Holds("each read by a browser process of its own: what it holds let through, the rest "
                "blocked, no leak; the file never rewritten, no temporary file left");
    const std::string file = korvane_->Folder() + "WhiteList.txt";
    const std::string kept = test::ReadFileBytes(file);
    for (const WhiteListCase& list : WhiteListCases()) {
        tally.Run(list.label, [&] {
            ASSERT_TRUE(test::WriteFileBytes(file, list.bytes));
            EXPECT_EQ(0, PlayInOwnProcess(site_->path(), Expect(list.passed, list.blocked)));
            EXPECT_TRUE(test::ReadFileBytes(file) == list.bytes) << "the list was rewritten";
            WIN32_FIND_DATAA found;
            HANDLE search = FindFirstFileA((korvane_->Folder() + "WhiteList*.tmp").c_str(), &found);
            EXPECT_EQ(INVALID_HANDLE_VALUE, search) << found.cFileName;
            if (search != INVALID_HANDLE_VALUE) FindClose(search);
        });
    }
    test::WriteFileBytes(file, kept);
}

// "Tray Icon", "Sound" and "Flash" of every wrong type and size, and "File"
// of every shape, as the settings code reads them; then every "File" that
// names something other than a file, played by a browser process at each
// block: the blocks and the white list work as before, and nothing waits.
struct RegistryCase {
    std::string label;
    const char* name;
    DWORD type;
    std::string bytes;
    long long dword = -1;   // what a DWORD setting reads as; -1: missing
    std::string file;       // what "File" reads as
};

std::string Dword(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

std::vector<RegistryCase> RegistryCases(const std::string& pipe) {
    std::vector<RegistryCase> cases;
    const std::pair<DWORD, std::string> shapes[] = {
        {REG_SZ, std::string("1\0", 2)},        {REG_EXPAND_SZ, std::string("1\0", 2)},
        {REG_MULTI_SZ, std::string("1\0\0", 3)}, {REG_BINARY, "\x01"},
        {REG_BINARY, Dword(1)},                 {REG_DWORD, ""},
        {REG_DWORD, "\x01\x00"},                {REG_DWORD, Dword(1) + Dword(0)},
        {11 /* REG_QWORD */, Dword(1) + Dword(0)}, {REG_DWORD_BIG_ENDIAN, Dword(1)},
        {REG_NONE, ""},                         {REG_DWORD, std::string(10240, '\x01')},
    };
    for (const char* name : {kTrayIconValue, kSoundValue, kFlashValue}) {
        for (const auto& shape : shapes)
            cases.push_back({std::string(name) + " of type " + std::to_string(shape.first) + ", " +
                                 std::to_string(shape.second.size()) + " bytes",
                             name, shape.first, shape.second});
        cases.push_back({std::string(name) + " of 0xFFFFFFFF", name, REG_DWORD, Dword(0xFFFFFFFF), 0xFFFFFFFF});
    }
    const std::string wave = "C:\\Sounds\\blocked.wav";
    const auto file = [&](std::string label, DWORD type, std::string bytes, std::string reads) {
        cases.push_back({std::move(label), kFileValue, type, std::move(bytes), -1, std::move(reads)});
    };
    file("File of 10 KB", REG_SZ, std::string(10240, 'p') + '\0', "");
    file("File of 10 KB without a NUL", REG_SZ, std::string(10240, 'p'), "");
    file("File without a NUL", REG_SZ, wave, wave);
    file("File with a NUL inside", REG_SZ, wave + std::string("\0x.wav", 6), wave);
    file("File of 259 bytes", REG_SZ, "C:\\" + std::string(256, 'p'), "C:\\" + std::string(256, 'p'));
    file("File of 260 bytes", REG_SZ, "C:\\" + std::string(257, 'p'), "");
    file("File expanding past a path's room", REG_EXPAND_SZ, "C:\\" + std::string(250, 'p') + "%WINDIR%", "");
    file("File as a DWORD", REG_DWORD, Dword(0x5C3A43), "");
    file("File as binary", REG_BINARY, wave, "");
    file("File as several strings", REG_MULTI_SZ, wave + std::string("\0\0", 2), "");
    for (std::string device : {"CON", "NUL", "COM1", "C:\\Sounds\\nul.wav", "\\\\.\\COM1", "LPT1:"})
        file("File naming the device " + device, REG_SZ, device, "");
    file("File naming a pipe", REG_SZ, pipe, "");
    file("File naming a pipe of a server", REG_SZ, "\\\\server\\pipe\\korvane", "");
    return cases;
}

void StoreRaw(const char* name, DWORD type, const std::string& bytes) {
    test::DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE,
                                             nullptr, &key, nullptr));
    // The registry adds a NUL to a string whose data is followed by one;
    // a string must be kept exactly as given (without its NUL, as "File" is
    // written), so strings go in as UTF-16 followed by a character that is not.
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        std::wstring wide(bytes.begin(), bytes.end());
        wide += L'.';
        RegSetValueExW(key, std::wstring(name, name + strlen(name)).c_str(), 0, type,
                       reinterpret_cast<const BYTE*>(wide.data()), static_cast<DWORD>(2 * bytes.size()));
    } else {
        RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size()));
    }
    RegCloseKey(key);
}

TEST_F(HostileInputTest, SettingsOfAnyTypeSizeOrNameAreReadSafely) {
    Tally tally("hostile_registry",
                "settings: \"Tray Icon\", \"Sound\" and \"Flash\" of every wrong type and size; "
                "\"File\" of 10 KB, without a NUL, of every type, naming CON, NUL, COM1 or a pipe");
    tally.Holds("wrong types and sizes read as missing, a \"File\" naming a device or a pipe as "
                "none; with each \"File\" and the sound on, a browser process of its own blocked "
                "and let through as it should, without waiting, and held nothing at the end");
    const std::string pipeName = "\\\\.\\pipe\\korvane-hostile-" + std::to_string(GetCurrentProcessId());
    // A pipe whose server never writes: a reader of it waits for ever.
    UniqueHandle pipe(CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE,
                                       PIPE_UNLIMITED_INSTANCES, 0, 0, 0, nullptr));
    ASSERT_TRUE(pipe);
    Shared().soundOn = 1;
    Shared().soundIsBeep = 0;
    for (const RegistryCase& setting : RegistryCases(pipeName)) {
        tally.Run(setting.label, [&] {
            StoreRaw(setting.name, setting.type, setting.bytes);
            DWORD value = 0;
            if (setting.name == kTrayIconValue) {
                EXPECT_EQ(setting.dword >= 0, ReadTrayIconSetting(&value));
                if (setting.dword >= 0) {
                    EXPECT_EQ(static_cast<DWORD>(setting.dword), value);
                }
            } else if (setting.name == kSoundValue || setting.name == kFlashValue) {
                value = setting.name == kSoundValue ? ReadSoundSetting() : ReadFlashSetting();
                EXPECT_EQ(static_cast<DWORD>(setting.dword < 0 ? 0 : setting.dword), value);
            } else {
                EXPECT_EQ(setting.file, ReadSoundFile().c_str());
                if (setting.type == REG_SZ) {
                    EXPECT_EQ(0, PlayInOwnProcess(site_->path(), Expect({kFriend}, {"http://ads.example/",
                                                                                   "http://ads.example/again/"})));
                }
            }
        });
    }
    Shared().soundOn = 0;
    test::DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
}

}  // namespace
