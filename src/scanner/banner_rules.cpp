#include "scanner/banner_rules.h"

#include "base/multibyte.h"

#include <cstdlib>

namespace korvane {
namespace {

const unsigned char* Bytes(const char* text) {
    return reinterpret_cast<const unsigned char*>(text);
}

bool ContainsAny(const char* text, const char* const* marks, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (_mbsstr(Bytes(text), Bytes(marks[i]))) return true;
    return false;
}

template <size_t N>
bool ContainsAny(const char* text, const char* const (&marks)[N]) {
    return ContainsAny(text, marks, N);
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

bool IsBannerImage(const char* lowerAddress, long width, long height) {
    if (!lowerAddress) lowerAddress = "";
    if (ContainsAny(lowerAddress, ExemptAddressMarks)) return false;
    if (ContainsAny(lowerAddress, AdAddressMarks)) return true;
    return MatchesBannerSize(width, height);
}

const char* FindMediaTag(const char* text) {
    if (!text) return nullptr;
    for (const char* mark : MediaTagMarks) {
        const unsigned char* found = _mbsstr(Bytes(text), Bytes(mark));
        if (found) return reinterpret_cast<const char*>(found);
    }
    return nullptr;
}

bool IsAdContainerMarkup(const char* upperMarkup) {
    // Four bytes on from a found tag is still inside it (every mark is longer
    // than that) and past its opening bracket, so the same tag is not found
    // again. Because each search prefers "<IMG " wherever it stands, this
    // counts a chain of searches rather than tags in document order.
    const int kStep = 4;
    const char* first = FindMediaTag(upperMarkup);
    if (!first) return false;
    const char* second = FindMediaTag(first + kStep);
    if (!second) return true;
    return FindMediaTag(second + kStep) == nullptr;
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
