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
// elements, each with the addresses of the elements that carry it. A name
// and its addresses are known for as long as the page that gave them is
// shown; the ring keeps the 99 most recent names besides, whatever page gave
// them, without addresses. A page keeps at most kKeptPerPage names and
// addresses (8 bytes each), the first it gives: a page of a hundred
// thousand links costs no more than one of sixteen thousand.
class KnownTargetNames {
public:
    KnownTargetNames() = default;
    KnownTargetNames(const KnownTargetNames&) = delete;
    KnownTargetNames& operator=(const KnownTargetNames&) = delete;

    // A name of a page shown, or one of the ring's.
    bool Contains(const char* name) const;
    // Whether a page shown gave name to an element that points to the
    // address with this key (scanner/target_rules.h: LinkAddressKey,
    // FormAddressKey).
    bool Leads(const char* name, std::uint64_t addressKey) const;
    // A name given in page (a browser or a frame, as a number) of the
    // window owner (its browser, as a number), to an element that points to
    // the address with this key (0: to none, as a base element). A name
    // too long for the ring is not kept at all.
    void Add(std::uintptr_t owner, std::uintptr_t page, const char* name, std::uint64_t addressKey);
    // The page is no longer shown: a frame that navigated elsewhere.
    void ForgetPage(std::uintptr_t owner, std::uintptr_t page);
    // The window shows another page, or is gone: every page of it goes.
    void ForgetOwner(std::uintptr_t owner);

    // The ring alone. (Defined here, so they are made only where they are
    // used, the tests.)
    bool Add(const char* name) { return ring_.Add(name); }
    int End() const { return ring_.End(); }

    static constexpr size_t kKeptPerPage = 16384;

private:
    // A name of one page with one address (0: the name itself), by the keys
    // of both: a slot of an open-addressed table.
    struct Kept {
        bool used = false;
        std::uintptr_t owner = 0;
        std::uintptr_t page = 0;
        std::uint64_t name = 0;
        std::uint64_t address = 0;
    };
    // How much of the table a page holds.
    struct PageCount {
        std::uintptr_t owner;
        std::uintptr_t page;
        size_t kept;
    };
    // The slot of owner's page's pair, or the free slot where it would go
    // (owner null: any page's). The table has a free slot.
    size_t Slot(std::uint64_t name, std::uint64_t address, const std::uintptr_t* owner,
                std::uintptr_t page) const;
    bool ContainsLocked(std::uint64_t name, std::uint64_t address) const;
    // The page's count, made when it has none.
    PageCount& CountOf(std::uintptr_t owner, std::uintptr_t page);
    // Adds a pair unless the page has it already or is full.
    void AddLocked(PageCount& count, std::uint64_t name, std::uint64_t address);
    // The names to forget: none, those of a window, or those of its page.
    struct Dropped {
        enum { None, Owner, Page } what;
        std::uintptr_t owner;
        std::uintptr_t page;
        bool operator()(std::uintptr_t keptOwner, std::uintptr_t keptPage) const {
            return what != None && keptOwner == owner && (what == Owner || keptPage == page);
        }
    };
    // Drops those pairs, in a table at most half full with room for one more.
    void Rebuild(const Dropped& dropped);
    // Rebuilds the table when any pair is to be dropped.
    void Forget(const Dropped& dropped);

    StringRing ring_;
    mutable CriticalSection lock_;
    std::vector<Kept> table_;  // a power of two of slots, or none
    size_t count_ = 0;
    std::vector<PageCount> pages_;
    size_t lastPage_ = 0;  // the page a scan adds to, mostly the last one
};

BlockedPopupLog& TheBlockedPopupLog();
KnownTargetNames& TheKnownTargetNames();

}  // namespace korvane
