// The switches that every process with the library loaded sees at once, and
// the process-local globals that several subsystems share.
#pragma once

#include <windows.h>

#include <cstddef>

namespace korvane {

// Lives in a data section with the shared attribute, so all processes that
// map the DLL see one copy; it starts from the initial values whenever the
// first process maps it. Every switch is changed by a single store of a
// whole field, hence volatile: another process may change any field at any
// time, and each read must go to memory.
struct SharedState {
    HHOOK volatile keyboardHook;      // global keyboard hook, set by the first instance
    volatile BYTE trayIconSynced;     // 0: the next browser event re-applies the tray state
    volatile LONG popupsAllowed;      // non-zero: blocking switched off
    volatile LONG trayIconHidden;     // non-zero: the user hid the tray icon
    volatile LONG popupOverride;      // non-zero: new windows are let through
    volatile BYTE soundOn;
    volatile BYTE flashOn;
    volatile BYTE soundIsBeep;        // 1: speaker beep, 0: the wave file
    volatile BYTE blockBannerAds;
    volatile LONG instanceCount;      // processes that have the library loaded
    volatile LONG helperActive;       // program-wide on switch, cleared by the tray menu's Exit
};

// The layout is part of the module's contract with other processes (and with
// the tests that inspect it from outside), so it is pinned here.
static_assert(offsetof(SharedState, keyboardHook) == 0, "layout");
static_assert(offsetof(SharedState, trayIconSynced) == 4, "layout");
static_assert(offsetof(SharedState, popupsAllowed) == 8, "layout");
static_assert(offsetof(SharedState, trayIconHidden) == 12, "layout");
static_assert(offsetof(SharedState, popupOverride) == 16, "layout");
static_assert(offsetof(SharedState, soundOn) == 20, "layout");
static_assert(offsetof(SharedState, flashOn) == 21, "layout");
static_assert(offsetof(SharedState, soundIsBeep) == 22, "layout");
static_assert(offsetof(SharedState, blockBannerAds) == 23, "layout");
static_assert(offsetof(SharedState, instanceCount) == 24, "layout");
static_assert(offsetof(SharedState, helperActive) == 28, "layout");
static_assert(sizeof(SharedState) == 32, "layout");

// Name of the section that holds sharedState; tests use it to find the block
// inside a loaded Korvane.dll.
constexpr char kSharedSectionName[] = ".shared";

extern SharedState sharedState;

// The values sharedState holds when the first process maps it.
SharedState InitialSharedState() noexcept;

// Path and text buffers of the platform's classic size.
constexpr size_t kPathBufferSize = MAX_PATH;

// Process-local globals.
extern HINSTANCE moduleInstance;
extern HICON iconBlocking;   // icon resource 209, shown while popups are blocked
extern HICON iconAllowing;   // icon resource 210, shown while popups are allowed
extern volatile LONG newWindowPending;
extern HWND volatile logListBox;  // list box of the open Blocked Popups dialog, or null

// soundFilePath is written by the notification dialog's thread and read by
// browser threads when a popup is blocked; both go through these so neither
// ever sees half a path.
void SetSoundFilePath(const char* path) noexcept;
// Copies the path into buffer (at most size-1 bytes, always terminated).
void GetSoundFilePath(char* buffer, size_t size) noexcept;
bool HasSoundFilePath() noexcept;

}  // namespace korvane
