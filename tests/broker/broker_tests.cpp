// The broker as a program: one per user and session, ended by /stop; and
// the session's log it reads, which any process of the user may write.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "channel/broker_channel.h"
#include "channel/session_log.h"
#include "state/integrity.h"
#include "support/test_support.h"

using namespace korvane;
using korvane::test::ChildProcess;
using korvane::test::WaitUntil;

namespace {

std::string BrokerProgram() { return test::BuildDirectory() + "KorvaneBroker.exe"; }

// The broker's mutex for a session prefix, as the broker names it.
std::string BrokerMutex(const std::string& prefix) {
    return prefix + "Korvane.Broker." + UserSidText().c_str();
}

bool BrokerOf(const std::string& prefix) {
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, BrokerMutex(prefix).c_str());
    if (mutex) CloseHandle(mutex);
    return mutex != nullptr;
}

// Sets an environment variable for the children started while it lives.
class ChildEnvironment {
public:
    ChildEnvironment(const char* name, const char* value) : name_(name) {
        SetEnvironmentVariableA(name, value);
    }
    ~ChildEnvironment() { SetEnvironmentVariableA(name_, nullptr); }

private:
    const char* name_;
};

}  // namespace

TEST(BrokerProgram, OnePerUserAndSessionEachEndedByStop) {
    ASSERT_EQ(0, test::RunProcess("\"" + BrokerProgram() + "\" /stop"));
    ASSERT_FALSE(BrokerOf(kSessionObjectPrefix));
    // Started as a Protected Mode browser would start it: the broker runs
    // at medium integrity or not at all, and pays the seam no heed.
    auto low = std::make_unique<ChildEnvironment>(kLowIntegrityVariable, "1");
    ChildProcess broker("\"" + BrokerProgram() + "\"");
    low.reset();
    ASSERT_TRUE(WaitUntil([] { return BrokerOf(kSessionObjectPrefix); }, 15000));

    // A second one of the session ends at once; the first serves on.
    ChildProcess second("\"" + BrokerProgram() + "\"");
    EXPECT_EQ(0, second.Wait(15000));
    EXPECT_TRUE(BrokerOf(kSessionObjectPrefix));
    EXPECT_TRUE(SendToBroker(BrokerMessageKind::PopupStateChanged));

    // Another session has a broker of its own, beside it.
    const std::string other = "Local\\KorvaneOtherSession";
    {
        ChildEnvironment session(kSessionPrefixVariable, other.c_str());
        ChildProcess otherBroker("\"" + BrokerProgram() + "\"");
        EXPECT_TRUE(WaitUntil([&] { return BrokerOf(other); }, 15000));
        EXPECT_TRUE(BrokerOf(kSessionObjectPrefix));

        // Stopping ends every broker on the desktop, and waits for each.
        EXPECT_EQ(0, test::RunProcess("\"" + BrokerProgram() + "\" /stop"));
        EXPECT_EQ(0, otherBroker.Wait(0));
    }
    EXPECT_EQ(0, broker.Wait(0));
    EXPECT_FALSE(BrokerOf(kSessionObjectPrefix));
    EXPECT_FALSE(SendToBroker(BrokerMessageKind::PopupStateChanged));
}

// The log's block as another process of the user could write it.
TEST(SessionLog, EntriesComeBackInOrderBoundedWhateverTheBlockHolds) {
    std::vector<AnsiString> read;
    DWORD cursor = 0;
    ReadSessionLog(&cursor, &read);
    const DWORD start = cursor;
    read.clear();
    ASSERT_TRUE(WriteToSessionLog("http://one.example/"));
    ASSERT_TRUE(WriteToSessionLog("http://two.example/"));
    ASSERT_TRUE(WriteToSessionLog(std::string(5000, 'x').c_str()));
    ReadSessionLog(&cursor, &read);
    ASSERT_EQ(3u, read.size());
    EXPECT_STREQ("http://one.example/", read[0].c_str());
    EXPECT_STREQ("http://two.example/", read[1].c_str());
    EXPECT_EQ(2083u, read[2].length());  // cut as the log keeps it
    EXPECT_EQ(start + 3, cursor);

    // More than it holds: the newest 99.
    for (int i = 0; i < 150; ++i)
        WriteToSessionLog(("http://n" + std::to_string(i) + ".example/").c_str());
    read.clear();
    ReadSessionLog(&cursor, &read);
    ASSERT_EQ(99u, read.size());
    EXPECT_STREQ("http://n51.example/", read.front().c_str());
    EXPECT_STREQ("http://n149.example/", read.back().c_str());

    // Scribbled on: a slot without a NUL, one half-written, a count that
    // lies. Every entry read is bounded, the half-written one skipped.
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE,
                                      (std::string(kSessionObjectPrefix) + kSessionLogName).c_str());
    ASSERT_NE(nullptr, mapping);
    auto* bytes = static_cast<unsigned char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(nullptr, bytes);
    const DWORD written = *reinterpret_cast<DWORD*>(bytes);
    const size_t slotSize = 4 + 2084;
    unsigned char* newest = bytes + 4 + ((written - 1) % 99) * slotSize;
    memset(newest + 4, 'z', 2084);
    unsigned char* older = bytes + 4 + ((written - 2) % 99) * slotSize;
    *reinterpret_cast<LONG*>(older) |= 1;  // odd: being written
    read.clear();
    cursor = written - 2;
    ReadSessionLog(&cursor, &read);
    ASSERT_EQ(1u, read.size());
    EXPECT_EQ(2083u, read[0].length());
    *reinterpret_cast<DWORD*>(bytes) = 0xFFFFFFF0u;
    read.clear();
    ReadSessionLog(&cursor, &read);
    EXPECT_LE(read.size(), 99u);
    EXPECT_EQ(0xFFFFFFF0u, cursor);
    UnmapViewOfFile(bytes);
    CloseHandle(mapping);
}
