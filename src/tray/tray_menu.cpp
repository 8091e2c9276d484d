#include "tray/tray_menu.h"

#include "base/unique_resource.h"
#include "dialogs/blocked_popups_dialog.h"
#include "dialogs/info_dialogs.h"
#include "dialogs/notification_dialog.h"
#include "dialogs/white_list_dialog.h"
#include "state/settings.h"
#include "state/shared_state.h"
#include "resource.h"
#include "tray/browser_launcher.h"

namespace korvane {
namespace {

void SetBannerAdsBlocked(bool blocked) {
    sharedState->blockBannerAds = blocked ? 1 : 0;
    // "Flash" carries both switches; a failed write leaves the switch
    // changed for this session all the same.
    const DWORD flash = (sharedState->flashOn ? 1u : 0u) + (blocked ? 2u : 0u);
    WriteFlashSetting(flash);
}

void CheckItem(HMENU menu, UINT command, bool checked) {
    CheckMenuItem(menu, command, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void ShowTrayMenu(TrayIcon& tray, HWND owner) {
    const NOTIFYICONDATAA& data = tray.NotifyData();
    UniqueHmenu menu(LoadMenuA(tray.Instance(), MAKEINTRESOURCEA(IDR_TRAY_MENU)));
    if (!menu) return;
    const bool popupsAllowed = sharedState->popupsAllowed != 0;
    const bool bannersBlocked = sharedState->blockBannerAds != 0;
    CheckItem(menu.get(), ID_TRAY_POPUPS_ALLOW, popupsAllowed);
    CheckItem(menu.get(), ID_TRAY_POPUPS_DISALLOW, !popupsAllowed);
    CheckItem(menu.get(), ID_TRAY_BANNERS_ALLOW, !bannersBlocked);
    CheckItem(menu.get(), ID_TRAY_BANNERS_DISALLOW, bannersBlocked);

    HMENU popup = GetSubMenu(menu.get(), 0);
    if (!popup) return;
    SetMenuDefaultItem(popup, 0, TRUE);
    POINT cursor{};
    GetCursorPos(&cursor);
    // Without the foreground the menu would not close when the user clicks
    // elsewhere; the WM_NULL afterwards lets it close properly the next
    // time as well.
    SetForegroundWindow(data.hWnd);
    TrackPopupMenu(popup, 0, cursor.x, cursor.y, 0, owner, nullptr);
    PostMessageA(data.hWnd, WM_NULL, 0, 0);
}

}  // namespace

void SetPopupsAllowed(TrayIcon& tray, bool allowed) {
    sharedState->popupsAllowed = allowed ? 1 : 0;
    tray.ShowPopupState(allowed);
}

void RunTrayCommand(TrayIcon& tray, UINT command) {
    HINSTANCE instance = tray.Instance();
    switch (command) {
    case ID_TRAY_ABOUT:
        AboutDialog::Show(instance);
        break;
    case ID_TRAY_HOT_KEYS:
        HotKeysDialog::Show(instance);
        break;
    case ID_TRAY_EXIT:
        // Ends the blocker in every process, not the browser: the helper
        // objects ignore the browser until a process loads the library again.
        tray.NotifyDelete();
        sharedState->helperActive = 0;
        break;
    case ID_TRAY_POPUPS_ALLOW:
        SetPopupsAllowed(tray, true);
        break;
    case ID_TRAY_POPUPS_DISALLOW:
        SetPopupsAllowed(tray, false);
        break;
    case ID_TRAY_BLOCKED_POPUPS:
        BlockedPopupsDialog::Show(instance);
        break;
    case ID_TRAY_ON_THE_WEB:
        BrowserLauncher::OpenUrl(kProductWebPage);
        break;
    case ID_TRAY_WHITE_LIST:
        WhiteListDialog::Show(instance);
        break;
    case ID_TRAY_NOTIFICATION:
        NotificationDialog::Show(instance);
        break;
    case ID_TRAY_BANNERS_ALLOW:
        SetBannerAdsBlocked(false);
        break;
    case ID_TRAY_BANNERS_DISALLOW:
        SetBannerAdsBlocked(true);
        break;
    default:
        break;
    }
}

LRESULT TrayIcon::OnIconMessage(WPARAM iconId, LPARAM mouseMessage) {
    if (iconId != notifyData_.uID) return 0;
    HWND owner = MenuOwner();
    if (!owner) return 0;
    switch (LOWORD(mouseMessage)) {
    case WM_RBUTTONUP:
        ShowTrayMenu(*this, owner);
        break;
    case WM_LBUTTONDBLCLK:
        SetPopupsAllowed(*this, sharedState->popupsAllowed == 0);
        break;
    default:
        break;
    }
    return 1;
}

LRESULT CALLBACK TrayIconWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        TrayIcon* tray = ProcessTrayIcon();
        // Messages sent while CreateWindowExA is still running arrive before
        // the object knows its window.
        if (!tray || window != tray->HiddenWindow())
            return DefWindowProcA(window, message, wParam, lParam);

        if (message == WM_COMMAND) {
            RunTrayCommand(*tray, LOWORD(wParam));
            return DefWindowProcA(window, message, wParam, lParam);
        }
        const UINT taskbarCreated = TaskbarCreatedMessage();
        // A new taskbar (Explorer restarted) has none of the old icons: the
        // shell's contract is that each program adds its own again.
        if (taskbarCreated != 0 && message == taskbarCreated) {
            tray->RetryAdd();
            return 0;
        }
        if (message == WM_TIMER && wParam == FlashTimerId) return tray->OnTimer(wParam);
        if (message >= TrayLoadFlashIconsMessage && message <= TraySyncMessage)
            return tray->OnPrivateMessage(message, wParam, lParam);
        if (message == WM_SETTINGCHANGE) {
            if (wParam == SPI_SETWORKAREA) tray->RetryAdd();
            return 0;
        }
        if (message == tray->NotifyData().uCallbackMessage)
            return tray->OnIconMessage(wParam, lParam);
        return DefWindowProcA(window, message, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

}  // namespace korvane
