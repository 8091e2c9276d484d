#include "dialogs/dialog_window.h"

#include <cstring>
#include <vector>

#include "module/shared_state.h"

namespace korvane {

INT_PTR DialogWindow::Dispatch(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInit();
    case WM_COMMAND:
        return OnCommand(LOWORD(wParam));
    case WM_CLOSE:
        return OnClose();
    default:
        return FALSE;
    }
}

bool DialogWindow::IsButtonChecked(int id) const noexcept {
    return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void DialogWindow::CheckButton(int id, bool checked) noexcept {
    SendMessageA(Item(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool DialogWindow::AskYesNo(UINT questionId, UINT captionId) const {
    const AnsiString question = LoadResourceString(questionId);
    const AnsiString caption = LoadResourceString(captionId);
    return MessageBoxA(window_, question.c_str(), caption.c_str(), MB_ICONQUESTION | MB_YESNO) ==
           IDYES;
}

AnsiString LoadResourceString(UINT id) {
    char buffer[kPathBufferSize] = {};
    const int length = LoadStringA(moduleInstance, id, buffer, sizeof buffer);
    if (length <= 0) return AnsiString();
    return AnsiString(buffer, static_cast<size_t>(length));
}

int ListCount(HWND listBox) noexcept {
    const LRESULT count = SendMessageA(listBox, LB_GETCOUNT, 0, 0);
    return count == LB_ERR ? 0 : static_cast<int>(count);
}

int ListSelection(HWND listBox) noexcept {
    return static_cast<int>(SendMessageA(listBox, LB_GETCURSEL, 0, 0));
}

AnsiString ListText(HWND listBox, int index) {
    const LRESULT length = SendMessageA(listBox, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR || length <= 0) return AnsiString();
    // LB_GETTEXTLEN may count more than LB_GETTEXT writes (multibyte text),
    // never less; the buffer has room for the count and the terminator.
    AnsiString text;
    text.Allocate(static_cast<size_t>(length));
    const LRESULT written =
        SendMessageA(listBox, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    if (written == LB_ERR || written < 0) return AnsiString();
    text.Truncate(static_cast<size_t>(written));
    return text;
}

bool ListInsert(HWND listBox, int index, const char* text) noexcept {
    const LRESULT result = SendMessageA(listBox, LB_INSERTSTRING, static_cast<WPARAM>(index),
                                        reinterpret_cast<LPARAM>(text));
    return result != LB_ERR && result != LB_ERRSPACE;
}

}  // namespace korvane
