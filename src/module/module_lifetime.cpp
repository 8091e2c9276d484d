#include "module/module_lifetime.h"

#include "base/ansi_string.h"
#include "base/unique_resource.h"
#include "channel/broker_channel.h"
#include "channel/channel_rules.h"
#include "channel/session_log.h"
#include "module/com_server.h"
#include "module/hook_owner.h"
#include "module/module_rules.h"
#include "state/integrity.h"
#include "state/session_namespace.h"
#include "state/session_role.h"
#include "state/settings.h"
#include "state/shared_state.h"
#include "tray/tray_icon.h"

namespace korvane {
namespace {

// Set once this process's attach has been accepted; a refused attach is
// followed by a detach that must not count anything.
bool volatile attached = false;
// Set while a thread makes the tray window again.
volatile LONG rehomingTray = 0;
// This process counts in the session's instanceCount.
bool volatile counted = false;
// A low process that loaded the library while the blocker was off (the tray
// menu's Exit), or before any block of the session was there: it acts as
// switched on, and switches the session on the one way it can, by starting
// the broker, whose own load does it.
bool volatile switchingOn = false;
// What the attach waited for (see AttachWaits).
LONG attachWaits = 0;

// The full path of the host program, however long.
bool HostPath(AnsiString& path) {
    for (DWORD size = MAX_PATH;; size *= 2) {
        path.Allocate(size);
        const DWORD length = GetModuleFileNameA(nullptr, path.data(), size);
        if (length == 0) return false;
        if (length < size - 1) {
            path.Truncate(length);
            return true;
        }
        if (size >= 32768) return false;
    }
}

// A low process's copy of the switches, brought up to date; and what it
// asked for itself until the session's switches say so too.
void RefreshLowSwitches() noexcept {
    if (CurrentSessionSwitches() == SessionSwitches::None) {
        bool created = false;
        MapSessionSharedState(false, &created);
    }
    RefreshSharedState();
    if (!switchingOn) return;
    if (CurrentSessionSwitches() == SessionSwitches::ReadOnly && sharedState->helperActive)
        switchingOn = false;
    else
        sharedState->helperActive = 1;  // the process's own copy
}

}  // namespace

LONG AttachWaits() noexcept { return attachWaits; }

BOOL AttachProcess(HINSTANCE instance) {
    moduleInstance = instance;
    {
        char value[kSessionPrefixSize] = {};
        const DWORD length = GetEnvironmentVariableA(kSessionPrefixVariable, value, sizeof value);
        SetSessionObjectPrefix(SessionObjectPrefixFor(length < sizeof value ? value : ""));
    }

    AnsiString host;
    try {
        if (HostPath(host) && IsShellHost(host.c_str())) return FALSE;
    } catch (...) {
        // Cannot even tell: refusing is the safe side.
        return FALSE;
    }
    // The broker takes the hook and the icon on threads of its own, when
    // it starts; at attach it is a process like any other. A process at low
    // integrity, or acting as one, leaves them and every write to it.
    const bool broker = IsBrokerProgramPath(host.c_str());
    SetProcessIsBroker(broker);
    DetermineIntegrity(broker);
    const bool low = ActsAtLowIntegrity();
    const LONG waitsBefore = SessionObjectWaits();

    // Nothing here waits for another process: the first process is the one
    // whose call made the session's block, and each role is a mutex tried
    // without waiting. A process that cannot have the session's block (the
    // account of an administrator working in another user's session, whom
    // its list shuts out; a low one before a medium one made it) still
    // loads, on switches of its own, and does only what needs none:
    // registration, and blocking with its own switches.
    OpenSessionNamespace(SystemNamespaceCalls(), !low);
    bool created = false;
    const SessionSwitches switches = MapSessionSharedState(!low, &created);
    const bool shared = switches == SessionSwitches::Shared;
    if (shared || switches == SessionSwitches::None) sharedState->helperActive = 1;
    if (low && !sharedState->helperActive) {
        switchingOn = true;
        sharedState->helperActive = 1;
    }
    if (low && switches == SessionSwitches::None) switchingOn = true;

    ComModuleInit(instance);
    DisableThreadLibraryCalls(instance);
    // Once loaded, the library stays until the process ends. COM frees an
    // in-process server whose DllCanUnloadNow says so, from whichever thread
    // asks; but the tray window (whose procedure lives here, and which only
    // its own thread can destroy) and the keyboard hook outlive the helper
    // objects, and would be left pointing into freed code.
    HMODULE pinned = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCSTR>(&AttachProcess), &pinned);

    if (shared) {
        OpenHookOwner();
        OpenTrayIconOwner();
        // The first process, or the first one after the owner's thread has
        // ended, takes the hook over, and nothing else.
        if (!broker && ClaimHook()) SetClaimedHook(instance);
    }
    // The stored settings go into the switches when the block was just
    // made, and never otherwise: they are the user's choices for every
    // browser of the session. A medium process on switches of its own takes
    // its user's.
    if (created || (switches == SessionSwitches::None && !low)) LoadSettingsInto(sharedState);
    // A broker writes it when it starts.
    if (created && !LeavesToBroker()) DisableScriptDebugger();
    if (shared) {
        InterlockedIncrement(&sharedState->instanceCount);
        counted = true;
    }
    attachWaits = SessionObjectWaits() - waitsBefore;
    attached = true;

    // Every process that shares the session's switches has its hidden
    // window, which receives what the icon and other threads send; the icon
    // itself is loaded when first shown. The sound file is read when first
    // played. (The window is made here, on the thread that loaded the
    // library, which already has windows of its own: a browser window's, or
    // those of the program whose keyboard input brought the hook; so user32
    // loads nothing for it.) A process that leaves the icon to the broker
    // has no use for one.
    if (!shared || LeavesToBroker()) return TRUE;
    TrayIcon& tray = TheTrayIcon();
    tray.Install(instance, nullptr, TrayCallbackMessage, kBlockingTooltip, nullptr, TrayIconId, TRUE);
    // The first process brings the icon in line with the stored settings
    // at once, hidden if the user hid it, but not from here: showing it
    // loads the shell and calls the notification area, neither of which
    // may happen under the loader lock. The window's thread does it once
    // attach is over.
    if (created) PostMessageA(tray.HiddenWindow(), TraySyncMessage, 0, 0);
    return TRUE;
}

void DetachProcess(bool processTerminating) {
    if (!attached) return;
    attached = false;
    if (counted) InterlockedDecrement(&sharedState->instanceCount);
    // The hook's hand-over: the owner takes its hook away with it (Windows
    // would when its thread ends; Wine would keep it), and the next process
    // that loads the library, or the next browser event in a process that
    // has it, takes the hook over once the owner's thread has ended.
    RemoveOwnHook();
    // The icon's hand-over: the next browser event in a process that stays
    // has the session's icon shown again, there or in another. The icon
    // itself is removed by the process's TrayIcon, destroyed right after
    // this.
    if (TheTrayIcon().IsDisplayed()) sharedState->trayIconSynced = 0;
    // When the process is ending, its other threads are gone, perhaps in the
    // middle of a call: no lock is waited for and no COM object released.
    if (processTerminating)
        ComModuleAbandon();
    else
        ComModuleTerm();
}

void AdoptOrphanedHookAndTray() noexcept {
    if (!attached) return;
    const bool low = ActsAtLowIntegrity();
    if (low) RefreshLowSwitches();
    const SessionSwitches switches = CurrentSessionSwitches();
    // A medium process on switches of its own has no session to take part in.
    if (switches == SessionSwitches::None && !low) return;
    // Where the broker holds the hook and the icon, one is started when
    // none runs (a killed one, or the first), unless Exit switched the
    // blocker off. Should none stay, a browser at medium integrity takes
    // them back below.
    if (sharedState->helperActive && LeavesToBroker() && EnsureBroker() == BrokerStatus::Running)
        FlushSessionLog();
    if (switches != SessionSwitches::Shared) return;
    if (ClaimHook()) SetClaimedHook(moduleInstance);
    TrayIcon& tray = TheTrayIcon();
    // One that left the icon to a broker, and gave up on it, makes its
    // window here, as one whose window's thread ended does.
    if (!tray.HiddenWindow() && !LeavesToBroker() && InterlockedExchange(&rehomingTray, 1) == 0) {
        tray.Install(moduleInstance, nullptr, TrayCallbackMessage, kBlockingTooltip, nullptr, TrayIconId,
                     TRUE);
        InterlockedExchange(&rehomingTray, 0);
    }
    if (!tray.WindowLost()) return;
    if (InterlockedExchange(&rehomingTray, 1) != 0) return;
    // Made here, on a thread that lives. Should the lost window have shown
    // the session's icon, its thread's end let go of the icon, and the
    // synchronisation that follows has it shown again, here or elsewhere.
    if (tray.WindowLost()) tray.Rehome();
    InterlockedExchange(&rehomingTray, 0);
}

}  // namespace korvane
