#include "support/test_support.h"

#include <objbase.h>

#include "channel/broker_channel.h"
#include "korvane_idl.h"

#include <cstring>

namespace korvane::test {

std::string ProgramDirectory() {
    char path[MAX_PATH * 4] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string full(path, length);
    return full.substr(0, full.find_last_of('\\') + 1);
}

std::string BuildDirectory() {
    std::string dir = ProgramDirectory();
    // Programs live in bin\ below the top of the build tree.
    std::string trimmed = dir.substr(0, dir.size() - 1);
    return trimmed.substr(0, trimmed.find_last_of('\\') + 1);
}

std::string KorvaneDllPath() { return BuildDirectory() + "Korvane.dll"; }

bool RunningOnWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool RunningUnderWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

TempDirectory::TempDirectory() {
    char base[MAX_PATH] = {};
    GetTempPathA(sizeof base, base);
    static LONG counter = 0;
    for (;;) {
        char name[MAX_PATH * 2];
        snprintf(name, sizeof name, "%skorvane-test-%lu-%ld\\", base,
                 static_cast<unsigned long>(GetCurrentProcessId()),
                 static_cast<long>(InterlockedIncrement(&counter)));
        if (CreateDirectoryA(name, nullptr)) {
            path_ = name;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            path_ = base;  // fall back; removal below is then skipped
            return;
        }
    }
}

TempDirectory::~TempDirectory() {
    if (path_.find("korvane-test-") != std::string::npos) RemoveTree(path_);
}

void RemoveTree(const std::string& path) {
    std::string dir = path;
    if (!dir.empty() && dir.back() != '\\') dir += '\\';
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((dir + "*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!std::strcmp(data.cFileName, ".") || !std::strcmp(data.cFileName, "..")) continue;
            std::string child = dir + data.cFileName;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(dir.c_str());
}

std::string ReadFileBytes(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    std::string bytes;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
    CloseHandle(file);
    return bytes;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() ||
              WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {
HANDLE Start(const std::string& commandLine, DWORD* id) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return nullptr;
    CloseHandle(info.hThread);
    if (id) *id = info.dwProcessId;
    return info.hProcess;
}

int WaitAndClose(HANDLE process, DWORD timeoutMs) {
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process, 255);
        WaitForSingleObject(process, 5000);
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return static_cast<int>(code);
}
}  // namespace

int RunProcess(const std::string& commandLine, DWORD timeoutMs) {
    HANDLE process = Start(commandLine, nullptr);
    if (!process) return -1;
    int code = WaitAndClose(process, timeoutMs);
    CloseHandle(process);
    return code;
}

ChildProcess::ChildProcess(const std::string& commandLine) {
    process_ = Start(commandLine, &id_);
}

ChildProcess::~ChildProcess() {
    if (process_) {
        if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
            TerminateProcess(process_, 255);
            WaitForSingleObject(process_, 5000);
        }
        CloseHandle(process_);
    }
}

int ChildProcess::Wait(DWORD timeoutMs) {
    if (!process_) return -1;
    int code = WaitAndClose(process_, timeoutMs);
    CloseHandle(process_);
    process_ = nullptr;
    return code;
}

void ChildProcess::Kill() {
    if (!process_) return;
    TerminateProcess(process_, 255);
    WaitForSingleObject(process_, 10000);
}

RawValue ReadRawValue(HKEY root, const std::string& key, const std::string& name, REGSAM view) {
    RawValue value;
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    DWORD type = 0;
    const char* valueName = name.empty() ? nullptr : name.c_str();
    if (RegQueryValueExA(handle, valueName, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::string bytes(size, '\0');
        if (RegQueryValueExA(handle, valueName, nullptr, &type,
                             reinterpret_cast<BYTE*>(bytes.data()), &size) == ERROR_SUCCESS) {
            bytes.resize(size);
            value.present = true;
            value.type = type;
            value.bytes = bytes;
        }
    }
    RegCloseKey(handle);
    return value;
}

bool KeyExists(HKEY root, const std::string& key, REGSAM view) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

void DeleteKeyTree(HKEY root, const std::string& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | KEY_WRITE, &handle) != ERROR_SUCCESS) return;
    for (;;) {
        char child[512];
        DWORD length = sizeof child;
        if (RegEnumKeyExA(handle, 0, child, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        DeleteKeyTree(handle, child);
    }
    RegCloseKey(handle);
    RegDeleteKeyA(root, key.c_str());
}

void WriteDwordValue(HKEY root, const std::string& key, const std::string& name, DWORD value) {
    HKEY handle = nullptr;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExA(handle, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof value);
    RegCloseKey(handle);
}

SharedState* OpenSessionSharedState(const char* prefix, HANDLE* mapping) {
    *mapping = nullptr;
    const std::string name = std::string(prefix) + kSharedStateObjectName;
    HANDLE opened = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                       sizeof(SharedState), name.c_str());
    if (!opened) return nullptr;
    const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
    void* view = MapViewOfFile(opened, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(SharedState));
    if (!view) {
        CloseHandle(opened);
        return nullptr;
    }
    auto* state = static_cast<SharedState*>(view);
    if (created) *state = InitialSharedState();
    *mapping = opened;
    return state;
}

bool SessionSharedStateMade(const char* prefix) {
    HANDLE opened = OpenFileMappingA(FILE_MAP_READ, FALSE, (std::string(prefix) + kSharedStateObjectName).c_str());
    if (opened) CloseHandle(opened);
    return opened != nullptr;
}

void CloseSessionSharedState(SharedState* state, HANDLE mapping) {
    if (state) UnmapViewOfFile(state);
    if (mapping) CloseHandle(mapping);
}

SharedState* FindSharedState(HMODULE module, const char* prefix) {
    if (!module) return nullptr;
    HANDLE mapping = nullptr;
    // Stays mapped for the life of the process, like the DLL's own view.
    return OpenSessionSharedState(prefix, &mapping);
}

void PumpMessages(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
    }
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= timeoutMs) return done();
        PumpMessages(10);
    }
    return true;
}

void Xdotool(const std::string& arguments) {
    // Wine starts programs of the host system as well as its own, but leaves
    // stale values in the handles and ids it returns for one, and those may
    // name other handles of this process (a test's named event, once):
    // waiting on them or closing them would hit those. So nothing returned
    // is used: the shell that runs xdotool leaves a file when it is done,
    // and that file is what is waited for, so that input reaches the X
    // server in the order the test sends it.
    // Other prefixes share /tmp and reuse Wine's small process ids.
    static LONG runs = 0;
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    const std::string name = "korvane-xdotool-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(InterlockedIncrement(&runs)) + "-" +
                             std::to_string(now.QuadPart);
    const std::string done = "Z:\\tmp\\" + name;
    std::string line =
        "Z:\\bin\\sh -c \"/usr/bin/xdotool " + arguments + "; : >/tmp/" + name + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return;
    for (DWORD start = GetTickCount(); !FileExists(done) && GetTickCount() - start < 10000;)
        Sleep(5);
    DeleteFileA(done.c_str());
}

std::vector<HWND> WineTrayIcons() {
    std::vector<HWND> icons;
    HWND area = FindWindowA("__winex11_standalone_tray", nullptr);
    if (!area) return icons;
    for (HWND child = FindWindowExA(area, nullptr, "__winex11_tray_icon", nullptr); child;
         child = FindWindowExA(area, child, "__winex11_tray_icon", nullptr))
        if (IsWindowVisible(child)) icons.push_back(child);
    return icons;
}

COLORREF IconColour(HWND icon) {
    RECT rect{};
    GetWindowRect(icon, &rect);
    HDC screen = GetDC(nullptr);
    const COLORREF colour =
        GetPixel(screen, (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2 - 5);
    ReleaseDC(nullptr, screen);
    return colour;
}

bool LooksRed(COLORREF c) { return GetRValue(c) > 150 && GetGValue(c) < 100; }
bool LooksGreen(COLORREF c) { return GetGValue(c) > 100 && GetRValue(c) < 100; }

namespace {

// The top-level windows of a class, with the process of each.
std::vector<std::pair<HWND, DWORD>> WindowsOfClass(const char* className, const char* title = nullptr) {
    std::vector<std::pair<HWND, DWORD>> found;
    for (HWND window = FindWindowExA(nullptr, nullptr, className, title); window;
         window = FindWindowExA(nullptr, window, className, title)) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        found.emplace_back(window, process);
    }
    return found;
}

}  // namespace

DWORD BrokerProcess(DWORD except) {
    for (const auto& [window, process] : WindowsOfClass("KorvaneBroker"))
        if (process != except) return process;
    return 0;
}

DWORD WaitForBroker(DWORD except, DWORD timeoutMs) {
    WaitUntil([except] { return BrokerProcess(except) != 0; }, timeoutMs);
    return BrokerProcess(except);
}

void SetBrokerElevationPolicy(const std::string& folder) {
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kElevationPolicyKey);
    if (folder.empty()) return;
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kElevationPolicyKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    RegSetValueExA(key, "AppName", 0, REG_SZ, reinterpret_cast<const BYTE*>(kBrokerProgramName), sizeof kBrokerProgramName);
    RegSetValueExA(key, "AppPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>(folder.size() + 1));
    RegCloseKey(key);
    WriteDwordValue(HKEY_LOCAL_MACHINE, kElevationPolicyKey, "Policy", 3);
}

HWND TrayWindowOf(DWORD process) {
    for (const auto& [window, owner] : WindowsOfClass("TrayIconClass"))
        if (owner == process) return window;
    return nullptr;
}

HWND DialogOf(DWORD process, const char* title, DWORD timeoutMs) {
    HWND dialog = nullptr;
    WaitUntil([&] {
        for (const auto& [window, owner] : WindowsOfClass("#32770", title))
            if (owner == process && IsWindowVisible(window)) return (dialog = window) != nullptr;
        return false;
    }, timeoutMs);
    return dialog;
}

std::vector<std::string> BlockedPopupsShownBy(DWORD process) {
    std::vector<std::string> lines;
    PostMessageA(TrayWindowOf(process), WM_COMMAND, 32784, 0);
    HWND dialog = DialogOf(process, "Vantrell Log");
    if (!dialog) return lines;
    // Read as wide text: the system carries a list box's text to another
    // process as such, whatever the box holds.
    HWND list = GetDlgItem(dialog, 218);
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        if (length < 0) continue;
        std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
        SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(wide.data()));
        lines.push_back(std::string(wide.begin(), wide.begin() + static_cast<ptrdiff_t>(wcslen(wide.c_str()))));
    }
    PostMessageA(dialog, WM_COMMAND, 220, 0);
    WaitUntil([&] { return !IsWindow(dialog); }, 10000);
    return lines;
}

bool WriteSitePage(const std::string& site, const std::string& hostAndPath,
                   const std::string& html) {
    std::string path = site;
    size_t start = 0;
    for (;;) {
        const size_t slash = hostAndPath.find('/', start);
        if (slash == std::string::npos) break;
        path += hostAndPath.substr(start, slash - start) + "\\";
        CreateDirectoryA(path.c_str(), nullptr);
        start = slash + 1;
    }
    return WriteFileBytes(path + hostAndPath.substr(start), html);
}

void WriteFigure(const std::string& name, const std::string& tried, const std::string& cases,
                 const std::string& held) {
    const std::string folder = BuildDirectory() + "figures\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    WriteFileBytes(folder + name + ".tsv", name + "\t" + tried + "\t" + cases + "\t" + held + "\n");
}

std::string GuidText(const GUID& guid) {
    wchar_t wide[64] = {};
    StringFromGUID2(guid, wide, 64);
    return std::string(wide, wide + wcslen(wide));
}

void PurgeProductRegistration() {
    DeleteKeyTree(HKEY_CLASSES_ROOT, "Korvane.ViewSource.1");
    DeleteKeyTree(HKEY_CLASSES_ROOT, "Korvane.ViewSource");
    DeleteKeyTree(HKEY_CLASSES_ROOT, "CLSID\\" + GuidText(CLSID_ViewSource));
    DeleteKeyTree(HKEY_CLASSES_ROOT, "TypeLib\\" + GuidText(LIBID_KORVANELib));
    DeleteKeyTree(HKEY_CLASSES_ROOT, "Interface\\" + GuidText(IID_IViewSource));
    DeleteKeyTree(HKEY_LOCAL_MACHINE,
                  std::string(kHelperObjectsKey) + "\\" + GuidText(CLSID_ViewSource));
}

}  // namespace korvane::test
