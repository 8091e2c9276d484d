// Rules that tell a banner advertisement from the rest of a page: standard
// banner sizes, ad-server addresses, and small containers around one or two
// media elements. Plain narrow strings in the ANSI code page; no COM here.
#pragma once

#include "base/narrow_string.h"

namespace korvane {

struct BannerSize {
    int width;
    int height;
};

// The usual advertisement sizes, in the order they are tested.
constexpr BannerSize BannerSizes[] = {
    {468, 60},  {234, 60},  {88, 31},   {120, 90},  {120, 60},  {120, 240},
    {125, 125}, {160, 600}, {120, 600}, {300, 250}, {250, 250}, {240, 400},
    {336, 280}, {180, 150}, {460, 55},  {392, 72},
};

// Pixels a size may be off in each direction and still match.
constexpr int BannerSizeTolerance = 3;

// Addresses of schools, non-profits and governments are never taken for ads,
// whatever they look like.
constexpr const char* ExemptAddressMarks[] = {".edu/", ".org/", ".gov/",
                                              ".edu.", ".org.", ".gov."};

// Pieces of an address that ad servers use: query strings, ad directories
// and promotion names. Plain substrings, on a lower-cased address.
constexpr const char* AdAddressMarks[] = {"?",  "=",   "&",   ";",       "/ad",     ".ad",
                                          "_ad", "ad/", "/a/", "/promo", "promo_", "_promo"};

// Opening tags of media elements in upper-cased markup, most preferred first.
constexpr const char* MediaTagMarks[] = {"<IMG ", "<EMBED ", "<OBJECT "};

// A DIV whose inner markup is longer than this many characters holds a
// page's content, not an advertisement: hiding it would hide the page. Its
// markup is not searched at all.
constexpr size_t kAdContainerMarkupLimit = 64 * 1024;

bool MatchesBannerSize(long width, long height);

// The address marks are matched without regard to the case of the letters A
// to Z, so the address need not be lower-cased first.
bool IsBannerImage(const char* address, long width, long height);

// The first "<IMG " in text; if there is none the first "<EMBED "; if there
// is none the first "<OBJECT "; else null. The result points into text.
const char* FindMediaTag(const char* text);

// markup is a DIV's inner markup, in any letter case. True when a chain of
// FindMediaTag searches on the upper-cased markup, each starting just past
// the tag the previous one found, finds one or two media tags.
bool IsAdContainerMarkup(const char* markup);

// IsAdContainerMarkup in one pass over the markup, fed in pieces of any
// size, without a copy. Each search of the chain prefers "<IMG " wherever
// it stands, so the chain finds every IMG tag; after the last of them the
// EMBED tags; after the last of those the OBJECT tags. So it finds one or
// two media tags exactly when, counted that way, there are one or two; and
// three IMG tags settle it.
class MediaTagChain {
public:
    // The next bytes of the markup. A NUL ends the markup, as it ends a C
    // string: nothing after it counts.
    void Feed(const char* bytes, size_t length);
    // Whether more markup can no longer change the answer.
    bool Decided() const { return ended_ || images_ >= 3; }
    bool IsAdContainer() const;

private:
    int images_ = 0;   // IMG tags, at most 3 counted
    int embeds_ = 0;   // EMBED tags after the last IMG
    int objects_ = 0;  // OBJECT tags after the last IMG or EMBED
    const char* mark_ = nullptr;  // the media tag being matched, if any
    int matched_ = 0;             // its bytes matched so far
    bool trailByte_ = false;      // the next byte ends a double-byte character
    bool ended_ = false;
};

// The leading decimal integer of a size written as text ("468", "468px",
// "100%"), as atoi reads it: leading blanks and a sign are accepted, text
// without leading digits gives 0, and a number too large for a long gives
// the nearest long instead of an undefined value.
long LeadingInteger(const char* text);

// In-place case conversion of the single-byte letters A to Z; characters of
// a multibyte code page are left alone.
void LowerCase(AnsiString& text);
void UpperCase(AnsiString& text);

}  // namespace korvane
