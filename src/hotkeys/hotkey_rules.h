// Which keystrokes the system-wide keyboard hook acts on.
#pragma once

#include "base/win32_types.h"

namespace korvane {

enum class HotKey {
    None,            // pass the key on untouched
    ToggleTrayIcon,  // F8
    ToggleSound,     // F9
    ToggleBlocking,  // F10
    Override,        // Ctrl or Shift: let the next new window through
};

// Only the first key-down of a press, taken from the queue, acts: any code
// but HC_ACTION, a release (bit 31 of the flags) or an auto-repeat (bit 30)
// gives None.
HotKey ClassifyHotKey(int code, WPARAM virtualKey, LPARAM keystrokeFlags) noexcept;

}  // namespace korvane
