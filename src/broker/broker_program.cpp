// KorvaneBroker.exe: the broker's program. Everything the broker does lives
// in Korvane.dll (broker/broker_main.h), so that there is one copy of each
// part and the keyboard hook is the library's own: this program only loads
// the library from its own folder and hands over to it.
//
//   KorvaneBroker.exe          runs the broker of this user and session
//                              (a second one ends at once)
//   KorvaneBroker.exe /start   the same, from setup: started elevated, it
//                              has the desktop's shell start it as the user
//   KorvaneBroker.exe /stop    ends every broker on this desktop, and waits
//
// Exit codes: 0 done, 2 the library or its entry point is missing, 3 a
// broker could not be stopped; the broker's own (broker_main.h).
#include <windows.h>
#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <cstring>

using Microsoft::WRL::ComPtr;

namespace {

constexpr char kBrokerWindowClass[] = "KorvaneBroker";
constexpr DWORD kStopTimeout = 10000;  // ms, for each broker

// This program's folder, with its trailing backslash; false when the path
// does not fit.
bool OwnFolder(char* folder, DWORD size) {
    const DWORD length = GetModuleFileNameA(nullptr, folder, size);
    if (length == 0 || length >= size - 1) return false;
    char* slash = std::strrchr(folder, '\\');
    if (!slash) return false;
    slash[1] = '\0';
    return true;
}

// Puts name after the folder's path; false when it does not fit.
bool PathInFolder(char* path, size_t size, size_t folder, const char* name) {
    const size_t length = std::strlen(name);
    if (folder + length + 1 > size) return false;
    std::memcpy(path + folder, name, length + 1);
    return true;
}

// Whether the command line holds this switch as a word of its own.
bool HasSwitch(const char* commandLine, const char* name) {
    const size_t length = std::strlen(name);
    for (const char* at = std::strstr(commandLine, name); at; at = std::strstr(at + 1, name)) {
        const bool startsWord = at == commandLine || at[-1] == ' ' || at[-1] == '"';
        const char end = at[length];
        if (startsWord && (end == '\0' || end == ' ' || end == '"')) return true;
    }
    return false;
}

// Asks each broker window on this desktop to close, and waits for its
// process. A broker that will not end is ended.
int StopBrokers() {
    for (int round = 0; round < 16; ++round) {
        HWND window = FindWindowA(kBrokerWindowClass, nullptr);
        if (!window) return 0;
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId);
        PostMessageA(window, WM_CLOSE, 0, 0);
        if (process) {
            if (WaitForSingleObject(process, kStopTimeout) == WAIT_TIMEOUT) {
                TerminateProcess(process, 3);
                WaitForSingleObject(process, kStopTimeout);
            }
            CloseHandle(process);
        } else {
            Sleep(100);
        }
    }
    return FindWindowA(kBrokerWindowClass, nullptr) ? 3 : 0;
}

// True for a token that UAC elevated: its user's own programs run with the
// same user's filtered token, at medium integrity.
bool Elevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    const BOOL read = GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size);
    CloseHandle(token);
    return read && type == TokenElevationTypeFull;
}

// Has the desktop's shell start this program, so that it runs as the user
// who is logged on, at medium integrity: a broker started by an elevated
// setup would itself be elevated, and Explorer's tray could not reach it.
// The desktop's folder view gives the shell's own automation object, whose
// ShellExecute runs in Explorer.
bool StartThroughTheShell(const char* program) {
    if (FAILED(CoInitialize(nullptr))) return false;
    bool started = false;
    {
        ComPtr<IShellWindows> windows;
        VARIANT none;
        VariantInit(&none);
        long desktop = 0;
        ComPtr<IDispatch> found;
        ComPtr<IServiceProvider> services;
        ComPtr<IShellBrowser> browser;
        ComPtr<IShellView> view;
        ComPtr<IDispatch> background;
        ComPtr<IShellFolderViewDual> folderView;
        ComPtr<IDispatch> application;
        ComPtr<IShellDispatch2> shell;
        wchar_t wide[MAX_PATH * 2];
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                       reinterpret_cast<void**>(windows.GetAddressOf()))) &&
            windows->FindWindowSW(&none, &none, SWC_DESKTOP, &desktop, SWFO_NEEDDISPATCH,
                                  found.GetAddressOf()) == S_OK &&
            found &&
            SUCCEEDED(found.As(&services)) &&
            SUCCEEDED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser,
                                             reinterpret_cast<void**>(browser.GetAddressOf()))) &&
            SUCCEEDED(browser->QueryActiveShellView(view.GetAddressOf())) &&
            SUCCEEDED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch,
                                          reinterpret_cast<void**>(background.GetAddressOf()))) &&
            SUCCEEDED(background.As(&folderView)) &&
            SUCCEEDED(folderView->get_Application(application.GetAddressOf())) &&
            SUCCEEDED(application.As(&shell)) &&
            MultiByteToWideChar(CP_ACP, 0, program, -1, wide, MAX_PATH * 2) > 0) {
            BSTR file = SysAllocString(wide);
            if (file) {
                started = SUCCEEDED(shell->ShellExecute(file, none, none, none, none));
                SysFreeString(file);
            }
        }
    }
    CoUninitialize();
    return started;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Nothing is ever loaded by name from the program's folder: setup keeps
    // it for administrators alone, but the program may have been put
    // elsewhere, and an older setup let users add files to it. Where the
    // system has the switch (Windows 8, and 7 and Vista updated), libraries
    // come from the system folder only.
    using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
    if (auto set = reinterpret_cast<SetDefaultDirectories>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories"))))
        set(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryA("");

    const char* commandLine = GetCommandLineA();
    if (HasSwitch(commandLine, "/stop")) return StopBrokers();

    char path[MAX_PATH * 2];
    if (!OwnFolder(path, sizeof path)) return 2;
    const size_t folder = std::strlen(path);
    if (HasSwitch(commandLine, "/start") && Elevated() &&
        PathInFolder(path, sizeof path, folder, "KorvaneBroker.exe") && StartThroughTheShell(path))
        return 0;
    if (!PathInFolder(path, sizeof path, folder, "Korvane.dll")) return 2;
    // By its full path; what it imports are the system's known DLLs.
    HMODULE library = LoadLibraryExA(path, nullptr, 0);
    if (!library) return 2;
    using BrokerMain = int(WINAPI*)();
    auto brokerMain = reinterpret_cast<BrokerMain>(
        reinterpret_cast<void*>(GetProcAddress(library, "KorvaneBrokerMain")));
    if (!brokerMain) return 2;
    return brokerMain();
}
