// What happens when a process loads and unloads the library: the shell is
// refused, the processes that have it loaded are counted, the first one
// installs the keyboard hook and loads the settings, every one gets its tray
// icon, and the last one to go removes the hook.
#pragma once

#include <windows.h>

namespace korvane {

// Process attach. FALSE refuses the load (the host is the Windows shell, or
// the session's switches cannot be opened); nothing shared has been touched
// then.
BOOL AttachProcess(HINSTANCE instance);
// Process detach. Does nothing for a process whose attach was refused.
void DetachProcess(bool processTerminating);

// The lock that makes the creation of the session's switches, the
// first-instance decision and the count, and the removal of the hook by the
// last process, indivisible across the session's processes. A named mutex
// in the session's namespace, like the switches it guards.
constexpr char kInstanceLockName[] = "Korvane.InstanceLock";

}  // namespace korvane
