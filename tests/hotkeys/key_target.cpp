// A program with a window for keys to go to, as any application the user
// types into:
//
//   korvane_key_target <x> <y> <ready-file> <quit-event> [dll]
//
// Shows a 200 x 200 window at x, y, loads dll first when one is given (the
// process is then one that loaded the library itself, like the browser),
// writes <ready-file> once the window is up, and runs until the named event
// <quit-event> is set. F11, a key the hook ignores, sets the named event
// "<quit-event>.key": the test's way to know that keys now reach this window. The exit code says whether Korvane.dll was in the process at the
// end: 1 when it was (the keyboard hook brings it into every process that
// receives keys while the hook is installed), 0 when not.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

HANDLE keyReached = nullptr;

LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN && wParam == VK_F11) SetEvent(keyReached);
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) return 3;
    HANDLE quit = CreateEventA(nullptr, TRUE, FALSE, argv[4]);
    if (!quit) return 3;
    char keyName[512];
    snprintf(keyName, sizeof keyName, "%.500s.key", argv[4]);
    keyReached = CreateEventA(nullptr, TRUE, FALSE, keyName);
    if (argc > 5 && !LoadLibraryA(argv[5])) return 4;

    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = TargetProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "KorvaneKeyTarget";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "KorvaneKeyTarget", "key target", WS_POPUP | WS_VISIBLE,
                                  std::atoi(argv[1]), std::atoi(argv[2]), 200, 200, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
    if (!window) return 5;
    UpdateWindow(window);

    HANDLE ready = CreateFileA(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);

    for (;;) {
        const DWORD woke = MsgWaitForMultipleObjects(1, &quit, FALSE, INFINITE, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0) break;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    const int loaded = GetModuleHandleA("Korvane.dll") ? 1 : 0;
    DestroyWindow(window);
    return loaded;
}
