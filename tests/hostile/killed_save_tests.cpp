// A browser process killed while it saves its white list, 200 times, at
// moments spread over the save (TerminateProcess from this process, as the
// system or a crashing browser ends it): WhiteList.txt then holds exactly
// the old list or exactly the new one, and whatever a killed save left
// behind never stops a later one.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "hostile/save_lists.h"
#include "support/test_support.h"
#include "whitelist/whitelist_store.h"

using namespace korvane;
using namespace korvane::test;

namespace {

constexpr int kKills = 200;
// How far past the end of an uninterrupted save the kills reach.
constexpr double kReach = 1.25;

double Now() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string Image(unsigned serial) {
    const AnsiString image = FormatWhiteList(SaveList(serial));
    return std::string(image.c_str(), image.length());
}

// Counts what saves leave in the folder beside the list (new lists and
// backups of old ones); with ageMinutes, first makes each that old.
int Leftovers(const std::string& folder, int ageMinutes = 0) {
    int count = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\WhiteList.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        if (!lstrcmpiA(found.cFileName, kWhiteListFileName)) continue;
        ++count;
        if (!ageMinutes) continue;
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        ULARGE_INTEGER then{{now.dwLowDateTime, now.dwHighDateTime}};
        then.QuadPart -= ageMinutes * 60ull * 10000000;
        const FILETIME old{then.LowPart, then.HighPart};
        HANDLE file = CreateFileA((folder + "\\" + found.cFileName).c_str(), FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        EXPECT_TRUE(file != INVALID_HANDLE_VALUE && SetFileTime(file, nullptr, nullptr, &old));
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
}

// One korvane_saving_child, started a turn ahead so that its start costs
// no turn of its own.
class Saver {
public:
    Saver(const std::string& folder, unsigned serial, const std::string& entry = "") : serial_(serial) {
        const std::string prefix =
            "korvane-save-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(serial);
        go_ = CreateEventA(nullptr, TRUE, FALSE, (prefix + ".go").c_str());
        saving_ = CreateEventA(nullptr, TRUE, FALSE, (prefix + ".saving").c_str());
        done_ = CreateEventA(nullptr, TRUE, FALSE, (prefix + ".done").c_str());
        process_.reset(new ChildProcess("\"" + ProgramDirectory() + "korvane_saving_child.exe\" \"" + folder +
                                        "\" " + std::to_string(serial) + " " + prefix + " " + entry));
    }
    ~Saver() {
        process_.reset();
        for (HANDLE event : {go_, saving_, done_}) CloseHandle(event);
    }
    unsigned serial() const { return serial_; }
    // Lets it save; false when it never began.
    bool Begin() {
        SetEvent(go_);
        return WaitForSingleObject(saving_, 30000) == WAIT_OBJECT_0;
    }
    bool Done(DWORD timeoutMs) { return WaitForSingleObject(done_, timeoutMs) == WAIT_OBJECT_0; }
    ChildProcess& process() { return *process_; }

private:
    unsigned serial_;
    HANDLE go_, saving_, done_;
    std::unique_ptr<ChildProcess> process_;
};

TEST(KilledSave, TheListIsTheOldOrTheNewOneAndLaterSavesSucceed) {
    TempDirectory dir;
    // Without its trailing backslash, which would escape the closing quote.
    const std::string folder = dir.path().substr(0, dir.path().size() - 1);
    const std::string file = dir.File(kWhiteListFileName);
    ASSERT_TRUE(WriteFileBytes(file, Image(0)));
    unsigned serial = 0;
    std::unique_ptr<Saver> ahead(new Saver(folder, ++serial));
    auto take = [&] {
        std::unique_ptr<Saver> saver = std::move(ahead);
        ahead.reset(new Saver(folder, ++serial));
        return saver;
    };

    // How long an uninterrupted save of each length takes.
    double took[2] = {0, 0};
    for (int i = 0; i < 6; ++i) {
        std::unique_ptr<Saver> saver = take();
        ASSERT_TRUE(saver->Begin());
        const double start = Now();
        ASSERT_TRUE(saver->Done(30000));
        took[saver->serial() % 2] = std::max(took[saver->serial() % 2], Now() - start);
        EXPECT_EQ(0, saver->process().Wait());
        ASSERT_EQ(Image(saver->serial()), ReadFileBytes(file));
    }

    // Kill moments evenly spread over the save and a little past it, in an
    // order of their own.
    std::vector<double> moments;
    for (int k = 0; k < kKills; ++k) moments.push_back(kReach * (k + 0.5) / kKills);
    unsigned state = 14;
    for (int k = kKills - 1; k > 0; --k) {
        state = state * 1664525u + 1013904223u;
        std::swap(moments[k], moments[(state >> 8) % (k + 1)]);
    }
    int keptOld = 0, tookNew = 0, cutShort = 0;
    for (double moment : moments) {
        const std::string before = ReadFileBytes(file);
        std::unique_ptr<Saver> saver = take();
        ASSERT_TRUE(saver->Begin());
        const double until = Now() + moment * took[saver->serial() % 2];
        while (Now() < until) {
        }
        saver->process().Kill();
        const bool finished = saver->Done(0);
        if (!finished) ++cutShort;
        const std::string after = ReadFileBytes(file);
        if (after == before && !finished) {
            ++keptOld;
        } else if (after == Image(saver->serial())) {
            ++tookNew;
        } else {
            ADD_FAILURE() << "killed at " << moment << " of a save of list " << saver->serial()
                          << (finished ? " (it had finished)" : "") << ": WhiteList.txt holds "
                          << after.size() << " bytes, neither the old list (" << before.size()
                          << ") nor the new one";
        }
    }

    // A later save, with whatever the killed ones left in the folder: it
    // goes through them, and clears them away once they are old enough
    // that no save can still be using them.
    const int young = Leftovers(folder);
    WhiteListStore store(folder.c_str());
    store.LoadIfEmpty();
    ASSERT_TRUE(store.ReplaceAll({AnsiString("http://after.example/")}));
    DWORD reason = 0;
    EXPECT_TRUE(store.Save(&reason)) << "a later save failed with " << reason;
    const int left = Leftovers(folder, 60);
    EXPECT_EQ(young, left) << "a save deleted files young enough to be another save's";
    ASSERT_TRUE(store.ReplaceAll({AnsiString("http://later.example/")}));
    EXPECT_TRUE(store.Save(&reason)) << "a later save failed with " << reason;
    EXPECT_EQ(0, Leftovers(folder)) << "killed saves' files outlived a later save";

    const bool held = !::testing::Test::HasFailure();
    WriteFigure("killed_saves",
                "a process saving the white list (40 or 800 entries) killed with TerminateProcess "
                "at moments spread over its save",
                std::to_string(kKills) + " kills, " + std::to_string(cutShort) + " before the save ended",
                held ? "WhiteList.txt always exactly the old list (" + std::to_string(keptOld) +
                           ") or the new one (" + std::to_string(tookNew) + "); " + std::to_string(left) +
                           " temporary files left, none in a later save's way, and cleared by one "
                           "once old"
                     : "FAILED (see the test's output)");
}

// Two processes save at once, each adding an entry of its own, while an
// editor holding the list keeps the first at its replace: both stay.
TEST(ConcurrentSaves, TwoProcessesSavingAtOnceKeepBothEntries) {
    TempDirectory dir;
    const std::string folder = dir.path().substr(0, dir.path().size() - 1);
    const std::string file = dir.File(kWhiteListFileName);
    ASSERT_TRUE(WriteFileBytes(file, "http://old.example/\r\n"));
    Saver first(folder, 1, "http://first.example/"), second(folder, 2, "http://second.example/");
    HANDLE editor = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    ASSERT_TRUE(first.Begin() && second.Begin());
    Sleep(150);
    CloseHandle(editor);
    EXPECT_TRUE(first.Done(30000) && second.Done(30000));
    EXPECT_EQ(0, first.process().Wait());
    EXPECT_EQ(0, second.process().Wait());
    const std::string saved = ReadFileBytes(file);
    EXPECT_EQ(3u, ParseWhiteList(saved.data(), saved.size()).size()) << saved;
    for (const char* entry : {"http://first.example/", "http://second.example/"})
        EXPECT_NE(std::string::npos, saved.find(entry)) << saved;
}

// A save killed inside ReplaceFile (taken on Windows while a reader holds
// the list; Wine renames over readers, so the folder is laid out here)
// leaves no list and the old one in a backup dated as the old list: it
// comes back, and no later save deletes it.
TEST(KilledSave, AListLeftOnlyInABackupComesBack) {
    TempDirectory dir;
    const std::string folder = dir.path().substr(0, dir.path().size() - 1);
    ASSERT_TRUE(WriteFileBytes(dir.File("WhiteList.0000c0de.bak"), Image(1)));
    Leftovers(folder, 60);
    WhiteListStore store(folder.c_str());
    store.LoadIfEmpty();
    EXPECT_EQ(40, store.Count());
    ASSERT_TRUE(store.Append("http://after.example/"));
    ASSERT_TRUE(store.Save());
    std::vector<AnsiString> expected = SaveList(1);
    expected.emplace_back("http://after.example/");
    EXPECT_EQ(std::string(FormatWhiteList(expected).c_str()), ReadFileBytes(dir.File(kWhiteListFileName)));
}

}  // namespace
