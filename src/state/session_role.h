// A role that one live thread of the logon session holds at a time: the
// keyboard hook's owner (module/hook_owner.h), the window that shows the
// tray icon (tray/tray_icon.h).
//
// The holder takes a named mutex of the session and never releases it. The
// system abandons a mutex when the thread that holds it ends, which is
// exactly when Windows removes the hooks that thread set and destroys the
// windows it made; so no count or record that a dead process leaves behind
// can make a role look held. The next thread that claims it takes it over.
#pragma once

#include <windows.h>

#include "base/unique_resource.h"

namespace korvane {

// Waits for a session object at most timeout milliseconds. Each wait that
// may take time (a timeout other than 0) is counted, so that tests can show
// that loading the library never waits for an object another process may
// hold (SessionObjectWaits, KorvaneAttachWaits in module/dllmain.cpp).
DWORD WaitForSessionObject(HANDLE object, DWORD timeout) noexcept;
LONG SessionObjectWaits() noexcept;

class SessionRole {
public:
    // name: the mutex's name inside the session's namespace; a literal.
    explicit SessionRole(const char* name) noexcept : name_(name) {}
    SessionRole(const SessionRole&) = delete;
    SessionRole& operator=(const SessionRole&) = delete;

    // Opens (or creates) the session's mutex; at attach. Until then the role
    // can be neither claimed nor seen held.
    bool Open() noexcept;
    bool IsOpen() const noexcept { return static_cast<bool>(mutex_); }

    enum class Claim {
        Refused,  // another live thread holds it, or the role is not open
        Held,     // the calling thread held it already
        Taken,    // it was free (never held, or its holder ended): now the calling thread's
    };
    Claim TryClaim() noexcept;

    bool HeldHere() const noexcept;
    // Whether a live thread holds it, this one included. Not open: true, as
    // nothing of the session can be seen.
    bool HeldByAnyone() noexcept;

private:
    const char* name_;
    // Open for the life of the process, so the mutex outlives any holder
    // while a process of the session has the library.
    UniqueHandle mutex_;
    // Non-zero in the holding thread: a mutex can be taken again by its
    // holder, which must not take itself for a new one. Thread-local because
    // a thread id is reused once its thread has ended.
    DWORD slot_ = TLS_OUT_OF_INDEXES;
    DWORD thread_ = 0;  // the same, where no TLS slot could be had
};

}  // namespace korvane
