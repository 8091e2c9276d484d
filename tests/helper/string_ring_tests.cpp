#include <gtest/gtest.h>

#include <mbctype.h>

#include <atomic>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "state/string_ring.h"
#include "support/test_support.h"

using namespace korvane;

namespace {
std::string Name(int i) { return "http://popup" + std::to_string(i) + ".example/"; }
}  // namespace

TEST(StringRing, HoldsNinetyNineEntriesThenDropsTheOldest) {
    StringRing ring;
    for (int i = 0; i < 99; ++i) ASSERT_TRUE(ring.Add(Name(i).c_str()));
    EXPECT_EQ(99, ring.Count());
    EXPECT_EQ(0, ring.Start());
    EXPECT_EQ(99, ring.End());
    EXPECT_TRUE(ring.Contains(Name(0).c_str()));

    ASSERT_TRUE(ring.Add(Name(99).c_str()));
    EXPECT_EQ(99, ring.Count());
    EXPECT_EQ(1, ring.Start());
    EXPECT_EQ(0, ring.End());
    EXPECT_FALSE(ring.Contains(Name(0).c_str()));
    EXPECT_TRUE(ring.Contains(Name(99).c_str()));

    // Iteration runs oldest to newest across the wrap.
    auto entries = ring.Snapshot();
    ASSERT_EQ(99u, entries.size());
    EXPECT_EQ(Name(1), entries.front().c_str());
    EXPECT_EQ(Name(99), entries.back().c_str());

    ASSERT_TRUE(ring.Add(Name(100).c_str()));
    EXPECT_EQ(2, ring.Start());
    EXPECT_EQ(1, ring.End());
}

// Two windows (owners 1 and 2) with a page each and a frame in the first:
// every name stays known with the addresses of its elements while its page
// is shown, up to what a page keeps.
TEST(KnownTargetNames, ANameLeadsToItsElementsAddressesWhileItsPageIsShown) {
    KnownTargetNames names;
    const auto key = [](int i) { return static_cast<std::uint64_t>(1000 + i); };
    for (int i = 0; i < 500; ++i) {
        names.Add(1, 10, ("z9zlink" + std::to_string(i)).c_str(), key(i));
        names.Add(1, 10, "z9z0_blank", key(i));  // the same few names over and over
    }
    names.Add(1, 11, "inFrame", key(1));
    names.Add(2, 20, "z9zlink0", key(7));
    names.Add(2, 20, "z9zbase", 0);  // a base element's: no address
    names.Add(2, 20, std::string(2084, 'n').c_str(), key(1));
    // A third window's names push all of those out of the ring.
    for (int i = 0; i < 99; ++i) names.Add(3, 30, ("z9zother" + std::to_string(i)).c_str(), key(i));
    EXPECT_TRUE(names.Contains("z9zlink0") && names.Contains("z9zlink499") && names.Contains("z9zbase"));
    EXPECT_FALSE(names.Contains("z9zlink500") || names.Contains(std::string(2084, 'n').c_str()));
    EXPECT_TRUE(names.Leads("z9zlink499", key(499)) && names.Leads("z9z0_blank", key(499)));
    EXPECT_FALSE(names.Leads("z9zlink499", key(498)) || names.Leads("z9zbase", 0));

    names.ForgetPage(1, 11);  // the frame went elsewhere
    EXPECT_FALSE(names.Contains("inFrame") || names.Leads("inFrame", key(1)));
    EXPECT_TRUE(names.Leads("z9zlink1", key(1)));
    names.ForgetOwner(1);  // the first window shows another page
    EXPECT_FALSE(names.Contains("z9zlink1") || names.Leads("z9zlink0", key(0)));
    EXPECT_TRUE(names.Leads("z9zlink0", key(7)));  // the other window's still
    names.ForgetOwner(2);
    EXPECT_FALSE(names.Contains("z9zlink0"));
    names.ForgetOwner(3);
    EXPECT_TRUE(names.Contains("z9zother0"));  // one of the ring's 99, with no address
    EXPECT_FALSE(names.Leads("z9zother0", key(0)));

    // A page of a hundred thousand links keeps its first ones; its next page
    // starts afresh.
    for (int i = 0; i < 100000; ++i) names.Add(4, 40, "z9z1_blank", key(i));
    EXPECT_TRUE(names.Leads("z9z1_blank", key(KnownTargetNames::kKeptPerPage - 2)));
    EXPECT_FALSE(names.Leads("z9z1_blank", key(99999)));
    names.ForgetPage(4, 40);
    names.Add(4, 40, "z9z1_blank", key(99999));
    EXPECT_TRUE(names.Leads("z9z1_blank", key(99999)));
}

TEST(StringRing, DuplicatesChangeNothingEvenTheOldest) {
    StringRing ring;
    ring.Add("first");
    ring.Add("second");
    EXPECT_FALSE(ring.Add("first"));
    EXPECT_FALSE(ring.Add("second"));
    EXPECT_EQ(2, ring.End());
    auto entries = ring.Snapshot();
    EXPECT_STREQ("first", entries[0].c_str());
    EXPECT_STREQ("second", entries[1].c_str());
}

TEST(StringRing, LetterCaseMakesADifferentEntryAndEmptyIsAnEntry) {
    StringRing ring;
    EXPECT_TRUE(ring.Add("http://Example.com/"));
    EXPECT_TRUE(ring.Add("http://example.com/"));
    EXPECT_FALSE(ring.Contains("HTTP://EXAMPLE.COM/"));
    EXPECT_FALSE(ring.Contains(""));
    EXPECT_TRUE(ring.Add(""));
    EXPECT_TRUE(ring.Contains(""));
    EXPECT_EQ(3, ring.Count());
}

// Pages choose these strings; the rings live as long as the browser.
TEST(StringRing, NamesTooLongToKeepAreNeverKnownAndAddressesAreCut) {
    StringRing ring;
    const std::string longest(kLongestRingEntry, 'n');
    EXPECT_TRUE(ring.Add(longest.c_str()));
    EXPECT_FALSE(ring.Add((longest + "n").c_str()));
    EXPECT_FALSE(ring.Contains((longest + "n").c_str()));

    BlockedPopupLog log;
    const std::string huge = "http://x.example/" + std::string(16 << 20, 'u');
    EXPECT_TRUE(log.Add(huge.c_str()));
    EXPECT_FALSE(log.Add((huge + "v").c_str()));  // the same first 2,083 bytes
    EXPECT_EQ(huge.substr(0, kLongestRingEntry), log.Snapshot().at(0).c_str());
    // Nor is a double-byte character cut in two.
    const int codePage = _getmbcp();
    ASSERT_EQ(0, _setmbcp(932));
    log.Add((std::string(kLongestRingEntry - 1, 'a') + "\x82\xA0").c_str());
    _setmbcp(codePage);
    EXPECT_EQ(kLongestRingEntry - 1, std::strlen(log.Snapshot().at(1).c_str()));
}

// Four threads add overlapping sets of strings while two others look them up.
// Afterwards the ring must hold exactly 99 distinct, intact entries, every one
// of them a string that was added, and lookups must never have found a string
// that was never added.
TEST(StringRing, ConcurrentAddAndContainsLoseAndCorruptNothing) {
    StringRing ring;
    std::atomic<bool> stop{false};
    std::atomic<int> falseHits{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&ring, t] {
            for (int i = 0; i < 3000; ++i) ring.Add(Name((i * 7 + t * 13) % 500).c_str());
        });
    }
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r) {
        readers.emplace_back([&] {
            int i = 0;
            while (!stop) {
                ring.Contains(Name(i++ % 500).c_str());
                if (ring.Contains("never-added")) ++falseHits;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    stop = true;
    for (auto& thread : readers) thread.join();

    auto entries = ring.Snapshot();
    ASSERT_EQ(99u, entries.size());
    std::set<std::string> distinct;
    for (const AnsiString& entry : entries) {
        std::string text = entry.c_str();
        EXPECT_EQ(0u, text.rfind("http://popup", 0)) << text;
        distinct.insert(text);
    }
    EXPECT_EQ(99u, distinct.size());
    EXPECT_EQ(0, falseHits.load());
}

class BlockedPopupLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        listBox = CreateWindowExA(0, "LISTBOX", "", WS_POPUP | LBS_NOTIFY, 0, 0, 100, 100, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(nullptr, listBox);
    }
    void TearDown() override {
        logListBox = nullptr;
        DestroyWindow(listBox);
    }
    std::string Line(int index) {
        char text[512] = {};
        SendMessageA(listBox, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text));
        return text;
    }
    int Lines() { return static_cast<int>(SendMessageA(listBox, LB_GETCOUNT, 0, 0)); }

    HWND listBox = nullptr;
};

TEST_F(BlockedPopupLogTest, NewAddressGoesToTheTopOfAnOpenListOnceOnly) {
    BlockedPopupLog log;
    log.Add("http://before-open/");
    logListBox = listBox;
    EXPECT_TRUE(log.Add("http://a/"));
    EXPECT_TRUE(log.Add("http://b/"));
    EXPECT_FALSE(log.Add("http://a/"));
    ASSERT_EQ(2, Lines());
    EXPECT_EQ("http://b/", Line(0));
    EXPECT_EQ("http://a/", Line(1));
    logListBox = nullptr;
    log.Add("http://after-close/");
    EXPECT_EQ(2, Lines());
}

// A browser thread adds while the list box's own thread keeps reading the
// log, as the dialog does when it opens. The insert is a cross-thread send;
// if it were made while the ring's lock is held, the two would deadlock.
TEST_F(BlockedPopupLogTest, LiveInsertFromAnotherThreadDoesNotDeadlockWithAReader) {
    BlockedPopupLog log;
    logListBox = listBox;
    std::atomic<bool> done{false};
    std::thread browser([&] {
        for (int i = 0; i < 200; ++i) log.Add(Name(i).c_str());
        done = true;
    });
    ASSERT_TRUE(test::WaitUntil(
        [&] {
            log.Snapshot();
            return done.load();
        },
        30000));
    browser.join();
    EXPECT_EQ(200, Lines());
    EXPECT_EQ(Name(199), Line(0));
}
