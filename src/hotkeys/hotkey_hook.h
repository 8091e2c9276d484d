// The system-wide keyboard hook: F8 hides or shows the tray icon, F9
// switches the block sound, F10 switches popup blocking, and Ctrl or Shift
// lets the next new window through. It runs in whichever process has the
// keyboard focus, on the thread about to receive the key.
#pragma once

#include <windows.h>

#include "hotkeys/hotkey_rules.h"

namespace korvane {

// The WH_KEYBOARD hook procedure. Never swallows a key: always returns what
// the next hook returns.
LRESULT CALLBACK HotKeyProc(int code, WPARAM wParam, LPARAM lParam);

// What a hot key does: the shared switches, the session's tray icon, and
// "Tray Icon" in the registry for F8; done in this process, or, where the
// broker holds the keys and this is not the broker, asked of it.
void ApplyHotKey(HotKey key);

}  // namespace korvane
