// Stands in for a browser in the launcher's tests: registered as the open
// command of HTML files and of the http protocol, it appends the exact
// command line it was started with to the file named by the environment
// variable KORVANE_RECORDER_FILE, one record per line.
#include <windows.h>

#include <cstring>

int main() {
    char path[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("KORVANE_RECORDER_FILE", path, sizeof path)) return 1;
    const char* line = GetCommandLineA();
    // Several recorders may run at once: take turns on the file.
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 500 && file == INVALID_HANDLE_VALUE; ++attempt) {
        file = CreateFileA(path, FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) Sleep(10);
    }
    if (file == INVALID_HANDLE_VALUE) return 2;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    WriteFile(file, "\n", 1, &written, nullptr);
    CloseHandle(file);
    return 0;
}
