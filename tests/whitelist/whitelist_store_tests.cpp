#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "support/test_support.h"
#include "whitelist/whitelist_store.h"

using namespace korvane;
using korvane::test::ReadFileBytes;
using korvane::test::TempDirectory;
using korvane::test::WriteFileBytes;

namespace {

std::vector<std::string> Entries(const WhiteListStore& store) {
    std::vector<std::string> out;
    for (const AnsiString& entry : store.Snapshot()) out.emplace_back(entry.c_str());
    return out;
}

std::vector<AnsiString> List(std::initializer_list<const char*> items) {
    std::vector<AnsiString> out;
    for (const char* item : items) out.emplace_back(item);
    return out;
}

}  // namespace

TEST(WhiteListFile, TokensSplitAtAnyWhitespaceInFileOrder) {
    const char text[] =
        "  http://a.example/ \t http://b.example/\r\n\r\n"
        "\vhttp://c.example/x\fd.example\n\nlast-without-line-end";
    auto entries = ParseWhiteList(text, sizeof text - 1);
    ASSERT_EQ(5u, entries.size());
    EXPECT_STREQ("http://a.example/", entries[0].c_str());
    EXPECT_STREQ("http://b.example/", entries[1].c_str());
    EXPECT_STREQ("http://c.example/x", entries[2].c_str());
    EXPECT_STREQ("d.example", entries[3].c_str());
    EXPECT_STREQ("last-without-line-end", entries[4].c_str());
}

TEST(WhiteListFile, CtrlZEndsTheTextAsInATextModeRead) {
    const char text[] = "one two\x1a three";
    auto entries = ParseWhiteList(text, sizeof text - 1);
    ASSERT_EQ(2u, entries.size());
    EXPECT_STREQ("two", entries[1].c_str());
}

TEST(WhiteListFile, OverLongTokenIsDroppedWholeNotCut) {
    const std::string exact(259, 'a');
    const std::string tooLong = "http://" + std::string(300, 'b');
    const std::string text = exact + "\n" + tooLong + "\nhttp://after/\n" + std::string(260, 'c');
    auto entries = ParseWhiteList(text.data(), text.size());
    ASSERT_EQ(2u, entries.size());
    EXPECT_EQ(exact, entries[0].c_str());
    EXPECT_STREQ("http://after/", entries[1].c_str());
}

TEST(WhiteListFile, ANulInsideATokenEndsTheEntryThere) {
    const char text[] = "ab\0cd \0xy ok";
    auto entries = ParseWhiteList(text, sizeof text - 1);
    ASSERT_EQ(2u, entries.size());
    EXPECT_STREQ("ab", entries[0].c_str());
    EXPECT_STREQ("ok", entries[1].c_str());
}

TEST(WhiteListFile, FormatWritesOneEntryPerCrLfLine) {
    EXPECT_STREQ("\r\n", FormatWhiteList({}).c_str());
    EXPECT_STREQ("a\r\nb\r\n", FormatWhiteList(List({"a", "b"})).c_str());
}

class WhiteListStoreTest : public ::testing::Test {
protected:
    TempDirectory dir;
    std::string file = dir.File(kWhiteListFileName);
};

TEST_F(WhiteListStoreTest, MissingFileLeavesTheStoreEmptyAndCreatesNothing) {
    WhiteListStore store(dir.path().c_str());
    store.LoadIfEmpty();
    EXPECT_EQ(0, store.Count());
    EXPECT_FALSE(test::FileExists(file));
}

TEST_F(WhiteListStoreTest, RoundTripKeepsEntriesAndOrderWithCrLfLines) {
    ASSERT_TRUE(WriteFileBytes(file, "http://one/ http://two/\n\n  http://three/path?q=1"));
    WhiteListStore store(dir.path().c_str());
    store.LoadIfEmpty();
    ASSERT_EQ(3, store.Count());
    ASSERT_TRUE(store.Save());
    EXPECT_EQ("http://one/\r\nhttp://two/\r\nhttp://three/path?q=1\r\n", ReadFileBytes(file));

    WhiteListStore again(dir.path().c_str());
    again.LoadIfEmpty();
    EXPECT_EQ(Entries(store), Entries(again));
}

TEST_F(WhiteListStoreTest, EmptyStoreSavesOneLineEndAndLoadsEmpty) {
    WhiteListStore store(dir.path().c_str());
    ASSERT_TRUE(store.Save());
    EXPECT_EQ("\r\n", ReadFileBytes(file));
    WhiteListStore again(dir.path().c_str());
    again.LoadIfEmpty();
    EXPECT_EQ(0, again.Count());
}

TEST_F(WhiteListStoreTest, EntriesAreStoredAsGivenAndABlankSplitsThemOnReload) {
    WhiteListStore store(dir.path().c_str());
    EXPECT_TRUE(store.Append("http://same/"));
    EXPECT_TRUE(store.Append("http://same/"));
    EXPECT_TRUE(store.Append("two words"));
    ASSERT_TRUE(store.Save());
    EXPECT_EQ("http://same/\r\nhttp://same/\r\ntwo words\r\n", ReadFileBytes(file));
    WhiteListStore again(dir.path().c_str());
    again.LoadIfEmpty();
    EXPECT_EQ((std::vector<std::string>{"http://same/", "http://same/", "two", "words"}),
              Entries(again));
}

TEST_F(WhiteListStoreTest, AStoreWithEntriesIsNeverReloaded) {
    ASSERT_TRUE(WriteFileBytes(file, "first\r\n"));
    WhiteListStore store(dir.path().c_str());
    store.LoadIfEmpty();
    ASSERT_TRUE(WriteFileBytes(file, "changed\r\nmore\r\n"));
    store.LoadIfEmpty();
    EXPECT_EQ(std::vector<std::string>{"first"}, Entries(store));
}

TEST_F(WhiteListStoreTest, NoMoreThan800EntriesByLoadAppendOrReplaceAll) {
    std::string text;
    for (int i = 0; i < 805; ++i) text += "http://site" + std::to_string(i) + "/\n";
    ASSERT_TRUE(WriteFileBytes(file, text));
    WhiteListStore store(dir.path().c_str());
    store.LoadIfEmpty();
    ASSERT_EQ(800, store.Count());
    EXPECT_STREQ("http://site799/", store.EntryAt(799).c_str());

    EXPECT_FALSE(store.Append("http://one-more/"));
    EXPECT_EQ(800, store.Count());

    std::vector<AnsiString> many(801, AnsiString("x"));
    EXPECT_FALSE(store.ReplaceAll(many));
    EXPECT_EQ(800, store.Count());
    EXPECT_STREQ("http://site0/", store.EntryAt(0).c_str());

    many.pop_back();
    EXPECT_TRUE(store.ReplaceAll(many));
    EXPECT_EQ(800, store.Count());
}

TEST_F(WhiteListStoreTest, OverLongAdditionsAreRefusedAndChangeNothing) {
    WhiteListStore store(dir.path().c_str());
    ASSERT_TRUE(store.Append("http://kept/"));
    EXPECT_FALSE(store.Append(std::string(260, 'a').c_str()));
    EXPECT_TRUE(store.Append(std::string(259, 'a').c_str()));
    EXPECT_FALSE(store.ReplaceAll(List({"ok", std::string(260, 'z').c_str()})));
    EXPECT_EQ(2, store.Count());
    EXPECT_STREQ("http://kept/", store.EntryAt(0).c_str());
    EXPECT_FALSE(store.Append(nullptr));
}

TEST_F(WhiteListStoreTest, SaveOverAReadOnlyFileFailsAndLeavesItWhole) {
    ASSERT_TRUE(WriteFileBytes(file, "http://old/\r\n"));
    ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
    WhiteListStore store(dir.path().c_str());
    store.Append("http://new/");
    EXPECT_FALSE(store.Save());
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ("http://old/\r\n", ReadFileBytes(file));
    EXPECT_FALSE(test::FileExists(dir.File(kWhiteListTempFileName)));
    EXPECT_EQ(1, store.Count());  // the store keeps its entry
}

TEST_F(WhiteListStoreTest, SaveIntoAFolderThatCannotTakeTheNewFileFailsAndLeavesTheOldOne) {
    ASSERT_TRUE(WriteFileBytes(file, "http://old/\r\n"));
    // The temporary file's name is taken by a folder, so the new list cannot
    // be written; the same happens in a folder the user may not write to.
    ASSERT_TRUE(CreateDirectoryA(dir.File(kWhiteListTempFileName).c_str(), nullptr));
    WhiteListStore store(dir.path().c_str());
    store.Append("http://new/");
    EXPECT_FALSE(store.Save());
    EXPECT_EQ("http://old/\r\n", ReadFileBytes(file));

    WhiteListStore gone((dir.path() + "no-such-folder\\").c_str());
    gone.Append("x");
    EXPECT_FALSE(gone.Save());
}

TEST_F(WhiteListStoreTest, FilePathIsInTheGivenFolder) {
    WhiteListStore withSlash(dir.path().c_str());
    EXPECT_EQ(file, withSlash.FilePath().c_str());
    std::string noSlash = dir.path().substr(0, dir.path().size() - 1);
    WhiteListStore withoutSlash(noSlash.c_str());
    EXPECT_EQ(file, withoutSlash.FilePath().c_str());
}

TEST_F(WhiteListStoreTest, ReadersNeverSeeAHalfReplacedList) {
    WhiteListStore store(dir.path().c_str());
    const std::vector<AnsiString> a = List({"http://a1/", "http://a2/", "http://a3/"});
    const std::vector<AnsiString> b = List({"http://b1/", "http://b2/"});
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::thread writer([&] {
        for (int i = 0; i < 4000; ++i) store.ReplaceAll(i % 2 ? a : b);
        stop = true;
    });
    std::thread reader([&] {
        while (!stop) {
            int seenA = 0, seenB = 0;
            store.AnyEntry([&](const char* entry) {
                if (entry[7] == 'a') ++seenA;
                else if (entry[7] == 'b') ++seenB;
                else ++bad;
                return false;
            });
            if (!((seenA == 3 && seenB == 0) || (seenA == 0 && seenB == 2) ||
                  (seenA == 0 && seenB == 0)))
                ++bad;
        }
    });
    writer.join();
    reader.join();
    EXPECT_EQ(0, bad.load());
}
