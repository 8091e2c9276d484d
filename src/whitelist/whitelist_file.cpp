#include "whitelist/whitelist_file.h"

#include <cstring>

#include "base/code_page.h"

namespace korvane {
namespace {

constexpr char kCtrlZ = 0x1A;

bool IsListSpace(unsigned c) noexcept {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool SameEntry(const AnsiString& a, const AnsiString& b) noexcept {
    return a.length() == b.length() && std::memcmp(a.c_str(), b.c_str(), a.length()) == 0;
}

size_t CountOf(const std::vector<AnsiString>& list, const AnsiString& entry) noexcept {
    size_t count = 0;
    for (const AnsiString& item : list)
        if (SameEntry(item, entry)) ++count;
    return count;
}

// Removes the first entry equal to entry; false when there is none.
bool RemoveOne(std::vector<AnsiString>& list, const AnsiString& entry) {
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (SameEntry(*it, entry)) {
            list.erase(it);
            return true;
        }
    }
    return false;
}

// How often the merge keeps an entry that base holds b times, ours o and
// theirs t: both changes apply, but one made on both sides counts once.
size_t MergedCount(size_t b, size_t o, size_t t) noexcept {
    if (o >= b && t >= b) return o > t ? o : t;
    if (o <= b && t <= b) return o < t ? o : t;
    return o + t - b;
}

// The ANSI form of a UTF-16 token, or an empty string when it has none
// that converts back to the same text: a best-fit or default character
// would turn "www.ex\u0101mple.com" into another site's name.
AnsiString ExactAnsi(const wchar_t* text, int length) {
    char buffer[kWhiteListEntryMax];
    const int written = WideToExactAnsi(text, length, buffer, sizeof buffer);
    if (written <= 0) return AnsiString();
    return AnsiString(buffer, static_cast<size_t>(written));
}

}  // namespace

bool WhiteListTokenizer::Feed(const char* data, size_t size) {
    const size_t room = kWhiteListFileLimit - fed_;
    const bool cut = size > room;
    if (cut) size = room;
    fed_ += size;
    if (!FeedUnits(data, size)) return false;
    if (!cut) return true;
    // The bound: the token it cuts is no entry.
    length_ = 0;
    return false;
}

bool WhiteListTokenizer::FeedUnits(const char* data, size_t size) {
    if (!started_) {
        started_ = true;
        if (size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) {
            encoding_ = Encoding::Utf8;
            data += 3;
            size -= 3;
        } else if (size >= 2 && std::memcmp(data, "\xFF\xFE", 2) == 0) {
            encoding_ = Encoding::Utf16;
            data += 2;
            size -= 2;
        }
    }
    for (size_t i = 0; i < size; ++i) {
        unsigned unit = static_cast<unsigned char>(data[i]);
        if (encoding_ == Encoding::Utf16) {
            if (!haveLowByte_) {
                lowByte_ = unit;
                haveLowByte_ = true;
                continue;
            }
            haveLowByte_ = false;
            unit = lowByte_ | (unit << 8);
        }
        if (!Take(unit)) return false;
    }
    return !Full();
}

inline bool WhiteListTokenizer::Take(unsigned unit) {
    if (unit == static_cast<unsigned>(kCtrlZ)) {
        Finish();
        return false;
    }
    if (IsListSpace(unit)) {
        EndToken();
        return !Full();
    }
    if (length_ < kTokenUnits) token_[length_] = static_cast<wchar_t>(unit);
    ++length_;
    return true;
}

void WhiteListTokenizer::EndToken() {
    size_t length = length_;
    length_ = 0;
    if (length == 0 || length > kTokenUnits || Full()) return;
    if (encoding_ == Encoding::Ansi && length > kWhiteListEntryMax) return;
    // A NUL inside a token ends the entry's text there.
    for (size_t i = 0; i < length; ++i) {
        if (token_[i] == 0) {
            length = i;
            break;
        }
    }
    if (length == 0) return;
    AnsiString entry = Convert(length);
    if (IsStorableEntry(entry.c_str())) out_.push_back(std::move(entry));
}

// The token's ANSI form; empty when it has none or is too long.
AnsiString WhiteListTokenizer::Convert(size_t length) const {
    if (encoding_ == Encoding::Utf16) return ExactAnsi(token_, static_cast<int>(length));
    char bytes[kTokenUnits];
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(token_[i]);
    if (encoding_ == Encoding::Ansi) return AnsiString(bytes, length);
    wchar_t wide[kTokenUnits];
    const int count = Utf8ToWide(bytes, static_cast<int>(length), wide, kTokenUnits);
    if (count <= 0) return AnsiString();
    return ExactAnsi(wide, count);
}

bool IsStorableEntry(const char* text) noexcept {
    if (!text || !*text) return false;
    for (size_t i = 0; text[i]; ++i)
        if (i == kWhiteListEntryMax || text[i] == kCtrlZ) return false;
    return true;
}

std::vector<AnsiString> ParseWhiteList(const char* data, size_t size) {
    std::vector<AnsiString> entries;
    WhiteListTokenizer tokens(entries);
    if (tokens.Feed(data, size)) tokens.Finish();
    return entries;
}

AnsiString FormatWhiteList(const std::vector<AnsiString>& entries) {
    if (entries.empty()) return AnsiString("\r\n");
    // A first entry that begins like a byte-order mark would make the file
    // read back as UTF-8 or UTF-16: a line end before it keeps it an entry.
    const unsigned char* first = reinterpret_cast<const unsigned char*>(entries.front().c_str());
    const bool marked = (first[0] == 0xEF && first[1] == 0xBB && first[2] == 0xBF) ||
                        (first[0] == 0xFF && first[1] == 0xFE);
    size_t total = marked ? 2 : 0;
    for (const AnsiString& entry : entries) total += entry.length() + 2;
    AnsiString image;
    image.Allocate(total);
    char* out = image.data();
    if (marked) {
        *out++ = '\r';
        *out++ = '\n';
    }
    for (const AnsiString& entry : entries) {
        std::memcpy(out, entry.c_str(), entry.length());
        out += entry.length();
        *out++ = '\r';
        *out++ = '\n';
    }
    return image;
}

bool MergeWhiteLists(const std::vector<AnsiString>& base, const std::vector<AnsiString>& ours,
                     const std::vector<AnsiString>& theirs, std::vector<AnsiString>* merged) {
    const auto target = [&](const AnsiString& entry) {
        return MergedCount(CountOf(base, entry), CountOf(ours, entry), CountOf(theirs, entry));
    };
    // Theirs in their order, each entry as often as the merge keeps it;
    // then what only ours adds, in our order.
    std::vector<AnsiString> result;
    for (const AnsiString& entry : theirs)
        if (CountOf(result, entry) < target(entry)) result.push_back(entry);
    for (const AnsiString& entry : ours) {
        if (CountOf(result, entry) >= target(entry)) continue;
        if (result.size() >= static_cast<size_t>(kWhiteListCapacity)) return false;
        result.push_back(entry);
    }
    merged->swap(result);
    return true;
}

std::vector<AnsiString> FollowStore(const std::vector<AnsiString>& shown,
                                    const std::vector<AnsiString>& store) {
    std::vector<AnsiString> gained(store);
    std::vector<AnsiString> result;
    for (const AnsiString& entry : shown)
        if (RemoveOne(gained, entry)) result.push_back(entry);
    for (const AnsiString& entry : gained) result.insert(result.begin(), entry);
    return result;
}

bool SameList(const std::vector<AnsiString>& a, const std::vector<AnsiString>& b) noexcept {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!SameEntry(a[i], b[i])) return false;
    return true;
}

}  // namespace korvane
