// "About Vantrell" and "Vantrell Hot Keys": two small dialogs that only
// show text. Enter, the OK button and the close box close them; Escape does
// not.
#pragma once

#include <windows.h>

#include "dialogs/dialog_window.h"

namespace korvane {

class InfoDialog : public DialogWindow {
public:
    using DialogWindow::DialogWindow;

protected:
    INT_PTR OnCommand(int id) override;
    INT_PTR OnClose() override;
};

class AboutDialog : public InfoDialog {
public:
    using InfoDialog::InfoDialog;
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Dialog 213 of instance, modal, no owner; returns 0 when it ends.
    static INT_PTR Show(HINSTANCE instance);
};

class HotKeysDialog : public InfoDialog {
public:
    using InfoDialog::InfoDialog;
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Dialog 214 of instance, modal, no owner; returns 0 when it ends.
    static INT_PTR Show(HINSTANCE instance);
};

}  // namespace korvane
