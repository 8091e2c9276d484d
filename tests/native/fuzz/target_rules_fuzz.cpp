// ClassifyTarget and MakeRewrittenTarget against the rules written out
// plainly with std::string. Input: one byte whose low bit says whether the
// document is the top one, then target names separated by NULs, taken in
// turn so the "_blank" counter wraps.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "scanner/target_rules.h"

using namespace korvane;

namespace {

TargetDecision ExpectedDecision(const std::string& target, bool isTopLevel) {
    if (!isTopLevel && target != "_blank") return TargetDecision::Keep;
    for (const char* reserved : {"_top", "_parent", "_self", "_search", "_main"})
        if (target == reserved) return TargetDecision::Keep;
    if (target.compare(0, 3, "z9z") == 0) return TargetDecision::StopScan;
    return TargetDecision::Rewrite;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool isTopLevel = (data[0] & 1) != 0;
    for (const std::string& target : fuzz::SplitAtNul(data + 1, size - 1)) {
        const TargetDecision decision = ClassifyTarget(target.c_str(), isTopLevel);
        FUZZ_CHECK(decision == ExpectedDecision(target, isTopLevel), "target %s, top %d",
                   fuzz::Show(target).c_str(), isTopLevel);

        const int before = BlankTargetCounter();
        FUZZ_CHECK(before >= 0 && before <= kBlankTargetCounterLast, "counter %d", before);
        const AnsiString rewritten = MakeRewrittenTarget(target.c_str());
        const bool numbered = target == "_blank";
        const std::string expected =
            std::string("z9z") + (numbered ? std::to_string(before) : std::string()) + target;
        FUZZ_CHECK(std::string(rewritten.c_str(), rewritten.length()) == expected &&
                       rewritten.length() == std::strlen(rewritten.c_str()),
                   "target %s gave %s, expected %s", fuzz::Show(target).c_str(),
                   fuzz::Show(rewritten.c_str()).c_str(), fuzz::Show(expected).c_str());
        const int after = BlankTargetCounter();
        const int expectedAfter =
            numbered ? (before >= kBlankTargetCounterLast ? 0 : before + 1) : before;
        FUZZ_CHECK(after == expectedAfter, "counter %d after %d", after, before);
        // A rewritten name is the program's own: every later scan stops there.
        FUZZ_CHECK(ClassifyTarget(rewritten.c_str(), true) == TargetDecision::StopScan,
                   "rewritten %s is not recognised", fuzz::Show(rewritten.c_str()).c_str());
    }
    FUZZ_CHECK(ClassifyTarget(nullptr, isTopLevel) == ExpectedDecision("", isTopLevel),
               "a null target is not taken as an empty one");
    return 0;
}
