#include "channel/session_log.h"

#include <cstring>

#include "base/lock.h"
#include "base/unique_resource.h"
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

private:
    void Map() noexcept {
        try {
            const AnsiString name = SessionObjectName(kSessionLogName);
            if (name.empty()) return;
            // Zero when made: no entry yet, every stamp none.
            UniqueHandle mapping(CreateFileMappingA(INVALID_HANDLE_VALUE, SessionObjectSecurity(),
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
};

SessionLogView sessionLog;

}  // namespace

bool WriteToSessionLog(const char* address) noexcept {
    SessionLogBlock* block = sessionLog.Block();
    if (!block) return false;
    AnsiString kept;
    try {
        kept = BlockedPopupLog::Kept(address);
    } catch (...) {
        return false;
    }
    const DWORD entry = static_cast<DWORD>(InterlockedIncrement(&block->written)) - 1;
    SessionLogSlot& slot = block->slots[entry % kSessionLogSlots];
    InterlockedExchange(&slot.stamp, static_cast<LONG>(StampOf(entry, false)));
    std::memcpy(slot.text, kept.c_str(), kept.length() + 1);
    InterlockedExchange(&slot.stamp, static_cast<LONG>(StampOf(entry, true)));
    return true;
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
