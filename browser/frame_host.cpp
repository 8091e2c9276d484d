#include "browser/frame_host.h"

#include <cstdlib>
#include <map>

#include "base/lock.h"

namespace standin {

namespace {

constexpr wchar_t kFrameClass[] = L"IEFrame";
constexpr wchar_t kTabClass[] = L"TabWindowClass";
constexpr wchar_t kControlClass[] = L"KorvaneStandinFrameHost";
constexpr wchar_t kHostProgram[] = L"korvane_frame_host.exe";

// Messages to the host's control window. Sent, so that each returns the
// host's answer; only numbers and window handles travel, which is what
// crosses a process boundary unchanged.
constexpr UINT kHostCreateFrame = WM_APP + 20;   // wParam: number; answers the frame
constexpr UINT kHostDestroyFrame = WM_APP + 21;  // lParam: the frame
constexpr UINT kHostFrameState = WM_APP + 22;    // lParam: the frame; answers kFrame* bits
constexpr UINT kHostQuit = WM_APP + 23;
constexpr DWORD kHostTimeoutMs = 10000;

LRESULT CALLBACK FrameWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* owner = reinterpret_cast<FrameWindowOwner*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (owner) {
            switch (message) {
            case WM_CLOSE:
                // Closing goes through the browser's own path.
                owner->OnFrameClose();
                return 0;
            case WM_SHOWWINDOW:
                if (!wParam && !owner->ownChange) owner->OnFrameHidden();
                break;
            case WM_WINDOWPOSCHANGED:
                if ((reinterpret_cast<WINDOWPOS*>(lParam)->flags & SWP_HIDEWINDOW) && !owner->ownChange)
                    owner->OnFrameHidden();
                break;
            case WM_DESTROY:
                SetWindowLongPtrW(window, GWLP_USERDATA, 0);
                owner->OnFrameGone(!owner->ownChange);
                break;
            default:
                break;
            }
        }
    } catch (...) {
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterFrameClass() {
    static bool registered = false;
    static korvane::CriticalSection lock;
    korvane::ScopedLock hold(lock);
    if (registered) return true;
    WNDCLASSEXW frame{};
    frame.cbSize = sizeof frame;
    frame.lpfnWndProc = FrameWindowProc;
    frame.hInstance = GetModuleHandleW(nullptr);
    frame.hCursor = LoadCursor(nullptr, IDC_ARROW);
    frame.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    frame.lpszClassName = kFrameClass;
    if (!RegisterClassExW(&frame) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    WNDCLASSEXW tab = frame;
    tab.lpszClassName = kTabClass;
    if (!RegisterClassExW(&tab) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    registered = true;
    return true;
}

// --- The host -----------------------------------------------------------------

struct HostFrame final : FrameWindowOwner {
    void OnFrameGone(bool outside) override {
        gone = true;
        destroyedOutside = destroyedOutside || outside;
    }
    void OnFrameHidden() override { hiddenOutside = true; }
    HWND hwnd = nullptr;
    bool gone = false;
    bool hiddenOutside = false;
    bool destroyedOutside = false;
};

struct Host {
    std::map<HWND, std::unique_ptr<HostFrame>> frames;
};

LRESULT CALLBACK ControlWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* host = reinterpret_cast<Host*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (host && message == kHostCreateFrame) {
            std::unique_ptr<HostFrame> frame(new HostFrame());
            frame->hwnd = CreateFrameWindow(static_cast<int>(wParam), frame.get());
            if (!frame->hwnd) return 0;
            const HWND made = frame->hwnd;
            host->frames[made] = std::move(frame);
            return reinterpret_cast<LRESULT>(made);
        }
        if (host && (message == kHostDestroyFrame || message == kHostFrameState)) {
            const auto found = host->frames.find(reinterpret_cast<HWND>(lParam));
            if (found == host->frames.end()) return 0;
            HostFrame& frame = *found->second;
            if (message == kHostDestroyFrame) {
                if (!frame.gone) {
                    frame.ownChange = true;
                    DestroyWindow(frame.hwnd);
                    frame.ownChange = false;
                }
                return 0;
            }
            LRESULT state = 0;
            if (!frame.gone) state |= kFrameExists;
            if (!frame.gone && IsWindowVisible(frame.hwnd)) state |= kFrameVisible;
            if (frame.hiddenOutside) state |= kFrameHiddenOutside;
            if (frame.destroyedOutside) state |= kFrameDestroyedOutside;
            return state;
        }
        if (message == kHostQuit) {
            PostQuitMessage(0);
            return 0;
        }
    } catch (...) {
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

HWND CreateFrameWindow(int number, FrameWindowOwner* owner) {
    if (!RegisterFrameClass()) return nullptr;
    const std::wstring title = L"Korvane browser stand-in w" + std::to_wstring(number);
    const int offset = 30 * ((number - 1) % 10);
    // Shown without activation, so that a new window does not take the
    // keyboard focus from the window a key is being pressed in.
    HWND frame = CreateWindowExW(0, kFrameClass, title.c_str(), WS_POPUP | WS_BORDER | WS_CLIPCHILDREN,
                                 40 + offset, 40 + offset, 480, 360, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), owner);
    if (frame) ShowWindow(frame, SW_SHOWNOACTIVATE);
    return frame;
}

HWND CreateTabWindow(HWND frame, int number, FrameWindowOwner* owner) {
    if (!RegisterFrameClass()) return nullptr;
    const std::wstring title = L"Korvane browser stand-in tab w" + std::to_wstring(number);
    RECT area{0, 0, 480, 360};
    GetClientRect(frame, &area);
    // Hidden until the frame shows it: only the active tab's window is.
    return CreateWindowExW(0, kTabClass, title.c_str(), WS_CHILD | WS_CLIPSIBLINGS, 0, 0, area.right,
                           area.bottom, frame, nullptr, GetModuleHandleW(nullptr), owner);
}

int RunFrameHost(HANDLE parent, const std::function<void(HWND control)>& ready) {
    WNDCLASSEXW control{};
    control.cbSize = sizeof control;
    control.lpfnWndProc = ControlWindowProc;
    control.hInstance = GetModuleHandleW(nullptr);
    control.lpszClassName = kControlClass;
    if (!RegisterClassExW(&control) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        ready(nullptr);
        return 1;
    }
    Host host;
    HWND window = CreateWindowExW(0, kControlClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), &host);
    ready(window);
    if (!window) return 1;
    for (bool quit = false; !quit;) {
        const DWORD woke = MsgWaitForMultipleObjects(parent ? 1 : 0, &parent, FALSE, INFINITE, QS_ALLINPUT);
        if (parent && woke == WAIT_OBJECT_0) break;  // the session's process ended
        MSG msg;
        while (!quit && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                break;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    for (auto& frame : host.frames) {
        if (frame.second->gone) continue;
        frame.second->ownChange = true;
        DestroyWindow(frame.second->hwnd);
    }
    DestroyWindow(window);
    return 0;
}

std::unique_ptr<FrameHost> FrameHost::Start(std::string* error) {
    std::unique_ptr<FrameHost> host(new FrameHost());
    // korvane_frame_host.exe <session process id>: it prints its control
    // window's handle on a line of its own, then serves until told to quit
    // or until this process ends.
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring program(self, length < MAX_PATH ? length : 0);
    program = program.substr(0, program.find_last_of(L"\\/") + 1) + kHostProgram;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, 0)) {
        *error = "no pipe for the frame windows' process";
        return nullptr;
    }
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = write;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::wstring command = L"\"" + program + L"\" " + std::to_wstring(GetCurrentProcessId());
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    CloseHandle(write);
    if (!started) {
        CloseHandle(read);
        *error = "korvane_frame_host.exe could not be started beside this program";
        return nullptr;
    }
    CloseHandle(process.hThread);
    host->waitable_ = process.hProcess;
    host->processId_ = process.dwProcessId;
    std::string line;
    char c = 0;
    DWORD got = 0;
    while (line.size() < 32 && ReadFile(read, &c, 1, &got, nullptr) && got == 1 && c != '\n') line += c;
    CloseHandle(read);
    host->control_ = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(strtoul(line.c_str(), nullptr, 10)));
    if (!host->control_ || !IsWindow(host->control_)) {
        *error = "korvane_frame_host.exe did not answer";
        return nullptr;  // the destructor ends it
    }
    return host;
}

FrameHost::~FrameHost() {
    DWORD_PTR ignored = 0;
    if (control_) SendMessageTimeoutW(control_, kHostQuit, 0, 0, SMTO_ABORTIFHUNG, kHostTimeoutMs, &ignored);
    if (!waitable_) return;
    if (WaitForSingleObject(waitable_, kHostTimeoutMs) != WAIT_OBJECT_0)
        TerminateProcess(waitable_, 1);  // the host this session started, by its handle
    CloseHandle(waitable_);
}

HWND FrameHost::CreateFrame(int number) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(control_, kHostCreateFrame, static_cast<WPARAM>(number), 0, SMTO_NORMAL,
                             kHostTimeoutMs, &answer))
        return nullptr;
    return reinterpret_cast<HWND>(answer);
}

void FrameHost::DestroyFrame(HWND frame) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(control_, kHostDestroyFrame, 0, reinterpret_cast<LPARAM>(frame), SMTO_NORMAL,
                        kHostTimeoutMs, &ignored);
}

LRESULT FrameHost::State(HWND frame) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(control_, kHostFrameState, 0, reinterpret_cast<LPARAM>(frame), SMTO_NORMAL,
                             kHostTimeoutMs, &answer))
        return 0;
    return static_cast<LRESULT>(answer);
}

}  // namespace standin
