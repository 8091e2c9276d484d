#include "module/shared_state.h"

#include "base/ansi_string.h"
#include "base/lock.h"

namespace korvane {

SharedState InitialSharedState() noexcept {
    SharedState initial{};
    initial.keyboardHook = nullptr;
    initial.trayIconSynced = 0;
    initial.popupsAllowed = 0;
    initial.trayIconHidden = 0;
    // New windows are let through until the first page has completed.
    initial.popupOverride = 1;
    initial.soundOn = 1;
    initial.flashOn = 1;
    initial.soundIsBeep = 1;
    initial.blockBannerAds = 0;
    initial.instanceCount = 0;
    initial.helperActive = 0;
    return initial;
}

// Must be initialised: an uninitialised object would not be placed in the
// section. The shared attribute makes the linker mark the section
// read/write/shared.
__attribute__((section(".shared"), shared)) SharedState sharedState = {
    nullptr, 0, 0, 0, 1, 1, 1, 1, 0, 0, 0};

HINSTANCE moduleInstance = nullptr;
HICON iconBlocking = nullptr;
HICON iconAllowing = nullptr;
volatile LONG newWindowPending = 0;
HWND volatile logListBox = nullptr;

namespace {
char soundFilePath[kPathBufferSize] = {};
CriticalSection soundFilePathLock;
}  // namespace

void SetSoundFilePath(const char* path) noexcept {
    ScopedLock hold(soundFilePathLock);
    CopyBounded(soundFilePath, sizeof soundFilePath, path);
}

void GetSoundFilePath(char* buffer, size_t size) noexcept {
    ScopedLock hold(soundFilePathLock);
    CopyBounded(buffer, size, soundFilePath);
}

bool HasSoundFilePath() noexcept {
    ScopedLock hold(soundFilePathLock);
    return soundFilePath[0] != '\0';
}

}  // namespace korvane
