// Loads Korvane.dll and works on its shared switches from the command line,
// so that tests can set processes against each other:
//
//   korvane_shared_probe <dll> command...
//     set FIELD VALUE      store VALUE into the switch
//     expect FIELD VALUE   fail (exit 1) unless the switch holds VALUE
//     nonzero FIELD        fail (exit 1) unless the switch is not 0
//     signal NAME          set the named event NAME
//     wait NAME            wait (at most 30 s) for the named event NAME
//
// Exit codes: 0 all expectations held, 1 an expectation failed, 2 the DLL
// could not be loaded or has no shared section, 3 bad usage.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 3;
    HMODULE dll = LoadLibraryA(argv[1]);
    if (!dll) {
        std::printf("probe: cannot load %s (error %lu)\n", argv[1], GetLastError());
        return 2;
    }
    const int first = 2;
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
            const DWORD result = WaitForSingleObject(event, 30000);
            CloseHandle(event);
            if (result != WAIT_OBJECT_0) return 3;
        } else {
            return 3;
        }
    }
    std::fflush(stdout);
    FreeLibrary(dll);
    return status;
}
