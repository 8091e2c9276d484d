// Frees Korvane.dll the way COM may: from a thread other than the one that
// loaded it, while that thread's tray window is alive. Then lets the tray
// window handle a message.
//
//   korvane_unload_probe <dll>
//
// Exit codes: 0 the library stayed and its window answered, 1 the library
// was unloaded, 2 it could not be loaded, 3 its tray window was not found.
// A crash is a crash.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

HMODULE module = nullptr;
HANDLE loaded = nullptr;
HANDLE quit = nullptr;

DWORD WINAPI Loader(void* path) {
    module = LoadLibraryA(static_cast<const char*>(path));
    SetEvent(loaded);
    for (;;) {
        if (MsgWaitForMultipleObjects(1, &quit, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0)
            return 0;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
}

BOOL CALLBACK FindTray(HWND window, LPARAM found) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    if (std::strcmp(name, "TrayIconClass") != 0) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    loaded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    quit = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD loaderId = 0;
    HANDLE loader = CreateThread(nullptr, 0, Loader, argv[1], 0, &loaderId);
    WaitForSingleObject(loaded, 30000);
    if (!module) return 2;
    HWND tray = nullptr;
    EnumThreadWindows(loaderId, FindTray, reinterpret_cast<LPARAM>(&tray));
    if (!tray) return 3;

    FreeLibrary(module);
    const bool stillLoaded = GetModuleHandleA("Korvane.dll") != nullptr;
    // The window's thread dispatches this to the window procedure.
    SendMessageTimeoutA(tray, WM_TIMER, 4567, 0, SMTO_BLOCK, 5000, nullptr);
    SendMessageTimeoutA(tray, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0, SMTO_BLOCK, 5000, nullptr);
    SetEvent(quit);
    WaitForSingleObject(loader, 10000);
    std::printf("unload probe: library %s\n", stillLoaded ? "stayed" : "was unloaded");
    return stillLoaded ? 0 : 1;
}
