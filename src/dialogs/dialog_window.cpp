#include "dialogs/dialog_window.h"

#include <cstring>
#include <vector>

#include "state/shared_state.h"

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

AnsiString SystemMessage(DWORD error) {
    char buffer[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, buffer, sizeof buffer, nullptr);
    while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' ||
                          buffer[length - 1] == ' '))
        --length;
    if (length > 0) return AnsiString(buffer, length);
    char digits[16];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + error % 10);
        error /= 10;
    } while (error != 0);
    AnsiString number;
    number.Allocate(count);
    for (size_t i = 0; i < count; ++i) number.data()[i] = digits[count - 1 - i];
    return Concatenate({"Error ", number, "."});
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
