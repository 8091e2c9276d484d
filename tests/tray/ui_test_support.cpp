#include "tray/ui_test_support.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "state/shared_state.h"
#include "support/test_support.h"
#include "tray/tray_icon.h"

namespace korvane::test {
namespace {

constexpr UINT kBarrierMessage = WM_APP + 0x3A1;
constexpr char kRecorderName[] = "korvane_url_recorder.exe";

DWORD modalThread = 0;
HHOOK barrierHook = nullptr;
HANDLE barrierEvent = nullptr;
std::atomic<LONG> barrierSeen{0};
std::atomic<LONG> barrierSent{0};

LRESULT CALLBACK BarrierHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code >= 0 && wParam == PM_REMOVE) {
        MSG* msg = reinterpret_cast<MSG*>(lParam);
        if (!msg->hwnd && msg->message == kBarrierMessage) {
            barrierSeen = static_cast<LONG>(msg->wParam);
            msg->message = WM_NULL;
            SetEvent(barrierEvent);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

struct FindRequest {
    const char* className;
    const char* title;
    HWND found;
};

BOOL CALLBACK FindOwn(HWND window, LPARAM param) {
    auto* request = reinterpret_cast<FindRequest*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    if (request->className && ClassOf(window) != request->className) return TRUE;
    if (request->title && WindowText(window) != request->title) return TRUE;
    request->found = window;
    return FALSE;
}

BOOL CALLBACK CloseLeftover(HWND window, LPARAM) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    const std::string className = ClassOf(window);
    if (className == "#32768") {
        PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 1);
    } else if (className == "#32770") {
        // A yes/no message box has no cancel: No is the way out.
        HWND no = GetDlgItem(window, IDNO);
        if (no && !GetDlgItem(window, IDCANCEL))
            PostMessageA(no, BM_CLICK, 0, 0);
        else
            PostMessageA(window, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

bool RecorderRunning() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    bool running = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !running;
         more = Process32Next(snapshot, &entry))
        running = _stricmp(entry.szExeFile, kRecorderName) == 0;
    CloseHandle(snapshot);
    return running;
}

}  // namespace

void PrepareUserInterface() {
    moduleInstance = GetModuleHandleA(nullptr);
    iconBlocking = LoadIconA(moduleInstance, MAKEINTRESOURCEA(209));
    iconAllowing = LoadIconA(moduleInstance, MAKEINTRESOURCEA(210));
    static bool installed = false;
    if (installed) return;
    installed = true;
    TheTrayIcon().Install(moduleInstance, nullptr, TrayCallbackMessage, kBlockingTooltip,
                          iconBlocking, TrayIconId, TRUE);
}

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthA(window);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const int got = GetWindowTextA(window, text.data(), length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

std::string ClassOf(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

HWND FindOwnWindow(const char* className, const char* title) {
    FindRequest request{className, title, nullptr};
    EnumWindows(FindOwn, reinterpret_cast<LPARAM>(&request));
    return request.found;
}

HWND WaitForOwnWindow(const char* className, const char* title, DWORD timeoutMs) {
    HWND found = nullptr;
    const DWORD start = GetTickCount();
    while (!(found = FindOwnWindow(className, title)) && GetTickCount() - start < timeoutMs)
        Sleep(10);
    return found;
}

bool WaitForWindowGone(HWND window, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    // Destroyed, not just hidden: a dialog's window goes only after its
    // message loop has ended.
    while (IsWindow(window)) {
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(10);
    }
    return true;
}

DWORD ModalThreadId() { return modalThread; }

HWND ModalThreadFocus() {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(modalThread, &info) ? info.hwndFocus : nullptr;
}

void RunWhileModal(const std::function<void()>& open, const std::function<void()>& drive) {
    modalThread = GetCurrentThreadId();
    if (!barrierEvent) barrierEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    barrierHook = SetWindowsHookExA(WH_GETMESSAGE, BarrierHook, nullptr, modalThread);
    std::atomic<bool> finished{false};
    std::thread driver([&] {
        drive();
        // Give the modal thread time to finish what drive started; only
        // then close what is left over.
        const DWORD start = GetTickCount();
        while (!finished && GetTickCount() - start < 5000) Sleep(10);
        while (!finished) {
            EnumWindows(CloseLeftover, 0);
            Sleep(50);
        }
    });
    open();
    finished = true;
    driver.join();
    UnhookWindowsHookEx(barrierHook);
    barrierHook = nullptr;
}

bool PassPostedMessages(DWORD timeoutMs) {
    const LONG ticket = ++barrierSent;
    if (!PostThreadMessageA(modalThread, kBarrierMessage, static_cast<WPARAM>(ticket), 0))
        return false;
    const DWORD start = GetTickCount();
    while (barrierSeen < ticket) {
        if (GetTickCount() - start >= timeoutMs) return false;
        WaitForSingleObject(barrierEvent, 50);
    }
    return true;
}

void Press(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void Settle(HWND window) { SendMessageA(window, WM_NULL, 0, 0); }

void PressLater(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void PostKey(HWND window, UINT virtualKey) {
    HWND focus = ModalThreadFocus();
    HWND target = focus ? focus : window;
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(virtualKey, 0)) << 16;
    PostMessageA(target, WM_KEYDOWN, virtualKey, 1 | scan);
    PostMessageA(target, WM_KEYUP, virtualKey, static_cast<LPARAM>(0xC0000001u) | scan);
}

RECT ControlRect(HWND dialog, int id) {
    RECT rect{};
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

RECT DialogUnitsRect(HWND dialog, int x, int y, int width, int height) {
    // The dialog manager converts each of the template's four numbers on its
    // own (position, then size), so the size is not right minus left of a
    // converted rectangle.
    RECT numbers{x, y, width, height};
    MapDialogRect(dialog, &numbers);
    return RECT{numbers.left, numbers.top, numbers.left + numbers.right,
                numbers.top + numbers.bottom};
}

std::vector<ControlInfo> Controls(HWND dialog) {
    std::vector<ControlInfo> controls;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        ControlInfo info;
        info.id = static_cast<int>(static_cast<short>(GetDlgCtrlID(child)));
        info.className = ClassOf(child);
        info.text = WindowText(child);
        info.style = GetWindowLongA(child, GWL_STYLE);
        GetWindowRect(child, &info.rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&info.rect), 2);
        controls.push_back(info);
    }
    return controls;
}

std::string MessageBoxText(HWND box) {
    // The message box's text is its static control 0xFFFF.
    return WindowText(GetDlgItem(box, 0xFFFF));
}

void Answer(HWND box, int buttonId) {
    Press(box, buttonId);
    EXPECT_TRUE(WaitForWindowGone(box));
}

std::vector<std::string> ListItems(HWND listBox) {
    std::vector<std::string> items;
    const LRESULT count = SendMessageA(listBox, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendMessageA(listBox, LB_GETTEXTLEN, i, 0);
        std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
        const LRESULT got =
            SendMessageA(listBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
        text.resize(got > 0 ? static_cast<size_t>(got) : 0);
        items.push_back(text);
    }
    return items;
}

void SelectItem(HWND listBox, int index) { SendMessageA(listBox, LB_SETCURSEL, index, 0); }

namespace {
constexpr char kBackupSeparator = '\x1f';
}  // namespace

BrowserStandIn::BrowserStandIn() {
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    recordFile_ = std::string(temp) + "korvane-recorder-" + std::to_string(GetCurrentProcessId()) +
                  ".txt";
    DeleteFileA(recordFile_.c_str());
    SetEnvironmentVariableA("KORVANE_RECORDER_FILE", recordFile_.c_str());

    // Repair what a run that died half-way left behind.
    backupFile_ = ProgramDirectory() + "korvane-classes-backup.txt";
    const std::string backup = ReadFileBytes(backupFile_);
    std::vector<Saved> leftover;
    size_t begin = 0;
    for (size_t end; (end = backup.find('\n', begin)) != std::string::npos; begin = end + 1) {
        const std::string line = backup.substr(begin, end - begin);
        const size_t a = line.find(kBackupSeparator);
        const size_t b = line.find(kBackupSeparator, a + 1);
        const size_t c = line.find(kBackupSeparator, b + 1);
        if (a == std::string::npos || b == std::string::npos || c == std::string::npos) continue;
        leftover.push_back(Saved{line.substr(0, a), line[a + 1] == '1', line[b + 1] == '1',
                                 line.substr(c + 1)});
    }
    Restore(leftover);
    DeleteFileA(backupFile_.c_str());
}

BrowserStandIn::~BrowserStandIn() {
    TakeRecords();
    Restore(saved_);
    DeleteFileA(backupFile_.c_str());
    DeleteFileA(recordFile_.c_str());
    SetEnvironmentVariableA("KORVANE_RECORDER_FILE", nullptr);
}

void BrowserStandIn::Restore(const std::vector<Saved>& saved) {
    for (auto it = saved.rbegin(); it != saved.rend(); ++it) {
        if (!it->existed) {
            DeleteKeyTree(HKEY_CLASSES_ROOT, it->key);
            continue;
        }
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CLASSES_ROOT, it->key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &key, nullptr) != ERROR_SUCCESS)
            continue;
        if (it->hadValue)
            RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(it->value.c_str()),
                           static_cast<DWORD>(it->value.size() + 1));
        else
            RegDeleteValueA(key, nullptr);
        RegCloseKey(key);
    }
}

void BrowserStandIn::WriteBackup() const {
    std::string text;
    for (const Saved& saved : saved_)
        text += saved.key + kBackupSeparator + (saved.existed ? '1' : '0') + kBackupSeparator +
                (saved.hadValue ? '1' : '0') + kBackupSeparator + saved.value + '\n';
    WriteFileBytes(backupFile_, text);
}

std::string BrowserStandIn::QuotedRecorder() const {
    return "\"" + ProgramDirectory() + kRecorderName + "\"";
}

void BrowserStandIn::Remember(const std::string& key) {
    for (const Saved& saved : saved_)
        if (_stricmp(saved.key.c_str(), key.c_str()) == 0) return;
    Saved saved{key, KeyExists(HKEY_CLASSES_ROOT, key), false, std::string()};
    if (saved.existed) {
        RawValue value = ReadRawValue(HKEY_CLASSES_ROOT, key, "");
        if (value.present && value.type == REG_SZ) {
            saved.hadValue = true;
            saved.value = std::string(value.bytes.c_str());
        }
    }
    saved_.push_back(saved);
    WriteBackup();
}

void BrowserStandIn::SetClassesValue(const std::string& key, const char* value) {
    // The class's own key first: one that did not exist goes whole at the end.
    Remember(key.substr(0, key.find('\\')));
    Remember(key);
    if (!value) {
        DeleteKeyTree(HKEY_CLASSES_ROOT, key);
        return;
    }
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &handle, nullptr) != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot create HKCR\\" << key;
        return;
    }
    RegSetValueExA(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>(std::strlen(value) + 1));
    RegCloseKey(handle);
}

std::vector<std::string> BrowserStandIn::TakeRecords() {
    const DWORD start = GetTickCount();
    while (RecorderRunning() && GetTickCount() - start < 30000) Sleep(20);
    std::string bytes = ReadFileBytes(recordFile_);
    DeleteFileA(recordFile_.c_str());
    std::vector<std::string> records;
    size_t begin = 0;
    for (size_t end; (end = bytes.find('\n', begin)) != std::string::npos; begin = end + 1)
        records.push_back(bytes.substr(begin, end - begin));
    return records;
}

}  // namespace korvane::test
