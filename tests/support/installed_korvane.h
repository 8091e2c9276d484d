// Korvane.dll as a user has it: copied into a folder of its own, registered
// with regsvr32, and loaded into the test process the way COM loads it (its
// folder searched first for what it imports) on a thread that keeps
// pumping messages, as the browser's first window thread does. The browser
// stand-in then creates the helper objects from the registry, in this
// process, so the tests can watch the DLL from outside: its shared
// switches, its tray icon in Wine's notification area, its Blocked Popups
// dialog, its white list file and the registry.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "state/shared_state.h"
#include "support/test_support.h"

namespace korvane::test {

struct InstallOptions {
    // Written as "WhiteList.txt" beside the DLL before it is loaded.
    std::vector<std::string> whiteList;
    // Stored settings the first process reads; a value of -1 leaves it unset.
    long flashSetting = 1;
    long soundSetting = 0;
    long trayIconSetting = -1;
    // Stored as "File" when not empty: the wave file a block plays.
    std::string soundFile;
    // Files copied beside the DLL before it is loaded, as {source, name}.
    std::vector<std::pair<std::string, std::string>> besideDll;
};

class InstalledKorvane {
public:
    explicit InstalledKorvane(const InstallOptions& options = InstallOptions());
    ~InstalledKorvane();
    InstalledKorvane(const InstalledKorvane&) = delete;
    InstalledKorvane& operator=(const InstalledKorvane&) = delete;

    // False when the copy could not be registered or loaded; the reason is
    // in Failure().
    bool ok() const { return shared_ != nullptr; }
    const std::string& Failure() const { return failure_; }

    SharedState& Shared() { return *shared_; }
    const std::string& Folder() const { return folder_.path(); }
    std::string DllPath() const { return folder_.File("Korvane.dll"); }
    HMODULE Module() const { return module_; }
    // The DLL's hidden tray window in this process.
    HWND TrayWindow() const;
    DWORD TrayThread() const { return trayThreadId_; }

    // What the Blocked Popups dialog lists, top to bottom: opened the way
    // the tray menu opens it, read, and closed again.
    std::vector<std::string> BlockedPopupsShown();

    // Runs work on the tray thread and waits for it.
    void RunOnTrayThread(void (*work)(void*), void* context);

private:
    void TrayThreadMain(std::string dllPath);

    TempDirectory folder_;
    std::string failure_;
    std::thread trayThread_;
    DWORD trayThreadId_ = 0;
    HMODULE module_ = nullptr;
    SharedState* shared_ = nullptr;
    HANDLE ready_ = nullptr;
};

// A view of the session's shared switches without loading the DLL, so this
// process does not count as one that has the library loaded, and the
// switches can be read and set while other processes use them. While a view
// exists the block is not reset, as it would be when the last process goes.
class SharedView {
public:
    explicit SharedView(const char* prefix = kSessionObjectPrefix);
    ~SharedView();
    SharedView(const SharedView&) = delete;
    SharedView& operator=(const SharedView&) = delete;
    bool ok() const { return state_ != nullptr; }
    SharedState* operator->() { return state_; }
    SharedState& operator*() { return *state_; }

private:
    HANDLE mapping_ = nullptr;
    SharedState* state_ = nullptr;
};

}  // namespace korvane::test
