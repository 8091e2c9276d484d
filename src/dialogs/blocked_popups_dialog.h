// "Vantrell Log": the popups blocked in this process, newest first, kept up
// to date while it is open; an address can be opened, or it or its site
// put on the white list.
#pragma once

#include <windows.h>

#include "dialogs/dialog_window.h"

namespace korvane {

class BlockedPopupsDialog : public DialogWindow {
public:
    using DialogWindow::DialogWindow;

    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Dialog 215 of instance, modal, no owner; returns 0 when it ends.
    static INT_PTR Show(HINSTANCE instance);

    // Publishes the list box in logListBox from the first message the
    // dialog receives until it closes, so the log's producer can insert
    // each newly blocked address at the top.
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;

protected:
    INT_PTR OnInit() override;
    INT_PTR OnCommand(int id) override;
    INT_PTR OnClose() override;

private:
    HWND List() const noexcept;
    void Goto();
    void AddToWhiteList(bool siteOnly);
    void Finish();
};

}  // namespace korvane
