// A "winmm.dll" as someone might put one beside Korvane.dll: if any program
// loads it, it leaves a file beside itself saying so. It exports what
// Korvane.dll once imported from winmm, so a library that still imported it
// would load and run, and the test could show the module list.
#include <windows.h>

#include <cstring>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char path[MAX_PATH + 16] = {};
    const DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return TRUE;
    std::memcpy(path + length, ".ran", 5);
    HANDLE trace = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (trace != INVALID_HANDLE_VALUE) CloseHandle(trace);
    return TRUE;
}

extern "C" BOOL WINAPI PlaySoundA(LPCSTR, HMODULE, DWORD) { return TRUE; }
