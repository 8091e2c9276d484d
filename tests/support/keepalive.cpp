// Keeps the test run's Wine session alive: started once, with its output
// going nowhere, before any test. The Wine system processes (services, the
// desktop) that its start launches then hold no test's output pipe, so a
// test's runner never waits on them; and they stay up for the whole run
// instead of starting again for every test program.
//
//   korvane_keepalive <ready-file>
// Creates <ready-file> (a Windows path) once the desktop exists, then waits
// until it is ended.
#include <windows.h>

int main(int argc, char** argv) {
    HWND window = CreateWindowExA(0, "STATIC", "korvane keepalive", WS_POPUP, 0, 0, 1, 1, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    if (argc > 1) {
        HANDLE ready = CreateFileA(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
    }
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    if (window) DestroyWindow(window);
    return 0;
}
