#include "state/string_ring.h"

#include <mbstring.h>

#include <algorithm>
#include <cstring>

#include "state/shared_state.h"

namespace korvane {
namespace {

std::unique_ptr<char[]> CopyOf(const char* text) {
    const size_t length = std::strlen(text);
    std::unique_ptr<char[]> copy(new char[length + 1]);
    std::memcpy(copy.get(), text, length + 1);
    return copy;
}

// The length of the longest beginning of text that fits in limit bytes
// without splitting a double-byte character.
size_t BoundedLength(const char* text, size_t limit) {
    size_t length = 0;
    while (text[length]) {
        const size_t next = _ismbblead(static_cast<unsigned char>(text[length])) && text[length + 1]
                                ? length + 2
                                : length + 1;
        if (next > limit) break;
        length = next;
    }
    return length;
}

}  // namespace

bool StringRing::Keeps(const char* text) {
    return !text || strnlen(text, kLongestRingEntry + 1) <= kLongestRingEntry;
}

bool StringRing::ContainsLocked(const char* text) const {
    const int last = start_ > end_ ? end_ + kRingSlots : end_;
    for (int i = start_; i < last; ++i) {
        const char* entry = slots_[i % kRingSlots].get();
        // Equal under _mbscmp is equal byte for byte; the plain compare is
        // several times faster, and the page scan asks for every target.
        if (entry && std::strcmp(entry, text) == 0) return true;
    }
    return false;
}

bool StringRing::Contains(const char* text) const {
    if (!text) text = "";
    if (!Keeps(text)) return false;
    ScopedLock hold(lock_);
    return ContainsLocked(text);
}

bool StringRing::Add(const char* text) {
    if (!text) text = "";
    if (!Keeps(text)) return false;
    // Copy first: if that fails the ring is untouched.
    std::unique_ptr<char[]> copy = CopyOf(text);
    ScopedLock hold(lock_);
    if (ContainsLocked(text)) return false;
    slots_[end_] = std::move(copy);
    const int next = (end_ + 1) % kRingSlots;
    if (next == start_) {
        slots_[start_].reset();
        start_ = (start_ + 1) % kRingSlots;
    }
    end_ = next;
    return true;
}

std::vector<AnsiString> StringRing::Snapshot() const {
    ScopedLock hold(lock_);
    std::vector<AnsiString> entries;
    const int last = start_ > end_ ? end_ + kRingSlots : end_;
    entries.reserve(static_cast<size_t>(last - start_));
    for (int i = start_; i < last; ++i) entries.push_back(AnsiString(slots_[i % kRingSlots].get()));
    return entries;
}

AnsiString BlockedPopupLog::Kept(const char* url) {
    if (!url) url = "";
    return AnsiString(url, BoundedLength(url, kLongestRingEntry));
}

bool BlockedPopupLog::Add(const char* url) {
    const AnsiString kept = Kept(url);
    if (!ring_.Add(kept.c_str())) return false;
    // Sent after the ring's lock is released: the dialog's thread may itself
    // be waiting for that lock while it lists the log.
    HWND listBox = logListBox;
    if (listBox) SendMessageA(listBox, LB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(kept.c_str()));
    return true;
}

namespace {

std::uint64_t NameKey(const char* name) { return TextKey(name, std::strlen(name), kTextKeySeed); }

size_t SlotOf(std::uint64_t name, std::uint64_t address) {
    const std::uint64_t mixed = name ^ (address * 0x9E3779B97F4A7C15ull);
    return static_cast<size_t>(mixed ^ (mixed >> 32));
}

}  // namespace

size_t KnownTargetNames::Slot(std::uint64_t name, std::uint64_t address, const std::uintptr_t* owner,
                              std::uintptr_t page) const {
    const size_t mask = table_.size() - 1;
    for (size_t slot = SlotOf(name, address) & mask;; slot = (slot + 1) & mask) {
        const Kept& kept = table_[slot];
        if (!kept.used) return slot;
        if (kept.name != name || kept.address != address) continue;
        if (!owner || (kept.owner == *owner && kept.page == page)) return slot;
    }
}

void KnownTargetNames::Rebuild(const Dropped& dropped) {
    size_t left = 1;
    for (const Kept& kept : table_) left += kept.used && !dropped(kept.owner, kept.page) ? 1 : 0;
    size_t slots = 64;
    while (slots < left * 2) slots *= 2;
    std::vector<Kept> old(slots);
    old.swap(table_);
    count_ = 0;
    for (Kept& kept : old) {
        if (!kept.used || dropped(kept.owner, kept.page)) continue;
        table_[Slot(kept.name, kept.address, &kept.owner, kept.page)] = kept;
        ++count_;
    }
}

bool KnownTargetNames::ContainsLocked(std::uint64_t name, std::uint64_t address) const {
    return count_ > 0 && table_[Slot(name, address, nullptr, 0)].used;
}

bool KnownTargetNames::Contains(const char* name) const {
    if (!name) name = "";
    if (ring_.Contains(name)) return true;
    if (!StringRing::Keeps(name)) return false;
    const std::uint64_t key = NameKey(name);
    ScopedLock hold(lock_);
    return ContainsLocked(key, 0);
}

bool KnownTargetNames::Leads(const char* name, std::uint64_t addressKey) const {
    if (!name || !addressKey || !StringRing::Keeps(name)) return false;
    const std::uint64_t key = NameKey(name);
    ScopedLock hold(lock_);
    return ContainsLocked(key, addressKey);
}

KnownTargetNames::PageCount& KnownTargetNames::CountOf(std::uintptr_t owner, std::uintptr_t page) {
    if (lastPage_ < pages_.size() && pages_[lastPage_].owner == owner && pages_[lastPage_].page == page)
        return pages_[lastPage_];
    for (lastPage_ = 0; lastPage_ < pages_.size(); ++lastPage_)
        if (pages_[lastPage_].owner == owner && pages_[lastPage_].page == page) return pages_[lastPage_];
    pages_.push_back(PageCount{owner, page, 0});
    return pages_.back();
}

void KnownTargetNames::AddLocked(PageCount& count, std::uint64_t name, std::uint64_t address) {
    if (count.kept >= kKeptPerPage) return;
    // At most half full: a page of a hundred thousand links adds as many
    // names, mostly the same few, each found at once.
    if ((count_ + 1) * 2 > table_.size()) Rebuild(Dropped{Dropped::None, 0, 0});
    Kept& kept = table_[Slot(name, address, &count.owner, count.page)];
    if (kept.used) return;
    kept.used = true;
    kept.owner = count.owner;
    kept.page = count.page;
    kept.name = name;
    kept.address = address;
    ++count_;
    ++count.kept;
}

void KnownTargetNames::Add(std::uintptr_t owner, std::uintptr_t page, const char* name,
                           std::uint64_t addressKey) {
    if (!name) name = "";
    if (!StringRing::Keeps(name)) return;
    ring_.Add(name);
    const std::uint64_t key = NameKey(name);
    ScopedLock hold(lock_);
    PageCount& count = CountOf(owner, page);
    AddLocked(count, key, 0);
    if (addressKey) AddLocked(count, key, addressKey);
}

void KnownTargetNames::Forget(const Dropped& dropped) {
    ScopedLock hold(lock_);
    pages_.erase(std::remove_if(pages_.begin(), pages_.end(),
                                [&dropped](const PageCount& count) { return dropped(count.owner, count.page); }),
                 pages_.end());
    // Every frame's navigation asks: most find nothing to forget.
    for (const Kept& kept : table_) {
        if (!kept.used || !dropped(kept.owner, kept.page)) continue;
        Rebuild(dropped);
        return;
    }
}

void KnownTargetNames::ForgetPage(std::uintptr_t owner, std::uintptr_t page) {
    Forget(Dropped{Dropped::Page, owner, page});
}

void KnownTargetNames::ForgetOwner(std::uintptr_t owner) { Forget(Dropped{Dropped::Owner, owner, 0}); }

namespace {
BlockedPopupLog blockedPopupLog;
KnownTargetNames knownTargetNames;
}  // namespace

BlockedPopupLog& TheBlockedPopupLog() { return blockedPopupLog; }
KnownTargetNames& TheKnownTargetNames() { return knownTargetNames; }

}  // namespace korvane
