// Small rings of distinct strings: the addresses of blocked popups, and the
// target names the page scan gave out.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "base/ansi_string.h"
#include "base/lock.h"

namespace korvane {

constexpr int kRingSlots = 100;  // one slot always stays empty: at most 99 entries
// The longest string a ring keeps, in bytes: the browser's own limit on an
// address. Pages choose what the rings are given, and each ring lives as
// long as the browser process.
constexpr size_t kLongestRingEntry = 2083;

// Entries are added, never removed, and each is kept once; when a new
// distinct string arrives at a full ring the oldest is dropped. Every
// operation holds the ring's lock, so browser threads and the dialog thread
// always see a consistent ring.
class StringRing {
public:
    StringRing() = default;
    StringRing(const StringRing&) = delete;
    StringRing& operator=(const StringRing&) = delete;

    // Exact, case-sensitive comparison. A string too long to keep is never
    // contained.
    bool Contains(const char* text) const;
    // Returns true when text was stored, false when it was already present
    // or is longer than kLongestRingEntry (then it is not kept at all).
    bool Add(const char* text);
    static bool Keeps(const char* text);

    // The entries from the oldest to the newest.
    std::vector<AnsiString> Snapshot() const;
    // Defined here, so they are made only where they are used (the tests):
    // every function of an object the library links stays in it, whether
    // called or not, because the object's unwind tables refer to it.
    int Count() const {
        ScopedLock hold(lock_);
        return (end_ - start_ + kRingSlots) % kRingSlots;
    }
    int Start() const {
        ScopedLock hold(lock_);
        return start_;
    }
    int End() const {
        ScopedLock hold(lock_);
        return end_;
    }

private:
    bool ContainsLocked(const char* text) const;

    mutable CriticalSection lock_;
    std::unique_ptr<char[]> slots_[kRingSlots];
    int start_ = 0;
    int end_ = 0;
};

// The log of blocked popup addresses. Besides storing, it shows each new
// address at the top of an open Blocked Popups dialog.
class BlockedPopupLog {
public:
    // Keeps at most the first kLongestRingEntry bytes of the address, cut
    // at a character boundary; returns true when that was new to the log.
    bool Add(const char* url);
    // Whether the address, cut as Add cuts it, is in the log. (Defined here,
    // so it is made only where it is used, the tests.)
    bool Contains(const char* url) const { return ring_.Contains(Kept(url).c_str()); }
    std::vector<AnsiString> Snapshot() const { return ring_.Snapshot(); }
    const StringRing& Ring() const { return ring_; }

    // The address as the log keeps it: at most its first kLongestRingEntry
    // bytes, cut at a character boundary (null: empty).
    static AnsiString Kept(const char* url);

private:

    StringRing ring_;
};

// The target names the page scan gave to links, areas, forms and base
// elements. A name is known for as long as the page it was given in is
// shown, however many names that page gave out; the ring keeps the 99 most
// recent names besides, whatever page gave them.
class KnownTargetNames {
public:
    KnownTargetNames() = default;
    KnownTargetNames(const KnownTargetNames&) = delete;
    KnownTargetNames& operator=(const KnownTargetNames&) = delete;

    bool Contains(const char* name) const;
    // A name given in page (a browser or a frame, as a number) of the
    // window owner (its browser, as a number). A name too long for the ring
    // is not kept at all.
    void Add(std::uintptr_t owner, std::uintptr_t page, const char* name);
    // The page is no longer shown: a frame that navigated elsewhere.
    void ForgetPage(std::uintptr_t owner, std::uintptr_t page);
    // The window shows another page, or is gone: every page of it goes.
    void ForgetOwner(std::uintptr_t owner);

    // The ring alone. (Defined here, so they are made only where they are
    // used, the tests.)
    bool Add(const char* name) { return ring_.Add(name); }
    int End() const { return ring_.End(); }

private:
    // One name of one page: a slot of an open-addressed table, found by the
    // name alone.
    struct Named {
        bool used = false;
        std::uintptr_t owner = 0;
        std::uintptr_t page = 0;
        AnsiString name;
    };
    // The slot of owner's page's name, or the free slot where it would go
    // (owner null: any page's). The table has a free slot.
    size_t Slot(const char* name, const std::uintptr_t* owner, std::uintptr_t page) const;
    // The names to forget: none, those of a window, or those of its page.
    struct Dropped {
        enum { None, Owner, Page } what;
        std::uintptr_t owner;
        std::uintptr_t page;
        bool operator()(const Named& named) const {
            return what != None && named.owner == owner && (what == Owner || named.page == page);
        }
    };
    // Drops those names, in a table at most half full with room for one more.
    void Rebuild(const Dropped& dropped);
    // Rebuilds the table when any name is to be dropped.
    void Forget(const Dropped& dropped);

    StringRing ring_;
    mutable CriticalSection lock_;
    std::vector<Named> table_;  // a power of two of slots, or none
    size_t count_ = 0;
};

BlockedPopupLog& TheBlockedPopupLog();
KnownTargetNames& TheKnownTargetNames();

}  // namespace korvane
