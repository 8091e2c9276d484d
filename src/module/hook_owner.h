// Which thread of the logon session holds the system-wide keyboard hook.
//
// Windows removes a global hook when the thread that set it ends. The
// library stays in every process the hook has reached, so no count of
// processes can tell when the hook has gone: the owner is a live thread
// instead. It holds a named mutex of the session that it takes and never
// releases; the system abandons the mutex when that thread ends, which is
// exactly when Windows removes the hook. The next thread that claims the
// mutex, at a process's attach or at a browser event, owns the hook and
// sets it again on itself.
//
// The hook is set by the thread that loaded the library in the owning
// process (at a browser event: that event's thread). In the browser that is
// a browser window's thread; the process's tray window lives on the thread
// that loaded the library as well, and dies with it (see
// AdoptOrphanedHookAndTray in module_lifetime.h).
#pragma once

#include <windows.h>

namespace korvane {

constexpr char kHookOwnerName[] = "Korvane.HookOwner";

// What a claim found.
enum class HookClaim {
    None,           // a live thread owns the hook (or there is no mutex)
    ThreadEnded,    // the owner's thread ended while its process lives on
    ProcessEnded,   // no thread owned it yet, or the owner's whole process has ended
};

// Opens (or creates) the session's owner mutex; at attach, once.
bool OpenHookOwner() noexcept;

// Claims the hook for the calling thread when its owner has ended. The
// calling thread then holds the mutex until it ends; call SetClaimedHook
// next. Cheap for the owner itself (a thread-local mark); one wait with a
// zero timeout otherwise.
HookClaim ClaimHook() noexcept;

// Sets the keyboard hook on the calling thread, which has just claimed it,
// and records it (and this thread) as the session's hook owner. The hook of
// the owner before, whose thread has ended, is removed: Windows has done
// that already, Wine keeps such hooks.
void SetClaimedHook(HINSTANCE instance) noexcept;

// True when the calling thread owns the hook.
bool OwnsHook() noexcept;

// At process detach: the owning process removes its hook (and clears
// keyboardHook when it is that hook). A hook still in the chain would call
// into a process that is going away.
void RemoveOwnHook() noexcept;

// Whether a process is still running; a process that cannot be opened for
// lack of rights counts as running. A reused id reads as a live process,
// which errs on the harmless side (see the callers).
bool ProcessRunning(DWORD processId) noexcept;

}  // namespace korvane
