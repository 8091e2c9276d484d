// ClassifyHotKey against its table written out plainly, for any hook code,
// virtual key and keystroke flags. Input: the three as raw bytes.
#include <cstring>

#include "fuzz_support.h"
#include "hotkeys/hotkey_rules.h"

using namespace korvane;

namespace {

HotKey Expected(int code, WPARAM key, LPARAM flags) {
    // Only a first key-down taken from the queue: bits 30 and 31 of the
    // flags mark a repeat and a release.
    if (code != 0 || (static_cast<unsigned long long>(flags) & 0xC0000000u)) return HotKey::None;
    if (key == 0x77) return HotKey::ToggleTrayIcon;
    if (key == 0x78) return HotKey::ToggleSound;
    if (key == 0x79) return HotKey::ToggleBlocking;
    if (key == 0x10 || key == 0x11) return HotKey::Override;
    return HotKey::None;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int code = 0;
    WPARAM key = 0;
    LPARAM flags = 0;
    const size_t codeBytes = size < sizeof code ? size : sizeof code;
    std::memcpy(&code, data, codeBytes);
    const size_t keyBytes = size - codeBytes < sizeof key ? size - codeBytes : sizeof key;
    std::memcpy(&key, data + codeBytes, keyBytes);
    const size_t rest = size - codeBytes - keyBytes;
    std::memcpy(&flags, data + codeBytes + keyBytes, rest < sizeof flags ? rest : sizeof flags);
    const HotKey actual = ClassifyHotKey(code, key, flags);
    FUZZ_CHECK(actual == Expected(code, key, flags), "code %d, key %#llx, flags %#llx gave %d",
               code, static_cast<unsigned long long>(key), static_cast<unsigned long long>(flags),
               static_cast<int>(actual));
    return 0;
}
