#include "state/string_ring.h"

#include <mbstring.h>

#include <algorithm>
#include <cstring>
#include <iterator>

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

bool Before(const AnsiString& a, const AnsiString& b) { return std::strcmp(a.c_str(), b.c_str()) < 0; }
bool Same(const AnsiString& a, const AnsiString& b) { return std::strcmp(a.c_str(), b.c_str()) == 0; }

// Names added to a page before they are merged into its sorted ones: a page
// of a hundred thousand links adds as many, mostly the same few.
constexpr size_t kRecentNames = 256;

}  // namespace

void KnownTargetNames::Merge(Page& page) {
    if (page.recent.empty()) return;
    std::sort(page.recent.begin(), page.recent.end(), Before);
    page.recent.erase(std::unique(page.recent.begin(), page.recent.end(), Same), page.recent.end());
    std::vector<AnsiString> merged;
    merged.reserve(page.sorted.size() + page.recent.size());
    std::merge(std::make_move_iterator(page.sorted.begin()), std::make_move_iterator(page.sorted.end()),
               std::make_move_iterator(page.recent.begin()), std::make_move_iterator(page.recent.end()),
               std::back_inserter(merged), Before);
    merged.erase(std::unique(merged.begin(), merged.end(), Same), merged.end());
    page.sorted.swap(merged);
    page.recent.clear();
}

bool KnownTargetNames::Contains(const char* name) const {
    if (!name) name = "";
    if (ring_.Contains(name)) return true;
    if (!StringRing::Keeps(name)) return false;
    const AnsiString wanted(name);
    ScopedLock hold(lock_);
    for (Page& page : pages_) {
        Merge(page);
        if (std::binary_search(page.sorted.begin(), page.sorted.end(), wanted, Before)) return true;
    }
    return false;
}

void KnownTargetNames::Add(std::uintptr_t owner, std::uintptr_t page, const char* name) {
    if (!name) name = "";
    if (!StringRing::Keeps(name)) return;
    ring_.Add(name);
    AnsiString kept(name);
    ScopedLock hold(lock_);
    auto found = std::find_if(pages_.begin(), pages_.end(),
                              [&](const Page& p) { return p.owner == owner && p.page == page; });
    if (found == pages_.end()) {
        pages_.push_back(Page{owner, page, {}, {}});
        found = pages_.end() - 1;
    }
    // Most names are the one just added, or a few the page uses over again.
    if (!found->recent.empty() && Same(found->recent.back(), kept)) return;
    found->recent.push_back(std::move(kept));
    if (found->recent.size() >= kRecentNames) Merge(*found);
}

void KnownTargetNames::ForgetPage(std::uintptr_t owner, std::uintptr_t page) {
    ScopedLock hold(lock_);
    pages_.erase(std::remove_if(pages_.begin(), pages_.end(),
                                [&](const Page& p) { return p.owner == owner && p.page == page; }),
                 pages_.end());
}

void KnownTargetNames::ForgetOwner(std::uintptr_t owner) {
    ScopedLock hold(lock_);
    pages_.erase(std::remove_if(pages_.begin(), pages_.end(), [&](const Page& p) { return p.owner == owner; }),
                 pages_.end());
}

namespace {
BlockedPopupLog blockedPopupLog;
KnownTargetNames knownTargetNames;
}  // namespace

BlockedPopupLog& TheBlockedPopupLog() { return blockedPopupLog; }
KnownTargetNames& TheKnownTargetNames() { return knownTargetNames; }

}  // namespace korvane
