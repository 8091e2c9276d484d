#include "hotkeys/hotkey_hook.h"

#include "channel/broker_channel.h"
#include "state/integrity.h"
#include "state/settings.h"
#include "state/shared_state.h"
#include "tray/tray_icon.h"

namespace korvane {
namespace {

// Where the broker holds the switches' hot keys and writes the settings, a
// key pressed in another process is the broker's to carry out: it is told,
// without waiting, and switches as its own hook would. True when that is
// all there is to do: it was told, or this process may do nothing of it
// itself (low integrity: its switches are a copy it may not write back).
bool LeftToTheBroker(BrokerMessageKind key) {
    if (!LeavesToBroker()) return false;
    return SendToBroker(key) || ActsAtLowIntegrity();
}

}  // namespace

void ApplyHotKey(HotKey key) {
    TrayIcon* tray = ProcessTrayIcon();
    switch (key) {
        case HotKey::ToggleTrayIcon: {
            if (LeftToTheBroker(BrokerMessageKind::ToggleTrayIcon)) return;
            const DWORD stored = sharedState->trayIconHidden ? 0 : 1;
            sharedState->trayIconHidden = static_cast<LONG>(stored);
            // The session's icon, in whichever process shows it.
            if (tray) tray->SyncWithSwitches();
            WriteTrayIconSetting(stored);
            return;
        }
        case HotKey::ToggleSound:
            if (LeftToTheBroker(BrokerMessageKind::ToggleSound)) return;
            // Not stored: the next start comes back with "Sound" as stored.
            sharedState->soundOn = sharedState->soundOn ? 0 : 1;
            return;
        case HotKey::ToggleBlocking: {
            if (LeftToTheBroker(BrokerMessageKind::ToggleBlocking)) return;
            const bool allowed = sharedState->popupsAllowed == 0;
            sharedState->popupsAllowed = allowed ? 1 : 0;
            // The session's icon, in whichever process shows it.
            if (tray) tray->ShowPopupState(allowed);
            return;
        }
        case HotKey::Override:
            // Stays set until the next page completes in any window; in a
            // low process, in any of its own windows (its copy of the
            // switches keeps the override its own).
            sharedState->popupOverride = 1;
            return;
        case HotKey::None:
            return;
    }
}

namespace {

// A keystroke on its way down the hook chain.
struct Keystroke {
    int code;
    WPARAM wParam;
    LPARAM lParam;
};

// The thread-local slot that holds, while a thread is inside CallNextHookEx
// from here, the keystroke it is passing on. There can be more than one of
// our hooks in the chain: Wine keeps the hook of a thread that has ended
// (Windows removes it), and the hook's next owner sets its own. Each of them
// calls HotKeyProc with the same keystroke, nested inside the one before;
// only the outermost acts. A TLS slot rather than thread_local, which would
// bring the runtime's thread support into the DLL; taken the first time the
// procedure runs, so processes that never get a key pay nothing.
DWORD volatile passingSlot = TLS_OUT_OF_INDEXES;

DWORD PassingSlot() noexcept {
    const DWORD known = passingSlot;
    if (known != TLS_OUT_OF_INDEXES) return known;
    const DWORD slot = TlsAlloc();
    if (slot == TLS_OUT_OF_INDEXES) return slot;
    const DWORD earlier = static_cast<DWORD>(InterlockedCompareExchange(
        reinterpret_cast<volatile LONG*>(&passingSlot), static_cast<LONG>(slot),
        static_cast<LONG>(TLS_OUT_OF_INDEXES)));
    if (earlier == TLS_OUT_OF_INDEXES) return slot;
    TlsFree(slot);
    return earlier;
}

}  // namespace

LRESULT CALLBACK HotKeyProc(int code, WPARAM wParam, LPARAM lParam) {
    const DWORD slot = PassingSlot();
    const auto* passing =
        slot != TLS_OUT_OF_INDEXES ? static_cast<const Keystroke*>(TlsGetValue(slot)) : nullptr;
    const bool again =
        passing && passing->code == code && passing->wParam == wParam && passing->lParam == lParam;
    if (!again) {
        try {
            ApplyHotKey(ClassifyHotKey(code, wParam, lParam));
        } catch (...) {
            // A key is never lost to a failure of ours.
        }
    }
    Keystroke key{code, wParam, lParam};
    if (slot != TLS_OUT_OF_INDEXES) TlsSetValue(slot, &key);
    const LRESULT result = CallNextHookEx(sharedState->keyboardHook, code, wParam, lParam);
    if (slot != TLS_OUT_OF_INDEXES) TlsSetValue(slot, const_cast<Keystroke*>(passing));
    return result;
}

}  // namespace korvane
