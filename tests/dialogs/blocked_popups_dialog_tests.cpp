// "Vantrell Log": the blocked addresses newest first and live, Clear, Goto,
// and additions to the white list with their confirmations.
#include <algorithm>
#include <thread>

#include "dialog_fixture.h"
#include "resource.h"
#include "state/string_ring.h"

using namespace korvane;
using namespace korvane::test;

namespace {

// The log lives as long as the process: every case logs addresses of its
// own.
std::string Unique(const std::string& address) {
    static int counter = 0;
    return address + (address.find('?') == std::string::npos ? "?n=" : "&n=") +
           std::to_string(++counter);
}

Lines LogNewestFirst() {
    Lines lines;
    for (const AnsiString& entry : TheBlockedPopupLog().Snapshot()) lines.emplace(lines.begin(), entry.c_str());
    return lines;
}

HWND List(HWND dialog) { return GetDlgItem(dialog, IDC_LOG_LIST); }

// Selects the line with text, presses button, answers its question.
void AddToWhiteList(HWND dialog, const std::string& text, int button, const char* caption,
                    const char* question, int answer) {
    const Lines lines = ListItems(List(dialog));
    const auto found = std::find(lines.begin(), lines.end(), text);
    ASSERT_NE(lines.end(), found) << text;
    SelectItem(List(dialog), static_cast<int>(found - lines.begin()));
    PressLater(dialog, button);
    HWND box = WaitForOwnWindow("#32770", caption);
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(question, MessageBoxText(box));
    EXPECT_NE(nullptr, GetDlgItem(box, IDYES));
    EXPECT_NE(nullptr, GetDlgItem(box, IDNO));
    Answer(box, answer);
    Settle(dialog);
}

void AddLink(HWND dialog, const std::string& text, int answer = IDYES) {
    AddToWhiteList(dialog, text, IDC_ADD_LINK, "Add Link to White List",
                   "Do you want to add link to White List?", answer);
}
void AddSite(HWND dialog, const std::string& text, int answer = IDYES) {
    AddToWhiteList(dialog, text, IDC_ADD_SITE, "Add Site to White List",
                   "Do you want to add site to White List?", answer);
}

class BlockedPopupsTest : public DialogTest {
protected:
    void Open(const std::function<void(HWND)>& drive) {
        OpenFromTray(ID_TRAY_BLOCKED_POPUPS, "Vantrell Log", drive);
    }
};

}  // namespace

TEST_F(BlockedPopupsTest, ShowsTheLogNewestFirstAndEachNewBlockAtOnce) {
    const std::string first = Unique("http://first.example/"), second = Unique("http://second.example/");
    TheBlockedPopupLog().Add(first.c_str());
    TheBlockedPopupLog().Add(second.c_str());
    const Lines logged = LogNewestFirst();
    HWND published = nullptr;
    Open([&](HWND dialog) {
        EXPECT_EQ(logged, ListItems(List(dialog)));
        EXPECT_EQ(second, ListItems(List(dialog)).front());
        published = logListBox;
        EXPECT_EQ(List(dialog), published);

        // A popup blocked on another thread while the dialog is open.
        const std::string live = Unique("http://live.example/");
        std::thread browser([&] { TheBlockedPopupLog().Add(live.c_str()); });
        browser.join();
        Lines now = ListItems(List(dialog));
        EXPECT_EQ(logged.size() + 1, now.size());
        EXPECT_EQ(live, now.front());
        // The same address again is no new entry, and no new line.
        std::thread again([&] { TheBlockedPopupLog().Add(live.c_str()); });
        again.join();
        EXPECT_EQ(now, ListItems(List(dialog)));
        Press(dialog, IDC_CLOSE);
    });
    EXPECT_EQ(nullptr, logListBox);
    // Closed, the log still records but no list box is told.
    EXPECT_TRUE(TheBlockedPopupLog().Add(Unique("http://after.example/").c_str()));
}

TEST_F(BlockedPopupsTest, AfterTheLogWrappedItShowsAsManyAsItHolds) {
    for (int i = 0; i < 120; ++i) TheBlockedPopupLog().Add(Unique("http://wrap.example/").c_str());
    const Lines logged = LogNewestFirst();
    ASSERT_EQ(99u, logged.size());
    Open([&](HWND dialog) {
        EXPECT_EQ(logged, ListItems(List(dialog)));
        SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_EQ(nullptr, logListBox);
}

TEST_F(BlockedPopupsTest, ClearEmptiesOnlyTheView) {
    TheBlockedPopupLog().Add(Unique("http://clear.example/").c_str());
    const Lines logged = LogNewestFirst();
    Open([&](HWND dialog) {
        Press(dialog, IDC_CLEAR);
        EXPECT_TRUE(ListItems(List(dialog)).empty());
        Press(dialog, IDC_CLOSE);
    });
    Open([&](HWND dialog) {
        EXPECT_EQ(logged, ListItems(List(dialog)));
        Press(dialog, IDC_CLOSE);
    });
}

TEST_F(BlockedPopupsTest, AddLinkAndAddSiteStoreAndSaveAtOnce) {
    const std::string withQuery = Unique("http://ads.example.com/pop/up.html?id=7");
    const std::string plain = "http://plain.example/path/page.html";
    const std::string twoSlashes = "about:blank";
    TheBlockedPopupLog().Add(withQuery.c_str());
    TheBlockedPopupLog().Add(plain.c_str());
    TheBlockedPopupLog().Add(twoSlashes.c_str());
    Open([&](HWND dialog) {
        AddLink(dialog, withQuery);
        EXPECT_EQ(Lines({"http://ads.example.com/pop/up.html"}), Entries());
        EXPECT_EQ("http://ads.example.com/pop/up.html\r\n", FileText());

        AddSite(dialog, withQuery);
        AddLink(dialog, plain);
        AddSite(dialog, plain);
        AddSite(dialog, twoSlashes);
        const Lines expected = {"http://ads.example.com/pop/up.html", "http://ads.example.com",
                                plain, "http://plain.example", "about:blank"};
        EXPECT_EQ(expected, Entries());
        // The dialog stays open with its list unchanged.
        EXPECT_EQ(LogNewestFirst(), ListItems(List(dialog)));

        // The same address twice is stored twice.
        AddSite(dialog, twoSlashes);
        EXPECT_EQ(6u, Entries().size());
        EXPECT_EQ("about:blank\r\nabout:blank\r\n", FileText().substr(FileText().size() - 26));
        Press(dialog, IDC_CLOSE);
    });
}

TEST_F(BlockedPopupsTest, NoChangesNothingAndNoSelectionAsksNothing) {
    const std::string address = Unique("http://no.example/x");
    TheBlockedPopupLog().Add(address.c_str());
    SetList({"http://kept.example"});
    TheWhiteList().Save();
    const std::string before = FileText();
    Open([&](HWND dialog) {
        AddLink(dialog, address, IDNO);
        AddSite(dialog, address, IDNO);
        EXPECT_EQ(Lines({"http://kept.example"}), Entries());
        EXPECT_EQ(before, FileText());

        SendMessageA(List(dialog), LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        for (int button : {IDC_ADD_LINK, IDC_ADD_SITE, IDC_GOTO}) {
            PressLater(dialog, button);
            ASSERT_TRUE(PassPostedMessages());
            EXPECT_EQ(nullptr, FindOwnWindow("#32770", "Add Link to White List"));
            EXPECT_EQ(nullptr, FindOwnWindow("#32770", "Add Site to White List"));
        }
        Press(dialog, IDC_CLOSE);
    });
    EXPECT_EQ(before, FileText());
}

// The dialog loads the white list before it adds to it: entries saved by
// an earlier session survive an addition made in a process that had not
// read the file yet.
TEST_F(BlockedPopupsTest, AnAdditionKeepsTheEntriesAlreadyInTheFile) {
    WriteFileBytes(listFile_, "http://earlier.example\r\nhttp://older.example\r\n");
    const std::string address = Unique("http://new.example/a");
    TheBlockedPopupLog().Add(address.c_str());
    Open([&](HWND dialog) {
        AddLink(dialog, address);
        Press(dialog, IDC_CLOSE);
    });
    EXPECT_EQ("http://earlier.example\r\nhttp://older.example\r\nhttp://new.example/a\r\n",
              FileText());
}

// What the store cannot hold is not offered: no question, no change.
TEST_F(BlockedPopupsTest, AdditionsTheStoreCannotHoldDoNothing) {
    const std::string longAddress = "http://long.example/" + std::string(300, 'p') + "?q=1";
    TheBlockedPopupLog().Add(longAddress.c_str());
    Open([&](HWND dialog) {
        // "Add Site" still fits: the host alone.
        AddSite(dialog, longAddress);
        EXPECT_EQ(Lines({"http://long.example"}), Entries());
        const std::string saved = FileText();

        const Lines lines = ListItems(List(dialog));
        SelectItem(List(dialog), static_cast<int>(
                                     std::find(lines.begin(), lines.end(), longAddress) - lines.begin()));
        PressLater(dialog, IDC_ADD_LINK);
        ASSERT_TRUE(PassPostedMessages());
        EXPECT_EQ(nullptr, FindOwnWindow("#32770", "Add Link to White List"));
        EXPECT_EQ(Lines({"http://long.example"}), Entries());
        EXPECT_EQ(saved, FileText());
        Press(dialog, IDC_CLOSE);
    });

    // A full store takes nothing more.
    std::vector<AnsiString> full;
    for (int i = 0; i < kWhiteListCapacity; ++i)
        full.emplace_back(("http://full" + std::to_string(i) + ".example").c_str());
    ASSERT_TRUE(TheWhiteList().ReplaceAll(full));
    const std::string address = Unique("http://one-more.example/");
    TheBlockedPopupLog().Add(address.c_str());
    Open([&](HWND dialog) {
        SelectItem(List(dialog), 0);
        PressLater(dialog, IDC_ADD_LINK);
        ASSERT_TRUE(PassPostedMessages());
        EXPECT_EQ(nullptr, FindOwnWindow("#32770", "Add Link to White List"));
        Press(dialog, IDC_CLOSE);
    });
    EXPECT_EQ(kWhiteListCapacity, TheWhiteList().Count());
}

TEST_F(BlockedPopupsTest, GotoOpensTheSelectedAddressInTheBrowser) {
    BrowserStandIn browser;
    browser.SetClassesValue("http\\shell\\open\\command",
                            (browser.QuotedRecorder() + " goto \"%1\"").c_str());
    const std::string address = Unique("http://goto.example/page");
    TheBlockedPopupLog().Add(address.c_str());
    Open([&](HWND dialog) {
        SelectItem(List(dialog), 0);
        Press(dialog, IDC_GOTO);
        EXPECT_TRUE(IsWindowVisible(dialog));  // stays open
        Press(dialog, IDC_CLOSE);
    });
    const Lines records = browser.TakeRecords();
    ASSERT_EQ(1u, records.size());
    EXPECT_NE(std::string::npos, records[0].find(" goto \"" + address + "\"")) << records[0];
}
