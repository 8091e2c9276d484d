// A keyboard hook procedure in a DLL of its own: korvane_attach_steps sets
// a global hook with it, as the library's first process sets its own.
#include <windows.h>

extern "C" __declspec(dllexport) LRESULT CALLBACK BenchKeyboardProc(int code, WPARAM wParam,
                                                                    LPARAM lParam) {
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
