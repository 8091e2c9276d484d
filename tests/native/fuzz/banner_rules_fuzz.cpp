// The banner rules against the same rules written out plainly: the address
// marks and sizes (IsBannerImage), the size read from text (LeadingInteger),
// the case conversions, and the chain of media tag searches in a
// container's markup (FindMediaTag, IsAdContainerMarkup, MediaTagChain fed
// in pieces). Input: an image address, its width and its height as a page
// writes them ("468", "60px", "-99999999999"), and a container's markup,
// separated by NULs.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "scanner/banner_rules.h"

using namespace korvane;

namespace {

bool ContainsAny(const std::string& text, std::initializer_list<const char*> marks) {
    for (const char* mark : marks)
        if (text.find(mark) != std::string::npos) return true;
    return false;
}

bool ExpectedSizeMatch(long w, long h) {
    const long sizes[][2] = {{468, 60},  {234, 60},  {88, 31},   {120, 90},  {120, 60},
                             {120, 240}, {125, 125}, {160, 600}, {120, 600}, {300, 250},
                             {250, 250}, {240, 400}, {336, 280}, {180, 150}, {460, 55},
                             {392, 72}};
    for (const auto& size : sizes)
        if (w >= size[0] - 3 && w <= size[0] + 3 && h >= size[1] - 3 && h <= size[1] + 3)
            return true;
    return false;
}

bool ExpectedBanner(const std::string& lowerAddress, long w, long h) {
    if (ContainsAny(lowerAddress, {".edu/", ".org/", ".gov/", ".edu.", ".org.", ".gov."}))
        return false;
    if (ContainsAny(lowerAddress, {"?", "=", "&", ";", "/ad", ".ad", "_ad", "ad/", "/a/",
                                   "/promo", "promo_", "_promo"}))
        return true;
    return ExpectedSizeMatch(w, h);
}

// atoi's reading, with a number out of range giving the nearest long.
long ExpectedLeadingInteger(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && text[i] && std::strchr(" \t\n\v\f\r", text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    __int128 value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<__int128>(LONG_MAX) + 1) value = static_cast<__int128>(LONG_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > LONG_MAX) return LONG_MAX;
    if (value < LONG_MIN) return LONG_MIN;
    return static_cast<long>(value);
}

size_t ExpectedMediaTag(const std::string& text, size_t from) {
    for (const char* mark : {"<IMG ", "<EMBED ", "<OBJECT "}) {
        const size_t found = text.find(mark, from);
        if (found != std::string::npos) return found;
    }
    return std::string::npos;
}

bool ExpectedContainer(const std::string& upper) {
    const size_t first = ExpectedMediaTag(upper, 0);
    if (first == std::string::npos) return false;
    const size_t second = ExpectedMediaTag(upper, first + 4);
    if (second == std::string::npos) return true;
    return ExpectedMediaTag(upper, second + 4) == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> pieces = fuzz::SplitAtNul(data, size);
    pieces.resize(4);
    const std::string& address = pieces[0];
    const std::string& widthText = pieces[1];
    const std::string& heightText = pieces[2];
    const std::string& markup = pieces[3];

    AnsiString lower(address.c_str());
    LowerCase(lower);
    FUZZ_CHECK(std::string(lower.c_str()) == fuzz::Lowered(address), "lower-cased %s",
               fuzz::Show(address).c_str());

    const long w = LeadingInteger(widthText.c_str());
    const long h = LeadingInteger(heightText.c_str());
    FUZZ_CHECK(w == ExpectedLeadingInteger(widthText), "%s read as %ld",
               fuzz::Show(widthText).c_str(), w);
    FUZZ_CHECK(h == ExpectedLeadingInteger(heightText), "%s read as %ld",
               fuzz::Show(heightText).c_str(), h);
    FUZZ_CHECK(MatchesBannerSize(w, h) == ExpectedSizeMatch(w, h), "size %ld x %ld", w, h);
    // The address as the page wrote it, and lower-cased: the marks are
    // matched without regard to case either way.
    const bool banner = ExpectedBanner(fuzz::Lowered(address), w, h);
    FUZZ_CHECK(IsBannerImage(address.c_str(), w, h) == banner &&
                   IsBannerImage(lower.c_str(), w, h) == banner,
               "image %s of %ld x %ld", fuzz::Show(address).c_str(), w, h);

    AnsiString upper(markup.c_str());
    UpperCase(upper);
    const std::string expectedUpper = fuzz::Uppered(markup);
    FUZZ_CHECK(std::string(upper.c_str()) == expectedUpper, "upper-cased %s",
               fuzz::Show(markup).c_str());
    const char* tag = FindMediaTag(upper.c_str());
    const size_t expectedTag = ExpectedMediaTag(expectedUpper, 0);
    FUZZ_CHECK(expectedTag == std::string::npos ? tag == nullptr
                                                 : tag == upper.c_str() + expectedTag,
               "media tag in %s", fuzz::Show(expectedUpper).c_str());
    // The chain on the markup in any case, whole and fed in pieces.
    const bool container = ExpectedContainer(expectedUpper);
    FUZZ_CHECK(IsAdContainerMarkup(upper.c_str()) == container &&
                   IsAdContainerMarkup(markup.c_str()) == container,
               "container %s", fuzz::Show(markup).c_str());
    MediaTagChain chain;
    uint32_t state = static_cast<uint32_t>(markup.size()) * 2654435761u + 1;
    for (size_t at = 0; at < markup.size() && !chain.Decided();) {
        state = state * 1103515245u + 12345u;
        const size_t piece = std::min<size_t>(markup.size() - at, 1 + (state >> 16) % 16);
        chain.Feed(markup.data() + at, piece);
        at += piece;
    }
    FUZZ_CHECK(chain.IsAdContainer() == container, "container %s fed in pieces",
               fuzz::Show(markup).c_str());
    return 0;
}
