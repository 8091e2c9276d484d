#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include <shlobj.h>

#include "base/unique_resource.h"
#include "state/module_path.h"
#include "support/test_support.h"
#include "whitelist/whitelist_store.h"

using namespace korvane;
using korvane::test::ReadFileBytes;
using korvane::test::TempDirectory;
using korvane::test::WriteFileBytes;

namespace {

std::vector<std::string> Texts(const std::vector<AnsiString>& entries) {
    std::vector<std::string> out;
    for (const AnsiString& entry : entries) out.emplace_back(entry.c_str());
    return out;
}
std::vector<std::string> Entries(const WhiteListStore& store) { return Texts(store.Snapshot()); }

std::vector<AnsiString> List(std::initializer_list<const char*> items) {
    std::vector<AnsiString> out;
    for (const char* item : items) out.emplace_back(item);
    return out;
}

// A file as Notepad saves it in "Unicode": the mark, then UTF-16LE.
template <size_t N>
std::string Utf16(const wchar_t (&text)[N]) {
    return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(text), 2 * (N - 1));
}

// Opens path the way another program might, sharing only what share says.
HANDLE Hold(const std::string& path, DWORD share) {
    return CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Saves of this store try "WhiteList.00000000.tmp", "WhiteList.00000001.tmp"
// ... in turn, so a test can take those names first.
class KnownNamesStore : public WhiteListStore {
    using WhiteListStore::WhiteListStore;
    DWORD TempNameSeed() override { return 0; }
};

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

// A file no honest list comes near (a token without end, or endless white
// space) is read up to a bound: what lies within it is kept, nothing after.
TEST(WhiteListFile, ReadingStopsAtABoundNoHonestListReaches) {
    for (const char filler : {' ', 'x'}) {
        const std::string text = "http://kept/ " + std::string(2 << 20, filler) + " http://beyond/";
        EXPECT_EQ(std::vector<std::string>{"http://kept/"}, Texts(ParseWhiteList(text.data(), text.size())));
    }
}

TEST(WhiteListFile, ANulInsideATokenEndsTheEntryThere) {
    const char text[] = "ab\0cd \0xy ok";
    auto entries = ParseWhiteList(text, sizeof text - 1);
    ASSERT_EQ(2u, entries.size());
    EXPECT_STREQ("ab", entries[0].c_str());
    EXPECT_STREQ("ok", entries[1].c_str());
}

TEST(WhiteListFile, FilesMarkedAsUtf8OrUtf16AreReadAsSuch) {
    if (GetACP() != 1252) GTEST_SKIP() << "the cases are written for the Western code page";
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"\xEF\xBB\xBFhttp://a/ b", {"http://a/", "b"}},
        {"\xEF\xBB\xBF" "caf\xC3\xA9 bad\xC3 ok", {"caf\xE9", "ok"}},
        {Utf16(L"http://a/\r\n b\tc\0d e\x1a f") + "x", {"http://a/", "b", "c", "e"}},
        // No exact ANSI form: a best-fit "a" or a "?" would name another site.
        {Utf16(L"ex\x0101mple.com caf\x00e9 half\xD800 last"), {"caf\xE9", "last"}},
        {"caf\xE9", {"caf\xE9"}},
    };
    for (const auto& [bytes, entries] : cases)
        EXPECT_EQ(entries, Texts(ParseWhiteList(bytes.data(), bytes.size()))) << bytes;
}

TEST(WhiteListFile, FormatWritesOneEntryPerCrLfLine) {
    EXPECT_STREQ("\r\n", FormatWhiteList({}).c_str());
    EXPECT_STREQ("a\r\nb\r\n", FormatWhiteList(List({"a", "b"})).c_str());
    // Read back as written: a first entry is never taken for a byte-order
    // mark, and no entry holds a Ctrl-Z, which would end the text.
    EXPECT_STREQ("\r\n\xFF\xFEx\r\n", FormatWhiteList(List({"\xFF\xFEx"})).c_str());
    EXPECT_FALSE(IsStorableEntry("http://a/\x1a" "b"));
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
    ASSERT_TRUE(store.Append("http://four/") && store.ReplaceAll(store.Snapshot()));
    ASSERT_TRUE(store.Save());
    EXPECT_EQ("http://one/\r\nhttp://two/\r\nhttp://three/path?q=1\r\nhttp://four/\r\n",
              ReadFileBytes(file));

    WhiteListStore again(dir.path().c_str());
    again.LoadIfEmpty();
    EXPECT_EQ(Entries(store), Entries(again));
}

TEST_F(WhiteListStoreTest, EmptyStoreSavesOneLineEndAndLoadsEmpty) {
    ASSERT_TRUE(WriteFileBytes(file, "x"));
    WhiteListStore store(dir.path().c_str());
    store.LoadIfEmpty();
    ASSERT_TRUE(store.ReplaceAll({}) && store.Save());
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

// Two stores on one folder stand for two browser processes that read the
// list at their start. A changes the list and saves; B makes its own
// changes, unsaved, and opens a dialog, which reloads a changed file; then
// B saves.
TEST_F(WhiteListStoreTest, ProcessesNeverRevertOrLoseEachOthersChanges) {
    using Change = std::function<void(WhiteListStore&)>;
    const auto keep = [](std::vector<AnsiString> list) {
        return [list](WhiteListStore& s) { s.ReplaceAll(list); };
    };
    const Change none = [](WhiteListStore&) {}, addD = [](WhiteListStore& s) { s.Append("d"); };
    const std::string handMade = "a b\n\nc";
    const struct {
        Change a, b;
        std::vector<std::string> result;
    } cases[] = {
        {none, none, {"a", "b", "c"}},
        {addD, none, {"a", "b", "c", "d"}},
        {addD, [](WhiteListStore& s) { s.Append("e"); }, {"a", "b", "c", "d", "e"}},
        {addD, addD, {"a", "b", "c", "d"}},  // added on both sides: once
        {keep(List({"a", "c"})), keep(List({"b", "c"})), {"c"}},
        // B's user emptied the list; a helper created then does not load it.
        {addD, [](WhiteListStore& s) { s.ReplaceAll({}), s.LoadIfEmpty(); }, {"d"}},
        {keep({}), keep(List({"b2", "a", "c"})), {"b2"}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteFileBytes(file, handMade));
        WhiteListStore a(dir.path().c_str()), b(dir.path().c_str());
        a.LoadIfEmpty();
        b.LoadIfEmpty();
        c.a(a);
        c.b(b);
        ASSERT_TRUE(a.Save());
        b.ReloadIfChanged();
        EXPECT_EQ(c.result, Entries(b));
        ASSERT_TRUE(b.Save());
        std::vector<AnsiString> result;
        for (const std::string& entry : c.result) result.emplace_back(entry.c_str());
        // Nothing changed, nothing written.
        EXPECT_EQ(&c == cases ? handMade : FormatWhiteList(result).c_str(), ReadFileBytes(file));
    }
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
    // Nor an empty entry, which would match every address, nor one with a
    // NUL inside, which would read as a shorter one.
    EXPECT_FALSE(store.Append("") || store.ReplaceAll(List({"ok", ""})));
    EXPECT_FALSE(store.ReplaceAll({AnsiString("ok"), AnsiString("\0http://x/", 10)}));
    EXPECT_FALSE(store.ReplaceAll({AnsiString("http://x/\0y", 11)}));
    EXPECT_EQ(2, store.Count());
}

// A failed save says why, and leaves the old file and the store's changes
// for a later save. (Wine enforces no file ACLs: a read-only list and
// sharing modes stand for a list the user may not write or read.)
TEST_F(WhiteListStoreTest, SaveOverAReadOnlyFileFailsAndLeavesItWhole) {
    ASSERT_TRUE(WriteFileBytes(file, "http://old/\r\n"));
    ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
    WhiteListStore store(dir.path().c_str());
    store.Append("http://new/");
    DWORD reason = 0;
    EXPECT_FALSE(store.Save(&reason));
    EXPECT_EQ(DWORD{ERROR_ACCESS_DENIED}, reason);
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ("http://old/\r\n", ReadFileBytes(file));
    ASSERT_TRUE(store.Save());
    EXPECT_EQ("http://old/\r\nhttp://new/\r\n", ReadFileBytes(file));
    {
        // A list this process cannot read is not overwritten either. (This
        // holder shares deletion only: the list could be replaced, not read.)
        UniqueFile holder(Hold(file, FILE_SHARE_DELETE));
        WhiteListStore blind(dir.path().c_str());
        blind.Append("x");
        EXPECT_FALSE(blind.Save(&reason));
        EXPECT_EQ(DWORD{ERROR_SHARING_VIOLATION}, reason);
    }
    EXPECT_EQ("http://old/\r\nhttp://new/\r\n", ReadFileBytes(file));
}

TEST_F(WhiteListStoreTest, SaveIntoAFolderThatCannotTakeTheNewFileFailsAndLeavesTheOldOne) {
    WhiteListStore gone((dir.path() + "no-such-folder\\").c_str());
    gone.Append("x");
    DWORD reason = 0;
    EXPECT_FALSE(gone.Save(&reason));
    EXPECT_EQ(DWORD{ERROR_PATH_NOT_FOUND}, reason);
}

// Anyone may add files to the folder. What they plant where saves write
// (hard links to a file only an administrator may change, the fixed name of
// old among them, or a folder) is never written through and stops no save.
TEST_F(WhiteListStoreTest, ASaveWritesOnlyAFileItCreated) {
    const std::string victim = dir.File("victim.dat");
    ASSERT_TRUE(WriteFileBytes(victim, "victim"));
    for (const char* name : {"WhiteList.tmp", "WhiteList.00000000.tmp", "WhiteList.00000001.tmp"})
        ASSERT_TRUE(CreateHardLinkA(dir.File(name).c_str(), victim.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(dir.File("WhiteList.00000002.tmp").c_str(), nullptr));
    KnownNamesStore store(dir.path().c_str());
    store.Append("http://new/");
    ASSERT_TRUE(store.Save());
    EXPECT_EQ("http://new/\r\n", ReadFileBytes(file));
    EXPECT_EQ("victim", ReadFileBytes(victim));
    // The new list's file was moved, the old one's deleted.
    EXPECT_FALSE(test::FileExists(dir.File("WhiteList.00000003.tmp")) ||
                 test::FileExists(dir.File("WhiteList.00000004.tmp")));
}

// Readers share deletion, so they never make a save fail. A program that
// holds the list without sharing it (an editor) makes a save wait a little,
// and fail only if it holds on, leaving neither of its files behind.
TEST_F(WhiteListStoreTest, ReadersNeverMakeASaveFailAndABusyListIsWaitedFor) {
    ASSERT_TRUE(WriteFileBytes(file, "http://old/\r\n"));
    KnownNamesStore store(dir.path().c_str());
    {
        UniqueFile reader(OpenWhiteListForReading(file.c_str()));
        store.Append("http://1/");
        EXPECT_TRUE(store.Save());
    }
    HANDLE editor = Hold(file, FILE_SHARE_READ);
    std::thread closeSoon([editor] {
        Sleep(50);
        CloseHandle(editor);
    });
    store.Append("http://2/");
    EXPECT_TRUE(store.Save());
    closeSoon.join();
    UniqueFile holdsOn(Hold(file, FILE_SHARE_READ));
    store.Append("http://3/");
    EXPECT_FALSE(store.Save());
    holdsOn.reset();
    EXPECT_EQ("http://old/\r\nhttp://1/\r\nhttp://2/\r\n", ReadFileBytes(file));
    EXPECT_FALSE(test::FileExists(dir.File("WhiteList.00000000.tmp")) ||
                 test::FileExists(dir.File("WhiteList.00000001.tmp")));
}

TEST_F(WhiteListStoreTest, FilePathIsInTheGivenFolder) {
    WhiteListStore withSlash(dir.path().c_str());
    EXPECT_EQ(file, withSlash.FilePath().c_str());
    std::string noSlash = dir.path().substr(0, dir.path().size() - 1);
    WhiteListStore withoutSlash(noSlash.c_str());
    EXPECT_EQ(file, withoutSlash.FilePath().c_str());
}

// Without a folder of its own (the library registered with regsvr32
// alone) the list lies beside the library; once setup made "Vantrell" in
// the common application data folder, there, found at the next use.
TEST_F(WhiteListStoreTest, TheSharedListLivesInTheFolderSetupMadeForIt) {
    char common[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common);
    const std::string folder = std::string(common) + "\\Vantrell\\";
    WhiteListStore store;
    EXPECT_EQ(std::string(LibraryDirectory().c_str()) + kWhiteListFileName, store.FilePath().c_str());
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << "left by another test";
    ASSERT_TRUE(store.Append("http://shared.example/") && store.Save());
    EXPECT_EQ("http://shared.example/\r\n", ReadFileBytes(folder + kWhiteListFileName));
    test::RemoveTree(folder);
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
            store.AnyEntry([&](const char* entry, size_t) {
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
