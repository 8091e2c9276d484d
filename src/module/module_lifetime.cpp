#include "module/module_lifetime.h"

#include "base/ansi_string.h"
#include "base/unique_resource.h"
#include "channel/broker_channel.h"
#include "channel/channel_rules.h"
#include "module/com_server.h"
#include "module/hook_owner.h"
#include "module/module_rules.h"
#include "state/integrity.h"
#include "state/settings.h"
#include "state/shared_state.h"
#include "tray/tray_icon.h"

namespace korvane {
namespace {

// How long a load waits for another process's load or unload to finish
// before going on without the lock: never for ever, because a process that
// hangs in the middle must not stop every other program from starting.
constexpr DWORD kInstanceLockTimeout = 5000;

// Set once this process's attach has been accepted; a refused attach is
// followed by a detach that must not count anything.
bool volatile attached = false;
// Set while a thread makes the tray window again.
volatile LONG rehomingTray = 0;

// Holds the instance lock for a scope, when it can be had.
class InstanceLock {
public:
    InstanceLock() {
        const AnsiString name = SessionObjectName(kInstanceLockName);
        if (name.empty()) return;
        mutex_.reset(CreateMutexA(SessionObjectSecurity(), FALSE, name.c_str()));
        if (!mutex_) return;
        const DWORD result = WaitForSingleObject(mutex_.get(), kInstanceLockTimeout);
        // An abandoned lock is ours now: its holder died, the count is what
        // it left.
        held_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    }
    ~InstanceLock() {
        if (held_) ReleaseMutex(mutex_.get());
    }
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

private:
    UniqueHandle mutex_;
    bool held_ = false;
};

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

}  // namespace

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

    bool created = false;
    {
        InstanceLock lock;
        // A process that cannot share its session's switches refuses the
        // load rather than run on switches of its own: it would install a
        // second hook, and no hot key or menu would reach it.
        if (!MapSessionSharedState(&created)) return FALSE;
    }

    sharedState->helperActive = 1;
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

    bool first = false;
    {
        InstanceLock lock;
        // No process of the session has the library (its block was just
        // made, or is held only by a program that looks at it without
        // loading the library): the switches start from their initial
        // values, and the stored settings go into them. Never otherwise:
        // they are the user's choices for every browser of the session.
        first = created || sharedState->instanceCount == 0;
        if (first && !created) {
            sharedState = InitialSharedState();
            sharedState->helperActive = 1;
        }
        OpenHookOwner();
        OpenTrayIconOwner();
        // The first process, or the first one after the owner's thread has
        // ended, takes the hook over, and nothing else.
        if (!broker && ClaimHook()) SetClaimedHook(instance);
        if (first) {
            LoadSettingsInto(sharedState);
            // A broker writes it when it starts.
            if (!LeavesToBroker()) DisableScriptDebugger();
        }
        InterlockedIncrement(&sharedState->instanceCount);
    }
    attached = true;

    // Every process has its hidden window, which receives what the icon and
    // other threads send; the icon itself is loaded when first shown. The
    // sound file is read when first played. (The window is made here, on
    // the thread that loaded the library, which already has windows of its
    // own: a browser window's, or those of the program whose keyboard input
    // brought the hook; so user32 loads nothing for it.)
    // A process that leaves the icon to the broker has no use for one.
    if (LeavesToBroker()) return TRUE;
    TrayIcon& tray = TheTrayIcon();
    tray.Install(instance, nullptr, TrayCallbackMessage, kBlockingTooltip, nullptr, TrayIconId, TRUE);
    // The first process shows the icon at once, whatever is stored (the
    // next browser event applies that), but not from here: showing it
    // loads the shell and calls the notification area, neither of which
    // may happen under the loader lock. The window's thread does it once
    // attach is over.
    if (first) PostMessageA(tray.HiddenWindow(), TrayVisibilityMessage, 1, 0);
    return TRUE;
}

void DetachProcess(bool processTerminating) {
    if (!attached) return;
    attached = false;
    InterlockedDecrement(&sharedState->instanceCount);
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
    // Where the broker holds the hook and the icon, one is started when
    // none runs (a killed one, or the first), unless Exit switched the
    // blocker off. Should none stay, a browser at medium integrity takes
    // them back below.
    if (sharedState->helperActive && LeavesToBroker()) EnsureBroker();
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
