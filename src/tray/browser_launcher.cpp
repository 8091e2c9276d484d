#include "tray/browser_launcher.h"

#include <windows.h>
#include <shellapi.h>

#include <cstring>

#include "base/unique_resource.h"
#include "module/shared_state.h"

namespace korvane {
namespace {

constexpr char kOpenCommandSuffix[] = "\\shell\\open\\command";

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

// The address with every byte that could end or split an argument on a
// command line percent-escaped: white space and control characters, double
// quotes, and the backslashes directly before its end (before a closing
// quote they would escape it). Browsers read the escapes as the same
// address; the shell puts the address into the command registered for its
// scheme, which may not quote it.
AnsiString WebSafeAddress(const char* address) {
    const size_t length = std::strlen(address);
    size_t trailing = 0;
    while (trailing < length && address[length - 1 - trailing] == '\\') ++trailing;
    auto escaped = [&](size_t i) {
        const unsigned char c = static_cast<unsigned char>(address[i]);
        return c <= ' ' || c == 0x7F || c == '"' || i >= length - trailing;
    };
    size_t extra = 0;
    for (size_t i = 0; i < length; ++i)
        if (escaped(i)) extra += 2;
    static const char kHex[] = "0123456789ABCDEF";
    AnsiString result;
    result.Allocate(length + extra);
    char* out = result.data();
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(address[i]);
        if (!escaped(i)) {
            *out++ = static_cast<char>(c);
            continue;
        }
        *out++ = '%';
        *out++ = kHex[c >> 4];
        *out++ = kHex[c & 15];
    }
    result.Truncate(length + extra);
    return result;
}

AnsiString Concatenate(const char* first, size_t firstLength, const char* second,
                       size_t secondLength, const char* third, size_t thirdLength) {
    AnsiString result;
    result.Allocate(firstLength + secondLength + thirdLength);
    char* out = result.data();
    std::memcpy(out, first, firstLength);
    std::memcpy(out + firstLength, second, secondLength);
    std::memcpy(out + firstLength + secondLength, third, thirdLength);
    return result;
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

AnsiString BrowserCommandLine(const char* registeredCommand, const char* address) {
    if (!registeredCommand) registeredCommand = "";
    if (!address) address = "";
    size_t keep = std::strlen(registeredCommand);
    if (const char* quoted = std::strstr(registeredCommand, "\"%1\"")) {
        keep = static_cast<size_t>(quoted - registeredCommand);
    } else if (const char* bare = std::strstr(registeredCommand, "%1")) {
        keep = static_cast<size_t>(bare - registeredCommand);
    }
    const AnsiString safe = WebSafeAddress(address);
    const AnsiString quoted = Concatenate("\"", 1, safe.c_str(), safe.length(), "\"", 1);
    return Concatenate(registeredCommand, keep, " ", 1, quoted.c_str(), quoted.length());
}

bool IsWebAddress(const char* address) {
    if (!address) return false;
    return _strnicmp(address, "http://", 7) == 0 || _strnicmp(address, "https://", 8) == 0;
}

void BrowserLauncher::OpenUrl(const char* address) {
    // A page chose this address; any other scheme may name a program, a
    // share or a script, which the shell would run for it.
    if (!IsWebAddress(address)) return;
    const AnsiString safe = WebSafeAddress(address);
    if (safe.length() <= kLongestShellAddress) {
        const INT_PTR shell = reinterpret_cast<INT_PTR>(
            ShellExecuteA(nullptr, "open", safe.c_str(), nullptr, nullptr, SW_HIDE));
        if (shell > 32) return;
    }

    AnsiString fileClass;
    if (!ReadClassesDefault(".html", &fileClass) && !ReadClassesDefault(".htm", &fileClass))
        return;
    const AnsiString commandKey =
        Concatenate(fileClass.c_str(), fileClass.length(), kOpenCommandSuffix,
                    sizeof kOpenCommandSuffix - 1, "", 0);
    AnsiString command;
    if (!ReadClassesDefault(commandKey.c_str(), &command)) return;
    StartProcess(BrowserCommandLine(command.c_str(), address));
}

}  // namespace korvane
