// The names under which each user and session finds its own broker. (What
// the broker takes as a message, the fuzz target tries with any bytes
// against the format written plainly.) Also built natively.
#include <gtest/gtest.h>

#include <string>

#include "channel/channel_rules.h"

using namespace korvane;

TEST(BrokerNames, EachUserAndSessionHasItsOwnPipe) {
    char name[256];
    const char* sid = "S-1-5-21-1004336348-1177238915-682003330-512";
    const std::string pipe = std::string("\\\\.\\pipe\\Korvane.Broker.") + sid;
    ASSERT_TRUE(BrokerPipeName(sid, 3, "Local\\", name, sizeof name));
    EXPECT_EQ(pipe + ".Session3", name);
    // A prefix a test chose stands for another session, never for a real one.
    ASSERT_TRUE(BrokerPipeName(sid, 3, "Local\\Session3", name, sizeof name));
    EXPECT_EQ(pipe + ".Local.Session3", name);
    for (const char* bad : {"Local\\a\\b", "Global\\", "Local\\\t"})
        EXPECT_FALSE(BrokerPipeName(sid, 1, bad, name, sizeof name)) << bad;
    EXPECT_FALSE(BrokerPipeName("S-1-5\\..\\x", 1, "Local\\", name, sizeof name));
    EXPECT_FALSE(BrokerPipeName(nullptr, 1, "Local\\", name, sizeof name));
    EXPECT_FALSE(BrokerPipeName(sid, 1, "Local\\", name, 40));
    EXPECT_STREQ("", name);
    EXPECT_TRUE(IsBrokerProgramPath("c:\\Vantrell\\KORVANEBROKER.EXE"));
    EXPECT_FALSE(IsBrokerProgramPath("C:\\KorvaneBroker.exe\\iexplore.exe"));
    EXPECT_FALSE(IsBrokerProgramPath("C:\\x\\MyKorvaneBroker.exe"));
    EXPECT_FALSE(IsBrokerProgramPath(nullptr));
}

// Protected Mode starts the broker silently only where its elevation
// policy names this program in this folder with Policy 3.
TEST(BrokerNames, OnlyAPolicyNamingThisFolderStartsTheBrokerSilently) {
    const char* folder = "C:\\Program Files\\Vantrell\\";
    const char* path = "C:\\Program Files\\Vantrell";
    EXPECT_TRUE(ElevationPolicyStartsSilently("KorvaneBroker.exe", path, 3, folder));
    EXPECT_TRUE(ElevationPolicyStartsSilently("korvanebroker.EXE", "c:\\program files\\vantrell\\", 3, folder));
    for (unsigned long policy : {0ul, 1ul, 2ul, 4ul})  // refused, at low, the user asked
        EXPECT_FALSE(ElevationPolicyStartsSilently("KorvaneBroker.exe", path, policy, folder)) << policy;
    for (const char* other : {"C:\\Program Files\\Vantrel", "C:\\Program Files\\Vantrell\\Sub", ""})
        EXPECT_FALSE(ElevationPolicyStartsSilently("KorvaneBroker.exe", other, 3, folder)) << other;
    for (const char* name : {"KorvaneBroker.exe ", "Korvane.dll", ""})
        EXPECT_FALSE(ElevationPolicyStartsSilently(name, path, 3, folder)) << name;
    EXPECT_FALSE(ElevationPolicyStartsSilently(nullptr, path, 3, folder));
}
