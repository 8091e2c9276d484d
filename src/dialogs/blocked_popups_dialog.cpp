#include "dialogs/blocked_popups_dialog.h"

#include <vector>

#include "dialogs/white_list_dialog.h"
#include "dialogs/whitelist_entry_rules.h"
#include "resource.h"
#include "state/shared_state.h"
#include "state/string_ring.h"
#include "tray/browser_launcher.h"
#include "whitelist/whitelist_store.h"

namespace korvane {
namespace {

// Marks a dialog that has ended: the messages of its destruction must not
// publish its list box again.
constexpr LONG_PTR kEnded = 1;

}  // namespace

INT_PTR CALLBACK BlockedPopupsDialog::Procedure(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
    return DialogProcedure<BlockedPopupsDialog>(window, message, wParam, lParam);
}

INT_PTR BlockedPopupsDialog::Show(HINSTANCE instance) {
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_BLOCKED_POPUPS), nullptr, Procedure, 0);
}

HWND BlockedPopupsDialog::List() const noexcept { return Item(IDC_LOG_LIST); }

INT_PTR BlockedPopupsDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY || message == WM_NCDESTROY) {
        // Whatever way the window goes, its handle is not left behind for
        // the producer.
        HWND list = List();
        if (list && logListBox == list) logListBox = nullptr;
        return FALSE;
    }
    if (GetWindowLongPtrA(Window(), DWLP_USER) != kEnded) {
        HWND list = List();
        if (list) logListBox = list;
    }
    return DialogWindow::Dispatch(message, wParam, lParam);
}

INT_PTR BlockedPopupsDialog::OnInit() {
    // The dialog adds to the white list: to the newest, should another
    // browser process have saved it since this one read it.
    TheWhiteList().ReloadIfChanged();

    // Above all ordinary windows, at the top-left corner, at template size.
    SetWindowPos(Window(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE);
    HWND list = List();
    SetFocus(list);
    // Oldest first, each at the top: the newest ends up first.
    const std::vector<AnsiString> entries = TheBlockedPopupLog().Snapshot();
    for (const AnsiString& entry : entries) ListInsert(list, 0, entry.c_str());
    return TRUE;
}

INT_PTR BlockedPopupsDialog::OnCommand(int id) {
    switch (id) {
    case IDC_GOTO:
        Goto();
        return TRUE;
    case IDC_CLEAR:
        SendMessageA(List(), LB_RESETCONTENT, 0, 0);
        return TRUE;
    case IDC_ADD_LINK:
        AddToWhiteList(false);
        return TRUE;
    case IDC_ADD_SITE:
        AddToWhiteList(true);
        return TRUE;
    case IDC_CLOSE:
        Finish();
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR BlockedPopupsDialog::OnClose() {
    Finish();
    return TRUE;
}

void BlockedPopupsDialog::Goto() {
    HWND list = List();
    const int selection = ListSelection(list);
    if (selection == LB_ERR) return;
    const AnsiString address = ListText(list, selection);
    BrowserLauncher::OpenUrl(address.c_str());
}

void BlockedPopupsDialog::AddToWhiteList(bool siteOnly) {
    HWND list = List();
    const int selection = ListSelection(list);
    if (selection == LB_ERR) return;
    const AnsiString address = ListText(list, selection);
    const AnsiString entry =
        siteOnly ? SiteEntryFromAddress(address.c_str()) : LinkEntryFromAddress(address.c_str());
    // What the store cannot hold (a text over 259 bytes, an 801st entry) is
    // not offered: the button then does nothing, as without a selection.
    WhiteListStore& store = TheWhiteList();
    if (!IsStorableEntry(entry.c_str()) || store.Count() >= kWhiteListCapacity) return;

    const bool confirmed = siteOnly ? AskYesNo(IDS_ADD_SITE_QUESTION, IDS_ADD_SITE_CAPTION)
                                    : AskYesNo(IDS_ADD_LINK_QUESTION, IDS_ADD_LINK_CAPTION);
    if (!confirmed) return;
    // Refused only if the store filled up while the question was open; the
    // file is then left as it is.
    if (!store.Append(entry.c_str())) return;
    SaveWhiteList(Window());
}

void BlockedPopupsDialog::Finish() {
    SetWindowLongPtrA(Window(), DWLP_USER, kEnded);
    HWND list = List();
    if (logListBox == list) logListBox = nullptr;
    End(0);
}

}  // namespace korvane
