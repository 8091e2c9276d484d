// "Vantrell Notification Setting": how a blocked popup is announced (flash,
// beep, wave file), and the choice of the wave file.
#pragma once

#include <windows.h>

#include "base/ansi_string.h"
#include "dialogs/dialog_window.h"

namespace korvane {

class NotificationDialog : public DialogWindow {
public:
    using DialogWindow::DialogWindow;

    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Dialog 218 of instance, modal, no owner; returns 0 when it ends.
    static INT_PTR Show(HINSTANCE instance);

protected:
    INT_PTR OnInit() override;
    INT_PTR OnCommand(int id) override;
    INT_PTR OnClose() override;

private:
    // Every way of closing stores the boxes: there is no cancel.
    void StoreAndEnd();
};

// Asks for a wave file with the open-file dialog ("Choose a Sound File",
// starting in the library's folder). On a choice, writes it to "File" and
// returns it; empty when the user cancelled (nothing is written then).
AnsiString ChooseSoundFile();

}  // namespace korvane
