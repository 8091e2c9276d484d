// What the attach benchmarks share: a program as the keyboard hook finds
// it (a window shown and its messages handled), and a clock.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>

namespace bench {

inline double Milliseconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Prints "<name> <milliseconds>" when it goes out of scope: one line of the
// child's report to korvane_attach_bench.
class Step {
public:
    explicit Step(std::string name) : name_(std::move(name)), start_(Milliseconds()) {}
    ~Step() { std::printf("%s\t%.4f\n", name_.c_str(), Milliseconds() - start_); }
    Step(const Step&) = delete;
    Step& operator=(const Step&) = delete;

private:
    std::string name_;
    double start_;
};

inline void PumpUntilIdle() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// A visible top-level window whose messages have been handled: every
// program the keyboard hook reaches has one before the library comes.
inline HWND OpenProgramWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KorvaneBenchProgram";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "program", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  10, 10, 200, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
    PumpUntilIdle();
    return window;
}

// Closes the window and ends the message loop, as the program's end.
inline void CloseProgramWindow(HWND window) {
    DestroyWindow(window);
    PostQuitMessage(0);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
}

}  // namespace bench
