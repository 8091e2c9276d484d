// "Vantrell White List": the white list's entries, to add, edit and delete;
// and "Vantrell Web Site Editor", which takes one site's text.
#pragma once

#include <windows.h>

#include "dialogs/dialog_window.h"
#include "state/shared_state.h"

namespace korvane {

// Carries a site's text between the two dialogs: the White List dialog
// fills it before it opens the editor, the editor's "Ok" stores the edited
// text back. At most 259 bytes and the terminator.
extern char SiteEditBuffer[kPathBufferSize];

// Saves the process's white list when it holds changes. When that fails,
// tells the user in a message box owned by owner, with the file's path and
// the system's reason; the store keeps the changes for a later save.
void SaveWhiteList(HWND owner);

class WhiteListDialog : public DialogWindow {
public:
    using DialogWindow::DialogWindow;

    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Dialog 216 of instance, modal, no owner; returns 0 when it ends.
    static INT_PTR Show(HINSTANCE instance);

    // Saves the changes when the window goes, however the dialog ends: its
    // modal loop also ends, without "Close", when WM_QUIT arrives (the
    // thread's browser window closed).
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;

protected:
    INT_PTR OnInit() override;
    INT_PTR OnCommand(int id) override;
    INT_PTR OnClose() override;

private:
    HWND List() const noexcept;
    void Add();
    void Delete();
    void Edit();
    // Applies a change of the user's: the list first follows the store (what
    // another dialog or process put there meanwhile at the top, what went
    // gone); then the item original, unless empty, is removed from it and
    // the item added, unless empty, is put at its top; and the store takes
    // the list's items, top to bottom, in one step. The list then shows
    // what the store holds. False, with the store unchanged, when original
    // is no longer there or the store cannot hold the result.
    bool ChangeList(const AnsiString& added, const AnsiString& original);
    void SaveAndEnd();
};

class SiteEditorDialog : public DialogWindow {
public:
    using DialogWindow::DialogWindow;

    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Dialog 217 of moduleInstance, modal, no owner (the White List dialog
    // stays usable). 1 when the user pressed "Ok" (the text is then in
    // SiteEditBuffer), 0 otherwise.
    static INT_PTR Show();

protected:
    INT_PTR OnInit() override;
    INT_PTR OnCommand(int id) override;
    INT_PTR OnClose() override;
};

}  // namespace korvane
