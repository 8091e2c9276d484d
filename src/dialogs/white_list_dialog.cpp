#include "dialogs/white_list_dialog.h"

#include <cstring>
#include <vector>

#include "dialogs/whitelist_entry_rules.h"
#include "resource.h"
#include "whitelist/whitelist_store.h"

namespace korvane {

char SiteEditBuffer[kPathBufferSize] = {};

namespace {

// Marks a dialog whose changes "Close" has saved already.
constexpr LONG_PTR kSaved = 1;

// Removes the first item whose text is exactly text; false when there is
// none. (LB_FINDSTRINGEXACT would ignore case.)
bool RemoveItem(std::vector<AnsiString>& items, const AnsiString& text) {
    for (auto it = items.begin(); it != items.end(); ++it) {
        if (std::strcmp(it->c_str(), text.c_str()) == 0) {
            items.erase(it);
            return true;
        }
    }
    return false;
}

std::vector<AnsiString> Items(HWND list) {
    const int count = ListCount(list);
    std::vector<AnsiString> items;
    items.reserve(static_cast<size_t>(count > 0 ? count : 0));
    for (int i = 0; i < count; ++i) items.push_back(ListText(list, i));
    return items;
}

// Makes the list box show items, top to bottom.
void ShowItems(HWND list, const std::vector<AnsiString>& items) {
    if (SameList(Items(list), items)) return;
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (size_t i = 0; i < items.size(); ++i) ListInsert(list, static_cast<int>(i), items[i].c_str());
}

}  // namespace

void SaveWhiteList(HWND owner) {
    WhiteListStore& store = TheWhiteList();
    DWORD reason = ERROR_SUCCESS;
    if (store.Save(&reason)) return;
    const AnsiString path = store.FilePath();
    const AnsiString explanation = SystemMessage(reason);
    const AnsiString text =
        Concatenate({LoadResourceString(IDS_SAVE_FAILED_TEXT), "\r\n\r\n", path, "\r\n\r\n",
                     explanation, "\r\n\r\n", LoadResourceString(IDS_SAVE_FAILED_KEPT)});
    const AnsiString caption = LoadResourceString(IDS_SAVE_FAILED_CAPTION);
    MessageBoxA(owner, text.c_str(), caption.c_str(), MB_ICONEXCLAMATION | MB_OK);
}

// ---- White List dialog ----

INT_PTR CALLBACK WhiteListDialog::Procedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    return DialogProcedure<WhiteListDialog>(window, message, wParam, lParam);
}

INT_PTR WhiteListDialog::Show(HINSTANCE instance) {
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_WHITE_LIST), nullptr, Procedure, 0);
}

HWND WhiteListDialog::List() const noexcept { return Item(IDC_SITE_LIST); }

INT_PTR WhiteListDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY && GetWindowLongPtrA(Window(), DWLP_USER) != kSaved)
        SaveWhiteList(Window());
    // Back from another dialog, which may have added to the list.
    if (message == WM_ACTIVATE && LOWORD(wParam) != WA_INACTIVE)
        ShowItems(List(), FollowStore(Items(List()), TheWhiteList().Snapshot()));
    return DialogWindow::Dispatch(message, wParam, lParam);
}

INT_PTR WhiteListDialog::OnInit() {
    // Another browser process may have saved the list since this one read
    // it: the user edits the newest list.
    WhiteListStore& store = TheWhiteList();
    store.ReloadIfChanged();
    HWND list = List();
    // Each at the top: the store's last entry ends up first.
    const std::vector<AnsiString> entries = store.Snapshot();
    for (const AnsiString& entry : entries) ListInsert(list, 0, entry.c_str());
    return TRUE;
}

INT_PTR WhiteListDialog::OnCommand(int id) {
    switch (id) {
    case IDC_ADD:
        Add();
        break;
    case IDC_DELETE:
        Delete();
        break;
    case IDC_EDIT:
        Edit();
        break;
    case IDC_CLOSE:
        SaveAndEnd();
        break;
    default:
        break;
    }
    return FALSE;
}

INT_PTR WhiteListDialog::OnClose() {
    SaveAndEnd();
    return TRUE;
}

bool WhiteListDialog::ChangeList(const AnsiString& added, const AnsiString& original) {
    HWND list = List();
    const std::vector<AnsiString> items = Items(list);
    WhiteListStore& store = TheWhiteList();
    const bool changed =
        store.Edit([&](const std::vector<AnsiString>& entries, std::vector<AnsiString>& next) {
            next = FollowStore(items, entries);
            if (!original.empty() && !RemoveItem(next, original)) return false;
            if (!added.empty()) next.insert(next.begin(), added);
            return true;
        });
    // Either way the list shows what the store holds: in its order after a
    // change, else in the list's own.
    ShowItems(list, changed ? store.Snapshot() : FollowStore(items, store.Snapshot()));
    return changed;
}

void WhiteListDialog::Add() {
    SiteEditBuffer[0] = '\0';
    if (SiteEditorDialog::Show() != 1 || SiteEditBuffer[0] == '\0') return;
    const AnsiString item = EntryFromTypedSite(SiteEditBuffer);
    // An item the store could not hold is not added at all: what the user
    // sees in the list is always what the store holds.
    if (!IsStorableEntry(item.c_str())) return;
    ChangeList(item, AnsiString());
}

void WhiteListDialog::Delete() {
    HWND list = List();
    const int selection = ListSelection(list);
    if (selection == LB_ERR) return;
    // Read first: the list may follow the store while the question is open.
    const AnsiString removed = ListText(list, selection);
    if (!AskYesNo(IDS_DELETE_QUESTION, IDS_DELETE_CAPTION)) return;
    ChangeList(AnsiString(), removed);
}

void WhiteListDialog::Edit() {
    HWND list = List();
    const int selection = ListSelection(list);
    if (selection == LB_ERR) return;
    const AnsiString original = ListText(list, selection);
    // Every item came from the store or passed its limit; one that would
    // not fit the edit buffer is left alone rather than cut.
    if (original.length() >= sizeof SiteEditBuffer) return;
    CopyBounded(SiteEditBuffer, sizeof SiteEditBuffer, original.c_str());
    if (SiteEditorDialog::Show() != 1 || SiteEditBuffer[0] == '\0') return;
    const AnsiString item = EntryFromTypedSite(SiteEditBuffer);
    if (!IsStorableEntry(item.c_str())) return;
    // The list stays usable while the editor is open, and the store may
    // change meanwhile: the entry is looked for by its text, and an entry
    // that has gone is not brought back.
    ChangeList(item, original);
}

void WhiteListDialog::SaveAndEnd() {
    // Saved here, while the dialog is still on screen to own a message box.
    SaveWhiteList(Window());
    SetWindowLongPtrA(Window(), DWLP_USER, kSaved);
    End(0);
}

// ---- Site editor ----

INT_PTR CALLBACK SiteEditorDialog::Procedure(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    return DialogProcedure<SiteEditorDialog>(window, message, wParam, lParam);
}

INT_PTR SiteEditorDialog::Show() {
    return DialogBoxParamA(moduleInstance, MAKEINTRESOURCEA(IDD_SITE_EDITOR), nullptr, Procedure,
                           0);
}

INT_PTR SiteEditorDialog::OnInit() {
    HWND edit = Item(IDC_SITE_TEXT);
    // The user cannot type more than the buffer that takes the text holds,
    // so "Ok" never cuts what was typed.
    SendMessageA(edit, EM_LIMITTEXT, sizeof SiteEditBuffer - 1, 0);
    SetWindowTextA(edit, SiteEditBuffer);
    return TRUE;
}

INT_PTR SiteEditorDialog::OnCommand(int id) {
    if (id == IDC_SITE_OK) {
        GetWindowTextA(Item(IDC_SITE_TEXT), SiteEditBuffer, sizeof SiteEditBuffer);
        End(1);
    } else if (id == IDC_SITE_CANCEL) {
        End(0);
    }
    return FALSE;
}

INT_PTR SiteEditorDialog::OnClose() {
    End(0);
    return TRUE;
}

}  // namespace korvane
