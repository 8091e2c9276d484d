#include "state/string_ring.h"

#include <mbstring.h>

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

size_t HashOf(const char* text) {
    size_t hash = 2166136261u;
    for (; *text; ++text) hash = (hash ^ static_cast<unsigned char>(*text)) * 16777619u;
    return hash;
}

}  // namespace

size_t KnownTargetNames::Slot(const char* name, const std::uintptr_t* owner, std::uintptr_t page) const {
    const size_t mask = table_.size() - 1;
    for (size_t slot = HashOf(name) & mask;; slot = (slot + 1) & mask) {
        const Named& named = table_[slot];
        if (!named.used) return slot;
        if (std::strcmp(named.name.c_str(), name) != 0) continue;
        if (!owner || (named.owner == *owner && named.page == page)) return slot;
    }
}

void KnownTargetNames::Rebuild(const Dropped& dropped) {
    size_t kept = 1;
    for (const Named& named : table_) kept += named.used && !dropped(named) ? 1 : 0;
    size_t slots = 64;
    while (slots < kept * 2) slots *= 2;
    std::vector<Named> old(slots);
    old.swap(table_);
    count_ = 0;
    for (Named& named : old) {
        if (!named.used || dropped(named)) continue;
        table_[Slot(named.name.c_str(), &named.owner, named.page)] = std::move(named);
        ++count_;
    }
}

bool KnownTargetNames::Contains(const char* name) const {
    if (!name) name = "";
    if (ring_.Contains(name)) return true;
    ScopedLock hold(lock_);
    return count_ > 0 && table_[Slot(name, nullptr, 0)].used;
}

void KnownTargetNames::Add(std::uintptr_t owner, std::uintptr_t page, const char* name) {
    if (!name) name = "";
    if (!StringRing::Keeps(name)) return;
    ring_.Add(name);
    AnsiString kept(name);
    ScopedLock hold(lock_);
    // At most half full: a page of a hundred thousand links adds as many
    // names, mostly the same few, each found at once.
    if ((count_ + 1) * 2 > table_.size()) Rebuild(Dropped{Dropped::None, 0, 0});
    Named& named = table_[Slot(name, &owner, page)];
    if (named.used) return;
    named.used = true;
    named.owner = owner;
    named.page = page;
    named.name = std::move(kept);
    ++count_;
}

void KnownTargetNames::Forget(const Dropped& dropped) {
    ScopedLock hold(lock_);
    // Every frame's navigation asks: most find nothing to forget.
    for (const Named& named : table_) {
        if (!named.used || !dropped(named)) continue;
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
