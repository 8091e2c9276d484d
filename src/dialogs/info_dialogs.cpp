#include "dialogs/info_dialogs.h"

#include "resource.h"

namespace korvane {

INT_PTR InfoDialog::OnCommand(int id) {
    // IDCANCEL, which Escape sends, is left alone on purpose.
    if (id != IDOK) return FALSE;
    End(0);
    return TRUE;
}

INT_PTR InfoDialog::OnClose() {
    End(0);
    return TRUE;
}

INT_PTR CALLBACK AboutDialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DialogProcedure<AboutDialog>(window, message, wParam, lParam);
}

INT_PTR AboutDialog::Show(HINSTANCE instance) {
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ABOUT), nullptr, Procedure, 0);
}

INT_PTR CALLBACK HotKeysDialog::Procedure(HWND window, UINT message, WPARAM wParam,
                                          LPARAM lParam) {
    return DialogProcedure<HotKeysDialog>(window, message, wParam, lParam);
}

INT_PTR HotKeysDialog::Show(HINSTANCE instance) {
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_HOT_KEYS), nullptr, Procedure, 0);
}

}  // namespace korvane
