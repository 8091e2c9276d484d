// A program with a window for keys to go to, as any application the user
// types into:
//
//   korvane_key_target <x> <y> <ready-file> [dll]
//
// Shows a 200 x 200 window at x, y, loads dll first when one is given (the
// process is then one that loaded the library itself, like the browser),
// writes <ready-file> once the window is up, and runs until its window is
// closed. The exit code says whether Korvane.dll was in the process at the
// end: 1 when it was (the keyboard hook brings it into every process that
// receives keys while the hook is installed), 0 when not.
#include <windows.h>

#include <cstdlib>

namespace {

LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return 3;
    if (argc > 4 && !LoadLibraryA(argv[4])) return 4;

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

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return GetModuleHandleA("Korvane.dll") ? 1 : 0;
}
