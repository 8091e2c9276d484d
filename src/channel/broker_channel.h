// The channel between the browser processes and the broker: a message-mode
// named pipe that the broker serves and every process of the same user and
// logon session may write to, Protected Mode's low integrity included. The
// design notes (docs/design.md) say why a pipe, and not window messages.
#pragma once

#include <windows.h>

#include <cstddef>

#include "base/ansi_string.h"
#include "base/lock.h"
#include "base/unique_resource.h"
#include "channel/channel_rules.h"

namespace korvane {

// The file name of the broker program, beside Korvane.dll.
constexpr char kBrokerProgramName[] = "KorvaneBroker.exe";
// The class of the broker's own window: closing it (WM_CLOSE) ends the
// broker, as setup does before it replaces or removes the program.
constexpr char kBrokerWindowClass[] = "KorvaneBroker";
// The broker's elevation policy, which setup writes: Protected Mode starts
// the program it names silently at medium integrity (Policy 3).
constexpr char kElevationPolicyKey[] =
    "SOFTWARE\\Microsoft\\Internet Explorer\\Low Rights\\ElevationPolicy\\"
    "{9113C1F3-A190-4D31-8D36-7E2B3B7FDD41}";

// The name of this process's broker pipe (channel_rules.h); empty when the
// user's SID cannot be read. Formed once: the session and the user of a
// process do not change.
const char* BrokerPipeName() noexcept;

// The broker's own named mutex: one broker per user and logon session. The
// user is in the name as well as the session's namespace, since an
// administrator's program may run in another user's session. Empty while
// the session's private namespace is not made yet.
AnsiString BrokerMutexName();

// Whether a broker of this user and session runs (or is starting): its
// mutex exists (a low process, which may not open it, is told that it is
// there). One open and close of a handle; no wait.
bool BrokerRunning() noexcept;

// Where this process stands towards the broker.
enum class BrokerStatus {
    Running,      // a broker runs for this user and session
    Starting,     // this process started one a moment ago
    Unavailable,  // none can be had: no program beside the library, or it
                  // would not stay (this process stops trying)
};

// At a browser event, never inside DllMain: when no broker runs, starts
// KorvaneBroker.exe from beside the library. Never waits for it, and holds
// no lock while it starts it. From Protected Mode only where the elevation
// policy that setup writes names it, so that the browser starts it silently
// at medium integrity: without one the browser would ask the user, from
// every tab process. A broker that was started and still
// does not run kStartGrace later counts as a failed start; after
// kStartAttempts of them, or when the program is missing or cannot be
// started, the process does without one for the rest of its life.
BrokerStatus EnsureBroker() noexcept;
constexpr DWORD kStartGrace = 3000;  // ms
constexpr int kStartAttempts = 3;

// Whether a broker program lies beside the library, so that one will run
// (checked once).
bool BrokerProgramPresent() noexcept;

// Whether this process leaves the keyboard hook, the tray icon and every
// write of the user's settings and white list to the broker: at low
// integrity always (it may do none of them itself); otherwise while a
// broker program lies beside the library and this process has not given up
// on it (EnsureBroker). Never in the broker itself. Without a broker
// program the library keeps all of that in the browser processes, as it
// always did.
bool LeavesToBroker() noexcept;

// Whether the process that serves the pipe (the other end of this client
// handle) is our broker: a process of this user at medium integrity or
// above, running the broker program beside the library. Pipe names are one
// namespace for the whole machine: another program, of another user or of
// this one at low integrity, may have made the name first.
bool ServedByOurBroker(HANDLE pipe) noexcept;

// Sends one message to the broker without ever waiting on it: false at
// once when no broker listens, when the pipe is not served by our broker
// (nothing is written then), when every instance of its pipe is busy, or
// when the write cannot complete at once (the broker does not read). The
// address, for a PopupBlocked message, is cut to kLongestBrokerAddress
// bytes at a character boundary, as the log keeps it.
bool SendToBroker(BrokerMessageKind kind, const char* address = nullptr) noexcept;

// The broker's side: a thread that serves kBrokerInstances instances of the
// pipe, reads one message at a time from each, hands every well-formed one
// to the handler (on that thread) and ignores the rest. A client that
// neither writes nor goes within kBrokerReadTimeout is disconnected, so no
// client can hold an instance.
class BrokerServer {
public:
    using Handler = void (*)(const BrokerMessage& message, void* context);

    static constexpr int kBrokerInstances = 4;
    static constexpr DWORD kBrokerReadTimeout = 2000;  // ms

    BrokerServer() = default;
    ~BrokerServer() { Stop(); }
    BrokerServer(const BrokerServer&) = delete;
    BrokerServer& operator=(const BrokerServer&) = delete;

    // Creates the pipe's instances and starts the thread. False when the
    // pipe cannot be made (or its name is another user's: see the .cpp).
    bool Start(Handler handler, void* context);
    // Ends the thread and closes the pipe; waits for the thread.
    void Stop() noexcept;

    // What the server saw, for tests and diagnostics.
    LONG Accepted() const noexcept { return accepted_; }
    LONG Ignored() const noexcept { return ignored_; }

private:
    struct Instance;
    static DWORD WINAPI ThreadMain(void* self) noexcept;
    void Serve() noexcept;
    bool Listen(Instance& instance) noexcept;
    void Read(Instance& instance) noexcept;
    void Finish(Instance& instance, DWORD bytes) noexcept;
    void Cancel(Instance& instance) noexcept;
    void Drop(Instance& instance) noexcept;
    bool SameSession(HANDLE pipe) const noexcept;

    Handler handler_ = nullptr;
    void* context_ = nullptr;
    UniqueHandle stop_;
    UniqueHandle thread_;
    Instance* instances_ = nullptr;
    volatile LONG accepted_ = 0;
    volatile LONG ignored_ = 0;
};

}  // namespace korvane
