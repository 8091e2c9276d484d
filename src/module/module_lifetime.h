// What happens when a process loads and unloads the library: the shell is
// refused, the processes that have it loaded are counted, the first one of
// the session loads the settings into the switches and shows the icon once
// attach is over, the one whose loading thread becomes the keyboard hook's
// owner (module/hook_owner.h) installs the hook, every one gets its tray
// window, and the owner removes its hook when it goes.
#pragma once

#include <windows.h>

namespace korvane {

// Process attach. FALSE refuses the load (the host is the Windows shell, or
// the session's switches cannot be opened); nothing shared has been touched
// then.
BOOL AttachProcess(HINSTANCE instance);
// Process detach. Does nothing for a process whose attach was refused.
// processTerminating: the process is ending (the entry point's reserved
// argument is not null); only what must outlive it is done.
void DetachProcess(bool processTerminating);

// At each browser event, on its thread, before anything else: where the
// broker holds the hook and the icon, a broker is started when none runs
// (channel/broker_channel.h). Otherwise: the hook and
// the tray window live on threads that can end while the process goes on
// (a browser window's thread, when the user closes that window). When the
// hook's owning thread has ended, in this process or another, this thread
// takes the hook over. When this process's tray window ended with its
// thread, it is made again on this thread; should it have shown the icon,
// the next synchronisation of the tray shows it again, in whichever
// process then takes the icon. Does nothing before attach (test programs).
void AdoptOrphanedHookAndTray() noexcept;

// The lock that makes the creation of the session's switches, and the
// claim of the hook with the settings read that goes with it, indivisible
// across the session's processes. A named mutex in the session's
// namespace, like the switches it guards. Detach never waits for it.
constexpr char kInstanceLockName[] = "Korvane.InstanceLock";

}  // namespace korvane
