#include "module/hook_owner.h"

#include "base/unique_resource.h"
#include "hotkeys/hotkey_hook.h"
#include "state/shared_state.h"

namespace korvane {
namespace {

// Open for the life of the process, so the mutex outlives any one owner
// while a process of the session has the library.
UniqueHandle ownerMutex;
// Non-zero in the thread that holds the mutex: a mutex can be taken again
// by its owner, which must not then take itself for a new owner. Thread-
// local because a thread id is reused once its thread has ended.
DWORD ownerSlot = TLS_OUT_OF_INDEXES;
DWORD ownerThread = 0;  // the same, where no TLS slot could be had
// The hook this process set, on its owning thread; null when it set none.
HHOOK volatile ownHook = nullptr;

}  // namespace

bool OpenHookOwner() noexcept {
    if (ownerMutex) return true;
    try {
        const AnsiString name = SessionObjectName(kHookOwnerName);
        if (name.empty()) return false;
        ownerMutex.reset(CreateMutexA(SessionObjectSecurity(), FALSE, name.c_str()));
    } catch (...) {
        return false;
    }
    if (ownerSlot == TLS_OUT_OF_INDEXES) ownerSlot = TlsAlloc();
    return static_cast<bool>(ownerMutex);
}

bool OwnsHook() noexcept {
    if (ownerSlot != TLS_OUT_OF_INDEXES) return TlsGetValue(ownerSlot) != nullptr;
    return ownerThread != 0 && ownerThread == GetCurrentThreadId();
}

bool ProcessRunning(DWORD processId) noexcept {
    if (processId == 0) return false;
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
    return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

HookClaim ClaimHook() noexcept {
    if (!ownerMutex || OwnsHook()) return HookClaim::None;
    // Never released: the system abandons it when this thread ends.
    const DWORD waited = WaitForSingleObject(ownerMutex.get(), 0);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return HookClaim::None;
    if (ownerSlot != TLS_OUT_OF_INDEXES) TlsSetValue(ownerSlot, reinterpret_cast<void*>(1));
    ownerThread = GetCurrentThreadId();
    const DWORD previous = sharedState->hookOwnerProcess;
    if (previous == GetCurrentProcessId() || ProcessRunning(previous)) return HookClaim::ThreadEnded;
    return HookClaim::ProcessEnded;
}

void SetClaimedHook(HINSTANCE instance) noexcept {
    // The hooks of the owners before, whose threads have ended: Windows has
    // removed them with their threads. Wine keeps them, even those of a
    // killed process, and each would call HotKeyProc once more, and bring
    // the library into every program, for ever.
    HHOOK left = sharedState->keyboardHook;
    HHOOK stale = ownHook;
    HHOOK hook = SetWindowsHookExA(WH_KEYBOARD, HotKeyProc, instance, 0);
    ownHook = hook;
    if (left && left != hook) UnhookWindowsHookEx(left);
    if (stale && stale != left && stale != hook) UnhookWindowsHookEx(stale);
    sharedState->keyboardHook = hook;
    sharedState->hookOwnerProcess = GetCurrentProcessId();
    sharedState->hookOwnerThread = GetCurrentThreadId();
}

void RemoveOwnHook() noexcept {
    HHOOK hook = ownHook;
    ownHook = nullptr;
    if (!hook) return;
    UnhookWindowsHookEx(hook);
    // Cleared, so that the next owner has no handle of ours to remove.
    InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&sharedState->keyboardHook),
                                      nullptr, hook);
    if (sharedState->hookOwnerProcess == GetCurrentProcessId()) {
        sharedState->hookOwnerThread = 0;
        sharedState->hookOwnerProcess = 0;
    }
}

}  // namespace korvane
