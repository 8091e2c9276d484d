#include "broker/broker_main.h"

#include "base/ansi_string.h"
#include "base/unique_resource.h"
#include "channel/broker_channel.h"
#include "channel/session_log.h"
#include "hotkeys/hotkey_hook.h"
#include "module/hook_owner.h"
#include "resource.h"
#include "state/integrity.h"
#include "state/session_role.h"
#include "state/settings.h"
#include "state/shared_state.h"
#include "state/string_ring.h"
#include "tray/tray_icon.h"

namespace korvane {
namespace {

// While another process still holds the hook or the icon (a browser that
// took them before any broker ran), the broker asks again this often.
constexpr UINT kRetryInterval = 2000;  // ms
constexpr UINT_PTR kRetryTimer = 1;

// How far the broker has read the session's log; on the channel's thread
// once it serves.
DWORD logCursor = 0;

void TakeInSessionLog() {
    std::vector<AnsiString> entries;
    ReadSessionLog(&logCursor, &entries);
    for (const AnsiString& entry : entries) TheBlockedPopupLog().Add(entry.c_str());
}

void TakeHook() noexcept {
    if (ClaimHook()) SetClaimedHook(moduleInstance);
}

// The keyboard hook's thread does nothing but pump messages: for keys
// typed into 64-bit programs Windows calls a 32-bit hook here, and those
// programs wait until it has run.
DWORD WINAPI HookThread(void*) noexcept {
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    TakeHook();
    const UINT_PTR retry = OwnsHook() ? 0 : SetTimer(nullptr, 0, kRetryInterval, nullptr);
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && retry && !OwnsHook()) {
            TakeHook();
            if (OwnsHook()) KillTimer(nullptr, retry);
        }
        DispatchMessageA(&message);
    }
    return 0;
}

LRESULT CALLBACK BrokerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
            if (wParam == kRetryTimer && !TrayIconHeldHere()) TheTrayIcon().SyncWithSwitches();
            return 0;
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(kBrokerEnded);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

// On the channel's thread. What changes the icon is posted to its window.
void OnBrokerMessage(const BrokerMessage& message, void*) {
    TrayIcon& tray = TheTrayIcon();
    switch (message.kind) {
        case BrokerMessageKind::PopupBlocked: {
            // The browser wrote it to the session's block first; anything a
            // lost message left there comes in with it.
            TakeInSessionLog();
            const AnsiString address(message.address, message.addressLength);
            TheBlockedPopupLog().Add(address.c_str());
            if (sharedState->flashOn) {
                tray.LoadFlashIcons(IDI_BLOCKING, IDI_ALLOWING);
                tray.StartFlash(kBlockFlashInterval, kBlockFlashDuration);
            }
            return;
        }
        // A hot key pressed in another process: as the broker's own hook
        // would have it.
        case BrokerMessageKind::ToggleBlocking:
            ApplyHotKey(HotKey::ToggleBlocking);
            return;
        case BrokerMessageKind::ToggleTrayIcon:
            ApplyHotKey(HotKey::ToggleTrayIcon);
            return;
        case BrokerMessageKind::ToggleSound:
            ApplyHotKey(HotKey::ToggleSound);
            return;
    }
}

}  // namespace

int RunBroker() noexcept {
    try {
        // A broker below medium integrity (started from Protected Mode
        // without its elevation policy) could do nothing the browsers
        // cannot: it ends, and the browsers do without one.
        DWORD rid = 0;
        const bool levelKnown = ProcessIntegrityRid(&rid);
        if (IntegrityBelowMedium(levelKnown, rid)) return kBrokerBelowMedium;

        const AnsiString mutexName = BrokerMutexName();
        if (mutexName.empty()) return kBrokerNoChannel;
        // Without the session's switches there is nothing to serve: the
        // block is another's (a name taken first), or cannot be had.
        if (CurrentSessionSwitches() != SessionSwitches::Shared) return kBrokerNoChannel;
        UniqueHandle mutex(CreateMutexA(SessionObjectSecurity(SessionAccess::LowNone), FALSE, mutexName.c_str()));
        if (!mutex) return kBrokerNoChannel;
        // Held until the broker ends, or abandoned when it is killed: the
        // next broker takes it over then.
        const DWORD waited = WaitForSessionObject(mutex.get(), 0);
        if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return kBrokerEnded;
        ScopeExit release([&mutex] { ReleaseMutex(mutex.get()); });

        // What the browsers may not write: written here, once a broker runs.
        DisableScriptDebugger();
        // The icon, on this thread, which made the process's tray window:
        // shown, or hidden, as the switches say; the log as the session's
        // block holds it.
        TrayIcon& tray = TheTrayIcon();
        tray.SyncWithSwitches();
        TakeInSessionLog();

        DWORD hookThreadId = 0;
        UniqueHandle hookThread(CreateThread(nullptr, 0, HookThread, nullptr, 0, &hookThreadId));
        BrokerServer server;
        if (!server.Start(OnBrokerMessage, nullptr)) return kBrokerNoChannel;

        // Made last: once it is there to be found (and closed), the broker
        // serves.
        HINSTANCE instance = moduleInstance;
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = BrokerWindowProc;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kBrokerWindowClass;
        RegisterClassExA(&windowClass);
        UniqueHwnd window(CreateWindowExA(0, kBrokerWindowClass, "", WS_POPUP, 0, 0, 0, 0, nullptr,
                                          nullptr, instance, nullptr));
        if (!window) return kBrokerNoChannel;
        if (!TrayIconHeldHere()) SetTimer(window.get(), kRetryTimer, kRetryInterval, nullptr);

        MSG message;
        int ended = kBrokerEnded;
        for (;;) {
            const BOOL got = GetMessageA(&message, nullptr, 0, 0);
            if (got == 0) {
                ended = static_cast<int>(message.wParam);
                window.release();  // destroyed already
                break;
            }
            if (got == -1) break;
            TranslateMessage(&message);
            DispatchMessageA(&message);
            // The tray menu's Exit switched the blocker off in every
            // process: the broker ends with it.
            if (!sharedState->helperActive && window) DestroyWindow(window.release());
        }
        server.Stop();
        if (hookThread) {
            PostThreadMessageA(hookThreadId, WM_QUIT, 0, 0);
            WaitForSingleObject(hookThread.get(), 5000);
        }
        return ended;
    } catch (...) {
        return kBrokerNoChannel;
    }
}

}  // namespace korvane
