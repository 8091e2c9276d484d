#include "state/session_role.h"

#include "state/shared_state.h"

namespace korvane {
namespace {
volatile LONG waits = 0;
}  // namespace

DWORD WaitForSessionObject(HANDLE object, DWORD timeout) noexcept {
    if (timeout != 0) InterlockedIncrement(&waits);
    return WaitForSingleObject(object, timeout);
}

LONG SessionObjectWaits() noexcept { return waits; }

bool SessionRole::Open() noexcept {
    if (mutex_) return true;
    try {
        const AnsiString name = SessionObjectName(name_);
        if (name.empty()) return false;
        mutex_.reset(CreateMutexA(SessionObjectSecurity(SessionAccess::LowNone), FALSE, name.c_str()));
    } catch (...) {
        return false;
    }
    if (slot_ == TLS_OUT_OF_INDEXES) slot_ = TlsAlloc();
    return static_cast<bool>(mutex_);
}

bool SessionRole::HeldHere() const noexcept {
    if (slot_ != TLS_OUT_OF_INDEXES) return TlsGetValue(slot_) != nullptr;
    return thread_ != 0 && thread_ == GetCurrentThreadId();
}

SessionRole::Claim SessionRole::TryClaim() noexcept {
    if (!mutex_) return Claim::Refused;
    if (HeldHere()) return Claim::Held;
    // Never released: the system abandons it when this thread ends.
    const DWORD waited = WaitForSessionObject(mutex_.get(), 0);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return Claim::Refused;
    if (slot_ != TLS_OUT_OF_INDEXES) TlsSetValue(slot_, reinterpret_cast<void*>(1));
    thread_ = GetCurrentThreadId();
    return Claim::Taken;
}

bool SessionRole::HeldByAnyone() noexcept {
    if (!mutex_ || HeldHere()) return true;
    const DWORD waited = WaitForSessionObject(mutex_.get(), 0);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return true;
    // Free: let go of it again, for the thread that is to hold it.
    ReleaseMutex(mutex_.get());
    return false;
}

}  // namespace korvane
