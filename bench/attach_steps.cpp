// The steps of the library's attach and detach, in their order, each timed
// on its own with the library's own code (linked in, with its resources),
// in a program that already has a window and a message loop. Run by
// korvane_attach_bench, which adds up what the children report.
//
//   korvane_attach_steps first|later
//
// "first" does what only the session's first process does (keyboard hook,
// settings, the browser's script debugger setting; the icon shown once
// attach is over); "later"
// runs while a browser holds the library, whose thread owns the hook.
// Prints "attach: <step>\t<milliseconds>" lines, "detach: ..." for detach,
// and "use: ..." for what is left until something first needs it.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "bench_program.h"
#include "module/hook_owner.h"
#include "module/module_lifetime.h"
#include "module/module_rules.h"
#include "module/type_library.h"
#include "state/settings.h"
#include "state/shared_state.h"
#include "tray/tray_icon.h"

using namespace korvane;
using bench::Step;

int main(int argc, char** argv) {
    const bool first = argc > 1 && std::strcmp(argv[1], "first") == 0;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    moduleInstance = instance;
    // The global hook needs its procedure in a DLL, as the library's is.
    HMODULE hookLibrary = LoadLibraryA("korvane_bench_hook.dll");
    auto hookProc = reinterpret_cast<HOOKPROC>(
        reinterpret_cast<void (*)()>(GetProcAddress(hookLibrary, "BenchKeyboardProc")));
    if (!hookProc) return 2;
    HWND program = bench::OpenProgramWindow();

    SharedState state = InitialSharedState();
    HHOOK hook = nullptr;
    TrayIcon* tray = new TrayIcon();
    {
        Step step("attach: host check");
        char path[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, path, sizeof path);
        IsShellHost(path);
    }
    {
        Step step("attach: session switches mapped");
        bool created = false;
        MapSessionSharedState(true, &created);
    }
    bool owner = false;
    {
        Step step("attach: hook owner claimed");
        OpenHookOwner();
        owner = ClaimHook();
    }
    if (first != owner) std::fprintf(stderr, "attach steps: the hook's owner is not as expected\n");
    if (owner) {
        {
            Step step("attach: keyboard hook (first process)");
            hook = SetWindowsHookExA(WH_KEYBOARD, hookProc, hookLibrary, 0);
        }
        {
            Step step("attach: settings read (first process)");
            LoadSettingsInto(state);
        }
        Step step("attach: script debugger setting (first process)");
        DisableScriptDebugger();
    }
    {
        Step step("attach: tray window");
        tray->Install(instance, nullptr, TrayCallbackMessage, kBlockingTooltip, nullptr, TrayIconId, TRUE);
    }
    if (owner) {
        Step step("use: tray icon shown once attach is over, its icon loaded (first process)");
        tray->ShowPopupState(false);
        tray->ShowInTray();
    }
    bench::PumpUntilIdle();
    {
        Step step("use: type library");
        ITypeInfo* info = nullptr;
        if (SUCCEEDED(GetViewSourceTypeInfo(&info))) info->Release();
    }
    {
        // Already there in the first process, which showed its icon.
        Step step("use: icons");
        BlockingIcon();
        AllowingIcon();
    }
    {
        Step step("use: sound-file read");
        char path[MAX_PATH];
        GetSoundFilePath(path, sizeof path);
    }

    if (hook) {
        Step step("detach: keyboard hook removed (first process)");
        UnhookWindowsHookEx(hook);
    }
    {
        Step step("detach: tray window and icon removed");
        delete tray;
    }
    bench::CloseProgramWindow(program);
    return 0;
}
