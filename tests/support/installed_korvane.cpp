#include "support/installed_korvane.h"

#include <cstring>

namespace korvane::test {
namespace {

constexpr UINT kRunMessage = WM_APP + 100;
constexpr char kSettingsKey[] = "Software\\Vantrell\\BHO";

struct Work {
    void (*function)(void*);
    void* context;
    HANDLE done;
};

void StoreSetting(const char* name, long value) {
    if (value < 0) return;
    WriteDwordValue(HKEY_CURRENT_USER, kSettingsKey, name, static_cast<DWORD>(value));
}

BOOL CALLBACK FindTrayWindow(HWND window, LPARAM found) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    if (std::strcmp(name, "TrayIconClass") != 0) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}


}  // namespace

InstalledKorvane::InstalledKorvane(const InstallOptions& options) {
    const std::string dll = DllPath();
    if (!CopyFileA(KorvaneDllPath().c_str(), dll.c_str(), FALSE)) {
        failure_ = "cannot copy " + KorvaneDllPath();
        return;
    }
    if (!options.whiteList.empty()) {
        std::string text;
        for (const std::string& entry : options.whiteList) text += entry + "\r\n";
        WriteFileBytes(folder_.File("WhiteList.txt"), text);
    }
    for (const auto& file : options.besideDll) {
        if (!CopyFileA(file.first.c_str(), folder_.File(file.second).c_str(), FALSE)) {
            failure_ = "cannot copy " + file.first;
            return;
        }
    }
    DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
    if (!options.soundFile.empty()) {
        HKEY key = nullptr;
        RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr);
        RegSetValueExA(key, "File", 0, REG_SZ, reinterpret_cast<const BYTE*>(options.soundFile.c_str()),
                       static_cast<DWORD>(options.soundFile.size() + 1));
        RegCloseKey(key);
    }
    StoreSetting("Flash", options.flashSetting);
    StoreSetting("Sound", options.soundSetting);
    StoreSetting("Tray Icon", options.trayIconSetting);

    const int registered = RunProcess("regsvr32 /s \"" + dll + "\"");
    if (registered != 0) {
        failure_ = "regsvr32 failed with " + std::to_string(registered);
        return;
    }
    ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    trayThread_ = std::thread(&InstalledKorvane::TrayThreadMain, this, dll);
    WaitForSingleObject(ready_, 30000);
    if (!module_) {
        failure_ = "the registered copy could not be loaded";
        return;
    }
    shared_ = FindSharedState(module_);
    if (!shared_) failure_ = "no shared section in the loaded copy";
}

InstalledKorvane::~InstalledKorvane() {
    if (trayThread_.joinable()) {
        PostThreadMessageA(trayThreadId_, WM_QUIT, 0, 0);
        trayThread_.join();
    }
    if (ready_) CloseHandle(ready_);
    RunProcess("regsvr32 /u /s \"" + DllPath() + "\"");
    DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
}

void InstalledKorvane::TrayThreadMain(std::string dllPath) {
    trayThreadId_ = GetCurrentThreadId();
    MSG msg;
    // Make sure the thread has a message queue before anyone posts to it.
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    module_ = LoadLibraryExA(dllPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    SetEvent(ready_);
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.hwnd == nullptr && msg.message == kRunMessage) {
            Work* work = reinterpret_cast<Work*>(msg.lParam);
            work->function(work->context);
            SetEvent(work->done);
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (module_) FreeLibrary(module_);
}

void InstalledKorvane::RunOnTrayThread(void (*work)(void*), void* context) {
    Work item{work, context, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    if (PostThreadMessageA(trayThreadId_, kRunMessage, 0, reinterpret_cast<LPARAM>(&item)))
        WaitForSingleObject(item.done, 30000);
    CloseHandle(item.done);
}

HWND InstalledKorvane::TrayWindow() const {
    HWND found = nullptr;
    EnumThreadWindows(trayThreadId_, FindTrayWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::vector<std::string> InstalledKorvane::BlockedPopupsShown() {
    return BlockedPopupsShownBy(GetCurrentProcessId());
}

SharedView::SharedView(const char* prefix) { state_ = OpenSessionSharedState(prefix, &mapping_); }

SharedView::~SharedView() { CloseSessionSharedState(state_, mapping_); }

}  // namespace korvane::test
