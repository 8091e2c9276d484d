#include "channel/session_log.h"

#include <cstring>

#include "base/lock.h"
#include "base/unique_resource.h"
#include "channel/broker_channel.h"
#include "state/integrity.h"
#include "state/shared_state.h"
#include "state/string_ring.h"

namespace korvane {
namespace {

// Entry n lies in slot n % kSessionLogSlots. Its stamp is 2n + 1 while it is
// written and 2n + 2 once it is whole, so a reader tells an entry from the
// one before it in the same slot, and from one caught half-written.
struct SessionLogSlot {
    volatile LONG stamp;
    char text[kLongestRingEntry + 1];
};

struct SessionLogBlock {
    volatile LONG written;  // entries ever claimed
    SessionLogSlot slots[kSessionLogSlots];
};

DWORD StampOf(DWORD entry, bool whole) noexcept { return 2 * entry + (whole ? 2 : 1); }

// The block, mapped for the rest of the process's life once had: while a
// browser that wrote to it lives, it outlives any broker.
class SessionLogView {
public:
    SessionLogBlock* Block() noexcept {
        ScopedLock hold(lock_);
        if (!view_) Map();
        return static_cast<SessionLogBlock*>(view_.get());
    }

    // Addresses a low process blocked before the block was there, oldest
    // first, at most as many as the log shows.
    void Keep(const AnsiString& address) {
        ScopedLock hold(lock_);
        if (pending_.size() >= kSessionLogSlots) pending_.erase(pending_.begin());
        pending_.push_back(address);
    }
    std::vector<AnsiString> TakeKept() {
        ScopedLock hold(lock_);
        std::vector<AnsiString> kept;
        kept.swap(pending_);
        return kept;
    }
    bool HasKept() noexcept {
        ScopedLock hold(lock_);
        return !pending_.empty();
    }

private:
    void Map() noexcept {
        try {
            const AnsiString name = SessionObjectName(kSessionLogName);
            if (name.empty()) return;
            // Made by a process at medium integrity or above, so that a low
            // one cannot make it first with a list of its own; writable from
            // low once made. Zero when made: no entry yet, every stamp none.
            UniqueHandle mapping(ActsAtLowIntegrity()
                                     ? OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name.c_str())
                                     : CreateFileMappingA(INVALID_HANDLE_VALUE,
                                                          SessionObjectSecurity(SessionAccess::LowWrites),
                                                          PAGE_READWRITE, 0, sizeof(SessionLogBlock),
                                                          name.c_str()));
            if (!mapping) return;
            UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0,
                                          sizeof(SessionLogBlock)));
            if (!view) return;
            mapping_ = std::move(mapping);
            view_ = std::move(view);
        } catch (...) {
            // No memory for the name: the next call tries again.
        }
    }

    CriticalSection lock_;
    UniqueHandle mapping_;
    UniqueView view_;
    std::vector<AnsiString> pending_;
};

SessionLogView sessionLog;

void WriteEntry(SessionLogBlock* block, const AnsiString& kept) noexcept {
    const DWORD entry = static_cast<DWORD>(InterlockedIncrement(&block->written)) - 1;
    SessionLogSlot& slot = block->slots[entry % kSessionLogSlots];
    InterlockedExchange(&slot.stamp, static_cast<LONG>(StampOf(entry, false)));
    std::memcpy(slot.text, kept.c_str(), kept.length() + 1);
    InterlockedExchange(&slot.stamp, static_cast<LONG>(StampOf(entry, true)));
}

// Writes what was kept; the newest of it, or empty.
AnsiString WriteKept(SessionLogBlock* block) {
    const std::vector<AnsiString> kept = sessionLog.TakeKept();
    for (const AnsiString& address : kept) WriteEntry(block, address);
    return kept.empty() ? AnsiString() : kept.back();
}

}  // namespace

bool WriteToSessionLog(const char* address) noexcept {
    try {
        const AnsiString kept = BlockedPopupLog::Kept(address);
        SessionLogBlock* block = sessionLog.Block();
        if (!block) {
            sessionLog.Keep(kept);
            return false;
        }
        if (sessionLog.HasKept()) WriteKept(block);
        WriteEntry(block, kept);
        return true;
    } catch (...) {
        return false;
    }
}

void FlushSessionLog() noexcept {
    if (!sessionLog.HasKept()) return;
    SessionLogBlock* block = sessionLog.Block();
    if (!block) return;
    try {
        // The broker takes the log in when it is told of a block; the
        // newest one tells it (the log keeps each address once).
        const AnsiString newest = WriteKept(block);
        if (!newest.empty()) SendToBroker(BrokerMessageKind::PopupBlocked, newest.c_str());
    } catch (...) {
        // Out of memory: what was kept is lost to the session's log, and
        // stays in this process's own.
    }
}

void ReadSessionLog(DWORD* cursor, std::vector<AnsiString>* entries) {
    SessionLogBlock* block = sessionLog.Block();
    if (!block) return;
    const DWORD end = static_cast<DWORD>(block->written);
    DWORD first = *cursor;
    // Only the last kSessionLogSlots entries are still there; a cursor
    // beyond the end (the block was made again) starts over.
    if (end - first > kSessionLogSlots) first = end > kSessionLogSlots ? end - kSessionLogSlots : 0;
    for (DWORD entry = first; entry != end; ++entry) {
        const SessionLogSlot& slot = block->slots[entry % kSessionLogSlots];
        const LONG before = slot.stamp;
        if (static_cast<DWORD>(before) != StampOf(entry, true)) continue;
        char text[sizeof slot.text];
        std::memcpy(text, const_cast<const char*>(slot.text), sizeof text);
        text[sizeof text - 1] = '\0';
        MemoryBarrier();
        if (slot.stamp != before) continue;
        entries->push_back(AnsiString(text));
    }
    *cursor = end;
}

}  // namespace korvane
