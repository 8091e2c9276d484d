#include "module/module_lifetime.h"

#include "base/ansi_string.h"
#include "base/unique_resource.h"
#include "module/com_server.h"
#include "module/hook_owner.h"
#include "module/module_rules.h"
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

    {
        InstanceLock lock;
        // A process that cannot share its session's switches refuses the
        // load rather than run on switches of its own: it would install a
        // second hook, and no hot key or menu would reach it.
        if (!MapSessionSharedState()) return FALSE;
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

    // The process whose loading thread becomes the hook's owner does what
    // the first process of a session does: the hook, the stored settings,
    // the browser's script debugger, the icon shown at once. That is the
    // first process, or the first one after the owner's thread has ended.
    bool owner = false;
    {
        InstanceLock lock;
        OpenHookOwner();
        const HookClaim claim = ClaimHook();
        owner = claim != HookClaim::None;
        // No process of the session's browsers is left of the owner's time
        // (a browser restarted, or killed): start again as after a restart.
        // When only the owner's thread ended, its process goes on with the
        // switches as they are.
        if (claim == HookClaim::ProcessEnded) ResetSwitches(sharedState);
        if (owner) {
            SetClaimedHook(instance);
            LoadSettingsInto(sharedState);
            DisableScriptDebugger();
        }
        InterlockedIncrement(&sharedState->instanceCount);
    }
    attached = true;

    // Every process has its hidden window, which receives what the icon and
    // other threads send; the icon itself is loaded when first shown. The
    // sound file is read when first played.
    TrayIcon& tray = TheTrayIcon();
    tray.Install(instance, nullptr, TrayCallbackMessage, kBlockingTooltip, nullptr, TrayIconId, TRUE);
    if (owner) {
        // The stored visibility is applied by the next browser event.
        tray.ShowPopupState(sharedState->popupsAllowed != 0);
        tray.ShowInTray();
    }
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
    // The icon's hand-over: the next browser event in another process shows
    // that process's icon in its place. The icon itself is removed by the
    // process's TrayIcon, destroyed right after this.
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
    const HookClaim claim = ClaimHook();
    if (claim != HookClaim::None) {
        SetClaimedHook(moduleInstance);
        // A process that was killed never handed its icon over; the icon
        // went with its window.
        if (claim == HookClaim::ProcessEnded) sharedState->trayIconSynced = 0;
    }
    TrayIcon& tray = TheTrayIcon();
    if (!tray.WindowLost()) return;
    if (InterlockedExchange(&rehomingTray, 1) != 0) return;
    // Made here, on a thread that lives, and shown by the synchronisation
    // that follows if the lost one was displayed.
    if (tray.WindowLost() && tray.Rehome()) sharedState->trayIconSynced = 0;
    InterlockedExchange(&rehomingTray, 0);
}

}  // namespace korvane
