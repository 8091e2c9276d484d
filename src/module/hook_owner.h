// Which thread of the logon session holds the system-wide keyboard hook.
//
// Windows removes a global hook when the thread that set it ends. The
// library stays in every process the hook has reached, so no count of
// processes can tell when the hook has gone: the owner is a live thread
// instead, which holds the session's role of hook owner (state/
// session_role.h) until it ends, exactly when Windows removes the hook. The
// next thread that claims the role, at a process's attach or at a browser
// event, owns the hook and sets it again on itself. Owning the hook is that
// and nothing more: the switches and the tray icon go on as they are.
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

// Opens (or creates) the session's owner mutex; at attach, once.
bool OpenHookOwner() noexcept;

// Claims the hook for the calling thread when no live thread owns it (no
// thread has yet, or the owner's thread ended), unless this process leaves
// the hook to the broker (channel/broker_channel.h). True when it was claimed:
// the calling thread then holds the role until it ends; call SetClaimedHook
// next. Cheap for the owner itself (a thread-local mark); one wait with a
// zero timeout otherwise.
bool ClaimHook() noexcept;

// Sets the keyboard hook on the calling thread, which has just claimed it,
// and records it (and this thread) as the session's hook owner. No hook is
// removed but one this process set (see the .cpp for Wine's part).
void SetClaimedHook(HINSTANCE instance) noexcept;

// True when the calling thread owns the hook.
bool OwnsHook() noexcept;

// At process detach: the owning process removes its hook (and clears
// keyboardHook when it is that hook). A hook still in the chain would call
// into a process that is going away.
void RemoveOwnHook() noexcept;


}  // namespace korvane
