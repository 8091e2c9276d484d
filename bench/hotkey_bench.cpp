// What the keyboard hook adds to every key pressed anywhere on the desktop:
// HotKeyProc for a key it ignores, against calling the next hook alone,
// measured in the same run.
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "hotkeys/hotkey_hook.h"
#include "module/shared_state.h"

using namespace korvane;

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <typename Call>
double BestNanoseconds(Call call, int iterations) {
    double best = 1e30;
    for (int round = 0; round < 5; ++round) {
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        for (int i = 0; i < iterations; ++i) call();
        QueryPerformanceCounter(&end);
        best = std::min(best, Seconds(start, end) * 1e9 / iterations);
    }
    return best;
}

}  // namespace

int main() {
    const int iterations = 20000;
    const LPARAM firstDown = 1;
    // 'A': a key the hook looks at and lets pass.
    const double alone = BestNanoseconds(
        [&] { CallNextHookEx(sharedState->keyboardHook, HC_ACTION, 'A', firstDown); }, iterations);
    const double hooked =
        BestNanoseconds([&] { HotKeyProc(HC_ACTION, 'A', firstDown); }, iterations);
    std::printf("keyboard hook, a key it ignores, best of 5 rounds\n");
    std::printf("  CallNextHookEx alone (baseline): %8.0f ns\n", alone);
    std::printf("  HotKeyProc:                      %8.0f ns\n", hooked);
    std::printf("  ratio:                           %8.2f x\n", hooked / alone);
    std::printf("  the hook's own work:             %8.0f ns\n", hooked - alone);
    return 0;
}
