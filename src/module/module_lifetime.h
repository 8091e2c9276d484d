// What happens when a process loads and unloads the library: the shell is
// refused, the processes that have it loaded are counted, the first one
// installs the keyboard hook and loads the settings, every one gets its tray
// icon, and the last one to go removes the hook.
#pragma once

#include <windows.h>

namespace korvane {

// Process attach. FALSE refuses the load (the host is the Windows shell);
// nothing shared has been touched then.
BOOL AttachProcess(HINSTANCE instance);
// Process detach. Does nothing for a process whose attach was refused.
void DetachProcess(bool processTerminating);

// The lock that makes the first-instance decision and the count, and the
// removal of the hook by the last process, indivisible across processes.
// A named mutex in the global namespace, since the shared section that holds
// the count is one for the whole machine.
constexpr char kInstanceLockName[] = "Global\\Korvane.InstanceLock";

}  // namespace korvane
