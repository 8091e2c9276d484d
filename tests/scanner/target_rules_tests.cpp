#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "scanner/target_rules.h"

using namespace korvane;

namespace {

struct TargetCase {
    const char* target;
    bool isTopLevel;
    TargetDecision expected;
};

const char* Name(TargetDecision decision) {
    switch (decision) {
    case TargetDecision::Keep: return "Keep";
    case TargetDecision::Rewrite: return "Rewrite";
    case TargetDecision::StopScan: return "StopScan";
    }
    return "?";
}

// Takes numbers until the next rewritten "_blank" will be z9z0_blank, as in
// a freshly loaded library.
void RewindBlankCounter() {
    while (BlankTargetCounter() != 0) MakeRewrittenTarget("_blank");
}

}  // namespace

TEST(ClassifyTarget, TopDocumentRewritesAllButReservedNamesAndStopsAtOwnNames) {
    const TargetCase cases[] = {
        {"_blank", true, TargetDecision::Rewrite},
        {"main", true, TargetDecision::Rewrite},
        {"_BLANK", true, TargetDecision::Rewrite},
        {"_blank\"", true, TargetDecision::Rewrite},
        {"_Self", true, TargetDecision::Rewrite},  // case-sensitive
        {"z9", true, TargetDecision::Rewrite},
        {"Z9Zmain", true, TargetDecision::Rewrite},
        {"_top", true, TargetDecision::Keep},
        {"_parent", true, TargetDecision::Keep},
        {"_self", true, TargetDecision::Keep},
        {"_search", true, TargetDecision::Keep},
        {"_main", true, TargetDecision::Keep},
        {"z9z0_blank", true, TargetDecision::StopScan},
        {"z9zmain", true, TargetDecision::StopScan},
        {"z9z", true, TargetDecision::StopScan},
        // A frame keeps every name but "_blank", its own rewritten ones too.
        {"_blank", false, TargetDecision::Rewrite},
        {"main", false, TargetDecision::Keep},
        {"_BLANK", false, TargetDecision::Keep},
        {"z9z3_blank", false, TargetDecision::Keep},
        {"_self", false, TargetDecision::Keep},
        {"_top", false, TargetDecision::Keep},
    };
    for (const TargetCase& c : cases)
        EXPECT_STREQ(Name(c.expected), Name(ClassifyTarget(c.target, c.isTopLevel)))
            << "target " << c.target << (c.isTopLevel ? " in the top document" : " in a frame");
}

TEST(MakeRewrittenTarget, NamesGetThePrefixAndOnlyBlankTakesANumber) {
    RewindBlankCounter();
    EXPECT_STREQ("z9znews", MakeRewrittenTarget("news").c_str());
    EXPECT_STREQ("z9z_BLANK", MakeRewrittenTarget("_BLANK").c_str());
    EXPECT_STREQ("z9z_blank\"", MakeRewrittenTarget("_blank\"").c_str());
    EXPECT_EQ(0, BlankTargetCounter()) << "only \"_blank\" itself advances the counter";

    // Twenty-one numbers, 0 to 20, then 0 again.
    for (int i = 0; i <= 20; ++i)
        EXPECT_EQ("z9z" + std::to_string(i) + "_blank", MakeRewrittenTarget("_blank").c_str());
    EXPECT_EQ(0, BlankTargetCounter());
    EXPECT_STREQ("z9z0_blank", MakeRewrittenTarget("_blank").c_str());
    EXPECT_EQ(1, BlankTargetCounter());
}

TEST(MakeRewrittenTarget, TakesTargetsOfAnyLengthAndBytes) {
    std::string longName(200000, 'x');
    longName[1000] = '\xE9';
    longName[5000] = '%';
    AnsiString rewritten = MakeRewrittenTarget(longName.c_str());
    ASSERT_EQ(longName.size() + 3, rewritten.length());
    EXPECT_EQ("z9z" + longName, rewritten.c_str());
    EXPECT_STREQ("z9z", MakeRewrittenTarget("").c_str());
}

TEST(MakeRewrittenTarget, ThreadsNeitherLoseNorShareNumbers) {
    const int kThreads = 6;
    const int kCycles = 3000;  // of 21 numbers each
    const int kPerThread = 21 * kCycles / kThreads;
    static_assert(21 * kCycles % kThreads == 0, "whole cycles");
    const int start = BlankTargetCounter();

    std::vector<std::vector<int>> taken(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&taken, t] {
            for (int i = 0; i < kPerThread; ++i) {
                AnsiString name = MakeRewrittenTarget("_blank");
                taken[t].push_back(std::atoi(name.c_str() + 3));
            }
        });
    }
    for (auto& thread : threads) thread.join();

    // Whole cycles were taken, so every number was handed out equally often
    // and the counter is back where it started. A step that two threads
    // could interleave would hand one number out twice and leave the counts
    // uneven.
    std::vector<int> uses(21, 0);
    for (const auto& numbers : taken)
        for (int n : numbers) {
            ASSERT_GE(n, 0);
            ASSERT_LE(n, 20);
            ++uses[n];
        }
    for (int n = 0; n <= 20; ++n) EXPECT_EQ(kCycles, uses[n]) << "number " << n;
    EXPECT_EQ(start, BlankTargetCounter());
}
