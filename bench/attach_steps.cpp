// The steps of the library's attach and detach, in their order, each timed
// on its own with the library's own code (linked in, with its resources),
// in a program that already has a window and a message loop. Run by
// korvane_attach_bench, which adds up what the children report.
//
//   korvane_attach_steps first|later
//
// "first" does what only the first process does (keyboard hook, settings,
// the browser's script debugger setting, the icon shown at once). Prints
// "attach: <step>\t<milliseconds>" lines, "detach: ..." for detach, and
// "use: ..." for what is left until something first needs it.
#include <windows.h>

#include <cstring>

#include "bench_program.h"
#include "module/module_lifetime.h"
#include "module/module_rules.h"
#include "module/settings.h"
#include "module/shared_state.h"
#include "module/type_library.h"
#include "tray/tray_icon.h"

using namespace korvane;
using bench::Step;

int main(int argc, char** argv) {
    const bool first = argc > 1 && std::strcmp(argv[1], "first") == 0;
    HINSTANCE instance = GetModuleHandleA(nullptr);
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
    // Steps of the same name (the lock is taken and given back) add up.
    HANDLE lock = nullptr;
    {
        Step step("attach: instance lock");
        lock = CreateMutexA(SessionObjectSecurity(), FALSE,
                            SessionObjectName(kInstanceLockName).c_str());
        WaitForSingleObject(lock, 5000);
    }
    {
        Step step("attach: session switches mapped");
        MapSessionSharedState();
    }
    if (first) {
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
        Step step("attach: instance lock");
        ReleaseMutex(lock);
        CloseHandle(lock);
    }
    {
        Step step("attach: sound-file read");
        AnsiString file = ReadSoundFile();
        if (!file.empty()) SetSoundFilePath(file.c_str());
    }
    HICON blocking = nullptr;
    {
        Step step("attach: icons");
        blocking = LoadIconA(instance, MAKEINTRESOURCEA(209));
        LoadIconA(instance, MAKEINTRESOURCEA(210));
    }
    {
        Step step("attach: tray window");
        tray->Install(instance, nullptr, TrayCallbackMessage, kBlockingTooltip, blocking, TrayIconId, TRUE);
    }
    if (first) {
        Step step("attach: tray icon shown (first process)");
        tray->ShowInTray();
    }
    bench::PumpUntilIdle();
    {
        Step step("use: type library");
        ITypeInfo* info = nullptr;
        if (SUCCEEDED(GetViewSourceTypeInfo(&info))) info->Release();
    }

    {
        Step step("detach: instance lock");
        lock = CreateMutexA(SessionObjectSecurity(), FALSE,
                            SessionObjectName(kInstanceLockName).c_str());
        WaitForSingleObject(lock, 5000);
    }
    if (hook) {
        Step step("detach: keyboard hook removed (first process)");
        UnhookWindowsHookEx(hook);
    }
    {
        Step step("detach: instance lock");
        ReleaseMutex(lock);
        CloseHandle(lock);
    }
    {
        Step step("detach: tray window and icon removed");
        delete tray;
    }
    bench::CloseProgramWindow(program);
    return 0;
}
