// The broker as a program: one per user and session, ended by /stop, deaf
// to what it cannot read; the session's log it reads, which any process of
// the user may write; and the broker at work for browsers that act as
// Protected Mode's (the seam), each a process of its own playing a session
// of the browser stand-in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "channel/broker_channel.h"
#include "channel/session_log.h"
#include "korvane_idl.h"
#include "state/integrity.h"
#include "state/settings.h"
#include "support/installed_korvane.h"
#include "support/test_support.h"

using namespace korvane;
using korvane::test::ChildProcess;
using korvane::test::WaitUntil;

namespace {

// The build's broker, with the build's library beside it.
std::string BrokerProgram() { return test::BuildDirectory() + "broker\\KorvaneBroker.exe"; }

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

// Writes bytes into the broker's pipe as any process of the user could, in
// a connection of its own; waits for a free instance, never for a write
// the broker does not read. True when the bytes went whole.
bool WriteRaw(const std::string& bytes) {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 10 && pipe == INVALID_HANDLE_VALUE; ++attempt) {
        pipe = CreateFileA(BrokerPipeName(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
        if (pipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY)
            WaitNamedPipeA(BrokerPipeName(), 300);
    }
    if (pipe == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    if (!WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &overlapped) &&
        GetLastError() == ERROR_IO_PENDING &&
        WaitForSingleObject(overlapped.hEvent, 5000) == WAIT_TIMEOUT)
        CancelIo(pipe);
    const bool whole = GetOverlappedResult(pipe, &overlapped, &written, TRUE) && written == bytes.size();
    CloseHandle(overlapped.hEvent);
    CloseHandle(pipe);
    return whole;
}

std::string Header(unsigned version, unsigned kind, unsigned length) {
    std::string bytes = {static_cast<char>(version), static_cast<char>(version >> 8),
                         static_cast<char>(kind), static_cast<char>(kind >> 8)};
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>(length >> (8 * i)));
    return bytes;
}

std::string Popup(const std::string& address) {
    return Header(1, 1, static_cast<unsigned>(address.size())) + address;
}

// Messages the broker must ignore, each carrying an address of its own
// where it carries one, so that one taken in would show in its log.
std::vector<std::string> HostileMessages() {
    std::vector<std::string> messages;
    int index = 0;
    auto marker = [&index] { return "http://hostile.example/" + std::to_string(index++); };
    unsigned seed = 19;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
    for (int i = 0; i < 400; ++i) {  // bytes of any kind, up to a header and a half
        std::string bytes(next() % 13, '\0');
        for (char& c : bytes) c = static_cast<char>(next());
        BrokerMessage parsed;
        if (!ParseBrokerMessage(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &parsed))
            messages.push_back(bytes);
    }
    for (unsigned version : {0u, 2u, 255u, 0xFFFFu})  // versions never made
        for (unsigned kind : {1u, 2u, 3u}) {
            const std::string address = marker();
            messages.push_back(Header(version, kind, static_cast<unsigned>(address.size())) + address);
        }
    for (unsigned kind = 4; kind < 200; ++kind) {  // kinds never made
        const std::string address = marker();
        messages.push_back(Header(1, kind, static_cast<unsigned>(address.size())) + address);
    }
    messages.push_back(Header(1, 0, 0));
    for (int delta = -20; delta <= 20; ++delta) {  // a length that is not the payload's
        if (delta == 0) continue;
        const std::string address = marker();
        messages.push_back(Header(1, 1, static_cast<unsigned>(static_cast<int>(address.size()) + delta)) + address);
    }
    for (unsigned length : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 2084u, 65536u}) {
        const std::string address = marker();
        messages.push_back(Header(1, 1, length) + address);
    }
    auto overlong = [&](size_t length) {  // an address of exactly this length
        std::string address = marker();
        address.resize(length, 'a');
        return Popup(address);
    };
    for (size_t length : {2084u, 2085u, 3000u, 4096u, 8192u, 65536u, 1048576u}) messages.push_back(overlong(length));
    for (int i = 0; i < 100; ++i) messages.push_back(overlong(2084 + next() % 18000));
    for (int i = 0; i < 150; ++i) {  // a NUL inside
        std::string address = marker();
        address[next() % address.size()] = '\0';
        messages.push_back(Popup(address));
    }
    for (unsigned length = 1; length <= 100; ++length)  // a payload where none is taken
        for (unsigned kind : {2u, 3u}) {
            const std::string address = marker();
            messages.push_back(Header(1, kind, length) + address.substr(0, length) +
                               std::string(length > address.size() ? length - address.size() : 0, 'c'));
        }
    for (int i = 0; i < 100; ++i) {  // cut short
        const std::string whole = Popup(marker());
        messages.push_back(whole.substr(0, whole.size() - 1 - next() % 20));
    }
    for (int i = 0; i < 20; ++i)  // two in one write
        messages.push_back(Popup(marker()) + Popup(marker()));
    return messages;
}

}  // namespace

TEST(BrokerProgram, OnePerUserAndSessionEachEndedByStop) {
    ASSERT_EQ(0, test::RunProcess("\"" + BrokerProgram() + "\" /stop"));
    ASSERT_FALSE(BrokerOf(kSessionObjectPrefix));
    // Started as a Protected Mode browser would start it: the broker runs
    // at medium integrity or not at all, and pays the seam no heed.
    auto low = std::make_unique<ChildEnvironment>(kLowIntegrityVariable, "1");
    ChildProcess broker("\"" + BrokerProgram() + "\"");
    low.reset();
    ASSERT_EQ(broker.id(), test::WaitForBroker());

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
        EXPECT_EQ(otherBroker.id(), test::WaitForBroker(broker.id()));
        EXPECT_TRUE(BrokerOf(other));
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

// Anything a process of the user can write into the pipe, more than a
// thousand times: the broker takes in none of it, and serves on.
TEST(BrokerProgram, IgnoresMalformedAndOverlongMessagesAndServesOn) {
    ASSERT_EQ(0, test::RunProcess("\"" + BrokerProgram() + "\" /stop"));
    ChildProcess broker("\"" + BrokerProgram() + "\"");
    ASSERT_EQ(broker.id(), test::WaitForBroker());
    const std::vector<std::string> messages = HostileMessages();
    ASSERT_GE(messages.size(), 1000u);
    for (const std::string& message : messages) WriteRaw(message);

    // Connections held without a word, more than the broker has instances
    // to serve: each is let go, and a browser's message gets through.
    std::vector<HANDLE> silent;
    for (int i = 0; i < BrokerServer::kBrokerInstances + 2; ++i)
        silent.push_back(CreateFileA(BrokerPipeName(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    const std::string valid = "http://valid.example/after-hostile";
    EXPECT_TRUE(WaitUntil([&] { return WriteRaw(Popup(valid)); }, 15000));
    for (HANDLE pipe : silent)
        if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);

    const std::vector<std::string> shown = test::BlockedPopupsShownBy(broker.id());
    int hostile = 0;
    for (const std::string& line : shown) hostile += line.compare(0, 23, "http://hostile.example/") == 0;
    EXPECT_EQ(0, hostile);
    EXPECT_EQ(1, std::count(shown.begin(), shown.end(), valid));
    EXPECT_EQ(0, test::RunProcess("\"" + BrokerProgram() + "\" /stop"));
    EXPECT_EQ(0, broker.Wait(10000));
    test::WriteFigure(
        "hostile_broker_messages",
        "broker messages: bytes of any kind, unknown versions and kinds, lengths that lie, "
        "addresses over 2,083 bytes up to 1 MB, NULs, payloads where none is taken, messages cut "
        "short or two in one; connections held silent",
        std::to_string(messages.size()) + " messages, " +
            std::to_string(BrokerServer::kBrokerInstances + 2) + " silent connections",
        hostile == 0 && std::count(shown.begin(), shown.end(), valid) == 1
            ? "none taken in: the log shows only the address sent after them; the broker served on"
            : "FAILED");
}

namespace {

// The library and its broker in a folder of their own, registered as setup
// registers them; a site beside them.
class BrokerSession : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        test::RunProcess("\"" + BrokerProgram() + "\" /stop");
        folder_ = new test::TempDirectory();
        for (const char* name : {"Korvane.dll", "KorvaneBroker.exe"})
            CopyFileA((test::BuildDirectory() + "broker\\" + name).c_str(), folder_->File(name).c_str(), FALSE);
        test::DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
        test::WriteDwordValue(HKEY_CURRENT_USER, kSettingsKey, kFlashValue, 1);
        ASSERT_EQ(0, test::RunProcess("regsvr32 /s \"" + folder_->File("Korvane.dll") + "\""));
        const std::string site = folder_->File("site\\");
        test::WriteSitePage(site, "news.example/index.html", "<html><body>News</body></html>");
        for (const char* page : {"ads.example/pop.html", "ads.example/pop2.html", "tide.example/pop.html",
                                 "ads.example/elsewhere.html"})
            test::WriteSitePage(site, page, "<html><body>Buy!</body></html>");
    }
    static void TearDownTestSuite() {
        test::RunProcess("\"" + BrokerProgram() + "\" /stop");
        test::RunProcess("regsvr32 /u /s \"" + folder_->File("Korvane.dll") + "\"");
        test::DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
        delete folder_;
    }

    // A browser process that acts as at low integrity (and as of another
    // session, with a prefix) plays these steps on the news page.
    static std::unique_ptr<ChildProcess> Browse(const std::string& steps, const char* prefix = nullptr) {
        static int count = 0;
        const std::string file = folder_->File("s" + std::to_string(++count) + ".session");
        test::WriteFileBytes(file, "site site\nopen http://news.example/index.html\n" + steps);
        ChildEnvironment low(kLowIntegrityVariable, "1");
        ChildEnvironment session(kSessionPrefixVariable, prefix);
        return std::make_unique<ChildProcess>("\"" + test::ProgramDirectory() + "korvane_browser.exe\" \"" +
                                              file + "\" --quiet --helper " + test::GuidText(CLSID_ViewSource));
    }
    static int Browsed(const std::string& steps, const char* prefix = nullptr) {
        return Browse(steps, prefix)->Wait(60000);
    }
    // The broker that serves this session, started by a browser if none does.
    static DWORD Broker() {
        if (!test::BrokerProcess()) Browsed("");
        return test::WaitForBroker();
    }
    static std::string WhiteList() { return test::ReadFileBytes(folder_->File("WhiteList.txt")); }
    // Runs a tray menu command in the process, and waits for its dialog.
    static HWND Open(DWORD process, UINT command, const char* title) {
        PostMessageA(test::TrayWindowOf(process), WM_COMMAND, command, 0);
        return test::DialogOf(process, title);
    }
    static bool Close(HWND dialog, int button) {
        PostMessageA(dialog, WM_COMMAND, button, 0);
        return WaitUntil([dialog] { return !IsWindow(dialog); }, 10000);
    }

    static test::TempDirectory* folder_;
    test::SharedView view_;
};

test::TempDirectory* BrokerSession::folder_ = nullptr;

bool Logged(DWORD broker, const std::string& url) {
    const auto lines = test::BlockedPopupsShownBy(broker);
    return std::count(lines.begin(), lines.end(), url) == 1;
}

}  // namespace

TEST_F(BrokerSession, LowBrowsersLeaveTheHookTheIconTheLogAndEveryWriteToTheBroker) {
    // The first event starts it: a popup blocked before it serves waits in
    // the session's block, which the browser keeps while it lives.
    ASSERT_EQ(0, Browsed("script-open w1 http://ads.example/pop.html\nexpect blocked http://ads.example/pop.html\n"
                         "wait 1500\n"));
    const DWORD broker = test::WaitForBroker();
    ASSERT_NE(0u, broker);
    EXPECT_TRUE(WaitUntil([&] { return view_->hookOwnerProcess == broker; }));
    DWORD iconProcess = 0;
    GetWindowThreadProcessId(view_->trayIconWindow, &iconProcess);
    EXPECT_EQ(broker, iconProcess);
    EXPECT_TRUE(Logged(broker, "http://ads.example/pop.html"));

    // One blocked while it serves is logged, and flashes its one icon.
    auto browser = Browse("wait 1000\nscript-open w1 http://ads.example/pop2.html\nwait 1500\n");
    bool green = false;
    size_t icons = 0;
    WaitUntil([&] {
        for (HWND icon : test::WineTrayIcons()) green = green || test::LooksGreen(test::IconColour(icon));
        icons = std::max(icons, test::WineTrayIcons().size());
        return green;
    }, 6000);
    EXPECT_EQ(0, browser->Wait(30000));
    if (test::RunningOnWine()) {
        EXPECT_TRUE(green) << "the icon did not flash";
        EXPECT_EQ(1u, icons);
    }
    EXPECT_TRUE(Logged(broker, "http://ads.example/pop2.html"));

    // The White List dialog's addition reaches the disk through the broker,
    // and the browsers let that site's popups through.
    HWND list = Open(broker, 32786, "Vantrell White List");
    ASSERT_NE(nullptr, list);
    PostMessageA(list, WM_COMMAND, 228, 0);
    HWND editor = test::DialogOf(broker, "Vantrell Web Site Editor");
    ASSERT_NE(nullptr, editor);
    SendMessageA(GetDlgItem(editor, 232), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("tide.example"));
    EXPECT_TRUE(Close(editor, 233));
    EXPECT_TRUE(Close(list, 220));
    EXPECT_EQ("http://tide.example\r\n", WhiteList());
    EXPECT_EQ(0, Browsed("script-open w1 http://tide.example/pop.html\nexpect opened http://tide.example/pop.html\n"));

    // A changed Notification setting reaches the registry.
    HWND notification = Open(broker, 32787, "Vantrell Notification Setting");
    ASSERT_NE(nullptr, notification);
    SendMessageA(GetDlgItem(notification, 238), BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_TRUE(Close(notification, 220));
    const test::RawValue sound = test::ReadRawValue(HKEY_CURRENT_USER, kSettingsKey, kSoundValue);
    EXPECT_EQ(std::string("\1\0\0\0", 4), sound.bytes);
    EXPECT_EQ(1, view_->soundOn);
    EXPECT_EQ(1, view_->soundIsBeep);
}

TEST_F(BrokerSession, AKilledBrokerComesBackAtTheNextBrowserEventWithNothingLost) {
    const DWORD broker = Broker();
    ASSERT_NE(0u, broker);
    ASSERT_EQ(0, Browsed("script-open w1 http://ads.example/pop.html\n"));
    view_->soundOn = 0;  // as F9 left it
    view_->blockBannerAds = 1;
    const std::string list = WhiteList();
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, broker);
    ASSERT_TRUE(TerminateProcess(process, 9));
    WaitForSingleObject(process, 10000);
    CloseHandle(process);

    ASSERT_EQ(0, Browsed(""));
    const DWORD again = test::WaitForBroker(broker);
    ASSERT_NE(0u, again);
    EXPECT_EQ(0, view_->soundOn);
    EXPECT_EQ(1, view_->blockBannerAds);
    EXPECT_EQ(list, WhiteList());
    EXPECT_TRUE(Logged(again, "http://ads.example/pop.html"));
    EXPECT_TRUE(WaitUntil([&] { return view_->hookOwnerProcess == again; }));
    view_->blockBannerAds = 0;
}

TEST_F(BrokerSession, ABrowserOfAnotherSessionNeverReachesThisBroker) {
    const DWORD broker = Broker();
    ASSERT_NE(0u, broker);
    // It starts a broker of its own, which logs what it blocked.
    ASSERT_EQ(0, Browsed("script-open w1 http://ads.example/elsewhere.html\n"
                         "expect blocked http://ads.example/elsewhere.html\nwait 1500\n",
                         "Local\\KorvaneOtherSession"));
    const DWORD other = test::WaitForBroker(broker);
    ASSERT_NE(0u, other);
    EXPECT_TRUE(Logged(other, "http://ads.example/elsewhere.html"));
    const auto lines = test::BlockedPopupsShownBy(broker);
    EXPECT_EQ(0, std::count(lines.begin(), lines.end(), "http://ads.example/elsewhere.html"));
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, other);
    TerminateProcess(process, 9);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
}

TEST_F(BrokerSession, ExitEndsTheBrokerUntilAProgramLoadsTheLibraryAgain) {
    const DWORD broker = Broker();
    ASSERT_NE(0u, broker);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, broker);
    PostMessageA(test::TrayWindowOf(broker), WM_COMMAND, 32779, 0);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 10000));
    CloseHandle(process);
    EXPECT_EQ(0, view_->helperActive);
    EXPECT_TRUE(test::WineTrayIcons().empty());
    // The next browser loads the library, which switches the blocker on,
    // and its first event starts a broker.
    ASSERT_EQ(0, Browsed(""));
    EXPECT_NE(0u, test::WaitForBroker(broker));
    EXPECT_EQ(1, view_->helperActive);
}
