#include "scanner/banner_rules.h"

#include "base/multibyte.h"

#include <cstdlib>
#include <cstring>

namespace korvane {
namespace {

const unsigned char* Bytes(const char* text) {
    return reinterpret_cast<const unsigned char*>(text);
}

// A byte that begins a double-byte character in the C runtime's multibyte
// code page. No ASCII byte ever does.
bool IsLeadByte(unsigned char c) { return c >= 0x80 && _ismbblead(c); }

unsigned char LowerAscii(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }
unsigned char UpperAscii(unsigned char c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; }

// Whether a lower-case mark starts at text, letter case aside. Every byte of
// a mark is ASCII, and no ASCII byte ends a double-byte character, so a
// match that starts on a character boundary stays on single-byte
// characters, which are all _mbslwr changes.
bool StartsWith(const unsigned char* text, const char* mark) {
    for (; *mark; ++text, ++mark)
        if (LowerAscii(*text) != static_cast<unsigned char>(*mark)) return false;
    return true;
}

// For each ASCII byte, the address marks that begin with it: bits 0 to 5
// the exempt marks, bits 8 to 19 the ad marks. Most of an address begins
// no mark and is passed over on one look.
struct MarkIndex {
    unsigned long marks[128];
};

constexpr unsigned long kExemptBits = 0xFF;

template <size_t N>
constexpr void IndexMarks(MarkIndex& index, const char* const (&marks)[N], int firstBit) {
    for (size_t i = 0; i < N; ++i)
        index.marks[static_cast<unsigned char>(marks[i][0])] |= 1ul << (firstBit + i);
}

constexpr MarkIndex MakeMarkIndex() {
    MarkIndex index{};
    IndexMarks(index, ExemptAddressMarks, 0);
    IndexMarks(index, AdAddressMarks, 8);
    return index;
}

constexpr MarkIndex kMarkIndex = MakeMarkIndex();
static_assert(sizeof ExemptAddressMarks / sizeof *ExemptAddressMarks <= 8 &&
                  sizeof AdAddressMarks / sizeof *AdAddressMarks <= 24,
              "the marks fit their bits");

// The marks among candidates (bits of kMarkIndex) that start at text.
unsigned long MarksAt(const unsigned char* text, unsigned long candidates) {
    unsigned long found = 0;
    for (; candidates; candidates &= candidates - 1) {
        const int bit = __builtin_ctzl(candidates);
        const char* mark = bit < 8 ? ExemptAddressMarks[bit] : AdAddressMarks[bit - 8];
        if (StartsWith(text, mark)) found |= 1ul << bit;
    }
    return found;
}

// Bounds rather than a difference: a page may report any long as a size, and
// no wider type holds every difference where long is 64 bits.
bool Near(long value, int target) {
    return value >= target - BannerSizeTolerance && value <= target + BannerSizeTolerance;
}

}  // namespace

bool MatchesBannerSize(long width, long height) {
    for (const BannerSize& size : BannerSizes)
        if (Near(width, size.width) && Near(height, size.height)) return true;
    return false;
}

bool IsBannerImage(const char* address, long width, long height) {
    // One pass, as the multibyte search would go: marks start on character
    // boundaries only. An exempt mark anywhere settles it at once.
    bool adMark = false;
    for (const unsigned char* at = Bytes(address ? address : ""); *at; ++at) {
        if (IsLeadByte(*at)) {
            if (!*++at) break;
            continue;
        }
        const unsigned char c = LowerAscii(*at);
        if (c >= 0x80 || !kMarkIndex.marks[c]) continue;
        const unsigned long found = MarksAt(at, kMarkIndex.marks[c]);
        if (found & kExemptBits) return false;
        if (found) adMark = true;
    }
    return adMark || MatchesBannerSize(width, height);
}

const char* FindMediaTag(const char* text) {
    if (!text) return nullptr;
    for (const char* mark : MediaTagMarks) {
        const unsigned char* found = _mbsstr(Bytes(text), Bytes(mark));
        if (found) return reinterpret_cast<const char*>(found);
    }
    return nullptr;
}

bool IsAdContainerMarkup(const char* markup) {
    MediaTagChain chain;
    if (markup) chain.Feed(markup, std::strlen(markup));
    return chain.IsAdContainer();
}

void MediaTagChain::Feed(const char* bytes, size_t length) {
    for (size_t i = 0; i < length && !Decided(); ++i) {
        // Between tags, most of the markup: an ASCII byte other than "<"
        // changes nothing and is passed over on one look.
        if (!mark_ && !trailByte_) {
            for (unsigned char b = static_cast<unsigned char>(bytes[i]); b != '<' && b != 0 && b < 0x80;
                 b = static_cast<unsigned char>(bytes[i])) {
                if (++i == length) return;
            }
        }
        const unsigned char c = UpperAscii(static_cast<unsigned char>(bytes[i]));
        if (c == 0) {
            ended_ = true;
            break;
        }
        // Double-byte characters are no part of a tag; a trail byte that
        // looks like a letter is none either.
        if (trailByte_ || IsLeadByte(c)) {
            trailByte_ = !trailByte_;
            mark_ = nullptr;
            continue;
        }
        // After "<" the next letter says which tag it may be: the marks
        // differ there, and none holds another "<".
        if (mark_ && matched_ == 1) {
            mark_ = nullptr;
            for (const char* mark : MediaTagMarks)
                if (static_cast<unsigned char>(mark[1]) == c) mark_ = mark;
        }
        if (mark_ && static_cast<unsigned char>(mark_[matched_]) == c) {
            if (mark_[++matched_]) continue;
            // Four bytes past a tag's start the next search of the chain
            // begins inside the tag, past its "<": one tag counts once.
            if (mark_ == MediaTagMarks[0]) {
                ++images_;
                embeds_ = objects_ = 0;
            } else if (mark_ == MediaTagMarks[1]) {
                if (embeds_ < 3) ++embeds_;
                objects_ = 0;
            } else if (objects_ < 3) {
                ++objects_;
            }
            mark_ = nullptr;
            continue;
        }
        mark_ = c == '<' ? MediaTagMarks[0] : nullptr;
        matched_ = 1;
    }
}

bool MediaTagChain::IsAdContainer() const {
    const int found = images_ + embeds_ + objects_;
    return found == 1 || found == 2;
}

long LeadingInteger(const char* text) {
    if (!text) return 0;
    // strtol, unlike atoi, has a defined result for numbers out of range.
    return std::strtol(text, nullptr, 10);
}

void LowerCase(AnsiString& text) {
    if (text.data()) _mbslwr(reinterpret_cast<unsigned char*>(text.data()));
}

void UpperCase(AnsiString& text) {
    if (text.data()) _mbsupr(reinterpret_cast<unsigned char*>(text.data()));
}

}  // namespace korvane
