// The user's settings: registry values under HKEY_CURRENT_USER
// "Software\Vantrell\BHO", read into the shared switches by the first
// process and written back by the places that change them.
#pragma once

#include <windows.h>

#include "base/ansi_string.h"
#include "state/shared_state.h"

namespace korvane {

constexpr char kSettingsKey[] = "Software\\Vantrell\\BHO";
constexpr char kTrayIconValue[] = "Tray Icon";  // REG_DWORD, non-zero: icon hidden
constexpr char kSoundValue[] = "Sound";         // REG_DWORD, 0 none, 1 beep, other: wave file
constexpr char kFlashValue[] = "Flash";         // REG_DWORD, bit 0 flash, bit 1 banner ads
constexpr char kFileValue[] = "File";           // REG_SZ without terminator: the wave file

constexpr char kBrowserMainKey[] = "Software\\Microsoft\\Internet Explorer\\Main";
constexpr char kDisableScriptDebuggerValue[] = "Disable Script Debugger";

// Missing values read as 0: the result of the registry call is not examined.
DWORD ReadSoundSetting() noexcept;
DWORD ReadFlashSetting() noexcept;
LONG WriteSoundSetting(DWORD value) noexcept;
LONG WriteFlashSetting(DWORD value) noexcept;

// "Tray Icon" differs from the others: a missing value must be told apart
// from 0, because a missing value leaves the shared flag as it is.
bool ReadTrayIconSetting(DWORD* value) noexcept;
LONG WriteTrayIconSetting(DWORD value) noexcept;

// The wave file path, or an empty string when the value is missing, empty,
// or too long for a path buffer.
AnsiString ReadSoundFile();
// Stores the path's bytes without a terminating NUL.
LONG WriteSoundFile(const char* path) noexcept;

// Writes "yes" (three bytes, no terminator) to the browser's setting.
LONG DisableScriptDebugger() noexcept;

// Encodings between the registry values and the shared switches.
void ApplySoundSetting(DWORD value, SharedState& state) noexcept;
void ApplyFlashSetting(DWORD value, SharedState& state) noexcept;
void ApplyTrayIconSetting(DWORD value, SharedState& state) noexcept;
DWORD EncodeSoundSetting(const SharedState& state) noexcept;
DWORD EncodeFlashSetting(const SharedState& state) noexcept;

// What the first process does with the stored settings: "Tray Icon" (only
// when present), "Sound" and "Flash" into the shared switches.
void LoadSettingsInto(SharedState& state) noexcept;

}  // namespace korvane
