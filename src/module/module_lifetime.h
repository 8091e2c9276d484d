// What happens when a process loads and unloads the library: the shell is
// refused, the processes that have it loaded are counted, the first one of
// the session loads the settings into the switches and brings the icon in
// line with them once attach is over, the one whose loading thread becomes the keyboard hook's
// owner (module/hook_owner.h) installs the hook, every one gets its tray
// window, and the owner removes its hook when it goes.
#pragma once

#include <windows.h>

namespace korvane {

// Process attach. FALSE refuses the load (the host is the Windows shell);
// nothing shared has been touched then. Never waits for an object another
// process may hold.
BOOL AttachProcess(HINSTANCE instance);
// How many waits on the session's objects the attach made that could take
// time: 0, whatever other processes hold. For tests, through the export
// KorvaneAttachWaits.
LONG AttachWaits() noexcept;
// Process detach. Does nothing for a process whose attach was refused.
// processTerminating: the process is ending (the entry point's reserved
// argument is not null); only what must outlive it is done.
void DetachProcess(bool processTerminating);

// At each browser event, on its thread, before anything else: a low
// process takes its copy of the switches in from the session's block (and
// finds the block once there is one); where the broker holds the hook and
// the icon, a broker is started when none runs (channel/broker_channel.h),
// and what waited for the session's log goes there. Otherwise: the hook and
// the tray window live on threads that can end while the process goes on
// (a browser window's thread, when the user closes that window). When the
// hook's owning thread has ended, in this process or another, this thread
// takes the hook over. When this process's tray window ended with its
// thread, it is made again on this thread; should it have shown the icon,
// the next synchronisation of the tray shows it again, in whichever
// process then takes the icon. Does nothing before attach (test programs).
void AdoptOrphanedHookAndTray() noexcept;

}  // namespace korvane
