#include "module/hook_owner.h"

#include "channel/broker_channel.h"
#include "hotkeys/hotkey_hook.h"
#include "state/session_role.h"
#include "state/shared_state.h"

namespace korvane {
namespace {

SessionRole hookOwner(kHookOwnerName);
// The hook this process set last, on its owning thread; null when it set
// none or has removed it. And that thread, to tell whether it lives.
HHOOK volatile ownHook = nullptr;
UniqueHandle ownHookThread;

// Whether the system keeps a hook after the thread that set it has ended.
// Windows removes it with the thread; Wine keeps it, and calls it on.
bool SystemKeepsHooksOfEndedThreads() noexcept {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Whether the thread is known to have ended; one that cannot be opened for
// lack of rights counts as alive.
bool ThreadEnded(DWORD threadId) noexcept {
    if (threadId == 0) return false;
    UniqueHandle thread(OpenThread(SYNCHRONIZE, FALSE, threadId));
    if (!thread) return GetLastError() != ERROR_ACCESS_DENIED;
    return WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0;
}

}  // namespace

bool OpenHookOwner() noexcept { return hookOwner.Open(); }

bool OwnsHook() noexcept { return hookOwner.HeldHere(); }

bool ClaimHook() noexcept {
    // Asked only once the hook is free (rarely): a process that leaves the
    // hook to the broker never takes it.
    if (hookOwner.HeldByAnyone() || LeavesToBroker()) return false;
    return hookOwner.TryClaim() == SessionRole::Claim::Taken;
}

void SetClaimedHook(HINSTANCE instance) noexcept {
    const HHOOK left = sharedState->keyboardHook;
    const DWORD leftThread = sharedState->hookOwnerThread;
    HHOOK hook = SetWindowsHookExA(WH_KEYBOARD, HotKeyProc, instance, 0);
    HHOOK earlier = static_cast<HHOOK>(
        InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&ownHook), hook));
    // The hooks of the owners before, whose threads have ended. Windows
    // removed them with their threads, and may have given their handles to
    // other hooks since: nothing is removed there. Wine keeps them, even a
    // killed process's, and each would call HotKeyProc once more and bring
    // the library into every program for ever; there they go: the one this
    // process set, and the one the shared block names, but only while its
    // record says it was an owner's whose thread has ended. (The block is
    // open to every process of the user, so a handle read there alone could
    // name anyone's hook.)
    if (SystemKeepsHooksOfEndedThreads()) {
        if (earlier && earlier != hook) UnhookWindowsHookEx(earlier);
        if (left && left != hook && left != earlier && ThreadEnded(leftThread))
            UnhookWindowsHookEx(left);
    }
    ownHookThread.reset(OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId()));
    sharedState->keyboardHook = hook;
    sharedState->hookOwnerProcess = GetCurrentProcessId();
    sharedState->hookOwnerThread = GetCurrentThreadId();
}

void RemoveOwnHook() noexcept {
    HHOOK hook = static_cast<HHOOK>(
        InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&ownHook), nullptr));
    if (!hook) return;
    // As above: a hook whose thread has ended is Windows' to have removed.
    const bool threadLives =
        ownHookThread && WaitForSingleObject(ownHookThread.get(), 0) == WAIT_TIMEOUT;
    if (threadLives || SystemKeepsHooksOfEndedThreads()) UnhookWindowsHookEx(hook);
    // Cleared, so that no one calls on through a handle of ours.
    InterlockedCompareExchange(&sharedState->keyboardHook.value, 0, HandleToLong(hook));
    if (sharedState->hookOwnerProcess == GetCurrentProcessId()) {
        sharedState->hookOwnerThread = 0;
        sharedState->hookOwnerProcess = 0;
    }
}

}  // namespace korvane
