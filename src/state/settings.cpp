#include "state/settings.h"

#include <cstring>

#include "base/unique_resource.h"
#include "state/path_rules.h"

namespace korvane {
namespace {

// The registry through advapi32 alone: the shell's SHGetValue and SHSetValue
// would import shlwapi, which Windows XP does not take from the system
// folder by rule, into every program the keyboard hook reaches.
LONG QueryValue(const char* name, DWORD* type, void* data, DWORD* size) noexcept {
    UniqueHkey key;
    const LONG opened = RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, key.put());
    if (opened != ERROR_SUCCESS) return opened;
    return RegQueryValueExA(key.get(), name, nullptr, type, static_cast<BYTE*>(data), size);
}

DWORD ReadDword(const char* name) noexcept {
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    if (QueryValue(name, &type, &value, &size) != ERROR_SUCCESS) return 0;
    // A value of another type or size is not a setting we wrote.
    if (type != REG_DWORD || size != sizeof value) return 0;
    return value;
}

// Stores text as REG_SZ without a terminating NUL. The registry's own
// writers add a NUL whenever the character just past the given data happens
// to be one ("the caller forgot to count it"), so the text is handed over as
// UTF-16 followed by a character that is not NUL, which keeps the stored
// value exactly the given length. Read back through the ANSI functions it
// gives the text's own bytes.
LONG WriteUnterminatedString(const char* key, const char* name, const char* text) noexcept {
    const size_t length = std::strlen(text);
    if (length > 0x7fff) return ERROR_INVALID_PARAMETER;
    const int narrow = static_cast<int>(length);
    const int wide = narrow ? MultiByteToWideChar(CP_ACP, 0, text, narrow, nullptr, 0) : 0;
    if (narrow && wide <= 0) return static_cast<LONG>(GetLastError());
    wchar_t* data = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, (wide + 1) * sizeof(wchar_t)));
    if (!data) return ERROR_OUTOFMEMORY;
    const ScopeExit freeData([data] { HeapFree(GetProcessHeap(), 0, data); });
    if (wide) MultiByteToWideChar(CP_ACP, 0, text, narrow, data, wide);
    data[wide] = L'.';

    wchar_t keyW[MAX_PATH] = {};
    wchar_t nameW[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, key, -1, keyW, MAX_PATH - 1);
    MultiByteToWideChar(CP_ACP, 0, name, -1, nameW, MAX_PATH - 1);
    UniqueHkey opened;
    const LONG status = RegCreateKeyExW(HKEY_CURRENT_USER, keyW, 0, nullptr, 0, KEY_SET_VALUE,
                                        nullptr, opened.put(), nullptr);
    if (status != ERROR_SUCCESS) return status;
    return RegSetValueExW(opened.get(), nameW, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                          static_cast<DWORD>(wide) * sizeof(wchar_t));
}

LONG WriteDword(const char* name, DWORD value) noexcept {
    UniqueHkey key;
    const LONG created = RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0,
                                         KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (created != ERROR_SUCCESS) return created;
    return RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value);
}

}  // namespace

DWORD ReadSoundSetting() noexcept { return ReadDword(kSoundValue); }
DWORD ReadFlashSetting() noexcept { return ReadDword(kFlashValue); }
LONG WriteSoundSetting(DWORD value) noexcept { return WriteDword(kSoundValue, value); }
LONG WriteFlashSetting(DWORD value) noexcept { return WriteDword(kFlashValue, value); }
LONG WriteTrayIconSetting(DWORD value) noexcept { return WriteDword(kTrayIconValue, value); }

bool ReadTrayIconSetting(DWORD* value) noexcept {
    DWORD data = 0;
    DWORD size = sizeof data;
    DWORD type = 0;
    if (QueryValue(kTrayIconValue, &type, &data, &size) != ERROR_SUCCESS) return false;
    if (type != REG_DWORD || size != sizeof data) return false;
    *value = data;
    return true;
}

AnsiString ReadSoundFile() {
    // One byte more than a path may hold: the value is stored without a
    // terminator, so a full 260-byte value would otherwise leave none.
    char buffer[kPathBufferSize + 1] = {};
    DWORD size = kPathBufferSize;
    DWORD type = 0;
    if (QueryValue(kFileValue, &type, buffer, &size) != ERROR_SUCCESS) return AnsiString();
    if (type != REG_SZ && type != REG_EXPAND_SZ) return AnsiString();
    // A path with %variables% is expanded, as the shell's reader did.
    char expanded[kPathBufferSize + 1] = {};
    if (type == REG_EXPAND_SZ) {
        const DWORD needed = ExpandEnvironmentStringsA(buffer, expanded, kPathBufferSize);
        if (needed == 0 || needed > kPathBufferSize) return AnsiString();
        std::memcpy(buffer, expanded, sizeof buffer);
    }
    const size_t length = strnlen(buffer, kPathBufferSize);
    // A path that fills the whole buffer cannot be held with its terminator.
    if (length == 0 || length >= kPathBufferSize) return AnsiString();
    // Anyone who may write the user's settings could name a device or a
    // pipe, which a sound played at a block would open and wait on.
    if (NamesDeviceOrPipe(buffer)) return AnsiString();
    return AnsiString(buffer, length);
}

LONG WriteSoundFile(const char* path) noexcept {
    if (!path) return ERROR_INVALID_PARAMETER;
    const LONG written = WriteUnterminatedString(kSettingsKey, kFileValue, path);
    if (written == ERROR_SUCCESS) InterlockedIncrement(&sharedState->savedChanges);
    return written;
}

LONG DisableScriptDebugger() noexcept {
    return WriteUnterminatedString(kBrowserMainKey, kDisableScriptDebuggerValue, "yes");
}

void ApplySoundSetting(DWORD value, SharedState& state) noexcept {
    if (value == 0) {
        // The kind of sound is kept, so F9 brings back what was chosen last.
        state.soundOn = 0;
        return;
    }
    state.soundOn = 1;
    state.soundIsBeep = value == 1 ? 1 : 0;
}

void ApplyFlashSetting(DWORD value, SharedState& state) noexcept {
    if (value > 3) return;  // not a value we write: leave both as they are
    state.flashOn = (value & 1) ? 1 : 0;
    state.blockBannerAds = (value & 2) ? 1 : 0;
}

void ApplyTrayIconSetting(DWORD value, SharedState& state) noexcept {
    state.trayIconHidden = value != 0 ? 1 : 0;
}

DWORD EncodeSoundSetting(const SharedState& state) noexcept {
    if (!state.soundOn) return 0;
    return state.soundIsBeep ? 1 : 2;
}

DWORD EncodeFlashSetting(const SharedState& state) noexcept {
    return (state.flashOn ? 1u : 0u) + (state.blockBannerAds ? 2u : 0u);
}

void LoadSettingsInto(SharedState& state) noexcept {
    DWORD trayIcon = 0;
    if (ReadTrayIconSetting(&trayIcon)) ApplyTrayIconSetting(trayIcon, state);
    ApplySoundSetting(ReadSoundSetting(), state);
    ApplyFlashSetting(ReadFlashSetting(), state);
}

}  // namespace korvane
