// The switches that every process with the library loaded sees at once, and
// the process-local globals that several subsystems share.
#pragma once

#include <windows.h>

#include <cstddef>

#include "base/ansi_string.h"

namespace korvane {

// A window or hook handle in a block that 32- and 64-bit processes share.
// 64-bit Windows keeps such handles significant in their low 32 bits for
// exactly this: a 64-bit process stores one truncated and reads one back
// sign-extended, and the block has one layout in both.
template <typename Handle>
struct SharedHandle {
    volatile LONG value;
    operator Handle() const noexcept { return static_cast<Handle>(LongToHandle(value)); }
    SharedHandle& operator=(Handle handle) noexcept {
        value = HandleToLong(handle);
        return *this;
    }
};

// One block per logon session: every process of the session that has the
// library loaded sees the same copy, and processes of other sessions (other
// users on the same machine, fast user switching, Terminal Services) have
// their own. It starts from the initial values whenever no process of the
// session has it. Every switch is changed by a single store of a whole
// field, hence volatile: another process may change any field at any time,
// and each read must go to memory. Processes at medium integrity and above
// read and write it; a low one (Protected Mode) may only read it, and keeps
// a copy of its own (see SessionSwitches below).
struct SharedState {
    SharedHandle<HHOOK> keyboardHook; // global keyboard hook, set by the first instance
    volatile BYTE trayIconSynced;     // 0: the next browser event re-applies the tray state
    volatile LONG popupsAllowed;      // non-zero: blocking switched off
    volatile LONG trayIconHidden;     // non-zero: the user hid the tray icon
    volatile LONG popupOverride;      // non-zero: new windows are let through
    volatile BYTE soundOn;
    volatile BYTE flashOn;
    volatile BYTE soundIsBeep;        // 1: speaker beep, 0: the wave file
    volatile BYTE blockBannerAds;
    // Processes at medium integrity or above that have the library loaded
    // (a killed one stays counted while the block lives; a low one may not
    // count itself). The session's first process is the one that made the
    // block; who owns the hook is decided elsewhere.
    volatile LONG instanceCount;
    volatile LONG helperActive;       // program-wide on switch, cleared by the tray menu's Exit
    // The process and thread that hold the keyboard hook, for tests and
    // diagnostics; 0 while no thread has held it. Who owns the hook is
    // decided by a named mutex that the owning thread holds until it ends
    // (see module/hook_owner.h), never by these: a thread or process that
    // dies leaves them behind.
    volatile DWORD hookOwnerProcess;
    volatile DWORD hookOwnerThread;
    // The hidden tray window that shows the session's icon, for the other
    // processes to send what changes the icon to. Which window that is is
    // decided by a named mutex its thread holds (tray/tray_icon.h); this
    // only says where it is. Only the tray's own messages, which carry
    // nothing but small numbers, are sent there, and only once the window is
    // known for one of this library's tray windows: where there is no
    // private namespace, a low process could have written the block.
    SharedHandle<HWND> trayIconWindow;
    // Counts the saves of the white list and of the wave file's setting.
    // Processes that leave the saving to the broker read both, and follow
    // a save by reading them again when the count has moved.
    volatile LONG savedChanges;
};

// The layout is part of the module's contract with other processes, of
// either bitness (and with the tests that inspect it from outside), so it
// is pinned here, the same for both.
static_assert(offsetof(SharedState, keyboardHook) == 0, "layout");
static_assert(offsetof(SharedState, trayIconSynced) == 4, "layout");
static_assert(offsetof(SharedState, popupsAllowed) == 8, "layout");
static_assert(offsetof(SharedState, trayIconHidden) == 12, "layout");
static_assert(offsetof(SharedState, popupOverride) == 16, "layout");
static_assert(offsetof(SharedState, soundOn) == 20, "layout");
static_assert(offsetof(SharedState, flashOn) == 21, "layout");
static_assert(offsetof(SharedState, soundIsBeep) == 22, "layout");
static_assert(offsetof(SharedState, blockBannerAds) == 23, "layout");
static_assert(offsetof(SharedState, instanceCount) == 24, "layout");
static_assert(offsetof(SharedState, helperActive) == 28, "layout");
static_assert(offsetof(SharedState, hookOwnerProcess) == 32, "layout");
static_assert(offsetof(SharedState, hookOwnerThread) == 36, "layout");
static_assert(offsetof(SharedState, trayIconWindow) == 40, "layout");
static_assert(offsetof(SharedState, savedChanges) == 44, "layout");
static_assert(sizeof(SharedState) == 48, "layout");

// Where the process's code finds the switches. Until the process's attach
// has opened the session's block (and in test programs, which link the
// library's code without loading the DLL) it refers to a block of the
// process's own that holds the initial values.
class SharedStateHandle {
public:
    constexpr explicit SharedStateHandle(SharedState* block) noexcept : block_(block) {}
    SharedState* operator->() const noexcept { return block_; }
    operator SharedState&() const noexcept { return *block_; }
    SharedStateHandle& operator=(const SharedState& values) noexcept;
    SharedState* get() const noexcept { return block_; }

    // From now on the switches are those of block (never null).
    void Bind(SharedState* block) noexcept { block_ = block; }

private:
    SharedState* block_;
};

extern SharedStateHandle sharedState;

// Named objects of one logon session are made in its private namespace
// where the system has one (state/session_namespace.h), else in the
// session's own, "Local\".
constexpr char kSessionObjectPrefix[] = "Local\\";
constexpr char kSharedStateObjectName[] = "Korvane.SharedState";

// A test cannot start a second logon session. A process whose environment
// holds this variable, with a value that names a prefix inside the
// session's namespace ("Local\\" and a name without further backslashes),
// has its session objects carry that prefix instead, and so stands for a
// process of another session. Only the process itself can choose it, and
// it reaches nothing outside the session.
constexpr char kSessionPrefixVariable[] = "KORVANE_SESSION_PREFIX";
constexpr size_t kSessionPrefixSize = 32;
// The prefix a process uses, given that variable's value (null or empty
// when it is not set).
const char* SessionObjectPrefixFor(const char* environmentValue) noexcept;

// Sets the prefix that tells this session from others (at attach, before
// any named object is made).
void SetSessionObjectPrefix(const char* prefix) noexcept;
// The name of a session object: in the private namespace "Korvane\\" +
// name, else prefix + name; empty while the private namespace is not made
// yet, or when there is no memory for it.
AnsiString SessionObjectName(const char* name);
// The prefix itself ("Local\\" unless a test chose another).
const char* SessionObjectPrefix() noexcept;

// The text form of the process user's SID ("S-1-5-21-..."), or empty.
AnsiString UserSidText();

// Who besides the user and the system may do what with a session object.
// Every object's list admits the user and the system alone; the mandatory
// label decides what a process of the user at low integrity (a browser in
// Protected Mode) may do (systems without integrity levels ignore it).
enum class SessionAccess {
    LowWrites,  // the broker's pipe, the session's log: a low process writes them
    LowReads,   // the switches, the private namespace: a low process may read only
    LowNone,    // the owners' and the broker's mutexes: a low process may not even wait on them
};
// The security a session object is made with. Null (the default security)
// where the system cannot describe that.
SECURITY_ATTRIBUTES* SessionObjectSecurity(SessionAccess access) noexcept;

// Binds sharedState to the session's block, and says how.
enum class SessionSwitches {
    None,      // no block: not there yet for a low process, or not open to
               // this one (another account's, or a name taken by another
               // object); the process goes on with switches of its own
    Shared,    // the block itself, read and written
    ReadOnly,  // a low process: a copy of the block, refreshed from it
};
// A process at medium integrity or above (mayCreate) opens the session's
// block or creates it with the initial values (*created is then set); a low
// one only opens what such a process made, for reading. Never waits: a
// block opened while its creator still fills it shows its values a moment
// later. Once bound, stays bound for the life of the process.
SessionSwitches MapSessionSharedState(bool mayCreate, bool* created);
// How the process is bound (None before MapSessionSharedState).
SessionSwitches CurrentSessionSwitches() noexcept;
// In a low process bound ReadOnly: takes the block's current values into
// the process's copy, all but what the process keeps for itself (the
// override of its own Ctrl and Shift and of its pages, and whether it
// synchronised its tray). Elsewhere does nothing.
void RefreshSharedState() noexcept;

// The values sharedState holds when the first process maps it.
SharedState InitialSharedState() noexcept;

// Path and text buffers of the platform's classic size.
constexpr size_t kPathBufferSize = MAX_PATH;

// Process-local globals.
extern HINSTANCE moduleInstance;
// The tray icon's two images. Null until first needed: most processes that
// load the library (every program the keyboard hook reaches) never show
// an icon, so they are loaded by BlockingIcon() and AllowingIcon().
extern HICON volatile iconBlocking;   // shown while popups are blocked
extern HICON volatile iconAllowing;   // shown while popups are allowed
// The images, loaded from moduleInstance the first time they are asked
// for. LoadIconA hands out the same shared handle on every call, so two
// threads that load one at the same time get the same icon.
HICON BlockingIcon() noexcept;
HICON AllowingIcon() noexcept;
extern HWND volatile logListBox;  // list box of the open Blocked Popups dialog, or null

// soundFilePath is written by the notification dialog's thread and read by
// browser threads when a popup is blocked; both go through these so neither
// ever sees half a path. The stored "File" is read the first time the path
// is asked for (a process that blocks nothing never reads it), unless a
// path was set before.
void SetSoundFilePath(const char* path) noexcept;
// Copies the path into buffer (at most size-1 bytes, always terminated).
void GetSoundFilePath(char* buffer, size_t size) noexcept;
bool HasSoundFilePath() noexcept;
// Has the next use read "File" again (another process stored a new one).
void ReadSoundFilePathAgain() noexcept;

}  // namespace korvane
