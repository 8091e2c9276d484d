// Helpers shared by the test programs: paths of the build, temporary
// folders, child processes, raw registry access, message pumping, and a
// view of the shared switches inside a loaded Korvane.dll.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "state/shared_state.h"

namespace korvane::test {

// The folder that holds the running test program, with a trailing backslash.
std::string ProgramDirectory();
// The top of the build tree (where Korvane.dll is built), trailing backslash.
std::string BuildDirectory();
std::string KorvaneDllPath();

// True when running under Wine; tests mark behaviour that differs there.
bool RunningOnWine();
// True for this 32-bit program on 64-bit Windows (WoW64).
bool RunningUnderWow64();

// A fresh folder under the system's temporary folder, removed with all its
// contents when the object goes.
class TempDirectory {
public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    // With a trailing backslash.
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

void RemoveTree(const std::string& path);

std::string ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

// Runs a command line and waits for it; returns its exit code, or -1 when it
// could not be started or did not end within the timeout (it is then ended).
int RunProcess(const std::string& commandLine, DWORD timeoutMs = 60000);

// A started child process; ended by force if still running when destroyed.
class ChildProcess {
public:
    explicit ChildProcess(const std::string& commandLine);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    bool started() const { return process_ != nullptr; }
    DWORD id() const { return id_; }
    // The exit code, or -1 on timeout.
    int Wait(DWORD timeoutMs = 60000);
    // Ends it at once, as another program may (TerminateProcess), and
    // returns once it is gone.
    void Kill();

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

// A registry value as raw bytes, to check types and exact encodings.
struct RawValue {
    bool present = false;
    DWORD type = 0;
    std::string bytes;
};
// view: 0 for this program's own view of the registry, or KEY_WOW64_64KEY.
RawValue ReadRawValue(HKEY root, const std::string& key, const std::string& name, REGSAM view = 0);
// view: 0 for this program's own view of the registry, or KEY_WOW64_64KEY.
bool KeyExists(HKEY root, const std::string& key, REGSAM view = 0);
// Deletes a key and everything below it; missing keys are fine.
void DeleteKeyTree(HKEY root, const std::string& key);
void WriteDwordValue(HKEY root, const std::string& key, const std::string& name, DWORD value);

// The block of switches the DLL's processes of one session share: the
// named mapping, created with the initial values when no process has it.
// While the view is open the block is not reset, as it would be when the
// last process goes. Null when it can be neither created nor opened.
SharedState* OpenSessionSharedState(const char* prefix, HANDLE* mapping);
void CloseSessionSharedState(SharedState* state, HANDLE mapping);
// Whether a process made the block already: a view opened before the
// session's first process would make it, and that process would then not
// count as the first (it loads the stored settings only when it made it).
bool SessionSharedStateMade(const char* prefix = kSessionObjectPrefix);
// The switches of a Korvane.dll loaded in this process (null without one).
SharedState* FindSharedState(HMODULE module, const char* prefix = kSessionObjectPrefix);

// Dispatches window messages of this thread for the given time.
void PumpMessages(DWORD milliseconds);
// Pumps messages until done() is true or the timeout passes; returns done().
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);

// Runs xdotool (the X server's own input, as a user's keyboard and mouse)
// and waits until it is done.
void Xdotool(const std::string& arguments);

// Wine's own notification area on a bare X server: a stand-alone window in
// which every icon is a child window. Empty elsewhere.
std::vector<HWND> WineTrayIcons();
// The colour a little above the middle of an icon on screen.
COLORREF IconColour(HWND icon);
// The blocking icon is a red "no entry" sign, the allowing one a green tick.
bool LooksRed(COLORREF colour);
bool LooksGreen(COLORREF colour);

// The process of a broker window on this desktop other than except's; 0
// when there is none.
DWORD BrokerProcess(DWORD except = 0);
// Waits, handling this thread's messages, until a broker other than
// except's serves (its window comes last); its process, or 0. Wine's
// notification area, as a broker shows its icon, may wait for every
// program's windows: hence the messages.
DWORD WaitForBroker(DWORD except = 0, DWORD timeoutMs = 15000);
// The broker's elevation policy, as setup writes it (in this program's view
// of the registry), naming folder: a browser in Protected Mode, or acting
// as one, starts the broker only where it names the broker's folder. An
// empty folder removes it.
void SetBrokerElevationPolicy(const std::string& folder);
// What the Blocked Popups dialog of a process lists, top to bottom: opened
// from its tray window as its menu opens it, read, and closed.
std::vector<std::string> BlockedPopupsShownBy(DWORD process);
// That process's tray window, and a visible dialog of it with this title.
HWND TrayWindowOf(DWORD process);
HWND DialogOf(DWORD process, const char* title, DWORD timeoutMs = 10000);

// Writes <site>\<host>\<path>, making folders as needed.
bool WriteSitePage(const std::string& site, const std::string& hostAndPath,
                   const std::string& html);

// One row of the table of what the test run tried and what held: written
// as <build>\figures\<name>.tsv (suite, what was tried, cases, what held),
// which the scripts gather after the run.
void WriteFigure(const std::string& name, const std::string& tried, const std::string& cases,
                 const std::string& held);

// "{XXXXXXXX-...}", as the registry writes identifiers.
std::string GuidText(const GUID& guid);

// Where browser helper objects are registered.
constexpr char kHelperObjectsKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";

// Removes every key the server's registration can leave behind: both
// ProgIDs, the class, the type library, the interface and the helper object
// entry.
void PurgeProductRegistration();

}  // namespace korvane::test
