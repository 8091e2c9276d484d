// Each dialog as the user sees it: title, place, size, font, and every
// control's id, kind, text and rectangle (converted from dialog units for
// the dialog itself); and the two information dialogs' ways of closing.
#include <algorithm>
#include <cctype>

#include "dialog_fixture.h"
#include "resource.h"

using namespace korvane;
using namespace korvane::test;

namespace {

struct Expected {
    int id;
    const char* className;
    const char* text;
    int x, y, width, height;
    LONG kind;  // the button or static type, or -1 for other controls
    LONG flags = 0;  // style bits the control must carry
};

struct Layout {
    UINT command;
    const char* title;
    int width, height;  // dialog units
    std::vector<Expected> controls;
};

bool SameClass(const std::string& a, const char* b) {
    std::string lower = a, other = b;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    std::transform(other.begin(), other.end(), other.begin(), ::tolower);
    return lower == other;
}

const LONG kPush = BS_PUSHBUTTON;
const LONG kDefault = BS_DEFPUSHBUTTON;
const LONG kIcon = SS_ICON;
const LONG kCheck = BS_AUTOCHECKBOX;
const LONG kList = LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_TABSTOP;

// Checks the open dialog against the layout; the icon statics size
// themselves to their icon, so only their place and image are checked.
void CheckLayout(HWND dialog, const Layout& layout) {
    RECT window{};
    GetWindowRect(dialog, &window);
    EXPECT_EQ(0, window.left);
    EXPECT_EQ(0, window.top);
    RECT client{};
    GetClientRect(dialog, &client);
    const RECT size = DialogUnitsRect(dialog, 0, 0, layout.width, layout.height);
    EXPECT_EQ(size.right, client.right);
    EXPECT_EQ(size.bottom, client.bottom);
    const LONG style = GetWindowLongA(dialog, GWL_STYLE);
    const LONG frame = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    EXPECT_EQ(frame, style & frame);
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_STREQ("MS Sans Serif", font.lfFaceName);

    const std::vector<ControlInfo> controls = Controls(dialog);
    ASSERT_EQ(layout.controls.size(), controls.size());
    for (size_t i = 0; i < controls.size(); ++i) {
        const Expected& want = layout.controls[i];
        const ControlInfo& got = controls[i];
        SCOPED_TRACE(testing::Message() << "control " << i << " \"" << want.text << "\"");
        EXPECT_EQ(want.id, got.id);
        EXPECT_TRUE(SameClass(got.className, want.className)) << got.className;
        if (SameClass(got.className, "Button")) {
            EXPECT_EQ(want.kind, got.style & BS_TYPEMASK);
        }
        if (SameClass(got.className, "Static")) {
            EXPECT_EQ(want.kind, got.style & SS_TYPEMASK);
        }
        EXPECT_EQ(want.flags, got.style & want.flags);
        if (want.kind == kIcon && SameClass(want.className, "Static")) {
            HWND control = GetDlgItem(dialog, want.id);
            if (want.id == -1) {
                control = GetWindow(dialog, GW_CHILD);
                for (size_t k = 0; k < i; ++k) control = GetWindow(control, GW_HWNDNEXT);
            }
            EXPECT_NE(0, SendMessageA(control, STM_GETICON, 0, 0));
            const RECT place = DialogUnitsRect(dialog, want.x, want.y, want.width, want.height);
            EXPECT_EQ(place.left, got.rect.left);
            EXPECT_EQ(place.top, got.rect.top);
            continue;
        }
        EXPECT_EQ(want.text, got.text);
        const RECT place = DialogUnitsRect(dialog, want.x, want.y, want.width, want.height);
        EXPECT_EQ(place.left, got.rect.left);
        EXPECT_EQ(place.top, got.rect.top);
        EXPECT_EQ(place.right, got.rect.right);
        EXPECT_EQ(place.bottom, got.rect.bottom);
    }
}

const Layout kAbout{ID_TRAY_ABOUT, "About Vantrell", 171, 83,
                    {{IDOK, "Button", "OK", 129, 7, 35, 14, kDefault, WS_TABSTOP},
                     {212, "Static", "", 6, 7, 20, 20, kIcon},
                     {213, "Static", "Vantrell 1.52", 36, 13, 53, 12, SS_LEFTNOWORDWRAP}}};

const Layout kHotKeys{
    ID_TRAY_HOT_KEYS, "Vantrell Hot Keys", 228, 90,
    {{IDOK, "Button", "OK", 186, 7, 35, 14, kDefault, WS_TABSTOP},
     {-1, "Static", "", 7, 8, 21, 20, kIcon},
     {-1, "Static", "Hot Keys", 46, 13, 37, 12, SS_LEFT},
     {-1, "Static", "F8 - Tray Icon Hide/Visible", 41, 28, 112, 8, SS_LEFT},
     {-1, "Static", "F9 - Sound On/Off Switch", 41, 41, 88, 11, SS_LEFT},
     {-1, "Static", "F10 - Popup Disable/Enable Switch", 41, 54, 118, 9, SS_LEFT},
     {-1, "Static", "Hold CTRL (or Shift) and Click a Link to Instantly Enable a Popup", 7, 68,
      214, 8, SS_LEFT}}};

const Layout kLog{ID_TRAY_BLOCKED_POPUPS, "Vantrell Log", 205, 167,
                  {{218, "ListBox", "", 7, 27, 191, 98, -1, kList},
                   {235, "Button", "Add Link to White List", 19, 127, 81, 15, kPush, WS_TABSTOP},
                   {236, "Button", "Add Site to White List", 107, 127, 78, 15, kPush, WS_TABSTOP},
                   {221, "Button", "Goto", 36, 146, 36, 14, kPush, WS_TABSTOP},
                   {222, "Button", "Clear", 83, 146, 40, 14, kPush, WS_TABSTOP},
                   {220, "Button", "Close", 137, 146, 36, 14, kPush, WS_TABSTOP},
                   {-1, "Static", "", 7, 7, 20, 20, kIcon},
                   {-1, "Static", "Blocked Popups", 52, 13, 69, 13, SS_CENTER}}};

const Layout kWhiteList{ID_TRAY_WHITE_LIST, "Vantrell White List", 209, 138,
                        {{225, "ListBox", "", 7, 28, 195, 85, -1, kList | LBS_SORT},
                         {228, "Button", "Add", 25, 117, 34, 14, kPush, WS_TABSTOP},
                         {229, "Button", "Delete", 71, 117, 30, 14, kPush, WS_TABSTOP},
                         {230, "Button", "Edit", 111, 117, 31, 14, kPush, WS_TABSTOP},
                         {220, "Button", "Close", 155, 117, 30, 14, kPush, WS_TABSTOP},
                         {-1, "Static", "", 7, 7, 21, 20, kIcon},
                         {-1, "Static", "Web Sites Allowing Popups", 50, 13, 104, 10, SS_LEFT}}};

const Layout kSiteEditor{0, "Vantrell Web Site Editor", 187, 57,
                         {{232, "Edit", "", 7, 30, 139, 14, -1, ES_AUTOHSCROLL | WS_TABSTOP},
                          {234, "Button", "Cancel", 152, 18, 28, 14, kPush, WS_TABSTOP},
                          {233, "Button", "Ok", 152, 36, 28, 14, kPush, WS_TABSTOP},
                          {-1, "Static", "", 5, 8, 20, 20, kIcon},
                          {-1, "Static", "Add or Edit a Web Site", 43, 14, 75, 12, SS_LEFT}}};

const Layout kNotification{
    ID_TRAY_NOTIFICATION, "Vantrell Notification Setting", 180, 100,
    {{220, "Button", "Close", 137, 8, 36, 14, kPush, WS_TABSTOP},
     {237, "Button", "Flash tray icon", 44, 44, 83, 11, kCheck, WS_TABSTOP},
     {238, "Button", "Beep via internal speaker", 43, 60, 98, 10, kCheck, WS_TABSTOP},
     {239, "Button", "Play sound", 43, 76, 51, 10, kCheck, WS_TABSTOP},
     {240, "Button", "Choose File", 98, 74, 49, 14, kPush, WS_TABSTOP},
     {-1, "Static", "", 7, 7, 20, 20, kIcon},
     {-1, "Static", "Notification Setting", 46, 14, 73, 13, SS_LEFT},
     {-1, "Static", "When Vantrell blocks a popup window,", 22, 31, 141, 8, SS_LEFT}}};

}  // namespace

class DialogLayoutTest : public DialogTest {};

TEST_F(DialogLayoutTest, AboutAndHotKeys) {
    for (const Layout* layout : {&kAbout, &kHotKeys}) {
        SCOPED_TRACE(layout->title);
        OpenFromTray(layout->command, layout->title, [&](HWND dialog) {
            CheckLayout(dialog, *layout);
            Press(dialog, IDOK);
        });
    }
}

TEST_F(DialogLayoutTest, BlockedPopupsStaysOnTop) {
    OpenFromTray(kLog.command, kLog.title, [&](HWND dialog) {
        CheckLayout(dialog, kLog);
        EXPECT_TRUE(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST);
        EXPECT_EQ(0, GetWindowLongA(GetDlgItem(dialog, 218), GWL_STYLE) & LBS_SORT);
        EXPECT_EQ(GetDlgItem(dialog, 218), ModalThreadFocus());
        Press(dialog, IDC_CLOSE);
    });
}

// Neither has a default push button: every button is a plain one.
TEST_F(DialogLayoutTest, WhiteListAndSiteEditor) {
    OpenFromTray(kWhiteList.command, kWhiteList.title, [&](HWND dialog) {
        CheckLayout(dialog, kWhiteList);
        PressLater(dialog, IDC_ADD);
        HWND editor = WaitForOwnWindow("#32770", kSiteEditor.title);
        ASSERT_NE(nullptr, editor);
        CheckLayout(editor, kSiteEditor);
        // The editor has no owner: the list stays usable meanwhile.
        EXPECT_TRUE(IsWindowEnabled(dialog));
        EXPECT_EQ(nullptr, GetWindow(editor, GW_OWNER));
        Press(editor, IDC_SITE_CANCEL);
        WaitForWindowGone(editor);
        Settle(dialog);
        Press(dialog, IDC_CLOSE);
    });
}

TEST_F(DialogLayoutTest, Notification) {
    OpenFromTray(kNotification.command, kNotification.title, [&](HWND dialog) {
        CheckLayout(dialog, kNotification);
        Press(dialog, IDC_CLOSE);
    });
}

// Enter and the OK button and the close box close the information dialogs;
// Escape does not.
TEST_F(DialogLayoutTest, InformationDialogsCloseWithEnterOrTheCloseBoxButNotEscape) {
    for (const Layout* layout : {&kAbout, &kHotKeys}) {
        SCOPED_TRACE(layout->title);
        bool stayedOpen = false, closedByEnter = false, closedByBox = false;
        OpenFromTray(layout->command, layout->title, [&](HWND dialog) {
            PostKey(dialog, VK_ESCAPE);
            ASSERT_TRUE(PassPostedMessages());
            stayedOpen = IsWindow(dialog) && IsWindowVisible(dialog);
            PostKey(dialog, VK_RETURN);
            closedByEnter = WaitForWindowGone(dialog);
        });
        EXPECT_TRUE(stayedOpen);
        EXPECT_TRUE(closedByEnter);
        OpenFromTray(layout->command, layout->title, [&](HWND dialog) {
            SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            closedByBox = WaitForWindowGone(dialog);
        });
        EXPECT_TRUE(closedByBox);
    }
}

// The list dialogs and the settings dialog ignore Enter and Escape too:
// they end only through "Close" or the close box.
TEST_F(DialogLayoutTest, OtherDialogsIgnoreEnterAndEscape) {
    for (const Layout* layout : {&kLog, &kWhiteList, &kNotification}) {
        SCOPED_TRACE(layout->title);
        bool stayedOpen = false;
        OpenFromTray(layout->command, layout->title, [&](HWND dialog) {
            PostKey(dialog, VK_ESCAPE);
            PostKey(dialog, VK_RETURN);
            ASSERT_TRUE(PassPostedMessages());
            stayedOpen = IsWindow(dialog) && IsWindowVisible(dialog);
            SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            WaitForWindowGone(dialog);
        });
        EXPECT_TRUE(stayedOpen);
    }
}
