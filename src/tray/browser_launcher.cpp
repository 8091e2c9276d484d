#include "tray/browser_launcher.h"

#include <windows.h>
#include <shellapi.h>

#include <cstring>

#include "base/system_library.h"
#include "base/unique_resource.h"
#include "state/shared_state.h"

namespace korvane {
namespace {

constexpr char kOpenCommandSuffix[] = "\\shell\\open\\command";

// Loaded when an address is first opened; without it the registered
// program is started instead.
SystemLibrary shell32("shell32.dll");

// Longer addresses are not handed to the shell: shells have been seen to
// overflow fixed buffers with them (Wine's breaks near 1,000 characters),
// while the registered program takes an address of any length.
constexpr size_t kLongestShellAddress = 2 * kPathBufferSize;

// The default value of a key under HKEY_CLASSES_ROOT, read as the classic
// 260-byte string. False when the key cannot be opened or the value cannot
// be read (missing, or too long for the buffer).
bool ReadClassesDefault(const char* subKey, AnsiString* value) {
    UniqueHkey key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, subKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return false;
    char buffer[kPathBufferSize] = {};
    LONG size = sizeof buffer;
    if (RegQueryValueA(key.get(), nullptr, buffer, &size) != ERROR_SUCCESS) return false;
    *value = AnsiString(buffer, strnlen(buffer, sizeof buffer - 1));
    return true;
}

// Starts the command line as a new process with its window shown normally,
// as a browser the user asked for should be.
void StartProcess(AnsiString commandLine) {
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof process);
    // CreateProcessA may write into the command line: it gets its own copy.
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return;
    UniqueHandle thread(process.hThread);
    UniqueHandle child(process.hProcess);
}

}  // namespace

void BrowserLauncher::OpenUrl(const char* address) {
    // A page chose this address; any other scheme may name a program, a
    // share or a script, which the shell would run for it.
    if (!IsWebAddress(address)) return;
    const AnsiString safe = WebSafeAddress(address);
    auto execute = shell32.Find<decltype(&::ShellExecuteA)>("ShellExecuteA");
    if (execute && safe.length() <= kLongestShellAddress) {
        const INT_PTR shell = reinterpret_cast<INT_PTR>(
            execute(nullptr, "open", safe.c_str(), nullptr, nullptr, SW_HIDE));
        if (shell > 32) return;
    }

    AnsiString fileClass;
    if (!ReadClassesDefault(".html", &fileClass) && !ReadClassesDefault(".htm", &fileClass))
        return;
    const AnsiString commandKey = Concatenate({fileClass, kOpenCommandSuffix});
    AnsiString command;
    if (!ReadClassesDefault(commandKey.c_str(), &command)) return;
    StartProcess(BrowserCommandLine(command.c_str(), address));
}

}  // namespace korvane
