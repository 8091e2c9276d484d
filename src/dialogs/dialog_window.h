// The common shape of the product's dialogs: a thin object around the
// dialog's window with typed helpers, and one static dialog procedure per
// dialog class that forwards each message to it.
#pragma once

#include <windows.h>

#include "base/ansi_string.h"

namespace korvane {

class DialogWindow {
public:
    explicit DialogWindow(HWND window) noexcept : window_(window) {}
    virtual ~DialogWindow() = default;
    DialogWindow(const DialogWindow&) = delete;
    DialogWindow& operator=(const DialogWindow&) = delete;

    // Routes the messages the dialogs act on; everything else answers FALSE
    // (left to the system's dialog manager).
    virtual INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

protected:
    virtual INT_PTR OnInit() { return TRUE; }
    virtual INT_PTR OnCommand(int id) {
        (void)id;
        return FALSE;
    }
    virtual INT_PTR OnClose() { return FALSE; }

    HWND Window() const noexcept { return window_; }
    HWND Item(int id) const noexcept { return GetDlgItem(window_, id); }
    bool IsButtonChecked(int id) const noexcept;
    void CheckButton(int id, bool checked) noexcept;
    void End(INT_PTR result) noexcept { EndDialog(window_, result); }
    // MB_ICONQUESTION | MB_YESNO with texts from the string table; true only
    // for Yes.
    bool AskYesNo(UINT questionId, UINT captionId) const;

private:
    HWND window_;
};

// A string of the module's string table (empty when it is missing).
AnsiString LoadResourceString(UINT id);
// The system's text for an error code, without its line end; "Error N."
// when the system has none.
AnsiString SystemMessage(DWORD error);

// List box helpers. Texts of any length are read whole.
int ListCount(HWND listBox) noexcept;
int ListSelection(HWND listBox) noexcept;  // LB_ERR when nothing is selected
AnsiString ListText(HWND listBox, int index);
// Inserts at index without regard to a sort style; false when the list box
// refused (out of memory).
bool ListInsert(HWND listBox, int index, const char* text) noexcept;

// The dialog procedure of dialog class D: D is built around the window for
// each message and handles it. Nothing thrown inside reaches user32.
template <typename D>
INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        D dialog(window);
        return dialog.Dispatch(message, wParam, lParam);
    } catch (...) {
        return FALSE;
    }
}

}  // namespace korvane
