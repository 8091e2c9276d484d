// "Vantrell White List" and its site editor: the list in reverse store
// order, add, edit and delete through the editor and the confirmation, the
// store taking the list's order, and the save at close.
#include <algorithm>
#include <cstring>

#include "base/unique_resource.h"
#include "dialog_fixture.h"
#include "dialogs/white_list_dialog.h"
#include "resource.h"

using namespace korvane;
using namespace korvane::test;

namespace {

constexpr char kTitle[] = "Vantrell White List";
constexpr char kPeerSwitch[] = "--white-list-peer";
constexpr char kEditorTitle[] = "Vantrell Web Site Editor";

HWND List(HWND dialog) { return GetDlgItem(dialog, IDC_SITE_LIST); }

void Select(HWND dialog, const std::string& text) {
    const Lines lines = ListItems(List(dialog));
    const auto found = std::find(lines.begin(), lines.end(), text);
    ASSERT_NE(lines.end(), found) << text;
    SelectItem(List(dialog), static_cast<int>(found - lines.begin()));
}

// Presses button (Add or Edit), checks the text the editor opens with, puts
// text in it and leaves it with "Ok" or "Cancel".
void UseEditor(HWND dialog, int button, const std::string& shown, const std::string& text,
               int leaveWith = IDC_SITE_OK) {
    PressLater(dialog, button);
    HWND editor = WaitForOwnWindow("#32770", kEditorTitle);
    ASSERT_NE(nullptr, editor);
    EXPECT_EQ(shown, WindowText(GetDlgItem(editor, IDC_SITE_TEXT)));
    SetWindowTextA(GetDlgItem(editor, IDC_SITE_TEXT), text.c_str());
    Press(editor, leaveWith);
    ASSERT_TRUE(WaitForWindowGone(editor));
    Settle(dialog);
}

void Add(HWND dialog, const std::string& text) { UseEditor(dialog, IDC_ADD, "", text); }

void Edit(HWND dialog, const std::string& item, const std::string& text,
          int leaveWith = IDC_SITE_OK) {
    Select(dialog, item);
    UseEditor(dialog, IDC_EDIT, item, text, leaveWith);
}

void Delete(HWND dialog, const std::string& item, int answer) {
    Select(dialog, item);
    PressLater(dialog, IDC_DELETE);
    HWND box = WaitForOwnWindow("#32770", "Delete");
    ASSERT_NE(nullptr, box);
    EXPECT_EQ("Do you want to delete?", MessageBoxText(box));
    Answer(box, answer);
    Settle(dialog);
}

// Presses a button that must not open anything, and checks that it did not.
void PressExpectingNothing(HWND dialog, int button) {
    PressLater(dialog, button);
    ASSERT_TRUE(PassPostedMessages());
    EXPECT_EQ(nullptr, FindOwnWindow("#32770", kEditorTitle));
    EXPECT_EQ(nullptr, FindOwnWindow("#32770", "Delete"));
}

class WhiteListDialogTest : public DialogTest {
protected:
    void Open(const std::function<void(HWND)>& drive) {
        OpenFromTray(ID_TRAY_WHITE_LIST, kTitle, drive);
    }
};

}  // namespace

TEST_F(WhiteListDialogTest, ShowsTheStoreInReverseOrderAndSavesItUnchanged) {
    SetList({"http://first", "http://second", "http://third"});
    Open([](HWND dialog) {
        EXPECT_EQ(Lines({"http://third", "http://second", "http://first"}), ListItems(List(dialog)));
        Press(dialog, IDC_CLOSE);
    });
    EXPECT_EQ(Lines({"http://first", "http://second", "http://third"}), Entries());
    EXPECT_EQ("http://first\r\nhttp://second\r\nhttp://third\r\n", FileText());
}

TEST_F(WhiteListDialogTest, AddPutsTheItemOnTopAndTheStoreTakesTheListOrder) {
    SetList({"http://first", "http://second", "http://third"});
    Open([this](HWND dialog) {
        Add(dialog, "fourth.example");
        EXPECT_EQ(Lines({"http://fourth.example", "http://third", "http://second", "http://first"}),
                  ListItems(List(dialog)));
        EXPECT_EQ(ListItems(List(dialog)), Entries());
        EXPECT_FALSE(FileExists());  // written at close only

        // A text with a colon is taken as typed.
        Add(dialog, "https://secure.example");
        Add(dialog, "host.example:8080");
        EXPECT_EQ("host.example:8080", ListItems(List(dialog))[0]);
        EXPECT_EQ("https://secure.example", ListItems(List(dialog))[1]);
        SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_EQ(
        "host.example:8080\r\nhttps://secure.example\r\nhttp://fourth.example\r\nhttp://third\r\n"
        "http://second\r\nhttp://first\r\n",
        FileText());
}

TEST_F(WhiteListDialogTest, AnEditedEntryMovesToTheTop) {
    SetList({"http://first", "http://second", "http://third"});
    Open([](HWND dialog) {
        Edit(dialog, "http://second", "second.example");
        EXPECT_EQ(Lines({"http://second.example", "http://third", "http://first"}),
                  ListItems(List(dialog)));
        EXPECT_EQ(ListItems(List(dialog)), Entries());
        // Ok with the text unchanged: the same entry, now at the top.
        Edit(dialog, "http://first", "http://first");
        EXPECT_EQ(Lines({"http://first", "http://second.example", "http://third"}), Entries());
        Press(dialog, IDC_CLOSE);
    });
}

TEST_F(WhiteListDialogTest, CancelOrAnEmptiedTextChangesNothing) {
    SetList({"http://first", "http://second"});
    Open([](HWND dialog) {
        const Lines shown = ListItems(List(dialog));
        Edit(dialog, "http://first", "", IDC_SITE_OK);
        Edit(dialog, "http://first", "changed.example", IDC_SITE_CANCEL);
        UseEditor(dialog, IDC_ADD, "", "", IDC_SITE_OK);
        UseEditor(dialog, IDC_ADD, "", "added.example", IDC_SITE_CANCEL);
        EXPECT_EQ(shown, ListItems(List(dialog)));
        // Nothing was taken over: the store keeps its own order.
        EXPECT_EQ(Lines({"http://first", "http://second"}), Entries());

        // Without a selection, Edit and Delete do nothing.
        SendMessageA(List(dialog), LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        PressExpectingNothing(dialog, IDC_EDIT);
        PressExpectingNothing(dialog, IDC_DELETE);
        Press(dialog, IDC_CLOSE);
    });
}

TEST_F(WhiteListDialogTest, DeleteAsksAndOnlyYesDeletes) {
    SetList({"http://first", "http://second"});
    TheWhiteList().Save();
    const std::string before = FileText();
    Open([&](HWND dialog) {
        Delete(dialog, "http://first", IDNO);
        EXPECT_EQ(Lines({"http://second", "http://first"}), ListItems(List(dialog)));
        EXPECT_EQ(Lines({"http://first", "http://second"}), Entries());
        EXPECT_EQ(before, FileText());

        Delete(dialog, "http://first", IDYES);
        EXPECT_EQ(Lines({"http://second"}), ListItems(List(dialog)));
        EXPECT_EQ(Lines({"http://second"}), Entries());
        Delete(dialog, "http://second", IDYES);
        EXPECT_TRUE(Entries().empty());
        Press(dialog, IDC_CLOSE);
    });
    // An emptied list is saved empty: one line end.
    EXPECT_EQ("\r\n", FileText());
}

// The dialog shows the file as it is when it opens; closed without a
// change, by "Close" or the close box, it leaves the file as it is.
TEST_F(WhiteListDialogTest, LoadsTheFileWhenOpenedAndLeavesItWithoutAChange) {
    const std::string handMade = "http://a http://b\r\n\r\nhttp://c";
    WriteFileBytes(listFile_, handMade);
    Open([](HWND dialog) {
        EXPECT_EQ(Lines({"http://c", "http://b", "http://a"}), ListItems(List(dialog)));
        Press(dialog, IDC_CLOSE);
    });
    Open([](HWND dialog) { SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); });
    EXPECT_EQ(handMade, FileText());
}

// Two browser processes read the list at their start. This one adds a site;
// the other's White List dialog then shows it, and closing that dialog
// without a change leaves the file as this one saved it.
TEST_F(WhiteListDialogTest, AnotherProcessNeitherHidesNorRevertsAChange) {
    WriteFileBytes(listFile_, "http://a.example\r\n");
    const std::string id = std::to_string(GetCurrentProcessId());
    UniqueHandle loaded(CreateEventA(nullptr, TRUE, FALSE, ("korvane-peer-loaded-" + id).c_str()));
    UniqueHandle go(CreateEventA(nullptr, TRUE, FALSE, ("korvane-peer-go-" + id).c_str()));
    ChildProcess peer("\"" + ProgramDirectory() + "korvane_dialogs_tests.exe\" " + kPeerSwitch +
                      " " + id + " http://a.example|http://b.example");
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(loaded.get(), 60000));
    Open([](HWND dialog) {
        Add(dialog, "b.example");
        Press(dialog, IDC_CLOSE);
    });
    SetEvent(go.get());
    EXPECT_EQ(0, peer.Wait()) << "the other process showed another list";
    EXPECT_EQ("http://b.example\r\nhttp://a.example\r\n", FileText());
}

// The store changes while the dialog is open: the Blocked Popups dialog
// adds an entry, or takes in another process's save as it opens, or a new
// browser window loads the list into the store the dialog opened empty.
// An add, delete or edit in this dialog changes only what it touches, and
// its list then shows the store, newest at the top.
TEST_F(WhiteListDialogTest, EntriesTheStoreGainsMeanwhileSurviveAChangeHere) {
    const char* two = "http://first\r\nhttp://second\r\n";
    const struct {
        const char* file;
        std::function<void(const std::string&)> change;
        int button;
        Lines shown;
    } cases[] = {
        {two, [](const std::string&) { TheWhiteList().Append("http://y"); }, IDC_DELETE,
         {"http://y", "http://first"}},
        {two, [](const std::string& file) {
             WriteFileBytes(file, "http://first\r\nhttp://second\r\nhttp://y\r\n");
             TheWhiteList().ReloadIfChanged();
         }, IDC_EDIT, {"http://2nd.example", "http://y", "http://first"}},
        {nullptr, [](const std::string& file) {
             WriteFileBytes(file, "http://y\r\n");
             TheWhiteList().LoadIfEmpty();
         }, IDC_ADD, {"http://added.example", "http://y"}},
    };
    for (const auto& c : cases) {
        ResetList();
        if (c.file) WriteFileBytes(listFile_, c.file);
        Open([&](HWND dialog) {
            c.change(listFile_);
            if (c.button == IDC_DELETE) Delete(dialog, "http://second", IDYES);
            if (c.button == IDC_EDIT) Edit(dialog, "http://second", "2nd.example");
            if (c.button == IDC_ADD) Add(dialog, "added.example");
            EXPECT_EQ(c.shown, ListItems(List(dialog)));
            EXPECT_EQ(c.shown, Entries());
            Press(dialog, IDC_CLOSE);
        });
    }
}

// The dialog's loop also ends without "Close" when WM_QUIT arrives, as when
// the thread's browser window closes: the change is saved all the same.
TEST_F(WhiteListDialogTest, AChangeIsSavedHoweverTheDialogEnds) {
    Open([](HWND dialog) {
        Add(dialog, "quit.example");
        PostThreadMessageA(ModalThreadId(), WM_QUIT, 0, 0);
        EXPECT_TRUE(WaitForWindowGone(dialog));
    });
    // The loop hands WM_QUIT on to the thread's own loop.
    MSG quit;
    EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ("http://quit.example\r\n", FileText());
}

// A save that fails says so, with the file and the system's reason; the
// change stays, and the next close saves it. (Wine enforces no file ACLs: a
// read-only list stands for a folder the user may not write to.)
TEST_F(WhiteListDialogTest, AFailedSaveIsReportedAndTheChangeKept) {
    WriteFileBytes(listFile_, "http://old.example\r\n");
    SetFileAttributesA(listFile_.c_str(), FILE_ATTRIBUTE_READONLY);
    char reason[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, reason, 255,
                   nullptr);
    Open([&](HWND dialog) {
        Add(dialog, "new.example");
        PressLater(dialog, IDC_CLOSE);
        HWND box = WaitForOwnWindow("#32770", "White List Not Saved");
        ASSERT_NE(nullptr, box);
        EXPECT_NE(std::string::npos, MessageBoxText(box).find(listFile_));
        EXPECT_NE(std::string::npos, MessageBoxText(box).find(std::string(reason, 10)));
        Answer(box, IDOK);
    });
    EXPECT_EQ("http://old.example\r\n", FileText());
    SetFileAttributesA(listFile_.c_str(), FILE_ATTRIBUTE_NORMAL);
    Open([](HWND dialog) { Press(dialog, IDC_CLOSE); });
    EXPECT_EQ("http://new.example\r\nhttp://old.example\r\n", FileText());
}

TEST_F(WhiteListDialogTest, TheEditorTakesNoMoreThanTheBufferHolds) {
    Open([](HWND dialog) {
        PressLater(dialog, IDC_ADD);
        HWND editor = WaitForOwnWindow("#32770", kEditorTitle);
        ASSERT_NE(nullptr, editor);
        HWND edit = GetDlgItem(editor, IDC_SITE_TEXT);
        // Typing: the edit control takes 259 characters and no more.
        for (int i = 0; i < 300; ++i) PostMessageA(edit, WM_CHAR, 'w', 1);
        ASSERT_TRUE(PassPostedMessages());
        EXPECT_EQ(259, GetWindowTextLengthA(edit));
        Press(editor, IDC_SITE_OK);
        ASSERT_TRUE(WaitForWindowGone(editor));
        Settle(dialog);
        // 259 characters without a colon would grow past 259 with "http://":
        // the store could not hold it, so it is not added.
        EXPECT_TRUE(ListItems(List(dialog)).empty());
        EXPECT_TRUE(Entries().empty());
        EXPECT_EQ(std::string(259, 'w'), SiteEditBuffer);

        const std::string fits(252, 'f');
        Add(dialog, fits);
        EXPECT_EQ(Lines({"http://" + fits}), Entries());
        const std::string withColon = "ftp:" + std::string(255, 'c');
        Add(dialog, withColon);
        EXPECT_EQ(withColon, Entries()[0]);
        Press(dialog, IDC_CLOSE);
    });
}

// A list item the store could not hold (put there by other means) is never
// copied into the 260-byte edit buffer, and blocks no other change: the
// list follows the store, which never held it.
TEST_F(WhiteListDialogTest, AnOverlongItemIsNeitherEditedNorCut) {
    SetList({"http://first"});
    Open([](HWND dialog) {
        const std::string overlong = "http://" + std::string(300, 'o');
        SendMessageA(List(dialog), LB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(overlong.c_str()));
        std::memcpy(SiteEditBuffer, "untouched", 10);
        SelectItem(List(dialog), 0);
        PressExpectingNothing(dialog, IDC_EDIT);
        EXPECT_STREQ("untouched", SiteEditBuffer);

        Add(dialog, "second.example");
        EXPECT_EQ(Lines({"http://second.example", "http://first"}), ListItems(List(dialog)));
        EXPECT_EQ(ListItems(List(dialog)), Entries());
        Press(dialog, IDC_CLOSE);
    });
}

TEST_F(WhiteListDialogTest, AFullListTakesNoMore) {
    std::vector<AnsiString> full;
    for (int i = 0; i < kWhiteListCapacity; ++i)
        full.emplace_back(("http://full" + std::to_string(i)).c_str());
    ASSERT_TRUE(TheWhiteList().ReplaceAll(full));
    Open([](HWND dialog) {
        Add(dialog, "one-more.example");
        EXPECT_EQ(kWhiteListCapacity, static_cast<int>(ListItems(List(dialog)).size()));
        EXPECT_EQ(kWhiteListCapacity, TheWhiteList().Count());
        EXPECT_EQ("http://full799", ListItems(List(dialog))[0]);
        Press(dialog, IDC_CLOSE);
    });
}

// The other process of AnotherProcessNeitherHidesNorRevertsAChange: it reads
// the list at its start, as its first helper does, and once told, opens its
// White List dialog and closes it without a change. 0 when the dialog showed
// the items expected, joined by "|".
int RunPeer(const std::string& id, const std::string& expected) {
    PrepareUserInterface();
    TheWhiteList().LoadIfEmpty();
    UniqueHandle loaded(CreateEventA(nullptr, TRUE, FALSE, ("korvane-peer-loaded-" + id).c_str()));
    UniqueHandle go(CreateEventA(nullptr, TRUE, FALSE, ("korvane-peer-go-" + id).c_str()));
    SetEvent(loaded.get());
    std::string shown;
    if (WaitForSingleObject(go.get(), 60000) != WAIT_OBJECT_0) return 2;
    RunWhileModal([] { WhiteListDialog::Show(moduleInstance); }, [&] {
        HWND dialog = WaitForOwnWindow("#32770", kTitle);
        for (const std::string& item : ListItems(List(dialog)))
            shown += (shown.empty() ? "" : "|") + item;
        Press(dialog, IDC_CLOSE);
    });
    return shown == expected ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], kPeerSwitch) == 0) return RunPeer(argv[2], argv[3]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
