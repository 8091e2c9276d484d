#include "module/module_lifetime.h"

#include <vector>

#include "base/unique_resource.h"
#include "hotkeys/hotkey_hook.h"
#include "module/com_server.h"
#include "module/module_rules.h"
#include "module/settings.h"
#include "module/shared_state.h"
#include "tray/tray_icon.h"

namespace korvane {
namespace {

constexpr UINT kBlockingIconId = 209;
constexpr UINT kAllowingIconId = 210;
// How long a load waits for another process's load or unload to finish
// before going on without the lock: never for ever, because a process that
// hangs in the middle must not stop every other program from starting.
constexpr DWORD kInstanceLockTimeout = 5000;

// Set once this process's attach has been accepted; a refused attach is
// followed by a detach that must not count anything.
bool attached = false;

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
bool HostPath(std::vector<char>& path) {
    path.assign(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return false;
        if (length < path.size() - 1) {
            path[length] = '\0';
            return true;
        }
        if (path.size() >= 32768) return false;
        path.assign(path.size() * 2, '\0');
    }
}

void LoadSoundFile() {
    try {
        AnsiString file = ReadSoundFile();
        if (!file.empty()) SetSoundFilePath(file.c_str());
    } catch (...) {
        // Out of memory at start-up: no wave file, the rest works.
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

    std::vector<char> host;
    try {
        if (HostPath(host) && IsShellHost(host.data())) return FALSE;
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

    bool first = false;
    {
        InstanceLock lock;
        first = sharedState->instanceCount == 0;
        if (first) {
            sharedState->keyboardHook = SetWindowsHookExA(WH_KEYBOARD, HotKeyProc, instance, 0);
            LoadSettingsInto(sharedState);
            DisableScriptDebugger();
        }
        // Counted here, with the decision, so a process unloading at the
        // same time cannot take the hook away from under a new first one.
        InterlockedIncrement(&sharedState->instanceCount);
    }
    attached = true;

    LoadSoundFile();
    iconBlocking = LoadIconA(instance, MAKEINTRESOURCEA(kBlockingIconId));
    iconAllowing = LoadIconA(instance, MAKEINTRESOURCEA(kAllowingIconId));

    TrayIcon& tray = TheTrayIcon();
    tray.Install(instance, nullptr, TrayCallbackMessage, kBlockingTooltip, iconBlocking, TrayIconId,
                 TRUE);
    // The stored visibility is applied by the first browser event.
    if (first) tray.ShowInTray();
    return TRUE;
}

void DetachProcess(bool /*processTerminating*/) {
    if (!attached) return;
    attached = false;
    {
        InstanceLock lock;
        const LONG remaining = InterlockedDecrement(&sharedState->instanceCount);
        if (sharedState->helperActive && remaining == 0 && sharedState->keyboardHook) {
            // keyboardHook keeps its value: only a new first process replaces it.
            UnhookWindowsHookEx(sharedState->keyboardHook);
        }
    }
    ComModuleTerm();
    // Hand the icon over: the next browser event in another process shows
    // that process's icon in its place.
    if (TheTrayIcon().IsDisplayed()) sharedState->trayIconSynced = 0;
}

}  // namespace korvane
