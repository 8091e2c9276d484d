// The broker as a program: one per user and session, deaf to what it
// cannot read; the session's log, which any process of the user may write;
// and the broker at work for browsers that act as Protected Mode's (the
// seam), each a process of its own playing a session of the stand-in.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
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
int StopBrokers() { return test::RunProcess("\"" + BrokerProgram() + "\" /stop"); }

// Sets an environment variable (or clears it) for the children started
// while it lives.
class ChildEnvironment {
public:
    ChildEnvironment(const char* name, const char* value) : name_(name) { SetEnvironmentVariableA(name, value); }
    ~ChildEnvironment() { SetEnvironmentVariableA(name_, nullptr); }

private:
    const char* name_;
};

// Writes bytes into the broker's pipe as any process of the user could, in
// a connection of its own; waits for a free instance, never for a write the
// broker does not read. True when the bytes went whole.
bool WriteRaw(const std::string& bytes) {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 10 && pipe == INVALID_HANDLE_VALUE; ++attempt) {
        pipe = CreateFileA(BrokerPipeName(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (pipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY) WaitNamedPipeA(BrokerPipeName(), 300);
    }
    if (pipe == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    if (!WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &overlapped) &&
        GetLastError() == ERROR_IO_PENDING && WaitForSingleObject(overlapped.hEvent, 5000) == WAIT_TIMEOUT)
        CancelIo(pipe);
    const bool whole = GetOverlappedResult(pipe, &overlapped, &written, TRUE) && written == bytes.size();
    CloseHandle(overlapped.hEvent);
    CloseHandle(pipe);
    return whole;
}

std::string Message(unsigned version, unsigned kind, size_t length, const std::string& payload) {
    std::string bytes = {char(version), char(version >> 8), char(kind), char(kind >> 8)};
    for (int i = 0; i < 4; ++i) bytes.push_back(char(length >> (8 * i)));
    return bytes + payload;
}

// Messages the broker must ignore, each with an address of its own where it
// carries one, so that one taken in would show in its log.
std::vector<std::string> HostileMessages() {
    std::vector<std::string> messages;
    int index = 0;
    unsigned seed = 19;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
    auto address = [&](size_t length = 0) {  // padded to length when asked
        std::string text = "http://hostile.example/" + std::to_string(index++);
        if (length) text.resize(length, 'a');
        return text;
    };
    auto add = [&](unsigned version, unsigned kind, long lie, const std::string& payload) {
        messages.push_back(Message(version, kind, static_cast<size_t>(long(payload.size()) + lie), payload));
    };
    for (int i = 0; i < 400; ++i) {  // bytes of any kind, up to a header and a half
        std::string bytes(next() % 13, '\0');
        for (char& c : bytes) c = char(next());
        BrokerMessage parsed;
        if (!ParseBrokerMessage(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &parsed))
            messages.push_back(bytes);
    }
    for (unsigned version : {0u, 2u, 0xFFFFu}) add(version, 1, 0, address());
    for (unsigned kind = 5; kind < 200; ++kind) add(1, kind, 0, address());  // kinds never made
    for (long lie = -20; lie <= 20; ++lie) add(1, 1, lie ? lie : 0x7FFFFFFF, address());  // a length that lies
    for (size_t length : {2084u, 2085u, 4096u, 65536u, 1048576u}) add(1, 1, 0, address(length));  // over-long
    for (int i = 0; i < 100; ++i) add(1, 1, 0, address(2084 + next() % 18000));
    for (int i = 0; i < 150; ++i) {  // a NUL inside
        std::string text = address();
        text[next() % text.size()] = '\0';
        add(1, 1, 0, text);
    }
    for (size_t length = 1; length <= 100; ++length)  // a payload where none is taken
        for (unsigned kind : {2u, 3u, 4u}) add(1, kind, 0, address(length).substr(0, length));
    for (int i = 0; i < 100; ++i) {  // cut short, or two in one write
        const std::string whole = Message(1, 1, 30, address(30));
        messages.push_back(i % 5 ? whole.substr(0, whole.size() - 1 - next() % 20) : whole + whole);
    }
    return messages;
}

}  // namespace

TEST(BrokerProgram, OnePerUserAndSessionAtMediumIntegrityEndedByStop) {
    ASSERT_EQ(0, StopBrokers());
    // Started as a Protected Mode browser starts it: a broker pays the seam
    // no heed.
    auto low = std::make_unique<ChildEnvironment>(kLowIntegrityVariable, "1");
    ChildProcess broker("\"" + BrokerProgram() + "\"");
    low.reset();
    ASSERT_EQ(broker.id(), test::WaitForBroker());
    ChildProcess second("\"" + BrokerProgram() + "\"");
    EXPECT_EQ(0, second.Wait(15000));  // a second one of the session ends at once
    const std::string serving = "http://serving.example/";
    EXPECT_TRUE(WriteRaw(Message(1, 1, serving.size(), serving)));
    EXPECT_EQ(0, StopBrokers());
    EXPECT_EQ(0, broker.Wait(0));
    EXPECT_FALSE(WriteRaw(Message(1, 1, serving.size(), serving)));
}

// Anything a process of the user can write into the pipe, more than a
// thousand times: the broker takes in none of it, and serves on.
TEST(BrokerProgram, IgnoresMalformedAndOverlongMessagesAndServesOn) {
    ASSERT_EQ(0, StopBrokers());
    ChildProcess broker("\"" + BrokerProgram() + "\"");
    ASSERT_EQ(broker.id(), test::WaitForBroker());
    const std::vector<std::string> messages = HostileMessages();
    ASSERT_GE(messages.size(), 1000u);
    for (const std::string& message : messages) WriteRaw(message);
    // Connections held without a word, more than it has instances to serve:
    // each is let go, and a browser's message gets through.
    std::vector<HANDLE> silent;
    for (int i = 0; i < BrokerServer::kBrokerInstances + 2; ++i)
        silent.push_back(CreateFileA(BrokerPipeName(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    const std::string valid = "http://valid.example/after-hostile";
    EXPECT_TRUE(WaitUntil([&] { return WriteRaw(Message(1, 1, valid.size(), valid)); }, 15000));
    for (HANDLE pipe : silent) CloseHandle(pipe);

    const std::vector<std::string> shown = test::BlockedPopupsShownBy(broker.id());
    const long hostile = std::count_if(shown.begin(), shown.end(), [](const std::string& line) {
        return line.compare(0, 23, "http://hostile.example/") == 0;
    });
    const long taken = std::count(shown.begin(), shown.end(), valid);
    EXPECT_EQ(0, hostile);
    EXPECT_EQ(1, taken);
    EXPECT_EQ(0, StopBrokers());
    test::WriteFigure("hostile_broker_messages",
                      "broker messages: bytes of any kind, unknown versions and kinds, lengths that lie, "
                      "addresses over 2,083 bytes up to 1 MB, NULs, payloads where none is taken, messages "
                      "cut short or two in one; connections held silent",
                      std::to_string(messages.size()) + " messages, " +
                          std::to_string(silent.size()) + " silent connections",
                      hostile == 0 && taken == 1
                          ? "none taken in: the log shows only the address sent after them; the broker served on"
                          : "FAILED");
}

// The log's block as any process of the user could write it: every entry
// read is bounded, one caught half-written is skipped, a count that lies
// reads no more than the block holds.
TEST(SessionLog, EntriesComeBackBoundedWhateverTheBlockHolds) {
    for (int i = 0; i < 150; ++i) WriteToSessionLog(std::string(i < 149 ? 10 : 5000, 'x').c_str());
    std::vector<AnsiString> read;
    DWORD cursor = 0;
    ReadSessionLog(&cursor, &read);
    ASSERT_EQ(99u, read.size());
    EXPECT_EQ(2083u, read.back().length());  // cut as the log keeps it
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, (std::string("Local\\") + kSessionLogName).c_str());
    ASSERT_NE(nullptr, mapping);
    auto* block = static_cast<unsigned char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(nullptr, block);
    const DWORD written = *reinterpret_cast<DWORD*>(block);
    auto slot = [&](DWORD entry) { return block + 4 + (entry % 99) * (4 + 2084); };
    memset(slot(written - 1) + 4, 'z', 2084);                   // no NUL
    *reinterpret_cast<LONG*>(slot(written - 2)) |= 1;           // half-written
    read.clear();
    cursor = written - 2;
    ReadSessionLog(&cursor, &read);
    ASSERT_EQ(1u, read.size());
    EXPECT_EQ(2083u, read[0].length());
    *reinterpret_cast<DWORD*>(block) = 0xFFFFFFF0u;
    read.clear();
    ReadSessionLog(&cursor, &read);
    EXPECT_LE(read.size(), 99u);
    UnmapViewOfFile(block);
    CloseHandle(mapping);
}

namespace {

// The library and its broker in a folder of their own, registered as setup
// registers them; a site beside them.
class BrokerSession : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        StopBrokers();
        folder_ = new test::TempDirectory();
        for (const char* name : {"Korvane.dll", "KorvaneBroker.exe"})
            CopyFileA((test::BuildDirectory() + "broker\\" + name).c_str(), folder_->File(name).c_str(), FALSE);
        test::DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
        test::WriteDwordValue(HKEY_CURRENT_USER, kSettingsKey, kFlashValue, 1);
        ASSERT_EQ(0, test::RunProcess("regsvr32 /s \"" + folder_->File("Korvane.dll") + "\""));
        // What setup writes: without it the low browsers would not start it.
        test::SetBrokerElevationPolicy(folder_->path());
        for (const char* page : {"news.example/index.html", "ads.example/pop.html", "ads.example/pop2.html",
                                 "tide.example/pop.html", "ads.example/elsewhere.html"})
            test::WriteSitePage(folder_->File("site\\"), page, "<html><body>Page</body></html>");
    }
    static void TearDownTestSuite() {
        StopBrokers();
        test::SetBrokerElevationPolicy("");
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
    static int Browsed(const std::string& steps, const char* prefix = nullptr) { return Browse(steps, prefix)->Wait(60000); }
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
    static void Kill(DWORD process) {
        HANDLE handle = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, process);
        TerminateProcess(handle, 9);
        WaitForSingleObject(handle, 10000);
        CloseHandle(handle);
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
    // the browser until its next event finds the session's log, which the
    // broker made (a low process may not make it).
    ASSERT_EQ(0, Browsed("script-open w1 http://ads.example/pop.html\nexpect blocked http://ads.example/pop.html\n"
                         "wait 1500\nload w1 http://news.example/index.html\n"));
    const DWORD broker = test::WaitForBroker();
    ASSERT_NE(0u, broker);
    EXPECT_TRUE(WaitUntil([&] { return view_->hookOwnerProcess == broker; }));
    EXPECT_EQ(test::TrayWindowOf(broker), view_->trayIconWindow);
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
    // and a browser that was running meanwhile follows it.
    browser = Browse("wait 3000\nscript-open w1 http://tide.example/pop.html\nexpect opened http://tide.example/pop.html\n");
    HWND list = Open(broker, 32786, "Vantrell White List");
    ASSERT_NE(nullptr, list);
    PostMessageA(list, WM_COMMAND, 228, 0);
    HWND editor = test::DialogOf(broker, "Vantrell Web Site Editor");
    ASSERT_NE(nullptr, editor);
    SendMessageA(GetDlgItem(editor, 232), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("tide.example"));
    EXPECT_TRUE(Close(editor, 233));
    EXPECT_TRUE(Close(list, 220));
    EXPECT_EQ("http://tide.example\r\n", WhiteList());
    EXPECT_EQ(0, browser->Wait(30000));

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
    Kill(broker);

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
                         "expect blocked http://ads.example/elsewhere.html\nwait 1500\n"
                         "load w1 http://news.example/index.html\n",
                         "Local\\KorvaneOtherSession"));
    const DWORD other = test::WaitForBroker(broker);
    ASSERT_NE(0u, other);
    EXPECT_TRUE(Logged(other, "http://ads.example/elsewhere.html"));
    const auto lines = test::BlockedPopupsShownBy(broker);
    EXPECT_EQ(0, std::count(lines.begin(), lines.end(), "http://ads.example/elsewhere.html"));
    Kill(other);
}

// Pipe names are one namespace for the whole machine: a program that made
// the broker's name first, and holds the broker's mutex so that browsers
// take it for a running broker, hears nothing from them: its process is no
// broker of ours. (Windows would also make the real broker fail rather than
// serve beside it; Wine lets it, so no real broker runs here.)
TEST_F(BrokerSession, AProgramThatTookTheBrokersNameFirstHearsNothing) {
    StopBrokers();
    HANDLE mutex = CreateMutexA(nullptr, TRUE, BrokerMutexName().c_str());
    HANDLE pipe = CreateNamedPipeA(BrokerPipeName(), PIPE_ACCESS_INBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 0, 4096, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    volatile bool stop = false;
    int connections = 0;
    size_t heard = 0;
    std::thread impostor([&] {
        while (!stop) {
            if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) break;
            ++connections;
            char buffer[4096];
            DWORD got = 0;
            while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) || GetLastError() == ERROR_MORE_DATA)
                heard += got;
            DisconnectNamedPipe(pipe);
        }
    });
    // The browser would tell the broker of the popup it blocked.
    EXPECT_EQ(0, Browsed("script-open w1 http://ads.example/pop.html\nexpect blocked http://ads.example/pop.html\n"));
    stop = true;
    CloseHandle(CreateFileA(BrokerPipeName(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    impostor.join();
    EXPECT_LE(2, connections);  // the browser's, then this program's own to end the loop
    EXPECT_EQ(0u, heard);
    EXPECT_EQ(0u, test::BrokerProcess());
    CloseHandle(pipe);
    CloseHandle(mutex);
}

// Without the elevation policy that names the broker, Protected Mode would
// ask the user whether to let it run, from every tab process: a browser
// there starts none, and blocks on.
TEST_F(BrokerSession, WithoutItsElevationPolicyAProtectedModeBrowserStartsNoBroker) {
    StopBrokers();
    test::SetBrokerElevationPolicy("");
    EXPECT_EQ(0, Browsed("script-open w1 http://ads.example/pop.html\nexpect blocked http://ads.example/pop.html\n"
                         "wait 1000\nload w1 http://news.example/index.html\n"));
    EXPECT_EQ(0u, test::BrokerProcess());
    test::SetBrokerElevationPolicy(folder_->path());
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
