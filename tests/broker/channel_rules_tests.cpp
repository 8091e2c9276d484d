// The channel's rules: what the broker accepts as a message, and the names
// under which each user and session finds its own broker. Also built
// natively, under the sanitizers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "channel/channel_rules.h"

using namespace korvane;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Message(uint16_t version, uint16_t kind, uint32_t length, const std::string& payload) {
    Bytes bytes = {static_cast<unsigned char>(version), static_cast<unsigned char>(version >> 8),
                   static_cast<unsigned char>(kind), static_cast<unsigned char>(kind >> 8)};
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned char>(length >> (8 * i)));
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

Bytes Popup(const std::string& address) {
    return Message(1, 1, static_cast<uint32_t>(address.size()), address);
}

bool Accepted(const Bytes& bytes, BrokerMessage* message = nullptr) {
    BrokerMessage parsed;
    const bool ok = ParseBrokerMessage(bytes.data(), bytes.size(), &parsed);
    if (message) *message = parsed;
    return ok;
}

}  // namespace

TEST(BrokerMessages, WellFormedMessagesAreReadBack) {
    // The address points into the message's bytes, which must outlive it.
    BrokerMessage message;
    const Bytes popup = Popup("http://ads.example/pop?x=1");
    ASSERT_TRUE(Accepted(popup, &message));
    EXPECT_EQ(BrokerMessageKind::PopupBlocked, message.kind);
    EXPECT_EQ("http://ads.example/pop?x=1", std::string(message.address, message.addressLength));

    const Bytes longest = Popup(std::string(kLongestBrokerAddress, 'a'));
    ASSERT_TRUE(Accepted(longest, &message));
    EXPECT_EQ(kLongestBrokerAddress, message.addressLength);
    // An empty address is logged like any other.
    EXPECT_TRUE(Accepted(Popup(""), &message));
    EXPECT_EQ(0u, message.addressLength);

    EXPECT_TRUE(Accepted(Message(1, 2, 0, ""), &message));
    EXPECT_EQ(BrokerMessageKind::PopupStateChanged, message.kind);
    EXPECT_EQ(nullptr, message.address);
    EXPECT_TRUE(Accepted(Message(1, 3, 0, ""), &message));
    EXPECT_EQ(BrokerMessageKind::TrayIconToggled, message.kind);
}

TEST(BrokerMessages, AnythingElseIsIgnored) {
    const std::string address = "http://ads.example/";
    const Bytes ignored[] = {
        {},                                                           // nothing
        Bytes(7, 0),                                                  // a header cut short
        Message(0, 1, 19, address),                                   // unknown versions
        Message(2, 1, 19, address),
        Message(1, 0, 19, address),                                   // unknown kinds
        Message(1, 4, 19, address),
        Message(1, 0xFFFF, 0, ""),
        Message(1, 1, 18, address),                                   // length short of the payload
        Message(1, 1, 20, address),                                   // longer than the payload
        Message(1, 1, 0xFFFFFFFFu, address),
        Message(1, 2, 1, "x"),                                        // a payload where none is taken
        Message(1, 3, 19, address),
        Popup(std::string("http://a\0b/", 11)),                       // a NUL inside
        Popup(std::string(kLongestBrokerAddress + 1, 'a')),           // over-long
        Popup(std::string(100000, 'a')),
    };
    for (const Bytes& bytes : ignored) EXPECT_FALSE(Accepted(bytes)) << bytes.size() << " bytes";
    EXPECT_FALSE(ParseBrokerMessage(nullptr, 8, nullptr));
}

TEST(BrokerMessages, FormattedMessagesParseBackAndBadOnesAreNotMade) {
    unsigned char buffer[kLongestBrokerMessage];
    const std::string address = "http://ads.example/pop";
    const size_t size = FormatBrokerMessage(BrokerMessageKind::PopupBlocked, address.data(),
                                            address.size(), buffer, sizeof buffer);
    EXPECT_EQ(Popup(address), Bytes(buffer, buffer + size));
    EXPECT_EQ(8u, FormatBrokerMessage(BrokerMessageKind::TrayIconToggled, nullptr, 0, buffer, sizeof buffer));

    EXPECT_EQ(0u, FormatBrokerMessage(BrokerMessageKind::PopupStateChanged, "x", 1, buffer, sizeof buffer));
    EXPECT_EQ(0u, FormatBrokerMessage(BrokerMessageKind::PopupBlocked, "a\0b", 3, buffer, sizeof buffer));
    const std::string tooLong(kLongestBrokerAddress + 1, 'a');
    EXPECT_EQ(0u, FormatBrokerMessage(BrokerMessageKind::PopupBlocked, tooLong.data(), tooLong.size(),
                                      buffer, sizeof buffer));
    EXPECT_EQ(0u, FormatBrokerMessage(BrokerMessageKind::PopupBlocked, address.data(), address.size(),
                                      buffer, 8 + address.size() - 1));
    EXPECT_EQ(0u, FormatBrokerMessage(static_cast<BrokerMessageKind>(9), nullptr, 0, buffer, sizeof buffer));
}

TEST(BrokerNames, EachUserAndSessionHasItsOwnPipe) {
    char name[256];
    const char* sid = "S-1-5-21-1004336348-1177238915-682003330-512";
    ASSERT_TRUE(BrokerPipeName(sid, 3, "Local\\", name, sizeof name));
    EXPECT_STREQ("\\\\.\\pipe\\Korvane.Broker.S-1-5-21-1004336348-1177238915-682003330-512.Session3", name);
    ASSERT_TRUE(BrokerPipeName(sid, 0, "Local\\", name, sizeof name));
    EXPECT_STREQ("\\\\.\\pipe\\Korvane.Broker.S-1-5-21-1004336348-1177238915-682003330-512.Session0", name);
    // A prefix a test chose stands for another session, never for a real one.
    ASSERT_TRUE(BrokerPipeName(sid, 3, "Local\\Session3", name, sizeof name));
    EXPECT_STREQ("\\\\.\\pipe\\Korvane.Broker.S-1-5-21-1004336348-1177238915-682003330-512.Local.Session3",
                 name);

    const struct {
        const char* sid;
        const char* prefix;
        size_t size;
    } refused[] = {
        {nullptr, "Local\\", sizeof name}, {"", "Local\\", sizeof name},
        {"S-1-5\\..\\x", "Local\\", sizeof name}, {"S-1-5 21", "Local\\", sizeof name},
        {sid, nullptr, sizeof name}, {sid, "Global\\", sizeof name}, {sid, "Local\\a\\b", sizeof name},
        {sid, "Local\\a\tb", sizeof name}, {sid, "Local\\", 40},
    };
    for (const auto& bad : refused) {
        name[0] = 'x';
        EXPECT_FALSE(BrokerPipeName(bad.sid, 1, bad.prefix, name, bad.size)) << (bad.prefix ? bad.prefix : "");
        EXPECT_STREQ("", name);
    }
}

TEST(BrokerNames, TheBrokerProgramIsKnownByItsFileName) {
    EXPECT_TRUE(IsBrokerProgramPath("C:\\Program Files\\Vantrell\\KorvaneBroker.exe"));
    EXPECT_TRUE(IsBrokerProgramPath("c:\\x\\KORVANEBROKER.EXE"));
    EXPECT_TRUE(IsBrokerProgramPath("KorvaneBroker.exe"));
    EXPECT_FALSE(IsBrokerProgramPath("C:\\KorvaneBroker.exe\\iexplore.exe"));
    EXPECT_FALSE(IsBrokerProgramPath("C:\\x\\KorvaneBroker.exe.bak"));
    EXPECT_FALSE(IsBrokerProgramPath("C:\\x\\MyKorvaneBroker.exe"));
    EXPECT_FALSE(IsBrokerProgramPath(""));
    EXPECT_FALSE(IsBrokerProgramPath(nullptr));
}
