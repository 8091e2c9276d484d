#include "hotkeys/hotkey_rules.h"

namespace korvane {

HotKey ClassifyHotKey(int code, WPARAM virtualKey, LPARAM keystrokeFlags) noexcept {
    // HC_NOREMOVE is a program peeking at the key without taking it: the
    // same key comes again with HC_ACTION when it is taken.
    if (code != HC_ACTION) return HotKey::None;
    const DWORD flags = static_cast<DWORD>(keystrokeFlags);
    constexpr DWORD kReleased = 1u << 31;
    constexpr DWORD kRepeated = 1u << 30;
    if (flags & (kReleased | kRepeated)) return HotKey::None;
    switch (virtualKey) {
        case VK_F8: return HotKey::ToggleTrayIcon;
        case VK_F9: return HotKey::ToggleSound;
        case VK_F10: return HotKey::ToggleBlocking;
        case VK_SHIFT:
        case VK_CONTROL: return HotKey::Override;
        default: return HotKey::None;
    }
}

}  // namespace korvane
