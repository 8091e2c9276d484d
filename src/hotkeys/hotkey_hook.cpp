#include "hotkeys/hotkey_hook.h"

#include "module/settings.h"
#include "module/shared_state.h"
#include "tray/tray_icon.h"

namespace korvane {

void ApplyHotKey(HotKey key) {
    TrayIcon* tray = ProcessTrayIcon();
    switch (key) {
        case HotKey::ToggleTrayIcon: {
            DWORD stored;
            if (sharedState->trayIconHidden) {
                sharedState->trayIconHidden = 0;
                if (tray) tray->ShowInTray();
                stored = 0;
            } else {
                sharedState->trayIconHidden = 1;
                if (tray) tray->HideFromTray();
                stored = 1;
            }
            WriteTrayIconSetting(stored);
            return;
        }
        case HotKey::ToggleSound:
            // Not stored: the next start comes back with "Sound" as stored.
            sharedState->soundOn = sharedState->soundOn ? 0 : 1;
            return;
        case HotKey::ToggleBlocking:
            if (sharedState->popupsAllowed) {
                sharedState->popupsAllowed = 0;
                if (tray) {
                    tray->ChangeIcon(iconBlocking);
                    tray->ChangeTooltip(kBlockingTooltip);
                }
            } else {
                sharedState->popupsAllowed = 1;
                if (tray) {
                    tray->ChangeIcon(iconAllowing);
                    tray->ChangeTooltip(kAllowingTooltip);
                }
            }
            return;
        case HotKey::Override:
            // Stays set until the next page completes in any window.
            sharedState->popupOverride = 1;
            return;
        case HotKey::None:
            return;
    }
}

LRESULT CALLBACK HotKeyProc(int code, WPARAM wParam, LPARAM lParam) {
    try {
        ApplyHotKey(ClassifyHotKey(code, wParam, lParam));
    } catch (...) {
        // A key is never lost to a failure of ours.
    }
    return CallNextHookEx(sharedState->keyboardHook, code, wParam, lParam);
}

}  // namespace korvane
