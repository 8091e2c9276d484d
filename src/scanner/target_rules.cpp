#include "scanner/target_rules.h"

#include <atomic>
#include <cstring>

#include "base/multibyte.h"

namespace korvane {
namespace {

// 0 when the library is loaded; never persisted.
std::atomic<int> blankTargetCounter{0};

const unsigned char* Bytes(const char* text) {
    return reinterpret_cast<const unsigned char*>(text);
}

bool Equal(const char* a, const char* b) { return _mbscmp(Bytes(a), Bytes(b)) == 0; }

bool IsReserved(const char* target) {
    for (const char* name : ReservedTargetNames)
        if (Equal(target, name)) return true;
    return false;
}

// Takes the counter's current number and moves it on, wrapping after the
// last, as one step: two windows rewriting "_blank" at the same moment never
// get the same number and no number is skipped.
int TakeBlankNumber() noexcept {
    int current = blankTargetCounter.load();
    for (;;) {
        const int next = current >= kBlankTargetCounterLast ? 0 : current + 1;
        if (blankTargetCounter.compare_exchange_weak(current, next)) return current;
    }
}

}  // namespace

TargetDecision ClassifyTarget(const char* target, bool isTopLevel) {
    if (!target) target = "";
    // In a frame only "_blank" opens a window of its own; names there are
    // the frameset's own frames.
    if (!isTopLevel && !Equal(target, "_blank")) return TargetDecision::Keep;
    if (IsReserved(target)) return TargetDecision::Keep;
    // Only this program writes such names: the document was scanned before,
    // and everything after this element was rewritten then too.
    if (_mbsnbcmp(Bytes(target), Bytes(RewrittenTargetPrefix), kRewrittenTargetPrefixLength) == 0)
        return TargetDecision::StopScan;
    return TargetDecision::Rewrite;
}

AnsiString MakeRewrittenTarget(const char* target) {
    if (!target) target = "";
    const bool numbered = Equal(target, "_blank");
    const size_t prefixLength = kRewrittenTargetPrefixLength;
    const size_t targetLength = std::strlen(target);
    static_assert(kBlankTargetCounterLast < 100, "two digits are reserved for the number");
    // Room for the longest number first: a number once taken is never lost
    // to a failed allocation.
    AnsiString result;
    result.Allocate(prefixLength + (numbered ? 2 : 0) + targetLength);

    // The number in decimal, as "%d" would write it. Formatted by hand: the
    // C runtime's formatting would add tens of kilobytes to a library that is
    // loaded into every process that gets keyboard input.
    char number[4] = "";
    size_t numberLength = 0;
    if (numbered) {
        const int taken = TakeBlankNumber();
        if (taken >= 10) number[numberLength++] = static_cast<char>('0' + taken / 10);
        number[numberLength++] = static_cast<char>('0' + taken % 10);
    }

    char* out = result.data();
    std::memcpy(out, RewrittenTargetPrefix, prefixLength);
    std::memcpy(out + prefixLength, number, numberLength);
    std::memcpy(out + prefixLength + numberLength, target, targetLength);
    result.Truncate(prefixLength + numberLength + targetLength);
    return result;
}

int BlankTargetCounter() noexcept { return blankTargetCounter.load(); }

bool OpensNewWindow(const char* target) { return target && *target && !IsReserved(target); }

namespace {

std::uint64_t NonZero(std::uint64_t key) { return key == kNoAddress ? 1 : key; }

}  // namespace

std::uint64_t LinkAddressKey(const char* address) {
    if (!address) address = "";
    return NonZero(TextKey(address, std::strlen(address), kTextKeySeed));
}

std::uint64_t FormAddressKey(const char* address) {
    if (!address) address = "";
    // Another seed: a form's address is never taken for a link's.
    return NonZero(TextKey(address, std::strcspn(address, "?#"), ~kTextKeySeed));
}

}  // namespace korvane
