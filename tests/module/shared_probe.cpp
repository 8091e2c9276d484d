// Loads Korvane.dll and works on its shared switches from the command line,
// so that tests can set processes against each other:
//
//   korvane_shared_probe <dll> [--on-thread] command...
//     --on-thread          load the DLL on a thread that then ends
//     set FIELD VALUE      store VALUE into the switch
//     expect FIELD VALUE   fail (exit 1) unless the switch holds VALUE
//     nonzero FIELD        fail (exit 1) unless the switch is not 0
//     signal NAME          set the named event NAME
//     wait NAME            wait (at most 30 s) for the named event NAME,
//                          handling this thread's window messages meanwhile
//     not-loaded DLL       fail unless the DLL named is not loaded
//     event                one browser event to a new helper, on this thread
//     owner-here           fail unless this thread owns the keyboard hook
//     tray-here            fail unless the DLL's tray window is on this thread
//     waits N              fail unless the DLL's attach made N waits that
//                          could take time (its export KorvaneAttachWaits)
//
// Exit codes: 0 all expectations held, 1 an expectation failed, 2 the DLL
// could not be loaded or has no shared section, 3 bad usage.
#include <windows.h>
#include <exdispid.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "korvane_idl.h"
#include "support/test_support.h"

using korvane::SharedState;

namespace {

struct Field {
    const char* name;
    size_t offset;
    size_t width;
};

const Field kFields[] = {
    {"keyboardHook", offsetof(SharedState, keyboardHook), 4},
    {"trayIconSynced", offsetof(SharedState, trayIconSynced), 1},
    {"popupsAllowed", offsetof(SharedState, popupsAllowed), 4},
    {"trayIconHidden", offsetof(SharedState, trayIconHidden), 4},
    {"popupOverride", offsetof(SharedState, popupOverride), 4},
    {"soundOn", offsetof(SharedState, soundOn), 1},
    {"flashOn", offsetof(SharedState, flashOn), 1},
    {"soundIsBeep", offsetof(SharedState, soundIsBeep), 1},
    {"blockBannerAds", offsetof(SharedState, blockBannerAds), 1},
    {"instanceCount", offsetof(SharedState, instanceCount), 4},
    {"helperActive", offsetof(SharedState, helperActive), 4},
    {"hookOwnerProcess", offsetof(SharedState, hookOwnerProcess), 4},
    {"hookOwnerThread", offsetof(SharedState, hookOwnerThread), 4},
};

const Field* FindField(const char* name) {
    for (const Field& field : kFields)
        if (std::strcmp(field.name, name) == 0) return &field;
    return nullptr;
}

long Read(const SharedState* state, const Field& field) {
    const volatile BYTE* at = reinterpret_cast<const volatile BYTE*>(state) + field.offset;
    if (field.width == 1) return *at;
    return *reinterpret_cast<const volatile LONG*>(at);
}

void Write(SharedState* state, const Field& field, long value) {
    volatile BYTE* at = reinterpret_cast<volatile BYTE*>(state) + field.offset;
    if (field.width == 1)
        *at = static_cast<BYTE>(value);
    else
        *reinterpret_cast<volatile LONG*>(at) = value;
}

HANDLE NamedEvent(const char* name) { return CreateEventA(nullptr, TRUE, FALSE, name); }

DWORD WINAPI LoadOnThread(void* path) {
    return LoadLibraryA(static_cast<const char*>(path)) ? 0 : 1;
}

// What the browser does for a new window, then one event it fires.
bool BrowserEvent(HMODULE dll) {
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void (*)()>(GetProcAddress(dll, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    IDispatch* events = nullptr;
    if (!get || FAILED(get(CLSID_ViewSource, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) return false;
    factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&events));
    factory->Release();
    if (!events) return false;
    DISPPARAMS none{};
    const HRESULT result = events->Invoke(DISPID_STATUSTEXTCHANGE, IID_NULL, 0, DISPATCH_METHOD,
                                          &none, nullptr, nullptr, nullptr);
    events->Release();
    return SUCCEEDED(result);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 3;
    const bool onThread = argc > 2 && !std::strcmp(argv[2], "--on-thread");
    if (onThread) {
        HANDLE thread = CreateThread(nullptr, 0, LoadOnThread, argv[1], 0, nullptr);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    } else {
        LoadLibraryA(argv[1]);
    }
    HMODULE dll = GetModuleHandleA(argv[1]);
    if (!dll) {
        std::printf("probe: cannot load %s (error %lu)\n", argv[1], GetLastError());
        return 2;
    }
    const int first = onThread ? 3 : 2;
    // The block of the session the DLL took this process for.
    char prefix[korvane::kSessionPrefixSize] = {};
    const DWORD length = GetEnvironmentVariableA(korvane::kSessionPrefixVariable, prefix, sizeof prefix);
    SharedState* state = korvane::test::FindSharedState(
        dll, korvane::SessionObjectPrefixFor(length < sizeof prefix ? prefix : ""));
    if (!state) return 2;

    int status = 0;
    for (int i = first; i < argc; ++i) {
        const char* command = argv[i];
        if ((!std::strcmp(command, "set") || !std::strcmp(command, "expect")) && i + 2 < argc) {
            const Field* field = FindField(argv[i + 1]);
            if (!field) return 3;
            const long value = std::strtol(argv[i + 2], nullptr, 0);
            if (command[0] == 's') {
                Write(state, *field, value);
            } else if (Read(state, *field) != value) {
                std::printf("probe %lu: %s is %ld, expected %ld\n", GetCurrentProcessId(),
                            field->name, Read(state, *field), value);
                status = 1;
            }
            i += 2;
        } else if (!std::strcmp(command, "nonzero") && i + 1 < argc) {
            const Field* field = FindField(argv[++i]);
            if (!field) return 3;
            if (Read(state, *field) == 0) {
                std::printf("probe %lu: %s is 0\n", GetCurrentProcessId(), field->name);
                status = 1;
            }
        } else if (!std::strcmp(command, "signal") && i + 1 < argc) {
            HANDLE event = NamedEvent(argv[++i]);
            SetEvent(event);
            CloseHandle(event);
        } else if (!std::strcmp(command, "wait") && i + 1 < argc) {
            HANDLE event = NamedEvent(argv[++i]);
            const bool set = korvane::test::WaitUntil(
                [event] { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }, 30000);
            CloseHandle(event);
            if (!set) return 3;
        } else if (!std::strcmp(command, "not-loaded") && i + 1 < argc) {
            if (GetModuleHandleA(argv[++i])) {
                std::printf("probe: %s is loaded\n", argv[i]);
                status = 1;
            }
        } else if (!std::strcmp(command, "event")) {
            if (!BrowserEvent(dll)) status = 1;
        } else if (!std::strcmp(command, "owner-here")) {
            if (state->hookOwnerProcess != GetCurrentProcessId() ||
                state->hookOwnerThread != GetCurrentThreadId() || !state->keyboardHook) {
                std::printf("probe: the hook is owned by %lu/%lu\n", state->hookOwnerProcess,
                            state->hookOwnerThread);
                status = 1;
            }
        } else if (!std::strcmp(command, "waits") && i + 1 < argc) {
            using Waits = LONG(WINAPI*)();
            const auto waits = reinterpret_cast<Waits>(
                reinterpret_cast<void (*)()>(GetProcAddress(dll, "KorvaneAttachWaits")));
            const long expected = std::strtol(argv[++i], nullptr, 0);
            if (!waits || waits() != expected) {
                std::printf("probe: attach made %ld waits\n", waits ? static_cast<long>(waits()) : -1L);
                status = 1;
            }
        } else if (!std::strcmp(command, "tray-here")) {
            HWND tray = FindWindowA("TrayIconClass", nullptr);
            while (tray && GetWindowThreadProcessId(tray, nullptr) != GetCurrentThreadId())
                tray = FindWindowExA(nullptr, tray, "TrayIconClass", nullptr);
            if (!tray) status = 1;
        } else {
            return 3;
        }
    }
    std::fflush(stdout);
    FreeLibrary(dll);
    return status;
}
